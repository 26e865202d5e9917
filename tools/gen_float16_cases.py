#!/usr/bin/env python3
"""Writes tests/unit/test_float16_cases.h: half-precision words with the answers of
Python's struct 'e' format and exact rational arithmetic, for the unit test of
`float16`.

The format is IEEE half precision without the special exponents: a word is worth
(1024 + mantissa) x 2^(exponent - 25) for every biased exponent 0 to 31, and only
the word 0x0000 is zero. struct 'e' decodes exponents 1 to 30 exactly that way
(asserted word by word); it reads 31 as infinity or NaN and 0 as subnormal, so
those two are decoded from the formula.

Every operator answer is the exact result (fractions.Fraction) truncated toward zero
to 11 significant bits: a magnitude below 2^-15 is 0x0000 (never 0x8000), one of
2^17 or more saturates to 0x7FFF with the result's sign, division by 0 gives 0.
Each answer with an exponent struct can encode is asserted to lie within one unit
of struct's round-to-nearest word. Sine and cosine refer to math.sin and math.cos
of the word's angle in 16.16 (truncated, reduced modulo 411774, a full turn there).

Run: python3 tools/gen_float16_cases.py  (rewrites the header)
"""
import math
import os
import random
import struct
import sys
from fractions import Fraction

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "tests", "unit", "test_float16_cases.h")
SEED = 20240717
TURN = 411774
MAXMAGNITUDE = 0x7FFF
SIGN = 0x8000


def formula(w):
    e, m = (w >> 10) & 31, w & 0x3FF
    v = Fraction(1024 + m) * Fraction(2) ** (e - 25)
    return -v if w & SIGN else v


def value(w):
    """The word's value; struct 'e' is the decoder wherever it applies."""
    if w == 0:
        return Fraction(0)
    e = (w >> 10) & 31
    if 1 <= e <= 30:
        peer = Fraction(struct.unpack("<e", struct.pack("<H", w))[0])
        assert peer == formula(w), hex(w)
        return peer
    return formula(w)


def magnitudeword(x):
    """|x| truncated toward zero to a magnitude word, saturated, 0 below the format."""
    x = abs(x)
    if x == 0:
        return 0
    e = 25 + math.floor(math.log2(x)) - 10
    while Fraction(1024) * Fraction(2) ** (e - 25) > x:   # log2 of a fraction may be off by one
        e -= 1
    while Fraction(2048) * Fraction(2) ** (e - 25) <= x:
        e += 1
    if e < 0:
        return 0
    if e > 31:
        return MAXMAGNITUDE
    m = math.floor(x / Fraction(2) ** (e - 25))
    assert 1024 <= m < 2048
    return e << 10 | (m - 1024)


def truncated(x):
    w = magnitudeword(x)
    if w == 0:
        return 0
    e = w >> 10
    if 1 <= e <= 30 and abs(x) < 65504:
        nearest = struct.unpack("<H", struct.pack("<e", float(abs(x))))[0]
        assert abs(nearest - w) <= 1, (x, hex(w), hex(nearest))
    return w | SIGN if x < 0 else w


def fromint_rows(rng):
    ints = [0, 1, -1, 2, -2, 3, 1023, 1024, 2047, 2048, 2049, 2050, 4095, 4097, 65504, 65535, 65536,
            -65536, 131007, 131008, 131071, 131072, -131072, 10 ** 6, 2 ** 31 - 1, -(2 ** 31), -(2 ** 31) + 1]
    for _ in range(600):
        v = rng.randrange(1, 2 ** rng.randrange(1, 32))
        ints.append(v if rng.random() < 0.5 else -v)
    return [(v, truncated(Fraction(v))) for v in ints]


def toint_rows():
    words = list(range(0, 0x10000, 37)) + [0x3C00, 0x3800, 0x3BFF, 0xBC00, 0x7BFF, 0x7C00, 0x7FFF, 0xFFFF,
                                           0x8000, 0x0001, 0x6800, 0x67FF, 0xE800]
    return [(w, math.trunc(value(w))) for w in words]


def random_word(rng):
    w = rng.randrange(0x10000)
    return w if w != SIGN else 0     # 0x8000 is no result of any operator


def exponent_near(rng, w, spread):
    e = (w >> 10) & 31
    return word_in(rng, max(0, e - spread), min(31, e + spread))


def word_in(rng, lowest, highest):
    """A random word of either sign with a biased exponent in lowest .. highest."""
    return (rng.randrange(2) << 15) | rng.randint(lowest, highest) << 10 | rng.randrange(1024)


