// The png codec module on the stream protocol: decoding from a source that hands
// out pieces of any size (and waits when told), the header record before the
// rows, bad and foreign streams that end in the error flag or with no records,
// encoding from images of every format read back through a second module, the
// encoder's refusals, push mode into a collector, and restart. The PNG files the
// decoder reads are made here with stored deflate blocks, so they do not lean on
// our compressor.
#include "imagemodulefixture.h"
#include "../../codecs/adler32.h"
#include "../../codecs/crc32.h"
#include "../../codecs/pngmodule.h"
#include "../../gui/scanline.h"

using namespace kzv;
using namespace codectest;

namespace {

struct bytes {
    u8 data[4096];
    u32 length;

    void put(void const* p, u32 n)
    {
        memcpy(data + length, p, n);
        length += n;
    }
    void put32(u32 v)
    {
        u8 b[4] = {(u8)(v >> 24), (u8)(v >> 16), (u8)(v >> 8), (u8)v};
        put(b, 4);
    }
    void chunk(char const* type, void const* body, u32 n)
    {
        put32(n);
        u32 at = length;
        put(type, 4);
        put(body, n);
        put32(crc32_update(0, data + at, n + 4));
    }
};

// A PNG file: IHDR, PLTE when given, a tEXt chunk, the filtered rows as one zlib
// stream of stored blocks cut into IDAT chunks of `piece` bytes, IEND.
void makepng(bytes& out, u32 w, u32 h, u8 depth, u8 colortype, u8 const* rows, u32 rowsize,
             u8 const* plte = nullptr, u32 pltelength = 0, u32 piece = 1000)
{
    out.length = 0;
    static u8 const signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    out.put(signature, 8);
    u8 ihdr[13] = {(u8)(w >> 24), (u8)(w >> 16), (u8)(w >> 8), (u8)w, (u8)(h >> 24), (u8)(h >> 16),
                   (u8)(h >> 8), (u8)h, depth, colortype, 0, 0, 0};
    out.chunk("IHDR", ihdr, 13);
    if (plte)
        out.chunk("PLTE", plte, pltelength);
    out.chunk("tEXt", "Comment\0made by hand", 20);
    u32 raw = rowsize * h;
    static u8 z[2048];
    u32 n = 0;
    z[n++] = 0x78, z[n++] = 0x01;
    z[n++] = 1;                         // one final stored block
    z[n++] = (u8)raw, z[n++] = (u8)(raw >> 8), z[n++] = (u8)~raw, z[n++] = (u8)(~raw >> 8);
    memcpy(z + n, rows, raw);
    n += raw;
    u32 adler = adler32_update(ADLER32_START, rows, raw);
    z[n++] = (u8)(adler >> 24), z[n++] = (u8)(adler >> 16), z[n++] = (u8)(adler >> 8), z[n++] = (u8)adler;
    for (u32 at = 0; at < n; at += piece)
        out.chunk("IDAT", z + at, kzv_min(piece, n - at));
    out.chunk("IEND", nullptr, 0);
}

// A 5 x 3 RGB image, filter 0, pixel (x, y) = 0x102030 * (x + 1) + y.
u32 rgbpixel(u32 x, u32 y) { return (0x102030u * (x + 1) + y) & 0xFFFFFF; }

void makergb(bytes& out, u32 piece)
{
    u8 rows[3 * 16];
    for (u32 y = 0; y < 3; y++) {
        u8* r = rows + y * 16;
        r[0] = 0;
        for (u32 x = 0; x < 5; x++) {
            u32 v = rgbpixel(x, y);
            r[1 + 3 * x] = (u8)(v >> 16), r[2 + 3 * x] = (u8)(v >> 8), r[3 + 3 * x] = (u8)v;
        }
    }
    makepng(out, 5, 3, 8, 2, rows, 16, nullptr, 0, piece);
}

// Every record of a decoder; answers the rows (the header record not counted),
// or -1 when one came out of order or with other pixels than expect(x, y). PNG
// rows run top-down.
template <class F> int readall(png& codec, u32 format, u32 width, u32 height, F expect)
{
    rowsread got = readrows(codec, format, width, height, expect);
    return got.bottomup ? -1 : got.rows;
}

} // namespace

