// CORDIC on 8.24 registers. Each step adds or subtracts the other register shifted
// right by the step number (an arithmetic shift, floor for negative values) and
// moves z by the step's table angle, so 16 steps need nothing but shifts and adds.
// The table literals are fixed: the residues the callers see (sine of 0 is -2/65536)
// come from exactly these values, not from recomputed arc-tangents.
// Floats are read and built through their bits: sign, 8-bit exponent field (bias
// 127), 23 mantissa bits under an implicit 1; field 255 holds infinities and NaNs.
#include "fixedcordic.h"

namespace kzv {

static_assert(-1 >> 1 == -1, "right shifts of negative values are arithmetic");

// atan(2^-i) x 2^24, i = 0 .. 15.
static s32 const circularangles[16] = {
    13176792, 7778714, 4110058, 2086330, 1047213, 524117, 262122, 131069,
    65535, 32767, 16383, 8191, 4095, 2047, 1024, 512,
};

// atanh(2^-i) x 2^24, i = 1 .. 15 (entry 0 is step 1).
static s32 const hyperbolicangles[15] = {
    9215827, 4285115, 2108178, 1049945, 524459, 262165, 131075, 65536,
    32767, 16384, 8192, 4095, 2048, 1023, 511,
};

// Steps 4 and 13 are taken twice, which the hyperbolic iteration needs to converge.
static u32 const hyperbolicsteps[17] = {1, 2, 3, 4, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 13, 14, 15};

// The registers of a caller far outside the intended range wrap instead of
// overflowing: 32-bit word arithmetic, the same on every CPU.
static s32 wrapadd(s32 a, s32 b) { return (s32)((u32)a + (u32)b); }
static s32 wrapsub(s32 a, s32 b) { return (s32)((u32)a - (u32)b); }

void cordic_rotate(s32* x, s32* y, s32* z)
{
    s32 cx = *x, cy = *y, cz = *z;
    for (u32 i = 0; i < 16; i++) {
        s32 dx = cy >> i, dy = cx >> i;
        if (cz >= 0) {
            cx = wrapsub(cx, dx);
            cy = wrapadd(cy, dy);
            cz = wrapsub(cz, circularangles[i]);
        } else {
            cx = wrapadd(cx, dx);
            cy = wrapsub(cy, dy);
            cz = wrapadd(cz, circularangles[i]);
        }
    }
    *x = cx;
    *y = cy;
    *z = cz;
}

// One hyperbolic step of direction sigma (+1 or -1).
static void hyperbolicstep(s32& x, s32& y, s32& z, u32 i, bool positive)
{
    s32 dx = y >> i, dy = x >> i, dz = hyperbolicangles[i - 1];
    if (positive) {
        x = wrapadd(x, dx);
        y = wrapadd(y, dy);
        z = wrapsub(z, dz);
    } else {
        x = wrapsub(x, dx);
        y = wrapsub(y, dy);
        z = wrapadd(z, dz);
    }
}

void cordic_rotatehyperbolic(s32* x, s32* y, s32* z)
{
    s32 cx = *x, cy = *y, cz = *z;
    for (u32 i : hyperbolicsteps)
        hyperbolicstep(cx, cy, cz, i, cz >= 0);
    *x = cx;
    *y = cy;
    *z = cz;
}

void cordic_vector(s32* x, s32* y, s32* z)
{
    s32 cx = *x, cy = *y, cz = *z;
    for (u32 i : hyperbolicsteps)
        hyperbolicstep(cx, cy, cz, i, cy < 0);
    *x = cx;
    *y = cy;
    *z = cz;
}

// Quadrant limits in 16.16. The angles the quadrants are folded against are whole
// 16.16 units moved to 8.24: pi lies between 205886 (52706816) and 205887 (52707072),
// and 411773 (105413888) is the last unit of the turn.
const s32 ANGLE_QUARTER = 102943;
const s32 ANGLE_HALF = 205887;
const s32 ANGLE_THREEQUARTERS = 308830;

void fixed_anglenorm(s32* angle, s32* sine, s32* cosine)
{
    // C++ keeps the dividend's sign in %, so a negative remainder moves up a turn.
    s32 a = *angle % FIXED_TURN;
    if (a < 0)
        a += FIXED_TURN;
    *angle = a;
    s32 a824 = a << 8;                     // below 2^27: no overflow
    s32 x = FIXED_CIRCULARSTART, y = 0, z;
    bool negsine = a > ANGLE_HALF, negcosine = a > ANGLE_QUARTER && a <= ANGLE_THREEQUARTERS;
    if (a <= ANGLE_QUARTER)
        z = a824;
    else if (a <= ANGLE_HALF)
        z = 52706816 - a824;
    else if (a <= ANGLE_THREEQUARTERS)
        z = a824 - 52707072;
    else
        z = 105413888 - a824;
    cordic_rotate(&x, &y, &z);
    // The negation comes before the shift: (-x) >> 8 rounds toward minus infinity,
    // which is what gives cos pi = -65537.
    *sine = (negsine ? -y : y) >> 8;
    *cosine = (negcosine ? -x : x) >> 8;
}

static u32 floatbits(float v) { return __builtin_bit_cast(u32, v); }
static float bitsfloat(u32 b) { return __builtin_bit_cast(float, b); }

const u32 FLOAT_SIGN = 0x80000000u;
const u32 FLOAT_INFINITY = 0x7F800000u;
const u32 FLOAT_QUIETNAN = 0x7FC00000u;

static bool floatisnan(float v) { return (floatbits(v) & ~FLOAT_SIGN) > FLOAT_INFINITY; }

const double PI = 3.14159265358979323846;
const double HALFPI = PI / 2;
const double TWOPI = PI * 2;
const double MAXTURNS = 4611686018427387904.0;   // 2^62: k still fits an s64

// The angle moved into [0, 2 pi] with one multiple of 2 pi taken off; false for NaN,
// infinities and angles so large that the turn count leaves 64 bits. Beyond about
// 10^11 the product k x 2 pi drops bits, so the angle is no longer exact there.
static bool reduceangle(float angle, double& reduced)
{
    double a = angle;
    double turns = a / TWOPI;
    if (!(turns < MAXTURNS && turns > -MAXTURNS))
        return false;
    s64 k = (s64)turns;                    // truncation: an exact conversion, no libm
    double r = a - (double)k * TWOPI;
    if (r < 0)
        r += TWOPI;
    else if (r >= TWOPI)
        r -= TWOPI;
    reduced = r;
    return true;
}

void fixed_sincos(float angle, float* sine, float* cosine)
{
    double a;
    if (angle == 0) {
        *sine = 0;
        *cosine = 1;
        return;
    }
    if (!reduceangle(angle, a)) {
        *sine = *cosine = bitsfloat(FLOAT_QUIETNAN);
        return;
    }
    bool negsine = a > PI, negcosine = a > HALFPI && a <= 3 * HALFPI;
    double folded;
    if (a <= HALFPI)
        folded = a;
    else if (a <= PI)
        folded = HALFPI - (a - HALFPI);
    else if (a <= 3 * HALFPI)
        folded = a - PI;
    else
        folded = HALFPI - (a - 3 * HALFPI);
    s32 x = FIXED_CIRCULARSTART, y = 0, z = fixed_floatto824((float)folded);
    cordic_rotate(&x, &y, &z);
    *sine = fixed_824tofloat(negsine ? -y : y);
    *cosine = fixed_824tofloat(negcosine ? -x : x);
}

const double LN2 = 0.69314718055994530942;

// The float 2^n, built from its exponent field n + 127 (which must lie in 0 .. 254;
// the field 0 with no mantissa is 0.0).
static float powerof2(s32 n) { return bitsfloat((u32)(n + 127) << 23); }

// e^v = e^r x 2^n with n = trunc(v / ln 2) and |r| < ln 2, which the hyperbolic
// rotation reaches. v is tested before any integer conversion: n + 127 reaching 255
// would spill into the sign bit, so those give +inf, and below 0 the power is 0.
float fixed_exp(float v)
{
    if (floatisnan(v))
        return v;
    double q = v / LN2;
    if (q >= 128)
        return bitsfloat(FLOAT_INFINITY);
    if (q <= -128)
        return 0;
    s32 n = (s32)q;
    float r = (float)(v - n * LN2);
    s32 x = FIXED_ONE, y = 0, z = fixed_floatto824(r);
    cordic_rotatehyperbolic(&x, &y, &z);
    return fixed_824tofloat(x + y) / FIXED_HYPERBOLICGAIN * powerof2(n);
}

const float HALFLN2 = 0.34657359f;

// atanh of a in (0.8, 1) as 0.5 ln((1 + a) / (1 - a)): with 1 - a = m x 2^k
// (1 <= m < 2) and R = (1 + a) / m, that is 0.5 ln R - k ln 2 / 2, and
// 0.5 ln R = atanh((R - 1) / (R + 1)), whose argument stays within (-0.06, 0.34).
// 1 - a is exact in float here and at least 2^-24, so never subnormal.
static float atanhnearone(float a)
{
    u32 bits = floatbits(1.0f - a);
    s32 k = (s32)(bits >> 23) - 127;
    float m = bitsfloat((bits & 0x7FFFFF) | (127u << 23));
    float ratio = (1.0f + a) / m;
    s32 x = fixed_floatto824(ratio + 1), y = fixed_floatto824(ratio - 1), z = 0;
    cordic_vector(&x, &y, &z);
    return fixed_824tofloat(z) - (float)k * HALFLN2;
}

float fixed_atanh(float v)
{
    if (floatisnan(v))
        return v;
    u32 sign = floatbits(v) & FLOAT_SIGN;
    float a = bitsfloat(floatbits(v) & ~FLOAT_SIGN);
    if (a > 1)
        return bitsfloat(FLOAT_QUIETNAN);
    if (a == 1)
        return bitsfloat(sign | FLOAT_INFINITY);
    float result;
    if (a <= 0.8f) {
        s32 x = FIXED_ONE, y = fixed_floatto824(a), z = 0;
        cordic_vector(&x, &y, &z);
        result = fixed_824tofloat(z);
    } else {
        result = atanhnearone(a);
    }
    return bitsfloat(floatbits(result) ^ sign);
}

// value / 2^24 = magnitude x 2^(shift - 24) once the magnitude holds exactly 24
// significant bits, so the exponent field is shift + 126 (103 .. 134, always normal).
float fixed_824tofloat(s32 v)
{
    if (v == 0)
        return 0;
    u32 sign = v < 0 ? FLOAT_SIGN : 0;
    u32 magnitude = v < 0 ? 0u - (u32)v : (u32)v;   // |INT_MIN| fits only unsigned
    s32 shift = 0;
    while (magnitude > 0xFFFFFF) {
        magnitude >>= 1;
        shift++;
    }
    while (magnitude < 0x800000) {
        magnitude <<= 1;
        shift--;
    }
    return bitsfloat(sign | (u32)(shift + 126) << 23 | (magnitude & 0x7FFFFF));
}

// The 24-bit mantissa m with its implicit bit is worth m x 2^(field - 150), which is
// m x 2^(field - 126) in 8.24: a left shift up to field 133 (|v| < 128), a right shift
// below field 126, where 24 or more places leave nothing.
s32 fixed_floatto824(float v)
{
    u32 bits = floatbits(v);
    u32 field = (bits >> 23) & 255;
    bool negative = (bits & FLOAT_SIGN) != 0;
    if (field == 255 && (bits & 0x7FFFFF))
        return 0;                          // NaN
    if (field >= 134)
        return negative ? -0x7FFFFFFF : 0x7FFFFFFF;
    if (field + 24 <= 126)
        return 0;
    u32 m = (bits & 0x7FFFFF) | 0x800000;
    u32 magnitude = field >= 126 ? m << (field - 126) : m >> (126 - field);
    return negative ? -(s32)magnitude : (s32)magnitude;
}

} // namespace kzv
