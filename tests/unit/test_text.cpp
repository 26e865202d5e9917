// Text drawing and measuring: exact widths with the dialog font and without a
// font, line breaks (CR LF pairs, tabs), the built-in fonts and their replacement
// table, glyph pixels against the font's own coverage, kerning and 1-bit glyphs in
// a small hand-made font, the 999-unit limit of UTF-8 texts, and clipping: text
// partly or far off the image never writes outside it.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/font.h"
#include "../../gui/image.h"
#include "../../gui/pixelformat.h"
#include "../../gui/text.h"
#include "../../resources/builtinfonts.h"

using namespace kzv;

namespace {

const u32 WHITE = 0xFFFFFF;

struct box {
    int x0, y0, x1, y1;     // inclusive; x0 > x1 when nothing is inked
    u32 count;
};

box inkbox(image const& im, u32 background)
{
    box b = {im.width, im.height, -1, -1, 0};
    for (int y = 0; y < im.height; y++)
        for (int x = 0; x < im.width; x++) {
            if (im.getpixel(x, y) == background)
                continue;
            b.count++;
            b.x0 = kzv_min(b.x0, x);
            b.y0 = kzv_min(b.y0, y);
            b.x1 = kzv_max(b.x1, x);
            b.y1 = kzv_max(b.y1, y);
        }
    return b;
}

bool openwhite(image& im, int w, int h, bool withfont)
{
    if (!im.open((unsigned)w, (unsigned)h, pixfmt_888))
        return false;
    im.clear(WHITE);
    return !withfont || im.setfont("droidmono", 960, false, false);
}

bool samepixels(image const& a, image const& b)
{
    if (a.width != b.width || a.height != b.height)
        return false;
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++)
            if (a.getpixel(x, y) != b.getpixel(x, y))
                return false;
    return true;
}

void setword(u8* p, u32 v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (u8)(v >> (8 * i));
}

// A 1-bit font of three characters: 'A' and 'V' two pixels wide with advance 5,
// 'V' one row lower and kerned by -2 after 'A'; 'x' exists without a glyph.
// Space advance 4, line height 7.
alignas(16) u8 kernfont[216];

u8 const* makekernfont()
{
    u8* f = kernfont;
    memset0(f, sizeof kernfont);
    memcpy(f, "kzv \xCD\xEF\x2D", 7);
    f[8] = fontpixels_bits;
    setword(f + 12, 100);
    setword(f + 32, 80);
    setword(f + 36, 80);
    setword(f + 48, 3);
    setword(f + 52, 192);
    setword(f + 56, 4);
    setword(f + 60, 7);
    memcpy(f + 80, "t#_100", 7);
    u32 const a[8] = {2, 1, 5, 0, 0, 0, 0, 0};
    u32 const v[8] = {2, 1, 5, 0, 1, 36, 1, 0};
    for (int i = 0; i < 8; i++) {
        setword(f + 96 + 4 * i, a[i]);
        setword(f + 144 + 4 * i, v[i]);
    }
    f[128] = 0xC0;
    f[176] = 0xC0;
    setword(f + 180, 'A' | (u32)(u16)-2 << 16);
    u32 const map[6] = {'A', 96, 'V', 144, 'x', 0};
    for (int i = 0; i < 6; i++)
        setword(f + 192 + 4 * i, map[i]);
    return f;
}

} // namespace

TEST(widths_with_the_dialog_font_are_exact)
{
    image im;
    CHECK(openwhite(im, 8, 8, true));
    struct row {
        char const* text;
        int width;
    };
    const row rows[] = {
        {"", 0},
        {"Hello", 45},
        {"a b", 27},
        {"\t", 36},
        {"a\tb", 54},
        {"\xC2\xA0", 9},                    // U+00A0
        {"ab\ncd", 18},                     // only up to the line feed
        {"ab\rcd", 18},
        {"\x01\x1F", 0},                    // control units add nothing
        {"\xC2\xAD", 9},                    // a soft hyphen measures as ':'
        {"\xE4\xB8\x80", 9},                // U+4E00 has no glyph: the space advance
        {"\xC3\x9C" "bersicht", 81},
        {"Gr\xC3\xB6\xC3\x9F" "e 5 \xE2\x82\xAC", 81},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.text);
        CHECK_EQ(im.textlen(r.text), r.width);
        CHECK_EQ(im.print(3, 0, 0, r.text) - 3, r.width);
        CHECK_EQ(im.previouschar, 0);
    }
    kzvtest::setrow(nullptr);
    CHECK_EQ(im.textlen(u"Hello"), 45);
    CHECK_EQ(im.textlen(u"\u00a0\u00ad\u20ac"), 27);
    CHECK_EQ(im.textlen((char const*)nullptr), 0);
    CHECK_EQ(im.getcharwidth('W'), 9);
    CHECK_EQ(im.getcharwidth(' '), 9);
    CHECK_EQ(im.getcharwidth(0x4E00), 9);
}

