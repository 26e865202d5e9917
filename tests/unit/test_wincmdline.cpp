// The Windows command-line split, run on every build: the program's name skipped
// by the system's rule (a quoted path without ".exe", nothing behind ".exe"),
// and the arguments split as CommandLineToArgvW splits them (the end-to-end test
// of the Windows program checks these rows against wine's own CommandLineToArgvW).
#include "../harness/harness.h"
#include "../../framework/str.h"
#include "../../platform/windows/wincmdline.h"

using namespace kzv;
using kzvtest::setrow;

TEST(the_program_name_is_skipped_by_the_system_rule)
{
    static const struct { char const* name; char const* line; char const* rest; } rows[] = {
        {"quoted path with blanks", "\"C:\\Program Files\\velkra\" file", "file"},
        {"quoted path with .exe", "\"C:\\a b\\velkra.exe\" file -folder=/c/tmp", "file -folder=/c/tmp"},
        {"nothing behind .exe", "velkra.exe", ""},
        {"plain name and a tab", "velkra\t\tdir", "dir"},
        {"quote inside an unquoted name", "ve\"lk ra\" x", "ra\" x"},
        {"quote never closed", "\"C:\\velkra file", ""},
        {"empty", "", ""},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        CHECK_STR(wincmdline_arguments(r.line), r.rest);
    }
    setrow(nullptr);
}

struct splitrow {
    char const* name;
    char const* arguments;
    char const* words[5];   // then null
};

static splitrow const splitrows[] = {
    {"blanks and tabs separate", "file  -folder=/c/tmp\t-dirmode", {"file", "-folder=/c/tmp", "-dirmode"}},
    {"quotes keep blanks", "\"my dir\" x", {"my dir", "x"}},
    {"quotes inside a word", "-folder=\"C:/my dir\"", {"-folder=C:/my dir"}},
    {"empty quotes are a word", "\"\" a", {"", "a"}},
    {"backslashes alone stay", "a\\\\b\\", {"a\\\\b\\"}},
    {"2n backslashes before a quote", "\"a\\\\\\\\\" b", {"a\\\\", "b"}},
    {"2n+1 backslashes before a quote", "a\\\\\\\"b", {"a\\\"b"}},
    {"one backslash and a quote", "\\\"x\\\"", {"\"x\""}},
    {"doubled quote inside quotes gives one and goes on", "\"a\"\"b\" c", {"a\"b c"}},
    {"tripled quote inside quotes stays inside", "\"a\"\"\"b c", {"a\"b c"}},
    {"three quotes", "\"\"\"a\"\"\" b", {"\"a\"", "b"}},
    {"quote left open", "\"a b", {"a b"}},
    {"trailing blanks", "a   ", {"a"}},
    {"UTF-8 passes", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80", {"\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80"}},
    {"nothing", "", {}},
};

TEST(arguments_split_as_the_system_splits_them)
{
    for (auto const& r : splitrows) {
        setrow(r.name);
        u32 expected = 0;
        while (expected < 5 && r.words[expected])
            expected++;
        char out[64];
        char const* argv[8] = {};
        CHECK_EQ(wincmdline_split(r.arguments, out, nullptr, 0), expected);
        u32 n = wincmdline_split(r.arguments, out, argv, 8);
        CHECK_EQ(n, expected);
        for (u32 i = 0; i < n && i < expected; i++)
            CHECK_STR(argv[i], r.words[i]);
    }
    setrow(nullptr);
}

// No word is longer than its source, so strlen + 1 bytes always hold them all.
TEST(the_words_fit_the_length_of_their_source)
{
    static char const* const lines[] = {"a b c d e", "\"\" \"\" \"\"", "x", "\\\\\\\" \"a\"\"\"b"};
    for (char const* line : lines) {
        u32 length = strlen(line);
        char out[32];
        for (char& c : out)
            c = 'G';
        char const* argv[16];
        wincmdline_split(line, out, argv, 16);
        CHECK_EQ(out[length + 1], 'G');
    }
    char out[6];
    char const* argv[1];
    CHECK_EQ(wincmdline_split("a b c", out, argv, 1), 3);   // argv holds only the first
    CHECK_STR(argv[0], "a");
}
