// The ANSI emulator: a table of terminal data streams and the screen and cursor
// they must leave (each fed whole and again one byte at a time, since the parser's
// state has to survive between writes), the answers it sends back, colours,
// private modes, and the bounds on huge counts and digit runs.
#include "test_terminalpeer.h"

using namespace kzv;
using namespace terminaltest;

namespace {

// The screen as text: rows joined by '|', characters above 127 as '?'.
void screentext(ansiterminal& t, char* out, u32 capacity)
{
    u32 n = 0;
    for (int y = 0; y < t.rows; y++) {
        if (y && n + 1 < capacity)
            out[n++] = '|';
        for (int x = 0; x < t.columns && n + 1 < capacity; x++) {
            u32 ch = cell_char(t.grid[y * t.columns + x]);
            out[n++] = ch >= 32 && ch < 128 ? (char)ch : '?';
        }
    }
    out[n] = 0;
}

u32 cellat(ansiterminal& t, int x, int y) { return t.grid[y * t.columns + x]; }

struct screenrow {
    char const* name;
    char const* input;
    char const* screen;     // 6 x 3
    int cx, cy;
};

const char FILL[] = "abcdefghijklmnopqr";      // fills the 6 x 3 screen exactly

} // namespace

TEST(emulator_screen_table)
{
    static const screenrow rows[] = {
        {"plain", "abc", "abc   |      |      ", 3, 0},
        {"exactly the width", "abcdef", "abcdef|      |      ", 6, 0},
        {"the next character wraps first", "abcdefg", "abcdef|g     |      ", 1, 1},
        {"no auto-wrap overwrites the last column", "\x1b[?7labcdefgh", "abcdeh|      |      ", 6, 0},
        {"auto-wrap on again", "\x1b[?7l\x1b[?7habcdefg", "abcdef|g     |      ", 1, 1},
        {"LF at the bottom scrolls", "a\nb\nc\nd", "b     |c     |d     ", 1, 2},
        {"CR", "abc\rX", "Xbc   |      |      ", 1, 0},
        {"BS", "abc\x08\x08X", "aXc   |      |      ", 2, 0},
        {"H", "\x1b[2;3HX", "      |  X   |      ", 3, 1},
        {"H without parameters", "ab\x1b[HX", "Xb    |      |      ", 1, 0},
        {"f clamps to the screen", "\x1b[99;99fX", "      |      |     X", 6, 2},
        {"f with zeros", "ab\x1b[0;0fX", "Xb    |      |      ", 1, 0},
        {"d G A C", "\x1b[3d\x1b[5GX\x1b[2A\x1b[9CY", "     Y|      |    X ", 6, 0},
        {"B stays on the screen", "\x1b[99BX", "      |      |X     ", 1, 2},
        {"A stays on the screen", "\x1b[2;1H\x1b[99AX", "X     |      |      ", 1, 0},
        {"J 0 from the start of the cursor row", "abcdefghijklmnopqr\x1b[2;3H\x1b[J", "abcdef|      |      ", 2, 1},
        {"J 2 clears and homes", "abcdefghijklmnopqr\x1b[2;3H\x1b[2JX", "X     |      |      ", 1, 0},
        {"J 3 as J 2", "abc\x1b[3J", "      |      |      ", 0, 0},
        {"J 1 only reports", "abc\x1b[1J", "abc   |      |      ", 3, 0},
        {"K 0", "abcdef\x1b[1;3H\x1b[K", "ab    |      |      ", 2, 0},
        {"K 1 leaves the cursor cell", "abcdef\x1b[1;3H\x1b[1K", "  cdef|      |      ", 2, 0},
        {"K 2", "abcdef\x1b[1;3H\x1b[2K", "      |      |      ", 2, 0},
        {"K at the wrap position", "abcdef\x1b[K\x1b[1K", "      |      |      ", 6, 0},
        {"L", "abcdefghijklmnopqr\x1b[2;1H\x1b[L", "abcdef|      |ghijkl", 0, 1},
        {"L with a huge count", "abcdefghijklmnopqr\x1b[2;1H\x1b[999999999L", "abcdef|      |      ", 0, 1},
        {"P keeps the row's end", "abcdef\x1b[1;2H\x1b[2P", "adefef|      |      ", 1, 0},
        {"P of the width or more", "abcdef\x1b[1;2H\x1b[9P\x1b[1;1H\x1b[99999999999P", "abcdef|      |      ", 0, 0},
        {"X and the cursor", "abcdef\x1b[1;2H\x1b[2XZ", "a  Zef|      |      ", 4, 0},
        {"X with a huge count", "abcdef\x1b[1;3H\x1b[99999999999X", "ab    |      |      ", 6, 0},
        {"b repeats", "ab\x1b[3b", "abbbb |      |      ", 5, 0},
        {"b stops at the row's end", "a\x1b[999999999b", "aaaaaa|      |      ", 6, 0},
        {"b at the wrap position", "abcdef\x1b[3bg", "abcdef|g     |      ", 1, 1},
        {"b with auto-wrap off", "\x1b[?7lab\x1b[99bc", "abbbbc|      |      ", 6, 0},
        {"b before any character", "\x1b[5b", "      |      |      ", 0, 0},
        {"scroll region", "\x1b[3;1Hzz\x1b[1;2r\x1b[2;1Ha\nb", "a     |b     |zz    ", 1, 1},
        {"region with top not above bottom", "\x1b[3;1Hzz\x1b[2;2r\x1b[3;1r\x1b[2;1Ha\nb\nc", "a     |bz    |c     ", 1, 2},
        {"region beyond the screen", "\x1b[2;99r\x1b[3;1Hx\ny", "      |x     |y     ", 1, 2},
        {"100-digit parameter", "\x1b[99999999999999999999999999999999999999999999999999"
                                "99999999999999999999999999999999999999999999999999CX", "     X|      |      ", 6, 0},
        {"OSC ended by BEL", "\x1b]0;title\x07" "ab", "ab    |      |      ", 2, 0},
        {"OSC ended by ESC backslash", "\x1b]0;title\x1b\\ab", "ab    |      |      ", 2, 0},
        {"OSC ended by byte 2", "\x1b]0;t\x02" "ab", "ab    |      |      ", 2, 0},
        {"ESC in an OSC begins a sequence", "\x1b]0;t\x1b[2;2HX", "      | X    |      ", 2, 1},
        {"reset", "abc\x1b" "cX", "X     |      |      ", 1, 0},
        {"soft reset", "abc\x1b[!pX", "X     |      |      ", 1, 0},
        {"space and dollar take a byte", "\x1b[ qa\x1b[$xb", "ab    |      |      ", 2, 0},
        {"unknown ESC", "\x1bZab", "ab    |      |      ", 2, 0},
        {"unknown CSI final", "\x1b[5zab", "ab    |      |      ", 2, 0},
        {"ignored finals", "\x1b[4ha\x1b[4lb\x1b[8tc", "abc   |      |      ", 3, 0},
        {"less-than takes one byte", "\x1b[<0;1;1Mab", ";1;1Ma|b     |      ", 1, 1},
        {"save and restore the cursor", "ab\x1b" "7\x1b[3;5Hx\x1b" "8y", "aby   |      |    x ", 3, 0},
        {"keypad modes ignored", "\x1b=\x1b>ab", "ab    |      |      ", 2, 0},
        {"stray UTF-8 bytes ignored", "\x80\xbf\xf0\x9f\x98\x80" "b", "b     |      |      ", 1, 0},
        {"UTF-8 lead cut by ESC", "\xc3\x1b[2;2HX", "?     | X    |      ", 2, 1},
        {"control codes ignored", "a\x01\x07\x09\x0b\x0c\x1f" "b", "ab    |      |      ", 2, 0},
        {"exactly full", FILL, "abcdef|ghijkl|mnopqr", 6, 2},
        {"one past full scrolls", "abcdefghijklmnopqrs", "ghijkl|mnopqr|s     ", 1, 2},
    };
    for (int bytewise = 0; bytewise < 2; bytewise++)
        for (auto const& row : rows) {
            kzvtest::setrow(row.name);
            ansiterminal t;
            CHECK(t.open(6, 3, 0, 0));
            u32 n = strlen(row.input);
            if (bytewise)
                for (u32 i = 0; i < n; i++)
                    t.writeemu((u8 const*)row.input + i, 1);
            else
                t.writeemu((u8 const*)row.input, n);
            char got[64];
            screentext(t, got, sizeof(got));
            CHECK_STR(got, row.screen);
            CHECK_EQ(t.cursorx, row.cx);
            CHECK_EQ(t.cursory, row.cy);
        }
}

