// Kzv fonts: the embedded dialog font passes the whole-font check and holds the
// characters and metrics the dialogs rely on; damaged copies of it are refused one
// fault at a time; font selection by name builds the resource name as the dialogs
// expect (case folded, styles, size) and refuses without losing the current font.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/resources.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/font.h"
#include "../../gui/image.h"
#include "../../gui/text.h"

using namespace kzv;

namespace {

char const* const DIALOGFONT = "fnt/droidmono#_960";

u32 word(u8 const* p) { return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24; }
void setword(u8* p, u32 v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (u8)(v >> (8 * i));
}

resourceentry dialogfont()
{
    resourceentry entry = {nullptr, 0};
    resource_find(DIALOGFONT, entry);
    return entry;
}

} // namespace

TEST(dialog_font_is_whole_and_has_its_metrics)
{
    resourceentry f = dialogfont();
    CHECK(f.bytes != nullptr);
    CHECK(font_check(f.bytes, f.size));
    u8 const* metrics = font_metrics(f.bytes);
    CHECK_EQ(font_pixelencoding(f.bytes), fontpixels_coverage);
    CHECK_EQ(font_mapcount(metrics), 107);
    CHECK_EQ(font_spaceadvance(metrics), 9);
    CHECK_EQ(font_lineheight(metrics), 15);
    CHECK_EQ(word(f.bytes + 12), 960);
    CHECK_STR((char const*)f.bytes + word(metrics), "droidmono#_960");
}

TEST(dialog_font_covers_its_characters_with_advance_9)
{
    resourceentry f = dialogfont();
    u8 const* map = font_map(f.bytes);
    u32 count = font_mapcount(font_metrics(f.bytes));
    static const u16 extra[] = {0xE4, 0xF6, 0xFC, 0xC4, 0xD6, 0xDC, 0xDF, 0x20AC, 0xA9, 0xAE, 0x3A9, 0xB5};
    fontglyph g;
    for (u16 ch = 33; ch <= 127; ch++) {
        CHECK_EQ(font_findglyph(f.bytes, map, count, ch, g), font_found);
        CHECK_EQ(g.advance, 9);
        CHECK_EQ(g.kerningcount, 0);
    }
    for (u16 ch : extra) {
        CHECK_EQ(font_findglyph(f.bytes, map, count, ch, g), font_found);
        CHECK_EQ(g.advance, 9);
    }
    CHECK_EQ(font_findglyph(f.bytes, map, count, ' ', g), font_missing);
    CHECK_EQ(font_findglyph(f.bytes, map, count, 0x4E00, g), font_missing);
    // Capitals sit on rows 2..12 of the 15-row line.
    CHECK_EQ(font_findglyph(f.bytes, map, count, 'H', g), font_found);
    CHECK_EQ(g.yoffset, 2);
    CHECK_EQ(g.rows, 11);
}

// Each row breaks one promise of the format; the check must refuse every one.
TEST(damaged_fonts_are_refused)
{
    resourceentry f = dialogfont();
    u8* copy = (u8*)process->pool.getmem(f.size);
    CHECK(copy != nullptr);
    if (!copy)
        return;
    u32 mapat = word(f.bytes + 52);
    u32 firstglyph = word(f.bytes + mapat + 4);
    enum { none, shorter, byteat, wordat };
    struct damage {
        char const* name;
        int kind;
        u32 offset;
        u32 value;
    };
    const damage cases[] = {
        {"shorter than header and metrics", shorter, 79, 0},
        {"cut inside the map", shorter, f.size - 1, 0},
        {"magic", byteat, 1, 'x'},
        {"image encoding instead of font", byteat, 6, 54},
        {"unknown pixel encoding", byteat, 8, 2},
        {"map count over the limit", wordat, 48, FONT_MAXGLYPHS + 1},
        {"map past the end", wordat, 52, f.size - 8},
        {"space advance over the limit", wordat, 56, FONT_MAXMETRIC + 1},
        {"line height over the limit", wordat, 60, 0x80000000u},
        {"glyph record past the end", wordat, mapat + 4, f.size - 16},
        {"glyph width over the limit", wordat, firstglyph, FONT_MAXSIDE + 1},
        {"advance over the limit", wordat, firstglyph + 8, 0x7FFFFFFF},
        {"y offset far negative", wordat, firstglyph + 16, 0x80000000u},
        {"kerning table past the end", wordat, firstglyph + 20, f.size},
    };
    for (damage const& d : cases) {
        kzvtest::setrow(d.name);
        memcpy(copy, f.bytes, f.size);
        u32 length = f.size;
        if (d.kind == shorter)
            length = d.offset;
        else if (d.kind == byteat)
            copy[d.offset] = (u8)d.value;
        else
            setword(copy + d.offset, d.value);
        CHECK(!font_check(copy, length));
    }
    kzvtest::setrow("bitmap past the end");
    memcpy(copy, f.bytes, f.size);
    setword(copy + firstglyph, FONT_MAXSIDE);
    setword(copy + firstglyph + 4, FONT_MAXSIDE);
    CHECK(!font_check(copy, f.size));
    kzvtest::setrow("kerning count past the end");
    memcpy(copy, f.bytes, f.size);
    setword(copy + firstglyph + 20, 32);
    setword(copy + firstglyph + 24, 0x10000);
    CHECK(!font_check(copy, f.size));
    kzvtest::setrow("a kerning table inside the font is fine");
    setword(copy + firstglyph + 24, 1);
    CHECK(font_check(copy, f.size));
    kzvtest::setrow(nullptr);
    process->pool.freemem(copy);
}

