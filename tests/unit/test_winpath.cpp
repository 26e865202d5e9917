// The Windows layer's pure conversions, run on every build: UTF-8 and UTF-16 with
// surrogate pairs both ways and unpaired surrogates kept, the destination bounds
// (a text that does not fit is refused whole and nothing is written past the
// capacity), the system form of program paths (drive rule, "/" and single-slash
// paths refused, network and device paths kept and told from the root) and the
// program form of system paths.
#include "../harness/harness.h"
#include "../../framework/str.h"
#include "../../platform/windows/winpath.h"
#include "../../platform/windows/wintext.h"

using namespace kzv;
using kzvtest::setrow;

static u16 const GUARD = 0xBEEF;

struct widerow {
    char const* name;
    char const* utf8;
    u16 units[8];           // then 0
};

// Rows that convert the same both ways.
static widerow const roundtrips[] = {
    {"ASCII", "a/b", {'a', '/', 'b', 0}},
    {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", {0xE9, 0x20AC, 0}},
    {"emoji as a surrogate pair", "\xF0\x9F\x98\x80x", {0xD83D, 0xDE00, 'x', 0}},
    {"last code point", "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF, 0}},
    {"lone high surrogate keeps three bytes", "\xED\xA0\xBDz", {0xD83D, 'z', 0}},
    {"lone low surrogate keeps three bytes", "\xED\xB8\x80", {0xDE00, 0}},
    {"U+FFFF", "\xEF\xBF\xBF", {0xFFFF, 0}},
    {"empty", "", {0}},
};

static u32 unitcount(u16 const* u)
{
    u32 n = 0;
    while (u[n])
        n++;
    return n;
}

TEST(text_round_trips_through_both_forms)
{
    for (auto const& r : roundtrips) {
        setrow(r.name);
        u16 wide[16];
        u32 units = 99;
        CHECK(wintext_toutf16(r.utf8, wide, 16, units));
        CHECK_EQ(units, unitcount(r.units));
        CHECK_MEM(wide, r.units, (units + 1) * 2);
        char back[32];
        u32 bytes = 99;
        CHECK(wintext_toutf8(r.units, WINTEXT_TOEND, back, sizeof back, bytes));
        CHECK_EQ(bytes, strlen(r.utf8));
        CHECK_STR(back, r.utf8);
    }
    setrow(nullptr);
}

TEST(bytes_that_form_no_sequence_become_units_of_their_own)
{
    static widerow const rows[] = {
        {"Latin-1 byte", "caf\xE9", {'c', 'a', 'f', 0xE9, 0}},
        {"four bytes cut by the end", "\xF0\x9F\x98", {0xF0, 0x9F, 0x98, 0}},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80, 0}},
        {"stray continuation", "\x80z", {0x80, 'z', 0}},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        u16 wide[16];
        u32 units = 0;
        CHECK(wintext_toutf16(r.utf8, wide, 16, units));
        CHECK_MEM(wide, r.units, (unitcount(r.units) + 1) * 2);
    }
    setrow(nullptr);
}

// A pair whose low half is missing, at the end of a counted text or before other
// units, keeps the high half alone; the count stops the walk before a terminator.
TEST(counted_text_stops_at_its_count_and_at_a_zero)
{
    u16 const text[] = {'a', 0xD83D, 0xDE00, 'b', 0, 'c'};
    char out[16];
    u32 bytes = 0;
    CHECK(wintext_toutf8(text, 2, out, sizeof out, bytes));
    CHECK_STR(out, "a\xED\xA0\xBD");
    CHECK(wintext_toutf8(text, 6, out, sizeof out, bytes));
    CHECK_STR(out, "a\xF0\x9F\x98\x80" "b");
    CHECK_EQ(bytes, 6);
}

TEST(conversions_refuse_what_does_not_fit)
{
    u16 wide[8];
    for (u16& u : wide)
        u = GUARD;
    u32 units = 7;
    CHECK(!wintext_toutf16("abcdefgh", wide, 4, units));
    CHECK_EQ(wide[0], 0);
    CHECK_EQ(wide[4], GUARD);
    CHECK_EQ(units, 0);
    CHECK(wintext_toutf16("abc", wide, 4, units));         // exactly its room
    CHECK_EQ(units, 3);
    CHECK(!wintext_toutf16("ab\xF0\x9F\x98\x80", wide, 4, units));   // the pair does not fit behind "ab"
    CHECK_EQ(wide[0], 0);
    CHECK(!wintext_toutf16("x", wide, 0, units));
    char out[8];
    for (char& c : out)
        c = 'G';
    u16 const euro[] = {0x20AC, 0x20AC, 0};
    u32 bytes = 5;
    CHECK(!wintext_toutf8(euro, WINTEXT_TOEND, out, 6, bytes));   // 6 bytes and the terminator
    CHECK_EQ(out[0], 0);
    CHECK_EQ(out[6], 'G');
    CHECK(wintext_toutf8(euro, WINTEXT_TOEND, out, 7, bytes));
    CHECK_EQ(bytes, 6);
}

