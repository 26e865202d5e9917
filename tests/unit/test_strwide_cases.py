#!/usr/bin/env python3
"""Writes test_strwide_cases.h: random byte strings, valid and broken UTF-8, with
the UTF-16 units Python's own decoder gives for them, for the unit test of the
decoder.

Python's decoder with an error handler that turns the first byte of each bad
stretch into one unit of its own value and resumes at the next byte is the
decoding rule of the system, with two settled differences kept out of the cases:
the system accepts overlong forms, surrogates and lead bytes F5-F7 (so the lead
bytes C0, C1, E0, ED, F0, F4 and F5-F7 are not generated), and it keeps only the
low 16 bits of a four-byte sequence (the peer's code is masked the same way; a
code that masks to 0 is dropped, as the system drops it).

Run: python3 tests/unit/test_strwide_cases.py  (rewrites the header)
     python3 tests/unit/test_strwide_cases.py --check  (exit 1 if it differs)
"""
import codecs
import os
import random

from test_str_gentable import distinct, header, write_or_check

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, "test_strwide_cases.h")
COUNT = 1200
MAXBYTES = 12
SEED = 20240612


def own_byte(error):
    return chr(error.object[error.start]), error.start + 1


codecs.register_error("kzvownbyte", own_byte)


def peer_units(source: bytes):
    text = source.decode("utf-8", errors="kzvownbyte")
    units = [ord(c) & 0xFFFF for c in text]
    return [u for u in units if u]


def byte_pool():
    ascii_bytes = [0x41, 0x7A, 0x2E, 0x20, 0x7F]
    continuation = list(range(0x80, 0xC0))
    leads = list(range(0xC2, 0xE0)) + list(range(0xE1, 0xED)) + [0xEE, 0xEF] + [0xF1, 0xF2, 0xF3]
    alone = list(range(0xF8, 0x100))
    return ascii_bytes, continuation, leads, alone


def random_source(rng: random.Random) -> bytes:
    ascii_bytes, continuation, leads, alone = byte_pool()
    out = bytearray()
    length = rng.randint(0, MAXBYTES)
    while len(out) < length:
        r = rng.random()
        if r < 0.35:
            # A well-formed sequence, sometimes cut short.
            lead = rng.choice(leads)
            need = 1 if lead < 0xE0 else 2 if lead < 0xF0 else 3
            if rng.random() < 0.25:
                need = rng.randint(0, need - 1)
            out.append(lead)
            out.extend(rng.choice(continuation) for _ in range(need))
        elif r < 0.6:
            out.append(rng.choice(ascii_bytes))
        elif r < 0.85:
            out.append(rng.choice(continuation))
        elif r < 0.95:
            out.append(rng.choice(leads))
        else:
            out.append(rng.choice(alone))
    return bytes(out[:MAXBYTES])


def c_string(b: bytes) -> str:
    return '"' + "".join("\\x%02x" % c for c in b) + '"'


def render() -> str:
    sources = distinct(random.Random(SEED), COUNT, random_source)
    lines = header("test_strwide_cases.py", "Random UTF-8 (valid, cut and broken) with the units Python's decoder gives.")
    lines.append("static kzv::u32 const PEERCASE_MAXUNITS = %d;" % MAXBYTES)
    lines.append("static struct { char const* source; kzv::u32 count; kzv::u16 units[%d]; } const peercases[] = {"
                 % MAXBYTES)
    for source in sources:
        units = peer_units(source)
        body = ", ".join("0x%x" % u for u in units)
        lines.append("    {%s, %d, {%s}}," % (c_string(source), len(units), body))
    lines.append("};")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    write_or_check(OUTPUT, render())