TEST(setfont_by_name_folds_case_and_adds_styles_and_size)
{
    u8 const* expected = getresourcepointer(DIALOGFONT);
    struct row {
        char const* name;
        unsigned size;
        bool bold, italic, found;
    };
    const row rows[] = {
        {"droidmono", 960, false, false, true},
        {"DroidMono", 960, false, false, true},
        {"DROIDMONO", 960, false, false, true},
        {"droidmono", 960, true, false, false},     // "fnt/droidmono#_bold_960" is not there
        {"droidmono", 960, false, true, false},
        {"droidmono", 961, false, false, false},
        {"droidmono#", 960, false, false, false},
        {"", 960, false, false, false},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.name);
        image im;
        CHECK_EQ(im.setfont(r.name, r.size, r.bold, r.italic), r.found);
        CHECK(im.font == (r.found ? expected : nullptr));
        if (r.found) {
            CHECK(im.fontheader == expected + FONT_METRICS);
            CHECK(im.fontmap == expected + word(expected + 52));
        }
    }
    kzvtest::setrow(nullptr);
}

// The name looked up: the given name lower-cased between "fnt/" and "#", then the
// styles in a fixed order, then the size; a name found with no style is found only
// without one.
TEST(font_resource_names)
{
    struct row {
        char const* name;
        unsigned size;
        bool bold, italic;
        char const* expected;
    };
    const row rows[] = {
        {"DroidMono", 960, false, false, "fnt/droidmono#_960"},
        {"droidmono", 960, true, false, "fnt/droidmono#_bold_960"},
        {"droidmono", 960, false, true, "fnt/droidmono#_italic_960"},
        {"Sans Serif", 12, true, true, "fnt/sans serif#_bold_italic_12"},
        {"", 0, false, false, "fnt/#_0"},
        {"x", 4294967295u, false, false, "fnt/x#_4294967295"},
    };
    for (row const& r : rows) {
        kzvtest::setrow(r.expected);
        char out[64];
        CHECK(text_fontresourcename(out, sizeof out, r.name, r.size, r.bold, r.italic));
        CHECK_STR(out, r.expected);
    }
    kzvtest::setrow("a name that does not fit");
    char small[24];
    CHECK(text_fontresourcename(small, sizeof small, "droidmono", 960, true, false));
    CHECK(!text_fontresourcename(small, sizeof small, "droidmono", 960, true, true));
    CHECK(!text_fontresourcename(small, sizeof small, nullptr, 960, false, false));
    kzvtest::setrow(nullptr);
}

TEST(setfont_refusals_keep_the_current_font)
{
    image im;
    CHECK(!im.setfont(nullptr, 960, false, false));
    CHECK(im.font == nullptr);
    CHECK(im.setfont("droidmono", 960, false, false));
    u8 const* current = im.font;
    CHECK(!im.setfont("droidmono", 960, true, true));
    CHECK(im.font == current);
    // Names that do not fit the 1 KiB name buffer, and one that just fits.
    static char name[1200];
    static const u32 lengths[] = {1014, 1015, 1199};
    for (u32 length : lengths) {
        memset(name, 'a', length);
        name[length] = 0;
        CHECK(!im.setfont(name, 960, false, false));
        CHECK(!im.setfont(name, 4294967295u, true, true));
        CHECK(im.font == current);
    }
}

TEST(setfont_by_pointer_shares_a_font)
{
    image a, b;
    CHECK(a.setfont("droidmono", 960, false, false));
    CHECK(b.setfont(a.font));
    CHECK(b.font == a.font && b.fontheader == a.fontheader && b.fontmap == a.fontmap);
    CHECK(!b.setfont((unsigned char const*)nullptr));
    static const u8 notafont[80] = {'k', 'z', 'v', ' ', 0xCD, 0xEF, 57};
    CHECK(!b.setfont(notafont));
    CHECK(b.font == a.font);
    image c;
    CHECK(!c.setfont(notafont));
    CHECK(c.font == nullptr);
}

// Opening resets the whole record, the font with it: text then draws in 6 x 13
// until the font is set again.
TEST(open_resets_the_font)
{
    image im;
    CHECK(im.setfont("droidmono", 960, false, false));
    CHECK(im.open(40, 20, 888));
    CHECK(im.font == nullptr && im.fontheader == nullptr && im.fontmap == nullptr);
    CHECK_EQ(im.textlen("abc"), 18);
    CHECK(im.setfont("droidmono", 960, false, false));
    CHECK_EQ(im.textlen("abc"), 27);
}
