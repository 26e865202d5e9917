// The bmp codec module on the stream protocol: reading from a source that hands
// out pieces of any size (and waits when told), bottom-up and top-down rows with
// their line numbers and the bottom-up flag, every depth the reader takes, bad and
// foreign streams, writing from images of every format it takes read back through
// a second module, the formats it refuses before any byte, a source that ends with
// rows missing, push mode and restart. The BMP files it reads are made here.
#include "imagemodulefixture.h"
#include "../../codecs/bmpmodule.h"

using namespace kzv;
using namespace codectest;

namespace {

void put16(u8* p, u32 v) { p[0] = (u8)v, p[1] = (u8)(v >> 8); }
void put32(u8* p, u32 v) { put16(p, v), put16(p + 2, v >> 16); }

// A BMP file of `bpp` bits: its rows given top row first, each padded to 4 bytes,
// stored bottom-up unless topdown; the palette words as B, G, R, 0.
u32 makebmp(u8* out, s32 w, s32 h, u32 bpp, u8 const* rows, u32 const* palette, u32 colors, bool topdown)
{
    u32 rowbytes = ((u32)w * bpp + 7) / 8, stride = (rowbytes + 3) & ~3u;
    u32 offset = 54 + colors * 4;
    memset0(out, offset + stride * (u32)h);
    out[0] = 'B', out[1] = 'M';
    put32(out + 2, offset + stride * (u32)h);
    put32(out + 10, offset);
    put32(out + 14, 40);
    put32(out + 18, (u32)w);
    put32(out + 22, (u32)(topdown ? -h : h));
    put16(out + 26, 1);
    put16(out + 28, bpp);
    put32(out + 46, colors);
    for (u32 i = 0; i < colors; i++)
        out[54 + 4 * i] = (u8)palette[i], out[55 + 4 * i] = (u8)(palette[i] >> 8), out[56 + 4 * i] = (u8)(palette[i] >> 16);
    for (s32 y = 0; y < h; y++) {
        s32 stored = topdown ? y : h - 1 - y;
        memcpy(out + offset + (u32)stored * stride, rows + (u32)y * rowbytes, rowbytes);
    }
    return offset + stride * (u32)h;
}

// 3 x 2 at 24 bits: pixel (x, y) = 0x112233 * (x + 1) + y.
u32 pixel24(u32 x, u32 y) { return (0x112233u * (x + 1) + y) & 0xFFFFFF; }

u32 make24(u8* out, bool topdown)
{
    u8 rows[2 * 9];
    for (u32 y = 0; y < 2; y++)
        for (u32 x = 0; x < 3; x++) {
            u32 v = pixel24(x, y);
            u8* p = rows + y * 9 + 3 * x;
            p[0] = (u8)v, p[1] = (u8)(v >> 8), p[2] = (u8)(v >> 16);
        }
    return makebmp(out, 3, 2, 24, rows, nullptr, 0, topdown);
}

// Every record of a reader, each row checked against expect(x, line); the
// reader's rows are always 888.
template <class F> rowsread readall(bmp& codec, u32 width, u32 height, F expect)
{
    return readrows(codec, 888, width, height, expect);
}

} // namespace

TEST(reads_in_pieces_of_every_size_both_row_orders)
{
    static u8 file[256];
    for (int topdown = 0; topdown < 2; topdown++) {
        u32 length = make24(file, topdown != 0);
        u32 const pieces[] = {1, 2, 5, 13, 54, 55, 4096};
        for (u32 piece : pieces) {
            peermodule src;
            src.init(file, length, piece);
            bmp codec;
            connect(src.out, codec.in);
            checkheaderrecord(codec, 3, 2);
            rowsread got = readall(codec, 3, 2, pixel24);
            CHECK_EQ(got.rows, 2);
            CHECK_EQ(got.bottomup, topdown == 0);
            checkended(codec);
        }
    }
}

// 1, 4, 8 and 32 bits, through the palette or as B, G, R and a dropped byte.
TEST(every_depth)
{
    u32 palette[256];
    for (u32 i = 0; i < 256; i++)
        palette[i] = (i * 0x030507u) & 0xFFFFFF;
    static u32 const depths[] = {1, 4, 8, 32};
    static u8 file[2048];
    for (u32 bpp : depths) {
        const u32 W = 10, H = 3;
        u32 rowbytes = (W * bpp + 7) / 8;
        u8 rows[3 * 40];
        for (u32 i = 0; i < H * rowbytes; i++)
            rows[i] = (u8)(i * 37 + 11);
        u32 colors = bpp <= 8 ? 1u << bpp : 0;
        u32 length = makebmp(file, W, H, bpp, rows, palette, colors, false);
        auto expect = [&](u32 x, u32 y) -> u32 {
            u8 const* r = rows + y * rowbytes;
            switch (bpp) {
            case 1: return palette[r[x / 8] >> (7 - x % 8) & 1];
            case 4: return palette[r[x / 2] >> (x % 2 ? 0 : 4) & 15];
            case 8: return palette[r[x]];
            default: return (u32)r[4 * x + 2] << 16 | (u32)r[4 * x + 1] << 8 | r[4 * x];
            }
        };
        peermodule src;
        src.init(file, length, 7);
        bmp codec;
        connect(src.out, codec.in);
        CHECK_EQ(readall(codec, W, H, expect).rows, (int)H);
        CHECK(codec.hasflag(tstate_end));
    }
}

