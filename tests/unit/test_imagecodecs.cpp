// Loading and saving images as PNG and BMP files: every format the writers take
// saved and loaded back (the pixels as each codec maps them), a load that replaces
// what the image held, damaged, foreign, missing and oversized files answering
// false (a cut file keeps the rows it gave, the rest cleared), saves that fail
// leaving no file, and the image's pins given back.
#include "../harness/harness.h"
#include "streamtestfiles.h"
#include "../../framework/filepacket.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "../../gui/image.h"

using namespace kzv;
using kzvtest::scratchpath;
using kzvtest::SCRATCHPATH_CAPACITY;

namespace {

void paint(image& im)
{
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++)
            im.setpixel(x, y, ((u32)x * 0x01F3D5u + (u32)y * 0x9E3779u) ^ ((u32)x << 26));
}

// The 888 (or, for PNG, 8888) pixel that a pixel of `im` comes back as.
u32 expected(image const& im, int x, int y, bool aspng)
{
    u32 v = im.getpixel(x, y);
    switch (im.format) {
    case 1:
    case 8:
    case 332: return im.palette[v] & 0xFFFFFF;
    case 555: return ((v >> 7) & 0xF8) << 16 | ((v >> 2) & 0xF8) << 8 | ((v << 3) & 0xF8);
    case 565: return ((v >> 8) & 0xF8) << 16 | ((v >> 3) & 0xF8) << 8 | ((v << 3) & 0xF8);
    case 8888: return aspng ? v : v & 0xFFFFFF;
    default: return v & 0xFFFFFF;
    }
}

bool samepixels(image const& saved, image const& loaded, bool aspng)
{
    if (loaded.width != saved.width || loaded.height != saved.height)
        return false;
    for (int y = 0; y < saved.height; y++)
        for (int x = 0; x < saved.width; x++)
            if (loaded.getpixel(x, y) != expected(saved, x, y, aspng))
                return false;
    return true;
}

char const* formatname(u32 format)
{
    switch (format) {
    case 1: return "1";
    case 8: return "8";
    case 332: return "332";
    case 555: return "555";
    case 565: return "565";
    case 888: return "888";
    default: return "8888";
    }
}

} // namespace

// PNG takes every format, BMP all but 555 and 332; both load as 888, but for
// PNG's 8888.
TEST(saved_and_loaded_in_every_format_taken)
{
    static struct {
        u32 format;
        bool png, bmp;
    } const rows[] = {
        {1, true, true}, {8, true, true}, {332, true, false}, {555, true, false},
        {565, true, true}, {888, true, true}, {8888, true, true},
    };
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "every.img");
    for (auto const& row : rows) {
        kzvtest::setrow(formatname(row.format));
        image im;
        CHECK(im.open(41, 7, row.format));
        paint(im);
        for (int aspng = 0; aspng < 2; aspng++) {
            if (!(aspng ? row.png : row.bmp))
                continue;
            CHECK(aspng ? im.savepng(path) : im.savebmp(path));
            image back;
            CHECK(aspng ? back.loadpng(path) : back.loadbmp(path));
            CHECK_EQ(back.format, aspng && row.format == 8888 ? 8888 : 888);
            CHECK(samepixels(im, back, aspng != 0));
        }
    }
    kzvtest::setrow(nullptr);
    os_unlink(path);
}

// A load replaces what the image held, and a second save writes the same file.
TEST(load_replaces_and_saves_repeat)
{
    char first[SCRATCHPATH_CAPACITY], second[SCRATCHPATH_CAPACITY];
    scratchpath(first, "first.png");
    scratchpath(second, "second.png");
    image im;
    CHECK(im.open(5, 4, 888));
    paint(im);
    CHECK(im.savepng(first));
    CHECK(im.savepng(second));
    CHECK(im.savepng(second));
    static u8 a[4096], b[4096];
    u32 na = kzvtest::readscratch(first, a, sizeof a), nb = kzvtest::readscratch(second, b, sizeof b);
    CHECK(na > 0);
    CHECK_EQ(na, nb);
    CHECK_MEM(a, b, na);
    image other;
    CHECK(other.open(3, 9, 565));
    other.clear(0xFFFFFF);
    CHECK(other.loadpng(first));
    CHECK_EQ(other.width, 5);
    CHECK_EQ(other.height, 4);
    CHECK(samepixels(im, other, true));
    os_unlink(first);
    os_unlink(second);
}

