// Byte-string routines: comparison, bounded copies (guard bytes behind every
// bound), search, atoi, the small parsers, the line splitter and the sort.
#include "../harness/harness.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

static char const* const nul = nullptr;

TEST(lengths)
{
    CHECK_EQ(strlen(nul), 0);
    CHECK_EQ(strlen(""), 0);
    CHECK_EQ(strlen("abc"), 3);
    CHECK_EQ(strlen("caf\xC3\xA9"), 5);      // bytes, not characters
}

struct pairrow { char const* name; char const* a; char const* b; bool expect; };

static void runpairs(pairrow const* rows, u32 count, bool (*f)(char const*, char const*))
{
    for (u32 i = 0; i < count; i++) {
        kzvtest::setrow(rows[i].name);
        CHECK_EQ(f(rows[i].a, rows[i].b), rows[i].expect);
    }
    kzvtest::setrow(nullptr);
}

TEST(streq)
{
    static pairrow const rows[] = {
        {"both null", nul, nul, false},
        {"a null", nul, "", false},
        {"b null", "", nul, false},
        {"both empty", "", "", true},
        {"equal", "abc", "abc", true},
        {"prefix", "ab", "abc", false},
        {"longer", "abc", "ab", false},
        {"case counts", "abc", "abC", false},
    };
    runpairs(rows, sizeof rows / sizeof rows[0], streq);
}

TEST(streqbegin)
{
    static pairrow const rows[] = {
        {"empty prefix", "abc", "", true},
        {"both empty", "", "", true},
        {"prefix", "abcdef", "abc", true},
        {"whole", "abc", "abc", true},
        {"longer prefix", "ab", "abc", false},
        {"differs", "abd", "abc", false},
        {"case counts", "Abc", "abc", false},
        {"null prefix", "abc", nul, true},
        {"null text", nul, "a", false},
    };
    runpairs(rows, sizeof rows / sizeof rows[0], streqbegin);
}

TEST(strcaseeqbegin)
{
    static pairrow const rows[] = {
        {"upper text", "HOME=/root", "home=", true},
        {"upper prefix", "path=/bin", "PATH=", true},
        {"differs", "HOMER", "home=", false},
        {"only ASCII folds", "\xC3\x89", "\xC3\xA9", false},
        {"longer prefix", "ho", "home", false},
        {"empty prefix", "x", "", true},
    };
    runpairs(rows, sizeof rows / sizeof rows[0], strcaseeqbegin);
}

TEST(streqend)
{
    static pairrow const rows[] = {
        {"empty ending", "abc", "", true},
        {"ending longer than text", "le", "file", false},
        {"ending", "velkrafile", "file", true},
        {"whole", "dir", "dir", true},
        {"case counts", "FILE", "file", false},
        {"null text, empty ending", nul, "", true},
        {"null text", nul, "a", false},
        {"null ending", "abc", nul, true},
        {"not at the end", "filex", "file", false},
    };
    runpairs(rows, sizeof rows / sizeof rows[0], streqend);
}

TEST(strcasegreater)
{
    static pairrow const rows[] = {
        {"B after a", "B", "a", true},
        {"a not after A", "a", "A", false},
        {"A not after a", "A", "a", false},
        {"equal", "abc", "abc", false},
        {"a empty", "", "a", false},
        {"b empty", "a", "", true},
        {"longer after its prefix", "ab", "A", true},
        {"prefix not after", "a", "ab", false},
        {"a null", nul, "a", false},
        {"b null", "a", nul, false},
        {"high bytes sort before ASCII", "\xE9", "a", false},
        {"ASCII after high bytes", "a", "\xE9", true},
        {"0xFF before 0x80", "\xFF", "\x80", true},
        {"digits before letters", "1", "a", false},
        {"underscore after upper-case letters folded", "_", "Z", false},
    };
    runpairs(rows, sizeof rows / sizeof rows[0], strcasegreater);
}

TEST(lowercase)
{
    CHECK_EQ(str_chartolower('A'), 'a');
    CHECK_EQ(str_chartolower('Z'), 'z');
    CHECK_EQ(str_chartolower('@'), '@');
    CHECK_EQ(str_chartolower('['), '[');
    CHECK_EQ((u8)str_chartolower((char)0xC9), 0xC9);
    char s[] = "MiXeD 123 \xC3\x89";
    str_tolower(s);
    CHECK_STR(s, "mixed 123 \xC3\x89");
    str_tolower(nullptr);
}

