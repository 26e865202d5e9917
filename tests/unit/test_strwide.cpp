// UTF-8 to UTF-16 decoding (valid, invalid and cut sequences, destination bounds
// with guard units), the cut of UTF-8 text between characters, the encoder round
// trip and the wide-string routines.
#include "../harness/harness.h"
#include "../../framework/memprim.h"
#include "../../framework/str.h"
#include "test_strwide_cases.h"

using namespace kzv;

static u32 const GUARDUNITS = 16;
static u16 const GUARD = 0xBEEF;

struct decoderow {
    char const* name;
    char const* source;
    u32 capacity;           // destination units, terminator included
    u16 expect[8];          // the units, then 0
};

static decoderow const decoderows[] = {
    {"ASCII", "abc", 16, {'a', 'b', 'c', 0}},
    {"two-byte sequence", "caf\xC3\xA9", 16, {'c', 'a', 'f', 0xE9, 0}},
    {"three-byte sequence", "\xE2\x82\xAC", 16, {0x20AC, 0}},
    {"four-byte sequence keeps 16 bits", "\xF0\x9F\x98\x80!", 16, {0xF600, '!', 0}},
    {"Latin-1 byte at the end", "caf\xE9", 16, {'c', 'a', 'f', 0xE9, 0}},
    {"Latin-1 bytes inside", "\xE9t\xE9", 16, {0xE9, 't', 0xE9, 0}},
    {"three-byte sequence cut by the end", "x\xE2\x82", 16, {'x', 0xE2, 0x82, 0}},
    {"four-byte sequence cut by the end", "\xF0\x9F\x98", 16, {0xF0, 0x9F, 0x98, 0}},
    {"lead byte before ASCII", "\xC3(", 16, {0xC3, '(', 0}},
    {"second continuation missing", "\xE2\x82" "A", 16, {0xE2, 0x82, 'A', 0}},
    {"stray continuation byte", "\x80z", 16, {0x80, 'z', 0}},
    {"F8 to FF stand alone", "\xF8\x80\xFF", 16, {0xF8, 0x80, 0xFF, 0}},
    {"sequence of value 0 dropped", "\xC0\x80x", 16, {'x', 0}},
    {"capacity cuts", "abcdef", 4, {'a', 'b', 'c', 0}},
    {"capacity cuts before a sequence", "ab\xC3\xA9", 3, {'a', 'b', 0}},
    {"capacity 1", "abc", 1, {0}},
    {"empty", "", 8, {0}},
};

static u32 unitcount(u16 const* u)
{
    u32 n = 0;
    while (u[n])
        n++;
    return n;
}

TEST(utf82unicode)
{
    u16 dst[16 + GUARDUNITS];
    for (auto const& r : decoderows) {
        kzvtest::setrow(r.name);
        for (u16& u : dst)
            u = GUARD;
        u32 written = str_utf82unicode(r.source, dst, r.capacity);
        u32 expected = unitcount(r.expect);
        CHECK_EQ(written, expected);
        CHECK_MEM(dst, r.expect, (expected + 1) * 2);
        bool untouched = true;
        for (u32 i = r.capacity; i < sizeof dst / sizeof dst[0]; i++)
            untouched = untouched && dst[i] == GUARD;
        CHECK(untouched);
    }
    kzvtest::setrow(nullptr);

    dst[0] = GUARD;
    CHECK_EQ(str_utf82unicode("abc", dst, 0), 0);
    CHECK_EQ(dst[0], GUARD);
    CHECK_EQ(str_utf82unicode(nullptr, dst, 4), 0);
    CHECK_EQ(dst[0], 0);
    CHECK_EQ(str_utf82unicode("abc", nullptr, 4), 0);
}

// Random sources decoded by Python (see the generator script).
TEST(peercases)
{
    u32 wrong = 0;
    for (auto const& c : peercases) {
        u16 dst[PEERCASE_MAXUNITS + 1];
        u32 n = str_utf82unicode(c.source, dst, PEERCASE_MAXUNITS + 1);
        bool same = n == c.count;
        for (u32 i = 0; same && i < n; i++)
            same = dst[i] == c.units[i];
        if (!same && wrong++ < 5) {
            kzvtest::note("decoding differs from the peer for this source:");
            kzvtest::note(c.source);
            CHECK_EQ(n, c.count);
        }
    }
    CHECK_EQ(wrong, 0);
}