// A cut file answers false; the image has the file's size, the rows that came,
// and black where none came.
TEST(cut_files_keep_the_rows_that_came)
{
    char whole[SCRATCHPATH_CAPACITY], cut[SCRATCHPATH_CAPACITY];
    scratchpath(whole, "whole.img");
    scratchpath(cut, "cut.img");
    image im;
    CHECK(im.open(64, 64, 888));
    paint(im);
    for (int pass = 0; pass < 2; pass++) {
        bool aspng = pass == 0;
        kzvtest::setrow(aspng ? "png" : "bmp");
        CHECK(aspng ? im.savepng(whole) : im.savebmp(whole));
        static u8 bytes[20000];
        u32 n = kzvtest::readscratch(whole, bytes, sizeof bytes);
        CHECK(n > 500 && n < sizeof bytes);
        CHECK(kzvtest::writescratch(cut, bytes, n / 2));        // our BMP rows run top-down
        image back;
        CHECK(!(aspng ? back.loadpng(cut) : back.loadbmp(cut)));
        CHECK_EQ(back.width, 64);
        CHECK_EQ(back.height, 64);
        CHECK_EQ(back.getpixel(5, 0), expected(im, 5, 0, aspng));
        CHECK_EQ(back.getpixel(63, 63), 0);
    }
    kzvtest::setrow(nullptr);
    os_unlink(whole);
    os_unlink(cut);
}

TEST(failed_loads_answer_false)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "bad.img");
    static struct {
        char const* name;
        char const* bytes;
        u32 length;
    } const rows[] = {
        {"empty", "", 0},
        {"text", "neither a PNG nor a BMP file, only some words", 46},
        // A PNG of 32768 x 32768: the header is valid, the image too large to hold.
        {"too large to hold", "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x80\0\0\0\x80\0\x08\x02\0\0\0\0\0\0\0", 33},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        CHECK(kzvtest::writescratch(path, row.bytes, row.length));
        image im;
        CHECK(!im.loadpng(path));
        CHECK(!im.loadbmp(path));
        CHECK(!im.haspixels());
    }
    kzvtest::setrow("missing");
    os_unlink(path);
    image im;
    CHECK(!im.loadpng(path));
    CHECK(!im.loadbmp(path));
    CHECK(!im.loadpng(nullptr));
    kzvtest::setrow(nullptr);
}

TEST(failed_saves_answer_false_and_leave_no_file)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "failed.img");
    os_unlink(path);
    static u32 const nobmp[] = {555, 332};
    for (u32 format : nobmp) {
        kzvtest::setrow(formatname(format));
        image im;
        CHECK(im.open(4, 2, format));
        CHECK(!im.savebmp(path));
        CHECK(!os_fileexists(path));
        CHECK(im.savepng(path));                // PNG takes them
        os_unlink(path);
    }
    kzvtest::setrow("no pixels");
    image none;
    CHECK(!none.savepng(path));
    CHECK(!none.savebmp(path));
    CHECK(!os_fileexists(path));
    kzvtest::setrow("no such folder");
    image im;
    CHECK(im.open(8, 8, 888));
    CHECK(!im.savepng("/tmp/kzv-no-such-folder-at-all/x.png"));
    CHECK(!im.savebmp("/tmp/kzv-no-such-folder-at-all/x.bmp"));
    CHECK(!im.savepng(nullptr));
    kzvtest::setrow("a full disk");
    static char devfull[] = "/dev/full";
    data info;
    info.payload = devfull;
    info.size = sizeof devfull;
    if (os_fileinfo(info) && file_kind(info) == filekind_char) {
        CHECK(!im.savepng(devfull));
        CHECK(!im.savebmp(devfull));
        CHECK(os_fileexists(devfull));
    }
    kzvtest::setrow(nullptr);
}

// A save borrows the image's OUT pin and gives it back; a load leaves both pins
// as they were.
TEST(pins_are_given_back)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "pins.png");
    image im, other;
    CHECK(im.open(6, 3, 888));
    paint(im);
    connect(im.out, other.in);
    CHECK(im.savepng(path));
    CHECK(im.out.peer == &other.in);
    CHECK(im.savebmp(path));
    CHECK(im.out.peer == &other.in);
    image back;
    CHECK(back.loadpng(path) == false);         // the file is a BMP now
    CHECK(back.loadbmp(path));
    CHECK(back.in.peer == nullptr);
    CHECK(back.out.peer == nullptr);
    os_unlink(path);
}