TEST(widths_without_a_font_count_every_unit)
{
    image im;
    CHECK(openwhite(im, 8, 8, false));
    CHECK_EQ(im.textlen("ab\ncd"), 30);
    CHECK_EQ(im.textlen(""), 0);
    CHECK_EQ(im.textlen("\t"), 6);
    CHECK_EQ(im.textlen("\xC3\x9C"), 6);
    CHECK_EQ(im.textlen(u"ab\r\n"), 24);
    CHECK_EQ(im.getcharwidth('W'), 6);
    CHECK_EQ(im.putchar(0, 0, 0, 'W', 0), 6);
    CHECK_EQ(im.print(5, 0, 0, "abc"), 23);
}

// Where the first glyph of the second line lands: CR LF and LF CR are one break.
TEST(line_breaks_with_the_dialog_font)
{
    struct row {
        char const* text;
        int top;                    // the ink's first row: 'H' starts 2 rows into its line
    };
    const row rows[] = {
        {"H", 2}, {"\nH", 17}, {"\rH", 17}, {"\r\nH", 17}, {"\n\rH", 17},
        {"\n\nH", 32}, {"\r\rH", 32}, {"\r\n\r\nH", 32}, {"\n\r\nH", 32},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.text);
        image im;
        CHECK(openwhite(im, 40, 60, true));
        CHECK_EQ(im.print(4, 0, 0, r.text), 13);
        box b = inkbox(im, WHITE);
        CHECK_EQ(b.y0, r.top);
        CHECK_EQ(b.x0, 4);          // the faint left edge of the H
    }
    kzvtest::setrow(nullptr);
    image im;
    CHECK(openwhite(im, 60, 20, true));
    CHECK_EQ(im.print(0, 0, 0, "\tH"), 45);
    CHECK_EQ(inkbox(im, WHITE).x0, 36);
}

TEST(line_breaks_without_a_font)
{
    image a, b;
    CHECK(openwhite(a, 30, 30, false));
    CHECK(openwhite(b, 30, 30, false));
    CHECK_EQ(a.print(2, 0, 0, "x\nH"), 8);
    b.putchar6x13(2, 13, 0, 'H');
    b.putchar6x13(2, 0, 0, 'x');
    CHECK(samepixels(a, b));
    // A CR is drawn as nothing and advances like any unit.
    image c;
    CHECK(openwhite(c, 30, 30, false));
    CHECK_EQ(c.print(2, 0, 0, "\r"), 8);
    CHECK_EQ(c.print6x13(2, 0, 0, "\r"), 8);
    CHECK_EQ(c.print8x16(2, 0, 0, "\r"), 10);
    CHECK_EQ(inkbox(c, WHITE).count, 0);
    CHECK_EQ(c.print8x16(0, 0, 0, "ab\ncd"), 16);
}

