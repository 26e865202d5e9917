// Pixel blitters: rectangle copies between bare buffers of 32-bit pixels (formats
// 888 and 8888) with integer enlargement 1 to 9. Source pixel (j, i) of the
// width x height rectangle at (sx, sy) fills the N x N destination square whose
// top-left corner is (dx + N j, dy + N i); strides are in words. The `888` kind
// copies every pixel; the `8888` kind skips words below 0x06000000 (alpha 5 or
// less) and stores the others whole, alpha included. No clipping: the caller keeps
// both rectangles inside their buffers. The buffers stay the caller's.
#pragma once
#include "../framework/types.h"

namespace kzv {

typedef void (*blitfunction)(u32* dst, u32 const* src, u32 dststride, u32 srcstride,
                             u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height);

#define KZV_BLIT(name) void name(u32* dst, u32 const* src, u32 dststride, u32 srcstride, \
                                 u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height)
KZV_BLIT(blit_888_888);
KZV_BLIT(blit_888_888_scale2);
KZV_BLIT(blit_888_888_scale3);
KZV_BLIT(blit_888_888_scale4);
KZV_BLIT(blit_888_888_scale5);
KZV_BLIT(blit_888_888_scale6);
KZV_BLIT(blit_888_888_scale7);
KZV_BLIT(blit_888_888_scale8);
KZV_BLIT(blit_888_888_scale9);
KZV_BLIT(blit_888_8888);
KZV_BLIT(blit_888_8888_scale2);
KZV_BLIT(blit_888_8888_scale3);
KZV_BLIT(blit_888_8888_scale4);
KZV_BLIT(blit_888_8888_scale5);
KZV_BLIT(blit_888_8888_scale6);
KZV_BLIT(blit_888_8888_scale7);
KZV_BLIT(blit_888_8888_scale8);
KZV_BLIT(blit_888_8888_scale9);
#undef KZV_BLIT

const u32 BLIT_MAXSCALE = 9;

// The member for an enlargement and kind; null for a scale outside 1..9.
blitfunction blit_select(u32 scale, bool keyed);

// Whether the width x height source rectangle at (sx, sy) lies inside a source of
// srcwidth x srcheight pixels and its `scale`-fold enlargement at (dx, dy) inside
// a destination of dstwidth x dstheight. Callers that clip assert it in debug
// builds; the sums are taken in 64 bits, so no offset wraps into range.
bool blit_inside(u32 scale, u32 dstwidth, u32 dstheight, u32 srcwidth, u32 srcheight,
                 u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height);

} // namespace kzv
