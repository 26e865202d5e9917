// Pixel formats and colour words. A colour word is 0xAARRGGBB; a format packs it
// into 1, 8 or 16 bits, or stores the word itself (888 keeps the top byte as
// written, 8888 reads it as alpha, 255 opaque). Here: the format codes, packing and
// unpacking, and the one blend rule of the image code (two products, each shifted
// right by 8, summed and masked). All arithmetic is on u32 with shifts below 32.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Format codes are decimal numbers that name the layout.
enum : u32 {
    pixfmt_1 = 1,           // 1 bit, bit 7 of a byte is the leftmost pixel
    pixfmt_8 = 8,           // palette index into a grey ramp
    pixfmt_332 = 332,       // rrrgggbb
    pixfmt_555 = 555,       // 0rrrrrgggggbbbbb
    pixfmt_565 = 565,       // rrrrrggggggbbbbb
    pixfmt_888 = 888,       // 0x00RRGGBB word
    pixfmt_8888 = 8888,     // 0xAARRGGBB word
};

// The alpha byte of a fully opaque colour word.
const u32 PIXEL_OPAQUE = 0xFF000000;
inline u32 pixel_opaque(u32 colour) { return colour | PIXEL_OPAQUE; }

// Bytes one pixel takes (formats 1 and 8 answer 0 and 1); 0 for an unknown code.
u32 pixel_bytes(u32 format);

inline u32 pixel_pack332(u32 c) { return (c >> 16 & 0xE0) | (c >> 11 & 0x1C) | (c >> 6 & 0x03); }
inline u32 pixel_pack555(u32 c) { return (c >> 9 & 0x7C00) | (c >> 6 & 0x03E0) | (c >> 3 & 0x001F); }
inline u32 pixel_pack565(u32 c) { return (c >> 8 & 0xF800) | (c >> 5 & 0x07E0) | (c >> 3 & 0x001F); }

// Unpacking leaves the low bits of each field zero; 565 keeps only the top five
// bits of green, so 0xFFFF unpacks to 0xF8F8F8 in both 16-bit formats.
inline u32 pixel_unpack555(u32 v) { return (v << 9 & 0xF80000) | (v << 6 & 0xF800) | (v & 0x1F) << 3; }
inline u32 pixel_unpack565(u32 v) { return (v << 8 & 0xF80000) | (v << 5 & 0xF800) | (v & 0x1F) << 3; }

// The blend of one field: old weighted 255 - a, new weighted a, both already in
// the field's place, each product shifted right by 8, summed and masked. Neither
// product passes 32 bits: the widest mask is 0xFF00FF and a is at most 255.
inline u32 pixel_blendfield(u32 old, u32 nw, u32 mask, u32 a)
{
    return (((old & mask) * (255 - a) >> 8) + ((nw & mask) * a >> 8)) & mask;
}

// Blends of a packed new value into an old one with weight a (0..255).
inline u32 pixel_blend332(u32 old, u32 packed, u32 a)
{
    return pixel_blendfield(old, packed, 0xE0, a) | pixel_blendfield(old, packed, 0x1C, a) |
           pixel_blendfield(old, packed, 0x03, a);
}
inline u32 pixel_blend555(u32 old, u32 packed, u32 a)
{
    return pixel_blendfield(old, packed, 0x7C00, a) | pixel_blendfield(old, packed, 0x03E0, a) |
           pixel_blendfield(old, packed, 0x001F, a);
}
inline u32 pixel_blend565(u32 old, u32 packed, u32 a)
{
    return pixel_blendfield(old, packed, 0xF800, a) | pixel_blendfield(old, packed, 0x07E0, a) |
           pixel_blendfield(old, packed, 0x001F, a);
}
// Red and blue share one multiply, green takes the other; the top byte ends 0.
inline u32 pixel_blend888(u32 old, u32 c, u32 a)
{
    return pixel_blendfield(old, c, 0xFF00FF, a) | pixel_blendfield(old, c, 0xFF00, a);
}