// Sources that end exactly at their terminator, so that ASan reports any read
// beyond it.
TEST(utf82unicodeneverreadspasttheend)
{
    static char const cut2[] = {'a', (char)0xC3, 0};
    static char const cut3[] = {(char)0xE2, (char)0x82, 0};
    static char const cut4[] = {(char)0xF0, (char)0x9F, (char)0x98, 0};
    static char const* const sources[] = {cut2, cut3, cut4};
    u16 dst[8];
    for (char const* s : sources) {
        u32 n = str_utf82unicode(s, dst, 8);
        CHECK_EQ(n, strlen(s));               // every byte stands alone
        CHECK_EQ(dst[n - 1], (u8)s[n - 1]);
    }
}

TEST(utf82unicode_ch)
{
    static struct { char const* name; u8 b[4]; u16 code; int n; } const rows[] = {
        {"ASCII", {'A', 0, 0, 0}, 0, -1},
        {"two bytes", {0xC3, 0xA9, 0, 0}, 0xE9, 1},
        {"lowest two-byte", {0xC2, 0x80, 0, 0}, 0x80, 1},
        {"three bytes", {0xE2, 0x82, 0xAC, 0}, 0x20AC, 2},
        {"highest three-byte", {0xEF, 0xBF, 0xBF, 0}, 0xFFFF, 2},
        {"four bytes", {0xF0, 0x9F, 0x98, 0x80}, 0xF600, 3},
        {"stray continuation", {0x80, 0x80, 0x80, 0x80}, 0x80, 0},
        {"cut at the second byte", {0xE2, 0x82, 0, 0}, 0xE2, 0},
        {"second byte not a continuation", {0xC3, 0xC3, 0xA9, 0}, 0xC3, 0},
        {"F8", {0xF8, 0x88, 0x80, 0x80}, 0xF8, 0},
        {"FF", {0xFF, 0x80, 0x80, 0x80}, 0xFF, 0},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        int n = 99;
        CHECK_EQ(str_utf82unicode_ch(r.b[0], r.b[1], r.b[2], r.b[3], n), r.code);
        CHECK_EQ((s64)n, (s64)r.n);
    }
    kzvtest::setrow(nullptr);
}

// Titles of `lead` letters and a tail, cut to a number of characters and bytes.
TEST(cutbetweencharacters)
{
    static struct { char const* name; u32 lead; char const* tail; u32 characters, bytes, expect; } const rows[] = {
        {"119 letters and e-acute are 120 characters", 119, "\xC3\xA9", 120, 1000, 121},
        {"e-acute as the 121st character", 120, "\xC3\xA9", 120, 1000, 120},
        {"e-acute across a 120-byte limit", 119, "\xC3\xA9", 1000, 120, 119},
        {"emoji across a 120-byte limit", 118, "\xF0\x9F\x98\x80", 1000, 120, 118},
        {"emoji within 120 characters", 118, "\xF0\x9F\x98\x80" "b", 120, 1000, 123},
        {"emoji as the 121st character", 120, "\xF0\x9F\x98\x80", 120, 1000, 120},
        {"euro sign ending a 120-byte limit", 117, "\xE2\x82\xAC", 1000, 120, 120},
        {"exactly 120 letters", 120, "", 120, 120, 120},
        {"121 letters", 121, "", 120, 1000, 120},
        {"stray continuations count one each", 0, "\x80\x80\xFF" "a", 2, 1000, 2},
        {"lead byte before a letter stands alone", 0, "\xC3(", 1, 1000, 1},
        {"sequence cut by the terminator", 0, "\xE2\x82", 1, 1000, 1},
        {"F8 and a continuation are two", 0, "\xF8\x80", 1, 1000, 1},
        {"no characters", 3, "", 0, 1000, 0},
        {"no bytes", 3, "", 10, 0, 0},
        {"empty", 0, "", 10, 10, 0},
    };
    char source[200], copy[200];
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        memset(source, 'a', r.lead);
        source[r.lead] = 0;
        strcat(source, r.tail, sizeof source - 1);
        CHECK_EQ(str_utf8prefix(source, r.characters, r.bytes), r.expect);
        // The copy's capacity is the byte limit and its terminator.
        u32 capacity = kzv_min<u32>(r.bytes + 1, sizeof copy - 1);
        memset(copy, 'G', sizeof copy);
        u32 n = str_copycharacters(copy, capacity, source, r.characters);
        CHECK_EQ(n, kzv_min(r.expect, capacity - 1));
        CHECK_MEM(copy, source, n);
        CHECK_EQ(copy[n], 0);
        CHECK_EQ(copy[capacity], 'G');
    }
    kzvtest::setrow(nullptr);
    CHECK_EQ(str_utf8prefix(nullptr, 10, 10), 0);
    copy[0] = 'G';
    CHECK_EQ(str_copycharacters(copy, sizeof copy, nullptr, 10), 0);
    CHECK_EQ(copy[0], 0);
    CHECK_EQ(str_copycharacters(nullptr, 10, "abc", 10), 0);
    // Sources that end at their terminator: ASan sees any read beyond it.
    static char const cut[] = {'a', (char)0xF0, (char)0x9F, 0};
    CHECK_EQ(str_utf8prefix(cut, 10, 10), 3);
    CHECK_EQ(str_utf8prefix(cut, 2, 10), 2);
}

