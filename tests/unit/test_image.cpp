// Images: block sizes per format, refused sizes, wrapping, clipped pixel access,
// packing and the round trip through 8888, blending, clear over a stride, copies
// between formats with clipping at both images, in-memory kzv images, serial
// numbers, pins across a reset, and the row reader.
#include "../harness/harness.h"
#include "../../gui/image.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

static const u32 allformats[] = {1, 8, 332, 555, 565, 888, 8888};
static const u32 wrapformats[] = {332, 555, 565, 888, 8888};

// A deterministic sequence of colours.
static u32 nextrandom(u32& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

TEST(openblocksizes)
{
    static const struct {
        char const* name;
        u32 fmt, xs, ys, rowlength, stride, blocksize, palettewords;
    } cases[] = {
        {"format 1, 3 x 2", 1, 3, 2, 1, 1, 24, 2},
        {"format 1, 17 x 9", 1, 17, 9, 3, 3, 32 + 8, 2},
        {"format 8, 5 x 3", 8, 5, 3, 5, 5, 16 + 1024, 256},
        {"format 332, 7 x 7", 332, 7, 7, 7, 7, 64 + 1024, 256},
        {"format 555, 3 x 3", 555, 3, 3, 6, 3, 32, 0},
        {"format 565, 5 x 4", 565, 5, 4, 10, 5, 64, 0},
        {"format 888, 3 x 3", 888, 3, 3, 12, 3, 64, 0},
        {"format 8888, 4 x 5", 8888, 4, 5, 16, 4, 128, 0},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(c.xs, c.ys, c.fmt));
        CHECK(im.haspixels());
        CHECK_EQ(im.width, c.xs);
        CHECK_EQ(im.height, c.ys);
        CHECK_EQ(im.format, c.fmt);
        CHECK_EQ(im.rowlength, c.rowlength);
        CHECK_EQ(im.stride, c.stride);
        CHECK_EQ(im.blocksize, c.blocksize);
        CHECK_EQ(im.ownership, image_owned);
        CHECK_EQ(((uptr)im.pixels) & 15, 0);
        CHECK_EQ(im.palette != nullptr, c.palettewords != 0);
        if (c.palettewords == 2) {
            CHECK_EQ(im.palette[0], 0x000000);
            CHECK_EQ(im.palette[1], 0xFFFFFF);
        }
        if (c.fmt == 8)
            CHECK_EQ(im.palette[200], 200 * 0x010101u);
        if (c.fmt == 332) {
            CHECK_EQ(im.palette[0xFF], 0xE0E0C0);
            CHECK_EQ(im.palette[0xE0], 0xE00000);
            CHECK_EQ(im.palette[0x1C], 0x00E000);
            CHECK_EQ(im.palette[0x03], 0x0000C0);
        }
    }
    kzvtest::setrow(nullptr);
}

// Sizes that wrap in 32 bits, or pass the caps, leave the image without pixels,
// and then every operation is a no-op.
TEST(openrefusessizes)
{
    static const struct { char const* name; u32 xs, ys, fmt; } cases[] = {
        {"unknown format", 10, 10, 777},
        {"side above the cap", 70000, 1, 888},
        {"height above the cap", 1, 70000, 565},
        {"65536 squared wraps to 0 in 32 bits", 65536, 65536, 8888},
        {"4 GiB of 888 passes the byte cap", 32768, 32768, 888},
        {"1 GiB of 8888 passes the byte cap", 16384, 16384, 8888},
        {"4294967295 wide", 0xFFFFFFFFu, 2, 1},
    };
    image src;
    CHECK(src.open(4, 4, 888));
    src.clear(0x123456);
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(!im.open(c.xs, c.ys, c.fmt));
        CHECK(!im.haspixels());
        CHECK(im.pixels == nullptr);
        CHECK_EQ(im.width, 0);
        CHECK_EQ(im.height, 0);
        im.setpixel(0, 0, 0xFFFFFF);
        CHECK_EQ(im.getpixel(0, 0), 0);
        im.clear(0);
        im.clear(0xFFFFFF);
        im.copy(&src, 0, 0, 0, 0, 0, 0);
        im.fillrect(0, 0, 100, 100, 0xFF);
        im.drawline(0, 0, 50, 50, 0xFF, 3.0f);
        im.fillcircle(5, 5, 4.0f, 0xFF);
        int rows = 0;
        data* out = nullptr;
        rows = im.read(&out, 128);
        CHECK_EQ(rows, 0);
        CHECK(out == &im);
    }
    kzvtest::setrow(nullptr);
}

