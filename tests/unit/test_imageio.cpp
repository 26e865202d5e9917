// Scanline exchange: every format pair of drawscanline with its thresholds, the
// width and alignment refusals, putscanline at the origin, and kzv files both
// ways: savekzv then drawimage gives the pixels back, a wrapped 332 window saves
// (kzv and PNG) in its palette colours, a second save gives the same file, the embedded icons draw on 888, 565 and 555 images, and every failure
// (no rows, 555, no such folder, a full disk, a damaged stream, a wrong extension)
// answers false and leaves no partial file, without stepping other modules.
#include "../harness/harness.h"
#include "streamtestfiles.h"
#include "../../framework/filepacket.h"
#include "../../framework/mem.h"
#include "../../framework/resources.h"
#include "../../framework/sysprocess.h"
#include "../../gui/image.h"
#include "../../gui/imageio.h"
#include "../../gui/pixelformat.h"
#include "../../gui/scanline.h"

using namespace kzv;
using kzvtest::scratchpath;
using kzvtest::SCRATCHPATH_CAPACITY;

namespace {

// A scanline record over `pixels`, as a decoder hands one out.
void makerecord(data& rec, u32 format, u32 width, s32 line, void const* pixels, u32 size,
                u32 const* palette = nullptr)
{
    rec.clear();
    rec.type = type_scanline;
    scanline_setformat(rec, format);
    scanline_setwidth(rec, width);
    scanline_setheight(rec, 1);
    scanline_setline(rec, line);
    scanline_setpalette(rec, palette);
    rec.payload = const_cast<void*>(pixels);
    rec.size = size;
}

u32 rowbytes(u32 format, u32 width)
{
    return format == pixfmt_1 ? (width + 7) / 8 : width * pixel_bytes(format);
}

// The pixels of an image as raw values, for comparing whole images.
bool unchangedexcept(image const& im, u32 background, int row, int x0, int x1)
{
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++) {
            bool touched = y == row && x >= x0 && x < x1;
            if (!touched && im.getpixel(x, y) != background)
                return false;
        }
    return true;
}

u32 rawof(u32 format, u32 colour)
{
    switch (format) {
    case pixfmt_565: return pixel_pack565(colour);
    case pixfmt_555: return pixel_pack555(colour);
    default: return colour;
    }
}

const u32 BG = 0x204060;
u32 const greys[2] = {0x111111, 0xEEEEEE};

} // namespace

