// Drawing primitives: the stated cases as golden pixels, then the clipped fast
// paths against a literal, unclipped walk of each algorithm (drawn through the
// clipped setpixel), on every format, with a guard border around wrapped windows
// that must stay untouched; far-off coordinates; corner masks; bitmaps.
#include "../harness/harness.h"
#include "../../gui/image.h"
#include "../../gui/cornermask.h"

using namespace kzv;

static const u32 allformats[] = {1, 8, 332, 555, 565, 888, 8888};

static u32 nextrandom(u32& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

static int randomin(u32& s, int lo, int hi) { return lo + (int)(nextrandom(s) % (u32)(hi - lo + 1)); }

// The pixels of a 888 image as a picture: '#' where the colour is set.
static bool picture(image& im, char const* const* rows, u32 colour)
{
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++)
            if ((im.getpixel(x, y) == colour) != (rows[y][x] == '#'))
                return false;
    return true;
}

static int countcolour(image& im, u32 colour)
{
    int n = 0;
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++)
            n += im.getpixel(x, y) == colour;
    return n;
}

// ---- stated cases ----------------------------------------------------------

TEST(lineonepixel)
{
    image im;
    CHECK(im.open(10, 10, 888));
    im.clear(0);
    im.drawline(5, 5, 5, 5, 0xFFFFFF, 1.0f);
    CHECK_EQ(countcolour(im, 0xFFFFFF), 1);
    CHECK_EQ(im.getpixel(5, 5), 0xFFFFFF);
}

TEST(thickhorizontalrows)
{
    image im;
    CHECK(im.open(12, 14, 888));
    im.clear(0);
    im.drawline(0, 10, 9, 10, 0xFF, 3.0f);     // trunc(10 - 1.5) = 8 up to 11.5
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 12; x++) {
            bool in = y >= 8 && y <= 11 && x <= 9;
            if ((im.getpixel(x, y) == 0xFF) != in)
                CHECK_EQ(y * 100 + x, -1);     // names the first wrong pixel
        }
    CHECK_EQ(countcolour(im, 0xFF), 40);
}

// The band's bounds are floats: x0 + h rounds to 1003.0 in single precision
// (spacing 2^-14 there), so column 1003 is drawn. A CPU that kept the sum in a
// wider register would stop at 1002; every target must draw the same columns.
TEST(thickbandboundsarefloats)
{
    image im;
    CHECK(im.open(1010, 3, 888));
    im.clear(0);
    float width = 5.99999988f;                  // h = 2.99999994, the float just below 3
    im.drawline(1000, 0, 1000, 2, 0xFF, width);
    for (int x = 990; x < 1010; x++) {
        bool in = x >= 997 && x <= 1003;
        if ((im.getpixel(x, 1) == 0xFF) != in)
            CHECK_EQ(x, -1);                    // names the first wrong column
    }
    CHECK_EQ(countcolour(im, 0xFF), 7 * 3);
}

static char const* const circle2[] = {
    "             ", "             ", "             ", "             ", "     ###     ",
    "    #####    ", "    #####    ", "    #####    ", "     ###     ", "             ",
    "             ", "             ", "             ",
};
static char const* const circle45[] = {
    "             ", "             ", "     ###     ", "    #####    ", "   #######   ",
    "  #########  ", "  #########  ", "  #########  ", "   #######   ", "    #####    ",
    "     ###     ", "             ", "             ",
};
static char const* const circle1[] = {
    "             ", "             ", "             ", "             ", "             ",
    "      #      ", "     ###     ", "      #      ", "             ", "             ",
    "             ", "             ", "             ",
};

// Patterns worked out from the midpoint steps by hand (float d of the radius).
TEST(circles)
{
    static const struct { char const* name; float r; char const* const* rows; } cases[] = {
        {"radius 1", 1.0f, circle1},
        {"radius 2", 2.0f, circle2},
        {"radius 4.5", 4.5f, circle45},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(13, 13, 888));
        im.clear(0);
        im.fillcircle(6, 6, c.r, 0xFFFFFF);
        CHECK(picture(im, c.rows, 0xFFFFFF));
    }
    kzvtest::setrow("radius 0.5 is the centre alone");
    image im;
    CHECK(im.open(5, 5, 888));
    im.clear(0);
    im.fillcircle(2, 2, 0.5f, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 1);
    CHECK_EQ(im.getpixel(2, 2), 0xFF);
    kzvtest::setrow("radius 0 is the centre alone");
    im.clear(0);
    im.fillcircle(2, 2, 0.0f, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 1);
    kzvtest::setrow("negative and not-a-number radii draw nothing");
    im.clear(0);
    float zero = 0.0f;
    im.fillcircle(2, 2, -3.0f, 0xFF);
    im.fillcircle(2, 2, zero / zero, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 0);
    kzvtest::setrow(nullptr);
}

