// Reading kzv fonts. Words are read byte by byte: a font handed in by pointer
// need not be aligned, and ARMv5 cannot load unaligned words. The check walks
// every map entry once, with all sums in 64 bits, so a damaged font is refused
// before any lookup could read past it.
#include "font.h"
#include "kzvcodec.h"
#include "../framework/memprim.h"

namespace kzv {

static u32 fontword(u8 const* p) { return get32le(p); }
static s32 fontsigned(u8 const* p) { return (s32)fontword(p); }

bool font_hasheader(u8 const* font)
{
    return font && memcmp(font, "kzv ", 4) == 0 && font[4] == 0xCD && font[5] == 0xEF &&
           font[6] == FONT_ENCODING && font[8] <= fontpixels_bits;
}

u8 font_pixelencoding(u8 const* font) { return font[8]; }
u8 const* font_metrics(u8 const* font) { return font + FONT_METRICS; }
u8 const* font_map(u8 const* font) { return font + fontword(font + 52); }
u32 font_mapcount(u8 const* metrics) { return fontword(metrics + 16); }
u32 font_spaceadvance(u8 const* metrics) { return fontword(metrics + 24); }
u32 font_lineheight(u8 const* metrics) { return fontword(metrics + 28); }

static bool metricfits(s32 v) { return v >= -(s32)FONT_MAXMETRIC && v <= (s32)FONT_MAXMETRIC; }

static u64 bitmapbytes(u8 encoding, u32 width, u32 rows)
{
    u64 rowbytes = encoding == fontpixels_bits ? (width + 7) / 8 : width;
    return rowbytes * rows;
}

// One glyph record at `at`: inside the font with its bitmap and kerning table.
static bool glyphfits(u8 const* font, u32 length, u32 at)
{
    if ((u64)at + FONT_GLYPHRECORD > length)
        return false;
    u8 const* g = font + at;
    u32 width = fontword(g), rows = fontword(g + 4);
    if (width > FONT_MAXSIDE || rows > FONT_MAXSIDE)
        return false;
    if (!metricfits(fontsigned(g + 8)) || !metricfits(fontsigned(g + 12)) || !metricfits(fontsigned(g + 16)))
        return false;
    u64 left = length - ((u64)at + FONT_GLYPHRECORD);
    if (bitmapbytes(font_pixelencoding(font), width, rows) > left)
        return false;
    u32 kerningat = fontword(g + 20), kerningcount = fontword(g + 24);
    if (kerningat == 0)
        return true;
    return kerningcount <= FONT_MAXGLYPHS &&
           (u64)at + kerningat + (u64)kerningcount * FONT_KERNINGENTRY <= length;
}

bool font_check(u8 const* font, u32 length)
{
    if (length < FONT_MINLENGTH || !font_hasheader(font))
        return false;
    u8 const* metrics = font_metrics(font);
    u32 count = font_mapcount(metrics), mapat = fontword(font + 52);
    if (count > FONT_MAXGLYPHS || (u64)mapat + (u64)count * FONT_MAPENTRY > length)
        return false;
    if (font_spaceadvance(metrics) > FONT_MAXMETRIC || font_lineheight(metrics) > FONT_MAXMETRIC)
        return false;
    for (u32 i = 0; i < count; i++) {
        u32 at = fontword(font + mapat + i * FONT_MAPENTRY + 4);
        if (at != 0 && !glyphfits(font, length, at))
            return false;
    }
    return true;
}

fontlookup font_findglyph(u8 const* font, u8 const* map, u32 count, u16 ch, fontglyph& out)
{
    for (u32 i = 0; i < count; i++) {
        u8 const* entry = map + i * FONT_MAPENTRY;
        if (fontword(entry) != ch)
            continue;
        u32 at = fontword(entry + 4);
        if (at == 0)
            return font_noglyph;
        u8 const* g = font + at;
        out.width = fontword(g);
        out.rows = fontword(g + 4);
        out.advance = fontsigned(g + 8);
        out.xoffset = fontsigned(g + 12);
        out.yoffset = fontsigned(g + 16);
        u32 kerningat = fontword(g + 20);
        out.kerningcount = kerningat ? fontword(g + 24) : 0;
        out.kerning = kerningat ? g + kerningat : nullptr;
        out.bitmap = g + FONT_GLYPHRECORD;
        return font_found;
    }
    return font_missing;
}

s32 font_kerning(fontglyph const& g, u16 previous)
{
    for (u32 i = 0; i < g.kerningcount; i++) {
        u32 entry = fontword(g.kerning + i * FONT_KERNINGENTRY);
        if ((entry & 0xFFFF) == previous)
            return (s16)(entry >> 16);
    }
    return 0;
}

} // namespace kzv