TEST(builtin_fonts_replace_typographic_characters)
{
    struct row {
        u16 from, to;
    };
    const row rows[] = {
        {0x0095, '*'}, {0x014F, 'o'}, {0x2013, '-'}, {0x2014, '-'}, {0x2018, '\''},
        {0x2019, '\''}, {0x201C, '"'}, {0x201E, '"'}, {0x2022, '*'}, {0x2026, ' '},
        {0x2122, 174}, {0x2190, '<'}, {0x2192, '>'}, {0x27A1, '>'}, {0x2757, '!'},
        {0x201D, 0x201D}, {'A', 'A'}, {0x4E00, 0x4E00},
    };
    for (row const& r : rows) {
        unsigned short ch = r.from;
        image::checkunicodetowin(ch);
        CHECK_EQ(ch, r.to);
    }
    // The replaced character draws the look-alike's pixels in every built-in font.
    typedef int (image::*putter)(int, int, unsigned, unsigned short);
    const putter putters[] = {&image::putchar6x13, &image::putchar8x16, &image::putchar5x6,
                              &image::putcharvar13};
    for (putter put : putters) {
        image a, b;
        CHECK(openwhite(a, 20, 20, false));
        CHECK(openwhite(b, 20, 20, false));
        (a.*put)(1, 1, 0, 0x2014);
        (b.*put)(1, 1, 0, '-');
        CHECK(samepixels(a, b));
        CHECK(inkbox(a, WHITE).count > 0);
        image c;
        CHECK(openwhite(c, 20, 20, false));
        (c.*put)(1, 1, 0, 0x2026);      // an ellipsis becomes a space
        (c.*put)(1, 1, 0, 0x4E00);      // above 254 without a replacement: nothing
        (c.*put)(1, 1, 0, 31);
        CHECK_EQ(inkbox(c, WHITE).count, 0);
    }
    image d;
    CHECK(openwhite(d, 40, 20, false));
    CHECK_EQ(d.print6x13(0, 0, 0, "\xE2\x80\xA6\xE4\xB8\x80"), 12);
    CHECK_EQ(d.print8x16(0, 0, 0, "\xE4\xB8\x80"), 8);
    CHECK_EQ(inkbox(d, WHITE).count, 0);
}

TEST(builtin_glyphs_follow_their_tables)
{
    // 6 x 13: bit 5 is column 0; 8 x 16: bit 7; 5 x 6: bit 4, lower case as capitals.
    struct row {
        int (image::*put)(int, int, unsigned, unsigned short);
        u8 const* table;
        int rows, columns, advance;
    };
    const row fonts[] = {
        {&image::putchar6x13, font6x13, 13, 6, 6},
        {&image::putchar8x16, font8x16, 16, 8, 8},
        {&image::putchar5x6, font5x6, 6, 5, 5},
    };
    for (row const& f : fonts) {
        image im;
        CHECK(openwhite(im, 12, 20, false));
        CHECK_EQ((im.*f.put)(2, 3, 0, 'R'), f.advance);
        u8 const* glyph = f.table + ('R' - 32) * f.rows;
        u32 mismatches = 0, ink = 0;
        for (int y = 0; y < im.height; y++)
            for (int x = 0; x < im.width; x++) {
                int r = y - 3, c = x - 2;
                bool set = r >= 0 && r < f.rows && c >= 0 && c < f.columns &&
                           (glyph[r] >> (f.columns - 1 - c) & 1);
                ink += set;
                mismatches += (im.getpixel(x, y) == 0) != set;
            }
        CHECK(ink > 8);
        CHECK_EQ(mismatches, 0);
    }
    image a, b;
    CHECK(openwhite(a, 8, 8, false));
    CHECK(openwhite(b, 8, 8, false));
    a.putchar5x6(0, 0, 0, 'q');
    b.putchar5x6(0, 0, 0, 'Q');
    CHECK(samepixels(a, b));
}

TEST(proportional_font_widths)
{
    CHECK(image::charwidthvar13('W') > image::charwidthvar13('i'));
    CHECK(image::charwidthvar13('i') > 0);
    CHECK_EQ(image::charwidthvar13(' '), fontvar13[0]);
    CHECK_EQ(image::charwidthvar13(0x4E00), 0);
    CHECK_EQ(image::charwidthvar13(31), 0);
    CHECK_EQ(image::charwidthvar13(0x2014), image::charwidthvar13('-'));
    image im;
    CHECK(openwhite(im, 40, 20, false));
    int w = image::charwidthvar13('M');
    CHECK_EQ(im.putcharvar13(3, 2, 0, 'M'), w);
    box b = inkbox(im, WHITE);
    // Columns 0..w may carry ink, rows 0..12.
    CHECK(b.x0 >= 3 && b.x1 <= 3 + w);
    CHECK(b.y0 >= 2 && b.y1 <= 14);
    CHECK_EQ(im.putcharvar13(0, 0, 0, 0x4E00), 0);
}

