// Harness core: the case list, the checks and the closing line. Output goes to
// standard error through the platform contract, so it works with no C library.
#include "harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"

namespace kzvtest {

static testcase* first;
static testcase* last;
static char const* currenttest = "";
static char const* currentrow;
static u32 failures;             // failed checks in the current case

void (*mmainhook)();

registrar::registrar(testcase* t)
{
    if (last)
        last->next = t;
    else
        first = t;
    last = t;
}

static void out(char const* s) { os_stderr(s); }

static void outu64(u64 v)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    char text[24];
    for (int i = 0; i < n; i++)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
    out(text);
}

static void outhex64(u64 v)
{
    char text[19] = "0x";
    for (int i = 0; i < 16; i++)
        text[2 + i] = "0123456789abcdef"[(v >> (60 - 4 * i)) & 15];
    text[18] = 0;
    out(text);
}

static void failhead(char const* file, int line)
{
    failures++;
    out("FAIL ");
    out(currenttest);
    if (currentrow) {
        out(" [");
        out(currentrow);
        out("]");
    }
    out(" at ");
    out(file);
    out(":");
    outu64((u64)line);
    out(": ");
}

bool check(bool ok, char const* expression, char const* file, int line)
{
    if (ok)
        return true;
    failhead(file, line);
    out(expression);
    out("\n");
    return false;
}

bool checkeq(u64 got, u64 expected, char const* gottext, char const* expectedtext, char const* file, int line)
{
    if (got == expected)
        return true;
    failhead(file, line);
    out(gottext);
    out(" is ");
    outu64(got);
    out(" (");
    outhex64(got);
    out("), expected ");
    out(expectedtext);
    out(" = ");
    outu64(expected);
    out(" (");
    outhex64(expected);
    out(")\n");
    return false;
}

static bool sametext(char const* a, char const* b)
{
    if (!a || !b)
        return a == b;
    while (*a && *a == *b)
        a++, b++;
    return *a == *b;
}

bool checkstr(char const* got, char const* expected, char const* gottext, char const* file, int line)
{
    if (sametext(got, expected))
        return true;
    failhead(file, line);
    out(gottext);
    out(" is \"");
    out(got ? got : "(null)");
    out("\", expected \"");
    out(expected ? expected : "(null)");
    out("\"\n");
    return false;
}

bool checkmem(void const* got, void const* expected, u32 length, char const* gottext, char const* file, int line)
{
    u8 const* g = (u8 const*)got;
    u8 const* e = (u8 const*)expected;
    for (u32 i = 0; i < length; i++) {
        if (g[i] == e[i])
            continue;
        failhead(file, line);
        out(gottext);
        out(" differs at byte ");
        outu64(i);
        out(": ");
        outhex64(g[i]);
        out(" instead of ");
        outhex64(e[i]);
        out("\n");
        return false;
    }
    return true;
}

void note(char const* text)
{
    out(text);
    out("\n");
}

void setrow(char const* name) { currentrow = name; }

char const* tempfolder()
{
    static char folder[256];
    if (!folder[0] && !(process && process->getenv("KZV_TESTTMP", folder, sizeof folder) && folder[0]))
        return "/tmp";
    return folder;
}

int runall()
{
    u32 passed = 0, failed = 0;
    for (testcase* t = first; t; t = t->next) {
        currenttest = t->name;
        currentrow = nullptr;
        failures = 0;
        t->run();
        if (failures) {
            failed++;
        } else {
            passed++;
        }
    }
    outu64(passed);
    out(" passed, ");
    outu64(failed);
    out(" failed\n");
    return (int)failed;
}

} // namespace kzvtest

namespace kzv {

// The test binary is an application of its own.
void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    if (void (*hook)() = kzvtest::mmainhook) {
        kzvtest::mmainhook = nullptr;
        hook();
        return;
    }
    if (kzvtest::runall())
        process->exitcode = 1;
}

} // namespace kzv
