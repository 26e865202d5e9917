// The text buffer: growth at the exact capacity edges (the hosted build's pool red
// zones catch a terminator written one byte past the block), sizes that would wrap
// or pass the cap refused with nothing changed, reading and giving back through the
// stream commands, line ends split across appends, the content starting over once
// everything was read, UTF-8 from 16-bit text, file and resource loading, and
// filling from a connected peer: a real file stream (lines, error, not open) and a
// scripted stream that has nothing now, then lines, then its end.
#include "../harness/harness.h"
#include "../../framework/filestream.h"
#include "../../framework/mem.h"
#include "../../framework/os.h"
#include "../../framework/resources.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../platform/windows/textbuffer.h"
#include "streamtestfiles.h"

using namespace kzv;

namespace {

sptr cmd(textbuffer& t, unsigned code, int a = 0, void const* p = nullptr)
{
    return textbuffer_concb(&t, code, a, 0, p);
}

// The invariants every operation keeps.
void checkinvariants(textbuffer& t)
{
    CHECK_EQ(t.pending, t.length - t.readpos);
    CHECK(t.readpos <= t.length);
    if (t.buffer) {
        CHECK(t.capacity >= t.length + 1);
        CHECK_EQ(t.buffer[t.length], 0);
    }
}

bool endflag(textbuffer& t) { return (t.flags & streamstate_endseen) != 0; }

// A copy of the whole state that a refused operation must leave as it was.
struct snapshot {
    u32 capacity, length, pending, readpos, linestate, total;
    u8* buffer;
    u8 flags;
    char content[64];

    explicit snapshot(textbuffer& t)
        : capacity(t.capacity), length(t.length), pending(t.pending), readpos(t.readpos),
          linestate(t.linestate), total(t.total), buffer(t.buffer), flags(t.flags)
    {
        memset0(content, sizeof content);
        if (t.buffer)
            memcpy(content, t.buffer, kzv_min(t.length + 1, (u32)sizeof content));
    }
    void same(textbuffer& t)
    {
        CHECK_EQ(t.capacity, capacity);
        CHECK_EQ(t.length, length);
        CHECK_EQ(t.pending, pending);
        CHECK_EQ(t.readpos, readpos);
        CHECK_EQ(t.linestate, linestate);
        CHECK_EQ(t.total, total);
        CHECK(t.buffer == buffer);
        CHECK_EQ(t.flags, flags);
        if (t.buffer)
            CHECK_MEM(t.buffer, content, kzv_min(t.length + 1, (u32)sizeof content));
    }
};

char filler[1024];

// Reads the next line through 'B'; null at the end.
char* line(textbuffer& t, sptr* result = nullptr)
{
    char* l = nullptr;
    sptr r = cmd(t, stream_getline, 0, &l);
    if (result)
        *result = r;
    return r > 0 ? l : nullptr;
}

} // namespace

TEST(init_header_and_reinit)
{
    textbuffer t;
    CHECK_STR(t.name, "textbuffer");
    CHECK_EQ(t.type, type_bytestream);
    CHECK_EQ(t.flags, 0x40);
    CHECK(t.pool == &process->pool);
    CHECK(t.in.owner == &t && t.out.owner == &t);
    CHECK_EQ(t.eol1, '\n');
    CHECK_EQ(t.eol2, 0);
    CHECK(t.callback == textbuffer_concb);
    CHECK_EQ(t.write("abc", 3), 3);
    t.exit(false);
    CHECK(t.buffer == nullptr);
    CHECK_EQ(t.length, 0);
    CHECK_EQ(t.capacity, 0);
    CHECK_EQ(t.flags, 0x40);
    CHECK(t.pool == &process->pool);
}