TEST(unicode2utf81byte)
{
    static struct { u16 unit; char const* bytes; } const rows[] = {
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0x20AC, "\xE2\x82\xAC"},
        {0xFFFE, "\xEF\xBF\xBE"},
        {0xFFFF, ""},
    };
    for (auto const& r : rows) {
        char out[4] = {'G', 'G', 'G', 'G'};
        u32 n = str_unicode2utf81byte(r.unit, out);
        CHECK_EQ(n, strlen(r.bytes));
        CHECK_STR(out, r.bytes);
    }
}

// Every unit from 1 to 0xFFFE survives encoding and decoding.
TEST(roundtrip)
{
    u32 bad = 0;
    for (u32 u = 1; u < 0xFFFF; u++) {
        char bytes[4];
        str_unicode2utf81byte((u16)u, bytes);
        u16 back[4];
        if (str_utf82unicode(bytes, back, 4) != 1 || back[0] != u)
            bad++;
    }
    CHECK_EQ(bad, 0);
}

TEST(utf82unicodecat)
{
    u16 dst[6 + GUARDUNITS];
    for (u16& u : dst)
        u = GUARD;
    dst[0] = 'a';
    dst[1] = 'b';
    dst[2] = 0;
    CHECK_EQ(str_utf82unicodecat(dst, "c\xC3\xA9" "def", 6), 3);   // room for three
    static u16 const expect[] = {'a', 'b', 'c', 0xE9, 'd', 0, GUARD};
    CHECK_MEM(dst, expect, sizeof expect);

    CHECK_EQ(str_utf82unicodecat(dst, "x", 6), 0);                   // full already
    CHECK_MEM(dst, expect, sizeof expect);

    u16 unterminated[3] = {'a', 'b', 'c'};
    CHECK_EQ(str_utf82unicodecat(unterminated, "x", 3), 0);          // cut, never past 3
    CHECK_EQ(unterminated[2], 0);

    u16 empty[4] = {0, GUARD, GUARD, GUARD};
    CHECK_EQ(str_utf82unicodecat(empty, "xy", 4), 2);
    CHECK_EQ(empty[1], 'y');
    CHECK_EQ(str_utf82unicodecat(nullptr, "x", 4), 0);
    CHECK_EQ(str_utf82unicodecat(empty, "x", 0), 0);
}

TEST(widestrings)
{
    static u16 const abc[] = {'a', 'B', 0xE9, 0xFFE9, 0};
    CHECK_EQ(strlen(abc), 4);
    CHECK_EQ(strlen((u16 const*)nullptr), 0);

    u16 copy[8];
    for (u16& u : copy)
        u = GUARD;
    CHECK_EQ(strcpy(copy, abc, 2), 2);
    CHECK_EQ(copy[0], 'a');
    CHECK_EQ(copy[1], 'B');
    CHECK_EQ(copy[2], 0);
    CHECK_EQ(copy[3], GUARD);
    CHECK_EQ(strcpy(copy, abc, 10), 4);
    CHECK_EQ(copy[4], 0);
    CHECK_EQ(strcpy(copy, (u16 const*)nullptr, 3), 0);

    CHECK(strchr(abc, 'B') == abc + 1);
    CHECK(strchr(abc, 'b') == nullptr);
    CHECK(strchr(abc, 0) == nullptr);
    CHECK(strchr(abc, (char)0xE9) == abc + 3);    // the byte taken as signed: 0xFFE9
    static u16 const none[] = {0};
    CHECK(strchr(none, 'a') == nullptr);
    u16 modifiable[] = {'x', '/', 'y', 0};
    *strchr(modifiable, '/') = '\\';
    CHECK_EQ(modifiable[1], '\\');

    CHECK_EQ(str_widechartolower('A'), 'a');
    CHECK_EQ(str_widechartolower('Z'), 'z');
    CHECK_EQ(str_widechartolower('['), '[');
    CHECK_EQ(str_widechartolower(0xC9), 0xC9);
    CHECK_EQ(str_widechartolower(0x141), 0x141);
}
