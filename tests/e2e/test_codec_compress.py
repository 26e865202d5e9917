"""Everything codectool compresses, the peers decompress to the same bytes: raw
deflate and zlib through Python's zlib, gzip through Python's gzip module and the
gzip command, zip through unzip; every level and framing, on the corpus."""
import gzip
import os
import struct
import subprocess
import zlib

import pytest

from codecpeer import CORPUS, CORPUSIDS, run

LEVELS = [0, 1, 5, 6, 9]


def compress(tmp_path, kind, level, data, name="input.bin"):
    src = tmp_path / name
    dst = tmp_path / (name + "." + kind)
    src.write_bytes(data)
    r = run(kind, level, src, dst)
    assert r.returncode == 0, r.stderr
    assert r.stderr == b""
    return dst.read_bytes(), dst


@pytest.mark.parametrize("name,data", CORPUS, ids=CORPUSIDS)
def test_raw_and_zlib_framing(tmp_path, name, data):
    for level in LEVELS:
        raw, _ = compress(tmp_path, "deflate", level, data)
        assert zlib.decompress(raw, -15) == data, level
        framed, _ = compress(tmp_path, "zlib", level, data)
        assert framed[:2] == b"\x78\x9c"
        # zlib checks the Adler-32 trailer.
        assert zlib.decompress(framed) == data, level


@pytest.mark.parametrize("name,data", CORPUS, ids=CORPUSIDS)
def test_gzip_framing(tmp_path, name, data):
    for level in LEVELS:
        out, path = compress(tmp_path, "gzip", level, data)
        assert gzip.decompress(out) == data, level
        peer = subprocess.run(["gzip", "-dc", path], capture_output=True)
        assert peer.returncode == 0, peer.stderr
        assert peer.stdout == data


@pytest.mark.parametrize("name,data", CORPUS, ids=CORPUSIDS)
def test_zip_framing(tmp_path, name, data):
    for level in (0, 6):
        _, path = compress(tmp_path, "zip", level, data, name="entry.txt")
        test = subprocess.run(["unzip", "-t", path], capture_output=True)
        assert test.returncode == 0, test.stdout
        peer = subprocess.run(["unzip", "-p", path, "entry.txt"], capture_output=True)
        assert peer.returncode == 0
        assert peer.stdout == data


def test_zip_longest_entry_name(tmp_path):
    # 255 bytes, the longest name a zip entry takes here (and a file here has).
    name = "n" * 251 + ".txt"
    data = b"a long name " * 40
    (tmp_path / name).write_bytes(data)
    path = tmp_path / "long.zip"
    r = run("zip", 6, tmp_path / name, path)
    assert r.returncode == 0 and r.stderr == b"", r.stderr
    out = path.read_bytes()
    assert struct.unpack("<H", out[26:28])[0] == 255
    test = subprocess.run(["unzip", "-t", path], capture_output=True)
    assert test.returncode == 0, test.stdout
    peer = subprocess.run(["unzip", "-p", path, name], capture_output=True)
    assert peer.returncode == 0 and peer.stdout == data


def test_gzip_header_and_empty_stream(tmp_path):
    out, _ = compress(tmp_path, "gzip", 6, b"")
    assert out == bytes.fromhex("1f 8b 08 00 00 00 00 00 00 ff") + b"\x03\x00" + bytes(8)


def test_zlib_trailer_is_adler32(tmp_path):
    out, _ = compress(tmp_path, "zlib", 6, b"abc")
    assert out[:2] == b"\x78\x9c"
    assert out[-4:] == struct.pack(">I", zlib.adler32(b"abc"))


def test_zip_layout(tmp_path):
    data = b"hello zip " * 50
    out, _ = compress(tmp_path, "zip", 6, data, name="e.txt")
    assert out[:4] == b"PK\x03\x04"
    n = struct.unpack("<H", out[26:28])[0]
    assert out[30:30 + n] == b"e.txt"
    end = out[-22:]
    assert end[:4] == b"PK\x05\x06"
    entries, dirsize, diroffset = struct.unpack("<HII", end[10:20])
    assert entries == 1 and dirsize == 46 + n
    central = out[diroffset:diroffset + 46]
    assert central[:4] == b"PK\x01\x02"
    crc, csize, usize = struct.unpack("<III", central[16:28])
    assert crc == zlib.crc32(data) and usize == len(data)
    assert diroffset == 30 + n + csize + 16
    assert struct.unpack("<I", central[38:42])[0] == 0x81A40000


def test_store_only_keeps_bytes(tmp_path):
    data = bytes(range(256)) * 300
    raw, _ = compress(tmp_path, "deflate", 0, data)
    # Stored blocks of at most 65535 bytes, 5 header bytes each.
    assert len(raw) == len(data) + 5 * 2
    assert zlib.decompress(raw, -15) == data


def test_levels_trade_size(tmp_path):
    text = open("/usr/share/common-licenses/GPL-3", "rb").read() if os.path.exists(
        "/usr/share/common-licenses/GPL-3") else b"some words again and again " * 2000
    sizes = [len(compress(tmp_path, "deflate", level, text)[0]) for level in (0, 1, 9)]
    assert sizes[0] > sizes[1] > sizes[2]


@pytest.mark.parametrize("args", [[], ["deflate"], ["deflate", "x", "a", "b"], ["zip", "10", "a", "b"], ["nothing"]])
def test_bad_command_line(args):
    r = run(*args)
    assert r.returncode == 2
    assert len(r.stderr.splitlines()) == 1
