// The blitters, one routine per scale so that the inner loops carry no scale
// variable. The opaque kind widens a source row once into the first destination
// row of its band and copies that row to the other N - 1; the keyed kind must
// leave skipped pixels as they are in every row, so it writes each square whole.
// Offsets are computed in pointer-sized words: a buffer's index fits there.
#include "blit.h"
#include "../framework/memprim.h"

namespace kzv {

const u32 BLIT_VISIBLEFROM = 0x06000000;   // alpha 6 and above is drawn

template <u32 N>
static void blitopaque(u32* dst, u32 const* src, u32 dststride, u32 srcstride,
                       u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height)
{
    for (u32 i = 0; i < height; i++) {
        u32 const* s = src + (uptr)(sy + i) * srcstride + sx;
        u32* d = dst + ((uptr)dy + (uptr)N * i) * dststride + dx;
        if (N == 1) {
            memcpy(d, s, width * 4);
            continue;
        }
        u32* o = d;
        for (u32 j = 0; j < width; j++) {
            u32 w = s[j];
            for (u32 b = 0; b < N; b++)
                *o++ = w;
        }
        for (u32 a = 1; a < N; a++)
            memcpy(d + (uptr)a * dststride, d, width * N * 4);
    }
}

template <u32 N>
static void blitkeyed(u32* dst, u32 const* src, u32 dststride, u32 srcstride,
                      u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height)
{
    for (u32 i = 0; i < height; i++) {
        u32 const* s = src + (uptr)(sy + i) * srcstride + sx;
        u32* d = dst + ((uptr)dy + (uptr)N * i) * dststride + dx;
        for (u32 j = 0; j < width; j++, d += N) {
            u32 w = s[j];
            if (w < BLIT_VISIBLEFROM)
                continue;
            u32* o = d;
            for (u32 a = 0; a < N; a++, o += dststride)
                for (u32 b = 0; b < N; b++)
                    o[b] = w;
        }
    }
}

#define KZV_BLITBODY(name, kind, n)                                                          \
    void name(u32* dst, u32 const* src, u32 dststride, u32 srcstride, u32 dx, u32 dy, u32 sx, \
              u32 sy, u32 width, u32 height)                                                 \
    {                                                                                        \
        kind<n>(dst, src, dststride, srcstride, dx, dy, sx, sy, width, height);              \
    }
KZV_BLITBODY(blit_888_888, blitopaque, 1)
KZV_BLITBODY(blit_888_888_scale2, blitopaque, 2)
KZV_BLITBODY(blit_888_888_scale3, blitopaque, 3)
KZV_BLITBODY(blit_888_888_scale4, blitopaque, 4)
KZV_BLITBODY(blit_888_888_scale5, blitopaque, 5)
KZV_BLITBODY(blit_888_888_scale6, blitopaque, 6)
KZV_BLITBODY(blit_888_888_scale7, blitopaque, 7)
KZV_BLITBODY(blit_888_888_scale8, blitopaque, 8)
KZV_BLITBODY(blit_888_888_scale9, blitopaque, 9)
KZV_BLITBODY(blit_888_8888, blitkeyed, 1)
KZV_BLITBODY(blit_888_8888_scale2, blitkeyed, 2)
KZV_BLITBODY(blit_888_8888_scale3, blitkeyed, 3)
KZV_BLITBODY(blit_888_8888_scale4, blitkeyed, 4)
KZV_BLITBODY(blit_888_8888_scale5, blitkeyed, 5)
KZV_BLITBODY(blit_888_8888_scale6, blitkeyed, 6)
KZV_BLITBODY(blit_888_8888_scale7, blitkeyed, 7)
KZV_BLITBODY(blit_888_8888_scale8, blitkeyed, 8)
KZV_BLITBODY(blit_888_8888_scale9, blitkeyed, 9)
#undef KZV_BLITBODY

blitfunction blit_select(u32 scale, bool keyed)
{
    static blitfunction const opaque[BLIT_MAXSCALE] = {
        blit_888_888, blit_888_888_scale2, blit_888_888_scale3, blit_888_888_scale4,
        blit_888_888_scale5, blit_888_888_scale6, blit_888_888_scale7, blit_888_888_scale8,
        blit_888_888_scale9,
    };
    static blitfunction const withkey[BLIT_MAXSCALE] = {
        blit_888_8888, blit_888_8888_scale2, blit_888_8888_scale3, blit_888_8888_scale4,
        blit_888_8888_scale5, blit_888_8888_scale6, blit_888_8888_scale7, blit_888_8888_scale8,
        blit_888_8888_scale9,
    };
    if (scale < 1 || scale > BLIT_MAXSCALE)
        return nullptr;
    return (keyed ? withkey : opaque)[scale - 1];
}

bool blit_inside(u32 scale, u32 dstwidth, u32 dstheight, u32 srcwidth, u32 srcheight,
                 u32 dx, u32 dy, u32 sx, u32 sy, u32 width, u32 height)
{
    return (u64)sx + width <= srcwidth && (u64)sy + height <= srcheight &&
           (u64)dx + (u64)width * scale <= dstwidth && (u64)dy + (u64)height * scale <= dstheight;
}

} // namespace kzv
