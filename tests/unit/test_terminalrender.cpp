// The terminal renderer in text-UI mode against a scripted byte-stream peer: the
// opening and its size rules, exact update bytes, "only what changed", clipping,
// drawing, images, and a random drawing run at every width from 1 to 60 columns
// whose update stream is replayed through the emulator and must give back the
// renderer's own grid (the sanitizer build also watches the line buffer).
#include "test_terminalpeer.h"
#include "guifakes.h"
#include "../../framework/fileload.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../gui/image.h"

using namespace kzv;
using namespace terminaltest;

namespace {

u32 cellat(ansiterminal& t, int x, int y) { return t.grid[y * t.columns + x]; }

// What a cell shows once sent: box codes as box characters, control codes as spaces.
u32 shownchar(u32 cell)
{
    static const u16 boxes[12] = {0, 0x250C, 0x2510, 0x2500, 0x2514, 0x2518, 0x2502,
                                  0x252C, 0x2534, 0x251C, 0x2524, 0x253C};
    u32 ch = cell_char(cell);
    if (ch >= 1 && ch <= 11)
        return boxes[ch];
    if (ch < 32)
        return ' ';
    if ((ch >= 0xD800 && ch <= 0xDFFF) || ch == 0xFFFF)
        return 0xFFFD;
    return ch;
}

// How a shown cell looks: a blank, and a half block whose halves have one colour,
// show their background alone; any other cell its character in both colours.
u32 look(u32 ch, u32 fg, u32 bg)
{
    bool solid = ch == 0 || ch == ' ' || ((ch == 0x2584 || ch == 0x2580) && fg == bg);
    return solid ? cell_make(' ', 0, bg) : cell_make(ch, fg, bg);
}

// The peer's bytes replayed through an emulator of the same size must show every
// cell of the renderer as it looks: its character and both colours, or for a
// blank or a one-colour half block its colour.
bool replaymatches(ansiterminal& t, ansiterminal& screen, fakepeer& peer)
{
    screen.writeemu(peer.output, peer.length);
    for (int y = 0; y < t.rows; y++)
        for (int x = 0; x < t.columns; x++) {
            u32 want = cellat(t, x, y), got = cellat(screen, x, y);
            if (look(cell_char(got), cell_fg(got), cell_bg(got)) !=
                look(shownchar(want), cell_fg(want), cell_bg(want))) {
                eprintf("cell %d,%d: sent %x, shown %x\n", x, y, want, got);
                return false;
            }
        }
    return true;
}

struct lcg {
    u32 state;
    u32 next(u32 limit) { state = state * 1103515245u + 12345u; return (state >> 8) % limit; }
    int range(int low, int high) { return low + (int)next((u32)(high - low + 1)); }
};

} // namespace

TEST(opening_takes_the_size_of_the_standard_io_stream)
{
    static const struct { char const* name; u16 c, r; s16 wantc, wantr; } rows[] = {
        {"ordinary", 100, 30, 100, 30},
        {"unknown size", 0, 0, 80, 24},
        {"after stty cols 40000", 40000, 30, 80, 30},
        {"largest believed", 999, 999, 999, 999},
        {"one past it", 1000, 1000, 80, 24},
        {"one cell", 1, 1, 1, 1},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        peer.start(source_stdio, row.c, row.r, true);
        wire(peer, t);
        CHECK(t.open(0, 0, 1, 1));
        CHECK_EQ(t.mode, termmode_tui);
        CHECK_EQ(t.columns, row.wantc);
        CHECK_EQ(t.rows, row.wantr);
        CHECK(t.modeflags & termflag_sizefromstdio);
        // No Telnet bytes and no size query: only the start sequence and the
        // erase to colour 0.
        CHECK_STR(peer.text(), "\x1b[?7l\x1b[?25l\x1b[?1003h\x1b[40m\x1b[2J");
        CHECK(t.grid && t.shadow && t.linebuf);
        CHECK_EQ(t.linecapacity, 2u * (u32)t.columns + 64);
        t.exit(true);
        peer.stop();
    }
}

TEST(opening_refuses_without_a_byte_stream_peer)
{
    ansiterminal t;
    CHECK(!t.open(0, 0, 1, 1));
    CHECK_EQ(t.mode, termmode_closed);
    fakepeer peer;
    peer.start(source_stdio, 80, 24, true);
    peer.type = type_gui;
    wire(peer, t);
    CHECK(!t.open(0, 0, 1, 1));
    CHECK_EQ(t.mode, termmode_closed);
    // Drawing and updates on an unopened renderer do nothing.
    t.termfillrect(0, 0, 10, 10, 0xFFFFFF);
    t.termupdate(true);
    CHECK_EQ(peer.length, 0u);
    peer.stop();
}

TEST(other_peers_are_asked_for_their_size)
{
    static const struct { char const* name; char const* reply; u32 piece; s16 wantc, wantr; } rows[] = {
        {"plain reply", "\x1b[30;100R", 64, 100, 30},
        {"reply in single bytes", "\x1b[40;132R", 1, 132, 40},
        {"noise before the reply", "xy\x1b[12;34R", 3, 34, 12},
        {"endless digit run", "\x1b[99999999999999999999;50R", 64, 50, 24},
        {"zero rows", "\x1b[0;70R", 64, 70, 24},
        {"no column count", "\x1b[20R", 64, 80, 20},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        peer.start(source_tcp, 0, 0, false);
        peer.piece = row.piece;
        peer.feed(row.reply);
        wire(peer, t);
        CHECK(t.open(0, 0, 1, 1));
        CHECK_EQ(t.columns, row.wantc);
        CHECK_EQ(t.rows, row.wantr);
        CHECK(!(t.modeflags & termflag_sizefromstdio));
        static const char expect[] = "\xff\xfd\x22\xff\xfa\x22\x01\x00\xff\xf0\xff\xfb\x01"
                                     "\x1b[s\x1b[999;999f\x1b[6n\x1b[u\x1b[1G";
        CHECK(peer.length >= sizeof(expect) - 1);
        CHECK_MEM(peer.output, expect, sizeof(expect) - 1);
        t.exit(true);
        peer.stop();
    }
}

