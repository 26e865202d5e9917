// Kzv bitmap fonts read in place: a kzv file of encoding 45 with metrics, a
// character map and one glyph record per character (coverage bytes or one bit a
// pixel, offsets from the text line, kerning pairs). Nothing is copied or
// allocated; the font stays its owner's. A font taken from a block of known length
// is checked whole once (font_check), so the lookups trust every offset after that.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Format facts (little-endian, offsets from the first byte of the font). The kzv
// header holds "kzv ", 0xEFCD, the encoding byte 45 and at 8 the glyph pixel
// encoding; the metrics block starts at 32 (the image's `fontheader`): the name
// and family offsets, 8 zero bytes, the map count and offset, the space advance,
// the line height and four metrics the drawing does not use. A map entry is two
// words, the character (a UTF-16 unit) and its glyph record's offset (0: the
// character exists but draws nothing). A glyph record is 8 words -- width, rows,
// advance, x offset, y offset (s32 from the top of the line), kerning offset (from
// the record), kerning count, 0 -- and its bitmap follows at byte 32.
enum : u32 {
    FONT_ENCODING = 45,
    FONT_METRICS = 32,              // the metrics block, relative to the font
    FONT_MINLENGTH = 80,            // header and metrics
    FONT_MAPENTRY = 8,
    FONT_GLYPHRECORD = 32,
    FONT_KERNINGENTRY = 4,
    // Limits far above any font we draw, so that glyph arithmetic stays small.
    FONT_MAXGLYPHS = 65536,         // one entry a UTF-16 unit
    FONT_MAXSIDE = 1024,            // glyph width and rows
    FONT_MAXMETRIC = 4096,          // advances, offsets, line height, in pixels
};

enum : u8 { fontpixels_coverage = 0, fontpixels_bits = 1 };

// One glyph as the drawing code uses it.
struct fontglyph {
    u32 width;
    u32 rows;
    s32 advance;
    s32 xoffset;
    s32 yoffset;
    u32 kerningcount;
    u8 const* kerning;          // kerningcount words: previous character, signed shift
    u8 const* bitmap;
};

enum fontlookup : u8 { font_missing, font_noglyph, font_found };

// The font at `font` (length bytes) is a kzv font whose map, glyph records,
// bitmaps and kerning tables all lie inside it, within the limits above.
bool font_check(u8 const* font, u32 length);
// Only the header: magic and encoding 45, a known pixel encoding.
bool font_hasheader(u8 const* font);

u8 font_pixelencoding(u8 const* font);
u8 const* font_metrics(u8 const* font);
u8 const* font_map(u8 const* font);
u32 font_mapcount(u8 const* metrics);
u32 font_spaceadvance(u8 const* metrics);
u32 font_lineheight(u8 const* metrics);

// Looks ch up in the map of `count` entries; the first match wins.
fontlookup font_findglyph(u8 const* font, u8 const* map, u32 count, u16 ch, fontglyph& out);
// The shift of the first kerning entry for `previous`, 0 without one.
s32 font_kerning(fontglyph const& g, u16 previous);

} // namespace kzv