// Every pixel of a drawn glyph is the font's coverage blended over the background:
// above 252 the colour itself, 1 to 252 a blend, 0 untouched; nothing else changes.
TEST(glyph_pixels_follow_the_coverage)
{
    static const u16 chars[] = {'H', 'g', '_', 0xC4, 0x20AC};
    for (u16 ch : chars) {
        image im;
        CHECK(openwhite(im, 30, 30, true));
        u32 colour = 0x204080;
        CHECK_EQ(im.putchar(10, 6, colour, ch, 0), 9);
        fontglyph g;
        CHECK_EQ(font_findglyph(im.font, im.fontmap, font_mapcount(im.fontheader), ch, g), font_found);
        u32 wrong = 0;
        for (int y = 0; y < im.height; y++)
            for (int x = 0; x < im.width; x++) {
                s32 c = x - 10 - g.xoffset, r = y - 6 - g.yoffset;
                u32 a = c >= 0 && r >= 0 && (u32)c < g.width && (u32)r < g.rows ? g.bitmap[r * g.width + c] : 0;
                u32 expected = a > 252 ? colour : a > 0 ? pixel_blend888(WHITE, colour, a) : WHITE;
                wrong += im.getpixel(x, y) != expected;
            }
        CHECK_EQ(wrong, 0);
    }
}

TEST(ymax_cuts_the_rows_at_and_below_it)
{
    image im;
    CHECK(openwhite(im, 30, 30, true));
    CHECK_EQ(im.putchar(5, 5, 0, 'H', 12), 9);
    box b = inkbox(im, WHITE);
    CHECK_EQ(b.y0, 7);
    CHECK_EQ(b.y1, 11);
    image full;
    CHECK(openwhite(full, 30, 30, true));
    full.putchar(5, 5, 0, 'H', 0);
    CHECK_EQ(inkbox(full, WHITE).y1, 17);
}

TEST(kerning_and_one_bit_glyphs)
{
    u8 const* f = makekernfont();
    CHECK(font_check(f, sizeof kernfont));
    image im;
    CHECK(openwhite(im, 40, 10, false));
    CHECK(im.setfont(f));
    struct row {
        char const* text;
        int width;
    };
    const row rows[] = {
        {"AV", 8}, {"VA", 10}, {"A V", 14}, {"AxV", 10}, {"x", 0}, {"A\tV", 26}, {"Q", 4},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.text);
        CHECK_EQ(im.textlen(r.text), r.width);
    }
    kzvtest::setrow(nullptr);
    CHECK_EQ(im.print(1, 2, 0, "AV"), 9);
    // 'A' at columns 1-2 of row 2; 'V' moved left by 2: columns 4-5, one row lower.
    for (int x = 0; x < im.width; x++) {
        CHECK_EQ(im.getpixel(x, 2), (x == 1 || x == 2) ? 0u : WHITE);
        CHECK_EQ(im.getpixel(x, 3), (x == 4 || x == 5) ? 0u : WHITE);
    }
    CHECK_EQ(inkbox(im, WHITE).count, 4);
    im.previouschar = 'A';
    CHECK_EQ(im.getcharwidth('V'), 3);
    im.previouschar = 0;
    CHECK_EQ(im.getcharwidth('V'), 5);
    CHECK_EQ(im.getcharwidth('x'), 0);
    CHECK_EQ(im.getcharwidth('Q'), 4);
    CHECK_EQ(im.print(0, 0, 0, "A\nV"), 5);    // back to the start, then one V
}