TEST(a_silent_peer_leaves_80_by_24)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(54, 0, 0, false);     // a pipe: no size of its own, and no reply comes
    wire(peer, t);
    CHECK(t.open(0, 0, 1, 1));
    CHECK_EQ(t.columns, 80);
    CHECK_EQ(t.rows, 24);
    t.exit(true);
    peer.stop();
}

namespace {
void* refusememory(int) { return nullptr; }
} // namespace

// A grid its pool cannot give fails the open: no start sequence reaches the
// terminal, and drawing and updates on the renderer do nothing.
TEST(a_grid_the_pool_refuses_fails_the_open)
{
    fakepeer peer;
    peer.start(source_stdio, 999, 999, true);
    mem* small = mem::getnewroot(0x4000, 0x4000);
    if (!CHECK(small != nullptr))
        return;
    memsystemsource saved = mem_systemsource;
    mem_systemsource = refusememory;
    ansiterminal t(small);
    wire(peer, t);
    CHECK(!t.open(0, 0, 1, 1));
    CHECK(t.mode != termmode_tui);
    CHECK(t.grid == nullptr);
    t.termfillrect(0, 0, 999, 999, 0xFFFFFF);
    t.termputstring8(0, 0, 0xFFFFFF, "x");
    t.termupdate(true);
    CHECK_EQ(peer.length, 0u);
    CHECK(!t.open(999, 999, 0, 0));             // nor an emulator of that size
    CHECK(t.grid == nullptr);
    t.writeemu((u8 const*)"abc\x1b[2J", 7);
    mem_systemsource = saved;
    // With memory again the same renderer opens.
    CHECK(t.open(0, 0, 1, 1));
    CHECK_EQ(t.mode, termmode_tui);
    t.exit(true);
    peer.stop();
}

TEST(update_sends_the_changed_run_with_its_colours)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 5, 2));
    t.termputstring8(1, 0, 0xFF0000, "ab");
    t.termupdate(false);
    CHECK_STR(peer.text(), "\x1b[1;2H\x1b[38;5;196m\x1b[40mab\x1b[1;1H\x1b(B");
    CHECK_EQ(peer.buffering, 1u);
    CHECK_EQ(peer.unbuffering, 1u);
    // Nothing drawn since: no cell bytes, only the buffering pair.
    peer.reset();
    t.termupdate(false);
    CHECK_EQ(peer.length, 0u);
    CHECK_EQ(peer.buffering, 1u);
    CHECK_EQ(peer.unbuffering, 1u);
    // The same character drawn again changes nothing either.
    t.termputchar(1, 0, 0xFF0000, 'a');
    t.termupdate(false);
    CHECK_EQ(peer.length, 0u);
    // One changed cell in the second row: only that cell, colours sent afresh.
    t.termputchar(4, 1, 0x00FF00, 'z');
    t.termupdate(false);
    CHECK_STR(peer.text(), "\x1b[2;5H\x1b[38;5;46m\x1b[40mz\x1b[1;1H\x1b(B");
    t.exit(true);
    CHECK_STR(peer.text(), "\x1b[2;5H\x1b[38;5;46m\x1b[40mz\x1b[1;1H\x1b(B\x1b[32m\x1b[999;1f");
    peer.stop();
}

TEST(a_grid_never_cleared_sends_nothing)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 10, 3));
    t.termupdate(false);
    CHECK_EQ(peer.length, 0u);
    // A full update sends every cell; zero cells go out as spaces on their colour.
    t.termupdate(true);
    CHECK(peer.contains("\x1b[1;1H\x1b[40m          \x1b[2;1H"));
    t.exit(true);
    peer.stop();
}