TEST(emulator_grid_starts_as_spaces_in_the_initial_colours)
{
    ansiterminal t;
    CHECK_EQ(t.callback(&t, termcmd_open, 4, 2, nullptr), 1);
    CHECK_EQ(t.mode, termmode_emulator);
    for (int i = 0; i < 8; i++)
        CHECK_EQ(t.grid[i], cell_make(' ', 46, 232));
    CHECK_EQ(t.emu.scrolltop, 0);
    CHECK_EQ(t.emu.scrollbottom, 1);
    // Sizes we do not believe are refused.
    CHECK(!t.open(1000, 5, 0, 0));
    CHECK(!t.open(-3, 5, 0, 0));
    CHECK(t.open(1, 1, 7, 8));
    CHECK_EQ(t.emu.extra[0], 7);
    CHECK_EQ(t.emu.extra[1], 8);
}

TEST(emulator_characters)
{
    ansiterminal t;
    CHECK(t.open(12, 2, 0, 0));
    // Two- and three-byte UTF-8, and broken sequences as one unit a byte.
    t.writeemu((u8 const*)"\xc3\xa9\xe2\x82\xac\xc3" "A\xe2\x82" "B", 10);
    static const u32 want[] = {0xE9, 0x20AC, 0xC3, 'A', 0xE2, 0x82, 'B'};
    for (u32 i = 0; i < 7; i++)
        CHECK_EQ(cell_char(cellat(t, (int)i, 0)), want[i]);
    // The line-drawing set, in G0 and in G1 shifted in.
    char const* drawing = "\r\n\x1b(0lqkxa\x1b(Bq\x1b)0\x0ej\x0fj";
    t.writeemu((u8 const*)drawing, strlen(drawing));
    static const u32 boxes[] = {0x250C, 0x2500, 0x2510, 0x2502, 'a', 'q', 0x2518, 'j'};
    for (u32 i = 0; i < 8; i++)
        CHECK_EQ(cell_char(cellat(t, (int)i, 1)), boxes[i]);
    // The character path takes the same translation and the same wrap rule.
    CHECK(t.open(3, 2, 0, 0));
    t.writeemu((u8 const*)"\x1b(0", 3);
    t.putcharemu('q');
    t.putcharemu(1);
    t.putcharemu(0x263A);
    t.putcharemu('z');
    CHECK_EQ(t.cursorx, 3);
    t.putcharemu('y');
    CHECK_EQ(cell_char(cellat(t, 0, 0)), 0x2500u);
    CHECK_EQ(cell_char(cellat(t, 1, 0)), 0x263Au);
    CHECK_EQ(cell_char(cellat(t, 0, 1)), (u32)'y');
    t.putcharemu(13);
    CHECK_EQ(t.cursorx, 0);
    t.putcharemu(10);
    CHECK_EQ(t.cursory, 1);
    CHECK_EQ(cell_char(cellat(t, 0, 0)), (u32)'y');     // scrolled
}

