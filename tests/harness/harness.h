// The unit-test harness. The same tests run hosted (under ASan and UBSan) and
// freestanding on every target: a test binary is an application whose `mmain` runs
// every registered case and prints "N passed, N failed"; a failure makes the run's
// exit code 1. Checks report the file, line and both values, and go on.
#pragma once
#include "../../framework/types.h"

namespace kzvtest {

using namespace kzv;

struct testcase {
    char const* name;
    void (*run)();
    testcase* next;
};

struct registrar {
    explicit registrar(testcase* t);
};

bool check(bool ok, char const* expression, char const* file, int line);
bool checkeq(u64 got, u64 expected, char const* gottext, char const* expectedtext, char const* file, int line);
bool checkstr(char const* got, char const* expected, char const* gottext, char const* file, int line);
bool checkmem(void const* got, void const* expected, u32 length, char const* gottext, char const* file, int line);
void note(char const* text);     // a line on standard error, for context of a failure

// Where a table row fails, the row's name is printed with the failure.
void setrow(char const* name);

int runall();                    // returns the number of failures

// The folder for scratch files: $KZV_TESTTMP when set (the Windows build under
// wine names /tmp in the program's own form there), else "/tmp".
char const* tempfolder();

// A test that drives a whole `kzvmain` sets this: the next `mmain` runs it, once,
// instead of the registered cases.
extern void (*mmainhook)();

} // namespace kzvtest

#define KZV_TEST_CAT2(a, b) a##b
#define KZV_TEST_CAT(a, b) KZV_TEST_CAT2(a, b)
#define TEST(name)                                                                   \
    static void KZV_TEST_CAT(test_, name)();                                         \
    static kzvtest::testcase KZV_TEST_CAT(testcase_, name) = {#name, KZV_TEST_CAT(test_, name), nullptr}; \
    static kzvtest::registrar KZV_TEST_CAT(registrar_, name)(&KZV_TEST_CAT(testcase_, name)); \
    static void KZV_TEST_CAT(test_, name)()

#define CHECK(cond) kzvtest::check((cond), #cond, __FILE__, __LINE__)
#define CHECK_EQ(got, expected) \
    kzvtest::checkeq((kzv::u64)(got), (kzv::u64)(expected), #got, #expected, __FILE__, __LINE__)
#define CHECK_STR(got, expected) kzvtest::checkstr((got), (expected), #got, __FILE__, __LINE__)
#define CHECK_MEM(got, expected, length) kzvtest::checkmem((got), (expected), (length), #got, __FILE__, __LINE__)