// The terminal is erased to colour 0 at the opening, so a half block of colour 0
// and a blank on it already look like what is there and are not sent; a cell goes
// out only when its look changes, and without colours a half block is a block.
// Where colours are sent, a cell of one colour goes out as a space on that colour
// with no foreground, and the next two-colour cell gets both of its own again.
TEST(update_sends_only_cells_that_look_different)
{
    const u32 black = cell_make(uchar_lowerhalf, 0, 0), blue = cell_make(uchar_lowerhalf, 4, 4);
    const u32 blueblank = cell_make(' ', 7, 4), blueonblack = cell_make(uchar_lowerhalf, 4, 0);
    const u32 whiteonblue = cell_make(uchar_lowerhalf, 7, 4), green = cell_make(uchar_upperhalf, 2, 2);
    const u32 redtext = cell_make('a', 1, 4);
    static const struct { char const* name; int depth; u32 first[3]; u32 second[3]; char const* sent1;
                          char const* sent2; } rows[] = {
        {"ground only", 256, {black, black, black}, {black, black, black}, "", ""},
        {"one coloured cell", 256, {black, blueonblack, black}, {black, blueonblack, black},
         "\x1b[1;2H\x1b[34m\x1b[40m\xe2\x96\x84\x1b[1;1H\x1b(B", ""},
        {"a blank for a half block of its colour", 256, {blue, blue, blue}, {blue, blueblank, blue},
         "\x1b[1;1H\x1b[44m   \x1b[1;1H\x1b(B", ""},
        {"a half block between blanks", 256, {blue, blueonblack, blue}, {blue, blueonblack, blue},
         "\x1b[1;1H\x1b[44m \x1b[34m\x1b[40m\xe2\x96\x84\x1b[44m \x1b[1;1H\x1b(B", ""},
        {"a blank's foreground is not taken as sent", 256, {blueblank, whiteonblue, black},
         {blueblank, whiteonblue, black}, "\x1b[1;1H\x1b[44m \x1b[37m\xe2\x96\x84\x1b[1;1H\x1b(B", ""},
        {"text keeps its foreground after blanks", 16, {green, blue, redtext}, {green, blueblank, redtext},
         "\x1b[1;1H\x1b[42m \x1b[44m \x1b[31ma\x1b[1;1H\x1b(B", ""},
        {"no colours", 2, {black, 0, 0}, {0, 0, 0}, "\x1b[1;1H\xe2\x96\x84\x1b[1;1H\x1b(B",
         "\x1b[1;1H \x1b[1;1H\x1b(B"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        CHECK(opentui(peer, t, 3, 1));
        t.callback(&t, termcmd_setcolors, row.depth, 0, nullptr);
        t.termputcells(0, 0, row.first, 3);
        t.termupdate(false);
        CHECK_STR(peer.text(), row.sent1);
        peer.reset();
        t.termputcells(0, 0, row.second, 3);
        t.termupdate(false);
        CHECK_STR(peer.text(), row.sent2);
        t.exit(true);
        peer.stop();
    }
}

TEST(colour_sequences_by_depth)
{
    static const struct { char const* name; int depth; u32 rgb; char const* expect; } rows[] = {
        {"256 colours, cube", 256, 0x0000FF, "\x1b[1;1H\x1b[38;5;21m\x1b[40mx\x1b[1;1H\x1b(B"},
        {"256 colours, grey", 240, 0x808080, "\x1b[1;1H\x1b[38;5;243m\x1b[40mx\x1b[1;1H\x1b(B"},
        {"16 colours, bright red", 16, 0xFF0000, "\x1b[1;1H\x1b[91m\x1b[40mx\x1b[1;1H\x1b(B"},
        {"16 colours, dark red", 16, 0x800000, "\x1b[1;1H\x1b[31m\x1b[40mx\x1b[1;1H\x1b(B"},
        {"8 colours, white", 8, 0xFFFFFF, "\x1b[1;1H\x1b[37m\x1b[40mx\x1b[1;1H\x1b(B"},
        {"no colours", 2, 0xFFFFFF, "\x1b[1;1Hx\x1b[1;1H\x1b(B"},
        {"0 means none too", 0, 0xFFFFFF, "\x1b[1;1Hx\x1b[1;1H\x1b(B"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        CHECK(opentui(peer, t, 3, 1));
        t.callback(&t, termcmd_setcolors, row.depth, 0, nullptr);
        t.termputchar(0, 0, row.rgb, 'x');
        t.termupdate(false);
        CHECK_STR(peer.text(), row.expect);
        t.exit(true);
        peer.stop();
    }
}

TEST(colour_index_table)
{
    static const struct { u32 rgb; u8 depth; u32 index; } rows[] = {
        {0x000000, depth_256, 232}, {0xFFFFFF, depth_256, 255}, {0x808080, depth_256, 243},
        {0xFF0000, depth_256, 196}, {0x00FF00, depth_256, 46}, {0x0000FF, depth_256, 21},
        {0x2B2B2C, depth_256, 59}, {0xFF2A00, depth_256, 196}, {0xFF2B00, depth_256, 202},
        {0x12000000, depth_256, 232},           // the alpha byte is not a colour
        {0x800000, depth_16, 1}, {0x810000, depth_16, 9}, {0x000001, depth_16, 4},
        {0x000000, depth_16, 0}, {0xFFFFFF, depth_8, 7}, {0x00FF00, depth_8, 2},
        {0xFFFFFF, depth_none, 0},
    };
    for (auto const& row : rows)
        CHECK_EQ(term_colorindex(row.rgb, row.depth), row.index);
    // Black before any other colour is the cache's starting index 0, not 232.
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 3, 1));
    t.termputchar(0, 0, 0x000000, 'a');
    CHECK_EQ(cell_fg(cellat(t, 0, 0)), 0u);
    t.termputchar(1, 0, 0x000001, 'b');
    t.termputchar(2, 0, 0x000000, 'c');
    CHECK_EQ(cell_fg(cellat(t, 2, 0)), 232u);
    t.exit(true);
    peer.stop();
}

