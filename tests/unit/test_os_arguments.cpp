// The argument record from made-up start blocks: the program name (base name
// first, then its last extension off), the invoked name, the program directory for
// absolute, relative, "./" and "../" starts, home, user and working directory from
// the environment, the shifted argument vector and the argument line, with the
// cuts at 999 characters and a block without a first argument.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/os_arguments.h"

using namespace kzv;
using namespace kzvtest;

namespace {

struct argcase {
    char const* name;
    char const* argv[5];     // null-terminated
    char const* env[6];
    char const* programname;
    char const* invokedname;
    char const* programdir;
    char const* home;
    char const* user;
    char const* workingdir;
    u32 argc;
    char const* argline;
};

u32 countof(char const* const* v)
{
    u32 n = 0;
    while (v[n])
        n++;
    return n;
}

startblock blockof(char const* const* argv, char const* const* env)
{
    startblock b = {};
    b.argc = (s32)countof(argv);
    b.argv = argv;
    b.firstarg = argv[0];
    b.envp = env;
    return b;
}

} // namespace

static const argcase cases[] = {
    {"dot slash start", {"./velkra", "file", "-folder=/tmp"}, {"PWD=/home/u", "USER=ann"},
     "velkra", "velkra", "/home/u", nullptr, "ann", "/home/u", 2, "file -folder=/tmp"},
    {"link on the search path", {"dir"}, {"PWD=/home/u"},
     "dir", "dir", "/home/u", nullptr, "root", "/home/u", 0, ""},
    {"absolute with extension", {"/usr/local/bin/velkra.bin"}, {"PWD=/"},
     "velkra", "usr/local/bin/velkra.bin", "/usr/local/bin", nullptr, "root", "/", 0, ""},
    {"parent directory start", {"../bin/velkra", "x"}, {"PWD=/home/u/src"},
     "velkra", "bin/velkra", "/home/u/bin", nullptr, "root", "/home/u/src", 1, "x"},
    {"two parents", {"../../velkra"}, {"PWD=/home/u/src"},
     "velkra", "../velkra", "/home", nullptr, "root", "/home/u/src", 0, ""},
    {"parents up to the root", {"../../velkra"}, {"PWD=/home"},
     "velkra", "../velkra", "/", nullptr, "root", "/home", 0, ""},
    {"home of slash takes the program directory", {"/opt/x/velkra"}, {"HOME=/", "PWD=/tmp"},
     "velkra", "opt/x/velkra", "/opt/x", "/opt/x", "root", "/tmp", 0, ""},
    {"dotted directory keeps the name", {"/home/u/.local/bin/velkra"}, {"PWD=/"},
     "velkra", "home/u/.local/bin/velkra", "/home/u/.local/bin", nullptr, "root", "/", 0, ""},
    {"dotted user directory", {"/home/john.doe/bin/choosedir"}, {"PWD=/"},
     "choosedir", "home/john.doe/bin/choosedir", "/home/john.doe/bin", nullptr, "root", "/", 0, ""},
    {"relative path", {"bin/velkra"}, {"PWD=/srv"},
     "velkra", "velkra", "bin", nullptr, "root", "/srv", 0, ""},
    {"dot slash with working directory dot", {"./velkra"}, {"PWD=."},
     "velkra", "velkra", ".", nullptr, "root", ".", 0, ""},
    {"program in the root", {"/velkra"}, {"PWD=/"},
     "velkra", "velkra", "/", nullptr, "root", "/", 0, ""},
    {"hidden program name", {"./.velkra"}, {"PWD=/home/u"},
     ".velkra", ".velkra", "/home/u", nullptr, "root", "/home/u", 0, ""},
    {"dotted hidden directory start", {".config/velkra"}, {"PWD=/home/u"},
     "velkra", "velkra", "/home/u/.config", nullptr, "root", "/home/u", 0, ""},
    {"last USER and PWD win, first HOME wins", {"velkra", "a", "b", "c"},
     {"USER=one", "HOME=/h1", "USER=two", "HOME=/h2", "PWD=/w"},
     "velkra", "velkra", "/w", "/h1", "two", "/w", 3, "a b c"},
    {"an empty entry does not end the environment", {"velkra"}, {"PWD=/w", "", "USER=bob"},
     "velkra", "velkra", "/w", nullptr, "bob", "/w", 0, ""},
    {"empty values count as unset", {"velkra"}, {"USER=", "HOME=", "PWD=/w"},
     "velkra", "velkra", "/w", nullptr, "root", "/w", 0, ""},
};

