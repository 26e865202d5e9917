// The BMP writer and reader: every written format read back in pieces, in both
// row orders; the layout facts of the format on hand-made files; the refusals.
#include "codectest.h"
#include "../../codecs/bmp.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace codectest;

namespace {

struct readout {
    int result;
    char message[48];
    u32 width, height, rows;
    bool bottomup;
    u32 first[4];           // the first pixels of the rows with lines 0 and 1
    u32 second[4];
};

readout readall(u8 const* p, u32 n, u32 piece)
{
    bmpreader b;
    b.init(&process->pool);
    readout out = {};
    u32 at = 0;
    for (;;) {
        u32 size = piece && n - at > piece ? piece : n - at;
        b.next = p + at;
        b.end = p + at + size;
        int r = b.run();
        at += (u32)(b.next - (p + at));
        if (r == bmp_needinput && at == n)
            r = b.finish();
        if (r == bmp_row) {
            out.rows++;
            u32* into = b.line == 0 ? out.first : b.line == 1 ? out.second : nullptr;
            for (u32 x = 0; into && x < 4 && x < b.width; x++)
                into[x] = b.row[x];
        } else if (r != bmp_needinput && r != bmp_header) {
            out.result = r;
            break;
        }
    }
    strcpy(out.message, b.message, sizeof out.message - 1);
    out.width = b.width;
    out.height = b.height;
    out.bottomup = b.bottomup;
    b.exit();
    return out;
}

void put32(u8* p, u32 v)
{
    p[0] = (u8)v, p[1] = (u8)(v >> 8), p[2] = (u8)(v >> 16), p[3] = (u8)(v >> 24);
}

// A file header and a 40-byte information header.
u32 header(u8* p, s32 w, s32 h, u32 bpp, u32 offset, u32 infosize = 40, u32 colors = 0, u32 compression = 0)
{
    memset0(p, 14 + infosize);
    p[0] = 'B', p[1] = 'M';
    put32(p + 10, offset);
    put32(p + 14, infosize);
    put32(p + 18, (u32)w);
    put32(p + 22, (u32)h);
    p[26] = 1;
    p[28] = (u8)bpp;
    put32(p + 30, compression);
    put32(p + 46, colors);
    return 14 + infosize;
}

} // namespace

TEST(roundtrip)
{
    static const u32 formats[] = {1, 8, 565, 888, 8888};
    u32 palette[256];
    for (u32 i = 0; i < 256; i++)
        palette[i] = (i * 0x030507) & 0xffffff;
    u32 const w = 5, h = 3;
    u32 row32[5] = {0x80112233, 0x00445566, 0x00778899, 0x00aabbcc, 0x00ddeeff};
    u16 row16[5] = {0xffff, 0x0000, 0xf800, 0x07e0, 0x001f};
    u8 row8[5] = {0, 1, 2, 254, 255};
    u8 row1[1] = {0xa8};           // 1 0 1 0 1
    for (u32 format : formats) {
        for (int bottomup = 0; bottomup < 2; bottomup++) {
            kzvtest::setrow(bottomup ? "bottom-up" : "top-down");
            deflatesink out;
            out.init(&process->pool);
            bmpwriter wr;
            CHECK(wr.start(w, h, bottomup != 0, format, palette, out));
            void const* row = format == 1 ? (void const*)row1 : format == 8 ? (void const*)row8
                            : format == 565 ? (void const*)row16 : (void const*)row32;
            for (u32 y = 0; y < h; y++)
                CHECK(wr.writerow(row, out));
            CHECK(wr.finish());
            static const u32 pieces[] = {0, 1, 7};
            for (u32 piece : pieces) {
                readout r = readall(out.data, out.length, piece);
                CHECK_EQ(r.result, bmp_end);
                CHECK_EQ(r.rows, h);
                CHECK_EQ(r.bottomup, bottomup != 0);
                for (u32 x = 0; x < 4; x++) {
                    u32 expect = format == 1 ? palette[(0xa8 >> (7 - x)) & 1] : format == 8 ? palette[row8[x]]
                               : format == 565 ? ((row16[x] >> 8) & 0xf8) << 16 | ((row16[x] >> 3) & 0xf8) << 8 |
                                                     ((row16[x] << 3) & 0xf8)
                                               : row32[x] & 0xffffff;
                    CHECK_EQ(r.first[x], expect);
                }
            }
            out.release();
        }
    }
    kzvtest::setrow(nullptr);
}

// Formats the writer cannot write are refused before any byte.
TEST(writerrefusals)
{
    deflatesink out;
    out.init(&process->pool);
    bmpwriter wr;
    CHECK(!wr.start(4, 4, false, 555, nullptr, out));
    CHECK_STR(wr.message, "format 555");
    CHECK(!wr.start(4, 4, false, 332, nullptr, out));
    CHECK_STR(wr.message, "format 332");
    CHECK_EQ(out.length, 0);
    u32 palette[2] = {0, 0xffffff};
    CHECK(wr.start(9, 2, true, 1, palette, out));
    CHECK_EQ(out.data[10], 62);             // data offset
    CHECK_EQ(out.data[46], 2);              // colours used
    CHECK_EQ(out.length, 62);
    out.release();
}