TEST(fillrectclipped)
{
    image im;
    CHECK(im.open(20, 20, 888));
    im.clear(0);
    im.fillrect(-5, -5, 10, 10, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 25);
    CHECK_EQ(im.getpixel(4, 4), 0xFF);
    CHECK_EQ(im.getpixel(5, 4), 0);
    im.fillrect(18, 18, 1 << 30, 1 << 30, 0xFF00);
    CHECK_EQ(countcolour(im, 0xFF00), 4);
    im.fillrect(3, 3, 0, 5, 0xAA);
    im.fillrect(3, 3, -2, 5, 0xAA);
    CHECK_EQ(countcolour(im, 0xAA), 0);
    im.fillrect(2147483647, 0, 2147483647, 5, 0xAA);
    im.fillrect(-2147483647 - 1, 0, 2147483647, 20, 0xAA);
    CHECK_EQ(countcolour(im, 0xAA), 0);
}

TEST(drawrectoutline)
{
    image im;
    CHECK(im.open(8, 7, 888));
    im.clear(0);
    im.drawrect(1, 1, 5, 4, 0xFF);
    static char const* const outline[] = {
        "        ", " #####  ", " #   #  ", " #   #  ", " #####  ", "        ", "        ",
    };
    CHECK(picture(im, outline, 0xFF));
    kzvtest::setrow("a 1 x 1 rectangle is one pixel");
    im.clear(0);
    im.drawrect(3, 3, 1, 1, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 1);
    kzvtest::setrow("a 1 x 3 rectangle is a column");
    im.clear(0);
    im.drawrect(3, 2, 1, 3, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 3);
    CHECK_EQ(im.getpixel(3, 4), 0xFF);
    kzvtest::setrow("empty sizes draw nothing");
    im.clear(0);
    im.drawrect(3, 3, 0, 4, 0xFF);
    im.drawrect(3, 3, 4, -1, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 0);
    kzvtest::setrow(nullptr);
}

TEST(roundedrectbands)
{
    image im;
    CHECK(im.open(80, 80, 888));
    kzvtest::setrow("r = 32 paints the three bands only");
    im.clear(0);
    im.fillroundedrect(0, 0, 80, 80, 32, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 80 * 80 - 4 * 32 * 32);
    CHECK_EQ(im.getpixel(31, 31), 0);
    CHECK_EQ(im.getpixel(32, 0), 0xFF);
    CHECK_EQ(im.getpixel(0, 32), 0xFF);
    kzvtest::setrow("r = 0 fills the rectangle");
    im.clear(0);
    im.fillroundedrect(10, 10, 20, 15, 0, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 300);
    kzvtest::setrow("a huge r paints nothing");
    im.clear(0);
    im.fillroundedrect(10, 10, 20, 15, 0xFFFFFFFF, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 0);
    kzvtest::setrow(nullptr);
}