TEST(characters_and_box_codes_on_the_wire)
{
    static const struct { char const* name; u32 ch; bool boxes; char const* bytes; } rows[] = {
        {"ascii", 'A', true, "A"}, {"delete byte", 127, true, "\x7f"},
        {"latin", 0xE9, true, "\xc3\xa9"}, {"euro", 0x20AC, true, "\xe2\x82\xac"},
        {"private mark", 0xE005, true, "\xee\x80\x85"},
        {"top left box", box_topleft, true, "\xe2\x94\x8c"}, {"cross box", box_cross, true, "\xe2\x94\xbc"},
        {"vertical box", box_vertical, true, "\xe2\x94\x82"},
        {"top left ascii", box_topleft, false, "+"}, {"horizontal ascii", box_horizontal, false, "-"},
        {"vertical ascii", box_vertical, false, "|"}, {"tee ascii", box_teeleft, false, "+"},
        {"zero", 0, true, " "}, {"form feed", 12, true, " "}, {"unit 31", 31, true, " "},
        {"lone surrogate", 0xD800, true, "\xef\xbf\xbd"}, {"ffff", 0xFFFF, true, "\xef\xbf\xbd"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        u8 out[TERM_MAXCELLBYTES + 1];
        u32 n = term_charbytes(out, row.ch, row.boxes);
        out[n] = 0;
        CHECK_STR((char const*)out, row.bytes);
    }
    u8 sgr[TERM_MAXSGRBYTES + 1];
    sgr[term_sgr(sgr, 255, true)] = 0;
    CHECK_STR((char const*)sgr, "\x1b[48;5;255m");
    sgr[term_sgr(sgr, 15, true)] = 0;
    CHECK_STR((char const*)sgr, "\x1b[107m");
    sgr[term_sgr(sgr, 8, false)] = 0;
    CHECK_STR((char const*)sgr, "\x1b[90m");
}

TEST(clipping_rectangle)
{
    static const struct { char const* name; int x, y, w, h; char const* row0; char const* row1; } rows[] = {
        {"no limit", 0, 0, 0, 0, "#####", "#####"},
        {"edge at 0", 0, 0, 1, 1, "#....", "....."},
        {"wholly left of the screen", -10, 0, 5, 2, ".....", "....."},
        {"wholly above the screen", 0, -5, 5, 3, ".....", "....."},
        {"empty", 2, 0, 0, 2, ".....", "....."},
        {"partly left", -3, 1, 5, 1, ".....", "##..."},
        {"past the right edge", 3, 0, 100, 1, "...##", "....."},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        CHECK(opentui(peer, t, 5, 2));
        if (row.w || row.h || row.x)
            t.termsetclipping(row.x, row.y, row.w, row.h);
        t.termfillrect(-100, -100, 1000, 1000, 0xFFFFFF);
        char got[2][6];
        for (int y = 0; y < 2; y++) {
            for (int x = 0; x < 5; x++)
                got[y][x] = cell_bg(cellat(t, x, y)) == 255 ? '#' : '.';
            got[y][5] = 0;
        }
        CHECK_STR(got[0], row.row0);
        CHECK_STR(got[1], row.row1);
        t.exit(true);
        peer.stop();
    }
}

TEST(shrinking_an_unlimited_rectangle_starts_at_the_screen_edges)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 6, 4));
    t.callback(&t, termcmd_shrinkclipping, 1, 0, nullptr);
    CHECK(t.clip.limited);
    CHECK_EQ(t.clip.x0, 1);
    CHECK_EQ(t.clip.x1, 4);
    CHECK_EQ(t.clip.y0, 1);
    CHECK_EQ(t.clip.y1, 2);
    CHECK(!t.canwrite(0, 0));
    CHECK(t.canwrite(1, 1));
    CHECK(t.canwrite(4, 2));
    CHECK(!t.canwrite(5, 3));
    // Shrunk past its middle, it lets nothing through.
    t.callback(&t, termcmd_shrinkclipping, 3, 0, nullptr);
    CHECK(!t.canwrite(2, 2));
    CHECK(!t.canwrite(3, 1));
    t.termnoclipping();
    CHECK(t.canwrite(0, 0));
    t.exit(true);
    peer.stop();
}

TEST(strings_advance_over_clipped_characters)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 8, 3));
    t.termsetclipping(2, 0, 8, 3);
    t.termputstring8(0, 0, 0xFFFFFF, "abcd\nef\rg\x80h");
    CHECK_EQ(cell_char(cellat(t, 1, 0)), 0u);       // 'b' was clipped
    CHECK_EQ(cell_char(cellat(t, 2, 0)), (u32)'c');
    CHECK_EQ(cell_char(cellat(t, 3, 0)), (u32)'d');
    CHECK_EQ(cell_char(cellat(t, 0, 1)), 0u);       // 'g' at column 0 after CR: clipped
    CHECK_EQ(cell_char(cellat(t, 1, 1)), 0u);
    t.termnoclipping();
    // Invalid UTF-8 becomes one unit a byte; U+0080 is drawn as the euro sign.
    t.termputstring8(0, 2, 0xFFFFFF, "\xc3(\xc2\x80z");
    CHECK_EQ(cell_char(cellat(t, 0, 2)), 0xC3u);
    CHECK_EQ(cell_char(cellat(t, 1, 2)), (u32)'(');
    CHECK_EQ(cell_char(cellat(t, 2, 2)), 0x20ACu);
    CHECK_EQ(cell_char(cellat(t, 3, 2)), (u32)'z');
    // A truncated sequence at the end is one unit; nothing past the terminator is read.
    static const char cut[] = {'q', (char)0xE2, (char)0x82, 0, 'X', 'X'};
    t.termputstring8(4, 2, 0xFFFFFF, cut);
    CHECK_EQ(cell_char(cellat(t, 4, 2)), (u32)'q');
    CHECK_EQ(cell_char(cellat(t, 5, 2)), 0xE2u);
    CHECK_EQ(cell_char(cellat(t, 6, 2)), 0x82u);
    CHECK_EQ(cell_char(cellat(t, 7, 2)), 0u);
    t.exit(true);
    peer.stop();
}

TEST(utf8_strings_are_cut_at_999_units)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 999, 1));
    u32 length = 1200;
    char* text = (char*)process->pool.getmem(length + 1);
    for (u32 i = 0; i < length; i++)
        text[i] = 'a';
    text[length] = 0;
    t.termputstring8(-500, 0, 0xFFFFFF, text);
    CHECK_EQ(cell_char(cellat(t, 498, 0)), (u32)'a');      // unit 998
    CHECK_EQ(cell_char(cellat(t, 499, 0)), 0u);            // unit 999 was not converted
    process->pool.free_int(text);
    t.exit(true);
    peer.stop();
}

TEST(crossing_lines_become_tee_and_cross_pieces)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 7, 5));
    t.termdrawline(1, 0, 1, 4, 0xFFFFFF);
    t.termdrawline(3, 4, 3, 0, 0xFFFFFF);           // drawn bottom up
    t.termdrawline(5, 0, 5, 4, 0xFFFFFF);
    t.termdrawline(1, 2, 5, 2, 0xFFFFFF);
    u32 want[7] = {0, box_teeright, box_horizontal, box_cross, box_horizontal, box_teeleft, 0};
    for (int x = 0; x < 7; x++)
        CHECK_EQ(cell_char(cellat(t, x, 2)), want[x]);
    CHECK_EQ(cell_char(cellat(t, 3, 0)), (u32)box_vertical);
    // Lines that are neither vertical nor horizontal, or off the screen, draw nothing.
    t.termdrawline(0, 0, 2, 2, 0xFFFFFF);
    t.termdrawline(-1, 0, -1, 4, 0xFFFFFF);
    t.termdrawline(0, 9, 6, 9, 0xFFFFFF);
    CHECK_EQ(cell_char(cellat(t, 0, 0)), 0u);
    // A line running far off both ends is cut at the screen.
    t.termdrawline(-2000000000, 4, 2000000000, 4, 0xFFFFFF);
    CHECK_EQ(cell_char(cellat(t, 0, 4)), (u32)box_horizontal);
    CHECK_EQ(cell_char(cellat(t, 1, 4)), (u32)box_cross);
    t.exit(true);
    peer.stop();
}