// A buffer with guard bytes: every byte beyond `room` must stay 'G'.
struct guarded {
    char bytes[32];
    void fill(char const* text)
    {
        for (u32 i = 0; i < sizeof bytes; i++)
            bytes[i] = 'G';
        if (text)
            for (u32 i = 0; i <= strlen(text); i++)
                bytes[i] = text[i];
    }
    bool untouchedfrom(u32 room) const
    {
        for (u32 i = room; i < sizeof bytes; i++)
            if (bytes[i] != 'G')
                return false;
        return true;
    }
};

TEST(strcpy)
{
    guarded g;
    g.fill(nullptr);
    CHECK_EQ(strcpy(g.bytes, "abcdef", 3), 3);
    CHECK_STR(g.bytes, "abc");
    CHECK(g.untouchedfrom(4));

    g.fill(nullptr);
    CHECK_EQ(strcpy(g.bytes, "ab", 10), 2);
    CHECK_STR(g.bytes, "ab");
    CHECK(g.untouchedfrom(3));

    g.fill(nullptr);
    CHECK_EQ(strcpy(g.bytes, "abc", 0), 0);
    CHECK_STR(g.bytes, "");
    CHECK(g.untouchedfrom(1));

    g.fill(nullptr);
    CHECK_EQ(strcpy(g.bytes, nul, 5), 0);
    CHECK(g.untouchedfrom(0));
    CHECK_EQ(strcpy(nullptr, "abc", 5), 0);
}

TEST(strcat)
{
    guarded g;
    g.fill("abcde");
    strcat(g.bytes, "xyz", 7);                // 2 of 3 fit
    CHECK_STR(g.bytes, "abcdexy");
    CHECK(g.untouchedfrom(8));

    g.fill("abcdefghij");
    strcat(g.bytes, "xyz", 4);                // already longer: cut, nothing added
    CHECK_STR(g.bytes, "abcd");

    g.fill("");
    strcat(g.bytes, "xyz", 10);
    CHECK_STR(g.bytes, "xyz");

    g.fill("ab");
    strcat(g.bytes, nul, 10);
    CHECK_STR(g.bytes, "ab");
    strcat(nullptr, "x", 10);

    // A destination without a terminator inside its bound: only len + 1 bytes are
    // touched (ASan sees any read beyond the array).
    char unterminated[5] = {'a', 'b', 'c', 'd', 'e'};
    strcat(unterminated, "x", 4);
    CHECK_STR(unterminated, "abcd");
}

TEST(str_combine)
{
    guarded g;
    g.fill(nullptr);
    CHECK(str_combine(g.bytes, 8, "abc", "defg"));        // 7 characters and the terminator
    CHECK_STR(g.bytes, "abcdefg");
    CHECK(g.untouchedfrom(8));

    g.fill(nullptr);
    CHECK(!str_combine(g.bytes, 7, "abc", "defg"));       // one byte short
    CHECK_STR(g.bytes, "");
    CHECK(g.untouchedfrom(1));

    g.fill(nullptr);
    CHECK(str_combine(g.bytes, 6, "/a", "/", "bc"));
    CHECK_STR(g.bytes, "/a/bc");
    CHECK(!str_combine(g.bytes, 5, "/a", "/", "bc"));
    CHECK_STR(g.bytes, "");

    CHECK(str_combine(g.bytes, 1, "", ""));
    CHECK_STR(g.bytes, "");
    g.fill(nullptr);
    CHECK(!str_combine(g.bytes, 0, "", ""));
    CHECK(g.untouchedfrom(0));
    CHECK(!str_combine(nullptr, 10, "a", "b"));
}

TEST(inplaceedits)
{
    char a[] = "line \t\r\n \n";
    str_removetrailing(a);
    CHECK_STR(a, "line");
    char b[] = " \t\n";
    str_removetrailing(b);
    CHECK_STR(b, "");
    char c[] = "a b\vc";
    str_removetrailing(c);
    CHECK_STR(c, "a b\vc");                   // only tab, LF, CR and blank
    str_removetrailing(nullptr);

    char d[] = "a,b,,c";
    str_changechars(d, ',', ';');
    CHECK_STR(d, "a;b;;c");
    str_changechars(nullptr, 'a', 'b');
}

