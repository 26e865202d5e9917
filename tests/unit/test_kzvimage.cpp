// The kzv codec module on the stream protocol: decoding from a byte source that
// hands out pieces of any size (and waits or ends when told), encoding from real
// images of every format, push mode into a sink, restart, the embedded icons
// through the file stream, and bad streams that must end in the error flag
// without a crash or a hang.
#include "imagemodulefixture.h"
#include "../../framework/filestream.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "../../gui/kzvimage.h"

using namespace kzv;
using namespace codectest;

namespace {

void put32(u8* p, u32 v)
{
    p[0] = (u8)v, p[1] = (u8)(v >> 8), p[2] = (u8)(v >> 16), p[3] = (u8)(v >> 24);
}

// A 3 x 2 image in encoding 54: row 0 = A A B, row 1 = 4 runs cut at the row end.
u32 smallrle(u8* out)
{
    kzvheader h = {kzv_rle888, 3, 2, 0, 0};
    kzv_writeheader(out, h);
    put32(out + 32, 0x01AABBCC);
    put32(out + 36, 0x00112233);
    put32(out + 40, 0x09445566);        // a run of 10 in a row of 3: cut
    return 44;
}

// The pixels of smallrle's rows.
u32 smallpixel(u32 x, u32 y)
{
    static u32 const pixels[6] = {0xAABBCC, 0xAABBCC, 0x112233, 0x445566, 0x445566, 0x445566};
    return pixels[y * 3 + x];
}

// Every record of a decoder reading smallrle's image; answers the rows seen (the
// header record excluded), or -1 when one came out of order or with other pixels.
int readsmall(kzvimage& codec)
{
    rowsread got = readrows(codec, 888, 3, 2, smallpixel);
    return got.bottomup ? -1 : got.rows;
}

} // namespace

TEST(decode_in_pieces_of_every_size)
{
    u8 stream[64];
    u32 length = smallrle(stream);
    for (u32 piece = 1; piece <= 13; piece++) {
        peermodule src;
        src.init(stream, length, piece);
        kzvimage codec;
        connect(src.out, codec.in);
        checkheaderrecord(codec, 3, 2);
        CHECK_EQ(readsmall(codec), 2);
        checkended(codec);
    }
}

TEST(header_waits_for_32_bytes)
{
    u8 stream[64];
    u32 length = smallrle(stream);
    peermodule src;
    src.init(stream, length, 64);
    src.available = 10;
    kzvimage codec;
    connect(src.out, codec.in);
    data* r = nullptr;
    CHECK_EQ(codec.call('D', 128, 0, &r), 0);
    CHECK(!codec.hasflag(tstate_error));
    CHECK(!codec.hasflag(tstate_end));
    src.available = 40;                                     // header and half of row 1
    CHECK_EQ(codec.call('D', 128, 0, &r), 1);
    CHECK_EQ(r->kind.scanline.line, -1);
    CHECK_EQ(codec.call('D', 128, 0, &r), 4 * 3);
    CHECK_EQ(r->kind.scanline.line, 0);
    CHECK_EQ(codec.call('D', 128, 0, &r), 0);               // row 1 is incomplete: wait
    CHECK(!codec.hasflag(tstate_error));
    src.available = length;
    CHECK_EQ(codec.call('D', 128, 0, &r), 4 * 3);
    CHECK_EQ(r->kind.scanline.line, 1);
    CHECK_EQ(((u32*)r->payload)[2], 0x445566);
}

