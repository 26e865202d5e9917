// A 16-bit floating-point number computed with integer operations only. Bit 15 is
// the sign, bits 14-10 the exponent biased by 15, bits 9-0 the mantissa under an
// implicit 1, so a word is worth (1024 + mantissa) x 2^(exponent - 25). Only the word
// 0x0000 is zero; there are no subnormals, infinities or NaNs, and an exact
// cancellation gives 0x0000, never 0x8000. Every result is the exact one truncated
// toward zero: below 2^-15 it is 0, and from 2^17 on it saturates to the largest
// magnitude (0x7FFF, 131008) with the result's sign.
#pragma once
#include "../../framework/types.h"

namespace kzv {

const u16 FLOAT16_ONE = 0x3C00;

class float16 {
public:
    u16 word;

    float16() : word(0) {}
    explicit float16(s32 v);
    static float16 fromword(u16 w);
    s32 toint() const;                  // truncated toward zero

    float16& operator+=(float16 b);
    float16& operator-=(float16 b);
    float16& operator*=(float16 b);
    float16& operator/=(float16 b);     // division by 0 gives 0
    bool operator<(float16 b) const;
};

// Sine and cosine of an angle in radians, through the 16.16 CORDIC functions (a
// full turn there is 411774 units), so results are within about 2^-11 of the truth:
// the angle 0 gives the cosine 1.0 and, from the rotation's residue, the sine 0x8001.
float16 float16_sin(float16 h);
float16 float16_cos(float16 h);

} // namespace kzv
