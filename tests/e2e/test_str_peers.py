"""Cross-checks of the string unit tests against Python.

The unit tests run the wildcard matcher and the UTF-8 decoder on every target
against hand-made rows and against tables generated from Python (re and fnmatch;
the utf-8 codec). Here each generated table must be what its script makes now, and
every hand-made wildcard row must give the answer the peers give.
"""
import os
import re
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNIT = os.path.join(ROOT, "tests", "unit")
sys.dont_write_bytecode = True           # no cache files in the source tree
sys.path.insert(0, UNIT)

import test_strwildcard_cases as cases  # noqa: E402  (the generator and its peers)

C_STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
ROW = re.compile(r'^\s*\{((?:"(?:[^"\\]|\\.)*"\s*)+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+),\s*(true|false)\},')


def c_literal(text: str) -> bytes:
    """The bytes of adjacent C string literals with \\x, \\\\ and \\" escapes."""
    out = bytearray()
    for body in C_STRING.findall(text):
        i = 0
        while i < len(body):
            if body[i] != "\\":
                out.append(ord(body[i]))
                i += 1
            elif body[i + 1] == "x":
                j = i + 2
                while j < len(body) and body[j] in "0123456789abcdefABCDEF":
                    j += 1
                out.append(int(body[i + 2:j], 16))
                i = j
            else:
                out.append(ord(body[i + 1]))
                i += 2
    return bytes(out)


def table_rows(test_name: str):
    with open(os.path.join(UNIT, "test_strwildcard.cpp")) as f:
        source = f.read()
    start = source.index("TEST(%s)" % test_name)
    end = source.index("\n}\n", start)
    rows = []
    for line in source[start:end].splitlines():
        m = ROW.match(line)
        if m:
            rows.append((c_literal(m.group(1)), c_literal(m.group(2)), m.group(3) == "true"))
    return rows


def list_match(patterns: bytes, name: bytes) -> bool:
    """Pattern lists: pieces at ',' or ';'; an empty list, or a separator at the end, adds nothing."""
    if not patterns:
        return False
    pieces = re.split(rb"[,;]", patterns)
    if len(pieces) > 1 and pieces[-1] == b"":
        pieces.pop()
    return any(cases.peer_match(p, name) for p in pieces)


@pytest.mark.parametrize("script", ["test_strwildcard_cases.py", "test_strwide_cases.py"])
def test_generated_table_is_current(script):
    result = subprocess.run([sys.executable, os.path.join(UNIT, script), "--check"])
    assert result.returncode == 0, "rerun tests/unit/" + script


@pytest.mark.parametrize("pattern,name,expect", table_rows("singlepatterns"))
def test_single_rows_agree_with_peers(pattern, name, expect):
    assert cases.peer_match(pattern, name) == expect


@pytest.mark.parametrize("patterns,name,expect", table_rows("patternlists"))
def test_list_rows_agree_with_peers(patterns, name, expect):
    assert list_match(patterns, name) == expect


def test_tables_were_read():
    assert len(table_rows("singlepatterns")) > 40
    assert len(table_rows("patternlists")) > 10