static bool widetext(u16 const* got, char const* expected)
{
    u32 i = 0;
    for (; expected[i]; i++)
        if (got[i] != (u8)expected[i])
            return false;
    return got[i] == 0;
}

TEST(program_paths_take_the_system_form)
{
    static const struct { char const* name; char const* path; char const* system; } rows[] = {
        {"drive alone", "/c", "c:\\"},
        {"drive and slash", "/c/", "c:\\"},
        {"drive and rest", "/z/tmp/my dir/x.txt", "z:\\tmp\\my dir\\x.txt"},
        {"capital drive", "/D/x", "D:\\x"},
        {"working directory", ".", ".\\"},
        {"relative", "sub/file", "sub\\file"},
        {"a system path as given", "C:/Users/x", "C:\\Users\\x"},
        {"network path", "//server/share/f", "\\\\server\\share\\f"},
        {"device path", "//?/Z:/tmp/x", "\\\\?\\Z:\\tmp\\x"},
        {"device namespace", "//./Z:/tmp/x", "\\\\.\\Z:\\tmp\\x"},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        u16 wide[64];
        CHECK(winpath_tosystem(r.path, wide, 64));
        CHECK(widetext(wide, r.system));
    }
    setrow(nullptr);
    u16 emoji[16];
    CHECK(winpath_tosystem("/c/\xF0\x9F\x98\x80", emoji, 16));
    u16 const expected[] = {'c', ':', '\\', 0xD83D, 0xDE00, 0};
    CHECK_MEM(emoji, expected, sizeof expected);
}

TEST(network_and_device_paths_are_told_from_the_root)
{
    static const struct { char const* name; char const* path; bool network; } rows[] = {
        {"share", "//server/share", true},
        {"server alone", "//server", true},
        {"device path", "//?/Z:/tmp/x", true},
        {"device namespace", "//./Z:", true},
        {"two slashes alone", "//", false},
        {"three slashes", "///x", false},
        {"the drive list", "/", false},
        {"a drive", "/c/x", false},
        {"relative", "server/share", false},
        {"empty", "", false},
        {"no path", nullptr, false},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        CHECK_EQ(winpath_isnetwork(r.path), r.network);
    }
    setrow(nullptr);
}

TEST(paths_without_a_system_form_are_refused)
{
    static const struct { char const* name; char const* path; u32 capacity; } rows[] = {
        {"the drive list", "/", 64},
        {"a folder of the root", "/tmp", 64},
        {"a digit for a drive", "/1/x", 64},
        {"no path", nullptr, 64},
        {"longer than its room", "/c/abcdefgh", 8},
        {"drive but no room", "/c", 3},
        {"relative, longer than its room", "abcdefgh", 8},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        u16 wide[65];
        for (u16& u : wide)
            u = GUARD;
        CHECK(!winpath_tosystem(r.path, wide, r.capacity));
        CHECK_EQ(wide[0], 0);
        CHECK_EQ(wide[r.capacity], GUARD);
    }
    setrow(nullptr);
}

TEST(system_paths_take_the_program_form)
{
    static const struct { char const* name; char const* system; char const* path; } rows[] = {
        {"working directory", "C:\\Work\\Dir", "/c/work/dir"},
        {"drive root", "C:\\", "/c/"},
        {"drive alone", "Z:", "/z"},
        {"network path", "\\\\Server\\Share", "//server/share"},
        {"non-ASCII letters keep their case", "C:\\\xC3\x89t\xC3\xA9", "/c/\xC3\x89t\xC3\xA9"},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        u16 wide[64];
        u32 units = 0;
        CHECK(wintext_toutf16(r.system, wide, 64, units));
        char out[64];
        CHECK(winpath_toprogram(wide, out, sizeof out));
        CHECK_STR(out, r.path);
    }
    setrow(nullptr);
    u16 wide[16];
    u32 units = 0;
    wintext_toutf16("C:\\abcdef", wide, 16, units);
    char small[10];
    small[9] = 'G';
    CHECK(!winpath_toprogram(wide, small, 9));      // 9 bytes and the terminator
    CHECK_STR(small, "");
    CHECK(winpath_toprogram(wide, small, 10));
    CHECK_STR(small, "/c/abcdef");
}