// Every corner pixel blends by the rule of setpixel_fixedalpha with its
// coverage as the weight. The corners mirror the mask.
TEST(roundedcorners888)
{
    image im;
    CHECK(im.open(10, 8, 888));
    im.clear(0);
    im.fillroundedrect(1, 1, 8, 6, 2, 0xFFFFFF);
    // Mask of radius 2: 82, 229 / 230, 255.
    CHECK_EQ(im.getpixel(1, 1), pixel_blend888(0, 0xFFFFFF, 82));
    CHECK_EQ(im.getpixel(2, 1), pixel_blend888(0, 0xFFFFFF, 229));
    CHECK_EQ(im.getpixel(1, 2), pixel_blend888(0, 0xFFFFFF, 230));
    CHECK_EQ(im.getpixel(2, 2), 0xFEFEFE);       // full coverage: 255/256 of the colour
    CHECK_EQ(im.getpixel(8, 1), pixel_blend888(0, 0xFFFFFF, 82));
    CHECK_EQ(im.getpixel(7, 1), pixel_blend888(0, 0xFFFFFF, 229));
    CHECK_EQ(im.getpixel(1, 6), pixel_blend888(0, 0xFFFFFF, 82));
    CHECK_EQ(im.getpixel(8, 6), pixel_blend888(0, 0xFFFFFF, 82));
    CHECK_EQ(im.getpixel(8, 5), pixel_blend888(0, 0xFFFFFF, 230));
    CHECK_EQ(im.getpixel(3, 1), 0xFFFFFF);        // the top band
    CHECK_EQ(im.getpixel(0, 0), 0);
    CHECK_EQ(im.getpixel(9, 7), 0);
}

TEST(roundedformats)
{
    kzvtest::setrow("8888 draws nothing");
    image argb;
    CHECK(argb.open(10, 10, 8888));
    argb.clear(0x11111111);
    argb.fillroundedrect(0, 0, 10, 10, 3, 0xFFFFFF);
    argb.drawroundedrect(0, 0, 10, 10, 3, 1, 0xFFFFFF);
    CHECK_EQ(countcolour(argb, 0x11111111), 100);
    kzvtest::setrow("format 1 draws nothing");
    image bits;
    CHECK(bits.open(10, 10, 1));
    bits.clear(0);
    bits.fillroundedrect(0, 0, 10, 10, 3, 0xFFFFFF);
    CHECK_EQ(countcolour(bits, 1), 0);
    kzvtest::setrow("565 blends corners in 5/6/5 fields");
    image rgb16;
    CHECK(rgb16.open(6, 6, 565));
    rgb16.clear(0);
    rgb16.fillroundedrect(0, 0, 6, 6, 2, 0xFFFFFF);
    CHECK_EQ(rgb16.getpixel(1, 1), 0xF7DE);       // coverage 255: each field one step down
    CHECK_EQ(rgb16.getpixel(0, 0), pixel_blend565(0, 0xFFFF, 82));
    kzvtest::setrow(nullptr);
}

// Full coverage blends to c x 255 / 256 per field and coverage 0 keeps 255/256
// of the old pixel, in every blending format: the corner squares are the blend
// of colour over background with the mask as weight, cell by cell.
TEST(roundedcornersblendeverycell)
{
    static const struct { char const* name; u32 fmt, full, none; } cases[] = {
        // 0x22AA44 over 0xE0E0E0, packed per format, at weight 255 and 0.
        {"332", 332, pixel_blend332(pixel_pack332(0xE0E0E0), pixel_pack332(0x22AA44), 255),
         pixel_blend332(pixel_pack332(0xE0E0E0), pixel_pack332(0x22AA44), 0)},
        {"555", 555, 0x0E87, 0x6F7B},
        {"565", 565, 0x1D27, 0xDEFB},
        {"888", 888, 0x21A943, 0xDFDFDF},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(40, 30, c.fmt));
        im.clear(0xE0E0E0);
        u32 background = im.getpixel(0, 0);
        im.fillroundedrect(0, 0, 40, 30, 10, 0x22AA44);
        u8 const* m = cornermask(10);
        bool every = true;
        for (int i = 0; i < 10; i++)
            for (int j = 0; j < 10; j++) {
                image one;
                CHECK(one.open(1, 1, c.fmt));
                one.clear(0xE0E0E0);
                one.setpixel_fixedalpha(0, 0, 0x22AA44, m[i * 10 + j]);
                every = every && im.getpixel(j, i) == one.getpixel(0, 0) &&
                        im.getpixel(39 - j, 29 - i) == one.getpixel(0, 0);
            }
        CHECK(every);
        CHECK_EQ(im.getpixel(9, 9), c.full);         // coverage 255 at the inner corner
        CHECK_EQ(im.getpixel(0, 0), c.none);         // coverage 0 at the outer corner
        CHECK(im.getpixel(0, 0) != background);
    }
    kzvtest::setrow(nullptr);
}

