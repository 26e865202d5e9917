// The key decoder: a table of byte strings from a terminal and the keys they must
// give, read through the renderer from a scripted peer as the terminal back-end
// reads them; the Esc timeout with the scheduler's clock moved by hand; and the
// mouse reports that carry modifiers or odd coordinates.
#include "test_terminalpeer.h"

using namespace kzv;
using namespace terminaltest;

namespace {

const u32 NONE = 0xFFFFFFFF;       // ends an expected key list

u32 mouse(u32 kind, u32 column, u32 row) { return key_mousecode(kind, column, row); }

// Reads every key the bytes give and compares with the list; returns the count read.
u32 readkeys(ansiterminal& t, u32 const* want, u32 wantcount)
{
    u32 n = 0;
    for (;;) {
        u32 k = t.termgetkey();
        if (!k)
            break;
        if (n < wantcount)
            CHECK_EQ(k, want[n]);
        n++;
        if (n > 64)
            break;
    }
    return n;
}

struct keyrow {
    char const* name;
    char const* bytes;
    u32 length;             // 0: the bytes are a text
    u32 keys[8];
};

// Each row's bytes on a fresh renderer must give exactly its keys.
void checkrows(keyrow const* rows, u32 count)
{
    for (u32 i = 0; i < count; i++) {
        keyrow const& row = rows[i];
        kzvtest::setrow(row.name);
        fakepeer peer;
        ansiterminal t;
        peer.start(source_stdio, 80, 24, true);
        wire(peer, t);
        peer.feed(row.bytes, row.length ? row.length : strlen(row.bytes));
        u32 keys = 0;
        while (row.keys[keys] != NONE)
            keys++;
        CHECK_EQ(readkeys(t, row.keys, keys), keys);
        peer.stop();
    }
}

} // namespace