// More than 511 characters used to overrun a 1 KiB buffer; longer texts are cut at 999 units.
TEST(long_utf8_texts_stop_at_999_units)
{
    static char text[3001];
    memset(text, 'a', 3000);
    text[3000] = 0;
    image im;
    CHECK(openwhite(im, 16, 16, false));
    CHECK_EQ(im.textlen(text), 999 * 6);
    CHECK_EQ(im.print(0, 0, 0, text), 999 * 6);
    CHECK_EQ(im.print6x13(0, 0, 0, text), 999 * 6);
    CHECK_EQ(im.print8x16(0, 0, 0, text), 999 * 8);
    CHECK(im.setfont("droidmono", 960, false, false));
    CHECK_EQ(im.textlen(text), 999 * 9);
    CHECK_EQ(im.print(0, 0, 0, text), 999 * 9);
    // 600 two-byte characters: 1200 bytes, 600 units, all kept.
    for (int i = 0; i < 1200; i += 2) {
        text[i] = (char)0xC3;
        text[i + 1] = (char)0xA4;
    }
    text[1200] = 0;
    CHECK_EQ(im.textlen(text), 600 * 9);
    // A sequence cut by the terminator: its bytes count one unit each.
    image plain;
    CHECK(openwhite(plain, 8, 8, false));
    CHECK_EQ(plain.textlen("ab\xE2\x82"), 24);
    CHECK_EQ(plain.textlen("\xF0\x9F"), 12);
}

// A window inside a larger buffer: text drawn across its edges in every font must
// leave the pixels around the window alone.
TEST(text_never_writes_outside_the_image)
{
    const int W = 64, H = 48, X = 10, Y = 12, w = 21, h = 11;
    static u32 buffer[W * H];
    const u32 GUARD = 0x123456;
    struct spot {
        int x, y;
    };
    const spot spots[] = {{-7, -5}, {-3, 4}, {15, -9}, {12, 6}, {18, 8}, {-20000, 3}, {5, 30000},
                          {0x7FFFFFF0, 0}, {0, -0x7FFFFFF0}, {-0x7FFFFFFF, -0x7FFFFFFF}};
    for (int font = 0; font < 6; font++) {
        for (int i = 0; i < W * H; i++)
            buffer[i] = GUARD;
        image im;
        CHECK(im.open(buffer + Y * W + X, w, h, pixfmt_888, W * 4));
        if (font == 1)
            CHECK(im.setfont("droidmono", 960, false, false));
        for (spot s : spots) {
            switch (font) {
            case 0:
            case 1:
                im.print(s.x, s.y, 0xFF00FF, "Hg_|\xC3\x84\n\tjW\xE2\x82\xAC");
                im.putchar(s.x, s.y, 0xFF00FF, 'M', s.y + 3);
                break;
            case 2: im.print6x13(s.x, s.y, 0xFF00FF, "Hg_|\nW"); break;
            case 3: im.print8x16(s.x, s.y, 0xFF00FF, "Hg_|\nW"); break;
            case 4: im.putchar5x6(s.x, s.y, 0xFF00FF, 'W'); break;
            default: im.putcharvar13(s.x, s.y, 0xFF00FF, 'W'); break;
            }
        }
        u32 outside = 0, inside = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                bool in = x >= X && x < X + w && y >= Y && y < Y + h;
                if (!in)
                    outside += buffer[y * W + x] != GUARD;
                else
                    inside += buffer[y * W + x] != GUARD;
            }
        CHECK_EQ(outside, 0);
        CHECK(inside > 0);
    }
}

TEST(far_off_positions_clamp_instead_of_wrapping)
{
    image im;
    CHECK(openwhite(im, 16, 16, true));
    CHECK_EQ(im.print(0x7FFFFFF0, 0, 0, "Hello"), 0x7FFFFFFF);
    CHECK_EQ(im.print(-0x7FFFFFFF - 1, 0, 0, "\x01"), -0x7FFFFFFF - 1);
    CHECK_EQ(inkbox(im, WHITE).count, 0);
    image plain;
    CHECK(openwhite(plain, 16, 16, false));
    CHECK_EQ(plain.print6x13(0x7FFFFFFE, 0, 0, "ab"), 0x7FFFFFFF);
}

TEST(text_on_every_pixel_format)
{
    static const u32 formats[] = {pixfmt_1, pixfmt_8, pixfmt_332, pixfmt_555, pixfmt_565, pixfmt_8888};
    for (u32 fmt : formats) {
        image im;
        CHECK(im.open(40, 20, fmt));
        im.clear(0);
        CHECK(im.setfont("droidmono", 960, false, false));
        CHECK_EQ(im.print(1, 1, 0xFFFFFF, "Hi"), 19);
        CHECK(inkbox(im, 0).count > 10);
    }
}
