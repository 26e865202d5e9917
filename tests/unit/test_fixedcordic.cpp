// The fixed-point CORDIC functions against the tables tools/gen_fixedcordic_cases.py
// builds from Python's math (sine, cosine, exp, atanh) and struct '<f' (the 8.24
// conversions), within the error bounds of 16 steps on 8.24 registers, plus the
// residues that those steps leave. Huge, infinite and NaN arguments must return
// with the answers the tables give for them.
#include "../harness/harness.h"
#include "../../framework/vprinter.h"
#include "../../platform/windows/fixedcordic.h"
#include "test_fixedcordic_cases.h"

namespace {

using namespace kzv;

double const SINCOS1616BOUND = 6;      // 16.16 units: about 1e-4
double const SINCOSBOUND = 2e-4;
double const EXPRELATIVEBOUND = 1e-4;
double const ATANHBOUND = 1e-4;
u32 const REPORTED = 8;                // failing rows printed per table

double absd(double v) { return v < 0 ? -v : v; }
float floatof(u32 bits) { return __builtin_bit_cast(float, bits); }
u32 bitsof(float v) { return __builtin_bit_cast(u32, v); }
bool isnan(float v) { return (bitsof(v) & 0x7FFFFFFF) > 0x7F800000; }

// Counts a failing row and prints the first few with their argument and values.
struct rowcheck {
    char const* table;
    u32 wrong;

