// The composition of one placed buffer into one half of a framebuffer. All
// clipping is done here in 64-bit screen units, so the blitters (which do none)
// get rectangles inside both buffers whatever the entry's position or size.
#include "framebuffer.h"
#include "../../gui/blit.h"
#include "../../gui/pixelformat.h"

namespace kzv {

static s64 lesser(s64 a, s64 b) { return a < b ? a : b; }

void fbcompose(u32* target, u32 stride, u32 width, u32 height, u32 factor, u32 half, fbentry const& e)
{
    u32 f = factor == 2 ? 2 : 1;
    fbbuffer const& b = e.buffer;
    blitfunction blit = blit_select(f, b.format == pixfmt_8888);
    if (!target || !b.pixels || !blit || half > 1)
        return;
    s64 unitswide = width / f;
    s64 unitshigh = height / f;
    s64 boundary = unitshigh / 2;
    s64 top = half ? boundary : 0;
    s64 bottom = half ? unitshigh : boundary;
    // The destination's top left, then the source start that moves with each cut.
    s64 dx = e.x < 0 ? 0 : e.x;
    s64 dy = e.y < top ? top : e.y;
    s64 sx = dx - e.x;
    s64 sy = dy - e.y;
    s64 w = lesser((s64)b.width - sx, unitswide - dx);
    s64 h = lesser((s64)b.height - sy, bottom - dy);
    if (w <= 0 || h <= 0)
        return;
    blit(target, b.pixels, stride, b.width, (u32)(dx * f), (u32)(dy * f), (u32)sx, (u32)sy, (u32)w, (u32)h);
}

} // namespace kzv