TEST(rectangles_shadows_and_inversion)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 8, 6));
    t.termfillrect(0, 0, 8, 6, 0x0000FF);
    t.termdrawrect(0, 0, 4, 3, 0xFFFFFF);
    static const u32 frame[3][4] = {
        {box_topleft, box_horizontal, box_horizontal, box_topright},
        {box_vertical, ' ', ' ', box_vertical},
        {box_bottomleft, box_horizontal, box_horizontal, box_bottomright},
    };
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) {
            CHECK_EQ(cell_char(cellat(t, x, y)), frame[y][x]);
            CHECK_EQ(cell_bg(cellat(t, x, y)), 21u);       // the fill's background stays
        }
    t.termdrawshadow(0, 0, 4, 3);
    CHECK_EQ(cellat(t, 2, 3), cell_make(' ', 243, 0));     // bottom row from x + 2
    CHECK_EQ(cellat(t, 5, 3), cell_make(' ', 243, 0));     // to x + w + 1
    CHECK_EQ(cell_bg(cellat(t, 1, 3)), 21u);
    CHECK_EQ(cellat(t, 4, 1), cell_make(' ', 243, 0));     // right columns from y + 1
    CHECK_EQ(cellat(t, 5, 2), cell_make(' ', 243, 0));
    CHECK_EQ(cell_bg(cellat(t, 4, 0)), 21u);
    // Small shadows are drawn only with their option set.
    t.termdrawsmallshadow(0, 4, 2, 1);
    CHECK_EQ(cell_char(cellat(t, 1, 5)), (u32)' ');
    t.callback(&t, termcmd_smallshadows, 1, 0, nullptr);
    t.termdrawsmallshadow(0, 4, 2, 1);
    CHECK_EQ(cellat(t, 1, 5), cell_make(0x2580, 0, 21));
    CHECK_EQ(cellat(t, 2, 5), cell_make(0x2580, 0, 21));
    CHECK_EQ(cellat(t, 2, 4), cell_make(0x2580, 21, 0));
    t.terminvertchar(1, 1);
    CHECK_EQ(cellat(t, 1, 1), cell_make(' ', 21, 0));
    t.terminvertchar(8, 0);                                 // outside: nothing
    t.exit(true);
    peer.stop();
}

TEST(commands_through_the_callback)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 6, 2, true);
    wire(peer, t);
    CHECK_EQ(t.callback(&t, termcmd_open, 0, 0, nullptr), 1);
    comstruct c = {{0xFFFFFF, 'Q', 0}, nullptr};
    CHECK_EQ(t.callback(&t, termcmd_putchar, 2, 1, &c), 1);
    CHECK_EQ(cell_char(cellat(t, 2, 1)), (u32)'Q');
    CHECK_EQ(t.callback(&t, termcmd_arrowup, 0, 0, &c), 1);
    CHECK_EQ(cell_char(cellat(t, 0, 0)), 0x2191u);
    t.callback(&t, termcmd_unicodearrows, 0, 0, nullptr);
    t.callback(&t, termcmd_arrowdown, 1, 0, &c);
    CHECK_EQ(cell_char(cellat(t, 1, 0)), (u32)'v');
    // Draw commands without their record answer 0 and draw nothing.
    CHECK_EQ(t.callback(&t, termcmd_fillrect, 0, 0, nullptr), 0);
    CHECK_EQ(t.callback(&t, 137, 0, 0, &c), 0);
    CHECK_EQ(t.callback(&t, 141, 0, 0, &c), 0);
    // The framework's replies.
    CHECK_EQ(t.callback(&t, stream_getbyte, 0, 0, nullptr), -1);
    CHECK_EQ(t.callback(&t, 'S', 0, 0, nullptr), 1);
    CHECK_EQ(t.callback(&t, 'W', 0, 0, nullptr), 1);
    CHECK_EQ(t.kind.terminal.columns, 6);
    CHECK_EQ(t.kind.terminal.colours, depth_256);
    // Text written in text-UI mode goes nowhere.
    peer.reset();
    CHECK_EQ(t.callback(&t, stream_writetext, 0, 0, "text"), 0);
    CHECK_EQ(peer.length, 0u);
    t.exit(true);
    peer.stop();
}

TEST(raw_cells_are_copied_only_where_they_fit)
{
    static const struct { char const* name; int x, y; u32 count; int firstcopied, copied; } rows[] = {
        {"inside", 1, 0, 3, 1, 3},
        {"past the row end", 4, 1, 5, 4, 2},
        {"column outside", 6, 0, 2, 0, 0},
        {"negative column", -1, 0, 3, 0, 0},
        {"row outside", 0, 2, 3, 0, 0},
        {"huge count", 0, 1, 0xFFFFFFFF, 0, 6},
    };
    u32 cells[8];
    for (u32 i = 0; i < 8; i++)
        cells[i] = cell_make('A' + i, 1, 2);
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        CHECK(opentui(peer, t, 6, 2));
        comstruct c = {{row.count, 0, 0}, cells};
        // A huge count would read past the caller's array: give it only what fits.
        if (row.count == 0xFFFFFFFF)
            c.v[0] = 6;
        CHECK_EQ(t.callback(&t, termcmd_putcells, row.x, row.y, &c), 1);
        u32 written = 0;
        for (int i = 0; i < 12; i++)
            if (t.grid[i])
                written++;
        CHECK_EQ(written, (u32)row.copied);
        if (row.copied)
            CHECK_EQ(cellat(t, row.firstcopied, row.y), cells[0]);
        t.exit(true);
        peer.stop();
    }
}