TEST(key_table)
{
    static const keyrow rows[] = {
        {"letters", "ab", 0, {'a', 'b', NONE}},
        {"CR LF is one Enter", "\r\n", 0, {10, NONE}},
        {"LF CR is one Enter", "\n\r", 0, {10, NONE}},
        {"CR CR is two", "\r\r", 0, {10, 10, NONE}},
        {"LF LF is two", "\n\nx", 0, {10, 10, 'x', NONE}},
        {"backspace both ways", "\x08\x7f", 0, {guikey_backspace, guikey_backspace, NONE}},
        {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", 0, {guikey_up, guikey_down, guikey_right, guikey_left, NONE}},
        {"F1 to F4", "\x1b[P\x1b[Q\x1b[R\x1b[S", 0, {guikey_f1, guikey_f1 + 1, guikey_f1 + 2, guikey_f1 + 3, NONE}},
        {"delete", "\x1b[3~", 0, {guikey_delete, NONE}},
        {"broken delete", "\x1b[3xy", 0, {'y', NONE}},
        {"shift up and down", "\x1b[1;2A\x1b[1;2B", 0, {guikey_pageup, guikey_pagedown, NONE}},
        {"a byte breaking CSI 1 is consumed", "\x1b[1;5Az", 0, {'A', 'z', NONE}},
        {"unknown CSI gives its tail", "\x1b[5~", 0, {'~', NONE}},
        {"ESC then a letter", "\x1bx", 0, {27, 'x', NONE}},
        {"ESC ESC [ A", "\x1b\x1b[A", 0, {27, guikey_up, NONE}},
        {"ESC then lower-case o", "\x1bo", 0, {27, 'o', NONE}},
        {"ESC then CR", "\x1b\r\n", 0, {27, 10, NONE}},
    };
    checkrows(rows, sizeof rows / sizeof rows[0]);
}

// ESC O and one final byte: what terminals send for F1-F4, and for the cursor keys
// and the keypad in application mode.
TEST(escape_o_table)
{
    static const keyrow rows[] = {
        {"cursor keys", "\x1bOA\x1bOB\x1bOC\x1bOD", 0, {guikey_up, guikey_down, guikey_right, guikey_left, NONE}},
        {"F1 to F4", "\x1bOP\x1bOQ\x1bOR\x1bOS", 0, {guikey_f1, guikey_f1 + 1, guikey_f1 + 2, guikey_f1 + 3, NONE}},
        {"keypad Enter", "\x1bOM", 0, {10, NONE}},
        {"keypad Enter then LF is two", "\x1bOM\n", 0, {10, 10, NONE}},
        {"keypad digits", "\x1bOp\x1bOq\x1bOu\x1bOy", 0, {'0', '1', '5', '9', NONE}},
        {"keypad operators", "\x1bOj\x1bOk\x1bOl\x1bOm\x1bOn\x1bOo", 0, {'*', '+', ',', '-', '.', '/', NONE}},
        {"keypad equals", "\x1bOX", 0, {'=', NONE}},
        {"between letters", "a\x1bOAb", 0, {'a', guikey_up, 'b', NONE}},
        {"ESC ESC O P", "\x1b\x1bOP", 0, {27, guikey_f1, NONE}},
        {"shift up and down", "\x1bO1;2A\x1bO1;2B", 0, {guikey_pageup, guikey_pagedown, NONE}},
        {"modified F1 gives nothing", "\x1bO1;2Px", 0, {'x', NONE}},
        {"unknown final gives nothing", "\x1bOHx\x1bOFy\x1bOzw", 0, {'x', 'y', 'w', NONE}},
        {"a line end as final gives nothing", "\x1bO\rk", 0, {'k', NONE}},
    };
    checkrows(rows, sizeof rows / sizeof rows[0]);
}

TEST(mouse_table)
{
    static const keyrow rows[] = {
        {"left press at the origin", "\x1b[M !!", 0, {mouse(mouse_leftdown, 0, 0), NONE}},
        {"press and release", "\x1b[M !!\x1b[M#%&", 0,
         {mouse(mouse_leftdown, 0, 0), mouse(mouse_leftup, 4, 5), NONE}},
        {"right and middle", "\x1b[M\"+,\x1b[M#++\x1b[M!--\x1b[M#--", 0,
         {mouse(mouse_rightdown, 10, 11), mouse(mouse_rightup, 10, 10), mouse(mouse_middledown, 12, 12),
          mouse(mouse_middleup, 12, 12), NONE}},
        {"release before any press", "\x1b[M#!!x", 0, {'x', NONE}},
        {"second release", "\x1b[M !!\x1b[M#!!\x1b[M#!!y", 0,
         {mouse(mouse_leftdown, 0, 0), mouse(mouse_leftup, 0, 0), 'y', NONE}},
        {"ctrl click", "\x1b[M0!!", 0, {mouse(mouse_leftdown, 0, 0), NONE}},
        {"shift meta ctrl right click", "\x1b[M>\"#", 0, {mouse(mouse_rightdown, 1, 2), NONE}},
        {"motion", "\x1b[MC23", 0, {mouse(mouse_moved, 17, 18), NONE}},
        {"motion with ctrl", "\x1b[MS23", 0, {mouse(mouse_moved, 17, 18), NONE}},
        {"wheel", "\x1b[M`!!\x1b[Ma!!", 0, {mouse(mouse_wheelup, 0, 0), mouse(mouse_wheeldown, 0, 0), NONE}},
        {"wheel with shift", "\x1b[Md!!", 0, {mouse(mouse_wheelup, 0, 0), NONE}},
        {"coordinate 127 is a cell", "\x1b[M \x7f\x7f", 0, {mouse(mouse_leftdown, 94, 94), NONE}},
        {"largest coordinate", "\x1b[M \xff\xff", 0, {mouse(mouse_leftdown, 222, 222), NONE}},
        {"coordinate below 33 is dropped", "\x1b[M  !z", 0, {'z', NONE}},
        {"row below 33 is dropped", "\x1b[M !\x1fz", 0, {'z', NONE}},
        {"unknown button keeps its coordinates", "\x1b[Mb!!z", 0, {'z', NONE}},
        {"extra button", "\x1b[M\x80\x7f\x7fz", 0, {'z', NONE}},
        {"button byte below 32", "\x1b[M\x01z", 0, {'z', NONE}},
    };
    checkrows(rows, sizeof rows / sizeof rows[0]);
}

TEST(reports_split_over_reads)
{
    // The terminal back-end reads until no byte is there; a report cut in the middle
    // goes on in the next round, and its coordinates never arrive as keys.
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 80, 24, true);
    wire(peer, t);
    static char const* pieces[] = {"\x1b", "[", "M", " ", "\x7f", "\x7f", "\r", "\n"};
    u32 keys[8], n = 0;
    for (char const* p : pieces) {
        peer.feed(p);
        for (u32 k; (k = t.termgetkey()) != 0 && n < 8;)
            keys[n++] = k;
    }
    CHECK_EQ(n, 2u);
    CHECK_EQ(keys[0], mouse(mouse_leftdown, 94, 94));
    CHECK_EQ(keys[1], 10u);
    peer.stop();
}