// Room is n bytes plus the terminator: an append that fills the buffer to its last
// byte grows it, so the zero behind the content never lands at [capacity].
TEST(growth_at_the_capacity_edges)
{
    static const struct {
        char const* name;
        u32 first, second;
        u32 capacityfirst, capacitysecond;
    } rows[] = {
        {"255 fills 256 with its terminator", 255, 0, 256, 256},
        {"256 needs the next step", 256, 0, 512, 512},
        {"one more after 255 grows", 255, 1, 256, 512},
        {"one more after 254 fits", 254, 1, 256, 256},
        {"511 fills 512", 511, 0, 512, 512},
        {"512 needs 768", 512, 0, 768, 768},
        {"768 then 255 fills 1024", 768, 255, 1024, 1024},
        {"768 then 256 grows", 768, 256, 1024, 1280},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        textbuffer t;
        static char bytes[1024];
        for (u32 i = 0; i < sizeof bytes; i++)
            bytes[i] = (char)('a' + i % 26);
        CHECK_EQ(t.write(bytes, row.first), row.first);
        CHECK_EQ(t.capacity, row.capacityfirst);
        checkinvariants(t);
        if (row.second)
            CHECK_EQ(t.write(bytes, row.second), row.second);
        CHECK_EQ(t.capacity, row.capacitysecond);
        CHECK_EQ(t.length, row.first + row.second);
        CHECK_EQ(t.total, row.first + row.second);
        checkinvariants(t);
    }
    kzvtest::setrow(nullptr);
}

// An exact reserve and commit leaves the terminator's byte, and a line cut by the
// end of the content is terminated there; a commit beyond the room is cut to it.
TEST(reserve_commit_exact_and_overcommit)
{
    textbuffer t;
    u8* room = t.reserve(255);
    CHECK(room != nullptr);
    CHECK_EQ(t.capacity, 256);
    memset(room, 'x', 255);
    t.commit(255);
    checkinvariants(t);
    sptr r = 0;
    char* l = line(t, &r);
    CHECK_EQ(r, 256);
    CHECK(l && strlen(l) == 255);
    CHECK(endflag(t) == false);
    CHECK(line(t) == nullptr);
    CHECK(endflag(t));

    textbuffer u;
    CHECK(u.reserve(256) != nullptr);
    CHECK_EQ(u.capacity, 512);
    u.commit(600);                      // only 511 bytes of room behind the content
    CHECK_EQ(u.length, 511);
    checkinvariants(u);
    u.commit(1);
    CHECK_EQ(u.length, 511);
    textbuffer empty;
    empty.commit(5);                    // no buffer: nothing to count
    CHECK_EQ(empty.length, 0);
    CHECK(empty.buffer == nullptr);
}

// Sizes whose sums wrap in 32 bits, or pass the cap, are refused before anything
// moves: the content, the read position and the give-back history stay.
TEST(huge_sizes_refused_without_change)
{
    textbuffer t;
    CHECK_EQ(t.write("abcdef", 6), 6);
    u8* p = nullptr;
    CHECK_EQ(cmd(t, stream_read, 2, &p), 2);
    static const struct { char const* name; u32 n; } reserves[] = {
        {"wraps with the length", 0xFFFFFFFFu},
        {"wraps with the rounding step", 0xFFFFFF00u},
        {"cap plus terminator", TEXTBUFFER_MAXCAPACITY},
        {"far past the cap", 0x80000000u},
    };
    for (auto const& row : reserves) {
        kzvtest::setrow(row.name);
        snapshot before(t);
        CHECK(t.reserve(row.n) == nullptr);
        before.same(t);
    }
    static const struct { char const* name; int count; } writes[] = {
        {"largest count", 0x7FFFFFFF},
        {"cap exactly", (int)TEXTBUFFER_MAXCAPACITY},
        {"cap minus the length", (int)TEXTBUFFER_MAXCAPACITY - 6},
        {"negative", -5},
    };
    for (auto const& row : writes) {
        kzvtest::setrow(row.name);
        snapshot before(t);
        // A refusal never reads the source, so a short one shows any wrong acceptance.
        CHECK_EQ(cmd(t, stream_write, row.count, "xyz"), 0);
        before.same(t);
    }
    kzvtest::setrow(nullptr);
    // Everything read: a refused append must not start the content over either.
    CHECK_EQ(cmd(t, stream_read, 10, &p), 4);
    snapshot read(t);
    CHECK(t.reserve(0xFFFFFFF0u) == nullptr);
    read.same(t);
    CHECK_EQ(cmd(t, stream_giveback, 0), 6);
    CHECK_EQ(cmd(t, stream_read, 10, &p), 6);
    CHECK_MEM(p, "abcdef", 6);
}