TEST(half_block_images_without_graphic_information)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 4, 3));
    image im;
    CHECK(im.open(3, 5, pixfmt_888));
    im.clear(0x000000);
    im.setpixel(0, 0, 0xFF0000);        // upper half of cell (1, 1)
    im.setpixel(0, 1, 0x0000FF);        // lower half
    im.setpixel(2, 3, 0x00FF00);
    t.termdrawimage(1, 1, &im);
    CHECK_EQ(cellat(t, 1, 1), cell_make(0x2584, 4, 1));
    CHECK_EQ(cellat(t, 3, 2), cell_make(0x2584, 2, 0));
    CHECK_EQ(cellat(t, 0, 1), 0u);
    // Two rows of pixel pairs: the fifth pixel row is not drawn; nothing past the edge.
    CHECK_EQ(cellat(t, 1, 0), 0u);
    // A graphic cell size of 0 in either direction, or no directory, keeps half blocks.
    static const struct { u32 w, h; char const* dir; } nographic[] = {
        {8, 0, "/tmp"}, {0, 16, "/tmp"}, {8, 16, ""}, {8, 16, nullptr},
    };
    for (auto const& g : nographic) {
        memset0(t.grid, 12 * 4);
        t.setgraphicinfo(g.w, g.h, g.dir);
        t.termdrawimage(0, 0, &im);
        CHECK_EQ(cell_char(cellat(t, 0, 0)), 0x2584u);
    }
    // A rectangle grown past the screen's edges by a negative shrink: the picture
    // still starts on the screen (this once wrote before the grid).
    t.setgraphicinfo(0, 0, nullptr);
    t.termshrinkclipping(-5);
    memset0(t.grid, 12 * 4);
    t.termdrawimage(-3, -3, &im);
    CHECK_EQ(cellat(t, 0, 0), cell_make(0x2584, 4, 1));
    t.setgraphicinfo(8, 16, "/nonexistent");
    t.termdrawimage(-3, -3, &im);
    CHECK_EQ(cell_char(cellat(t, 0, 0)), 0xE000u);
    t.termnoclipping();
    t.setgraphicinfo(0, 0, nullptr);
    // An image lower than 2 pixels draws nothing.
    image thin;
    CHECK(thin.open(4, 1, pixfmt_888));
    memset0(t.grid, 12 * 4);
    t.termdrawimage(0, 0, &thin);
    CHECK_EQ(cellat(t, 0, 0), 0u);
    t.exit(true);
    peer.stop();
}

TEST(half_block_colours_count_a_channel_from_half_intensity)
{
    static const struct { u32 rgb, colour; } rows[] = {
        {0x000000, 0}, {0x7F7F7F, 0}, {0x808080, 7}, {0xE0E0E0, 7}, {0xFFFFFF, 7},
        {0x000022, 0}, {0x000088, 4}, {0xCC0000, 1}, {0x008800, 2}, {0x444444, 0},
        {0x7F80FF, 6}, {0xFF7F80, 5}, {0x80FF00, 3}, {0xFF000000, 0},
    };
    for (auto const& row : rows)
        CHECK_EQ(term_color3(row.rgb), row.colour);
}

// The dialog's text: anti-aliased dark glyphs on the light grey face. Each pixel
// must come out black where the glyph made it dark and white elsewhere; when any
// nonzero channel counted, every grey edge pixel became white and the text fell
// apart into speckle.
TEST(dark_text_on_the_light_face_is_black_on_white)
{
    const int W = 120, H = 24;
    const u32 FACE = 0xE0E0E0;
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, (u16)W, (u16)(H / 2)));
    image im;
    CHECK(im.open(W, H, pixfmt_888));
    im.clear(FACE);
    CHECK(im.setfont("droidmono", 960, false, false));
    CHECK(im.print(2, 4, 0xFF000000, "Delete all files?") > 0);
    t.termdrawimage(0, 0, &im);
    u32 ink = 0, grey = 0, face = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            u32 cell = cellat(t, x, y / 2);
            CHECK_EQ(cell_char(cell), uchar_lowerhalf);
            u32 shown = y % 2 ? cell_fg(cell) : cell_bg(cell);
            u32 v = im.getpixel_truecolor(x, y) & 0xFF;      // grey: one channel says it
            CHECK(shown == 0 || shown == 7);
            CHECK_EQ(shown, v >= 0x80 ? 7u : 0u);
            if (v == (FACE & 0xFF))
                face++;
            else if (v < 0x80)
                ink++;
            else
                grey++;
        }
    // The glyphs have dark cores and light edges, and most of the picture is face.
    CHECK(ink > 150);
    CHECK(grey > 50);
    CHECK(face > (u32)(W * H / 2));
    t.exit(true);
    peer.stop();
}

TEST(graphic_images_are_saved_and_marked)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 12, 4));
    t.setgraphicinfo(8, 16, kzvtest::tempfolder());
    image im;
    CHECK(im.open(60, 20, pixfmt_888));     // 8 cells wide, 2 rows high
    im.clear(0x112233);
    u32 pid = (u32)os_getpid() & 0xFFFF, serial = (u32)im.serial & 0xFFFF;
    char path[384];
    vprinter_format(path, sizeof(path), sizeof(path), "%s/tuiimg_%04x_%04x_%x", kzvtest::tempfolder(), pid, serial, 1u);
    os_unlink(path);
    im.status |= imagestatus_changed;
    t.termsetclipping(2, 1, 10, 3);
    t.termdrawimage(10, 0, &im);
    CHECK(!(im.status & imagestatus_changed));
    CHECK_EQ(im.framecounter, 1u);
    unsigned size = 0;
    char* file = loadfile(path, size);
    CHECK(file != nullptr);
    if (file) {
        CHECK_MEM(file, "kzv ", 4);
        process->pool.free_int(file);
    }
    os_unlink(path);
    // The marks start at the rectangle's left column and at row max(y, top).
    for (u32 row = 1; row <= 2; row++) {
        u32 want[8] = {0xE001, 0xE000 | row, 0xE000 | (pid & 0xFF), 0xE000 | (pid >> 8),
                       0xE000 + (serial & 0xFF), 0xE000 + (serial >> 8), 0xE000, 0xE000};
        for (u32 j = 0; j < 8; j++)
            CHECK_EQ(cellat(t, 2 + (int)j, (int)row), want[j]);
    }
    CHECK_EQ(cellat(t, 10, 1), 0u);
    CHECK_EQ(cellat(t, 2, 3), 0u);
    // Unchanged: no new file, the frame stays; the mark bit shows in the first mark.
    im.status |= imagestatus_mark;
    t.termdrawimage(0, 0, &im);
    CHECK_EQ(im.framecounter, 1u);
    CHECK(!os_fileexists(path));
    CHECK_EQ(cellat(t, 2, 1), 0xE081u);
    // The frame counter skips 0 when it wraps.
    im.framecounter = 0xFFFFFFFF;
    im.status |= imagestatus_changed;
    t.termdrawimage(0, 0, &im);
    CHECK_EQ(im.framecounter, 1u);
    os_unlink(path);
    t.exit(true);
    peer.stop();
}