TEST(argumentrecords)
{
    for (argcase const& c : cases) {
        setrow(c.name);
        startblock b = blockof(c.argv, c.env);
        argumentrecord r = {};
        char scratch[ARGSCRATCH_CAPACITY];
        CHECK(arguments_fill(r, b, process->pool, scratch));
        CHECK_STR(r.programname, c.programname);
        CHECK_STR(r.invokedname, c.invokedname);
        CHECK_STR(r.programdir, c.programdir);
        CHECK_STR(r.home, c.home);
        CHECK_STR(r.user, c.user);
        CHECK_STR(r.workingdir, c.workingdir);
        CHECK_EQ(r.argc, c.argc);
        CHECK_STR(r.argline, c.argline);
        for (u32 i = 0; i < c.argc && r.argv; i++)
            CHECK_STR(r.argv[i], c.argv[i + 1]);
        CHECK(r.argv && r.argv[r.argc] == nullptr);
        CHECK(r.env != nullptr);
        if (r.env) {
            CHECK_EQ(countof(r.env), countof(c.env));
            for (u32 i = 0; c.env[i]; i++)
                CHECK(r.env[i] == c.env[i]);
        }
    }
}

TEST(workingdirectoryfromthesystem)
{
    static char const* const argv[] = {"./velkra", nullptr};
    static char const* const env[] = {"USER=x", nullptr};
    startblock b = blockof(argv, env);
    argumentrecord r = {};
    char scratch[ARGSCRATCH_CAPACITY];
    CHECK(arguments_fill(r, b, process->pool, scratch));
    char wd[512];
    os_getwd(wd);
    CHECK_STR(r.workingdir, wd);
    char expect[520];
    CHECK(str_combine(expect, sizeof expect, streq(wd, "/") ? "" : wd, ""));
    CHECK_STR(r.programdir, expect[0] ? expect : "/");
}

// Kernels before 5.18 may start a program with argc 0 and argv[0] null.
TEST(nofirstargument)
{
    static char const* const argv[] = {nullptr};
    static char const* const env[] = {"USER=eve", "HOME=/home/eve", "PWD=/w", nullptr};
    startblock b = blockof(argv, env);
    argumentrecord r = {};
    char scratch[ARGSCRATCH_CAPACITY];
    CHECK(!arguments_fill(r, b, process->pool, scratch));
    CHECK(r.programname == nullptr);
    CHECK(r.invokedname == nullptr);
    CHECK_EQ(r.argc, 0);
    CHECK(r.argv && r.argv[0] == nullptr);
    CHECK_STR(r.argline, "");
    CHECK_STR(r.user, "eve");
    CHECK_STR(r.home, "/home/eve");
    CHECK_STR(r.workingdir, "/w");

    startblock empty = {};
    argumentrecord e = {};
    CHECK(!arguments_fill(e, empty, process->pool, scratch));
    CHECK(e.env && e.env[0] == nullptr);
    CHECK_STR(e.user, "root");
}

// The argument line is cut at 999 characters; a program directory that does not
// fit is left unknown. Nothing is written past a buffer.
TEST(longtextsarecut)
{
    static char big[1500];
    memset(big, 'a', sizeof big - 1);
    big[sizeof big - 1] = 0;
    static char pwd[2100] = "PWD=/";
    memset(pwd + 5, 'p', 2000);
    char const* argv[] = {"./velkra", big, big, nullptr};
    char const* env[] = {pwd, nullptr};
    startblock b = blockof(argv, env);
    argumentrecord r = {};
    char scratch[ARGSCRATCH_CAPACITY];
    CHECK(arguments_fill(r, b, process->pool, scratch));
    CHECK_EQ(strlen(r.argline), ARGTEXT_MAX);
    CHECK_EQ(r.argc, 2);
    CHECK(r.argv[0] == big);
    CHECK(r.programdir == nullptr);     // a cut directory would be another one

    char const* shortargv[] = {"/opt/velkra", nullptr};
    startblock s = blockof(shortargv, env);
    argumentrecord q = {};
    CHECK(arguments_fill(q, s, process->pool, scratch));
    CHECK_STR(q.programdir, "/opt");
    CHECK(q.workingdir == pwd + 4);     // the environment's own text, not a copy
}

// The process's own record: filled once, later calls keep it.
TEST(processrecordfilledonce)
{
    argumentrecord* r = process->getargs();
    CHECK(r != nullptr);
    if (!r)
        return;
    CHECK(r->filled);
    CHECK(r->programname && streqbegin(r->programname, "test_os_arguments"));
    char const* before = r->programname;
    os_getprogramnameandargs();
    CHECK(process->args->programname == before);
}