TEST(waits_for_bytes_not_there_yet)
{
    static u8 file[256];
    u32 length = make24(file, false);
    u32 const stops[] = {10, 54, 60, 70};
    for (u32 stop : stops) {
        peermodule src;
        src.init(file, length, 4096);
        src.available = stop;
        bmp codec;
        connect(src.out, codec.in);
        CHECK_EQ(readacrosswait(codec, src), 3);            // header and two rows
        CHECK(codec.hasflag(tstate_end));
    }
}

TEST(bad_streams_set_the_error_flag)
{
    static u8 good[256];
    u32 length = make24(good, false);
    static struct {
        char const* name;
        u32 keep;               // bytes kept, 0 all
        u32 patch, value;       // a 32-bit field to patch, offset 0 none
    } const rows[] = {
        {"cut in the rows", 70, 0, 0},
        {"header size 20", 0, 14, 20},
        {"OS/2 header", 0, 14, 12},
        {"16 bits", 0, 28, 16},
        {"RLE8", 0, 30, 1},
        {"width 40000", 0, 18, 40000},
        {"height -40000", 0, 22, (u32)-40000},
        {"data offset 5000", 0, 10, 5000},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        static u8 file[256];
        memcpy(file, good, length);
        if (row.patch)
            put32(file + row.patch, row.value);
        peermodule src;
        src.init(file, row.keep ? row.keep : length, 5);
        bmp codec;
        codec.setflag(tstate_trace);        // the refusal is said on standard error
        connect(src.out, codec.in);
        checkendsinerror(codec);
    }
    kzvtest::setrow(nullptr);
}

// Bytes before "BM" are skipped; a stream with no header at all holds no image.
TEST(no_header_ends_with_no_records)
{
    static u8 file[300];
    memcpy(file, "xBMxyz", 6);              // a false start: "BM" with a nonzero reserved word
    u32 length = 6 + make24(file + 6, true);
    peermodule src;
    src.init(file, length, 8);
    bmp codec;
    connect(src.out, codec.in);
    CHECK_EQ(readall(codec, 3, 2, pixel24).rows, 2);
    static u8 const text[] = "not a bitmap: the letters B and M never meet in the first fifty-four bytes";
    u32 const lengths[] = {0, 20, sizeof text - 1};
    for (u32 n : lengths) {
        peermodule tsrc;
        tsrc.init(text, n, 9);
        bmp none;
        connect(tsrc.out, none.in);
        checknoimage(none);
    }
}

// Images of the formats the writer takes go out through one module and come back
// through a second as 888 rows, top-down with a negative height.
TEST(write_from_images_and_read_back)
{
    static u32 const formats[] = {1, 8, 565, 888, 8888};
    static u8 file[16 * 1024];
    for (u32 format : formats) {
        const u32 W = 29, H = 4;
        image im;
        openpatterned(im, W, H, format);
        auto expect = [&](u32 x, u32 y) -> u32 {
            u32 v = im.getpixel((int)x, (int)y);
            if (format == 1 || format == 8)
                return im.palette[v] & 0xFFFFFF;
            if (format == 565)
                return rgbof565(v);
            return v & 0xFFFFFF;
        };
        bmp codec;
        connect(im.out, codec.in);
        u32 length = 0;
        CHECK(pullfile(codec, file, sizeof file, length));
        CHECK_EQ(file[0], 'B');
        CHECK_EQ((s32)(file[22] | file[23] << 8 | file[24] << 16 | (u32)file[25] << 24), -(s32)H);
        u32 bpp = format == 1 ? 1 : format == 8 ? 8 : 24;
        u32 stride = ((W * bpp + 7) / 8 + 3) & ~3u, used = (W * bpp + 7) / 8;
        u32 offset = file[10] | file[11] << 8;
        CHECK_EQ(length, offset + stride * H);
        for (u32 y = 0; y < H; y++)
            for (u32 i = used; i < stride; i++)
                CHECK_EQ(file[offset + y * stride + i], 0);     // zeroed padding
        peermodule src;
        src.init(file, length, 100);
        bmp back;
        connect(src.out, back.in);
        CHECK_EQ(readall(back, W, H, expect).rows, (int)H);
    }
}

// 555 and 332 are refused before any byte; a source that ends with a row missing
// fails.
TEST(writer_refusals)
{
    static u32 const refused[] = {555, 332};
    for (u32 format : refused) {
        image im;
        CHECK(im.open(4, 2, format));
        bmp codec;
        connect(im.out, codec.in);
        data* r = nullptr;
        u32 handed = 0;
        for (u32 i = 0; i < 5; i++)
            handed += (u32)kzv_max<sptr>(codec.call('D', 1024, 0, &r), 0);
        CHECK(codec.hasflag(tstate_error));
        CHECK_EQ(handed, 0);
    }
    checkshortsourcefails<bmp>();
}

TEST(push_mode_and_restart)
{
    static u8 file[256];
    u32 length = make24(file, false);
    bmp codec;
    peermodule rows;
    rows.init(nullptr, 0, 0);
    connect(codec.out, rows.in);
    for (u32 i = 0; i < length; i += 5)
        CHECK_EQ(codec.call('J', (int)kzv_min(5u, length - i), 0, file + i), kzv_min(5u, length - i));
    codec.call('N', 0, 0, nullptr);
    CHECK_EQ(rows.records, 3);
    CHECK_EQ(rows.lastline, 0);                             // bottom-up: line 1 first
    CHECK(codec.hasflag(tstate_end));

    peermodule src;
    src.init(file, length, 9);
    bmp pulled;
    connect(src.out, pulled.in);
    CHECK_EQ(readall(pulled, 3, 2, pixel24).rows, 2);
    checkrestart(pulled, src, 2, [&] { return readall(pulled, 3, 2, pixel24).rows; });
}