    void fail(u32 argument, double got, double expected)
    {
        if (wrong++ >= REPORTED)
            return;
        char text[160];
        vprinter_format(text, sizeof text, 150, "%s: argument 0x%x gives %.8f, expected %.8f", table, argument,
                        (float)got, (float)expected);
        kzvtest::note(text);
    }
    void near(u32 argument, double got, double expected, double bound)
    {
        if (!(absd(got - expected) <= bound))
            fail(argument, got, expected);
    }
    void exact(bool same, u32 argument, double got, double expected)
    {
        if (!same)
            fail(argument, got, expected);
    }
};

#define ROWS(table) (sizeof table / sizeof table[0])

TEST(anglenorm_reduces_and_follows_math)
{
    rowcheck rows = {"fixed_anglenorm", 0};
    CHECK(ROWS(anglecases) > 3000);
    for (anglecase const& c : anglecases) {
        s32 angle = c.angle, sine = 0, cosine = 0;
        fixed_anglenorm(&angle, &sine, &cosine);
        rows.exact(angle == c.reduced, (u32)c.angle, angle, c.reduced);
        rows.near((u32)c.angle, sine, c.sine, SINCOS1616BOUND);
        rows.near((u32)c.angle, cosine, c.cosine, SINCOS1616BOUND);
    }
    CHECK_EQ(rows.wrong, 0);
}

// The residues of 16 steps from the literal tables, exact on every CPU.
TEST(anglenorm_residues)
{
    static struct { char const* name; s32 angle, reduced, sine, cosine; } const residues[] = {
        {"0", 0, 0, -2, 65536},
        {"pi: (-x) >> 8 rounds down", 205887, 205887, -3, -65537},
        {"3 pi / 2", 308830, 308830, -65536, 1},
        {"pi / 2", 102943, 102943, 65536, -2},
        {"-1 is the last unit of the turn", -1, 411773, 1, 65536},
        {"a full turn is 0", 411774, 0, -2, 65536},
    };
    for (auto const& r : residues) {
        kzvtest::setrow(r.name);
        s32 angle = r.angle, sine, cosine;
        fixed_anglenorm(&angle, &sine, &cosine);
        CHECK_EQ(angle, r.reduced);
        CHECK_EQ(sine, r.sine);
        CHECK_EQ(cosine, r.cosine);
    }
    kzvtest::setrow(nullptr);
}

TEST(sincos_follows_math)
{
    rowcheck rows = {"fixed_sincos", 0};
    CHECK(ROWS(sincoscases) > 1000);
    for (floatcase const& c : sincoscases) {
        float sine, cosine;
        fixed_sincos(floatof(c.argument), &sine, &cosine);
        rows.near(c.argument, sine, c.sine, SINCOSBOUND);
        rows.near(c.argument, cosine, c.cosine, SINCOSBOUND);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(sincos_of_zero_and_a_turn)
{
    float sine, cosine;
    fixed_sincos(0.0f, &sine, &cosine);
    CHECK_EQ(bitsof(sine), 0);
    CHECK_EQ(bitsof(cosine), bitsof(1.0f));
    fixed_sincos(-0.0f, &sine, &cosine);
    CHECK(sine == 0 && cosine == 1);
    // 2 pi as a float lies just above 2 pi: one turn comes off and the rotation runs,
    // so the answer carries the rotation's residue instead of the exact 0 and 1.
    fixed_sincos(6.2831855f, &sine, &cosine);
    CHECK(absd(sine) < SINCOSBOUND && sine != 0);
    CHECK(absd(cosine - 1) < SINCOSBOUND);
}

// Every huge, infinite and NaN angle returns; within 2^62 turns the answer is still
// a point of the unit circle, beyond it both results are NaN.
TEST(sincos_of_huge_and_invalid_angles)
{
    rowcheck rows = {"fixed_sincos huge", 0};
    for (kindcase const& c : sincoshugecases) {
        float sine, cosine;
        fixed_sincos(floatof(c.argument), &sine, &cosine);
        if (c.kind == cordic_nan) {
            rows.exact(isnan(sine) && isnan(cosine), c.argument, sine, 0);
            continue;
        }
        double radius = (double)sine * sine + (double)cosine * cosine;
        rows.near(c.argument, radius, 1, 1e-3);
    }
    CHECK_EQ(rows.wrong, 0);
}

// A row of a float function: a bounded row within the bound (relative or absolute),
// the others exactly the infinity, zero or NaN the table names.
void checkfunction(rowcheck& rows, functioncase const& c, float got, double bound, bool relative)
{
    switch (c.kind) {
    case cordic_bounded: rows.near(c.argument, got, c.expected, relative ? bound * c.expected : bound); break;
    case cordic_plusinf: rows.exact(bitsof(got) == 0x7F800000, c.argument, got, c.expected); break;
    case cordic_minusinf: rows.exact(bitsof(got) == 0xFF800000, c.argument, got, c.expected); break;
    case cordic_zero: rows.exact(got == 0, c.argument, got, 0); break;
    case cordic_nan: rows.exact(isnan(got), c.argument, got, 0); break;
    }
}

// A whole table of one float function.
template <u32 count>
void checktable(char const* name, functioncase const (&cases)[count], float (*function)(float), double bound,
                bool relative)
{
    rowcheck rows = {name, 0};
    CHECK(count > 800);
    for (functioncase const& c : cases)
        checkfunction(rows, c, function(floatof(c.argument)), bound, relative);
    CHECK_EQ(rows.wrong, 0);
}

TEST(exp_follows_math)
{
    checktable("fixed_exp", expcases, fixed_exp, EXPRELATIVEBOUND, true);
}

// 200 once came out negative: 2^n was built with an exponent field past 255.
TEST(exp_keeps_large_results_positive)
{
    CHECK(bitsof(fixed_exp(200.0f)) == 0x7F800000);
    float e = fixed_exp(88.0f);
    CHECK(e > 1.6e38f && e < 1.7e38f);
}

TEST(atanh_follows_math)
{
    checktable("fixed_atanh", atanhcases, fixed_atanh, ATANHBOUND, false);
}

// The sign is handed over at the end, so the function is odd bit for bit.
TEST(atanh_is_odd)
{
    rowcheck rows = {"fixed_atanh odd", 0};
    for (functioncase const& c : atanhcases) {
        if (c.kind != cordic_bounded)
            continue;
        float v = floatof(c.argument);
        rows.exact(bitsof(fixed_atanh(-v)) == (bitsof(fixed_atanh(v)) ^ 0x80000000), c.argument, 0, 0);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(tofloat_truncates_and_round_trips)
{
    rowcheck rows = {"fixed_824tofloat", 0};
    for (tofloatcase const& c : tofloatcases) {
        float f = fixed_824tofloat(c.fixed);
        rows.exact(bitsof(f) == c.floatbits, (u32)c.fixed, f, floatof(c.floatbits));
        s32 back = fixed_floatto824(f);
        rows.exact(back == c.back, (u32)c.fixed, back, c.back);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(floatto824_truncates_and_saturates)
{
    rowcheck rows = {"fixed_floatto824", 0};
    CHECK(ROWS(to824cases) > 1000);
    for (to824case const& c : to824cases) {
        s32 fixed = fixed_floatto824(floatof(c.floatbits));
        rows.exact(fixed == c.fixed, c.floatbits, fixed, c.fixed);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(one_converts_exactly_both_ways)
{
    CHECK_EQ(bitsof(fixed_824tofloat(FIXED_ONE)), bitsof(1.0f));
    CHECK_EQ(fixed_floatto824(1.0f), FIXED_ONE);
}

} // namespace