// The outline is the inside painted over in the colour found at (x, y).
TEST(roundedoutline)
{
    image im;
    CHECK(im.open(12, 10, 888));
    im.clear(0x336699);
    im.drawroundedrect(1, 1, 10, 8, 0, 2, 0xFF0000);
    int red = countcolour(im, 0xFF0000);
    CHECK_EQ(red, 10 * 8 - 6 * 4);
    CHECK_EQ(im.getpixel(5, 5), 0x336699);
    CHECK_EQ(im.getpixel(2, 2), 0xFF0000);
    CHECK_EQ(im.getpixel(3, 3), 0x336699);
    kzvtest::setrow("the inner colour is read from off the image as 0");
    im.clear(0x336699);
    im.drawroundedrect(-1, -1, 10, 8, 0, 2, 0xFF0000);
    CHECK_EQ(im.getpixel(3, 3), 0);
    kzvtest::setrow(nullptr);
}

TEST(bitmaps)
{
    static const struct { char const* name; char const* pattern; int count; } cases[] = {
        {"stated example", "3,2,*.*-#-", 3},
        {"missing first comma", "3 2,***", 0},
        {"missing second comma", "3,2***", 0},
        {"height 0", "3,0,***", 0},
        {"cells end early", "4,4,##", 2},
        {"empty text", "", 0},
        {"bytes above 127 set pixels", "2,1,\xE9\xFF", 2},
        {"huge sizes stop at the text's end", "99999999999999999999,99999999999,#.#", 2},
        {"width 0 with a huge height returns at once", "0,999999999,###", 0},
    };
    for (auto& c : cases) {
        kzvtest::setrow(c.name);
        image im;
        CHECK(im.open(6, 6, 888));
        im.clear(0);
        im.drawbitmap(1, 1, 0xFF, c.pattern);
        CHECK_EQ(countcolour(im, 0xFF), c.count);
    }
    kzvtest::setrow("cells at their places");
    image im;
    CHECK(im.open(6, 6, 888));
    im.clear(0);
    im.drawbitmap(0, 0, 0xFF, "3,2,*.*-#-");
    CHECK_EQ(im.getpixel(0, 0), 0xFF);
    CHECK_EQ(im.getpixel(2, 0), 0xFF);
    CHECK_EQ(im.getpixel(1, 1), 0xFF);
    CHECK_EQ(im.getpixel(1, 0), 0);
    CHECK_EQ(im.getpixel(0, 1), 0);
    kzvtest::setrow("null pattern");
    im.drawbitmap(0, 0, 0xFF, nullptr);
    kzvtest::setrow(nullptr);
}

// The rows that are given verbatim, the 16-byte alignment of every table, and
// coverage that never falls toward the inner corner.
TEST(cornermasks)
{
    static const u8 r4[16] = {0, 55, 187, 243, 55, 248, 255, 255, 187, 255, 255, 255, 244, 255, 255, 255};
    static const u8 r8row0[8] = {0, 0, 0, 0, 76, 163, 220, 243};
    static const u8 r3[9] = {11, 151, 232, 152, 255, 255, 233, 255, 255};
    static const u8 r2[4] = {82, 229, 230, 255};
    CHECK_EQ(cornermask(1)[0], 198);
    CHECK_MEM(cornermask(2), r2, 4);
    CHECK_MEM(cornermask(3), r3, 9);
    CHECK_MEM(cornermask(4), r4, 16);
    CHECK_MEM(cornermask(8), r8row0, 8);
    CHECK(cornermask(0) == nullptr);
    CHECK(cornermask(32) == nullptr);
    for (u32 r = 1; r <= CORNERMASK_MAXRADIUS; r++) {
        u8 const* m = cornermask(r);
        CHECK_EQ((uptr)m & 15, 0);
        bool monotone = true;
        for (u32 i = 0; i < r; i++)
            for (u32 j = 0; j + 1 < r; j++)
                monotone = monotone && m[i * r + j] <= m[i * r + j + 1] && m[j * r + i] <= m[(j + 1) * r + i];
        if (r != 8)                             // the drawn row 0 of radius 8 is its own
            CHECK(monotone);
        if (r >= 2)
            CHECK_EQ(m[r * r - 1], 255);
        if (r >= 5)
            CHECK_EQ(m[0], 0);
    }
}

