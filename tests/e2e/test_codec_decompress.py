"""Everything zlib and gzip compress, codectool decompresses to the same bytes:
every level and strategy, stored blocks, fixed and dynamic Huffman codes, every
zlib window size, gzip members with and without a file name. Hand-made and
damaged streams are refused with exit status 1 and one line on standard error,
and zlib agrees on which hand-made streams are bad."""
import gzip
import os
import re
import subprocess
import zlib

import pytest

from codecpeer import CORPUS, CORPUSIDS, ROOT, run

STRATEGIES = [zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FIXED]


def zcompress(data, level, wbits, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, 9, strategy)
    return c.compress(data) + c.flush()


def decompress(tmp_path, kind, stream):
    src = tmp_path / "in.z"
    dst = tmp_path / "out.bin"
    src.write_bytes(stream)
    r = run(kind, src, dst)
    return r, (dst.read_bytes() if dst.exists() else None)


def expect_same(tmp_path, kind, stream, data):
    r, out = decompress(tmp_path, kind, stream)
    assert r.returncode == 0, r.stderr
    assert r.stderr == b""
    assert out == data


def expect_refused(tmp_path, kind, stream):
    r, out = decompress(tmp_path, kind, stream)
    assert r.returncode == 1, (stream[:16], r.stderr)
    assert len(r.stderr.splitlines()) == 1, r.stderr
    assert out is None
    return r.stderr.decode()


@pytest.mark.parametrize("name,data", CORPUS, ids=CORPUSIDS)
def test_raw_every_level_and_strategy(tmp_path, name, data):
    for level in range(10):
        expect_same(tmp_path, "inflate", zcompress(data, level, -15), data)
    for strategy in STRATEGIES[1:]:
        for level in (1, 6, 9):
            expect_same(tmp_path, "inflate", zcompress(data, level, -15, strategy), data)


@pytest.mark.parametrize("name,data", CORPUS, ids=CORPUSIDS)
def test_zlib_and_gzip_framing(tmp_path, name, data):
    for level in (0, 1, 6, 9):
        expect_same(tmp_path, "unzlib", zlib.compress(data, level), data)
        expect_same(tmp_path, "gunzip", gzip.compress(data, level, mtime=0), data)


def test_zlib_small_windows(tmp_path):
    data = open("/etc/services", "rb").read()
    for wbits in range(9, 16):
        stream = zcompress(data, 9, wbits)
        assert stream[0] == ((wbits - 8) << 4 | 8)
        expect_same(tmp_path, "unzlib", stream, data)


def test_gzip_command_with_file_name(tmp_path):
    # The gzip command stores the file name; the deflate data follow its zero byte.
    for src in ("/etc/services", "/usr/bin/ls"):
        if not os.path.exists(src):
            continue
        data = open(src, "rb").read()
        for level in ("-1", "-9"):
            stream = subprocess.run(["gzip", level, "-c", src], capture_output=True, check=True).stdout
            assert stream[3] & 8
            expect_same(tmp_path, "gunzip", stream, data)


def test_long_gzip_file_name(tmp_path):
    data = b"named member " * 100
    body = zcompress(data, 6, -15)
    name = b"n" * 5000 + b"\0"
    stream = bytes.fromhex("1f 8b 08 08 00 00 00 00 00 ff") + name + body + bytes(8)
    expect_same(tmp_path, "gunzip", stream, data)


@pytest.mark.parametrize("flag,state", [(2, 10), (4, 11), (16, 13), (32, 14)])
def test_gzip_fields_refused(tmp_path, flag, state):
    stream = bytes([0x1F, 0x8B, 8, flag, 0, 0, 0, 0, 0, 0xFF]) + zcompress(b"x", 6, -15)
    message = expect_refused(tmp_path, "gunzip", stream)
    assert "gzip header!! state %d" % state in message


@pytest.mark.parametrize("header", ["78 bb", "78 9d", "88 98", "79 9c", "1f 8c"])
def test_bad_headers_refused(tmp_path, header):
    # FDICT set (bb), a bad check (9d), a window over 32 KiB (88), method 9 (79).
    stream = bytes.fromhex(header) + zcompress(b"abc", 6, -15)
    message = expect_refused(tmp_path, "unzlib", stream)
    assert "unknown header " + header in message


def test_gzip_method_refused(tmp_path):
    stream = bytes.fromhex("1f 8b 07 00 00 00 00 00 00 ff") + zcompress(b"abc", 6, -15)
    assert "unknown compression method 07" in expect_refused(tmp_path, "gunzip", stream)


def handmade_cases():
    text = open(os.path.join(ROOT, "tests", "unit", "test_inflate_cases.h")).read()
    return re.findall(r'\{"([^"]*)", "([0-9a-f ]*)", "([^"]*)", "([^"]*)"\}', text)


HANDMADE = handmade_cases()


@pytest.mark.parametrize("name,hexbytes,expect,text", HANDMADE, ids=[c[0] for c in HANDMADE])
def test_handmade_streams_agree_with_zlib(tmp_path, name, hexbytes, expect, text):
    stream = bytes.fromhex(hexbytes)
    try:
        zlibout = zlib.decompress(stream, -15)
    except zlib.error:
        zlibout = None
    if name == "distance lengths all zero":
        # zlib accepts a block with no distance codes; this decoder refuses it.
        assert zlibout == b"a"
    else:
        assert (zlibout is not None) == (expect == "ok")
    if expect == "ok":
        assert zlibout == text.encode()
        expect_same(tmp_path, "inflate", stream, text.encode())
    else:
        assert "decompressor: " + expect in expect_refused(tmp_path, "inflate", stream)


def test_truncated_streams_refused(tmp_path):
    data = open("/etc/services", "rb").read()[:40000]
    for kind, stream in (("inflate", zcompress(data, 6, -15)), ("inflate", zcompress(data, 0, -15)),
                         ("gunzip", gzip.compress(data, mtime=0)[:-8])):
        for cut in (0, 1, 2, 9, 11, len(stream) // 2, len(stream) - 1):
            expect_refused(tmp_path, kind, stream[:cut])


def test_damaged_streams_never_crash(tmp_path):
    import random
    rng = random.Random(7)
    data = open("/etc/services", "rb").read()[:20000]
    base = zcompress(data, 6, -15)
    for _ in range(40):
        damaged = bytearray(base)
        for _ in range(rng.randint(1, 4)):
            damaged[rng.randrange(len(damaged))] ^= 1 << rng.randrange(8)
        r, _ = decompress(tmp_path, "inflate", bytes(damaged))
        assert r.returncode in (0, 1), r.stderr
        if r.returncode:
            assert len(r.stderr.splitlines()) == 1


def test_trailing_bytes_dropped(tmp_path):
    data = b"only the first member"
    stream = gzip.compress(data, mtime=0) + gzip.compress(b"second", mtime=0)
    expect_same(tmp_path, "gunzip", stream, data)