TEST(atoi)
{
    static struct { char const* text; int wrapped, saturated; } const rows[] = {
        {"  -12x", -12, -12},
        {"+5", 0, 0},
        {"", 0, 0},
        {"007", 7, 7},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", -2147483647 - 1, 2147483647},
        {"4294967297", 1, 2147483647},
        {"99999999999999999999999", -159383553, 2147483647},
        {"-2147483648", -2147483647 - 1, -2147483647 - 1},
        {"-2147483649", 2147483647, -2147483647 - 1},
        {"-99999999999", -1215752191, -2147483647 - 1},
        {"\t5", 0, 0},                         // only ' ' is skipped
        {"- 5", 0, 0},
        {"--5", 0, 0},
        {"12 34", 12, 12},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.text);
        CHECK_EQ((s64)atoi(r.text), (s64)r.wrapped);
        CHECK_EQ((s64)str_atoisaturated(r.text), (s64)r.saturated);
    }
    kzvtest::setrow(nullptr);
    CHECK_EQ(atoi(nullptr), 0);
    CHECK_EQ(str_atoisaturated(nullptr), 0);
}

TEST(search)
{
    char const* s = "a/b/c";
    CHECK(strchr(s, '/') == s + 1);
    CHECK(strrchr(s, '/') == s + 3);
    CHECK(strchr(s, 'x') == nullptr);
    CHECK(strrchr(s, 'x') == nullptr);
    CHECK(strchr(s, 0) == nullptr);           // the terminator is never found
    CHECK(strrchr(s, 0) == nullptr);
    CHECK(strchr(nul, 'a') == nullptr);
    char m[] = "x.y.z";
    *strrchr(m, '.') = 0;
    CHECK_STR(m, "x.y");
    char const* hi = "ab\xE9z";
    CHECK(strchr(hi, (char)0xE9) == hi + 2);  // high bytes on signed and unsigned char

    CHECK(strstr("aab", "ab") != nullptr && streq(strstr("aab", "ab"), "ab"));
    CHECK(strstr("abc", "") == nullptr);
    CHECK(strstr("", "a") == nullptr);
    CHECK(strstr("", "") == nullptr);
    CHECK(strstr("abc", "abcd") == nullptr);
    CHECK(strstr("abcabd", "abd") != nullptr && streq(strstr("abcabd", "abd"), "abd"));
    char t[] = "one two";
    CHECK(strstr(t, "two") == t + 4);
}

TEST(smallparsers)
{
    CHECK_EQ(str_hextou32("1aF"), 0x1AF);
    CHECK_EQ(str_hextou32("DEADbeef"), 0xDEADBEEF);
    CHECK_EQ(str_hextou32(""), 0);
    CHECK_EQ(str_hextou32("g1"), 0);
    CHECK_EQ(str_hextou32("12g3"), 0x12);
    CHECK_EQ(str_hextou32("abc", 2), 0xAB);
    CHECK_EQ(str_hextou32("abc", 0), 0);
    CHECK_EQ(str_hextou32("a", 5), 0xA);
    CHECK_EQ(str_hextou32(nul), 0);

    char const* kv = "key=value";
    CHECK(str_skippast(kv, '=') == kv + 4);
    CHECK(str_skippast(kv, '#') == kv + 9);
    CHECK(*str_skippast("", '=') == 0);

    CHECK(str_eqprefix("ab", "xy", 0));
    CHECK(str_eqprefix("ab", "xy", -3));
    CHECK(str_eqprefix("abc", "abd", 2));
    CHECK(!str_eqprefix("abc", "abd", 3));
    CHECK(!str_eqprefix("a", "a", 2));        // both need n characters
    CHECK(!str_eqprefix("ab", "a", 2));
    CHECK(str_eqprefix("ab", "ab", 2));
}

// Runs the splitter over text and joins the pieces with '|'.
static void splitall(char const* text, char endchar, char sep, int max, char* out, u32 capacity)
{
    getstringline g;
    g.endchar = endchar;
    char piece[64];
    out[0] = 0;
    bool first = true;
    for (int guard = 0; guard < 50 && g.getline(text, piece, max, sep); guard++) {
        if (!first)
            strcat(out, "|", capacity - 1);
        strcat(out, piece, capacity - 1);
        first = false;
    }
}

