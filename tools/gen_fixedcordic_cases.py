#!/usr/bin/env python3
"""Writes tests/unit/test_fixedcordic_cases.h: dense tables of arguments for the
fixed-point CORDIC functions with the answers of real peers, Python's `math` for
the functions and `struct` '<f' for the float conversions.

- 16.16 angles: the reduced angle (Python's % is the floor modulo the functions
  reduce by) and round(65536 x sin, cos) of that angle in radians.
- Float angles, exponentials and hyperbolic arc-tangents: the argument's bits and
  math's value in double precision; the unit test applies the error bounds.
  Arguments whose answer leaves the float range carry a kind instead (inf, zero,
  NaN), decided here from math's own value or domain error.
- 8.24 <-> float: exact. A float from 8.24 is value / 2^24 truncated toward zero to
  24 significant bits: struct rounds to nearest and a rounding away from zero is
  stepped back one unit. Float to 8.24 truncates value x 2^24 toward zero, 0 for
  NaN, +-0x7FFFFFFF from 128 on.

Run: python3 tools/gen_fixedcordic_cases.py  (rewrites the header)
"""
import math
import os
import random
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "tests", "unit", "test_fixedcordic_cases.h")
SEED = 20240716
TURN = 411774
TWOPI = 2 * math.pi
FLT_MAX = struct.unpack("<f", struct.pack("<I", 0x7F7FFFFF))[0]
FLT_MINNORMAL = 2.0 ** -126

# Kinds of a row whose answer is not a number within a bound.
BOUNDED, PLUSINF, MINUSINF, ZERO, NOTANUMBER = range(5)
KINDNAMES = ["cordic_bounded", "cordic_plusinf", "cordic_minusinf", "cordic_zero", "cordic_nan"]


def f32bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def bitsf32(b):
    return struct.unpack("<f", struct.pack("<I", b))[0]


def f32(x):
    return bitsf32(f32bits(x))


def double(x):
    return "%.10g" % x     # ten digits: far finer than any bound the test applies


def angle_rows(rng):
    angles = list(range(-TURN, 2 * TURN, 331))
    for edge in (0, 102943, 205887, 308830, TURN):
        angles += [edge - 1, edge, edge + 1, -edge]
    angles += [-(2 ** 31), 2 ** 31 - 1, -(2 ** 31) + 1]
    angles += [rng.randrange(-(2 ** 31), 2 ** 31) for _ in range(300)]
    rows = []
    for a in angles:
        r = a % TURN
        rows.append((a, r, round(math.sin(r / 65536) * 65536), round(math.cos(r / 65536) * 65536)))
    return rows


def sincos_rows(rng):
    """Angles within the bound: dense around the circle, then spread out to 10^9."""
    args = [f32(rng.uniform(-20, 20)) for _ in range(1000)]
    args += [f32(math.copysign(10 ** rng.uniform(-6, 9), rng.random() - 0.5)) for _ in range(300)]
    args += [f32(k * math.pi / 2) for k in range(-9, 10)] + [f32(TWOPI), -0.0, 1e-30]
    return [(f32bits(a), math.sin(a), math.cos(a)) for a in args]


def sincos_huge_rows():
    """Beyond about 10^11 the one-step reduction drops bits; these only must return,
    NaN once the turn count reaches 2^62 (about 2.9e19) and for NaN and infinities."""
    rows = []
    for x in (1e12, -1e15, 1e18, 2.8e19, -2.8e19, 3e19, -1e25, 1e30, FLT_MAX, -FLT_MAX):
        a = f32(x)
        rows.append((f32bits(a), NOTANUMBER if abs(a / TWOPI) >= 2.0 ** 62 else BOUNDED))
    for b in (0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00001, 0x7F800001):
        rows.append((b, NOTANUMBER))
    return rows


def exp_kind(v):
    if math.isnan(v):
        return NOTANUMBER, 0.0
    try:
        e = math.exp(v)
    except OverflowError:
        return PLUSINF, 0.0
    if e > FLT_MAX:
        return PLUSINF, 0.0
    if e < FLT_MINNORMAL:
        return ZERO, 0.0
    return BOUNDED, e


def exp_rows(rng):
    args = [f32(rng.uniform(-80, 80)) for _ in range(800)]
    args += [f32(math.copysign(10 ** rng.uniform(-8, 0), rng.random() - 0.5)) for _ in range(150)]
    args += [f32(rng.uniform(80, 88)) for _ in range(40)] + [f32(rng.uniform(-87, -80)) for _ in range(40)]
    args += [0.0, -0.0, 1.0, -1.0, f32(math.log(2)), 88.0, -87.0]
    rows = [(f32bits(v),) + exp_kind(v) for v in args]
    for v in (89.0, 100.0, 1e10, FLT_MAX, -89.0, -100.0, -1e10, -FLT_MAX):
        rows.append((f32bits(v),) + exp_kind(v))
    for b in (0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00001):
        kind = {0x7F800000: PLUSINF, 0xFF800000: ZERO}.get(b, NOTANUMBER)
        rows.append((b, kind, 0.0))
    return rows


def atanh_kind(v):
    if math.isnan(v) or abs(v) > 1:
        return NOTANUMBER, 0.0
    if abs(v) == 1:
        return (PLUSINF if v > 0 else MINUSINF), 0.0
    return BOUNDED, math.atanh(v)