// The largest room the cap allows is given, and one byte more is refused.
TEST(largest_reserve_under_the_cap)
{
    textbuffer t;
    CHECK(t.reserve(TEXTBUFFER_MAXCAPACITY - 1) != nullptr);
    CHECK_EQ(t.capacity, TEXTBUFFER_MAXCAPACITY);
    t.commit(TEXTBUFFER_MAXCAPACITY - 1);
    CHECK_EQ(t.length, TEXTBUFFER_MAXCAPACITY - 1);
    checkinvariants(t);
    CHECK_EQ(t.write("x", 1), 0);
    CHECK_EQ(t.length, TEXTBUFFER_MAXCAPACITY - 1);
    t.exit(false);
}

TEST(lines_with_every_line_end)
{
    static const struct {
        char const* name;
        char const* text;
        u32 length;                     // bytes, as the text may hold zeros
        char const* lines[5];
    } rows[] = {
        {"CR LF then LF", "a\r\nb\n", 5, {"a", "b"}},
        {"empty line between", "abc\r\ndef\n\n", 10, {"abc", "def", ""}},
        {"LF CR is one line end", "a\n\rb", 4, {"a", "b"}},
        {"CR CR is two", "a\r\rb", 4, {"a", "", "b"}},
        {"cut by the end", "ab", 2, {"ab"}},
        {"zero ends a line and takes a LF behind it", "x\0\ny", 4, {"x", "y"}},
        {"zero then LF CR", "x\0\n\ry", 5, {"x", "y"}},
        {"CR LF alone is one line", "a\r\n", 3, {"a"}},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        textbuffer t;
        CHECK_EQ(t.write(row.text, row.length), row.length);
        for (char const* expected : row.lines) {
            if (!expected)
                break;
            sptr r = 0;
            char* l = line(t, &r);
            CHECK(l != nullptr);
            if (l) {
                CHECK_STR(l, expected);
                CHECK_EQ(r, strlen(expected) + 1);
            }
        }
        CHECK(!endflag(t));
        CHECK(line(t) == nullptr);
        CHECK(endflag(t));
        checkinvariants(t);
    }
    kzvtest::setrow(nullptr);
}

// The second byte of a line-end pair arrives in a later append, after everything
// was read: it starts the content over at offset 0, and is still no line of its own.
TEST(line_end_split_across_appends)
{
    static const struct { char const* name; char const* first; char const* second; char const* lines[3]; } rows[] = {
        {"CR then LF", "a\r", "\nb\n", {"a", "b"}},
        {"LF then CR", "a\n", "\rb\n", {"a", "b"}},
        {"CR then CR is an empty line", "a\r", "\rb\n", {"a", "", "b"}},
        {"LF then LF is an empty line", "a\n", "\nb\n", {"a", "", "b"}},
        {"CR then LF alone", "a\r", "\n", {"a"}},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        textbuffer t;
        t.write(row.first, strlen(row.first));
        char* l = line(t);
        CHECK(l && streq(l, row.lines[0]));
        CHECK(line(t) == nullptr);
        CHECK(endflag(t));
        t.write(row.second, strlen(row.second));
        CHECK(!endflag(t));
        CHECK_EQ(t.readpos, 0);
        CHECK_EQ(t.length, strlen(row.second));
        for (u32 i = 1; i < 3 && row.lines[i]; i++) {
            l = line(t);
            CHECK(l != nullptr);
            if (l)
                CHECK_STR(l, row.lines[i]);
        }
        CHECK(line(t) == nullptr);
        checkinvariants(t);
    }
    kzvtest::setrow(nullptr);
}

