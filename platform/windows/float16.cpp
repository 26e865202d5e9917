// Half-precision arithmetic on the words' fields. The four primitives work on
// magnitudes (11-bit mantissas with the implicit bit 10 set) and give the exact
// result truncated to 11 significant bits: sums and differences align the smaller
// operand in 32 extra bits, so no bit of it is lost before the truncation (a
// cancellation then keeps the low bits of the difference), and the quotient takes
// one bit beyond the mantissa before normalising.
#include "float16.h"
#include "fixedcordic.h"

namespace kzv {

const u16 SIGNBIT = 0x8000;
const u16 MAGNITUDEBITS = 0x7FFF;
const u32 IMPLICITBIT = 1024;
const s32 MAXEXPONENT = 31;
const s32 BIAS = 15;

static s32 exponentof(u16 w) { return (w >> 10) & 31; }
static u32 mantissaof(u16 w) { return IMPLICITBIT | (w & 0x3FF); }

// The magnitude word of a mantissa with bit 10 set: 0 below the format, saturated
// above it (there is no infinity).
static u16 packmagnitude(s32 e, u32 m)
{
    if (e < 0)
        return 0;
    if (e > MAXEXPONENT)
        return MAGNITUDEBITS;
    return (u16)((u32)e << 10 | (m & 0x3FF));
}

// Zero stays the word 0x0000 whatever the sign of the operation.
static u16 withsign(u16 magnitude, bool negative)
{
    return magnitude && negative ? (u16)(magnitude | SIGNBIT) : magnitude;
}

static bool isnegative(u16 w) { return (w & SIGNBIT) != 0; }

// The two mantissas at the larger exponent, 32 bits below the point: a gap of up to
// 31 places (the widest there is) keeps every bit of the smaller one.
struct alignedpair {
    s32 e;
    u64 large, small;
};

static alignedpair align(u16 large, u16 small)
{
    u32 gap = (u32)(exponentof(large) - exponentof(small));
    return {exponentof(large), (u64)mantissaof(large) << 32, ((u64)mantissaof(small) << 32) >> gap};
}

static u16 addmagnitudes(u16 a, u16 b)
{
    alignedpair p = exponentof(a) >= exponentof(b) ? align(a, b) : align(b, a);
    u64 sum = p.large + p.small;
    if (sum >= (u64)2 * IMPLICITBIT << 32) {
        sum >>= 1;
        p.e++;
    }
    return packmagnitude(p.e, (u32)(sum >> 32));
}

// |a| > |b|: the exact difference, normalised, then truncated.
static u16 subtractmagnitudes(u16 a, u16 b)
{
    alignedpair p = align(a, b);
    if (p.large <= p.small)
        return 0;
    u64 difference = p.large - p.small;
    while (difference < (u64)IMPLICITBIT << 32) {   // at most 42 places: it is not 0
        difference <<= 1;
        p.e--;
    }
    return packmagnitude(p.e, (u32)(difference >> 32));
}

// The product of two 11-bit mantissas has 21 or 22 bits.
static u16 multiplymagnitudes(u16 a, u16 b)
{
    u32 m = mantissaof(a) * mantissaof(b);
    s32 e = exponentof(a) + exponentof(b) - BIAS;
    if (m >= 0x200000) {
        m >>= 11;
        e++;
    } else {
        m >>= 10;
    }
    return packmagnitude(e, m);
}

// ma / mb lies in (1/2, 2), so the quotient scaled by 2^11 lies in 1024 .. 4094.
static u16 dividemagnitudes(u16 a, u16 b)
{
    u32 q = (mantissaof(a) << 11) / mantissaof(b);
    s32 e = exponentof(a) - exponentof(b) + BIAS - 1;
    if (q >= 2 * IMPLICITBIT) {
        q >>= 1;
        e++;
    }
    return packmagnitude(e, q);
}

float16::float16(s32 v)
{
    word = 0;
    if (v == 0)
        return;
    u32 m = v < 0 ? 0u - (u32)v : (u32)v;   // |INT_MIN| fits only unsigned
    s32 e = 10 + BIAS;
    while (m >= 2 * IMPLICITBIT) {
        m >>= 1;
        e++;
    }
    while (m < IMPLICITBIT) {
        m <<= 1;
        e--;
    }
    word = withsign(packmagnitude(e, m), v < 0);
}

float16 float16::fromword(u16 w)
{
    float16 h;
    h.word = w;
    return h;
}

s32 float16::toint() const
{
    s32 e = exponentof(word);
    if (e < BIAS)
        return 0;
    s32 m = (s32)mantissaof(word);
    s32 v = e < 25 ? m >> (25 - e) : m << (e - 25);   // at most 2047 << 6
    return isnegative(word) ? -v : v;
}

float16& float16::operator+=(float16 b)
{
    if (word == 0) {
        word = b.word;
        return *this;
    }
    if (b.word == 0)
        return *this;
    u16 ma = word & MAGNITUDEBITS, mb = b.word & MAGNITUDEBITS;
    bool na = isnegative(word), nb = isnegative(b.word);
    // Magnitude words order like their values: exponent first, then mantissa.
    if (na == nb)
        word = withsign(addmagnitudes(ma, mb), na);
    else if (ma == mb)
        word = 0;
    else if (ma > mb)
        word = withsign(subtractmagnitudes(ma, mb), na);
    else
        word = withsign(subtractmagnitudes(mb, ma), nb);
    return *this;
}

float16& float16::operator-=(float16 b)
{
    if (b.word == 0)
        return *this;
    if (word == b.word) {
        word = 0;
        return *this;
    }
    return *this += fromword((u16)(b.word ^ SIGNBIT));
}

// Products and quotients: a zero on either side gives 0 (division by 0 included),
// the sign is the exclusive-or of the signs.
static u16 scaled(u16 a, u16 b, u16 (*magnitude)(u16, u16))
{
    if (a == 0 || b == 0)
        return 0;
    return withsign(magnitude(a & MAGNITUDEBITS, b & MAGNITUDEBITS), isnegative(a) != isnegative(b));
}

float16& float16::operator*=(float16 b)
{
    word = scaled(word, b.word, multiplymagnitudes);
    return *this;
}

float16& float16::operator/=(float16 b)
{
    word = scaled(word, b.word, dividemagnitudes);
    return *this;
}

bool float16::operator<(float16 b) const
{
    bool na = isnegative(word), nb = isnegative(b.word);
    if (na != nb)
        return na;
    u16 ma = word & MAGNITUDEBITS, mb = b.word & MAGNITUDEBITS;
    return na ? ma > mb : ma < mb;
}

// h in 16.16 is (1024 + mantissa) x 2^(exponent - 9). From 32768 on that passes 32
// bits, so it is formed in 64 and reduced by whole turns before narrowing.
static s32 fixedangle(float16 h)
{
    if (h.word == 0)
        return 0;
    s32 e = exponentof(h.word);
    u64 m = mantissaof(h.word);
    u64 a = e >= 9 ? m << (e - 9) : m >> (9 - e);
    s32 reduced = (s32)(a % FIXED_TURN);
    return isnegative(h.word) ? -reduced : reduced;
}

// A 16.16 sine or cosine as a float16. The residues of the rotation reach 65537,
// which is taken as 1.0; values below 32 units keep only their sign, as the smallest
// word; the others drop 5 bits (|v| >> 5 is |v| in units of 2^-11) and normalise
// from the exponent of [1/2, 1).
static float16 fromfixed1616(s32 v)
{
    bool negative = v < 0;
    u32 magnitude = negative ? 0u - (u32)v : (u32)v;
    u16 w;
    if (magnitude == 0)
        w = 0;
    else if (magnitude >= 65536)
        w = FLOAT16_ONE;
    else if (magnitude < 32)
        w = 0x0001;
    else {
        u32 m = magnitude >> 5;
        s32 e = BIAS - 1;
        while (m < IMPLICITBIT) {
            m <<= 1;
            e--;
        }
        w = packmagnitude(e, m);
    }
    return float16::fromword(withsign(w, negative));
}

float16 float16_sin(float16 h)
{
    s32 angle = fixedangle(h), sine, cosine;
    fixed_anglenorm(&angle, &sine, &cosine);
    return fromfixed1616(sine);
}

float16 float16_cos(float16 h)
{
    s32 angle = fixedangle(h), sine, cosine;
    fixed_anglenorm(&angle, &sine, &cosine);
    return fromfixed1616(cosine);
}

} // namespace kzv