TEST(decodes_in_pieces_of_every_size)
{
    static bytes file;
    makergb(file, 13);              // the image data in several IDAT chunks
    u32 const pieces[] = {1, 2, 3, 7, 8, 9, 25, 64, 4096};
    for (u32 piece : pieces) {
        peermodule src;
        src.init(file.data, file.length, piece);
        png codec;
        connect(src.out, codec.in);
        checkheaderrecord(codec, 5, 3);
        CHECK_EQ(readall(codec, 888, 5, 3, rgbpixel), 3);
        checkended(codec);
    }
}

// RGBA bytes 11 22 33 44 are the pixel 0x44112233; a 1-bit row of width 10 gives
// palette colours, black and white without a PLTE chunk.
TEST(rgba_and_bit_rows)
{
    static bytes file;
    u8 rgba[5] = {0, 0x11, 0x22, 0x33, 0x44};
    makepng(file, 1, 1, 8, 6, rgba, 5);
    peermodule src;
    src.init(file.data, file.length, 100);
    png codec;
    connect(src.out, codec.in);
    CHECK_EQ(readall(codec, 8888, 1, 1, [](u32, u32) { return 0x44112233u; }), 1);
    u8 bits[2 * 3] = {0, 0xA5, 0x80, 0, 0x01, 0x40};
    for (int withpalette = 0; withpalette < 2; withpalette++) {
        static u8 const plte[6] = {0x10, 0x20, 0x30, 0xF0, 0xE0, 0xD0};
        makepng(file, 10, 2, 1, withpalette ? 3 : 0, bits, 3, withpalette ? plte : nullptr, 6);
        u32 c0 = withpalette ? 0x102030 : 0, c1 = withpalette ? 0xF0E0D0 : 0xFFFFFF;
        peermodule bitsrc;
        bitsrc.init(file.data, file.length, 5);
        png bitcodec;
        connect(bitsrc.out, bitcodec.in);
        auto expect = [&](u32 x, u32 y) { return (bits[y * 3 + 1 + x / 8] >> (7 - x % 8) & 1) ? c1 : c0; };
        CHECK_EQ(readall(bitcodec, 888, 10, 2, expect), 2);
        CHECK(bitcodec.hasflag(tstate_end));
    }
}

// A PLTE chunk of more than 256 entries gives its first 256 and the rest is passed
// over; one with fewer entries than the indexes used leaves the others black.
TEST(palette_longer_and_shorter_than_its_indexes)
{
    static u8 plte[900];
    for (u32 i = 0; i < sizeof plte; i++)
        plte[i] = (u8)(i * 13 + 5);
    static u8 const rows[2 * 5] = {0, 0, 1, 255, 200, 0, 7, 8, 254, 3};    // 4 x 2, filter 0
    u32 const lengths[] = {sizeof plte, 6};
    for (u32 length : lengths) {
        static bytes file;
        makepng(file, 4, 2, 8, 3, rows, 5, plte, length);
        peermodule src;
        src.init(file.data, file.length, 7);
        png codec;
        connect(src.out, codec.in);
        auto expect = [&](u32 x, u32 y) -> u32 {
            u32 i = rows[y * 5 + 1 + x];
            return 3 * i + 2 < length ? (u32)plte[3 * i] << 16 | (u32)plte[3 * i + 1] << 8 | plte[3 * i + 2] : 0;
        };
        CHECK_EQ(readall(codec, 888, 4, 2, expect), 2);
        CHECK(codec.hasflag(tstate_end));
    }
}

// A source that has nothing now makes the module wait, wherever in the file.
TEST(waits_for_bytes_not_there_yet)
{
    static bytes file;
    makergb(file, 1000);
    u32 const stops[] = {5, 8, 20, 33, 60, 90};
    for (u32 stop : stops) {
        peermodule src;
        src.init(file.data, file.length, 4096);
        src.available = stop;
        png codec;
        connect(src.out, codec.in);
        CHECK_EQ(readacrosswait(codec, src), 4);            // header and three rows
        CHECK(codec.hasflag(tstate_end));
        CHECK(!codec.hasflag(tstate_error));
    }
}

