// Blitters: every member against the stated rule, written out as a plain loop
// over the N x N squares, on a destination that starts with a pattern; the words
// just below and at the alpha threshold; destination offsets; empty rectangles;
// the inside check that clipping callers assert.
#include "../harness/harness.h"
#include "../../gui/blit.h"

using namespace kzv;

static u32 nextrandom(u32& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

const u32 SRCW = 13, SRCH = 9, DSTW = 140, DSTH = 100;
static u32 source[SRCW * SRCH];
static u32 target[DSTW * DSTH];
static u32 expected[DSTW * DSTH];

static void reference(u32 n, bool keyed, u32 dx, u32 dy, u32 sx, u32 sy, u32 w, u32 h)
{
    for (u32 i = 0; i < h; i++)
        for (u32 j = 0; j < w; j++) {
            u32 v = source[(sy + i) * SRCW + sx + j];
            if (keyed && v < 0x06000000)
                continue;
            for (u32 a = 0; a < n; a++)
                for (u32 b = 0; b < n; b++)
                    expected[(dy + n * i + a) * DSTW + dx + n * j + b] = v;
        }
}

TEST(everymember)
{
    static char const* const names[] = {"scale 1", "scale 2", "scale 3", "scale 4", "scale 5",
                                        "scale 6", "scale 7", "scale 8", "scale 9"};
    u32 seed = 77;
    for (u32 keyed = 0; keyed < 2; keyed++) {
        for (u32 n = 1; n <= BLIT_MAXSCALE; n++) {
            for (u32& w : source) {
                w = nextrandom(seed);
                if (w % 3 == 0)
                    w &= 0x05FFFFFF;            // a third of the words are nearly transparent
            }
            for (u32 i = 0; i < DSTW * DSTH; i++)
                target[i] = expected[i] = 0xDEAD0000 | i;
            u32 sx = 2, sy = 1, w = 11 - (n > 6 ? 4 : 0), h = 7 - (n > 6 ? 2 : 0);
            u32 dx = 3, dy = 5;
            blitfunction f = blit_select(n, keyed != 0);
            CHECK(f != nullptr);
            f(target, source, DSTW, SRCW, dx, dy, sx, sy, w, h);
            reference(n, keyed != 0, dx, dy, sx, sy, w, h);
            kzvtest::setrow(names[n - 1]);
            CHECK_MEM(target, expected, sizeof(target));
        }
    }
    kzvtest::setrow(nullptr);
    CHECK(blit_select(0, false) == nullptr);
    CHECK(blit_select(10, true) == nullptr);
    CHECK(blit_select(1, false) == blit_888_888);
    CHECK(blit_select(9, true) == blit_888_8888_scale9);
}

TEST(alphathreshold)
{
    static const blitfunction keyed[] = {blit_888_8888, blit_888_8888_scale2, blit_888_8888_scale3,
                                         blit_888_8888_scale4, blit_888_8888_scale5, blit_888_8888_scale6,
                                         blit_888_8888_scale7, blit_888_8888_scale8, blit_888_8888_scale9};
    for (u32 n = 1; n <= 9; n++) {
        u32 src[2] = {0x05FFFFFF, 0x06000000};
        u32 dst[18 * 9];
        for (u32& w : dst)
            w = 0x12345678;
        keyed[n - 1](dst, src, 18, 2, 0, 0, 0, 0, 2, 1);
        bool ok = true;
        for (u32 a = 0; a < n; a++)
            for (u32 b = 0; b < 2 * n; b++)
                ok = ok && dst[a * 18 + b] == (b < n ? 0x12345678u : 0x06000000u);
        CHECK(ok);
    }
}

TEST(destinationoffset)
{
    u32 src[2] = {0xFF0000AA, 0xFF0000BB};
    u32 dst[4 * 16] = {};
    blit_888_888_scale2(dst, src, 16, 2, 10, 1, 0, 0, 2, 1);
    CHECK_EQ(dst[1 * 16 + 9], 0);
    CHECK_EQ(dst[1 * 16 + 10], 0xFF0000AA);
    CHECK_EQ(dst[1 * 16 + 11], 0xFF0000AA);
    CHECK_EQ(dst[2 * 16 + 11], 0xFF0000AA);
    CHECK_EQ(dst[2 * 16 + 12], 0xFF0000BB);
    CHECK_EQ(dst[1 * 16 + 14], 0);
    CHECK_EQ(dst[3 * 16 + 10], 0);
}

TEST(emptyrectangle)
{
    u32 src[4] = {1, 2, 3, 4};
    u32 dst[81];
    for (u32& w : dst)
        w = 0xABABABAB;
    for (u32 n = 1; n <= 9; n++) {
        blit_select(n, false)(dst, src, 9, 2, 0, 0, 0, 0, 0, 2);
        blit_select(n, true)(dst, src, 9, 2, 0, 0, 0, 0, 2, 0);
    }
    bool untouched = true;
    for (u32 w : dst)
        untouched = untouched && w == 0xABABABAB;
    CHECK(untouched);
}

// The check that clipping callers assert: both rectangles inside, the enlarged one
// counted at its full size, exact fits allowed, sums that would wrap refused.
TEST(insidebothbuffers)
{
    struct row {
        char const* name;
        u32 scale, dstw, dsth, srcw, srch, dx, dy, sx, sy, w, h;
        bool inside;
    };
    static const row rows[] = {
        {"exact fit", 1, 10, 8, 10, 8, 0, 0, 0, 0, 10, 8, true},
        {"one column past the destination", 1, 10, 8, 20, 20, 1, 0, 0, 0, 10, 8, false},
        {"one row past the source", 1, 20, 20, 10, 8, 0, 0, 0, 1, 10, 8, false},
        {"enlarged to the edge", 3, 30, 24, 10, 8, 3, 3, 0, 0, 9, 7, true},
        {"enlarged one square too far", 3, 30, 24, 10, 8, 3, 3, 0, 0, 10, 7, false},
        {"source offset that wraps", 1, 100, 100, 10, 10, 0, 0, 0xFFFFFFFFu, 0, 2, 1, false},
        {"enlargement that wraps", 9, 100, 100, 0x80000000u, 10, 0, 0, 0, 0, 0x20000000u, 1, false},
        {"empty rectangle at the corner", 2, 10, 10, 4, 4, 10, 10, 4, 4, 0, 0, true},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        CHECK_EQ(blit_inside(r.scale, r.dstw, r.dsth, r.srcw, r.srch, r.dx, r.dy, r.sx, r.sy, r.w, r.h),
                 r.inside);
    }
    kzvtest::setrow(nullptr);
}
