// Sine, cosine, exponential and hyperbolic arc-tangent without a floating-point
// library: CORDIC iterations on 32-bit fixed-point registers (8.24: 1.0 = 2^24).
// Angles in 16.16 take a full turn as 411774 (2 pi x 65536). Every function is pure
// integer and float arithmetic with no OS call; each returns for any argument
// (infinities and NaNs included) and owns no memory.
#pragma once
#include "../../framework/types.h"

namespace kzv {

const s32 FIXED_ONE = 0x1000000;           // 1.0 in 8.24
const s32 FIXED_TURN = 411774;             // 2 pi in 16.16
const s32 FIXED_CIRCULARSTART = 10188014;  // 0.60725 in 8.24: rotating (this, 0) gives (cos, sin)
const float FIXED_HYPERBOLICGAIN = 0.8281593f;

// 16 circular rotation steps driving z to 0: started at (FIXED_CIRCULARSTART, 0, angle)
// with the angle in 0 .. pi/2 (8.24), x ends near its cosine and y near its sine.
// The registers wrap as 32-bit words when started far outside that range.
void cordic_rotate(s32* x, s32* y, s32* z);

// Hyperbolic steps 1 to 15, steps 4 and 13 taken twice (gain FIXED_HYPERBOLICGAIN).
// Rotation drives z to 0: from (1.0, 0, r) with |r| < 1.1, x + y ends near gain x e^r.
void cordic_rotatehyperbolic(s32* x, s32* y, s32* z);
// Vectoring drives y to 0: from (x, y, 0) with |y / x| < 0.8, z ends near atanh(y / x).
void cordic_vector(s32* x, s32* y, s32* z);

// Sine and cosine (16.16) of a 16.16 angle, which is first reduced into
// 0 .. FIXED_TURN - 1 and written back. The 16 steps leave small residues:
// the angle 0 gives the sine -2, and pi the cosine -65537.
void fixed_anglenorm(s32* angle, s32* sine, s32* cosine);

// Sine and cosine of an angle in radians: 0 gives exactly 0 and 1; NaN, infinities
// and angles of 2^62 turns and more give NaN for both.
void fixed_sincos(float angle, float* sine, float* cosine);

// e^v: +inf from about 88.7 on (and for +inf), 0 from about -88 down, NaN for NaN.
float fixed_exp(float v);

// atanh(v): +-inf at +-1, NaN beyond and for NaN.
float fixed_atanh(float v);

// 8.24 to float, truncated to the float's 24 significant bits.
float fixed_824tofloat(s32 v);
// Float to 8.24, truncated toward zero: NaN, subnormals and values below 2^-24 give
// 0; |v| >= 128 and infinities give +-0x7FFFFFFF.
s32 fixed_floatto824(float v);

} // namespace kzv
