// Wildcard patterns and pattern lists: the star rules (a non-trailing star takes at
// least one character, a trailing one may take none), '?' also after a star,
// backtracking past false starts, case, and the 511-character copies.
#include "../harness/harness.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "test_strwildcard_cases.h"

using namespace kzv;

struct matchrow { char const* pattern; char const* name; bool expect; };

static void runmatches(matchrow const* rows, u32 count, bool (*f)(char const*, char const*))
{
    char rowname[160];
    for (u32 i = 0; i < count; i++) {
        str_combine(rowname, sizeof rowname, rows[i].pattern, " ~ ", rows[i].name);
        kzvtest::setrow(rowname);
        CHECK_EQ(f(rows[i].pattern, rows[i].name), rows[i].expect);
    }
    kzvtest::setrow(nullptr);
}

TEST(singlepatterns)
{
    static matchrow const rows[] = {
        // The listed rules.
        {"*.txt", "a.b.txt", true},
        {"*.txt", ".txt", false},             // the star takes at least one character
        {"a*", "a", true},                    // a trailing star may take nothing
        {"a?", "a", false},
        {"*", "", true},
        {"*", "anything at all", true},
        // Names the old first-fit star missed or wrongly took.
        {"*.txt", "a.t.txt", true},
        {"*.txt", "a.txt.txt", true},
        {"*.txt", "", false},
        {"a*b", "a", false},
        {"*.txt", "a.txt.bak", false},
        {"*ab*cd", "xabyabcd", true},
        {"*ab*cd", "xabyabce", false},
        // Non-trailing stars.
        {"a*b", "ab", false},
        {"a*b", "axb", true},
        {"a*b", "axxb", true},
        {"a*b", "axbxb", true},
        {"a*b", "axbx", false},
        {"*a*", "a", false},
        {"*a*", "ba", true},
        {"*a*", "bab", true},
        {"*a*", "bbb", false},
        {"**", "a", true},
        {"**", "", false},
        {"a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", true},
        // '?' is one character, also right after a star.
        {"?", "", false},
        {"?", "a", true},
        {"??", "a", false},
        {"*?", "a", false},
        {"*?", "ab", true},
        {"*?x", "abx", true},
        {"a*?", "ab", false},
        {"a*?", "abc", true},
        {"*?.txt", "a.txt", false},
        {"*?.txt", "ab.txt", true},
        {"*?", "?", false},
        {"?*", "a", true},
        // Case, ASCII letters only.
        {"*.PNG", "photo.png", true},
        {"*.png", "PHOTO.PNG", true},
        {"README", "readme", true},
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9", false},
        {"*\xC3\xA9", "caf\xC3\xA9", true},
        // Plain text and empty strings.
        {"", "", true},
        {"", "a", false},
        {"a", "", false},
        {"abc", "abc", true},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
    };
    runmatches(rows, sizeof rows / sizeof rows[0], str_patterncaseeq_single);
    CHECK(!str_patterncaseeq_single(nullptr, "a"));
    CHECK(!str_patterncaseeq_single("*", nullptr));
}

// Random cases answered by Python's re and fnmatch (see the generator script).
TEST(peercases)
{
    u32 wrong = 0;
    for (auto const& c : peercases) {
        bool single = str_patterncaseeq_single(c.pattern, c.name);
        // As a one-piece list; the empty list is the one text that differs.
        bool list = *c.pattern ? str_patterncaseeq(c.pattern, c.name) : c.expect;
        if (single != c.expect || list != c.expect) {
            wrong++;
            kzvtest::setrow(c.pattern);
            kzvtest::note(c.name);
            CHECK_EQ(single, c.expect);
        }
    }
    kzvtest::setrow(nullptr);
    CHECK_EQ(wrong, 0);
}

TEST(patternlists)
{
    static matchrow const rows[] = {
        {"*.PNG,*.jpg", "photo.png", true},
        {"*.PNG,*.jpg", "photo.JPG", true},
        {"*.png;*.jpg", "a.jpg", true},
        {"*.png;*.jpg", "a.gif", false},
        {"*.c;*.h,*.cpp", "x.cpp", true},
        {"*.c;*.h,*.cpp", "x.h", true},
        {"*.txt,", "x.txt", true},
        {"*.txt,", "", false},                // a separator at the end adds no piece
        {"a,,b", "", true},                   // an empty piece in the middle
        {",", "", true},
        {"", "", false},                      // an empty list
        {"", "a", false},
        {"*", "", true},
        {"*.txt;*", "", true},
        {"x", "x", true},
    };
    runmatches(rows, sizeof rows / sizeof rows[0], str_patterncaseeq);
    CHECK(!str_patterncaseeq(nullptr, "a"));
    CHECK(!str_patterncaseeq("*", nullptr));
}

// Builds `count` copies of c followed by tail in pool memory.
static char* longtext(char c, u32 count, char const* tail)
{
    u32 n = strlen(tail);
    char* s = (char*)process->pool.getmem(count + n + 1);
    if (!s)
        return nullptr;
    for (u32 i = 0; i < count; i++)
        s[i] = c;
    strcpy(s + count, tail, n);
    return s;
}

TEST(longtexts)
{
    char* name255 = longtext('a', 251, ".txt");      // the longest file name
    char* name511 = longtext('a', 507, ".txt");
    char* name600 = longtext('a', 596, ".txt");      // seen cut to its first 511 characters
    char* pattern600 = longtext('?', 600, "");
    char* list = longtext('x', 700, ",*.TXT");       // a piece past the copy, then a good one
    CHECK(name255 && name511 && name600 && pattern600 && list);
    if (!name255 || !name511 || !name600 || !pattern600 || !list)
        return;
    CHECK(str_patterncaseeq_single("*.txt", name255));
    CHECK(str_patterncaseeq_single("*.txt", name511));
    CHECK(!str_patterncaseeq_single("*.txt", name600));
    CHECK(str_patterncaseeq_single("a*", name600));
    CHECK(str_patterncaseeq_single(pattern600, name600 + 89));  // 511 '?' against 511 characters
    CHECK(str_patterncaseeq(list, name255));
    CHECK(!str_patterncaseeq(list, "x"));
    process->pool.freemem(list);
    process->pool.freemem(pattern600);
    process->pool.freemem(name600);
    process->pool.freemem(name511);
    process->pool.freemem(name255);
}