static void* refusingsource(int) { return nullptr; }

// A pool that cannot grow answers null; open reports it and keeps no pixels.
TEST(openwhenpoolrefuses)
{
    memsystemsource saved = mem_systemsource;
    mem_systemsource = refusingsource;
    image im;
    bool opened = im.open(8000, 8000, 8888);      // 256 MB, more than the process block holds
    mem_systemsource = saved;
    CHECK(!opened);
    CHECK(!im.haspixels());
    CHECK_EQ(im.width, 0);
    CHECK(im.open(8, 8, 8888));                   // the pool is still usable
}

TEST(wrap)
{
    alignas(16) static u8 buffer[64 * 16];
    static const struct { char const* name; u32 fmt, xs, ys, rowbytes; bool ok; u32 stride; } cases[] = {
        {"332, row bytes computed", 332, 10, 4, 0, true, 10},
        {"555, row bytes computed", 555, 10, 4, 0, true, 10},
        {"565 with a wider stride", 565, 10, 4, 64, true, 32},
        {"888, row bytes computed", 888, 10, 4, 0, true, 10},
        {"8888 with a wider stride", 8888, 10, 4, 60, true, 15},
        {"format 1 is never wrapped", 1, 10, 4, 0, false, 0},
        {"format 8 is never wrapped", 8, 10, 4, 0, false, 0},
        {"unknown format", 444, 10, 4, 0, false, 0},
        {"rows narrower than their pixels", 888, 10, 4, 36, false, 0},
        {"565 rows of an odd byte count", 565, 10, 4, 21, false, 0},
        {"888 rows not a whole number of pixels", 888, 10, 4, 42, false, 0},
        {"332 rows of any byte count", 332, 10, 4, 13, true, 13},
        {"side above the cap", 565, 40000, 1, 0, false, 0},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK_EQ(im.open(buffer, c.xs, c.ys, c.fmt, c.rowbytes), c.ok);
        CHECK_EQ(im.haspixels(), c.ok);
        if (!c.ok)
            continue;
        CHECK_EQ(im.ownership, image_wrapped);
        CHECK_EQ(im.stride, c.stride);
        CHECK_EQ(im.rowlength, c.xs * pixel_bytes(c.fmt));
        CHECK_EQ(im.palette != nullptr, c.fmt == 332);
    }
    kzvtest::setrow("misaligned 16-bit pixels");
    image im;
    CHECK(!im.open(buffer + 1, 4, 4, 565, 0));
    kzvtest::setrow("misaligned 32-bit pixels");
    CHECK(!im.open(buffer + 2, 4, 4, 888, 0));
    kzvtest::setrow("null buffer");
    CHECK(!im.open(nullptr, 4, 4, 888, 0));
    kzvtest::setrow(nullptr);
}

// What setpixel stores for a colour, and what getpixel_truecolor gives back.
TEST(packing)
{
    static const struct { char const* name; u32 fmt, colour, stored, truecolor; } cases[] = {
        {"332 white", 332, 0xFFFFFF, 0xFF, 0xE0E0C0},
        {"332 fields", 332, 0xA05F3C, 0xA8, 0xA04000},
        {"555 white", 555, 0xFFFFFF, 0x7FFF, 0xF8F8F8},
        {"555 fields", 555, 0x123456, 0x08CA, 0x103050},
        {"565 white", 565, 0xFFFFFF, 0xFFFF, 0xF8F8F8},
        {"565 fields", 565, 0x123456, 0x11AA, 0x103050},
        {"565 lone green low bit dropped", 565, 0x000400, 0x0020, 0x000000},
        {"888 keeps the top byte", 888, 0xAB123456, 0xAB123456, 0xAB123456},
        {"8888 whole word", 8888, 0x7F010203, 0x7F010203, 0x7F010203},
        {"8 low byte", 8, 0x123456, 0x56, 0x56},
        {"1 any non-zero sets", 1, 0x000100, 1, 1},
        {"1 zero clears", 1, 0, 0, 0},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(3, 3, c.fmt));
        im.clear(0);
        im.setpixel(1, 2, 0xFFFFFF);
        im.setpixel(1, 2, c.colour);
        CHECK_EQ(im.getpixel(1, 2), c.stored);
        CHECK_EQ(im.getpixel_truecolor(1, 2), c.truecolor);
    }
    kzvtest::setrow(nullptr);
}