def operand_pairs(rng):
    pairs = [(0x3C00, 0x3C00), (0x0000, 0x3C00), (0x3C00, 0x0000), (0x0000, 0x0000), (0xC200, 0x4000),
             (0x4200, 0xC000), (0x5E40, 0x5E40), (0xDE40, 0x5E40), (0x7BFF, 0x7BFF), (0x7FFF, 0x7FFF),
             (0xFFFF, 0x7FFF), (0x0400, 0x0400), (0x0001, 0x0001), (0x7FFF, 0x0001), (0x0001, 0x7FFF),
             (0x3C00, 0x3BFF), (0x3C00, 0x1000), (0x4200, 0x0000)]
    for _ in range(500):
        pairs.append((random_word(rng), random_word(rng)))
    for _ in range(700):
        a = random_word(rng)
        pairs.append((a, exponent_near(rng, a, 2)))
    for _ in range(300):
        a = random_word(rng) or 0x3C00
        # The same word, its negation, and neighbours of either: exact and near cancellation.
        b = rng.choice([a, a ^ SIGN, a + 1, a - 1, (a ^ SIGN) + 1, (a ^ SIGN) - 1]) & 0xFFFF
        pairs.append((a, b if b != SIGN else 0))
    for _ in range(200):
        # Products and quotients past either end of the format, sums past the top.
        big, small = word_in(rng, 24, 31), word_in(rng, 0, 7)
        pairs.append(rng.choice([(big, word_in(rng, 24, 31)), (small, word_in(rng, 0, 7)), (big, small), (small, big)]))
    for _ in range(200):
        x, y = rng.randint(-3000, 3000), rng.randint(-3000, 3000)
        pairs.append((truncated(Fraction(x)), truncated(Fraction(y))))
    return pairs


def arithmetic_rows(rng):
    rows = []
    for a, b in operand_pairs(rng):
        va, vb = value(a), value(b)
        quotient = 0 if a == 0 or b == 0 else truncated(va / vb)
        rows.append((a, b, truncated(va + vb), truncated(va - vb), truncated(va * vb), quotient, int(va < vb)))
    return rows


def fixedangle(w):
    """The word's angle in 16.16, truncated and reduced by whole turns of 411774."""
    a = math.floor(abs(value(w)) * 65536) % TURN
    return (-a if w & SIGN else a) % TURN


def sincos_rows():
    words = list(range(0, 0x8000, 23)) + [0x0000, 0x3C00, 0x4248, 0x44B6, 0x4648, 0x7BFF, 0x7C00, 0x7FFF]
    words += [w | SIGN for w in words if w]
    rows = []
    for w in words:
        r = fixedangle(w) / 65536
        if abs(value(w)) < 16:    # 411774 is 0.83 short of 2 pi x 65536, which adds up over turns
            assert abs(math.sin(r) - math.sin(value(w))) < 1e-4
        rows.append((w, math.sin(r), math.cos(r)))
    return rows


def table(decl, rows, format_row):
    return [decl + " = {"] + ["    {" + format_row(r) + "}," for r in rows] + ["};", ""]


def generate():
    rng = random.Random(SEED)
    lines = [
        "// Generated by tools/gen_float16_cases.py; edit the script, not this file.",
        "// Half-precision words with struct 'e' and exact arithmetic truncated toward zero.",
        "#pragma once",
        '#include "../../framework/types.h"',
        "",
        "struct fromintcase { kzv::s32 integer; kzv::u16 word; };",
        "struct tointcase { kzv::u16 word; kzv::s32 integer; };",
        "struct arithmeticcase { kzv::u16 a, b, sum, difference, product, quotient; bool less; };",
        "struct float16sincoscase { kzv::u16 angle; double sine, cosine; };",
        "",
    ]
    lines += table("static fromintcase const fromintcases[]", fromint_rows(rng), lambda r: "%d, 0x%04X" % r)
    lines += table("static tointcase const tointcases[]", toint_rows(), lambda r: "0x%04X, %d" % r)
    lines += table("static arithmeticcase const arithmeticcases[]", arithmetic_rows(rng),
                   lambda r: "0x%04X, 0x%04X, 0x%04X, 0x%04X, 0x%04X, 0x%04X, %s"
                   % (r[:6] + ("true" if r[6] else "false",)))
    lines += table("static float16sincoscase const sincoscases[]", sincos_rows(),
                   lambda r: "0x%04X, %.10g, %.10g" % r)
    # -2147483648 is no C++ literal (2147483648 does not fit an int): spelt out.
    return "\n".join(lines).replace("-2147483648", "(-2147483647 - 1)")


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else OUTPUT, "w") as f:
        f.write(generate())