TEST(getstringline)
{
    static struct { char const* name; char const* text; char endchar, sep; int max; char const* expect; } const rows[] = {
        {"lines", "a\nb\n", 0, 0, 63, "a|b"},
        {"last line without end", "a\nbc", 0, 0, 63, "a|bc"},
        {"carriage returns dropped", "a\r\nb\r", 0, 0, 63, "a|b"},
        {"empty lines kept", "a\n\nb", 0, 0, 63, "a||b"},
        {"empty text", "", 0, 0, 63, ""},
        {"own end character", "x,y,,z", ',', 0, 63, "x|y||z"},
        {"max cuts and goes on", "abcde", 0, 0, 2, "ab|cd|e"},
        {"carriage return counts toward max", "a\rbc", 0, 0, 2, "a|bc"},
        {"separator left for the next piece", "ab cd", 0, ' ', 63, "ab| cd"},
        {"doubled separator does not split", "ab  cd", 0, ' ', 63, "ab  cd"},
        {"separator first is copied", " ab", 0, ' ', 63, " ab"},
    };
    char got[256];
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        splitall(r.text, r.endchar, r.sep, r.max, got, sizeof got);
        CHECK_STR(got, r.expect);
    }
    kzvtest::setrow(nullptr);

    getstringline g;
    char piece[8] = "x";
    CHECK(!g.getline(nullptr, piece, 7, 0));
    CHECK_STR(piece, "");
    CHECK(g.getline("abc", piece, 0, 0));     // max 0: an empty piece
    CHECK_STR(piece, "");
    char const* one = "1\n2";
    char const* two = "x\ny";
    CHECK(g.getline(one, piece, 7, 0) && streq(piece, "1"));
    CHECK(g.getline(two, piece, 7, 0) && streq(piece, "x"));  // a new text starts over
    CHECK(g.getline(two, piece, 7, 0) && streq(piece, "y"));
    CHECK(!g.getline(two, piece, 7, 0));
}

// Sorting.

static bool sortedascending(char const* const* s, u32 count)
{
    for (u32 i = 1; i < count; i++)
        if (strcasegreater(s[i - 1], s[i]))
            return false;
    return true;
}

// Every pointer of before appears in after exactly as often.
static bool samepointers(char const* const* before, char const* const* after, u32 count)
{
    for (u32 i = 0; i < count; i++) {
        u32 a = 0, b = 0;
        for (u32 k = 0; k < count; k++) {
            a += before[k] == before[i];
            b += after[k] == before[i];
        }
        if (a != b)
            return false;
    }
    return true;
}

TEST(qsortsmall)
{
    char const* s[] = {"b", "A", "c", "a", "B", "_x", "\xC3\xA9t\xC3\xA9", "10", "9", ""};
    char const* before[10];
    for (u32 i = 0; i < 10; i++)
        before[i] = s[i];
    qsort(s, 10);
    CHECK(sortedascending(s, 10));
    CHECK(samepointers(before, s, 10));
    CHECK_STR(s[0], "");
    CHECK_STR(s[1], "\xC3\xA9t\xC3\xA9");    // high bytes first
    CHECK_STR(s[2], "10");
    CHECK_STR(s[3], "9");
    CHECK_STR(s[4], "_x");                    // '_' (0x5F) before the letters folded to a-z
    CHECK_STR(s[9], "c");
}

TEST(qsortsmalledges)
{
    qsort((char const**)nullptr, 5);
    char const* one[] = {"z"};
    qsort(one, 1);
    CHECK_STR(one[0], "z");
    char const* two[] = {"b", "a"};
    qsort(two, 2);
    CHECK_STR(two[0], "a");
    CHECK_STR(two[1], "b");
    char const* same[] = {"x", "X", "x", "X", "x"};
    qsort(same, 5);
    CHECK(sortedascending(same, 5));
}

static u32 nextrandom(u32& state)
{
    state = state * 1103515245u + 12345u;
    return state >> 8;
}

TEST(qsortlarge)
{
    const u32 N = 3000;
    mem& pool = process->pool;
    char* text = (char*)pool.getmem(N * 8);
    char const** s = (char const**)pool.getmem(N * sizeof(char*));
    u8* seen = (u8*)pool.getmem(N);
    CHECK(text && s && seen);
    if (!text || !s || !seen)
        return;
    u32 state = 7;
    static char const* const passes[3] = {"random", "descending", "few distinct strings"};
    for (int pass = 0; pass < 3; pass++) {
        // Short strings of letters in both cases, digits, punctuation and UTF-8.
        char const* alphabet = pass == 2 ? "aA" : "aAbBzZ09_.-\xC3\xA9";
        u32 letters = strlen(alphabet);
        for (u32 i = 0; i < N; i++) {
            char* t = text + i * 8;
            u32 len = 1 + nextrandom(state) % (pass == 2 ? 2 : 6);
            for (u32 k = 0; k < len; k++)
                t[k] = alphabet[nextrandom(state) % letters];
            t[len] = 0;
            s[i] = t;
        }
        if (pass == 1) {
            qsort(s, N);
            for (u32 i = 0; i < N / 2; i++) {
                char const* x = s[i];
                s[i] = s[N - 1 - i];
                s[N - 1 - i] = x;
            }
        }
        qsort(s, N);
        kzvtest::setrow(passes[pass]);
        CHECK(sortedascending(s, N));
        // Every slot of text is still referenced exactly once.
        for (u32 i = 0; i < N; i++)
            seen[i] = 0;
        u32 distinct = 0;
        for (u32 i = 0; i < N; i++) {
            uptr slot = (uptr)(s[i] - text) / 8;
            if (slot < N && !seen[slot]++)
                distinct++;
        }
        CHECK_EQ(distinct, N);
    }
    kzvtest::setrow(nullptr);
    pool.freemem(seen);
    pool.freemem(s);
    pool.freemem(text);
}

