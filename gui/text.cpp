// Drawing and measuring text. Positions are summed in 64 bits and handed on
// clamped to the int range, so a text that runs far off the image draws nothing
// there instead of wrapping back onto it. Glyph pixels are clipped to the image
// before they are set. The previous character (for kerning) is 0 at the start and
// the end of every string. UTF-8 texts are converted into a local buffer that the
// conversion never overruns; the built-in fonts first replace some typographic
// characters by ASCII look-alikes.
#include "text.h"
#include "font.h"
#include "../framework/memprim.h"
#include "../framework/printf.h"
#include "../framework/resources.h"
#include "../framework/str.h"
#include "../resources/builtinfonts.h"

namespace kzv {

static int clampint(s64 v)
{
    const s64 top = 0x7FFFFFFF, bottom = -top - 1;
    return (int)(v > top ? top : v < bottom ? bottom : v);
}

static bool isspaceunit(u32 u) { return (u & 0xFF7F) == 0x20; }     // space and U+00A0

const u16 SOFTHYPHEN = 0xAD;        // measured and looked up as ':', drawn as nothing

// ---- built-in fonts -------------------------------------------------------------

void image::checkunicodetowin(unsigned short& ch)
{
    switch (ch) {
    case 0x0095: ch = '*'; return;
    case 0x014F: ch = 'o'; return;
    case 0x2013:
    case 0x2014: ch = '-'; return;
    case 0x2018:
    case 0x2019: ch = '\''; return;
    case 0x201C:
    case 0x201E: ch = '"'; return;
    case 0x2022: ch = '*'; return;
    case 0x2026: ch = ' '; return;
    case 0x2122: ch = 174; return;
    case 0x2190: ch = '<'; return;
    case 0x2192:
    case 0x27A1: ch = '>'; return;
    case 0x2757: ch = '!'; return;
    default: return;
    }
}

// The table slot of a character after the replacement, -1 outside codes 32..254.
static int builtinslot(unsigned short ch)
{
    image::checkunicodetowin(ch);
    if (ch < FONT_FIRSTCODE || ch >= FONT_FIRSTCODE + FONT_SLOTS)
        return -1;
    return (int)(ch - FONT_FIRSTCODE);
}

static void textplot(image& im, s64 x, s64 y, unsigned c)
{
    if (x >= 0 && y >= 0 && x < im.width && y < im.height)
        im.setpixel((int)x, (int)y, c);
}

// A glyph of a fixed built-in font: one byte a row, bit columns - 1 is column 0.
static void drawfixed(image& im, int x, int y, unsigned c, u8 const* rows, int count, int columns)
{
    for (int r = 0; r < count; r++)
        for (int col = 0; col < columns; col++)
            if (rows[r] >> (columns - 1 - col) & 1)
                textplot(im, (s64)x + col, (s64)y + r, c);
}

int image::putchar6x13(int x, int y, unsigned c, unsigned short ch)
{
    int slot = builtinslot(ch);
    if (slot >= 0)
        drawfixed(*this, x, y, c, font6x13 + slot * TEXT_LINE6X13, TEXT_LINE6X13, TEXT_ADVANCE6X13);
    return TEXT_ADVANCE6X13;
}

int image::putchar8x16(int x, int y, unsigned c, unsigned short ch)
{
    int slot = builtinslot(ch);
    if (slot >= 0)
        drawfixed(*this, x, y, c, font8x16 + slot * TEXT_LINE8X16, TEXT_LINE8X16, TEXT_ADVANCE8X16);
    return TEXT_ADVANCE8X16;
}

int image::putchar5x6(int x, int y, unsigned c, unsigned short ch)
{
    if (ch >= 'a' && ch <= 'z')
        ch = (unsigned short)(ch - 'a' + 'A');
    int slot = builtinslot(ch);
    if (slot >= 0)
        drawfixed(*this, x, y, c, font5x6 + slot * TEXT_ROWS5X6, TEXT_ROWS5X6, TEXT_ADVANCE5X6);
    return TEXT_ADVANCE5X6;
}

// The proportional font's width w; its glyph inks columns 0..w, which a 16-bit
// row word holds only up to w = 15.
static u32 var13width(int slot)
{
    return slot < 0 ? 0 : kzv_min<u32>(fontvar13[slot], 15);
}

int image::charwidthvar13(unsigned short ch) { return (int)var13width(builtinslot(ch)); }

int image::putcharvar13(int x, int y, unsigned c, unsigned short ch)
{
    int slot = builtinslot(ch);
    u32 w = var13width(slot);
    if (slot < 0)
        return 0;
    u16 const* rows = fontvar13 + 224 + slot * TEXT_ROWSVAR13;
    for (int r = 0; r < TEXT_ROWSVAR13; r++)
        for (u32 col = 0; col <= w; col++)
            if (rows[r] >> (w - col) & 1)
                textplot(*this, (s64)x + col, (s64)y + r, c);
    return (int)w;
}

// ---- kzv fonts ------------------------------------------------------------------

static void takefont(image& im, u8 const* f)
{
    im.font = f;
    im.fontheader = font_metrics(f);
    im.fontmap = font_map(f);
}

static bool appendname(char* text, u32 capacity, u32& length, char const* part)
{
    u32 n = strlen(part);
    if ((u64)length + n + 1 > capacity)
        return false;
    memcpy(text + length, part, n);
    length += n;
    text[length] = 0;
    return true;
}

bool text_fontresourcename(char* out, u32 capacity, char const* name, unsigned size, bool bold, bool italic)
{
    if (!out || !capacity || !name)
        return false;
    char sizepart[16];
    printsink sizetext = printsink_memory(sizepart, sizeof sizepart);
    printto(sizetext, "_%u", size);
    u32 length = 0;
    out[0] = 0;
    if (!appendname(out, capacity, length, "fnt/") || !appendname(out, capacity, length, name) ||
        !appendname(out, capacity, length, "#"))
        return false;
    str_tolower(out);
    return (!bold || appendname(out, capacity, length, "_bold")) &&
           (!italic || appendname(out, capacity, length, "_italic")) && appendname(out, capacity, length, sizepart);
}

bool image::setfont(char const* name, unsigned size, bool bold, bool italic)
{
    char text[TEXT_FONTNAMECAPACITY];
    if (!text_fontresourcename(text, sizeof text, name, size, bold, italic))
        return false;
    resourceentry entry;
    if (!resource_find(text, entry))
        return false;
    if (!font_check(entry.bytes, entry.size)) {
        eprintf("setfont: %s is no usable font\n", text);
        return false;
    }
    takefont(*this, entry.bytes);
    return true;
}

// A font already in memory is trusted to be whole: the shared one was checked when
// it was first taken by name.
bool image::setfont(unsigned char const* f)
{
    if (!font_hasheader(f))
        return false;
    takefont(*this, f);
    return true;
}

static fontlookup findglyph(image const& im, u16 ch, fontglyph& g)
{
    return font_findglyph(im.font, im.fontmap, font_mapcount(im.fontheader), ch, g);
}

// The bitmap at (x0, y0), clipped to the image and above row ymax when that is
// not 0. Coverage above 252 sets the pixel, 1 to 252 blends with that weight.
static void drawglyph(image& im, s64 x0, s64 y0, unsigned c, fontglyph const& g, int ymax)
{
    bool bits = font_pixelencoding(im.font) == fontpixels_bits;
    u32 rowbytes = bits ? (g.width + 7) / 8 : g.width;
    s64 bottom = ymax != 0 ? kzv_min<s64>(im.height, ymax) : im.height;
    s64 first = x0 < 0 ? -x0 : 0;
    s64 end = kzv_min<s64>(g.width, (s64)im.width - x0);
    for (u32 r = 0; r < g.rows; r++) {
        s64 py = y0 + r;
        if (py >= bottom)
            break;
        if (py < 0)
            continue;
        u8 const* row = g.bitmap + (uptr)r * rowbytes;
        for (s64 col = first; col < end; col++) {
            int px = (int)(x0 + col);
            if (bits) {
                if (row[col >> 3] >> (7 - (col & 7)) & 1)
                    im.setpixel(px, (int)py, c);
                continue;
            }
            u32 a = row[col];
            if (a > 252)
                im.setpixel(px, (int)py, c);
            else if (a > 0)
                im.setpixel_fixedalpha(px, (int)py, c, a);
        }
    }
}

// The advance of ch in the image's kzv font, kerning against the previous
// character included; true in `draw` when ch has a glyph to draw (then in g and k).
static int kzvadvance(image const& im, u16 ch, fontglyph& g, s32& k, bool& draw)
{
    draw = false;
    int space = (int)font_spaceadvance(im.fontheader);
    if (isspaceunit(ch))
        return space;
    fontlookup found = findglyph(im, ch == SOFTHYPHEN ? ':' : ch, g);
    if (found == font_missing)
        return space;
    if (found == font_noglyph)
        return 0;
    k = im.previouschar ? font_kerning(g, im.previouschar) : 0;
    draw = ch != SOFTHYPHEN;
    return k + g.advance;
}

int image::putchar(int x, int y, unsigned c, unsigned short ch, int ymax)
{
    if (!font) {
        putchar6x13(x, y, c, ch);
        return TEXT_ADVANCE6X13;
    }
    fontglyph g;
    s32 k = 0;
    bool draw;
    int advance = kzvadvance(*this, ch, g, k, draw);
    if (draw)
        drawglyph(*this, (s64)x + k + g.xoffset, (s64)y + g.yoffset, c, g, ymax);
    return advance;
}

// The advance putchar would return, without drawing.
int image::getcharwidth(unsigned short ch) const
{
    if (!font)
        return TEXT_ADVANCE6X13;
    fontglyph g;
    s32 k = 0;
    bool draw;
    return kzvadvance(*this, ch, g, k, draw);
}

// ---- strings --------------------------------------------------------------------

typedef int (image::*builtinputchar)(int x, int y, unsigned c, unsigned short ch);

// A fixed built-in font: LF goes back to the start x one line lower; every other
// unit, drawable or not, advances by the font's advance.
template <class unit>
static int printfixed(image& im, int x, int y, unsigned c, unit const* s, builtinputchar put, int advance,
                      int line)
{
    s64 px = x, py = y;
    for (; *s; s++) {
        if (*s == '\n') {
            px = x;
            py += line;
            continue;
        }
        (im.*put)(clampint(px), clampint(py), c, (u16)*s);
        px += advance;
    }
    return clampint(px);
}

template <class unit> static int printunits(image& im, int x, int y, unsigned c, unit const* s)
{
    im.previouschar = 0;
    if (!s)
        return x;
    if (!im.font)
        return printfixed(im, x, y, c, s, &image::putchar6x13, TEXT_ADVANCE6X13, TEXT_LINE6X13);
    s64 space = font_spaceadvance(im.fontheader), line = font_lineheight(im.fontheader);
    s64 px = x, py = y;
    for (u32 i = 0; s[i]; i++) {
        u16 u = (u16)s[i];
        if (u >= 32) {
            px += isspaceunit(u) ? space : im.putchar(clampint(px), clampint(py), c, u, 0);
            im.previouschar = isspaceunit(u) ? 32 : u;
            continue;
        }
        im.previouschar = 0;
        if (u == '\t') {
            im.previouschar = 32;
            px += TEXT_TABSPACES * space;
        } else if (u == '\r' || u == '\n') {
            px = x;
            py += line;
            if (s[i + 1] == (u == '\r' ? '\n' : '\r'))
                i++;                // the other half of a CR LF or LF CR pair
        }
    }
    im.previouschar = 0;
    return clampint(px);
}

// Without a font every unit counts 6; with one the sum stops at the first CR or LF.
template <class unit> static int measureunits(image& im, unit const* s)
{
    im.previouschar = 0;
    if (!s)
        return 0;
    s64 sum = 0;
    if (!im.font) {
        for (; *s; s++)
            sum += TEXT_ADVANCE6X13;
        return clampint(sum);
    }
    s64 space = font_spaceadvance(im.fontheader);
    for (; *s && *s != '\r' && *s != '\n'; s++) {
        u16 u = (u16)*s;
        if (isspaceunit(u) || u == '\t') {
            sum += u == '\t' ? TEXT_TABSPACES * space : space;
            im.previouschar = 32;
        } else if (u == SOFTHYPHEN) {
            sum += im.getcharwidth(':');
            im.previouschar = ':';
        } else if (u < 32) {
            im.previouschar = 0;
        } else {
            sum += im.getcharwidth(u);
            im.previouschar = u;
        }
    }
    im.previouschar = 0;
    return clampint(sum);
}

int image::print(int x, int y, unsigned c, char16_t const* s) { return printunits(*this, x, y, c, s); }
int image::textlen(char16_t const* s) { return measureunits(*this, s); }

int image::print(int x, int y, unsigned c, char const* s)
{
    u16 units[TEXT_BUFFERUNITS];
    str_utf82unicode(s, units, TEXT_BUFFERUNITS);
    return printunits(*this, x, y, c, units);
}

int image::textlen(char const* s)
{
    u16 units[TEXT_BUFFERUNITS];
    str_utf82unicode(s, units, TEXT_BUFFERUNITS);
    return measureunits(*this, units);
}

int image::print6x13(int x, int y, unsigned c, char const* s)
{
    u16 units[TEXT_BUFFERUNITS];
    str_utf82unicode(s, units, TEXT_BUFFERUNITS);
    return printfixed(*this, x, y, c, units, &image::putchar6x13, TEXT_ADVANCE6X13, TEXT_LINE6X13);
}

int image::print8x16(int x, int y, unsigned c, char const* s)
{
    u16 units[TEXT_BUFFERUNITS];
    str_utf82unicode(s, units, TEXT_BUFFERUNITS);
    return printfixed(*this, x, y, c, units, &image::putchar8x16, TEXT_ADVANCE8X16, TEXT_LINE8X16);
}

} // namespace kzv