// Low bits each format keeps when a colour goes in and comes back as a word.
static u32 keptbits(u32 fmt)
{
    switch (fmt) {
    case 332: return 0xE0E0C0;
    case 555:
    case 565: return 0xF8F8F8;
    default:  return 0xFFFFFFFF;
    }
}

// An opaque 8888 source copied into each format equals packing each pixel, and
// reads back as the colour with the format's dropped bits cleared.
TEST(roundtripthrough8888)
{
    u32 seed = 0x1234567;
    image src;
    CHECK(src.open(16, 16, 8888));
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            src.setpixel(x, y, 0xFF000000 | (nextrandom(seed) & 0xFFFFFF));
    static const u32 formats[] = {332, 555, 565, 888};
    for (u32 fmt : formats) {
        image dst;
        CHECK(dst.open(16, 16, fmt));
        dst.clear(0);
        dst.copy(&src, 0, 0, 0, 0, 0, 0);
        bool same = true;
        for (int y = 0; y < 16; y++) {
            for (int x = 0; x < 16; x++) {
                u32 s = src.getpixel(x, y);
                u32 expect = fmt == 888 ? s : (s & keptbits(fmt));
                same = same && dst.getpixel_truecolor(x, y) == expect;
            }
        }
        kzvtest::setrow(fmt == 332 ? "332" : fmt == 555 ? "555" : fmt == 565 ? "565" : "888");
        CHECK(same);
    }
    kzvtest::setrow(nullptr);
}

// Writes outside the image change nothing, reads there give 0; checked on a
// window wrapped inside a larger buffer whose border must stay untouched.
TEST(clippedaccess)
{
    alignas(16) static u32 buffer[12 * 10];
    for (u32 fmt : wrapformats) {
        u32 bpp = pixel_bytes(fmt);
        for (u32& w : buffer)
            w = 0xA5A5A5A5;
        u8* base = (u8*)buffer;
        u32 rowbytes = 12 * 4;
        image im;
        CHECK(im.open(base + rowbytes * 2 + 2 * 4, 5, 4, fmt, rowbytes));
        static const int offimage[][2] = {{5, 0}, {-1, 0}, {0, -1}, {0, 4}, {-1, -1}, {5, 4},
                                          {1 << 30, 0}, {0, -(1 << 30)}, {-2147483647 - 1, 3}};
        for (auto& p : offimage) {
            im.setpixel(p[0], p[1], 0xFFFFFF);
            im.setpixel_fixedalpha(p[0], p[1], 0xFFFFFF, 128);
            CHECK_EQ(im.getpixel(p[0], p[1]), 0);
            CHECK_EQ(im.getpixel_truecolor(p[0], p[1]), 0);
        }
        bool guard = true;
        for (u32 i = 0; i < 12 * 10; i++)
            guard = guard && buffer[i] == 0xA5A5A5A5;
        CHECK(guard);
        im.setpixel(4, 3, 0);       // the last pixel lies inside
        CHECK_EQ(im.getpixel(4, 3), 0);
        CHECK_EQ(base[rowbytes * 5 + 2 * 4 + 4 * bpp + bpp], 0xA5);
    }
}

TEST(clearformats)
{
    image one;
    CHECK(one.open(13, 3, 1));
    one.clear(0x010000);
    bool allset = true;
    for (u32 i = 0; i < one.rowlength * 3; i++)
        allset = allset && one.pixels[i] == 0xFF;
    CHECK(allset);
    one.clear(0);
    bool allclear = true;
    for (u32 i = 0; i < one.rowlength * 3; i++)
        allclear = allclear && one.pixels[i] == 0;
    CHECK(allclear);
    CHECK_EQ(one.palette[1], 0xFFFFFF);          // clear(0) stops at the pixels

    image grey;
    CHECK(grey.open(4, 4, 8));
    grey.clear(0);
    grey.clear(0x808080);                         // format 8 keeps its pixels
    CHECK_EQ(grey.getpixel(3, 3), 0);

    static const struct { u32 fmt, colour, stored; } fills[] = {
        {332, 0x00FF00, 0x1C}, {555, 0x0000FF, 0x1F}, {565, 0xFF0000, 0xF800},
        {888, 0x12345678, 0x12345678}, {8888, 0x80FFFFFF, 0x80FFFFFF},
    };
    for (auto& f : fills) {
        image im;
        CHECK(im.open(7, 3, f.fmt));
        im.clear(f.colour);
        bool every = true;
        for (int y = 0; y < 3; y++)
            for (int x = 0; x < 7; x++)
                every = every && im.getpixel(x, y) == f.stored;
        CHECK(every);
    }
}

