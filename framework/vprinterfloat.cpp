// The float step, integer arithmetic only. A single-precision value is sign bit,
// 8-bit exponent E (bias 127) and 23 mantissa bits below an implicit leading 1;
// E = 255 holds infinities and NaNs, E = 0 zero and subnormals (which print as 0).
// The fraction is summed in billionths by halving weights, as the engine's format
// prescribes, so the last of eight digits can differ from an exact conversion.
#include "vprinterfloat.h"

namespace kzv {

const u32 FLOAT_MANTISSABITS = 23;
const u32 FLOAT_BIAS = 127;
const u32 BILLION = 1000000000;

static u32 exponentfield(u32 bits) { return (bits >> 23) & 255; }
static u32 mantissafield(u32 bits) { return bits & 0x7FFFFF; }

// |value| truncated toward zero when it is below 2^limitbits (limitbits <= 64);
// false for larger values, infinities and NaNs.
static bool truncatedmagnitude(u32 bits, u32 limitbits, u64& magnitude)
{
    u32 e = exponentfield(bits);
    if (e == 255)
        return false;
    magnitude = 0;
    if (e < FLOAT_BIAS)
        return true;
    u32 p = e - FLOAT_BIAS;             // the value lies in [2^p, 2^(p+1))
    if (p >= limitbits)
        return false;
    u64 full = mantissafield(bits) | (1u << FLOAT_MANTISSABITS);
    magnitude = p >= FLOAT_MANTISSABITS ? full << (p - FLOAT_MANTISSABITS) : full >> (FLOAT_MANTISSABITS - p);
    return true;
}

s64 vprinter_floattoint64(u32 bits)
{
    u64 magnitude;
    if (!truncatedmagnitude(bits, 63, magnitude))
        return (s64)((u64)1 << 63);
    u64 value = (bits >> 31) ? 0 - magnitude : magnitude;
    return (s64)value;
}

int vprinter_floattoint32(u32 bits)
{
    u64 magnitude;
    if (!truncatedmagnitude(bits, 31, magnitude))
        return (int)0x80000000u;
    u32 value = (bits >> 31) ? 0 - (u32)magnitude : (u32)magnitude;
    return (int)value;
}

// The fraction in billionths: the leading 1 (for values below 1) and each mantissa
// bit below the binary point add a weight that halves from bit to bit; the halving
// drops remainders and the sum stops once the weight is 1 or less.
static u32 fractionbillionths(u32 bits)
{
    u32 e = exponentfield(bits), m = mantissafield(bits);
    u32 f, w;
    int first;
    if (e < FLOAT_BIAS) {
        u32 shift = FLOAT_BIAS - 1 - e;
        f = shift >= 32 ? 0 : (BILLION / 2) >> shift;   // x86 would mask the count
        w = f >> 1;
        first = 22;
    } else {
        f = 0;
        w = BILLION / 2;
        first = 22 - (int)(e - FLOAT_BIAS);
    }
    for (int b = first; b >= 0; b--) {
        if ((m >> b) & 1)
            f += w;
        if (b == 0 || w <= 1)
            break;
        w >>= 1;
    }
    return f;
}

// The precision digit after the first '.', 1 to 8; 0 when there is none.
static u32 precisionof(vprinterdata const* d)
{
    for (char const* f = d->flags; *f; f++)
        if (*f == '.')
            return f[1] >= '1' && f[1] <= '8' ? (u32)(f[1] - '0') : 0;
    return 0;
}

static u32 powerof10(u32 n)
{
    u32 p = 1;
    while (n--)
        p *= 10;
    return p;
}

void vprinter_float(vprinterdata* d, u32 bits)
{
    static char const* const formats[] = {
        "%u.%u", "%u.%u", "%u.%02u", "%u.%03u", "%u.%04u", "%u.%05u", "%u.%06u", "%u.%07u", "%u.%08u",
    };
    bool negative = bits >> 31;
    u64 integer;
    u32 fraction = 0;
    if (!truncatedmagnitude(bits, 64, integer)) {
        integer = ~(u64)0;              // one text for every target: saturated, fraction 0
        if (exponentfield(bits) == 255 && mantissafield(bits))
            negative = false;           // NaN signs differ between float units
    } else {
        fraction = fractionbillionths(bits);
    }
    u32 precision = precisionof(d);
    bool trim = precision == 0;
    if (trim)
        precision = 5;
    u32 rounded = fraction + 5 * powerof10(8 - precision);
    u32 digits = rounded / powerof10(9 - precision);
    if (rounded >= BILLION) {
        digits -= powerof10(precision);
        integer++;                      // cannot wrap: a saturated value has fraction 0
    }
    bool minus = negative && (integer || digits);
    if (minus)
        vprinter_put(d, '-');

    char text[64];
    u32 n = vprinter_format(text, sizeof text, 127, formats[precision], integer, digits);
    while (trim && n >= 4 && text[n - 1] == '0' && text[n - 2] != '.')
        n--;
    u32 width = vprinter_width(d);
    u32 field = minus ? width : width + 1;
    if (width > 0 && n < field)
        vprinter_putrepeat(d, ' ', field - n);
    vprinter_putbytes(d, text, n);
}

void vprinter_value(vprinterdata* d, float value)
{
    u32 bits = vprinter_floatbits(value);
    if (!vprinter_nextconversion(d, VPRINTER_ROOM))
        return;
    switch (d->conversion) {
    case 'f': vprinter_float(d, bits); break;
    case 'u': vprinter_puint(d, (u32)(u64)vprinter_floattoint64(bits)); break;
    case 'd': vprinter_pint(d, vprinter_floattoint32(bits)); break;
    default: break;
    }
}

// Exact single-precision arithmetic on m * 2^e, for the memory-size thousandths.
struct f32exact {
    u64 m;                              // below 2^24 once rounded
    int e;
};

static u32 bitlength(u64 v)
{
    u32 n = 0;
    while (v) {
        n++;
        v >>= 1;
    }
    return n;
}

// Rounds m * 2^e to 24 significant bits, to nearest, ties to even; `sticky` says
// that nonzero bits below m were already dropped.
static f32exact round24(u64 m, int e, bool sticky)
{
    u32 n = bitlength(m);
    if (n <= 24)
        return {m, e};
    u32 drop = n - 24;
    u64 kept = m >> drop;
    u64 rest = m & (((u64)1 << drop) - 1);
    u64 half = (u64)1 << (drop - 1);
    if (rest > half || (rest == half && (sticky || (kept & 1))))
        kept++;
    if (kept >> 24) {
        kept >>= 1;
        drop++;
    }
    return {kept, e + (int)drop};
}

u32 vprinter_memthousandths(u32 rest, int unit)
{
    static u32 const divisorbits[] = {0x3f83126f, 0x4483126f, 0x4983126f};  // 1.024, 1048.576, 1073741.875
    if (rest == 0)
        return 0;
    u32 bits = divisorbits[unit];
    u64 dm = mantissafield(bits) | (1u << FLOAT_MANTISSABITS);
    int de = (int)exponentfield(bits) - (int)(FLOAT_BIAS + FLOAT_MANTISSABITS);
    // The rest as a float first (above 2^24 it loses bits), then the quotient with
    // 38 to 40 bits and the remainder as the sticky bit.
    f32exact r = round24(rest, 0, false);
    u32 s = 63 - bitlength(r.m);
    u64 numerator = r.m << s;
    f32exact q = round24(numerator / dm, r.e - (int)s - de, numerator % dm != 0);
    if (q.e + 24 <= -2)
        return 0;                       // below 0.25: adding 0.5 stays below 1
    u64 sum;
    int e;
    if (q.e <= -1) {
        sum = q.m + ((u64)1 << (-1 - q.e));
        e = q.e;
    } else {
        sum = (q.m << (q.e + 1)) + 1;   // q is below 2^31 here, so this fits
        e = -1;
    }
    f32exact t = round24(sum, e, false);
    u64 whole = t.e >= 0 ? t.m << t.e : t.m >> -t.e;
    return whole > 999 ? 999 : (u32)whole;
}

float vprinter_tofloat(double v)
{
    const double FLOATMAX = 3.4028234663852886e38;
    if (v != v)
        return __builtin_nanf("");
    if (v > FLOATMAX)
        return __builtin_inff();
    if (v < -FLOATMAX)
        return -__builtin_inff();
    return (float)v;
}

} // namespace kzv