// 'C', 'D' and 'F' take bytes, 'G' and 'H' give them back; at the end the end flag
// is set, 'F' answers -1 and then 0, and 'H' clears it.
TEST(reading_and_giving_back)
{
    textbuffer t;
    CHECK_EQ(cmd(t, stream_writetext, 0, "hello world"), 11);
    u8* p = nullptr;
    CHECK_EQ(cmd(t, stream_giveback, 0), 0);        // nothing read yet
    CHECK_EQ(cmd(t, stream_read, 5, &p), 5);
    CHECK_MEM(p, "hello", 5);
    CHECK_EQ(cmd(t, stream_giveback, 2), 2);
    CHECK_EQ(cmd(t, stream_read, 3, &p), 3);
    CHECK_MEM(p, "lo ", 3);
    snapshot six(t);
    CHECK_EQ(cmd(t, stream_giveback, 7), 0);        // more than was read: nothing
    six.same(t);
    CHECK_EQ(cmd(t, stream_giveback, -1), 0);
    six.same(t);
    CHECK_EQ(cmd(t, stream_giveback, 0), 6);        // 0: all of it
    CHECK_EQ(t.readpos, 0);
    data* d = nullptr;
    CHECK_EQ(cmd(t, stream_readrecord, 4, &d), 4);
    CHECK(d == &t);
    CHECK_EQ(t.size, 4);
    CHECK_MEM(t.payload, "hell", 4);
    CHECK_EQ(cmd(t, stream_getbyte), 'o');
    CHECK_EQ(cmd(t, stream_read, 0, &p), 0);        // a count of 0 takes nothing
    CHECK_EQ(cmd(t, stream_read, 100, &p), 6);
    CHECK_MEM(p, " world", 6);
    checkinvariants(t);
    CHECK(!endflag(t));
    CHECK_EQ(cmd(t, stream_getbyte), -1);
    CHECK(endflag(t));
    CHECK_EQ(cmd(t, stream_getbyte), 0);
    CHECK_EQ(cmd(t, stream_read, 5, &p), 0);
    d = &t;
    CHECK_EQ(cmd(t, stream_readrecord, 5, &d), 0);
    CHECK(d == &t);
    CHECK_EQ(t.size, 0);
    CHECK(t.payload == nullptr);
    CHECK_EQ(cmd(t, stream_restart), 1);
    CHECK(!endflag(t));
    CHECK_EQ(t.pending, 11);
    CHECK_EQ(cmd(t, stream_getbyte), 'h');
    void* e = &t;
    CHECK_EQ(cmd(t, stream_getrecord, 0, &e), 0);
    CHECK(e == nullptr);
}

// Everything read, the next append starts over at offset 0 with the read position
// 0: the old read position would lie past the new content.
TEST(append_after_everything_read_starts_over)
{
    textbuffer t;
    t.write("abcdefgh", 8);
    u8* p = nullptr;
    CHECK_EQ(cmd(t, stream_read, 8, &p), 8);
    CHECK_EQ(cmd(t, stream_read, 8, &p), 0);
    CHECK(endflag(t));
    u8* before = t.buffer;
    CHECK_EQ(t.write("xy", 2), 2);
    CHECK(!endflag(t));
    CHECK(t.buffer == before);
    CHECK_EQ(t.readpos, 0);
    CHECK_EQ(t.length, 2);
    CHECK_EQ(t.total, 10);
    CHECK_EQ(cmd(t, stream_read, 8, &p), 2);
    CHECK(p == t.buffer);
    CHECK_MEM(p, "xy", 2);
    CHECK_EQ(cmd(t, stream_giveback, 0), 2);        // the old history is gone
    // With bytes still unread, an append goes behind them.
    t.write("z", 1);
    CHECK_EQ(cmd(t, stream_read, 8, &p), 3);
    CHECK_MEM(p, "xyz", 3);
    // A line handed out by 'B' appended to the same buffer, which grows under it.
    textbuffer u;
    u.write("first\nx", 7);
    char* l = line(u);
    CHECK(l != nullptr);
    for (u32 i = 0; i < 4; i++)
        CHECK_EQ(u.write(filler, 200), 200);
    CHECK_EQ(u.putline(l), 6);
    CHECK_MEM(u.buffer + u.length - 6, "first\n", 6);
    checkinvariants(u);
}

