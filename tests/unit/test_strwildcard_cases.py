#!/usr/bin/env python3
"""Writes test_strwildcard_cases.h: random wildcard cases with the answers of two
peers, Python's re and fnmatch, for the unit test of the wildcard matcher.

The matcher's rules in the peers' terms: letters compare without case (ASCII
only), '?' is one character, a trailing '*' is any run, and every other '*' is a
run of at least one character, i.e. '?*'. Both peers must agree on every case.

Run: python3 tests/unit/test_strwildcard_cases.py  (rewrites the header)
     python3 tests/unit/test_strwildcard_cases.py --check  (exit 1 if it differs)
"""
import fnmatch
import os
import random
import re

from test_str_gentable import distinct, header, write_or_check

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, "test_strwildcard_cases.h")
COUNT = 1500
SEED = 20240611


def ascii_lower(b: bytes) -> bytes:
    return b.lower()            # bytes.lower folds only A-Z


def as_regex(pattern: bytes) -> bytes:
    out = []
    for i, c in enumerate(pattern):
        ch = bytes([c])
        if ch == b"*":
            out.append(b".*" if i == len(pattern) - 1 else b".+")
        elif ch == b"?":
            out.append(b".")
        else:
            out.append(re.escape(ch))
    return b"".join(out)


def as_fnmatch(pattern: bytes) -> bytes:
    out = []
    for i, c in enumerate(pattern):
        ch = bytes([c])
        if ch == b"*" and i != len(pattern) - 1:
            out.append(b"?*")
        else:
            out.append(ch)
    return b"".join(out)


def peer_match(pattern: bytes, name: bytes) -> bool:
    """The expected answer; raises when the two peers disagree."""
    p, n = ascii_lower(pattern), ascii_lower(name)
    by_re = re.fullmatch(as_regex(p), n, re.DOTALL) is not None
    by_fnmatch = fnmatch.fnmatchcase(n.decode("latin-1"), as_fnmatch(p).decode("latin-1"))
    if by_re != by_fnmatch:
        raise AssertionError(f"peers disagree on {pattern!r} {name!r}")
    return by_re


def random_case(rng: random.Random):
    names = b"aAbB.x\xe9"
    patterns = b"aAbB.x\xe9**??"
    name = bytes(rng.choice(names) for _ in range(rng.randint(0, 8)))
    if rng.random() < 0.5 and name:
        # Derive the pattern from the name, so that matches are common.
        chars = []
        for c in name:
            r = rng.random()
            if r < 0.2:
                chars.append(ord("?"))
            elif r < 0.4:
                chars.append(ord("*"))
            elif r < 0.5:
                chars.append(c ^ 0x20 if chr(c).isalpha() and c < 128 else c)
            else:
                chars.append(c)
        pattern = bytes(chars)
    else:
        pattern = bytes(rng.choice(patterns) for _ in range(rng.randint(0, 6)))
    return pattern, name


def c_string(b: bytes) -> str:
    out = []
    for i, c in enumerate(b):
        if 0x20 <= c < 0x7F and chr(c) not in '"\\':
            out.append(chr(c))
            continue
        out.append("\\x%02x" % c)
        if i + 1 < len(b) and chr(b[i + 1]) in "0123456789abcdefABCDEF":
            out.append('""')            # ends the hex escape before a hex digit
    return '"' + "".join(out) + '"'


def render() -> str:
    cases = distinct(random.Random(SEED), COUNT, random_case)
    lines = header("test_strwildcard_cases.py", "Random wildcard cases with the answers of Python's re and fnmatch.")
    lines.append("static struct { char const* pattern; char const* name; bool expect; } const peercases[] = {")
    for pattern, name in cases:
        expect = "true" if peer_match(pattern, name) else "false"
        lines.append(f"    {{{c_string(pattern)}, {c_string(name)}, {expect}}},")
    lines.append("};")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    write_or_check(OUTPUT, render())