TEST(emulator_answers)
{
    static const struct { char const* name; char const* input; char const* answer; } rows[] = {
        {"position at the origin", "\x1b[6n", "\x1b[1;1R"},
        {"position after text", "ab\x1b[2;1Hx\x1b[6n", "\x1b[2;2R"},
        {"position at the wrap point", "abcdef\x1b[6n", "\x1b[1;7R"},
        {"other status reports only print", "\x1b[5n", ""},
        {"secondary attributes", "\x1b[>c", "\x1b[>0;100;0c"},
        {"secondary with a zero", "\x1b[>0c", "\x1b[>0;100;0c"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fakepeer program;
        program.start(source_process, 0, 0, false);
        ansiterminal t;
        CHECK(t.open(6, 3, 0, 0));
        connect(t.out, program.in);
        t.writeemu((u8 const*)row.input, strlen(row.input));
        CHECK_STR(program.text(), row.answer);
        program.stop();
    }
    // Without a program on the output pin nothing is sent and nothing breaks.
    ansiterminal t;
    CHECK(t.open(6, 3, 0, 0));
    t.writeemu((u8 const*)"\x1b[6n\x1b[>c", 8);
    CHECK_EQ(t.cursorx, 0);
}

TEST(emulator_colours)
{
    ansiterminal t;
    CHECK(t.open(10, 1, 0, 0));
    char const* s = "\x1b[31;44mA\x1b[7mB\x1b[0mC\x1b[27;93;105mD\x1b[38;5;200mE\x1b[48;5;17mF"
                    "\x1b[38;5;300mG\x1b[38;2;1;2;3mH\x1b[1;23;29;39;49m\x1b[mI\x1b[1;1;1;1;7mJ";
    t.writeemu((u8 const*)s, strlen(s));
    // A fifth parameter overwrites the fourth: the last row turns reverse video on.
    static const struct { u32 fg, bg; } want[] = {
        {1, 4}, {4, 1}, {1, 4}, {11, 13}, {200, 13}, {200, 17}, {200, 17}, {200, 17}, {200, 17}, {17, 200},
    };
    for (int i = 0; i < 10; i++) {
        kzvtest::setrow("cell");
        CHECK_EQ(cell_fg(cellat(t, i, 0)), want[i].fg);
        CHECK_EQ(cell_bg(cellat(t, i, 0)), want[i].bg);
    }
    // SGR 0 turned reverse video off and kept the colours (cell C).
    CHECK(t.modeflags & termflag_reverse);
    // Colour commands repaint the cells of the current colour.
    CHECK(t.open(3, 1, 0, 0));
    t.writeemu((u8 const*)"a\x1b[31mb", 7);
    t.callback(&t, termcmd_textcolor, 0xFFFFFF, 0, nullptr);
    CHECK_EQ(cell_fg(cellat(t, 0, 0)), 46u);
    CHECK_EQ(cell_fg(cellat(t, 1, 0)), 255u);
    CHECK_EQ(cell_fg(cellat(t, 2, 0)), 46u);
    t.callback(&t, termcmd_backcolor, 0x0000FF, 0, nullptr);
    CHECK_EQ(cell_bg(cellat(t, 2, 0)), 21u);
    // SGR cleared the cache: the same RGB after an SGR change converts again.
    t.writeemu((u8 const*)"\x1b[32mc", 6);
    CHECK_EQ(cell_fg(cellat(t, 2, 0)), 2u);
    t.callback(&t, termcmd_textcolor, 0xFFFFFF, 0, nullptr);
    CHECK_EQ(cell_fg(cellat(t, 2, 0)), 255u);
    // U+E101 keeps the colour pair and U+E100 brings it back.
    CHECK(t.open(3, 1, 0, 0));
    t.writeemu((u8 const*)"\x1b[31;42m\xee\x84\x81\x1b[35;46m\xee\x84\x80X\xee\x90\x80", 26);
    CHECK_EQ(cellat(t, 0, 0), cell_make('X', 1, 2));
    CHECK(t.modeflags & termflag_extendedpointer);
    CHECK_EQ(t.cursorx, 1);
    t.callback(&t, termcmd_clear, 0, 0, nullptr);
    CHECK_EQ(cellat(t, 0, 0), cell_make(' ', 1, 2));
    CHECK_EQ(t.cursorx, 0);
}

TEST(emulator_private_modes)
{
    static const struct { char const* name; char const* input; u16 flags; u8 options; u8 reports, tracking; } rows[] = {
        {"application cursor keys", "\x1b[?1h", termflag_appcursor, 0x0D, 0, 0},
        {"and off", "\x1b[?1h\x1b[?1l", 0, 0x0D, 0, 0},
        {"cursor hidden", "\x1b[?25l", 0, 0x05, 0, 0},
        {"cursor shown again", "\x1b[?25l\x1b[?12h", 0, 0x0D, 0, 0},
        {"auto-wrap off", "\x1b[?7l", termflag_nowrap, 0x0D, 0, 0},
        {"mouse 1000", "\x1b[?1000h", 0, 0x0D, 4, 0},
        {"mouse 1006 and 1002", "\x1b[?1006h\x1b[?1002h", 0, 0x0D, 5, 6},
        {"mouse 1003 on and off", "\x1b[?1000h\x1b[?1003h\x1b[?1003l", 0, 0x0D, 0, 0},
        {"1016", "\x1b[?1016h", termflag_extendedpointer, 0x0D, 5, 6},
        {"ignored ones", "\x1b[?47h\x1b[?1049h\x1b[?2004h\x1b[?1034l", 0, 0x0D, 0, 0},
        {"unknown ones only print", "\x1b[?9999h\x1b[?5x\x1b[?1r\x1b[?1s", 0, 0x0D, 0, 0},
        {"reset clears application keys", "\x1b[?1h\x1b" "c", 0, 0x0D, 0, 0},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        ansiterminal t;
        CHECK(t.open(4, 2, 0, 0));
        t.writeemu((u8 const*)row.input, strlen(row.input));
        CHECK_EQ(t.modeflags, row.flags);
        CHECK_EQ(t.options, row.options);
        CHECK_EQ(t.pointerreports, row.reports);
        CHECK_EQ(t.pointertracking, row.tracking);
    }
}

TEST(emulator_through_the_stream_codes)
{
    ansiterminal t;
    CHECK(t.open(8, 2, 0, 0));
    CHECK_EQ(t.callback(&t, stream_writetext, 0, 0, "ab"), 2);
    CHECK_EQ(t.callback(&t, stream_writebyte, 'c', 0, nullptr), 1);
    t.callback(&t, stream_writeline, 0, 0, "d");
    data packet;
    packet.type = type_bytestream;
    packet.payload = (void*)"ef";
    packet.size = 2;
    CHECK_EQ(t.callback(&t, stream_writerecord, 0, 0, &packet), 2);
    packet.type = type_file;
    CHECK_EQ(t.callback(&t, stream_writerecord, 0, 0, &packet), 0);
    comstruct none = {{0, 0, 0}, nullptr};
    t.callback(&t, termcmd_putchar, 'g', 0, &none);
    char got[32];
    screentext(t, got, sizeof(got));
    CHECK_STR(got, "abcd    |efg     ");
    t.termsetcursor(99, -4);
    CHECK_EQ(t.cursorx, 7);
    CHECK_EQ(t.cursory, 0);
    t.termdeleteline();
    t.termcursordown();
    t.termdeletetoend();
    t.termcursorup();
    screentext(t, got, sizeof(got));
    CHECK_STR(got, "        |efg     ");
    CHECK_EQ(t.cursory, 0);
}

TEST(emulator_survives_every_sequence_cut_short)
{
    // Each table of sequences cut at every length and followed by more text:
    // nothing is written outside the grid (the sanitizer build checks) and the
    // cursor stays inside its bounds.
    static char const* const sequences[] = {
        "\x1b[999;999H", "\x1b[?1003h", "\x1b]0;x\x1b\\", "\x1b[38;5;255m", "\xe2\x82\xac",
        "\x1b[99999999999L", "\x1b[99999b", "\x1b[5;1r", "\x1b(0q", "\x1b[<0;1;1M", "\x1b[>c",
    };
    for (char const* s : sequences) {
        u32 n = strlen(s);
        for (u32 cut = 0; cut <= n; cut++) {
            ansiterminal t;
            CHECK(t.open(3, 2, 0, 0));
            t.writeemu((u8 const*)s, cut);
            t.writeemu((u8 const*)"wxyz\x1b[Pq", 8);
            CHECK(t.cursorx >= 0 && t.cursorx <= 3);
            CHECK(t.cursory >= 0 && t.cursory < 2);
        }
    }
}