TEST(command_replies)
{
    textbuffer t;
    static const struct { unsigned code; sptr reply; } fixed[] = {
        {'>', 1}, {'W', 1}, {'^', 1}, {'N', 0}, {'V', 0}, {'?', 0}, {'K', 0}, {'L', 0},
        {'P', 0}, {'Q', 0}, {'T', 0}, {'U', 0}, {']', 0}, {0xA3, 0},
    };
    for (auto const& row : fixed)
        CHECK_EQ(cmd(t, row.code, 1, nullptr), row.reply);
    CHECK_EQ(t.length, 0);
    CHECK_EQ(cmd(t, stream_writeline, 0, "x"), 2);
    CHECK_EQ(cmd(t, stream_seteol, 0, "\r\n"), 1);
    CHECK_EQ(cmd(t, stream_writeline, 0, "y"), 3);
    CHECK_EQ(cmd(t, stream_writeline, 0, ""), 2);
    CHECK_EQ(cmd(t, stream_seteol, 0, ""), 1);
    CHECK_EQ(cmd(t, stream_writeline, 0, "w"), 1);
    CHECK_EQ(cmd(t, stream_seteol, 0, nullptr), 1);
    CHECK_EQ(cmd(t, stream_writetext, 0, ""), 0);
    CHECK_EQ(cmd(t, stream_writetext, 0, nullptr), 0);
    CHECK_EQ(cmd(t, stream_writeline, 0, nullptr), 0);
    CHECK_EQ(cmd(t, stream_write, 3, nullptr), 0);
    CHECK_EQ(cmd(t, stream_write, 0, "abc"), 0);
    CHECK_EQ(cmd(t, stream_write, 2, "zq"), 2);
    CHECK_EQ(cmd(t, stream_getline, 0, nullptr), 0);
    CHECK_EQ(t.length, 10);
    CHECK_MEM(t.buffer, "x\ny\r\n\r\nwzq", 11);
    checkinvariants(t);
}

TEST(characters_as_utf8)
{
    static const struct { char const* name; char16_t text[4]; char const* utf8; } rows[] = {
        {"ascii", u"az", "az"},
        {"two bytes", {0xE9}, "\xC3\xA9"},
        {"three bytes", {0x20AC}, "\xE2\x82\xAC"},
        {"surrogate pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {"highest pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {"high surrogate at the end", {'a', 0xD83D}, "a\xED\xA0\xBD"},
        {"high surrogate then a letter", {0xD83D, 'x'}, "\xED\xA0\xBD" "x"},
        {"low surrogate alone", {0xDE00, 'y'}, "\xED\xB8\x80y"},
        {"two highs then a low", {0xD83D, 0xD83D, 0xDE00}, "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        {"0xFFFF gives nothing", {'b', 0xFFFF, 'c'}, "bc"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        textbuffer t;
        u32 n = strlen(row.utf8);
        CHECK_EQ(t.putwide(row.text), n);
        CHECK_EQ(t.length, n);
        if (t.buffer)
            CHECK_STR((char const*)t.buffer, row.utf8);
        checkinvariants(t);
    }
    kzvtest::setrow(nullptr);
    textbuffer t;
    CHECK_EQ(t.putchar('A'), 1);
    CHECK_EQ(t.putchar(0xE9), 2);
    CHECK_EQ(t.putchar(0x20AC), 3);
    CHECK_EQ(t.putchar(0xFFFF), 0);
    CHECK_EQ(t.putwide(u""), 0);
    CHECK_EQ(t.putwide(nullptr), 0);
    CHECK_STR((char const*)t.buffer, "A\xC3\xA9\xE2\x82\xAC");
    CHECK_EQ(t.putline("q"), 2);
    CHECK_EQ(t.putline(nullptr), 0);
    CHECK_EQ(t.total, 8);
}

// Line ends go from read and unread content alike; the read position follows the
// bytes before it.
TEST(removenewlines_keeps_the_read_position)
{
    textbuffer t;
    t.write("a\r\nb\nc\rd\n", 9);
    u8* p = nullptr;
    CHECK_EQ(cmd(t, stream_read, 4, &p), 4);        // "a\r\nb"
    t.removenewlines();
    CHECK_EQ(t.length, 4);
    CHECK_EQ(t.readpos, 2);
    CHECK_STR((char const*)t.buffer, "abcd");
    checkinvariants(t);
    CHECK_EQ(cmd(t, stream_read, 10, &p), 2);
    CHECK_MEM(p, "cd", 2);
    t.removenewlines();                             // everything read stays read
    CHECK_EQ(t.readpos, 4);
    CHECK_EQ(t.pending, 0);
    textbuffer empty;
    empty.removenewlines();
    CHECK_EQ(empty.length, 0);
    textbuffer lines;
    lines.write("\r\n\n", 3);
    lines.removenewlines();
    CHECK_EQ(lines.length, 0);
    CHECK_EQ(lines.buffer[0], 0);
}

// A file larger than one read chunk, behind unread content; a missing path, a
// folder and a resource entry (read from the linked archive).
TEST(loadfile_contents)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    kzvtest::scratchpath(path, "textbuffer-load");
    static u8 bytes[40000];
    for (u32 i = 0; i < sizeof bytes; i++)
        bytes[i] = (u8)(i % 7 == 6 ? '\n' : i % 251);
    CHECK(kzvtest::writescratch(path, bytes, sizeof bytes));
    textbuffer t;
    t.write("head", 4);
    CHECK(t.loadfile(path));
    CHECK_EQ(t.length, 4 + sizeof bytes);
    CHECK_MEM(t.buffer, "head", 4);
    CHECK_MEM(t.buffer + 4, bytes, sizeof bytes);
    checkinvariants(t);
    // Everything read: the load starts the content over.
    u8* p = nullptr;
    while (cmd(t, stream_read, 0x10000, &p) > 0) {
    }
    CHECK(t.loadfile(path));
    CHECK_EQ(t.readpos, 0);
    CHECK_EQ(t.length, sizeof bytes);
    CHECK_EQ(t.total, 4 + 2 * sizeof bytes);
    os_unlink(path);

    snapshot before(t);
    CHECK(!t.loadfile(path));                       // gone now
    before.same(t);
    CHECK(!t.loadfile("/tmp"));
    before.same(t);
    CHECK(!t.loadfile(nullptr));
    before.same(t);

    resourceentry entry;
    CHECK(resource_find("img/info.kzv", entry));
    textbuffer r;
    CHECK(r.loadfile("img/info.kzv"));
    CHECK_EQ(r.length, entry.size);
    if (r.length == entry.size)
        CHECK_MEM(r.buffer, entry.bytes, entry.size);
    kzvtest::writescratch(path, "", 0);
    textbuffer e;
    CHECK(e.loadfile(path));                        // an empty file is a whole file
    CHECK_EQ(e.length, 0);
    os_unlink(path);
}

// Sparse files whose sizes pass the cap, one of them past 4 GiB so that its size
// cut to 32 bits would be 100 bytes: refused before a byte is read.
TEST(loadfile_sizes_refused_without_change)
{
    static const struct { char const* name; u64 size; } rows[] = {
        {"past 4 GiB", 0x100000064ull},
        {"the cap itself", TEXTBUFFER_MAXCAPACITY},
        {"cap less the content", TEXTBUFFER_MAXCAPACITY - 3},
    };
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    kzvtest::scratchpath(path, "textbuffer-sparse");
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        int fd = os_fopen(path, 3);
        CHECK(fd != 0);
        CHECK_EQ(os_fseek(fd, row.size - 1), (s64)(row.size - 1));
        CHECK_EQ(os_write(fd, "z", 1), 1);
        os_close(fd);
        CHECK_EQ(os_fsize(path), row.size);
        textbuffer t;
        t.write("abcd", 4);
        u8* p = nullptr;
        cmd(t, stream_read, 1, &p);
        snapshot before(t);
        CHECK(!t.loadfile(path));
        before.same(t);
        os_unlink(path);
    }
    kzvtest::setrow(nullptr);
}