TEST(drawscanline_converts_each_supported_pair)
{
    static u32 w888[4] = {0x112233, 0x00ABCDEF, 0xFF000001, 0x7F7F7F};
    static u32 w8888[4] = {0xFF112233, 0xFB445566, 0x80FFFFFF, 0x05FFFFFF};
    static u32 w8888b[4] = {0x06000000, 0xFA000000, 0x00FFFFFF, 0xFFFFFFFF};
    static u16 w565[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    static u8 bits[1] = {0xA0};                     // 1 0 1 0
    u32 b555 = pixel_pack555(BG), b565 = pixel_pack565(BG);
    u32 wide555 = pixel_unpack555(b555);
    struct row {
        char const* name;
        u32 imageformat, recordformat;
        void const* pixels;
        u32 const* palette;
        u32 expected[4];
    };
    const row rows[] = {
        {"888 <- 888 words as they are", 888, 888, w888, nullptr, {0x112233, 0xABCDEF, 0xFF000001, 0x7F7F7F}},
        {"888 <- 8888 opaque, blended, transparent", 888, 8888, w8888, nullptr,
         {0x112233, 0x445566, pixel_blend888(BG, 0xFFFFFF, 0x80), BG}},
        {"888 <- 8888 at the thresholds", 888, 8888, w8888b, nullptr,
         {pixel_blend888(BG, 0, 6), pixel_blend888(BG, 0, 0xFA), BG, 0xFFFFFF}},
        {"888 <- 565 widened", 888, 565, w565, nullptr, {0xF80000, 0x00F800, 0x0000F8, 0xF8F8F8}},
        {"888 <- 1 through the palette", 888, 1, bits, greys, {0xEEEEEE, 0x111111, 0xEEEEEE, 0x111111}},
        {"888 <- 1 without a palette", 888, 1, bits, nullptr, {0xFFFFFF, 0, 0xFFFFFF, 0}},
        {"565 <- 888 packed", 565, 888, w888, nullptr,
         {pixel_pack565(0x112233), pixel_pack565(0xABCDEF), pixel_pack565(1), pixel_pack565(0x7F7F7F)}},
        {"565 <- 1", 565, 1, bits, greys,
         {pixel_pack565(0xEEEEEE), pixel_pack565(0x111111), pixel_pack565(0xEEEEEE), pixel_pack565(0x111111)}},
        {"565 <- 8888 blended into the fields", 565, 8888, w8888, nullptr,
         {pixel_pack565(0x112233), pixel_pack565(0x445566), pixel_over565(b565, 0x80FFFFFF), b565}},
        {"555 <- 888 packed", 555, 888, w888, nullptr,
         {pixel_pack555(0x112233), pixel_pack555(0xABCDEF), pixel_pack555(1), pixel_pack555(0x7F7F7F)}},
        {"555 <- 8888 widened, blended as 888, packed", 555, 8888, w8888, nullptr,
         {pixel_pack555(0x112233), pixel_pack555(0x445566),
          pixel_pack555(pixel_blend888(wide555, 0xFFFFFF, 0x80)), b555}},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        image im;
        CHECK(im.open(6, 3, r.imageformat));
        im.clear(BG);
        data rec;
        makerecord(rec, r.recordformat, 4, 0, r.pixels, rowbytes(r.recordformat, 4), r.palette);
        im.drawscanline(&rec, 1, 1);
        for (int i = 0; i < 4; i++)
            CHECK_EQ(im.getpixel(1 + i, 1), r.expected[i]);
        u32 background = rawof(r.imageformat, BG);
        CHECK_EQ(im.getpixel(0, 1), background);
        CHECK_EQ(im.getpixel(5, 1), background);
        CHECK(unchangedexcept(im, background, 1, 1, 5));
    }
    kzvtest::setrow(nullptr);
    // An opaque 565 pixel from 8888 equals the packed colour; a half one lies between.
    u32 half = pixel_unpack565(pixel_over565(pixel_pack565(0x000000), 0x80FFFFFF));
    CHECK(half >> 16 > 0x60 && half >> 16 < 0x90);
}

TEST(drawscanline_refuses_what_it_cannot_draw)
{
    static u32 row10[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    static u32 words[5];
    struct row {
        char const* name;
        u32 imageformat, recordformat;
        int x, y;
        u32 size;
        u32 offset;             // bytes into the pixels: misaligned rows
    };
    const row rows[] = {
        {"ends past the right edge", 888, 888, 95, 5, 40, 0},
        {"starts left of the image", 888, 888, -1, 5, 40, 0},
        {"above the image", 888, 888, 0, -1, 40, 0},
        {"below the image", 888, 888, 0, 10, 40, 0},
        {"payload shorter than the width", 888, 888, 0, 5, 39, 0},
        {"no payload", 888, 888, 0, 5, 0, 0},
        {"pixels not aligned", 888, 8888, 0, 5, 40, 1},
        {"8888 into 8888", 8888, 8888, 0, 5, 40, 0},
        {"565 into 565", 565, 565, 0, 5, 20, 0},
        {"888 into 332", 332, 888, 0, 5, 40, 0},
        {"332 into 888", 888, 332, 0, 5, 10, 0},
        {"1 into 1", 1, 1, 0, 5, 2, 0},
        {"888 into 8", 8, 888, 0, 5, 40, 0},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        image im;
        CHECK(im.open(100, 10, r.imageformat));
        im.clear(0);
        data rec;
        void const* pixels = r.size == 0 ? nullptr : (u8 const*)row10 + r.offset;
        makerecord(rec, r.recordformat, 10, 0, pixels, r.size);
        im.drawscanline(&rec, r.x, r.y);
        CHECK(unchangedexcept(im, 0, -1, 0, 0));
    }
    kzvtest::setrow(nullptr);
    image im;
    CHECK(im.open(100, 10, 888));
    im.clear(0);
    data rec;
    makerecord(rec, 888, 10, 0, row10, 40);
    im.drawscanline(&rec, 90, 9);
    CHECK_EQ(im.getpixel(90, 9), 1);
    CHECK_EQ(im.getpixel(99, 9), 10);
    im.drawscanline(nullptr, 0, 0);
    makerecord(rec, 888, 0, 0, words, 0);
    im.drawscanline(&rec, 100, 0);          // an empty row at the right edge fits
    CHECK(unchangedexcept(im, 0, 9, 90, 100));
}

TEST(putscanline_stores_rows_at_the_origin)
{
    static u32 w8888[3] = {0x80112233, 0x00445566, 0xFF778899};
    static u32 w888[3] = {0x112233, 0x445566, 0x778899};
    static u16 w565[3] = {0xF800, 0x07E0, 0x001F};
    static u8 bits[1] = {0x50};                     // 0 1 0 1 0 0 0 0
    struct row {
        char const* name;
        u32 imageformat, recordformat;
        void const* pixels;
        s32 originx, originy, line;
        int drawnx;             // where the row lands, -1 when nothing is drawn
        u32 expected[3];
    };
    const row rows[] = {
        {"8888 into 8888, alpha included", 8888, 8888, w8888, 0, 0, 2, 0, {0x80112233, 0x00445566, 0xFF778899}},
        {"8888 into 888, alpha included", 888, 8888, w8888, 1, 1, 1, 1, {0x80112233, 0x00445566, 0xFF778899}},
        {"888 into 888", 888, 888, w888, 2, 0, 0, 2, {0x112233, 0x445566, 0x778899}},
        {"565 into 565", 565, 565, w565, 0, 2, 0, 0, {0xF800, 0x07E0, 0x001F}},
        {"888 into 565 packed", 565, 888, w888, 0, 0, 2, 0,
         {pixel_pack565(0x112233), pixel_pack565(0x445566), pixel_pack565(0x778899)}},
        {"888 into 565 too wide", 565, 888, w888, 4, 0, 2, -1, {0, 0, 0}},
        {"8888 into 8888 too wide", 8888, 8888, w8888, 3, 0, 2, -1, {0, 0, 0}},
        {"left of the image", 888, 888, w888, -1, 0, 2, -1, {0, 0, 0}},
        {"1 into 888", 888, 1, bits, 0, 0, 2, 0, {0x111111, 0xEEEEEE, 0x111111}},
        {"row outside", 888, 888, w888, 0, 2, 1, -1, {0, 0, 0}},
        {"565 into 888 unsupported", 888, 565, w565, 0, 0, 2, -1, {0, 0, 0}},
        {"888 into 555 unsupported", 555, 888, w888, 0, 0, 2, -1, {0, 0, 0}},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        image im;
        CHECK(im.open(5, 3, r.imageformat));
        im.clear(0);
        im.originx = r.originx;
        im.originy = r.originy;
        data rec;
        makerecord(rec, r.recordformat, 3, r.line, r.pixels, rowbytes(r.recordformat, 3), greys);
        im.putscanline(&rec);
        if (r.drawnx < 0) {
            CHECK(unchangedexcept(im, 0, -1, 0, 0));
            continue;
        }
        int y = r.originy + r.line;
        for (int i = 0; i < 3; i++)
            CHECK_EQ(im.getpixel(r.drawnx + i, y), r.expected[i]);
        CHECK(unchangedexcept(im, 0, y, r.drawnx, r.drawnx + 3));
    }
    kzvtest::setrow(nullptr);
    // A 1-bit row running past the right edge draws its visible part only.
    image im;
    CHECK(im.open(5, 1, 888));
    im.clear(0);
    im.originx = 3;
    static u8 ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    data rec;
    makerecord(rec, 1, 32, 0, ones, 4, greys);
    im.putscanline(&rec);
    CHECK_EQ(im.getpixel(3, 0), 0xEEEEEE);
    CHECK_EQ(im.getpixel(4, 0), 0xEEEEEE);
    CHECK_EQ(im.getpixel(2, 0), 0);
}

// ---- kzv files ------------------------------------------------------------------

namespace {

void fillpattern(image& im)
{
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++) {
            u32 v = (u32)(x * 37 + y * 101) * 0x010305u;
            if (im.format == pixfmt_1)
                im.setpixel(x, y, (x + y) % 3 == 0);
            else if (im.format == pixfmt_565)
                im.row16(y)[x] = (u16)v;
            else
                im.row32(y)[x] = v | (u32)(x & 3) << 24;
        }
}

u32 readback(image const& src, int x, int y)
{
    u32 v = src.getpixel(x, y);
    switch (src.format) {
    case pixfmt_1: return v ? 0xFFFFFF : 0;
    case pixfmt_565: return pixel_unpack565(v);
    default: return v & 0xFFFFFF;
    }
}

u32 filelength(char const* path)
{
    static u8 buffer[0x10000];
    return kzvtest::readscratch(path, buffer, sizeof buffer);
}

} // namespace

TEST(savekzv_then_drawimage_gives_the_pixels_back)
{
    static const u32 formats[] = {pixfmt_888, pixfmt_565, pixfmt_1};
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "roundtrip.kzv");
    for (u32 fmt : formats) {
        kzvtest::setrow(fmt == 888 ? "888" : fmt == 565 ? "565" : "1");
        image src;
        CHECK(src.open(37, 9, fmt));
        fillpattern(src);
        CHECK(src.savekzv(path));
        image back;
        CHECK(back.open(45, 14, pixfmt_888));
        back.clear(0x5A5A5A);
        CHECK(back.drawimage(3, 2, path));
        u32 wrong = 0;
        for (int y = 0; y < back.height; y++)
            for (int x = 0; x < back.width; x++) {
                bool inside = x >= 3 && x < 40 && y >= 2 && y < 11;
                u32 expected = inside ? readback(src, x - 3, y - 2) : 0x5A5A5A;
                wrong += back.getpixel(x, y) != expected;
            }
        CHECK_EQ(wrong, 0);
        CHECK(src.out.peer == nullptr && src.in.peer == nullptr);
        CHECK_EQ(src.rowstate, 0);
    }
    kzvtest::setrow(nullptr);
    os_unlink(path);
}