// Damaged streams end in the error flag, within a bounded number of reads, and
// every read after answers 0.
TEST(bad_streams_set_the_error_flag)
{
    static bytes good;
    makergb(good, 1000);
    u32 idat = 8 + 25 + 32;         // signature, IHDR, tEXt: the IDAT chunk starts here
    static struct {
        char const* name;
        int keep;                   // bytes kept of the file; 0 all, below 0 all but that many
        u32 patch;                  // offset to patch, 0 none
        u8 value;
    } const rows[] = {
        {"cut in the image data", 90, 0, 0},
        {"cut before IEND", -12, 0, 0},
        {"no IDAT before IEND", 0, idat + 4, 'X'},         // the IDAT chunk becomes unknown
        {"chunk length over 2^31", 0, idat, 0xFF},
        {"16 bits", 0, 8 + 16, 16},
        {"grey", 0, 8 + 17, 0},
        {"compression method 1", 0, 8 + 18, 1},
        {"stored block length damaged", 0, idat + 8 + 3, 0x77},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        static bytes file;
        file = good;
        if (row.keep)
            file.length = row.keep > 0 ? (u32)row.keep : file.length - (u32)-row.keep;
        if (row.patch)
            file.data[row.patch] = row.value;
        peermodule src;
        src.init(file.data, file.length, 11);
        png codec;
        connect(src.out, codec.in);
        checkendsinerror(codec);
    }
    kzvtest::setrow(nullptr);
}

// Without a signature there is no PNG image: the end, no records, no error.
TEST(no_signature_ends_with_no_records)
{
    static u8 const text[] = "not a PNG file, though it has \x89PN in it";
    u32 const lengths[] = {0, 3, 7, 8, sizeof text - 1};
    for (u32 n : lengths) {
        peermodule src;
        src.init(text, n, 3);
        png codec;
        connect(src.out, codec.in);
        checknoimage(codec);
        CHECK_EQ(src.position, n);
    }
}

// Images of every format go out through one module and come back through a
// second: palette and 16-bit formats as the encoder maps them, 888 and 8888 as
// they are.
TEST(encode_from_images_and_read_back)
{
    static u32 const formats[] = {1, 8, 332, 555, 565, 888, 8888};
    static u8 file[64 * 1024];
    for (u32 format : formats) {
        const u32 W = 37, H = 5;
        image im;
        openpatterned(im, W, H, format);
        auto expect = [&](u32 x, u32 y) -> u32 {
            u32 v = im.getpixel((int)x, (int)y);
            switch (format) {
            case 1:
            case 8:
            case 332: return im.palette[v] & 0xFFFFFF;
            case 555: return ((v >> 7) & 0xF8) << 16 | ((v >> 2) & 0xF8) << 8 | ((v << 3) & 0xF8);
            case 565: return rgbof565(v);
            case 888: return v & 0xFFFFFF;
            default: return v;
            }
        };
        png codec;
        connect(im.out, codec.in);
        u32 length = 0;
        CHECK(pullfile(codec, file, sizeof file, length));
        CHECK(length > 8 + 25 + 12);
        CHECK_EQ(file[0], 137);
        CHECK_MEM(file + length - 8, "IEND\xAE\x42\x60\x82", 8);
        peermodule src;
        src.init(file, length, 300);
        png back;
        connect(src.out, back.in);
        CHECK_EQ(readall(back, format == 8888 ? 8888 : 888, W, H, expect), H);
        CHECK(!back.hasflag(tstate_error));
    }
}

namespace {

// A source of `count` scanline records of a chosen format for an image of `height`
// lines: top-down from line 0, or bottom-up from line height - 1. Every pixel of
// the k-th record handed out is 0x010203 * (k + 1).
class rowsource : public module {
public:
    u32 row[8];
    u32 given, count;

    void setup(u32 format, u32 width, u32 height = 2, u32 rows = 1, u8 rowflags = 0)
    {
        memset0(this, sizeof *this);
        initheader(nullptr, "rowsource", concb, type_scanline);
        kind.scanline.pixelformat = (u16)format;
        kind.scanline.width = width;
        kind.scanline.height = height;
        kind.scanline.flags = rowflags;
        payload = row;
        size = sizeof row;
        count = rows;
    }
    static sptr concb(void* self, unsigned cmd, int, int, void const* p)
    {
        rowsource* s = (rowsource*)self;
        if (cmd != 'D')
            return 0;
        *(data**)const_cast<void*>(p) = s;
        if (s->given == s->count) {
            s->flags |= tstate_end;
            return 0;
        }
        kindscanline& k = s->kind.scanline;
        k.line = (s32)((k.flags & scanline_upsidedown) ? k.height - 1 - s->given : s->given);
        s->given++;
        for (u32& px : s->row)
            px = 0x010203u * s->given;
        return 1;
    }
};

} // namespace