TEST(layout)
{
    u8 file[400];
    // 2 x 2 bottom-up, 24 bits: lines 1 then 0, rows of 6 bytes padded to 8.
    u32 at = header(file, 2, 2, 24, 54);
    u8 const rows[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    memcpy(file + at, rows, 16);
    readout r = readall(file, at + 16, 0);
    CHECK_EQ(r.result, bmp_end);
    CHECK(r.bottomup);
    CHECK_EQ(r.first[0], 0x090807);         // the last stored row is line 0
    CHECK_EQ(r.second[0], 0x030201);
    // The same with height -2: top-down.
    header(file, 2, -2, 24, 54);
    r = readall(file, at + 16, 3);
    CHECK(!r.bottomup);
    CHECK_EQ(r.first[0], 0x030201);
    CHECK_EQ(r.second[0], 0x090807);
    // 32 bits: bytes 10 20 30 40 give 0x00302010.
    at = header(file, 1, 1, 32, 54);
    u8 const pixel[4] = {0x10, 0x20, 0x30, 0x40};
    memcpy(file + at, pixel, 4);
    r = readall(file, at + 4, 0);
    CHECK_EQ(r.first[0], 0x302010);
    // A 124-byte information header, 1 bit, colours used 0: a 2-entry palette.
    at = header(file, 10, 1, 1, 14 + 124 + 8, 124);
    u8 const pal[8] = {0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 0};
    memcpy(file + at, pal, 8);
    file[at + 8] = 0x40, file[at + 9] = 0, file[at + 10] = file[at + 11] = 0;
    r = readall(file, at + 12, 1);
    CHECK_EQ(r.result, bmp_end);
    CHECK_EQ(r.width, 10);
    CHECK_EQ(r.first[0], 0x332211);
    CHECK_EQ(r.first[1], 0x665544);
    // Height 0: the header and no rows.
    at = header(file, 4, 0, 24, 54);
    r = readall(file, at, 0);
    CHECK_EQ(r.result, bmp_end);
    CHECK_EQ(r.rows, 0);
}

// Palette entries the file does not give are black; a 24-bit file may carry a
// palette longer than 256 entries, which is passed over to the pixels.
TEST(palettesizes)
{
    static u8 file[1400];
    u32 at = header(file, 2, 1, 1, 54 + 4, 40, 1);
    u8 const one[4] = {0x11, 0x22, 0x33, 0};
    memcpy(file + at, one, 4);
    u8 const bits[4] = {0x40, 0, 0, 0};     // pixel 0 is index 0, pixel 1 index 1
    memcpy(file + at + 4, bits, 4);
    readout r = readall(file, at + 8, 0);
    CHECK_EQ(r.result, bmp_end);
    CHECK_EQ(r.first[0], 0x332211);
    CHECK_EQ(r.first[1], 0);
    u32 colors = 300;
    at = header(file, 1, 1, 24, 54 + colors * 4, 40, colors);
    for (u32 i = 0; i < colors * 4; i++)
        file[at + i] = (u8)(i * 7 + 1);
    u8 const pixel[4] = {0x0a, 0x0b, 0x0c, 0};
    memcpy(file + at + colors * 4, pixel, 4);
    static const u32 pieces[] = {0, 1, 13};
    for (u32 piece : pieces) {
        r = readall(file, at + colors * 4 + 4, piece);
        CHECK_EQ(r.result, bmp_end);
        CHECK_EQ(r.first[0], 0x0c0b0a);
    }
}

TEST(readerrefusals)
{
    static const struct {
        char const* name;
        s32 w, h;
        u32 bpp, offset, infosize, colors, compression;
        char const* message;
    } rows[] = {
        {"old OS/2 header", 2, 2, 24, 54, 12, 0, 0, "old bmp format"},
        {"header size below 40", 2, 2, 24, 54, 16, 0, 0, "header size 16"},
        {"16 bits", 2, 2, 16, 54, 40, 0, 0, "unknown bpp 16"},
        {"33 bits", 2, 2, 33, 54, 40, 0, 0, "bpp 33"},
        {"RLE8", 2, 2, 8, 1078, 40, 0, 1, "compression 1"},
        {"bit fields at 24 bits", 2, 2, 24, 54, 40, 0, 3, "compression 3"},
        {"colours used 257", 2, 2, 8, 1078, 40, 257, 0, "colors 257"},
        {"palette past the offset bound", 2, 2, 24, 54, 40, 1100, 0, "colors 1100"},
        {"data offset 5000", 2, 2, 24, 5000, 40, 0, 0, "dataoffset 5000"},
        {"negative width", -2, 2, 24, 54, 40, 0, 0, "xs -2"},
        {"height -2^31", 2, (s32)0x80000000, 24, 54, 40, 0, 0, "ys -2147483648"},
    };
    u8 file[200];
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        u32 n = header(file, r.w, r.h, r.bpp, r.offset, r.infosize < 40 ? 40 : r.infosize, r.colors, r.compression);
        put32(file + 14, r.infosize);
        readout o = readall(file, n + 8, 0);
        CHECK_EQ(o.result, bmp_error);
        CHECK_STR(o.message, r.message);
    }
    kzvtest::setrow(nullptr);
}
