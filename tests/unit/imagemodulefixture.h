// The checks that the image codec module tests (kzv, PNG, BMP) share, for a module
// that decodes from a `peermodule` source: the header record first, every row in
// the file's order with its pixels, the end with the record still stored, the
// error flag for a damaged stream, no records for bytes that hold no image, a
// source that waits, restart keeping the connections, and an image source that
// gives up before its last row; and the patterned images the encoders write. A failed check names the line of the test that
// called it through the table row set with `kzvtest::setrow`.
#pragma once
#include "codectest.h"
#include "../../gui/image.h"

namespace codectest {

using namespace kzv;

// The first record of a decoding module: the header record (one byte's worth,
// line -1, the image's sides, no row), which is the module itself.
template <class M> void checkheaderrecord(M& codec, u32 width, u32 height)
{
    data* r = nullptr;
    CHECK_EQ(codec.call('D', 128, 0, &r), 1);
    CHECK(r == &codec);
    CHECK_EQ(r->type, type_scanline);
    CHECK_EQ(r->kind.scanline.line, -1);
    CHECK_EQ(r->kind.scanline.width, width);
    CHECK_EQ(r->kind.scanline.height, height);
    CHECK(r->payload == nullptr);
}

struct rowsread {
    int rows;               // -1 when a row came with other pixels, of another size or out of order
    bool bottomup;          // the records carried the bottom-up flag
};

// Reads every record, the header record passed over, each row checked against
// expect(x, line): rows of `width` pixels of `format` in 32-bit words, top-down
// from line 0, or from line height - 1 up when the records carry the bottom-up
// flag.
template <class M, class F> rowsread readrows(M& codec, u32 format, u32 width, u32 height, F expect)
{
    data* r = nullptr;
    rowsread out = {0, false};
    for (u32 guard = 0; guard < 1000; guard++) {
        sptr n = codec.call('D', 128, 0, &r);
        if (n <= 0)
            return out;
        if (r != &codec || r->type != type_scanline || r->kind.scanline.pixelformat != format)
            return {-1, false};
        out.bottomup = (r->kind.scanline.flags & 1) != 0;
        s32 line = r->kind.scanline.line;
        if (line == -1)
            continue;
        s32 want = out.bottomup ? (s32)height - 1 - out.rows : out.rows;
        if (line != want || r->size != width * 4)
            return {-1, false};
        for (u32 x = 0; x < width; x++)
            if (((u32 const*)r->payload)[x] != expect(x, (u32)line))
                return {-1, false};
        out.rows++;
    }
    return {-1, false};
}

// A module that has handed out its whole image: the end flag, no error, and a
// read answers 0 with the record still stored.
template <class M> void checkended(M& codec)
{
    CHECK(codec.hasflag(tstate_end));
    CHECK(!codec.hasflag(tstate_error));
    data* r = nullptr;
    CHECK_EQ(codec.call('D', 128, 0, &r), 0);
    CHECK(r == &codec);
}

// A module fed a damaged stream: the error flag within 100 reads, and every read
// after it answers 0 with the record still stored.
template <class M> void checkendsinerror(M& codec)
{
    data* r = nullptr;
    u32 calls = 0;
    while (codec.call('D', 128, 0, &r) > 0 && calls < 100)
        calls++;
    CHECK(calls < 100);
    CHECK(codec.hasflag(tstate_error));
    CHECK_EQ(codec.call('D', 128, 0, &r), 0);
    CHECK(r == &codec);
}

// A module fed bytes that hold no image: no records, the end, no error.
template <class M> void checknoimage(M& codec)
{
    data* r = nullptr;
    for (u32 i = 0; i < 3; i++)
        CHECK_EQ(codec.call('D', 128, 0, &r), 0);
    CHECK(codec.hasflag(tstate_end));
    CHECK(!codec.hasflag(tstate_error));
}

// Reads a module whose source has only its first `src.available` bytes for now:
// nothing ends while the source waits, then the rest is made available. Answers
// the records read in all.
template <class M> u32 readacrosswait(M& codec, peermodule& src)
{
    data* r = nullptr;
    u32 got = 0;
    while (codec.call('D', 128, 0, &r) > 0)
        got++;
    CHECK(!codec.hasflag(tstate_error | tstate_end));
    src.available = src.length;
    while (codec.call('D', 128, 0, &r) > 0)
        got++;
    return got;
}

// 'H' on a module that has read its image: the end flag goes, the IN pin keeps
// its peer, and with the source rewound `readagain` reads the same `rows` rows.
template <class M, class F> void checkrestart(M& codec, peermodule& src, int rows, F readagain)
{
    CHECK(codec.hasflag(tstate_end));
    CHECK_EQ(codec.call('H', 0, 0, nullptr), 1);
    CHECK(!codec.hasflag(tstate_end));
    CHECK(codec.in.peer == &src.out);
    src.position = 0;
    src.flags = 0;
    CHECK_EQ(readagain(), rows);
    CHECK(!codec.hasflag(tstate_error));
}

// Opens `im` at w x h in `format`, with pixels that differ in every channel from
// one to the next, so that a codec that swaps, drops or moves bits shows it.
inline void openpatterned(image& im, u32 w, u32 h, u32 format)
{
    CHECK(im.open(w, h, format));
    for (u32 y = 0; y < h; y++)
        for (u32 x = 0; x < w; x++)
            im.setpixel((int)x, (int)y, (x * 0x01F3D5u + y * 0x9E3779u) ^ (x << 26));
}

// What a 565 pixel becomes in a codec's 888 rows: each channel's top five bits.
inline u32 rgbof565(u32 v) { return ((v >> 8) & 0xF8) << 16 | ((v >> 3) & 0xF8) << 8 | ((v << 3) & 0xF8); }

// An encoding module whose 4 x 2 image source gives up after the header and
// row 0: the file would be short, so the module ends in its error flag.
template <class M> void checkshortsourcefails()
{
    image two;
    CHECK(two.open(4, 2, 888));
    two.clear(0x123456);
    M partial;
    connect(two.out, partial.in);
    data* r = nullptr;
    CHECK_EQ(partial.call('D', 1024, 0, &r), 0);            // the image prepares
    CHECK(partial.call('D', 1024, 0, &r) > 0);              // header and row 0
    two.flags |= image_endofdata;                           // the source gives up
    two.rowstate = imagerows_end;
    two.nextrow = 2;
    for (u32 i = 0; i < 3; i++)
        partial.call('D', 1024, 0, &r);
    CHECK(partial.hasflag(tstate_error));
    CHECK(!partial.hasflag(tstate_end));
}

} // namespace codectest