// Edge tables, worked out by hand from the stepping. Six rows lie between two
// guard words on each side that must stay untouched; -1 in a row of the expected
// table means the row is left at 0.
TEST(traceedges)
{
    const int ROWS = 6;
    struct row {
        char const* name;
        int x0, y0, x1, y1;
        int xmin[ROWS], xmax[ROWS];
    };
    static const row rows[] = {
        {"vertical, cut to the rows", 3, -4, 3, 40, {3, 3, 3, 3, 3, 3}, {3, 3, 3, 3, 3, 3}},
        {"vertical inside", 7, 4, 7, 1, {-1, 7, 7, 7, 7, -1}, {-1, 7, 7, 7, 7, -1}},
        {"horizontal, right to left", 5, 2, 2, 2, {-1, -1, 2, -1, -1, -1}, {-1, -1, 5, -1, -1, -1}},
        {"a minimum of 0 gives way to the next x", 0, 1, 3, 1, {-1, 1, -1, -1, -1, -1}, {-1, 3, -1, -1, -1, -1}},
        {"x-major", 10, 0, 16, 2, {10, 12, 15, -1, -1, -1}, {11, 14, 16, -1, -1, -1}},
        {"y-major", 20, 0, 22, 5, {20, 20, 21, 21, 22, 22}, {20, 20, 21, 21, 22, 22}},
        {"equal spans step both axes", 2, 5, 5, 2, {-1, -1, 5, 4, 3, 2}, {-1, -1, 5, 4, 3, 2}},
        {"rows above and below are skipped", 30, -2, 27, 7, {29, 29, 29, 28, 28, 28}, {29, 29, 29, 28, 28, 28}},
        {"horizontal off the rows", -5, 6, 5, 6, {-1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1}},
        {"coordinates beyond the limit", 1, 1, 1 << 30, 3, {-1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1}},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        int xmin[ROWS + 4], xmax[ROWS + 4];
        for (int i = 0; i < ROWS + 4; i++)
            xmin[i] = xmax[i] = (i < 2 || i >= ROWS + 2) ? 0x5A5A : 0;
        image::traceedge(r.x0, r.y0, r.x1, r.y1, xmin + 2, xmax + 2, ROWS);
        for (int i = 0; i < ROWS; i++) {
            CHECK_EQ(xmin[i + 2], r.xmin[i] < 0 ? 0 : r.xmin[i]);
            CHECK_EQ(xmax[i + 2], r.xmax[i] < 0 ? 0 : r.xmax[i]);
        }
        CHECK(xmin[0] == 0x5A5A && xmin[1] == 0x5A5A && xmin[ROWS + 2] == 0x5A5A && xmin[ROWS + 3] == 0x5A5A);
        CHECK(xmax[0] == 0x5A5A && xmax[1] == 0x5A5A && xmax[ROWS + 2] == 0x5A5A && xmax[ROWS + 3] == 0x5A5A);
    }
    kzvtest::setrow(nullptr);
    // Edges add up: a triangle's three edges give each row its span.
    int xmin[ROWS] = {}, xmax[ROWS] = {};
    image::traceedge(10, 0, 15, 5, xmin, xmax, ROWS);
    image::traceedge(15, 5, 5, 5, xmin, xmax, ROWS);
    image::traceedge(5, 5, 10, 0, xmin, xmax, ROWS);
    static const int spanmin[ROWS] = {10, 9, 8, 7, 6, 5}, spanmax[ROWS] = {10, 11, 12, 13, 14, 15};
    CHECK_MEM(xmin, spanmin, sizeof xmin);
    CHECK_MEM(xmax, spanmax, sizeof xmax);
}

// ---- the literal algorithms ------------------------------------------------

static float asfloat(float v)
{
    volatile float s = v;
    return s;
}