// The quicksort as it always compared: strcasegreater on every comparison. Names
// that differ only in case compare equal, so where they land depends on the
// order of the comparisons; a sort that folds names in advance must put them in
// the same places, or a folder's list would come out in another order.
static void referencesort(char const** s, u32 lo, u32 hi)
{
    if (lo >= hi)
        return;
    u32 mid = lo + (hi - lo) / 2;
    char const* t = s[mid]; s[mid] = s[hi]; s[hi] = t;
    u32 k = lo;
    for (u32 i = lo; i < hi; i++)
        if (!strcasegreater(s[i], s[hi])) {
            t = s[k]; s[k] = s[i]; s[i] = t;
            k++;
        }
    t = s[k]; s[k] = s[hi]; s[hi] = t;
    if (k > lo + 1)
        referencesort(s, lo, k - 1);
    if (k + 1 < hi)
        referencesort(s, k + 1, hi);
}

// Names past the 8 characters folded in advance, sharing long prefixes in both
// cases, some of them equal without case; each carries its own byte along.
TEST(qsort_long_names_keep_their_order_and_carried_bytes)
{
    const u32 N = 600;
    mem& pool = process->pool;
    char* text = (char*)pool.getmem(N * 16);
    char const** s = (char const**)pool.getmem(N * sizeof(char*));
    char const** reference = (char const**)pool.getmem(N * sizeof(char*));
    u8* carried = (u8*)pool.getmem(N);
    CHECK(text && s && reference && carried);
    if (!text || !s || !reference || !carried)
        return;
    u32 state = 11;
    char const* alphabet = "fFiIlLeE0\xC3";
    for (u32 i = 0; i < N; i++) {
        char* t = text + i * 16;
        u32 len = 6 + nextrandom(state) % 9;           // 6 to 14 characters
        for (u32 k = 0; k < len; k++)
            t[k] = k < 4 ? "file"[k] ^ (char)(nextrandom(state) % 2 ? 0x20 : 0) : alphabet[nextrandom(state) % 10];
        t[len] = 0;
        s[i] = reference[i] = t;
        carried[i] = (u8)(i % 251);
    }
    qsort(s, N, carried);
    referencesort(reference, 0, N - 1);
    bool same = true, pairs = true;
    for (u32 i = 0; i < N; i++) {
        same = same && s[i] == reference[i];
        pairs = pairs && carried[i] == (u8)(((uptr)(s[i] - text) / 16) % 251);
    }
    CHECK(same);
    CHECK(pairs);
    CHECK(sortedascending(s, N));
    pool.freemem(carried);
    pool.freemem(reference);
    pool.freemem(s);
    pool.freemem(text);
}

// With a pool that cannot give the index stack, the sort still sorts; an array
// that is already ascending never asks for it.
TEST(qsortwithoutmemory)
{
    mem& pool = process->pool;
    memrange** freelist = pool.freelist;
    pool.freelist = nullptr;                  // every request of this pool now fails
    CHECK(pool.getmem(16) == nullptr);
    char const* ascending[] = {"a", "B", "c", "D", "e"};
    char const* reversed[] = {"e", "D", "c", "B", "a", "_", "\xC3\xA9"};
    qsort(ascending, 5);
    qsort(reversed, 7);
    pool.freelist = freelist;
    CHECK_STR(ascending[0], "a");
    CHECK_STR(ascending[4], "e");
    CHECK(sortedascending(reversed, 7));
    CHECK_STR(reversed[0], "\xC3\xA9");
    CHECK_STR(reversed[1], "_");
}
