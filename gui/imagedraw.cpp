// Drawing primitives: lines of any width, filled circles, rectangles, rounded
// rectangles with anti-aliased corners, and bitmaps given as text patterns.
// Every shape is clipped to the image before its loops run, so coordinates far
// off the image cost nothing and the pixels drawn are those the unclipped walk
// would set inside the image. Coordinates are widened to 64 bits, so no sum of a
// position and a size overflows. Shapes are drawn opaque (the corners blend), so
// skipping the off-image part of a walk cannot change the result.
#include "image.h"
#include "cornermask.h"
#include "../framework/memprim.h"
#include "../framework/printf.h"

namespace kzv {

// Radii and half widths above 2^20 are cut: a circle's loop then stays below a
// million steps, and its float error term stays exact. Far larger than any image.
const float DRAW_MAXRADIUS = 1048576.0f;
const float DRAW_FARCOORD = 1099511627776.0f;   // 2^40, where float positions are clamped

// x87 keeps floats in wider registers; a store through a volatile rounds to a
// float, so every CPU compares the same values and draws the same pixels.
static inline float roundtofloat(float v)
{
    volatile float stored = v;
    return stored;
}

// Truncation toward zero, saturated far outside any image.
static s64 truncate(float v)
{
    if (v > DRAW_FARCOORD)
        return (s64)DRAW_FARCOORD;
    if (v < -DRAW_FARCOORD)
        return -(s64)DRAW_FARCOORD;
    return (s64)v;
}

static inline s64 absdiff(s64 a, s64 b) { return a > b ? a - b : b - a; }

// ---- clipped writers -------------------------------------------------------

void image::plot(s64 x, s64 y, unsigned c)
{
    if (x >= 0 && x < width && y >= 0 && y < height)
        setpixel((int)x, (int)y, c);
}

// A corner pixel of coverage a, blended by the one blend rule. Each product is
// shifted right by 8, so full coverage gives 255/256 of the colour (0xFF becomes
// 0xFE in 888) and coverage 0 gives 255/256 of the old pixel.
void image::blendat(s64 x, s64 y, unsigned c, unsigned a)
{
    if (x >= 0 && x < width && y >= 0 && y < height)
        setpixel_fixedalpha((int)x, (int)y, c, a);
}

// A row of pixels from x0 to x1 inclusive, packed once for the whole span.
void image::fillspan(s64 x0, s64 x1, s64 y, unsigned c)
{
    if (y < 0 || y >= height)
        return;
    if (x0 < 0)
        x0 = 0;
    if (x1 >= width)
        x1 = width - 1;
    if (x0 > x1)
        return;
    s32 a = (s32)x0, n = (s32)(x1 - x0 + 1), row = (s32)y;
    switch (format) {
    case pixfmt_888:
    case pixfmt_8888: {
        u32* p = row32(row) + a;
        for (s32 i = 0; i < n; i++)
            p[i] = c;
        return;
    }
    case pixfmt_565:
    case pixfmt_555: {
        u16 v = (u16)(format == pixfmt_565 ? pixel_pack565(c) : pixel_pack555(c));
        u16* p = row16(row) + a;
        for (s32 i = 0; i < n; i++)
            p[i] = v;
        return;
    }
    case pixfmt_332: memset(row8(row) + a, (int)pixel_pack332(c), (u32)n); return;
    case pixfmt_8:   memset(row8(row) + a, (int)(c & 0xFF), (u32)n); return;
    case pixfmt_1:
        for (s32 i = 0; i < n; i++)
            setpixel(a + i, row, c);
        return;
    default: return;
    }
}

void image::fillcolumn(s64 x, s64 y0, s64 y1, unsigned c)
{
    if (x < 0 || x >= width)
        return;
    if (y0 < 0)
        y0 = 0;
    if (y1 >= height)
        y1 = height - 1;
    for (s64 y = y0; y <= y1; y++)
        setpixel((int)x, (int)y, c);
}

void image::fillbox(s64 x, s64 y, s64 xs, s64 ys, unsigned c)
{
    if (x < 0) {
        xs += x;
        x = 0;
    }
    if (xs > width - x)
        xs = width - x;
    if (y < 0) {
        ys += y;
        y = 0;
    }
    if (ys > height - y)
        ys = height - y;
    if (xs <= 0 || ys <= 0)
        return;
    for (s64 row = y; row < y + ys; row++)
        fillspan(x, x + xs - 1, row, c);
}

// ---- lines -----------------------------------------------------------------

// The stepping of a line that is neither vertical nor horizontal, with integer
// error terms: along the major axis one pixel a step, the minor axis moving when
// the error term drops below 0 (dy = dx counts as y-major). After k steps the
// minor axis has moved m = ceil((k x dmin - t0) / dmaj) times, which lets the walk
// start at the first step whose point can touch the image instead of step 1.
// visit(x, y) gets every step whose point lies within `margin` of the image.
template <class F>
static void walkline(s64 x0, s64 y0, s64 x1, s64 y1, s64 w, s64 h, s64 margin, F visit)
{
    bool xmajor = absdiff(y1, y0) < absdiff(x1, x0);
    s64 maj0 = xmajor ? x0 : y0, min0 = xmajor ? y0 : x0;
    s64 smaj = (xmajor ? x1 > x0 : y1 > y0) ? 1 : -1;
    s64 smin = (xmajor ? y1 > y0 : x1 > x0) ? 1 : -1;
    u64 dmaj = (u64)(xmajor ? absdiff(x1, x0) : absdiff(y1, y0));   // below 2^32
    u64 dmin = (u64)(xmajor ? absdiff(y1, y0) : absdiff(x1, x0));
    s64 lo = -margin, majhi = (xmajor ? w : h) - 1 + margin, minhi = (xmajor ? h : w) - 1 + margin;

    // Steps 1..dmaj whose major coordinate lies within the margin.
    s64 first = smaj > 0 ? lo - maj0 : maj0 - majhi;
    s64 last = smaj > 0 ? majhi - maj0 : maj0 - lo;
    if (first < 1)
        first = 1;
    if (last > (s64)dmaj)
        last = (s64)dmaj;
    if (first > last)
        return;

    // The state after step first - 1; products stay below 2^64.
    u64 t0 = dmaj / 2, k0 = (u64)(first - 1);
    u64 m = (k0 * dmin + dmaj - 1 - t0) / dmaj;
    s64 t = (s64)(t0 + m * dmaj - k0 * dmin);          // 0 <= t < dmaj
    s64 major = maj0 + smaj * (s64)k0, minor = min0 + smin * (s64)m;
    for (s64 k = first; k <= last; k++) {
        major += smaj;
        t -= (s64)dmin;
        if (t < 0) {
            minor += smin;
            t += (s64)dmaj;
        }
        if (minor < lo || minor > minhi) {
            if ((smin > 0) == (minor > minhi))
                return;             // moving away from the image: nothing more to draw
            continue;
        }
        if (xmajor)
            visit(major, minor);
        else
            visit(minor, major);
    }
}

void image::thinline(int x0, int y0, int x1, int y1, unsigned c)
{
    if (x0 == x1) {
        fillcolumn(x0, kzv_min(y0, y1), kzv_max(y0, y1), c);
        return;
    }
    if (y0 == y1) {
        fillspan(kzv_min(x0, x1), kzv_max(x0, x1), y0, c);
        return;
    }
    plot(x0, y0, c);
    plot(x1, y1, c);
    walkline(x0, y0, x1, y1, width, height, 0, [&](s64 x, s64 y) { setpixel((int)x, (int)y, c); });
}

// A line wider than 1: a band of columns or rows for the straight cases, else a
// filled circle of radius h at both ends and at every step of the thin walk.
void image::thickline(int x0, int y0, int x1, int y1, unsigned c, float h)
{
    if (h > DRAW_MAXRADIUS)
        h = DRAW_MAXRADIUS;
    if (x0 == x1 || y0 == y1) {
        bool vertical = x0 == x1;
        float centre = roundtofloat((float)(vertical ? x0 : y0));
        float limit = roundtofloat(centre + h);
        s64 k = truncate(roundtofloat(centre - h));
        s64 lo = vertical ? kzv_min(y0, y1) : kzv_min(x0, x1);
        s64 hi = vertical ? kzv_max(y0, y1) : kzv_max(x0, x1);
        if (k < 0)
            k = 0;                  // columns or rows before the image draw nothing
        for (s64 end = vertical ? width : height; k < end && (float)k <= limit; k++) {
            if (vertical)
                fillcolumn(k, lo, hi, c);
            else
                fillspan(lo, hi, k, c);
        }
        return;
    }
    fillcircle64(x0, y0, h, c);
    fillcircle64(x1, y1, h, c);
    s64 margin = truncate(h) + 1;   // a circle reaches trunc(r) + 1 from its centre
    walkline(x0, y0, x1, y1, width, height, margin, [&](s64 x, s64 y) { fillcircle64(x, y, h, c); });
}

void image::drawline(int x0, int y0, int x1, int y1, unsigned c, float lw)
{
    if (lw > 1)
        thickline(x0, y0, x1, y1, c, lw / 2);
    else
        thinline(x0, y0, x1, y1, c);
}

// ---- circles ---------------------------------------------------------------

void image::fillcircle(int x, int y, float r, unsigned c) { fillcircle64(x, y, r, c); }

// Midpoint circle drawn as spans. The error term d is a float of the untruncated
// radius; the terms use the coordinates after each step. Below radius 1 only the
// centre is drawn (the walk would paint 3-pixel rows above and below it).
void image::fillcircle64(s64 x, s64 y, float r, unsigned c)
{
    if (!(r >= 0))
        return;                     // a negative radius, or not a number
    if (r > DRAW_MAXRADIUS)
        r = DRAW_MAXRADIUS;
    s64 n = (s64)r;
    if (n == 0) {
        plot(x, y, c);
        return;
    }
    if (x + n + 1 < 0 || x - n - 1 >= width || y + n + 1 < 0 || y - n - 1 >= height)
        return;                     // every row of the circle lies within n + 1 of the centre
    plot(x, y + n, c);
    plot(x, y - n, c);
    fillspan(x - n, x + n, y, c);
    s64 px = 0, py = n;
    float d = roundtofloat(3.0f - 2.0f * r);
    while (px <= py) {
        s64 qx = px + 1, qy = py;
        if (d > 0) {
            qy = py - 1;
            d = roundtofloat(d + (float)(4 * (qx - qy) + 10));
        } else {
            d = roundtofloat(d + (float)(4 * qx + 6));
        }
        fillspan(x - qx, x + qx, y + qy, c);
        fillspan(x - qx, x + qx, y - qy, c);
        fillspan(x - qy, x + qy, y + qx, c);
        fillspan(x - qy, x + qy, y - qx, c);
        px = qx;
        py = qy;
    }
}

// ---- rectangles ------------------------------------------------------------

// The outline: top and bottom rows, and the columns between them. A rectangle of
// width or height 1 is a single line; none at all below 1.
void image::drawrect(int x, int y, int xs, int ys, unsigned c)
{
    if (xs <= 0 || ys <= 0)
        return;
    s64 right = (s64)x + xs - 1, bottom = (s64)y + ys - 1;
    fillspan(x, right, y, c);
    if (ys > 1)
        fillspan(x, right, bottom, c);
    if (ys > 2) {
        fillcolumn(x, (s64)y + 1, bottom - 1, c);
        if (xs > 1)
            fillcolumn(right, (s64)y + 1, bottom - 1, c);
    }
}

void image::fillrect(int x, int y, int xs, int ys, unsigned c) { fillbox(x, y, xs, ys, c); }

// Three bands (middle at full width, top and bottom between the corners), then
// the four corner squares painted through the coverage mask of radius r. Without a
// mask (r = 0 or above 31) the corner squares stay unpainted.
void image::roundedbox(s64 x, s64 y, s64 xs, s64 ys, unsigned r, unsigned c)
{
    s64 rr = r;
    fillbox(x, y + rr, xs, ys - 2 * rr, c);
    fillbox(x + rr, y, xs - 2 * rr, rr, c);
    fillbox(x + rr, y + ys - rr, xs - 2 * rr, rr, c);
    u8 const* mask = cornermask(r);
    if (!mask)
        return;
    for (s64 i = 0; i < rr; i++) {
        for (s64 j = 0; j < rr; j++) {
            unsigned u = mask[i * rr + j];
            blendat(x + j, y + i, c, u);
            blendat(x + xs - 1 - j, y + i, c, u);
            blendat(x + j, y + ys - 1 - i, c, u);
            blendat(x + xs - 1 - j, y + ys - 1 - i, c, u);
        }
    }
}

// Drawn on the formats of windows; 8888 is never a window's format and draws nothing.
static bool roundedformat(s32 format)
{
    if (format == pixfmt_332 || format == pixfmt_555 || format == pixfmt_565 || format == pixfmt_888)
        return true;
    if (format != pixfmt_8888)
        eprintf("fillroundedrect fmt=%d\n", format);
    return false;
}

void image::fillroundedrect(int x, int y, int xs, int ys, unsigned r, unsigned c)
{
    if (roundedformat(format))
        roundedbox(x, y, xs, ys, r, c);
}

// The outline is the inside painted over with the colour that was at (x, y)
// before drawing; the inner corners keep the same radius.
void image::drawroundedrect(int x, int y, int xs, int ys, unsigned r, unsigned linewidth, unsigned c)
{
    unsigned background = getpixel_truecolor(x, y);
    if (!roundedformat(format))
        return;
    s64 lw = linewidth;
    roundedbox(x, y, xs, ys, r, c);
    roundedbox(x + lw, y + lw, xs - 2 * lw, ys - 2 * lw, r, background);
}

// ---- bitmaps ---------------------------------------------------------------

static bool isdigit(unsigned ch) { return ch >= '0' && ch <= '9'; }

// A decimal number followed by a comma; false when the comma is missing.
static bool readdimension(unsigned char const*& p, s64& value)
{
    value = 0;
    for (; isdigit(*p); p++)
        if (value < (1 << 30))      // any larger count runs past the text's end anyway
            value = value * 10 + (*p - '0');
    if (*p != ',')
        return false;
    p++;
    return true;
}

// "width,height,cells": width x height cells, row after row; ' ', '-' and '.' are
// transparent, any other character sets the pixel. The cells end at the text's
// terminator: missing cells are transparent.
void image::drawbitmap(int x, int y, unsigned c, char const* pattern)
{
    if (!pattern)
        return;
    unsigned char const* p = (unsigned char const*)pattern;   // char is unsigned on ARM only
    s64 w, h;
    if (!readdimension(p, w) || !readdimension(p, h) || h < 1 || w < 1)
        return;                     // a width of 0 has no cells, whatever the height
    for (s64 row = 0; row < h; row++) {
        for (s64 col = 0; col < w; col++, p++) {
            unsigned ch = *p;
            if (ch == 0)
                return;
            if (ch != ' ' && ch != '-' && ch != '.')
                plot((s64)x + col, (s64)y + row, c);
        }
    }
}

// ---- polygon edges ---------------------------------------------------------

// One point of an edge: a minimum of 0 is taken as empty, so it gives way to any
// later x, which keeps cleared tables usable without a separate "empty" mark.
static void traceat(s64 x, s64 y, int* xmin, int* xmax, u32 rows)
{
    if (y < 0 || y >= (s64)rows)
        return;
    int v = (int)x;
    if (xmin[y] == 0 || xmin[y] > v)
        xmin[y] = v;
    if (xmax[y] < v)
        xmax[y] = v;
}

static bool tracefits(int v) { return v >= -IMAGE_TRACELIMIT && v <= IMAGE_TRACELIMIT; }

// Straight edges visit every row or column between their ends, in order; any
// other edge visits both ends, then the steps of the thin line's walk. The walk
// is shifted right by the coordinate limit, so that every x lies on its "image"
// and only rows outside the tables are clipped.
void image::traceedge(int x0, int y0, int x1, int y1, int* xmin, int* xmax, u32 rows)
{
    if (!xmin || !xmax || !tracefits(x0) || !tracefits(y0) || !tracefits(x1) || !tracefits(y1))
        return;
    if (x0 == x1) {
        s64 first = kzv_max<s64>(kzv_min(y0, y1), 0), last = kzv_min<s64>(kzv_max(y0, y1), (s64)rows - 1);
        for (s64 y = first; y <= last; y++)
            traceat(x0, y, xmin, xmax, rows);
        return;
    }
    if (y0 == y1) {
        if (y0 < 0 || (s64)y0 >= (s64)rows)
            return;
        for (s64 x = kzv_min(x0, x1); x <= kzv_max(x0, x1); x++)
            traceat(x, y0, xmin, xmax, rows);
        return;
    }
    traceat(x0, y0, xmin, xmax, rows);
    traceat(x1, y1, xmin, xmax, rows);
    const s64 shift = IMAGE_TRACELIMIT;
    walkline((s64)x0 + shift, y0, (s64)x1 + shift, y1, 2 * shift + 1, rows, 0,
             [&](s64 x, s64 y) { traceat(x - shift, y, xmin, xmax, rows); });
}

} // namespace kzv