static void refthin(image& im, int x0, int y0, int x1, int y1, u32 c)
{
    if (x0 == x1) {
        for (int y = y0 < y1 ? y0 : y1; y <= (y0 < y1 ? y1 : y0); y++)
            im.setpixel(x0, y, c);
        return;
    }
    if (y0 == y1) {
        for (int x = x0 < x1 ? x0 : x1; x <= (x0 < x1 ? x1 : x0); x++)
            im.setpixel(x, y0, c);
        return;
    }
    im.setpixel(x0, y0, c);
    im.setpixel(x1, y1, c);
    int dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = y1 > y0 ? y1 - y0 : y0 - y1;
    int sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
    int x = x0, y = y0;
    if (dy < dx) {
        int t = dx / 2;
        for (int i = 0; i < dx; i++) {
            x += sx;
            t -= dy;
            if (t < 0) {
                y += sy;
                t += dx;
            }
            im.setpixel(x, y, c);
        }
    } else {
        int t = dy / 2;
        for (int i = 0; i < dy; i++) {
            y += sy;
            t -= dx;
            if (t < 0) {
                x += sx;
                t += dy;
            }
            im.setpixel(x, y, c);
        }
    }
}

static void refcircle(image& im, int x, int y, float r, u32 c)
{
    int n = (int)r;
    if (n == 0) {
        im.setpixel(x, y, c);
        return;
    }
    im.setpixel(x, y + n, c);
    im.setpixel(x, y - n, c);
    for (int i = x - n; i <= x + n; i++)
        im.setpixel(i, y, c);
    int px = 0, py = n;
    float d = asfloat(3 - asfloat(2 * r));
    while (px <= py) {
        int qx = px + 1, qy;
        if (d > 0) {
            qy = py - 1;
            d = asfloat(d + (float)(4 * (qx - qy) + 10));
        } else {
            qy = py;
            d = asfloat(d + (float)(4 * qx + 6));
        }
        for (int i = x - qx; i <= x + qx; i++) {
            im.setpixel(i, y + qy, c);
            im.setpixel(i, y - qy, c);
        }
        for (int i = x - qy; i <= x + qy; i++) {
            im.setpixel(i, y + qx, c);
            im.setpixel(i, y - qx, c);
        }
        px = qx;
        py = qy;
    }
}

static void refline(image& im, int x0, int y0, int x1, int y1, u32 c, float width)
{
    if (width <= 1) {
        refthin(im, x0, y0, x1, y1, c);
        return;
    }
    float h = width / 2;
    if (x0 == x1) {
        for (int k = (int)asfloat((float)x0 - h); (float)k <= asfloat((float)x0 + h); k++)
            refthin(im, k, y0, k, y1, c);
        return;
    }
    if (y0 == y1) {
        for (int k = (int)asfloat((float)y0 - h); (float)k <= asfloat((float)y0 + h); k++)
            refthin(im, x0, k, x1, k, c);
        return;
    }
    refcircle(im, x0, y0, h, c);
    refcircle(im, x1, y1, h, c);
    int dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = y1 > y0 ? y1 - y0 : y0 - y1;
    int sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
    int x = x0, y = y0;
    bool xmajor = dy < dx;
    int t = xmajor ? dx / 2 : dy / 2;
    for (int i = 0; i < (xmajor ? dx : dy); i++) {
        if (xmajor) {
            x += sx;
            t -= dy;
            if (t < 0) {
                y += sy;
                t += dx;
            }
        } else {
            y += sy;
            t -= dx;
            if (t < 0) {
                x += sx;
                t += dy;
            }
        }
        refcircle(im, x, y, h, c);
    }
}

static void reffill(image& im, int x, int y, int xs, int ys, u32 c)
{
    for (int j = 0; j < ys; j++)
        for (int i = 0; i < xs; i++)
            im.setpixel(x + i, y + j, c);
}

static void refrounded(image& im, int x, int y, int xs, int ys, int r, u32 c)
{
    if (im.format == 1 || im.format == 8 || im.format == 8888)
        return;
    reffill(im, x, y + r, xs, ys - 2 * r, c);
    reffill(im, x + r, y, xs - 2 * r, r, c);
    reffill(im, x + r, y + ys - r, xs - 2 * r, r, c);
    if (r < 1 || r > 31)
        return;
    u8 const* m = cornermask((u32)r);
    for (int i = 0; i < r; i++)
        for (int j = 0; j < r; j++) {
            u32 u = m[i * r + j];
            int px[4] = {x + j, x + xs - 1 - j, x + j, x + xs - 1 - j};
            int py[4] = {y + i, y + i, y + ys - 1 - i, y + ys - 1 - i};
            for (int k = 0; k < 4; k++)
                im.setpixel_fixedalpha(px[k], py[k], c, u);
        }
}