// A wrapped window inside a larger screen: clear touches only the window's rows
// and columns, for 0 as for any colour.
TEST(clearwindowoverstride)
{
    alignas(16) static u32 screen[20 * 12];
    for (u32 fmt : wrapformats) {
        static const u32 colours[] = {0, 0x00FFFFFF};
        for (u32 colour : colours) {
            for (u32& w : screen)
                w = 0x5A5A5A5A;
            u32 bpp = pixel_bytes(fmt);
            u32 rowbytes = 20 * 4;
            u32 wx = 3, wy = 2, ww = 6, wh = 5;
            image window;
            CHECK(window.open((u8*)screen + wy * rowbytes + wx * bpp, ww, wh, fmt, rowbytes));
            window.clear(colour);
            bool outsideuntouched = true, insidecleared = true;
            u8 const* b = (u8 const*)screen;
            for (u32 y = 0; y < 12; y++) {
                for (u32 x = 0; x < rowbytes; x++) {
                    bool in = y >= wy && y < wy + wh && x >= wx * bpp && x < (wx + ww) * bpp;
                    if (!in)
                        outsideuntouched = outsideuntouched && b[y * rowbytes + x] == 0x5A;
                    else if (colour == 0)
                        insidecleared = insidecleared && b[y * rowbytes + x] == 0;
                }
            }
            CHECK(outsideuntouched);
            CHECK(insidecleared);
        }
    }
}

// The blend rule: two products, each shifted right by 8, summed and masked.
TEST(fixedalpha)
{
    static const struct { char const* name; u32 fmt, old, colour, alpha, result; } cases[] = {
        {"888 full weight gives 255/256", 888, 0x000000, 0xFFFFFF, 255, 0xFEFEFE},
        {"888 zero weight keeps 255/256 of old", 888, 0xFFFFFF, 0x000000, 0, 0xFEFEFE},
        {"888 half", 888, 0x000000, 0xFF8040, 128, 0x7F4020},
        {"888 clears the top byte", 888, 0xFF000000, 0x000000, 255, 0x000000},
        {"8888 stores the alpha given", 8888, 0x11223344, 0xAABBCC, 0x40, 0x40AABBCC},
        {"8888 ignores the colour's own alpha", 8888, 0, 0x99AABBCC, 0x40, 0x40AABBCC},
        {"565 white at 255", 565, 0x0000, 0xFFFFFF, 255, 0xF7DE},
        {"565 from white at 0", 565, 0xFFFF, 0x000000, 0, 0xF7DE},
        {"555 white at 255", 555, 0x0000, 0xFFFFFF, 255, 0x7BDE},
        {"332 white at 255", 332, 0x00, 0xFFFFFF, 255, 0xDA},
        {"332 half over white", 332, 0xFF, 0x000000, 128, 0x6D},
        {"format 8 does not blend", 8, 0x12, 0xFFFFFF, 200, 0x12},
        {"format 1 does not blend", 1, 1, 0, 200, 1},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(2, 2, c.fmt));
        im.clear(0);
        if (c.fmt == 888 || c.fmt == 8888)
            im.row32(1)[1] = c.old;
        else if (c.fmt == 555 || c.fmt == 565)
            im.row16(1)[1] = (u16)c.old;
        else if (c.fmt == 1)
            im.setpixel(1, 1, c.old);
        else
            im.row8(1)[1] = (u8)c.old;
        im.setpixel_fixedalpha(1, 1, c.colour, c.alpha);
        CHECK_EQ(im.getpixel(1, 1), c.result);
    }
    kzvtest::setrow(nullptr);
}