// A format the encoder cannot write, a row wider than its buffer, and a source
// that ends before the last row: the error flag, and no byte handed out for the
// format refused up front.
TEST(encoder_refusals)
{
    static struct {
        char const* name;
        u32 format, width;
        bool anybytes;              // the signature and header went out first
    } const rows[] = {
        {"format 24", 24, 2, false},
        {"8 bits without a palette", 8, 2, false},
        {"row shorter than its width", 888, 9, false},
        {"one row of two", 888, 2, true},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        rowsource src;
        src.setup(row.format, row.width);
        png codec;
        connect(src.out, codec.in);
        data* r = nullptr;
        u32 handed = 0;
        for (u32 i = 0; i < 10; i++)
            handed += (u32)kzv_max<sptr>(codec.call('D', 1024, 0, &r), 0);
        CHECK(codec.hasflag(tstate_error));
        CHECK(!codec.hasflag(tstate_end));
        CHECK_EQ(handed > 0, row.anybytes);
    }
    kzvtest::setrow(nullptr);
}

// Rows that arrive bottom-up (lines 2, 1, 0) end the image at line 0 and are
// stored in the order they came: PNG has no bottom-up rows.
TEST(bottom_up_source_kept_in_arrival_order)
{
    rowsource src;
    src.setup(888, 3, 3, 3, scanline_upsidedown);
    png codec;
    connect(src.out, codec.in);
    static u8 file[4096];
    u32 length = 0;
    CHECK(pullfile(codec, file, sizeof file, length));
    CHECK_MEM(file + length - 8, "IEND\xAE\x42\x60\x82", 8);
    peermodule back;
    back.init(file, length, 64);
    png decoder;
    connect(back.out, decoder.in);
    CHECK_EQ(readall(decoder, 888, 3, 3, [](u32, u32 y) { return 0x010203u * (y + 1); }), 3);
}

// Push mode: bytes written in with 'J' come out as records on the OUT pin, and
// records written in with 'K' come out as PNG bytes.
TEST(push_mode_both_ways)
{
    static bytes file;
    makergb(file, 1000);
    png decoder;
    peermodule rows;
    rows.init(nullptr, 0, 0);
    connect(decoder.out, rows.in);
    for (u32 i = 0; i < file.length; i += 7) {
        u32 n = kzv_min(7u, file.length - i);
        CHECK_EQ(decoder.call('J', (int)n, 0, file.data + i), n);
    }
    decoder.call('N', 0, 0, nullptr);
    CHECK_EQ(rows.records, 4);                              // header and three rows
    CHECK_EQ(rows.lastline, 2);
    CHECK(decoder.hasflag(tstate_end));
    CHECK(!decoder.hasflag(tstate_error));

    image im;
    CHECK(im.open(5, 3, 888));
    for (u32 y = 0; y < 3; y++)
        for (u32 x = 0; x < 5; x++)
            im.setpixel((int)x, (int)y, rgbpixel(x, y));
    png encoder;
    peermodule out;
    out.init(nullptr, 0, 0);
    connect(encoder.out, out.in);
    data* rec = nullptr;
    for (u32 guard = 0; guard < 10; guard++) {
        int n = im.read(&rec, 128);
        if (n > 0)
            CHECK(encoder.call('K', 0, 0, rec) > 0);
        else if (im.flags & image_endofdata)
            break;
    }
    encoder.call('N', 0, 0, nullptr);
    CHECK(!encoder.hasflag(tstate_error));
    CHECK(out.collectedlength > 40);
    peermodule src;
    src.init(out.collected, out.collectedlength, 17);
    png back;
    connect(src.out, back.in);
    CHECK_EQ(readall(back, 888, 5, 3, rgbpixel), 3);
    out.release();
}

TEST(restart_keeps_the_connections)
{
    static bytes file;
    makergb(file, 1000);
    peermodule src;
    src.init(file.data, file.length, 9);
    png codec;
    connect(src.out, codec.in);
    CHECK_EQ(readall(codec, 888, 5, 3, rgbpixel), 3);
    checkrestart(codec, src, 3, [&] { return readall(codec, 888, 5, 3, rgbpixel); });
}