// ---- fast paths against the literal walks ----------------------------------

const int W = 37, H = 23, GUARD = 3, BUFW = W + 2 * GUARD;
alignas(16) static u32 guarded[BUFW * (H + 2 * GUARD)];

// A coordinate: most often just outside or inside an edge, where clipping decides.
static int coordinate(u32& seed, int size)
{
    switch (nextrandom(seed) % 3) {
    case 0:  return randomin(seed, -12, 3);
    case 1:  return randomin(seed, size - 3, size + 12);
    default: return randomin(seed, -60, size + 60);
    }
}

// One random shape drawn on both images.
static void drawrandom(image& fast, image& ref, u32& seed, int kind)
{
    static const float widths[] = {0.5f, 1.0f, 1.5f, 2.0f, 2.7f, 3.0f, 4.0f, 5.5f, 8.0f};
    u32 c = nextrandom(seed);
    int x0 = coordinate(seed, W), y0 = coordinate(seed, H);
    int x1 = coordinate(seed, W), y1 = coordinate(seed, H);
    if (nextrandom(seed) % 4 == 0)
        x1 = x0;
    else if (nextrandom(seed) % 4 == 0)
        y1 = y0;
    switch (kind) {
    case 0: {
        float w = widths[nextrandom(seed) % 9];
        fast.drawline(x0, y0, x1, y1, c, w);
        refline(ref, x0, y0, x1, y1, c, w);
        break;
    }
    case 1: {
        float r = (float)randomin(seed, 0, nextrandom(seed) % 2 ? 60 : 400) / 10.0f;
        fast.fillcircle(x0, y0, r, c);
        refcircle(ref, x0, y0, r, c);
        break;
    }
    case 2: {
        int xs = randomin(seed, -5, 90), ys = randomin(seed, -5, 60);
        fast.fillrect(x0, y0, xs, ys, c);
        reffill(ref, x0, y0, xs, ys, c);
        break;
    }
    case 3: {
        int xs = randomin(seed, 2, 90), ys = randomin(seed, 2, 60);
        fast.drawrect(x0, y0, xs, ys, c);
        refthin(ref, x0, y0, x0 + xs - 1, y0, c);
        refthin(ref, x0, y0 + 1, x0, y0 + ys - 1, c);
        refthin(ref, x0 + xs - 1, y0 + 1, x0 + xs - 1, y0 + ys - 1, c);
        refthin(ref, x0 + 1, y0 + ys - 1, x0 + xs - 2, y0 + ys - 1, c);
        break;
    }
    default: {
        int xs = randomin(seed, -5, 90), ys = randomin(seed, -5, 60), r = randomin(seed, 0, 34);
        fast.fillroundedrect(x0, y0, xs, ys, (unsigned)r, c);
        refrounded(ref, x0, y0, xs, ys, r, c);
        break;
    }
    }
}

static bool sameimage(image& a, image& b)
{
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++)
            if (a.getpixel(x, y) != b.getpixel(x, y))
                return false;
    return true;
}

TEST(fastpathsmatchliteralwalks)
{
    static char const* const kinds[] = {"lines", "circles", "filled rectangles", "outlines", "rounded rectangles"};
    for (u32 fmt : allformats) {
        bool wrapped = fmt != 1 && fmt != 8;
        // Formats 1 and 8 draw no rounded rectangles (each call says so on standard error).
        for (int kind = 0; kind < (wrapped ? 5 : 4); kind++) {
            for (u32& w : guarded)
                w = 0xC3C3C3C3;
            image fast, ref;
            if (wrapped)
                CHECK(fast.open((u8*)guarded + (GUARD * BUFW + GUARD) * 4, W, H, fmt, BUFW * 4));
            else
                CHECK(fast.open(W, H, fmt));
            CHECK(ref.open(W, H, fmt));
            u32 seed = 0x9E3779B9u + fmt * 7 + (u32)kind;
            for (int y = 0; y < H; y++)
                for (int x = 0; x < W; x++) {
                    u32 v = nextrandom(seed);
                    fast.setpixel(x, y, v);
                    ref.setpixel(x, y, v);
                }
            bool same = true;
            for (int i = 0; i < 600 && same; i++) {
                drawrandom(fast, ref, seed, kind);
                same = sameimage(fast, ref);
            }
            kzvtest::setrow(kinds[kind]);
            CHECK(same);
            if (!wrapped)
                continue;
            // The window's pixels take W x bpp bytes of each row; every other byte is guard.
            u32 bpp = pixel_bytes(fmt);
            u8 const* b = (u8 const*)guarded;
            bool guard = true;
            for (int y = 0; y < H + 2 * GUARD; y++)
                for (int x = 0; x < BUFW * 4; x++) {
                    bool inside = y >= GUARD && y < GUARD + H && x >= GUARD * 4 && x < GUARD * 4 + W * (int)bpp;
                    if (!inside && b[y * BUFW * 4 + x] != 0xC3)
                        guard = false;
                }
            CHECK(guard);
        }
    }
    kzvtest::setrow(nullptr);
}

