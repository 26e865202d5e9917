#!/usr/bin/env python3
"""Writes tools/printf_table.inc: conversions of the formatting engine with the
text real peers give for them. Numbers come from glibc's snprintf (called through
ctypes), dates from Python's datetime, UTF-8 from Python's codec, and the memory-
size thousandths from single-precision arithmetic (each step rounded to float).

The engine's own rules sit on top of the peers' digits and are applied here in the
open: the width is the number at the start of the flags, '+' and '-' only stop a
width, a float field is W + 1 wide with the sign before the spaces, a float without
precision keeps 5 digits with trailing zeros trimmed, plain char is unsigned.

One documented difference remains: the engine sums a float's fraction in truncated
billionths and rounds half up, where glibc rounds the exact value half to even. Rows
where the two disagree carry the engine's text, tagged "billionths", and this script
checks that each of them lies within the billionths' error of a rounding boundary.

Usage: gen_printf_table.py [output]   (default: printf_table.inc next to this script)
"""
import ctypes
import datetime
import math
import os
import random
import struct
import sys
from fractions import Fraction

LIBC = ctypes.CDLL("libc.so.6")
LIBC.snprintf.restype = ctypes.c_int

KINDS32 = ("i8", "u8", "char", "i16", "u16", "i32", "u32", "bool")
KINDS64 = ("i64", "u64")
KINDNAMES = {
    "i8": "arg_s8", "u8": "arg_u8", "char": "arg_char", "i16": "arg_s16", "u16": "arg_u16",
    "i32": "arg_s32", "u32": "arg_u32", "bool": "arg_bool", "i64": "arg_s64", "u64": "arg_u64",
    "f32": "arg_float", "str": "arg_str", "str16": "arg_str16", "null": "arg_null", "null16": "arg_null16",
}
WIDTHS = {"i8": 8, "u8": 8, "char": 8, "i16": 16, "u16": 16, "i32": 32, "u32": 32, "bool": 1, "i64": 64, "u64": 64}
SIGNED = {"i8", "i16", "i32", "i64"}


def glibc(fmt, *args):
    buf = ctypes.create_string_buffer(256)
    n = LIBC.snprintf(buf, 256, fmt.encode(), *args)
    assert 0 <= n < 256
    return buf.raw[:n]


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def f32bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def bitsf32(b):
    return struct.unpack("<f", struct.pack("<I", b))[0]


# --- the flags as the engine reads them --------------------------------------
def width(flags):
    n = 0
    for c in flags:
        if not c.isdigit():
            break
        n = n * 10 + int(c)
    return n


def zero(flags):
    return flags.startswith("0")


def cint(flags, letter):
    """The glibc format that pads like the engine's d, u, x and X."""
    w = width(flags)
    return "%" + ("0" if zero(flags) and w else "") + (str(w) if w else "") + letter


def widen32(kind, value):
    """The 32-bit pattern the engine's 32-bit step sees."""
    if kind == "bool":
        return 1 if value else 0
    bits = WIDTHS[kind]
    value &= (1 << bits) - 1
    if kind in SIGNED and value >> (bits - 1):
        value -= 1 << bits
    return value & 0xFFFFFFFF


def signed32(u):
    return u - (1 << 32) if u >> 31 else u


def utf8unit(u):
    if u == 0xFFFF:
        return b""
    return chr(u).encode("utf-8", "surrogatepass")


def conv_char(u):
    if u & 0xFFFF == 0:             # the engine's choice: never a NUL in the text
        return b" "
    if u < 128:
        return bytes([u])
    return utf8unit(u & 0xFFFF)


def conv_ipv4(flags, u):
    parts = [(u >> s) & 255 for s in (24, 16, 8, 0)]
    fmt = "%03u" if zero(flags) else cint(flags, "u")
    return b".".join(glibc(fmt, ctypes.c_uint(p)) for p in parts)