TEST(lone_escape_after_100_ms)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 80, 24, true);
    wire(peer, t);
    u32 saved = process->msnow;
    peer.feed("\x1b");
    CHECK_EQ(t.termgetkey(), 0u);
    process->msnow += 50;
    CHECK_EQ(t.termgetkey(), 0u);
    process->msnow += 50;
    CHECK_EQ(t.termgetkey(), 0u);       // exactly 100 ms is not yet more than 100
    process->msnow += 1;
    CHECK_EQ(t.termgetkey(), 27u);
    CHECK_EQ(t.termgetkey(), 0u);
    // A sequence that goes on in time is no Esc.
    peer.feed("\x1b");
    CHECK_EQ(t.termgetkey(), 0u);
    process->msnow += 99;
    peer.feed("[B");
    CHECK_EQ(t.termgetkey(), guikey_down);
    // As after ESC [, a sequence cut after ESC O goes on whenever the rest comes.
    static const struct { char const* name; char const* first; u32 waitms; char const* rest; u32 key; } cuts[] = {
        {"cut after O", "\x1bO", 500, "P", guikey_f1},
        {"cut after ESC, in time", "\x1b", 99, "OA", guikey_up},
        {"keypad cut after O", "\x1bO", 101, "M", guikey_enter},
    };
    for (auto const& c : cuts) {
        kzvtest::setrow(c.name);
        peer.feed(c.first);
        CHECK_EQ(t.termgetkey(), 0u);
        process->msnow += c.waitms;
        CHECK_EQ(t.termgetkey(), 0u);
        peer.feed(c.rest);
        CHECK_EQ(t.termgetkey(), c.key);
        CHECK_EQ(t.termgetkey(), 0u);
    }
    process->msnow = saved;
    peer.stop();
}

TEST(decoder_state_record)
{
    keydecoder d;
    d.reset();
    CHECK(!d.haspushback());
    CHECK_EQ(d.feed('\r', 0), 10u);
    CHECK_EQ(d.feed('q', 0), 0u);       // after CR, another key waits
    CHECK(d.haspushback());
    CHECK_EQ(d.takepushback(), (u8)'q');
    CHECK(!d.haspushback());
    u8 const report[] = {27, '[', 'M', 34, 40, 50};
    u32 k = 0;
    for (u8 b : report)
        k = d.feed(b, 0);
    CHECK_EQ(k, mouse(mouse_rightdown, 7, 17));
    CHECK_EQ(d.pointercolumn, 7);
    CHECK_EQ(d.pointerrow, 17);
    CHECK_EQ(d.button, mouse_rightdown);
}

TEST(a_flood_of_input_is_taken_in_bounded_steps)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 80, 24, true);
    wire(peer, t);
    // Sequences that give no key: each call stops after its bound, the rest waits.
    u32 sequences = TERM_KEYBYTES, n = 3 * sequences + 1;
    char* bytes = (char*)process->pool.getmem(n);
    for (u32 i = 0; i < sequences; i++) {
        bytes[3 * i] = 27;
        bytes[3 * i + 1] = '[';
        bytes[3 * i + 2] = '9';
    }
    bytes[n - 1] = 'k';
    peer.feed(bytes, n);
    u32 calls = 0, key = 0;
    while (!key && calls < 10) {
        key = t.termgetkey();
        calls++;
        if (!key)
            CHECK_EQ(peer.scriptpos, calls * TERM_KEYBYTES);
    }
    CHECK_EQ(key, (u32)'k');
    CHECK_EQ(calls, 4u);
    process->pool.free_int(bytes);
    peer.stop();
}

TEST(waiting_for_a_key)
{
    fakepeer peer;
    ansiterminal t;
    peer.start(source_stdio, 80, 24, true);
    wire(peer, t);
    peer.feed("\x1b[C");
    CHECK_EQ(t.callback(&t, termcmd_waitkey, 0, 0, nullptr), (sptr)guikey_right);
    peer.feed("g");
    CHECK_EQ(t.callback(&t, termcmd_getkey, 0, 0, nullptr), (sptr)'g');
    CHECK_EQ(t.callback(&t, termcmd_getkey, 0, 0, nullptr), 0);
    // A process that is ending gets 0 at once.
    u8 saved = process->exitrequested;
    process->exitrequested = 1;
    CHECK_EQ(t.termwaitkey(), 0u);
    process->exitrequested = saved;
    peer.stop();
}
