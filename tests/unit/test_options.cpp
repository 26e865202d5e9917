// Option getters over argument lists set up by the test: -name=value lookup with
// cut values reported, the prefix rule of flags, and saturated integers.
#include "../harness/harness.h"
#include "../../framework/options.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

// Puts an argument list of our own in place of the process's for one test.
class fakearguments {
public:
    fakearguments(char const** argv, u32 argc)
    {
        saved = process->getargs();
        record = *saved;
        record.argc = argc;
        record.argv = argv;
        record.filled = true;
        process->args = &record;
    }
    ~fakearguments() { process->args = saved; }

private:
    argumentrecord* saved;
    argumentrecord record;
};

#define ARGS(...)                                                            \
    static char const* argv_[] = {__VA_ARGS__};                              \
    fakearguments args_(argv_, sizeof argv_ / sizeof argv_[0])

TEST(listedexample)
{
    ARGS("file", "-folder=/tmp", "-dirmode");
    char out[64];
    CHECK(arggetstring("folder", out, sizeof out - 1));
    CHECK_STR(out, "/tmp");
    CHECK(arggetbool("dirmode"));
    CHECK(arggetbool("dir"));                 // a prefix test
    CHECK_EQ(arggetint("width"), 0);
    CHECK(!arggetstring("width", out, sizeof out - 1));
    CHECK_STR(out, "");
}

TEST(arggetstring)
{
    ARGS("-Title=upper", "-title", "-titles=no", "-title=first", "-title=second",
         "-text=a=b", "-empty=", "--folder=/x", "folder=/y");
    char out[64];
    u32 length = 99;
    CHECK(arggetstring("title", out, sizeof out - 1, &length));
    CHECK_STR(out, "first");                  // case counts, '=' needed, first wins
    CHECK_EQ(length, 5);
    CHECK(arggetstring("text", out, sizeof out - 1));
    CHECK_STR(out, "a=b");                    // the rest behind the first '='
    CHECK(arggetstring("empty", out, sizeof out - 1, &length));
    CHECK_STR(out, "");
    CHECK_EQ(length, 0);
    CHECK(!arggetstring("folder", out, sizeof out - 1, &length));  // one '-' only
    CHECK_EQ(length, 0);
    CHECK(!arggetstring(nullptr, out, sizeof out - 1));
    CHECK(arggetstring("title", nullptr, 10));  // found, nothing to copy into
}

TEST(cutvaluesarereported)
{
    ARGS("-folder=/home/someone/a/rather/long/path");
    char out[8] = {'G', 'G', 'G', 'G', 'G', 'G', 'G', 'G'};
    u32 length = 0;
    // A field of 5 bytes: 4 characters and the terminator, nothing beyond.
    CHECK(arggetstring("folder", out, 4, &length));
    CHECK_STR(out, "/hom");
    CHECK_EQ(out[5], 'G');
    CHECK_EQ(length, 32);
    CHECK(length > 4);                        // what a caller refuses
    // The output is never used for the search text, so a field smaller than the
    // name is safe.
    char tiny[2] = {'G', 'G'};
    CHECK(arggetstring("folder", tiny, 1, &length));
    CHECK_STR(tiny, "/");
}

TEST(arggetbool)
{
    ARGS("-dirmode", "--showhidden", "plain", "x");
    static struct { char const* name; bool expect; } const rows[] = {
        {"dirmode", true},
        {"dir", true},
        {"irmode", true},                     // seen from the third character
        {"showhidden", true},                 // --name
        {"-showhidden", true},                // seen from the second character
        {"plain", true},                      // seen from the first character
        {"lain", true},
        {"x", true},
        {"hidden", false},
        {"dirmodes", false},
        {"", true},                           // every argument begins with ""
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        CHECK_EQ(arggetbool(r.name), r.expect);
    }
    kzvtest::setrow(nullptr);
    CHECK(!arggetbool(nullptr));
}

TEST(arggetboolwithoutarguments)
{
    fakearguments none(nullptr, 0);
    CHECK(!arggetbool(""));
    CHECK(!arggetbool("x"));
    CHECK_EQ(arggetint("width"), 0);
}

TEST(arggetint)
{
    ARGS("-a=640", "-b=  -12x", "-c=99999999999", "-d=-99999999999", "-e=2147483647",
         "-f=-2147483648", "-g=2147483648", "-h=abc", "-i=+5",
         "-j=000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000000042");
    static struct { char const* name; s64 expect; } const rows[] = {
        {"a", 640},
        {"b", -12},
        {"c", 2147483647},                    // saturated, not wrapped
        {"d", -2147483647 - 1},
        {"e", 2147483647},
        {"f", -2147483647 - 1},
        {"g", 2147483647},
        {"h", 0},
        {"i", 0},                             // no '+' sign
        {"j", 42},                            // read whole, not cut at 120 characters
        {"absent", 0},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        CHECK_EQ((s64)arggetint(r.name), r.expect);
    }
    kzvtest::setrow(nullptr);
}