// ---- far-off coordinates ---------------------------------------------------

// Shapes billions of pixels away finish at once and draw what lies inside.
TEST(faroffcoordinates)
{
    image im;
    CHECK(im.open(50, 40, 888));
    im.clear(0);
    im.drawline(-2000000000, -2000000000, 2000000000, 2000000000, 0xFF, 1.0f);
    bool diagonal = true;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 50; x++)
            diagonal = diagonal && (im.getpixel(x, y) == 0xFF) == (x == y);
    CHECK(diagonal);

    kzvtest::setrow("shallow line across the image");
    im.clear(0);
    int x0 = -1000000000, y0 = 5, x1 = 1000000000, y1 = 7;
    im.drawline(x0, y0, x1, y1, 0xFF, 1.0f);
    // Step k puts y0 + ceil((k dy - dx / 2) / dx), for k dy > dx / 2.
    s64 dx = (s64)x1 - x0, dy = y1 - y0;
    bool row = true;
    for (int x = 0; x < 50; x++) {
        s64 k = (s64)x - x0;
        s64 num = k * dy - dx / 2;
        s64 y = y0 + (num > 0 ? (num + dx - 1) / dx : 0);
        row = row && im.getpixel(x, (int)y) == 0xFF;
    }
    CHECK(row);
    CHECK_EQ(countcolour(im, 0xFF), 50);

    kzvtest::setrow("extreme ends");
    im.clear(0);
    im.drawline(-2147483647 - 1, 20, 2147483647, 20, 0xFF, 1.0f);
    im.drawline(10, -2147483647 - 1, 10, 2147483647, 0xFF, 1.0f);
    im.drawline(-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647 - 5, 0xFF00, 1.0f);
    CHECK_EQ(im.getpixel(0, 20), 0xFF);
    CHECK_EQ(im.getpixel(10, 0), 0xFF);
    CHECK(countcolour(im, 0xFF00) > 30);

    kzvtest::setrow("thick lines far off");
    im.clear(0);
    im.drawline(-2000000000, -1999999990, 2000000000, 2000000010, 0xFF, 5.0f);
    im.drawline(-2000000000, 30, 2000000000, 30, 0xFF, 3.0f);
    im.drawline(2147483647, 0, 2147483647, 40, 0xFF, 1e30f);
    CHECK(countcolour(im, 0xFF) > 0);
    CHECK_EQ(im.getpixel(25, 30), 0xFF);

    kzvtest::setrow("huge radius is bounded");
    im.clear(0);
    im.fillcircle(25, 20, 3e9f, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 50 * 40);
    im.clear(0);
    im.fillcircle(2000000000, 20, 5.0f, 0xFF);
    im.fillcircle(-2147483647 - 1, -2147483647 - 1, 1e6f, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 0);

    kzvtest::setrow("rectangles far off");
    im.drawrect(-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647, 0xFF);
    im.fillroundedrect(2147483647, 2147483647, 2147483647, 2147483647, 31, 0xFF);
    im.fillrect(2147483647, -2147483647 - 1, 2147483647, 2147483647, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 0);
    kzvtest::setrow("a line width past the rectangle leaves no inside");
    im.drawroundedrect(-100, -100, 2147483647, 2147483647, 31, 0xFFFFFFFF, 0xFF);
    CHECK_EQ(countcolour(im, 0xFF), 50 * 40);
    kzvtest::setrow(nullptr);
}