// Hand-made bad streams through the module: each ends in the error flag, with
// the reads answering 0 from then on.
TEST(bad_streams_set_the_error_flag)
{
    static struct {
        char const* name;
        u32 length;             // bytes of the stream kept
        u32 patch;              // offset to patch, 0 none
        u8 value;
        u32 width;              // patched width, 0 keeps 3
    } const rows[] = {
        {"10 bytes, then the end", 10, 0, 0, 0},
        {"empty stream", 0, 0, 0, 0},
        {"header only", 32, 0, 0, 0},
        {"ends inside row 0", 34, 0, 0, 0},
        {"ends between rows", 40, 0, 0, 0},
        {"font encoding", 44, 6, 45, 0},
        {"unknown encoding", 44, 6, 99, 0},
        {"foreign magic", 44, 0, 'K', 0},
        {"width 40000", 44, 0, 0, 40000},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        u8 stream[64];
        smallrle(stream);
        if (row.patch || row.value)
            stream[row.patch] = row.value;
        if (row.width)
            stream[8] = (u8)row.width, stream[9] = (u8)(row.width >> 8);
        peermodule src;
        src.init(stream, row.length, 7);
        kzvimage codec;
        connect(src.out, codec.in);
        checkendsinerror(codec);
    }
}

TEST(trailing_bytes_after_the_last_row_are_left)
{
    u8 stream[64];
    u32 length = smallrle(stream);
    put32(stream + length, 0xDEADBEEF);
    peermodule src;
    src.init(stream, length + 4, 64);
    kzvimage codec;
    connect(src.out, codec.in);
    CHECK_EQ(readsmall(codec), 2);
    CHECK(codec.hasflag(tstate_end));
    CHECK(!codec.hasflag(tstate_error));
}

// Images of every format with an encoding are written through the codec and
// read back by a second codec: the pixels come back (888 with top byte 0).
TEST(encode_from_images_and_read_back)
{
    static u32 const formats[5] = {1, 332, 565, 888, 8888};
    static u8 const encodings[5] = {kzv_bits, kzv_rle888, kzv_rle565, kzv_rle888, kzv_rgba};
    for (u32 f = 0; f < 5; f++) {
        const u32 W = 300, H = 4;
        image im;
        CHECK(im.open(W, H, formats[f]));
        im.clear(0);
        for (u32 y = 0; y < H; y++)
            for (u32 x = 0; x < W; x++)
                im.setpixel((int)x, (int)y, x < 280 ? 0xFF102030u : (x * 2654435761u) ^ y);
        kzvimage codec;
        connect(im.out, codec.in);
        u8* file = (u8*)process->pool.getmem(64 * 1024);
        u32 length = 0;
        data* r = nullptr;
        for (u32 guard = 0; guard < 1000; guard++) {
            sptr n = codec.call('D', 1024, 0, &r);
            if (n <= 0) {
                if (codec.hasflag(tstate_end | tstate_error))
                    break;
                continue;                   // the image's first read only prepares
            }
            CHECK_EQ(r->type, type_bytestream);
            if (length + n <= 64 * 1024)
                memcpy(file + length, r->payload, (u32)n);
            length += (u32)n;
        }
        CHECK(codec.hasflag(tstate_end));
        CHECK(!codec.hasflag(tstate_error));
        CHECK_EQ(file[6], encodings[f]);
        if (formats[f] == 888)
            CHECK_EQ(length, 32 + H * 4 * 22);      // a run of 280 split 256 + 24, then 20 single pixels
        // Read it back.
        peermodule src;
        src.init(file, length, 100);
        kzvimage back;
        connect(src.out, back.in);
        u32 rows = 0;
        bool same = true;
        for (u32 guard = 0; guard < 100; guard++) {
            if (back.call('D', 128, 0, &r) <= 0)
                break;
            s32 line = r->kind.scanline.line;
            if (line < 0)
                continue;
            for (u32 x = 0; x < W; x++) {
                u32 got, want;
                if (formats[f] == 1) {
                    got = ((u8*)r->payload)[x / 8] >> (7 - x % 8) & 1;
                    want = im.getpixel((int)x, line);
                } else if (formats[f] == 565) {
                    got = ((u16*)r->payload)[x];
                    want = im.getpixel((int)x, line);
                } else if (formats[f] == 332) {
                    got = ((u32*)r->payload)[x];
                    want = im.getpixel_truecolor((int)x, line);
                } else {
                    got = ((u32*)r->payload)[x];
                    want = im.getpixel((int)x, line) & (formats[f] == 888 ? 0xFFFFFF : 0xFFFFFFFF);
                }
                same = same && got == want;
            }
            rows++;
        }
        CHECK_EQ(rows, H);
        CHECK(same);
        CHECK(!back.hasflag(tstate_error));
        process->pool.free_int(file);
    }
}