namespace {

// A stream peer of our own: a script of lines, where null means "nothing now";
// past the script it reports `endstate` in its state word.
struct scriptedpeer : module {
    char const* const* script;
    u32 count, index;
    u32 waits;                          // 'W' commands received
    u16 endstate;
    bool forever;                       // the first line on every call
    char line[64];
};

sptr scriptedpeer_concb(void* self, unsigned cmd, int, int, void const* p)
{
    scriptedpeer* s = (scriptedpeer*)self;
    if (cmd == 'W') {
        s->waits++;
        return 1;
    }
    if (cmd != stream_getline)
        return 0;
    if (s->forever)
        s->index = 0;
    if (s->index >= s->count) {
        s->flags = (u8)(s->endstate & 0xff);
        s->state = (u8)(s->endstate >> 8);
        return 0;
    }
    char const* next = s->script[s->index++];
    if (!next)
        return 0;
    u32 n = strcpy(s->line, next, sizeof s->line - 1);
    *(char**)p = s->line;
    return (sptr)n + 1;
}

void makepeer(scriptedpeer& s, char const* const* script, u32 count, u16 endstate)
{
    memset0(&s, sizeof s);
    s.initheader(nullptr, "scripted", scriptedpeer_concb, type_bytestream);
    s.flags = (u8)streamstate_open;
    s.script = script;
    s.count = count;
    s.endstate = endstate;
}

} // namespace