def conv_h(flags, u):
    v = signed32(u)
    mag = abs(v)
    return (b"-" if v < 0 else b"") + glibc(cint(flags, "d"), ctypes.c_uint(mag // 100)) + b"." + \
        glibc("%02u", ctypes.c_uint(mag % 100))


def conv_memsize32(flags, u):
    if u < 9216:
        return glibc(cint(flags, "u"), ctypes.c_uint(u)) + b"b"
    if u < 0x900000:
        return glibc(cint(flags, "u"), ctypes.c_uint(u >> 10)) + b"k"
    return glibc(cint(flags, "u"), ctypes.c_uint(u >> 20)) + b"m"


DIVISORS = [f32(1.024), f32(1048.576), f32(1073741.824)]


def thousandths(rest, unit):
    # Every step in single precision: the rest (above 2^24 it loses bits), the
    # quotient and the sum are each rounded to float; rounding a double's exact-or-
    # correctly-rounded + and / to float again gives the single-precision result.
    return min(999, math.trunc(f32(f32(f32(rest) / DIVISORS[unit]) + 0.5)))


def precision_three(flags):
    i = flags.find(".")
    return i >= 0 and flags[i + 1:i + 2] == "3"


def conv_memsize64(flags, v):
    unit = 0 if v < 1 << 20 else 1 if v < 1 << 30 else 2
    shift = 10 * (unit + 1)
    t = thousandths(v & ((1 << shift) - 1), unit)
    letter = b"kmg"[unit:unit + 1]
    if precision_three(flags):
        return glibc("%llu.%03u", ctypes.c_ulonglong(v >> shift), ctypes.c_uint(t)) + letter
    if v < 1024:
        return glibc(cint(flags, "u"), ctypes.c_uint(v)) + b"b"
    return glibc(cint(flags, "llu"), ctypes.c_ulonglong((v >> shift) + (1 if t >= 500 else 0))) + letter


def conv_date(u):
    t = datetime.datetime.fromtimestamp(u, datetime.timezone.utc)
    return t.strftime("%d.%m.%Y %H:%M:%S").encode()


def step32(letter, flags, u):
    s = signed32(u)
    if letter in "df":
        return glibc(cint(flags, "d"), ctypes.c_int(s))
    if letter in "uxX":
        return glibc(cint(flags, letter), ctypes.c_uint(u))
    if letter == "c":
        return conv_char(u)
    if letter == "*":
        return b"*" if u else b"-"
    if letter == "h":
        return conv_h(flags, u)
    if letter == "I":
        return conv_ipv4("03", u)
    if letter == "i":
        return conv_ipv4(flags, u)
    if letter == "m":
        return conv_memsize32(flags, u)
    if letter == "D":
        return conv_date(u)
    return b""


def step64(letter, flags, v):
    v &= (1 << 64) - 1
    if letter == "d":
        return glibc(cint(flags, "lld"), ctypes.c_longlong(v - (1 << 64) if v >> 63 else v))
    if letter in "uxX":
        return glibc(cint(flags, "ll" + letter), ctypes.c_ulonglong(v))
    if letter in "cIi":
        return step32(letter, flags, v & 0xFFFFFFFF)
    if letter == "m":
        return conv_memsize64(flags, v)
    return b""


# --- floats -------------------------------------------------------------------
SATURATED = (1 << 64) - 1


def float_precision(flags):
    i = flags.find(".")
    if i >= 0 and flags[i + 1:i + 2] in list("12345678"):
        return int(flags[i + 1])
    return 0


def billionths_model(bits):
    """The engine's documented arithmetic: integer part and billionths."""
    e, m = (bits >> 23) & 255, bits & 0x7FFFFF
    if e < 127:
        shift = 126 - e
        f = 0 if shift >= 32 else 500000000 >> shift
        w, first = f >> 1, 22
    else:
        f, w, first = 0, 500000000, 22 - (e - 127)
    b = first
    while b >= 0:
        if (m >> b) & 1:
            f += w
        if b == 0 or w <= 1:
            break
        w >>= 1
        b -= 1
    return f


def float_digits_model(bits, p):
    x = bitsf32(bits)
    integer = math.trunc(abs(x))
    r = billionths_model(bits) + 5 * 10 ** (8 - p)
    digits = r // 10 ** (9 - p)
    if r >= 10 ** 9:
        digits -= 10 ** p
        integer += 1
    return integer, digits


def float_digits_glibc(x, p):
    text = glibc("%.*f", ctypes.c_int(p), ctypes.c_double(abs(x))).decode()
    integer, fraction = text.split(".")
    return int(integer), int(fraction)


def near_boundary(x, p):
    """True when |x|'s fraction lies within the billionths' error of a boundary of
    rounding to p digits (or exactly on one, where glibc rounds half to even)."""
    frac = Fraction(abs(x)) - math.trunc(abs(x))
    step = Fraction(1, 10 ** p)
    offset = (frac / step) % 1
    distance = abs(offset - Fraction(1, 2)) * step
    return distance <= Fraction(30, 10 ** 9)


def conv_float(flags, bits, tags):
    x = bitsf32(bits)
    p = float_precision(flags)
    trim = p == 0
    if trim:
        p = 5
    e, m = (bits >> 23) & 255, bits & 0x7FFFFF
    negative = bool(bits >> 31)
    if e == 255 or abs(x) >= 2.0 ** 64:
        integer, digits = SATURATED, 0
        if e == 255 and m:
            negative = False
        tags.add("fixed")
    else:
        integer, digits = float_digits_glibc(x, p)
        model = float_digits_model(bits, p)
        if model != (integer, digits):
            assert near_boundary(x, p), (hex(bits), flags, model, (integer, digits))
            integer, digits = model
            tags.add("billionths")
    text = ("%d.%0*d" % (integer, p, digits)).encode() if p > 1 else ("%d.%d" % (integer, digits)).encode()
    while trim and len(text) >= 4 and text[-1:] == b"0" and text[-2:-1] != b".":
        text = text[:-1]
    minus = negative and (integer or digits)
    w = width(flags)
    field = w if minus else w + 1
    pad = b" " * (field - len(text)) if w > 0 and len(text) < field else b""
    return (b"-" if minus else b"") + pad + text


def float_truncated(bits, limit):
    e = (bits >> 23) & 255
    if e == 255:
        return None
    t = math.trunc(bitsf32(bits))
    return t if -(1 << limit) <= t < (1 << limit) else None


def stepfloat(letter, flags, bits, tags):
    if letter == "f":
        return conv_float(flags, bits, tags)
    if letter == "u":
        t = float_truncated(bits, 63)
        t = -(1 << 63) if t is None else t
        return glibc(cint(flags, "u"), ctypes.c_uint(t & 0xFFFFFFFF))
    if letter == "d":
        t = float_truncated(bits, 31)
        t = -(1 << 31) if t is None else t
        return glibc(cint(flags, "d"), ctypes.c_int(t))
    return b""


def stepstring(letter, flags, kind, value):
    if letter != "s":
        return b""
    w = width(flags)
    if kind in ("str", "null"):
        s = value if kind == "str" else b""
        return glibc("%-*.*s", ctypes.c_int(w), ctypes.c_int(w), s) if w else s
    units = value if kind == "str16" else []
    if w:
        units = units[:w]
    text = b"".join(bytes([u]) if u < 128 else utf8unit(u) for u in units)
    return text + b" " * (w - len(units)) if w > len(units) else text


def convert(letter, flags, kind, value, tags):
    if kind in KINDS32:
        return step32(letter, flags, widen32(kind, value))
    if kind in KINDS64:
        return step64(letter, flags, value)
    if kind == "f32":
        return stepfloat(letter, flags, value, tags)
    return stepstring(letter, flags, kind, value)


# --- the format language --------------------------------------------------------
FLAGCHARS = set("+-.0123456789")


def expected(fmt, args, tags):
    out = b""
    i = 0
    f = fmt.encode()
    for kind, value in args:
        while i < len(f):
            c = f[i:i + 1]
            i += 1
            if c != b"%":
                out += c
                continue
            if f[i:i + 1] == b"%":
                out += b"%"
                i += 1
                continue
            flags = ""
            while i < len(f) and chr(f[i]) in FLAGCHARS:
                flags += chr(f[i])
                i += 1
            assert len(flags) <= 7 and i < len(f), "rows keep to defined conversions"
            letter = chr(f[i])
            i += 1
            out += convert(letter, flags, kind, value, tags)
            break
    while i < len(f):
        c = f[i:i + 1]
        i += 1
        if c == b"%":
            if i >= len(f):
                break
            c = f[i:i + 1]
            i += 1
        out += c
    assert len(out) < 400, "rows stay clear of the stop rule"
    return out


# --- the rows -------------------------------------------------------------------
def rows():
    out = []

    def add(fmt, *args):
        out.append((fmt, list(args)))

    ints = [0, 1, -1, 7, -7, 42, -42, 255, 1234, -1234, 99999, 2147483647, -2147483648]
    for fmt in ["%d", "%5d", "%05d", "%-5d", "%+5d", "%+d", "%12d", "%012d", "%0d", "%2d", "%u", "%5u",
                "%05u", "%x", "%X", "%04x", "%8X", "%08x", "%h", "%5h", "%05h", "%f", "%*", "%c",
                "%I", "%i", "%3i", "%03i", "%m", "%6m"]:
        for v in ints:
            add(fmt, ("i32", v))
    for fmt in ["%d", "%u", "%x", "%c", "%h", "%m", "%I"]:
        for v in [0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 3000000000]:
            add(fmt, ("u32", v))
    # Letters the engine does not know consume their argument and print nothing.
    for fmt in ["[%e]", "[%g]", "[%j]", "[%k]", "[%l]", "[%lu]", "[%s]", "[%p]", "[%.3f]"]:
        add(fmt, ("i32", 5))
    # Narrow types widen: signed ones with their sign, plain char and bool unsigned.
    for kind, v in [("i8", -23), ("i8", -128), ("i8", 127), ("u8", 0xE9), ("u8", 255), ("char", 0xE9),
                    ("char", 0x41), ("char", 0xFF), ("i16", -32768), ("i16", -1), ("u16", 65535),
                    ("u16", 0x20AC), ("bool", 1), ("bool", 0)]:
        for fmt in ["%d", "%u", "%x", "%c", "%05d"]:
            add(fmt, (kind, v))
    # Characters: 0 is a space, ASCII as itself, above 127 the UTF-8 of the low 16 bits.
    for v in [0, 1, 32, 65, 126, 127, 128, 0xE9, 0x7FF, 0x800, 0x20AC, 0xD800, 0xFFFE, 0xFFFF, 0x10000,
              0x1F600, 0x120AC]:
        add("<%c>", ("u32", v))
    # Hundredths.
    for v in [0, 5, -5, 7, -7, 99, 100, -100, 101, 1234, -1234, 123456, -2147483648, 2147483647]:
        for fmt in ["%h", "%4h", "%06h", "%8h"]:
            add(fmt, ("i32", v))
    # IPv4 addresses.
    for v in [0, 0xC0A8010A, 0x7F000001, 0xFFFFFFFF, 0x0A000001]:
        for fmt in ["%I", "%i", "%4i", "%04i", "%.3i"]:
            add(fmt, ("u32", v))
        add("%i", ("u64", v | 0x1234567800000000))
    # 32-bit memory sizes: truncated, steps at 9 KiB and 9 MiB.
    for v in [0, 1, 1023, 1024, 9215, 9216, 10000, 65535, 0x8FFFFF, 0x900000, 0x9FFFFF, 0x7FFFFFFF, 0xFFFFFFFF]:
        for fmt in ["%m", "%5m", "%.3m"]:
            add(fmt, ("u32", v))
    # 64-bit integers.
    wide = [0, 1, -1, 42, -42, 0xFFFFFFFF, 0x100000000, 10 ** 18, -10 ** 18, (1 << 63) - 1, -(1 << 63),
            (1 << 64) - 1, 12345678901234567890]
    for fmt in ["%d", "%u", "%x", "%X", "%25d", "%025d", "%022u", "%20x", "%c", "%I", "[%h]", "[%f]",
                "[%*]", "[%D]"]:
        for v in wide:
            add(fmt, ("u64" if v >= 1 << 63 else "i64", v))
    # 64-bit memory sizes at the unit steps, the rounding steps and random values.
    sizes = [0, 1, 500, 511, 512, 1023, 1024, 1535, 1536, 2047, 2048, 9216, (1 << 20) - 1, 1 << 20,
             (1 << 20) + 524287, (1 << 20) + 524288, 3 << 19, (1 << 30) - 1, 1 << 30, 3 << 29,
             (3 << 30) + 71403834, (2 << 30) + 374199025, (1 << 30) + 650150679, (1 << 40) + 12345,
             (1 << 62) + 5, (1 << 64) - 1]
    rng = random.Random(20240607)
    for unitbits in (10, 20, 30, 40):
        for _ in range(12):
            sizes.append(rng.randrange(1 << (unitbits - 10), 1 << unitbits))
    for v in sizes:
        for fmt in ["%m", "%.3m", "%6m"]:
            add(fmt, ("u64", v))
    # Dates against datetime.
    dates = [0, 59, 86399, 86400, 68169600, 951782400, 951868800, 978307199, 1735689599, 2147483647,
             2147483648, 4107542400, 4107542399, 0xFFFFFFFF]
    for _ in range(16):
        dates.append(rng.randrange(0, 1 << 32))
    for v in dates:
        add("%D", ("u32", v))
    add("at %D.", ("u32", 1735689599))
    add("%12D|", ("u32", 86400))
    # Floats: the f conversion at each precision, widths, and the fixed results.
    floats = [0.0, -0.0, 0.1, -0.1, 0.5, 1.0, 1.5, -1.5, 2.5, 3.0, 1 / 3, 2 / 3, 0.05, 0.125, 0.375,
              0.999999, 0.9999999, 0.99999994, 1e-12, -0.0000001, 1e-45, 1.1754944e-38, 12.345, 123.456,
              -123.456, 1e6, 65535.996, 16777215.0, 16777216.0, 16777217.0, 1e10, 4294967296.0,
              1.8e19, 2.0 ** 63, 2.0 ** 64, 3.4e38, -3.4e38, math.inf, -math.inf]
    for _ in range(24):
        floats.append(rng.uniform(-1000, 1000))
    for _ in range(8):
        floats.append(rng.uniform(0, 1) * 10 ** rng.randrange(-6, 12))
    fbits = [f32bits(x) for x in floats] + [0x7FC00000, 0xFFC00000, 0x7F800001, 0x00000001, 0x80000000]
    ffmts = ["%f", "%.1f", "%.2f", "%.3f", "%.4f", "%.5f", "%.6f", "%.7f", "%.8f", "%8.2f", "%12.6f",
             "%.9f", "%.0f", "%5f", "%3.1f", "%-8.2f", "%u", "%d", "%5u", "%05d", "[%x]", "[%s]"]
    for b in fbits:
        for fmt in ffmts:
            add(fmt, ("f32", b))
    for x in [-1.5, -1.0, -0.5, 3e9, -3e9, 2147483520.0, -2147483648.0, 4294967296.0, 5e9, -5e9, 9.2e18,
              1e19, -1e19, 1.0e38]:
        for fmt in ["%u", "%d"]:
            add(fmt, ("f32", f32bits(x)))
    # Strings: 8-bit, 16-bit and null, with widths counted in bytes or units.
    for s in [b"", b"a", b"ab", b"abcde", b"abcdefgh", b"caf\xc3\xa9", b"%d 100%"]:
        for fmt in ["[%s]", "[%5s]", "[%2s]", "[%0s]", "[%-5s]", "[%.2s]", "[%d]"]:
            add(fmt, ("str", s))
    for fmt in ["[%s]", "[%5s]", "[%u]"]:
        add(fmt, ("null", None))
        add(fmt, ("null16", None))
    for units in [[0x48, 0x69], [0x48, 0x20AC, 0xE9, 0x7F, 0x80, 0x800], [0xFFFF, 0x41], [0xD83D, 0xDE00]]:
        for fmt in ["[%s]", "[%3s]", "[%8s]", "[%d]"]:
            add(fmt, ("str16", units))
    # The format language: literal text, %%, surplus arguments and conversions.
    add("plain text, no conversions")
    add("100%% sure")
    add("%u")
    add("%08x and %d")
    add("a%db%uc%xd", ("i32", -1), ("u32", 2), ("u32", 255))
    add("x=%d y=%d", ("i32", 5))
    add("%d", ("i32", 1), ("i32", 2), ("i32", 3))
    add("%s=%d (%5.1f)", ("str", b"pi"), ("i32", 3), ("f32", f32bits(3.14159)))
    add("%%%d%%", ("i32", 50))
    add("%u%", ("u32", 7))
    add("%d%%", ("i32", 9))
    add("trailing %% and %5d", ("i32", 1))
    add("%d", ("i64", -5))
    add("%u.%03u", ("u64", 1 << 40), ("u32", 7))
    add("%x %X %c%c", ("u32", 48879), ("u32", 48879), ("char", 0xC3), ("char", 0xA9))
    return out


# --- the C++ file -------------------------------------------------------------------
def cstring(b):
    out = '"'
    for c in b:
        if 32 <= c < 127 and c not in (34, 92, 63):
            out += chr(c)
        else:
            out += "\\%03o" % c
    return out + '"'


def generate():
    lines = [
        "// Generated by tools/gen_printf_table.py: edit the script, not this file.",
        "// Rows: format, argument count, arguments, expected text, and the peer that gave it.",
        "",
    ]
    wides = {}
    body = []
    for fmt, args in rows():
        tags = set()
        text = expected(fmt, args, tags)
        source = "billionths" if "billionths" in tags else "fixed" if "fixed" in tags else "peers"
        cargs = []
        for kind, value in args:
            if kind == "str16":
                key = tuple(value)
                if key not in wides:
                    wides[key] = "wide%d" % len(wides)
                cargs.append("{%s, 0, nullptr, %s}" % (KINDNAMES[kind], wides[key]))
            elif kind == "str":
                cargs.append("{%s, 0, %s, nullptr}" % (KINDNAMES[kind], cstring(value)))
            elif kind in ("null", "null16"):
                cargs.append("{%s, 0, nullptr, nullptr}" % KINDNAMES[kind])
            else:
                cargs.append("{%s, 0x%xull, nullptr, nullptr}" % (KINDNAMES[kind], value & ((1 << 64) - 1)))
        body.append("    {%s, %d, {%s}, %s, \"%s\"}," % (cstring(fmt.encode()), len(args), ", ".join(cargs),
                                                          cstring(text), source))
    for key, name in wides.items():
        lines.append("static const u16 %s[] = {%s, 0};" % (name, ", ".join("0x%04x" % u for u in key)))
    lines.append("")
    lines.append("static const printfrow printftable[] = {")
    lines.extend(body)
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              "printf_table.inc")
    with open(path, "w") as f:
        f.write(generate())


if __name__ == "__main__":
    main()