// 8888 words drawn over other formats by copy: alpha 5 and below leaves the
// pixel, 251 and above writes it opaque, in between blends.
TEST(blendfrom8888)
{
    static const struct { char const* name; u32 fmt, old, source, result; } cases[] = {
        {"888, 0x05FFFFFF leaves it", 888, 0x123456, 0x05FFFFFF, 0x123456},
        {"888, alpha 6 blends with weight 6", 888, 0x000000, 0x06FFFFFF, 0x050505},
        {"888, 0xFB000000 stored whole", 888, 0xFFFFFF, 0xFB000000, 0xFB000000},
        {"888, alpha 250 blends", 888, 0x000000, 0xFAFFFFFF, 0xF9F9F9},
        {"565, 0x05FFFFFF leaves it", 565, 0x1234, 0x05FFFFFF, 0x1234},
        {"565, alpha 6", 565, 0x0000, 0x06FFFFFF, 0x0020},
        {"565, 0xFB000000 writes black", 565, 0xFFFF, 0xFB000000, 0x0000},
        {"565, alpha 128 over white", 565, 0xFFFF, 0x80000000, 0x7BEF},
        {"555, 0xFB000000 writes black", 555, 0x7FFF, 0xFB000000, 0x0000},
        {"555, alpha 128 of white", 555, 0x0000, 0x80FFFFFF, 0x3DEF},
        {"332, 0xFB000000 writes black", 332, 0xFF, 0xFB000000, 0x00},
        {"332, alpha 128 of white", 332, 0x00, 0x80FFFFFF, 0x6D},
        {"332, 0x05FFFFFF leaves it", 332, 0x5A, 0x05FFFFFF, 0x5A},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image src, dst;
        CHECK(src.open(1, 1, 8888));
        CHECK(dst.open(1, 1, c.fmt));
        src.row32(0)[0] = c.source;
        if (c.fmt == 888)
            dst.row32(0)[0] = c.old;
        else if (c.fmt == 332)
            dst.row8(0)[0] = (u8)c.old;
        else
            dst.row16(0)[0] = (u16)c.old;
        dst.copy(&src, 0, 0, 0, 0, 0, 0);
        CHECK_EQ(dst.getpixel(0, 0), c.result);
    }
    kzvtest::setrow(nullptr);
}

// Fills src with distinct values: the column in the low byte, the row above it.
static void numberpixels(image& im)
{
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++)
            im.setpixel(x, y, 0xFF000000u | (u32)y << 8 | (u32)x);
}

// The destination after a copy: which source pixel each pixel came from, or 0.
static bool copyis(image& dst, int dx, int dy, int sx, int sy, int w, int h)
{
    for (int y = 0; y < dst.height; y++) {
        for (int x = 0; x < dst.width; x++) {
            bool in = x >= dx && x < dx + w && y >= dy && y < dy + h;
            u32 expect = in ? (0xFF000000u | (u32)(y - dy + sy) << 8 | (u32)(x - dx + sx)) : 0;
            if (dst.getpixel(x, y) != expect)
                return false;
        }
    }
    return true;
}