// A real file stream as the peer: its lines, then its end.
TEST(fill_from_a_file_stream)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    kzvtest::scratchpath(path, "textbuffer-fill");
    CHECK(kzvtest::writescratch(path, "one\ntwo\r\n\nthree", 15));
    file source(path);
    textbuffer t;
    connect(source.out, t.in);
    CHECK_EQ(t.fill(0), 0);
    CHECK(endflag(t));
    CHECK_EQ(t.length, 15);
    CHECK_STR((char const*)t.buffer, "one\ntwo\n\nthree\n");
    CHECK_EQ(t.readline(), 0);
    os_unlink(path);

    // The same through readline, one line each, with CR LF as the line end.
    CHECK(kzvtest::writescratch(path, "a\nb", 3));
    file second(path);
    textbuffer u;
    u.seteol("\r\n");
    connect(second.out, u.in);
    CHECK_EQ(u.readline(), 1);
    CHECK_EQ(u.readline(), 1);
    CHECK(!endflag(u));
    CHECK_EQ(u.readline(), 0);
    CHECK(endflag(u));
    CHECK_STR((char const*)u.buffer, "a\r\nb\r\n");
    os_unlink(path);
}

// A peer in error, a peer never opened and no peer give 0 with nothing appended
// and no end flag: the peer's input did not end, it failed or never began.
TEST(fill_from_a_failed_or_closed_peer)
{
    file broken;
    CHECK(!broken.open("/tmp/kzv-textbuffer-no-such-file/x"));
    CHECK(broken.hasstate(streamstate_error));
    file unopened;
    scriptedpeer failing;
    makepeer(failing, nullptr, 0, streamstate_error | streamstate_open);
    scriptedpeer shut;
    makepeer(shut, nullptr, 0, 0);
    module* peers[] = {&broken, &unopened, &failing, &shut, nullptr};
    for (module* peer : peers) {
        textbuffer t;
        t.write("keep", 4);
        if (peer)
            connect(peer->out, t.in);
        CHECK_EQ(t.readline(), 0);
        CHECK_EQ(t.fill(0), 0);
        CHECK_EQ(t.fill(100000), 0);
        CHECK(!endflag(t));
        CHECK_EQ(t.length, 4);
    }
}

// "Nothing now" stops a timed fill with 1 and is waited out by fill(0), which then
// reads on to the end.
TEST(fill_waits_for_a_slow_peer)
{
    static char const* const script[] = {"l1", nullptr, nullptr, "l2", nullptr, "l3"};
    scriptedpeer s;
    makepeer(s, script, 6, streamstate_endseen);
    textbuffer t;
    connect(s.out, t.in);
    CHECK_EQ(t.fill(1000000), 1);                   // l1, then nothing now
    CHECK_STR((char const*)t.buffer, "l1\n");
    CHECK_EQ(s.waits, 1);
    CHECK(!endflag(t));
    u32 before = os_getms32();
    CHECK_EQ(t.fill(0), 0);                         // sleeps through the rest
    CHECK(os_getms32() - before >= 2);              // two waits of at least 1 ms
    CHECK_EQ(s.waits, 4);
    CHECK(endflag(t));
    CHECK_STR((char const*)t.buffer, "l1\nl2\nl3\n");
}

// A peer that always has a line: the microsecond limit ends the fill. An exiting
// process reads nothing.
TEST(fill_stops_at_its_time_limit_and_on_exit)
{
    static char const* const script[] = {"line"};
    scriptedpeer s;
    makepeer(s, script, 1, 0);
    s.forever = true;
    textbuffer t;
    connect(s.out, t.in);
    u32 start = os_getus32();
    CHECK_EQ(t.fill(3000), 1);
    CHECK(os_getus32() - start >= 3000);
    CHECK(t.length >= 5);
    CHECK_EQ(t.length % 5, 0);
    CHECK_EQ(s.waits, 0);
    CHECK(!endflag(t));
    u32 length = t.length;
    process->exitrequested = 1;
    CHECK_EQ(t.fill(0), 1);
    CHECK_EQ(t.fill(3000), 1);
    process->exitrequested = 0;
    CHECK_EQ(t.length, length);
}