// A 8888 source word s drawn over a destination pixel. Alpha 251 and above counts
// as opaque, 5 and below as transparent (the destination stays); in between the
// source channels are scaled by alpha straight into the destination's fields.
const u32 PIXEL_OPAQUEFROM = 0xFB000000;        // alpha >= 251
const u32 PIXEL_VISIBLEFROM = 0x06000000;       // alpha >= 6

inline u32 pixel_over332(u32 old, u32 s)
{
    if (s >= PIXEL_OPAQUEFROM)
        return pixel_pack332(s);
    if (s < PIXEL_VISIBLEFROM)
        return old;
    u32 a = s >> 24, n = 255 - a;
    u32 r = ((old & 0xE0) * n >> 8) + (((s & 0xFF0000) * a >> 24) & 0xE0);
    u32 g = ((old & 0x1C) * n >> 8) + (((s & 0xFF00) * a >> 21) << 2);
    u32 b = ((old & 0x03) * n >> 8) + (s & 0xFF) * a / 16384;
    return (r & 0xE0) | (g & 0x1C) | (b & 0x03);
}
inline u32 pixel_over555(u32 old, u32 s)
{
    if (s >= PIXEL_OPAQUEFROM)
        return pixel_pack555(s);
    if (s < PIXEL_VISIBLEFROM)
        return old;
    u32 a = s >> 24, n = 255 - a;
    u32 r = ((old & 0x7C00) * n >> 8) + ((s & 0xFF0000) * a >> 17);
    u32 g = ((old & 0x03E0) * n >> 8) + ((s & 0xFF00) * a >> 14);
    u32 b = ((old & 0x001F) * n >> 8) + (s & 0xFF) * a / 2048;
    return (r & 0x7C00) | (g & 0x03E0) | (b & 0x001F);
}
inline u32 pixel_over565(u32 old, u32 s)
{
    if (s >= PIXEL_OPAQUEFROM)
        return pixel_pack565(s);
    if (s < PIXEL_VISIBLEFROM)
        return old;
    u32 a = s >> 24, n = 255 - a;
    u32 r = ((old & 0xF800) * n >> 8) + ((s & 0xFF0000) * a >> 16);
    u32 g = ((old & 0x07E0) * n >> 8) + ((s & 0xFF00) * a >> 13);
    u32 b = ((old & 0x001F) * n >> 8) + (s & 0xFF) * a / 2048;
    return (r & 0xF800) | (g & 0x07E0) | (b & 0x001F);
}
// An opaque source is stored whole, alpha byte included.
inline u32 pixel_over888(u32 old, u32 s)
{
    if (s >= PIXEL_OPAQUEFROM)
        return s;
    if (s < PIXEL_VISIBLEFROM)
        return old;
    return pixel_blend888(old, s, s >> 24);
}

// The palettes formats 1, 8 and 332 carry: 0 black and 1 white; a grey ramp
// (entry i = i x 0x010101); and 332 entry i = each field moved to the top of its
// channel (red bits 7-5 to 23-21, green 4-2 to 15-13, blue 1-0 to 7-6).
void pixel_fillpalette1(u32* palette2);
void pixel_fillgreyramp(u32* palette256);
void pixel_fillpalette332(u32* palette256);

constexpr u32 pixel_palette332entry(u32 i)
{
    return (i << 16 & 0xE00000) | (i << 11 & 0xE000) | (i << 6 & 0xC0);
}

// The 332 palette as one constant table, shared by every image that wraps a
// caller's 332 buffer. Built at compile time: read-only data, no start-up code.
struct pixel_palette {
    u32 entry[256];
};
constexpr pixel_palette pixel_makepalette332()
{
    pixel_palette p{};
    for (u32 i = 0; i < 256; i++)
        p.entry[i] = pixel_palette332entry(i);
    return p;
}
inline constexpr pixel_palette pixel_palette332 = pixel_makepalette332();

} // namespace kzv
