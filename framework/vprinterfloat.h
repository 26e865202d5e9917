// Floating point for the formatting engine, in integer arithmetic on the bits of
// single-precision values, so every CPU prints the same text whatever its float
// unit does (x87 excess precision, ARM's saturating conversions, soft float).
// Magnitudes of 2^64 and above and infinities print the saturated integer part
// 18446744073709551615 with fraction 0; NaNs print the same without a sign.
#pragma once
#include "vprinter.h"

namespace kzv {

// The `f` conversion of the float step: fixed point with a precision of 1 to 8
// digits ('.' and a digit in the flags), else 5 digits with trailing zeros trimmed.
// A width W makes the field W + 1 characters, the sign standing before the spaces.
void vprinter_float(vprinterdata* d, u32 bits);

// The value truncated toward zero: to a signed 64-bit integer (out of range and NaN
// give INT64_MIN), and to a signed 32-bit integer (out of range gives INT_MIN).
s64 vprinter_floattoint64(u32 bits);
int vprinter_floattoint32(u32 bits);

// The thousandths of a memory-size unit (0 KiB, 1 MiB, 2 GiB) for `rest`, the value
// modulo that unit: min(999, trunc(float(rest) / divisor + 0.5)) as IEEE single
// precision computes it, each step (rest itself included) rounded to nearest even,
// with the divisors 1.024, 1048.576 and 1073741.824 rounded to single precision.
u32 vprinter_memthousandths(u32 rest, int unit);

// A double narrowed to float without undefined behaviour: values beyond the float
// range become infinities, NaN stays NaN.
float vprinter_tofloat(double v);

inline u32 vprinter_floatbits(float v) { return __builtin_bit_cast(u32, v); }

} // namespace kzv