// A 332 window wrapped inside a larger buffer has no palette block of its own; both
// encoders look its bytes up in the shared 332 palette, and only the window's
// bytes reach the file.
TEST(a_wrapped_332_window_saves_in_its_palette_colours)
{
    const int BUFW = 24, BUFH = 10, X = 3, Y = 2, W = 13, H = 6;
    alignas(16) static u8 screen[BUFW * BUFH];
    for (int i = 0; i < BUFW * BUFH; i++)
        screen[i] = (u8)(i * 37 + 11);
    image window;
    CHECK(window.open(screen + Y * BUFW + X, W, H, pixfmt_332, BUFW));
    char path[SCRATCHPATH_CAPACITY];
    static char const* const kinds[] = {"kzv", "png"};
    for (char const* kind : kinds) {
        kzvtest::setrow(kind);
        bool png = kind[0] == 'p';
        scratchpath(path, png ? "window332.png" : "window332.kzv");
        CHECK(png ? window.savepng(path) : window.savekzv(path));
        image back;
        if (png) {
            CHECK(back.loadpng(path));
        } else {
            CHECK(back.open(W, H, pixfmt_888));
            CHECK(back.drawimage(0, 0, path));
        }
        CHECK_EQ(back.width, W);
        CHECK_EQ(back.height, H);
        u32 wrong = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                wrong += (back.getpixel(x, y) & 0xFFFFFF) != pixel_palette332entry(screen[(Y + y) * BUFW + X + x]);
        CHECK_EQ(wrong, 0);
        os_unlink(path);
    }
    kzvtest::setrow(nullptr);
}