// Clipping at both images; the values of the call and the rectangle that results.
TEST(copyclipping)
{
    static const struct {
        char const* name;
        int dx, dy, w, h, sx, sy;
        int rdx, rdy, rw, rh, rsx, rsy;      // the copied rectangle
    } cases[] = {
        {"whole source", 2, 3, 0, 0, 0, 0, 2, 3, 10, 8, 0, 0},
        {"dx = -5 copies from sx + 5 to column 0", -5, 0, 0, 0, 0, 0, 0, 0, 10 - 5, 8, 5, 0},
        {"w = 0 with sx > 0 stops at the source's edge", 0, 0, 0, 0, 4, 2, 0, 0, 6, 6, 4, 2},
        {"negative sx moves the destination", 0, 0, 5, 5, -2, -3, 2, 3, 3, 2, 0, 0},
        {"destination edge cuts the width", 15, 10, 0, 0, 0, 0, 15, 10, 5, 4, 0, 0},
        {"source rectangle partly past the source", 0, 0, 8, 8, 6, 6, 0, 0, 4, 2, 6, 6},
        {"source start past the source", 0, 0, 3, 3, 10, 0, 0, 0, 0, 0, 0, 0},
        {"negative width", 0, 0, -3, 2, 0, 0, 0, 0, 0, 0, 0, 0},
        {"far off", 2147483647, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {"far before", -2147483647 - 1, -2147483647 - 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    static const u32 formats[] = {888, 8888};
    for (u32 fmt : formats) {
        image src;
        CHECK(src.open(10, 8, fmt));
        numberpixels(src);
        for (auto& c : cases) {
            kzvtest::setrow(c.name);
            image dst;
            CHECK(dst.open(20, 14, fmt));
            dst.clear(0);
            dst.copy(&src, c.dx, c.dy, c.w, c.h, c.sx, c.sy);
            CHECK(copyis(dst, c.rdx, c.rdy, c.rsx, c.rsy, c.rw, c.rh));
        }
    }
    kzvtest::setrow(nullptr);
}

// Each supported pair converts; the others leave the destination unchanged.
TEST(copyformatpairs)
{
    for (u32 d : allformats) {
        for (u32 s : allformats) {
            image src, dst;
            CHECK(src.open(4, 3, s));
            CHECK(dst.open(4, 3, d));
            src.clear(0);
            src.setpixel(1, 1, 0xFFFFFFFF);
            dst.clear(0);
            dst.copy(&src, 0, 0, 0, 0, 0, 0);
            bool supported = d == s ? d != 8
                                    : ((d == 332 || d == 555 || d == 565) && (s == 888 || s == 8888)) ||
                                          (d == 888 && (s == 8888 || s == 8));
            char name[32] = "dst ____ src ____";
            for (int i = 0, v = (int)d; i < 4 && v; i++, v /= 10)
                name[7 - i] = (char)('0' + v % 10);
            for (int i = 0, v = (int)s; i < 4 && v; i++, v /= 10)
                name[16 - i] = (char)('0' + v % 10);
            kzvtest::setrow(name);
            CHECK_EQ(dst.getpixel(1, 1) != 0, supported);
            CHECK_EQ(dst.getpixel(0, 0), 0);
        }
    }
    kzvtest::setrow(nullptr);
}

TEST(copyfrom8throughpalette)
{
    image grey, rgb;
    CHECK(grey.open(3, 1, 8));
    CHECK(rgb.open(3, 1, 888));
    grey.setpixel(0, 0, 0x00);
    grey.setpixel(1, 0, 0x7F);
    grey.setpixel(2, 0, 0xFF);
    rgb.copy(&grey, 0, 0, 0, 0, 0, 0);
    CHECK_EQ(rgb.getpixel(0, 0), 0x000000);
    CHECK_EQ(rgb.getpixel(1, 0), 0x7F7F7F);
    CHECK_EQ(rgb.getpixel(2, 0), 0xFFFFFF);
}

// Format 1 copies bits within the clipped rectangle only.
TEST(copyformat1)
{
    image src, dst;
    CHECK(src.open(12, 5, 1));
    CHECK(dst.open(20, 9, 1));
    src.clear(1);
    dst.clear(0);
    dst.copy(&src, 6, 2, 3, 2, 0, 0);
    int set = 0;
    for (int y = 0; y < 9; y++)
        for (int x = 0; x < 20; x++)
            set += (int)dst.getpixel(x, y);
    CHECK_EQ(set, 6);
    CHECK_EQ(dst.getpixel(6, 2), 1);
    CHECK_EQ(dst.getpixel(8, 3), 1);
    CHECK_EQ(dst.getpixel(9, 3), 0);
    dst.clear(0);
    dst.copy(&src, -3, 7, 0, 0, 0, 0);           // 9 columns, 2 rows
    set = 0;
    for (int y = 0; y < 9; y++)
        for (int x = 0; x < 20; x++)
            set += (int)dst.getpixel(x, y);
    CHECK_EQ(set, 18);
}

// A copy within one image whose source and destination overlap moves the
// pixels as if through a second buffer.
TEST(copyoverlapping)
{
    static const u32 formats[] = {565, 888, 1};
    static const int shifts[] = {1, -1};
    for (u32 fmt : formats) {
        for (int shift : shifts) {
            image im, original;
            CHECK(im.open(9, 7, fmt));
            CHECK(original.open(9, 7, fmt));
            u32 seed = 99;
            for (int y = 0; y < 7; y++)
                for (int x = 0; x < 9; x++) {
                    u32 v = nextrandom(seed);
                    im.setpixel(x, y, fmt == 1 ? (v & 1) : v);
                    original.setpixel(x, y, fmt == 1 ? (v & 1) : v);
                }
            im.copy(&im, 1 + shift, 1 + shift, 6, 4, 1, 1);
            bool same = true;
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 6; x++)
                    same = same && im.getpixel(1 + shift + x, 1 + shift + y) == original.getpixel(1 + x, 1 + y);
            kzvtest::setrow(fmt == 1 ? "format 1" : fmt == 565 ? "565" : "888");
            CHECK(same);
        }
    }
    kzvtest::setrow(nullptr);
}

// A kzv image of encoding 57 in memory: little-endian 0xAARRGGBB words.
static u32 makeres(u8* out, u32 w, u32 h, u32 const* words, u8 encoding)
{
    for (u32 i = 0; i < 32; i++)
        out[i] = 0;
    out[0] = 'k', out[1] = 'z', out[2] = 'v', out[3] = ' ';
    out[4] = 0xCD, out[5] = 0xEF, out[6] = encoding;
    out[8] = (u8)w, out[9] = (u8)(w >> 8), out[10] = (u8)h, out[11] = (u8)(h >> 8);
    for (u32 i = 0; i < w * h; i++)
        for (u32 b = 0; b < 4; b++)
            out[32 + 4 * i + b] = (u8)(words[i] >> (8 * b));
    return 32 + w * h * 4;
}

TEST(copyresource57)
{
    static const u32 words[6] = {0xFDFF0000, 0xFC0000FF, 0x06FFFFFF, 0x05FFFFFF, 0x00123456, 0xFF00FF00};
    u8 res[32 + 6 * 4 + 1];
    u32 length = makeres(res + 1, 3, 2, words, 57);   // at an odd address: read byte by byte
    image im;
    CHECK(im.open(5, 4, 888));
    im.clear(0x101010);
    im.copyres(res + 1, length, 1, 1);
    CHECK_EQ(im.getpixel(1, 1), 0xFF0000);                                  // alpha 253: opaque
    CHECK_EQ(im.getpixel(2, 1), pixel_blend888(0x101010, 0x0000FF, 0xFC));  // alpha 252: blended
    CHECK_EQ(im.getpixel(3, 1), pixel_blend888(0x101010, 0xFFFFFF, 6));
    CHECK_EQ(im.getpixel(1, 2), 0x101010);                                  // alpha 5: skipped
    CHECK_EQ(im.getpixel(2, 2), 0x101010);
    CHECK_EQ(im.getpixel(3, 2), 0x00FF00);
    CHECK_EQ(im.getpixel(0, 0), 0x101010);

    kzvtest::setrow("other encodings are not drawn");
    makeres(res + 1, 3, 2, words, 54);
    im.clear(0);
    im.copyres(res + 1, length, 0, 0);
    CHECK_EQ(im.getpixel(0, 0), 0);
    kzvtest::setrow("pixels past the given length are not read");
    makeres(res + 1, 3, 2, words, 57);
    im.copyres(res + 1, length - 1, 0, 0);
    CHECK_EQ(im.getpixel(0, 0), 0);
    kzvtest::setrow("a header cut short");
    im.copyres(res + 1, 31, 0, 0);
    CHECK_EQ(im.getpixel(0, 0), 0);
    kzvtest::setrow("drawn partly off the image");
    im.copyres(res + 1, length, 2, -1);          // only the second row lands, at y = 0
    CHECK_EQ(im.getpixel(4, 0), 0x00FF00);
    CHECK_EQ(im.getpixel(2, 0), 0);
    CHECK_EQ(im.getpixel(2, 1), 0);
    kzvtest::setrow("placed at the ends of the int range");
    image band;
    CHECK(band.open(8, 3, 888));
    band.clear(0);
    static const int far[][2] = {{2147483647 - 1, 0}, {0, 2147483647 - 1}, {-2147483647 - 1, 0},
                                 {0, -2147483647 - 1}};
    for (auto& at : far)
        band.copyres(res + 1, length, at[0], at[1]);
    bool untouched = true;
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 8; x++)
            untouched = untouched && band.getpixel(x, y) == 0;
    CHECK(untouched);
    kzvtest::setrow(nullptr);
}

// Every wrapped 332 image reads the shared palette, so no path meets a null one.
TEST(wrapped332palette)
{
    alignas(16) static u8 pixels[4 * 4];
    image im;
    CHECK(im.open(pixels, 4, 4, 332, 0));
    CHECK(im.palette != nullptr);
    im.setpixel(2, 2, 0xFFFFFF);
    CHECK_EQ(im.getpixel_truecolor(2, 2), 0xE0E0C0);
    CHECK_EQ(im.palette[0x1C], 0x00E000);
    im.drawroundedrect(0, 0, 4, 4, 1, 1, 0xFF0000);   // reads the background through it
    CHECK_EQ(im.getpixel(1, 0), 0xE0);
}

TEST(serialnumbers)
{
    image a, b;
    CHECK(b.serial > a.serial);
    s32 before = b.serial;
    CHECK(b.open(2, 2, 888));
    CHECK(b.serial > before);
    s32 taken = image::nextserial();
    CHECK(taken > b.serial);
    image c;
    CHECK(c.serial > taken);
    b.exit(false);
    CHECK(b.serial > c.serial);
}

// Re-opening resets the record but keeps both pins' connections, the pool and
// the module fields.
TEST(reopenkeepspins)
{
    image im, other;
    im.in.peer = &other.out;
    im.out.peer = &other.in;
    CHECK(im.open(4, 4, 565));
    im.status = imagestatus_changed;
    im.framecounter = 9;
    CHECK(im.open(8, 2, 888));
    CHECK(im.in.peer == &other.out);
    CHECK(im.out.peer == &other.in);
    CHECK(im.in.owner == &im);
    CHECK(im.pool == &process->pool);
    CHECK(im.callback == image_concb);
    CHECK_STR(im.name, "image");
    CHECK_EQ(im.type, type_scanline);
    CHECK_EQ(im.status, 0);
    CHECK_EQ(im.framecounter, 0);
    CHECK_EQ(im.width, 8);
    im.exit(true);
    CHECK(!im.haspixels());
    CHECK(im.pixels == nullptr);
    im.exit(true);                                // twice frees nothing twice
}

// The row reader: the first read prepares, then one row a read, then the end.
TEST(rowreader)
{
    image im;
    CHECK(im.open(2, 2, 565));
    im.setpixel(0, 0, 0xFFFFFF);
    im.setpixel(1, 1, 0xFF0000);
    data* out = nullptr;
    CHECK_EQ(image_concb(&im, 'D', 128, 0, &out), 0);
    CHECK(out == &im);
    CHECK(im.flags & image_recordready);
    CHECK_EQ(im.type, type_scanline);
    CHECK_EQ(im.kind.scanline.pixelformat, 565);
    CHECK_EQ(im.kind.scanline.width, 2);
    CHECK_EQ(im.kind.scanline.height, 2);
    CHECK_EQ(im.size, 4);
    CHECK_EQ(image_concb(&im, 'D', 128, 0, &out), 1);
    CHECK_EQ(im.kind.scanline.line, 0);
    CHECK(im.payload == im.pixels);
    CHECK_EQ(((u16 const*)im.payload)[0], 0xFFFF);
    CHECK_EQ(image_concb(&im, 'D', 128, 0, &out), 1);
    CHECK_EQ(im.kind.scanline.line, 1);
    CHECK_EQ(((u16 const*)im.payload)[1], 0xF800);
    CHECK(!(im.flags & image_endofdata));
    CHECK_EQ(image_concb(&im, 'D', 128, 0, &out), 0);
    CHECK(im.flags & image_endofdata);
    CHECK_EQ(im.rowstate, imagerows_start);

    kzvtest::setrow("a wrapped window walks its stride");
    alignas(16) static u32 screen[6 * 3];
    image window;
    CHECK(window.open(screen + 1, 3, 3, 888, 6 * 4));
    CHECK_EQ(window.read(&out, 128), 0);
    CHECK_EQ(window.size, 12);
    CHECK_EQ(window.read(&out, 128), 1);
    CHECK_EQ(window.read(&out, 128), 1);
    CHECK(window.payload == screen + 7);
    CHECK_EQ(window.kind.scanline.palette == nullptr, true);
    kzvtest::setrow("the palette travels with 332 rows");
    image p;
    CHECK(p.open(2, 1, 332));
    p.read(&out, 128);
    CHECK(p.kind.scanline.palette == p.palette);
    kzvtest::setrow(nullptr);
}

TEST(defaultreplies)
{
    image im;
    CHECK_EQ(image_concb(&im, '>', 0, 0, nullptr), 1);
    CHECK_EQ(image_concb(&im, 'S', 0, 0, nullptr), 1);
    CHECK_EQ(image_concb(&im, 'W', 0, 0, nullptr), 1);
    CHECK_EQ(image_concb(&im, '^', 0, 0, nullptr), 1);
    CHECK_EQ(image_concb(&im, 'F', 0, 0, nullptr), -1);
    void* answer = &im;
    CHECK_EQ(image_concb(&im, 'E', 0, 0, &answer), 0);
    CHECK(answer == nullptr);
    CHECK_EQ(image_concb(&im, 'E', 0, 0, nullptr), 0);
    CHECK_EQ(image_concb(&im, 'I', 0, 0, "text"), 0);
    CHECK_EQ(image_concb(&im, 'B', 0, 0, nullptr), 0);
    data* out = nullptr;
    CHECK_EQ(image_concb(&im, 'D', 128, 0, &out), 0);    // no pixels: nothing to read
    CHECK(out == &im);
}