TEST(marks_of_a_narrow_screen_are_cut_at_its_edge)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 3, 2));
    t.setgraphicinfo(8, 16, "/tmp");
    image im;
    CHECK(im.open(64, 64, pixfmt_888));     // 8 x 4 cells on a 3 x 2 screen
    t.termdrawimage(0, 0, &im);
    CHECK_EQ(cellat(t, 0, 1), 0xE000u);     // the frame mark of frame 0
    CHECK_EQ(cellat(t, 1, 1), 0xE002u);
    CHECK_EQ(cellat(t, 2, 0), 0xE000u | ((u32)os_getpid() & 0xFF));
    // An image narrower than the marks: cut at the width it covers (2 cells).
    image small;
    CHECK(small.open(9, 16, pixfmt_888));
    memset0(t.grid, 6 * 4);
    t.termdrawimage(0, 0, &small);
    CHECK_EQ(cellat(t, 1, 0), 0xE001u);
    CHECK_EQ(cellat(t, 2, 0), 0u);
    CHECK_EQ(cellat(t, 0, 1), 0u);
    t.exit(true);
    peer.stop();
}

TEST(graphic_information_through_the_callback)
{
    fakepeer peer;
    ansiterminal t;
    CHECK(opentui(peer, t, 3, 2));
    t.setgraphicinfo(9, 18, "/some/dir");
    comstruct c = {{1, 2, 3}, nullptr};
    CHECK_EQ(t.callback(&t, termcmd_getgraphicinfo, 0, 0, &c), 1);
    CHECK_EQ(c.v[0], 9u);
    CHECK_EQ(c.v[1], 18u);
    CHECK_STR((char const*)c.pointer, "/some/dir");
    static const struct { char const* text; u32 value; } sizes[] = {
        {"9", 9}, {"256", 256}, {"257", 0}, {"0", 0}, {"", 0}, {"-8", 0}, {" 8", 0}, {"8x", 0},
        {"99999999999999999999", 0},
    };
    for (auto const& s : sizes)
        CHECK_EQ(term_parsecellsize(s.text), s.value);
    t.exit(true);
    peer.stop();
}

// The first lookup reads the environment; the directory is copied into the pool,
// and one as long as the environment hands out (it may have been cut) is not used.
TEST(graphic_information_from_the_environment)
{
    static char longdir[1100] = "KZVTERM_TMP=/";
    for (u32 i = 13; i + 1 < sizeof longdir; i++)
        longdir[i] = 'd';
    static const struct {
        char const* name;
        char const* cxs;
        char const* cys;
        char const* tmp;
        sptr reply;
        u32 width, height;
        char const* dir;
    } rows[] = {
        {"all three", "KZVTERM_CXS=9", "KZVTERM_CYS=18", "KZVTERM_TMP=/shared", 1, 9, 18, "/shared"},
        {"no directory", "KZVTERM_CXS=9", "KZVTERM_CYS=18", nullptr, 1, 9, 18, nullptr},
        {"directory too long", "KZVTERM_CXS=9", "KZVTERM_CYS=18", longdir, 1, 9, 18, nullptr},
        {"no cell height", "KZVTERM_CXS=9", nullptr, "KZVTERM_TMP=/shared", 0, 0, 0, nullptr},
        {"cell width 0", "KZVTERM_CXS=0", "KZVTERM_CYS=18", "KZVTERM_TMP=/shared", 0, 0, 0, nullptr},
        {"nothing set", nullptr, nullptr, nullptr, 0, 0, 0, nullptr},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        char const* env[4] = {nullptr, nullptr, nullptr, nullptr};
        u32 n = 0;
        char const* const settings[3] = {r.cxs, r.cys, r.tmp};
        for (char const* v : settings)
            if (v)
                env[n++] = v;
        kzvtest::useenvironment e(env);
        fakepeer peer;
        ansiterminal t;
        CHECK(opentui(peer, t, 3, 2));
        comstruct c = {{1, 2, 3}, &c};
        CHECK_EQ(t.callback(&t, termcmd_getgraphicinfo, 0, 0, &c), r.reply);
        CHECK_EQ(c.v[0], r.width);
        CHECK_EQ(c.v[1], r.height);
        if (r.dir)
            CHECK_STR((char const*)c.pointer, r.dir);
        else
            CHECK(c.pointer == nullptr);
        // Looked up once: a changed environment is not read again.
        char const* none[1] = {nullptr};
        kzvtest::useenvironment later(none);
        CHECK_EQ(t.callback(&t, termcmd_getgraphicinfo, 0, 0, &c), r.reply);
        t.exit(true);
        peer.stop();
    }
}