def atanh_rows(rng):
    args = [f32(rng.uniform(-0.99, 0.99)) for _ in range(800)]
    args += [f32(rng.uniform(0.79, 0.81)) for _ in range(80)]
    args += [f32(0.8), f32(-0.8), 0.0, -0.0, f32(1e-7), f32(0.5)]
    # Near 1 the logarithmic route keeps the bound too: 1 - v down to 2^-24.
    near = [f32(1 - 10 ** -rng.uniform(2, 7)) for _ in range(60)] + [bitsf32(0x3F7FFFFF)]
    args += near + [-v for v in near]
    rows = [(f32bits(v),) + atanh_kind(v) for v in args]
    for b in (0x3F800000, 0xBF800000, 0x3F800001, 0xBF800001, 0x40000000, 0x7149F2CA,
              0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00001):
        rows.append((b,) + atanh_kind(bitsf32(b)))
    return rows


def truncated_f32(x):
    """x (exact in double) truncated toward zero to a float, through struct's rounding."""
    b = f32bits(x)
    if abs(bitsf32(b)) > abs(x):
        b -= 1                 # the next float toward zero, also across a power of two
    assert abs(bitsf32(b)) <= abs(x) < abs(bitsf32(b + 1))
    return b


def floatto824(b):
    x = bitsf32(b)
    if math.isnan(x):
        return 0
    if abs(x) >= 128:
        return 0x7FFFFFFF if x > 0 else -0x7FFFFFFF
    return math.trunc(x * 2 ** 24)


def tofloat_rows(rng):
    values = [0, 1, -1, 0x1000000, -0x1000000, 0xFFFFFF, 0x1FFFFFF, 0x1000001, -(2 ** 31), 2 ** 31 - 1,
              2 ** 31 - 129, 0x800000, 0x7FFFFF, 10188014]
    for _ in range(600):
        bits = rng.randrange(1, 32)
        v = rng.randrange(2 ** (bits - 1), 2 ** bits) if bits < 32 else 2 ** 31 - 1
        values.append(v if rng.random() < 0.5 else -v)
    rows = []
    for v in values:
        b = 0 if v == 0 else truncated_f32(v / 2 ** 24)
        rows.append((v, b, floatto824(b)))
    return rows


def to824_rows(rng):
    bits = [0x00000000, 0x80000000, 0x00000001, 0x807FFFFF, 0x33800000, 0x33000000, 0x33C00000,
            0x3F800000, 0xBF800000, 0x42FFFFFF, 0xC2FFFFFF, 0x43000000, 0xC3000000, 0x4B000000,
            0x7F7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00001, 0x7F800001]
    bits += [rng.randrange(2 ** 32) for _ in range(400)]
    bits += [f32bits(f32(rng.uniform(-130, 130))) for _ in range(400)]
    bits += [f32bits(f32(math.copysign(2 ** rng.uniform(-26, 7), rng.random() - 0.5))) for _ in range(300)]
    return [(b, floatto824(b)) for b in bits]


def table(decl, rows, format_row):
    return [decl + " = {"] + ["    {" + format_row(r) + "}," for r in rows] + ["};", ""]


def generate():
    rng = random.Random(SEED)
    lines = [
        "// Generated by tools/gen_fixedcordic_cases.py; edit the script, not this file.",
        "// Arguments of the fixed-point CORDIC functions with the answers of Python's math",
        "// (functions) and struct '<f' (float conversions).",
        "#pragma once",
        '#include "../../framework/types.h"',
        "",
        "enum cordickind { " + ", ".join(KINDNAMES) + " };",
        "",
        "struct anglecase { kzv::s32 angle, reduced, sine, cosine; };",
        "struct floatcase { kzv::u32 argument; double sine, cosine; };",
        "struct kindcase { kzv::u32 argument; cordickind kind; };",
        "struct functioncase { kzv::u32 argument; cordickind kind; double expected; };",
        "struct tofloatcase { kzv::s32 fixed; kzv::u32 floatbits; kzv::s32 back; };",
        "struct to824case { kzv::u32 floatbits; kzv::s32 fixed; };",
        "",
    ]
    lines += table("static anglecase const anglecases[]", angle_rows(rng), lambda r: "%d, %d, %d, %d" % r)
    lines += table("static floatcase const sincoscases[]", sincos_rows(rng),
                   lambda r: "0x%08X, %s, %s" % (r[0], double(r[1]), double(r[2])))
    lines += table("static kindcase const sincoshugecases[]", sincos_huge_rows(),
                   lambda r: "0x%08X, %s" % (r[0], KINDNAMES[r[1]]))
    lines += table("static functioncase const expcases[]", exp_rows(rng),
                   lambda r: "0x%08X, %s, %s" % (r[0], KINDNAMES[r[1]], double(r[2])))
    lines += table("static functioncase const atanhcases[]", atanh_rows(rng),
                   lambda r: "0x%08X, %s, %s" % (r[0], KINDNAMES[r[1]], double(r[2])))
    lines += table("static tofloatcase const tofloatcases[]", tofloat_rows(rng),
                   lambda r: "%d, 0x%08X, %d" % r)
    lines += table("static to824case const to824cases[]", to824_rows(rng), lambda r: "0x%08X, %d" % r)
    # -2147483648 is no C++ literal (2147483648 does not fit an int): spelt out.
    return "\n".join(lines).replace("-2147483648", "(-2147483647 - 1)")


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else OUTPUT, "w") as f:
        f.write(generate())
