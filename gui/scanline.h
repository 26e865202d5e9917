// Accessors for the kind words of a scanline record (packet type 13): one row of
// pixels in a pixel format, with its row number and the size of the whole picture.
// The fields are data.h's `kindscanline`; the payload points at the row, and the
// record's size is the row's length in bytes. The palette belongs to the producer.
#pragma once
#include "../framework/data.h"

namespace kzv {

enum : u8 { scanline_upsidedown = 1, scanline_interlaced = 2, scanline_analog = 4 };

// The record layout every producer and reader shares, on 32- and 64-bit targets
// alike: the palette pointer fills 4 or 8 of the last 8 bytes of the kind words.
static_assert(__builtin_offsetof(kindscanline, pixelformat) == 2, "scanline format at byte 2");
static_assert(__builtin_offsetof(kindscanline, line) == 4, "scanline line at byte 4");
static_assert(__builtin_offsetof(kindscanline, width) == 8 && __builtin_offsetof(kindscanline, height) == 12,
              "scanline width and height at bytes 8 and 12");
static_assert(__builtin_offsetof(kindscanline, palette) == 16 && sizeof(kindscanline) <= sizeof(datakind),
              "scanline palette in the last 8 bytes of the kind words");

inline u8 scanline_flags(data const& d) { return d.kind.scanline.flags; }
inline u32 scanline_format(data const& d) { return d.kind.scanline.pixelformat; }
inline s32 scanline_line(data const& d) { return d.kind.scanline.line; }
inline u32 scanline_width(data const& d) { return d.kind.scanline.width; }
inline u32 scanline_height(data const& d) { return d.kind.scanline.height; }
inline u32 const* scanline_palette(data const& d) { return d.kind.scanline.palette; }

inline void scanline_setflags(data& d, u8 flags) { d.kind.scanline.flags = flags; }
inline void scanline_setformat(data& d, u32 format) { d.kind.scanline.pixelformat = (u16)format; }
inline void scanline_setline(data& d, s32 line) { d.kind.scanline.line = line; }
inline void scanline_setwidth(data& d, u32 width) { d.kind.scanline.width = width; }
inline void scanline_setheight(data& d, u32 height) { d.kind.scanline.height = height; }
inline void scanline_setpalette(data& d, u32 const* palette) { d.kind.scanline.palette = palette; }

} // namespace kzv