// Random drawing at every width; after each update the stream, replayed through
// the emulator, shows exactly the renderer's grid.
TEST(random_drawing_at_every_width_replays_exactly)
{
    lcg r = {12345};
    static u16 text16[40];
    image picture;
    CHECK(picture.open(13, 9, pixfmt_888));
    for (int i = 0; i < 13 * 9; i++)
        picture.setpixel(i % 13, i / 13, r.next(0x1000000));
    for (int columns = 1; columns <= 60; columns++) {
        fakepeer peer;
        ansiterminal t, screen;
        u16 rows = (u16)(1 + columns % 7);
        CHECK(opentui(peer, t, (u16)columns, rows));
        CHECK(screen.openemu(columns, rows, 0, 0));
        t.termupdate(true);
        CHECK(replaymatches(t, screen, peer));
        for (int round = 0; round < 30; round++) {
            peer.reset();
            int steps = r.range(0, 6);
            for (int s = 0; s < steps; s++) {
                int x = r.range(-3, columns + 2), y = r.range(-2, rows + 1);
                u32 rgb = r.next(0x1000000);
                switch (r.next(16)) {
                case 0: t.termputchar(x, y, rgb, r.next(0x10000)); break;
                case 1:
                    for (u32 i = 0; i < 39; i++)
                        text16[i] = (u16)(r.next(4) ? 32 + r.next(300) : r.next(0x10000));
                    text16[r.next(40)] = 0;
                    t.termputstring(x, y, rgb, text16);
                    break;
                case 2: t.termfillrect(x, y, r.range(-1, columns), r.range(-1, rows), rgb); break;
                case 3: t.termdrawline(x, y, x, r.range(-2, rows + 1), rgb); break;
                case 4: t.termdrawline(x, y, r.range(-3, columns + 2), y, rgb); break;
                case 5: t.termdrawrect(x, y, r.range(0, columns + 2), r.range(0, rows + 2), rgb); break;
                case 6: t.termdrawshadow(x, y, r.range(0, columns), r.range(0, rows)); break;
                case 7: t.terminvertchar(x, y); break;
                case 8: t.termsetclipping(x, y, r.range(-2, columns + 3), r.range(-2, rows + 3)); break;
                case 9: t.termnoclipping(); break;
                case 10: {
                    u32 cells[4] = {r.next(0xFFFFFFFF), r.next(0xFFFFFFFF), cell_make(r.next(12), 255, 255), 0};
                    t.termputcells(x, y, cells, r.next(5));
                    break;
                }
                case 11: t.termshrinkclipping(r.range(-4, 3)); break;
                case 12: t.termdrawimage(x, y, &picture); break;
                case 13:
                    // Marks only: the picture is unchanged, so no file is written.
                    t.setgraphicinfo((u32)r.range(1, 9), (u32)r.range(1, 17), "/nonexistent");
                    t.termdrawimage(x, y, &picture);
                    t.setgraphicinfo(0, 0, nullptr);
                    break;
                case 14:
                    t.options |= termoption_smallshadows;
                    t.termdrawsmallshadow(x, y, r.range(-1, columns), r.range(-1, rows));
                    break;
                default: t.options ^= termoption_utf8boxes; break;
                }
            }
            // The longest cells: new colours in both halves and 3-byte characters.
            if (round % 10 == 9)
                for (int x = 0; x < columns; x++) {
                    u32 wide = cell_make(0x4E00 + (u32)x, 16 + (u32)x, 255 - (u32)x);
                    t.termputcells(x, 0, &wide, 1);
                }
            bool boxes = (t.options & termoption_utf8boxes) != 0;
            t.options |= termoption_utf8boxes;      // the replay compares box characters
            t.termupdate(r.next(4) == 0);
            if (!boxes)
                t.options &= (u8)~termoption_utf8boxes;
            CHECK(!peer.overflow);
            if (!replaymatches(t, screen, peer)) {
                eprintf("columns %d, round %d\n", columns, round);
                CHECK(false);
                break;
            }
        }
        t.exit(true);
        peer.stop();
    }
}

TEST(line_terminal_text)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 12, 3, true);
    wire(peer, t);
    // Text before any open opens the line terminal.
    CHECK_EQ(t.callback(&t, stream_writetext, 0, 0, "a\tbc\tde\r\n"), 9);
    CHECK_EQ(t.mode, termmode_line);
    CHECK_STR(peer.text(), "a   bc  de\r\n");
    CHECK_EQ(t.cursorx, 0);
    CHECK_EQ(t.cursory, 1);
    peer.reset();
    t.callback(&t, termcmd_tabwidth, 0, 0, nullptr);        // a tab width of 0 is 1
    t.callback(&t, stream_writeline, 0, 0, "\xc3\xa9\t");
    CHECK_STR(peer.text(), "\xc3\xa9 \r\n");
    CHECK_EQ(t.cursory, 2);
    // Wrapping at the last column keeps the row on the screen.
    t.callback(&t, stream_writetext, 0, 0, "0123456789abc");
    CHECK_EQ(t.cursorx, 1);
    CHECK_EQ(t.cursory, 2);
    peer.reset();
    t.termsetcursor(4, 1);
    t.termsetcursorx(-5);
    t.termcursorup();
    t.termcursorup();
    t.termdeleteline();
    t.termclear();
    CHECK_STR(peer.text(), "\x1b[2;5H\x1b[1G\x1b[1A\x1b[1A\x1b[2K\x1b[3J\x1b[2J\x1b[1;1H");
    CHECK_EQ(t.cursory, 0);
    peer.reset();
    t.termsetcolors(16);
    t.settextcolor(0x00FF00);
    t.setbackcolor(0x000080);
    CHECK_STR(peer.text(), "\x1b[92m\x1b[44m");
    t.exit(true);
    peer.stop();
    // A tab wider than the screen keeps the column on it.
    fakepeer narrow;
    ansiterminal n;
    narrow.start(source_stdio, 3, 2, true);
    wire(narrow, n);
    n.callback(&n, termcmd_tabwidth, 8, 0, nullptr);
    n.callback(&n, stream_writetext, 0, 0, "\t");
    CHECK_EQ(n.cursorx, 2);
    CHECK_EQ(n.cursory, 1);
    n.exit(true);
    narrow.stop();
}