TEST(encoder_refuses)
{
    // 555 has no kzv encoding.
    image im;
    CHECK(im.open(4, 2, 555));
    im.clear(0);
    kzvimage codec;
    connect(im.out, codec.in);
    data* r = nullptr;
    for (u32 i = 0; i < 5; i++)
        codec.call('D', 1024, 0, &r);
    CHECK(codec.hasflag(tstate_error));
    // A source that ends after one of two rows leaves the file short: an error.
    checkshortsourcefails<kzvimage>();
}

// Push mode: bytes written in with 'J' come out as records on the OUT pin.
TEST(push_mode_sends_rows_to_the_out_peer)
{
    u8 stream[64];
    u32 length = smallrle(stream);
    kzvimage codec;
    peermodule s;
    s.init(nullptr, 0, 0);
    connect(codec.out, s.in);
    // Empty pushes leave no byte buffer behind, and the next one has none to free.
    codec.call('I', 0, 0, "");
    codec.call('I', 0, 0, "");
    for (u32 i = 0; i < length; i += 5)
        CHECK_EQ(codec.call('J', (int)kzv_min(5u, length - i), 0, stream + i), kzv_min(5u, length - i));
    codec.call('N', 0, 0, nullptr);
    CHECK_EQ(s.records, 3);                                 // header and two rows
    CHECK_EQ(s.lastline, 1);
    CHECK_EQ(s.lastformat, 888);
    CHECK_EQ(s.firstword, 0x445566);
    CHECK(!codec.hasflag(tstate_error));
    s.release();
}

TEST(restart_keeps_the_connections)
{
    u8 stream[64];
    u32 length = smallrle(stream);
    peermodule src;
    src.init(stream, length, 9);
    kzvimage codec;
    connect(src.out, codec.in);
    CHECK_EQ(readsmall(codec), 2);
    checkrestart(codec, src, 2, [&] { return readsmall(codec); });
}

// The embedded icons decode through the file stream into 32 rows of 8888 whose
// words are the file's R, G, B, A bytes exchanged back.
TEST(embedded_icons_decode)
{
    static char const* const names[2] = {"img/info.kzv", "img/question.kzv"};
    for (char const* name : names) {
        kzvtest::setrow(name);
        file f;
        CHECK(f.open(name));
        CHECK(f.fromresource == 1);
        u8 const* raw = f.resourcedata;
        kzvimage codec;
        connect(f.out, codec.in);
        data* r = nullptr;
        u32 rows = 0, opaque = 0;
        bool same = true;
        for (u32 guard = 0; guard < 100 && codec.call('D', 128, 0, &r) > 0; guard++) {
            s32 line = r->kind.scanline.line;
            if (line < 0)
                continue;
            CHECK_EQ(r->kind.scanline.pixelformat, 8888);
            u32 const* row = (u32 const*)r->payload;
            for (u32 x = 0; x < 32; x++) {
                u8 const* px = raw + 32 + ((u32)line * 32 + x) * 4;
                u32 want = (u32)px[3] << 24 | (u32)px[0] << 16 | (u32)px[1] << 8 | px[2];
                same = same && row[x] == want;
                opaque += row[x] >> 24 == 255;
            }
            rows++;
        }
        CHECK_EQ(rows, 32);
        CHECK(same);
        CHECK(opaque > 400);                    // a disc of radius 15 is mostly opaque
        CHECK(!codec.hasflag(tstate_error));
        CHECK(codec.hasflag(tstate_end));
    }
    kzvtest::setrow("");
}
