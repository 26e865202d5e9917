// float16 against the tables tools/gen_float16_cases.py builds from Python's struct
// 'e' and exact rational arithmetic truncated toward zero (no subnormals, saturation
// at the top, 0x0000 as the only zero): every word must match. Sine and cosine are
// checked against math within the 2^-11 the packing keeps, and the words the
// rotation's residues give are pinned.
#include "../harness/harness.h"
#include "../../framework/vprinter.h"
#include "../../platform/windows/float16.h"
#include "test_float16_cases.h"

namespace {

using namespace kzv;

u32 const REPORTED = 8;                // failing rows printed per table
// The sine or cosine is cut to a multiple of 2^-11 (32 units of 16.16), on top of
// the rotation's 1e-4.
double const SINCOSBOUND = 6e-4;

float16 word(u16 w) { return float16::fromword(w); }

// Counts failing rows and prints the first few.
struct rowcheck {
    char const* table;
    u32 wrong;

    void expect(bool same, u32 a, u32 b, u32 got, u32 expected)
    {
        if (same || wrong++ >= REPORTED)
            return;
        char text[120];
        vprinter_format(text, sizeof text, 110, "%s: 0x%x, 0x%x gives 0x%x, expected 0x%x", table, a, b, got, expected);
        kzvtest::note(text);
    }
};

TEST(construct_from_integers)
{
    rowcheck rows = {"float16(s32)", 0};
    for (fromintcase const& c : fromintcases) {
        u16 got = float16(c.integer).word;
        rows.expect(got == c.word, (u32)c.integer, 0, got, c.word);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(convert_to_integers)
{
    rowcheck rows = {"toint", 0};
    for (tointcase const& c : tointcases) {
        s32 got = word(c.word).toint();
        rows.expect(got == c.integer, c.word, 0, (u32)got, (u32)c.integer);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(edge_values)
{
    CHECK_EQ(float16(1).word, 0x3C00);
    CHECK_EQ(float16(-2).word, 0xC000);
    CHECK_EQ(float16(0).word, 0x0000);
    CHECK_EQ(word(0x3C00).toint(), 1);
    CHECK_EQ(word(0x3800).toint(), 0);
    // From 2^17 on the exponent would pass 31 and run into the sign bit.
    CHECK_EQ(float16(131072).word, 0x7FFF);
    CHECK_EQ(float16(-131072).word, 0xFFFF);
    CHECK_EQ(float16(-2147483647 - 1).word, 0xFFFF);
    CHECK_EQ(float16(131071).word, 0x7FFF);
}

// Runs one operator over the table; `expected` picks the row's answer.
template <class op>
void runtable(char const* name, op apply, u16 arithmeticcase::*expected)
{
    rowcheck rows = {name, 0};
    for (arithmeticcase const& c : arithmeticcases) {
        float16 a = word(c.a);
        apply(a, word(c.b));
        rows.expect(a.word == c.*expected, c.a, c.b, a.word, c.*expected);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(operators_match_exact_arithmetic)
{
    CHECK(sizeof arithmeticcases / sizeof arithmeticcases[0] > 1500);
    runtable("+=", [](float16& a, float16 b) { a += b; }, &arithmeticcase::sum);
    runtable("-=", [](float16& a, float16 b) { a -= b; }, &arithmeticcase::difference);
    runtable("*=", [](float16& a, float16 b) { a *= b; }, &arithmeticcase::product);
    runtable("/=", [](float16& a, float16 b) { a /= b; }, &arithmeticcase::quotient);
}

TEST(less_matches_exact_comparison)
{
    rowcheck rows = {"<", 0};
    for (arithmeticcase const& c : arithmeticcases) {
        bool got = word(c.a) < word(c.b);
        rows.expect(got == c.less, c.a, c.b, got, c.less);
    }
    CHECK_EQ(rows.wrong, 0);
}

TEST(operator_cases)
{
    static struct { char const* name; char op; u16 a, b, expected; } const cases[] = {
        {"1 + 1", '+', 0x3C00, 0x3C00, 0x4000},
        {"1 - 1", '-', 0x3C00, 0x3C00, 0x0000},
        {"-3 - 2", '-', 0xC200, 0x4000, 0xC500},
        {"3 - -2", '-', 0x4200, 0xC000, 0x4500},
        {"x / 0", '/', 0x4200, 0x0000, 0x0000},
        {"0 / x", '/', 0x0000, 0x4200, 0x0000},
        // x + (-x) once gave 0x8000, a negative number below 0.
        {"x + -x", '+', 0x4500, 0xC500, 0x0000},
        {"-x + x", '+', 0xC500, 0x4500, 0x0000},
        {"400 x 400 saturates", '*', 0x5E40, 0x5E40, 0x7FFF},
        {"-400 x 400 saturates", '*', 0xDE40, 0x5E40, 0xFFFF},
        {"max + max saturates", '+', 0x7BFF, 0x7BFF, 0x7FFF},
        {"-max + -max saturates", '+', 0xFBFF, 0xFBFF, 0xFFFF},
        {"max / smallest saturates", '/', 0x7BFF, 0x0001, 0x7FFF},
        {"tiny x -tiny is 0x0000", '*', 0x0400, 0x8400, 0x0000},
        {"tiny - nearly tiny is 0x0000", '-', 0x0401, 0x0400, 0x0000},
        // Exact difference truncated: 1 - 0.99951 is 2^-11, not 2^-10.
        {"1 - (1 - 2^-11)", '-', 0x3C00, 0x3BFF, 0x1000},
        {"44 from 8224 - 8164", '-', 0x7002, 0x6FF9, 0x5180},
        // 1 / 1.5 = 0.6667 keeps its 11th bit: 0x3955, where a shifted quotient gave 0x3954.
        {"1 / 1.5", '/', 0x3C00, 0x3E00, 0x3955},
    };
    for (auto const& c : cases) {
        kzvtest::setrow(c.name);
        float16 a = word(c.a);
        switch (c.op) {
        case '+': a += word(c.b); break;
        case '-': a -= word(c.b); break;
        case '*': a *= word(c.b); break;
        default: a /= word(c.b); break;
        }
        CHECK_EQ(a.word, c.expected);
    }
    kzvtest::setrow(nullptr);
}

TEST(cancellation_stays_above_negatives)
{
    float16 a = word(0x4500);
    a += word(0xC500);
    CHECK(word(0xBC00) < a);
    CHECK(!(a < word(0x0000)));
    float16 b = word(0x4200);
    b *= a;
    CHECK_EQ(b.word, 0x0000);
}

double wordvalue(u16 w)
{
    if (w == 0)
        return 0;
    double v = 1024 + (w & 0x3FF);
    for (s32 e = (w >> 10) & 31; e < 25; e++)
        v /= 2;
    for (s32 e = (w >> 10) & 31; e > 25; e--)
        v *= 2;
    return w & 0x8000 ? -v : v;
}

double absd(double v) { return v < 0 ? -v : v; }

TEST(sine_and_cosine_follow_math)
{
    rowcheck sines = {"float16_sin (angle, -, word)", 0}, cosines = {"float16_cos (angle, -, word)", 0};
    for (float16sincoscase const& c : sincoscases) {
        u16 s = float16_sin(word(c.angle)).word, k = float16_cos(word(c.angle)).word;
        sines.expect(absd(wordvalue(s) - c.sine) <= SINCOSBOUND, c.angle, 0, s, 0);
        cosines.expect(absd(wordvalue(k) - c.cosine) <= SINCOSBOUND, c.angle, 0, k, 0);
    }
    CHECK_EQ(sines.wrong, 0);
    CHECK_EQ(cosines.wrong, 0);
}

// The rotation's residues: sine 0 is -2 in 16.16 and so the smallest negative word;
// near pi and 3 pi / 2 it reaches -65536, which is -1.0 (it once lost its sign).
TEST(sine_and_cosine_residues)
{
    CHECK_EQ(float16_cos(word(0x0000)).word, 0x3C00);
    CHECK_EQ(float16_sin(word(0x0000)).word, 0x8001);
    CHECK_EQ(float16_cos(word(0x4248)).word, 0xBC00);     // 3.140625
    CHECK_EQ(float16_sin(word(0x44B6)).word, 0xBC00);     // 4.7109375
}

// From 32768 on the 16.16 angle passes 32 bits: it is reduced by whole turns first.
TEST(sine_and_cosine_of_the_largest_angles)
{
    static u16 const huge[] = {0x7800, 0x7BFF, 0x7C00, 0x7FFF, 0xFBFF, 0xFFFF};
    for (u16 h : huge) {
        double s = wordvalue(float16_sin(word(h)).word), c = wordvalue(float16_cos(word(h)).word);
        CHECK(absd(s * s + c * c - 1) < 3e-3);
    }
}

} // namespace