TEST(a_second_save_writes_the_same_file)
{
    char first[SCRATCHPATH_CAPACITY], second[SCRATCHPATH_CAPACITY];
    scratchpath(first, "first.kzv");
    scratchpath(second, "second.kzv");
    image im;
    CHECK(im.open(50, 20, pixfmt_8888));
    fillpattern(im);
    CHECK(im.savekzv(first));
    CHECK(im.savekzv(second));
    CHECK(im.savekzv(second));
    static u8 a[8192], b[8192];
    u32 na = kzvtest::readscratch(first, a, sizeof a), nb = kzvtest::readscratch(second, b, sizeof b);
    CHECK_EQ(na, 32 + 50 * 20 * 4);
    CHECK_EQ(na, nb);
    CHECK_MEM(a, b, na);
    os_unlink(first);
    os_unlink(second);
}

TEST(a_save_gives_back_the_pins_it_borrowed)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "pins.kzv");
    image im, other;
    CHECK(im.open(4, 4, pixfmt_888));
    connect(im.out, other.in);
    CHECK(im.savekzv(path));
    CHECK(im.out.peer == &other.in);
    CHECK(other.in.peer == &im.out);
    connect(im.out, nullptr);
    connect(other.in, nullptr);
    os_unlink(path);
}

namespace {

// Counts the scheduler's steps; a save must not let it run.
class stepcounter : public module {
public:
    u32 steps;
    void setup()
    {
        memset0(this, sizeof *this);
        initheader(nullptr, "stepcounter", concb, type_bytestream);
    }
    static sptr concb(void* self, unsigned cmd, int, int, void const*)
    {
        if (cmd == '>')
            ((stepcounter*)self)->steps++;
        return 0;
    }
};

} // namespace

TEST(a_save_runs_without_stepping_other_modules)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "nosteps.kzv");
    static stepcounter counter;
    counter.setup();
    process->startthread(&counter, 0);
    image im;
    CHECK(im.open(600, 400, pixfmt_888));
    fillpattern(im);
    CHECK(im.savekzv(path));
    CHECK_EQ(counter.steps, 0);
    process->stopthread(&counter);
    os_unlink(path);
}

