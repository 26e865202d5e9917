// The process's argument accessors and environment lookup, over a record filled by
// the platform from this test binary's own start: the defaults, bounds of the
// copies, case-insensitive names and the record filled once.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

namespace {

char const* testenv[] = {
    "Home=/first/home", "HOME=/second", "EMPTY=", "A=B=C", "LONGVALUE=", "PATH=/bin", nullptr,
};
char longvalue[1600];

} // namespace

TEST(record_is_filled_once)
{
    argumentrecord* r = process->getargs();
    if (!CHECK(r != nullptr))
        return;
    CHECK(r->filled);
    CHECK(process->getargs() == r);
    char const** argv = r->argv;
    CHECK(process->getargs()->argv == argv);    // no refill
    CHECK(process->getprogramname() != nullptr && process->getprogramname()[0] != 0);
    CHECK(process->gethomedir() != nullptr && process->gethomedir()[0] != 0);
    CHECK(r->argline != nullptr);
    CHECK(r->env != nullptr);
}

TEST(getargv_beyond_count_is_empty)
{
    u32 n = process->getargc();
    CHECK_STR(process->getargv(n), "");
    CHECK_STR(process->getargv(n + 100), "");
    CHECK_STR(process->getargv(0xFFFFFFFFu), "");
}

TEST(getenv_bounds_and_case)
{
    argumentrecord* r = process->getargs();
    if (!r)
        return;
    char const** saved = r->env;
    memset(longvalue, 'v', sizeof(longvalue) - 1);
    memcpy(longvalue, "LONGVALUE=", 10);
    testenv[4] = longvalue;
    r->env = testenv;

    char out[2000];
    CHECK(process->getenv("home", out, sizeof(out)));     // the first match, any case
    CHECK_STR(out, "/first/home");
    CHECK(process->getenv("a", out, sizeof(out)));
    CHECK_STR(out, "B=C");                                 // after the first '='
    CHECK(process->getenv("EMPTY", out, sizeof(out)));
    CHECK_STR(out, "");
    memset(out, 'x', sizeof(out));
    CHECK(process->getenv("HOME", out, 5));                // capacity 5: 4 characters
    CHECK_STR(out, "/fir");
    CHECK_EQ(out[5], 'x');
    CHECK(process->getenv("longvalue", out, sizeof(out)));
    CHECK_EQ(strlen(out), 999);                            // cut at 999
    strcpy(out, "untouched", 20);
    CHECK(!process->getenv("PAT", out, sizeof(out)));      // a prefix of a name is no match
    CHECK(!process->getenv("NOSUCH", out, sizeof(out)));
    CHECK(!process->getenv("HOME", out, 0));
    CHECK(!process->getenv(nullptr, out, sizeof(out)));
    CHECK_STR(out, "untouched");
    char name[700];
    memset(name, 'N', sizeof(name) - 1);
    name[sizeof(name) - 1] = 0;
    CHECK(!process->getenv(name, out, sizeof(out)));       // longer than any name buffer
    r->env = saved;
}

TEST(getenv_reads_the_real_environment)
{
    char out[600];
    argumentrecord* r = process->getargs();
    bool any = r && r->env && r->env[0];
    if (!any) {
        kzvtest::note("empty environment: nothing to look up");
        return;
    }
    char name[128];
    char const* entry = r->env[0];
    u32 n = 0;
    while (entry[n] && entry[n] != '=' && n < sizeof(name) - 1) {
        name[n] = entry[n];
        n++;
    }
    name[n] = 0;
    if (n && entry[n] == '=')
        CHECK(process->getenv(name, out, sizeof(out)));
}

// A record the platform filled on its own (its home-directory lookup fills it)
// still gets its defaults on the first accessor call.
TEST(record_filled_by_the_platform_gets_its_defaults)
{
    argumentrecord* saved = process->args;
    process->args = nullptr;
    os_gethomedir();
    argumentrecord* r = process->args;
    if (CHECK(r != nullptr) && CHECK(r->filled)) {
        CHECK(process->getargs() == r);
        CHECK(r->computername != nullptr);      // set, or the default ""
        CHECK(r->argline != nullptr);
        CHECK(r->env != nullptr && r->argv != nullptr);
        CHECK(process->getprogramname() != nullptr && process->getprogramname()[0] != 0);
        CHECK(process->gethomedir() != nullptr);
    }
    process->args = saved;
}