TEST(failed_saves_answer_false_and_leave_no_file)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "failed.kzv");
    os_unlink(path);
    struct row {
        char const* name;
        u32 width, height, format;
    };
    const row rows[] = {
        {"no rows", 13, 0, pixfmt_888},
        {"no columns", 0, 5, pixfmt_888},
        {"555 has no kzv encoding", 4, 2, pixfmt_555},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        image im;
        CHECK(im.open(r.width, r.height, r.format));
        CHECK(!im.savekzv(path));
        CHECK(!os_fileexists(path));
        CHECK(im.out.peer == nullptr);
    }
    kzvtest::setrow("an image without pixels");
    image none;
    CHECK(!none.savekzv(path));
    CHECK(!os_fileexists(path));
    kzvtest::setrow("a folder that does not exist");
    image im;
    CHECK(im.open(8, 8, pixfmt_888));
    CHECK(!im.savekzv("/tmp/kzv-no-such-folder-at-all/x.kzv"));
    CHECK(!im.savekzv(nullptr));
    kzvtest::setrow(nullptr);
    // A full disk: the writes fail, and the device itself must survive the clean-up.
    static char devfull[] = "/dev/full";
    data info;
    info.payload = devfull;
    info.size = sizeof devfull;
    if (os_fileinfo(info) && file_kind(info) == filekind_char) {
        CHECK(!im.savekzv(devfull));
        CHECK(os_fileexists(devfull));
    }
}

TEST(drawimage_draws_the_embedded_icons_on_every_window_format)
{
    image reference;
    CHECK(reference.open(32, 32, pixfmt_888));
    reference.clear(0xC0C0C0);
    CHECK(reference.drawimage(0, 0, "img/info.kzv"));
    u32 changed = 0;
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            changed += reference.getpixel(x, y) != 0xC0C0C0;
    CHECK(changed > 300);
    static const u32 formats[] = {pixfmt_565, pixfmt_555};
    for (u32 fmt : formats) {
        image im;
        CHECK(im.open(32, 32, fmt));
        im.clear(0xC0C0C0);
        CHECK(im.drawimage(0, 0, "img/info.kzv"));
        u32 far = 0;
        for (int y = 0; y < 32; y++)
            for (int x = 0; x < 32; x++) {
                u32 got = im.getpixel_truecolor(x, y), want = reference.getpixel(x, y);
                for (int shift = 0; shift < 24; shift += 8) {
                    int d = (int)(got >> shift & 255) - (int)(want >> shift & 255);
                    far += d > 16 || d < -16;      // two steps of a 5-bit field
                }
            }
        CHECK_EQ(far, 0);
    }
    image q;
    CHECK(q.open(40, 40, pixfmt_565));
    CHECK(q.drawimage(4, 4, "img/question.kzv"));
    CHECK(q.drawimage(-10, 0, "img/question.kzv"));   // every row is dropped whole
}

TEST(drawimage_refusals)
{
    char path[SCRATCHPATH_CAPACITY], plain[SCRATCHPATH_CAPACITY];
    scratchpath(path, "damaged.kzv");
    scratchpath(plain, "noextension");
    resourceentry icon;
    CHECK(resource_find("img/info.kzv", icon));
    image im;
    CHECK(im.open(40, 40, pixfmt_888));
    im.clear(0);
    struct row {
        char const* name;
        char const* path;
        u32 length;             // bytes of the icon written to the file first
    };
    const row rows[] = {
        {"another extension", "img/info.png", 0},
        {"a dot in a folder name", "./img", 0},
        {"missing", "/tmp/kzv-no-such-file.kzv", 0},
        {"empty path", "", 0},
        {"cut inside the rows", path, 32 + 4 * 32 * 10 + 3},
        {"cut inside the header", path, 20},
        {"empty file", path, 1},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        if (r.length)
            CHECK(kzvtest::writescratch(path, icon.bytes, r.length - (r.length == 1)));
        CHECK(!im.drawimage(0, 0, r.path));
    }
    kzvtest::setrow("bad magic");
    static u8 bad[4128];
    memcpy(bad, icon.bytes, sizeof bad);
    bad[0] = 'x';
    CHECK(kzvtest::writescratch(path, bad, sizeof bad));
    CHECK(!im.drawimage(0, 0, path));
    CHECK(!im.drawimage(0, 0, nullptr));
    kzvtest::setrow("a file without extension is tried");
    CHECK(kzvtest::writescratch(plain, icon.bytes, icon.size));
    CHECK(im.drawimage(0, 0, plain));
    kzvtest::setrow(nullptr);
    CHECK_EQ(filelength(plain), icon.size);
    os_unlink(path);
    os_unlink(plain);
}
