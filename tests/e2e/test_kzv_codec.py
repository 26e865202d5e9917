"""The kzv codec module checked from outside with an independent reader and writer
(kzvreader.py, written from the format's description).

- What our encoder writes (through the kzv module and the file stream, by the
  kzvtool driver) is read by the strict reader for every source format, pixel for
  pixel, and for the run-length encodings it must be byte-identical to the
  reader's own canonical encoding.
- What the reader's writer writes, with runs split at random places and count-0
  triplets, our decoder reads back exactly.
- A table of hand-made bad streams ends with status 1 (the codec refused) and
  never with a crash; runs past the row end are cut at the row end.
- The embedded icons decode to the committed files' pixels.
"""
import os
import random
import struct
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)

import kzvreader  # noqa: E402

BUILD = os.environ.get("KZV_BUILD", "")
TOOL = os.path.join(BUILD, "kzvtool")
EMULATOR = [w for w in os.environ.get("KZV_EMULATOR", "").split(";") if w]

pytestmark = pytest.mark.skipif(not os.path.exists(TOOL), reason="kzvtool is not built here")


def run(*args, cwd=None):
    return subprocess.run(EMULATOR + [TOOL] + [str(a) for a in args], cwd=cwd,
                          capture_output=True, timeout=120)


def rawrow(fmt, values):
    """Pixel values as the bytes of an image row in memory (little-endian words)."""
    if fmt == 1:
        out = bytearray((len(values) + 7) // 8)
        for x, v in enumerate(values):
            if v:
                out[x // 8] |= 0x80 >> (x % 8)
        return bytes(out)
    if fmt in (8, 332):
        return bytes(values)
    if fmt == 565:
        return b"".join(struct.pack("<H", v) for v in values)
    return b"".join(struct.pack("<I", v) for v in values)


def randomrows(fmt, width, height, rng):
    """Rows with long runs, short runs and single pixels."""
    top = {1: 1, 8: 255, 332: 255, 565: 0xFFFF, 888: 0xFFFFFFFF, 8888: 0xFFFFFFFF}[fmt]
    rows = []
    for y in range(height):
        row, x = [], 0
        while x < width:
            n = rng.choice([1, 1, 2, 3, 7, 40, 255, 256, 257, 600])
            v = rng.randrange(top + 1)
            row.extend([v] * min(n, width - x))
            x += n
        rows.append(row)
    return rows


def palette332(i):
    return (i << 16 & 0xE00000) | (i << 11 & 0xE000) | (i << 6 & 0xC0)


def expected(fmt, v):
    """What the reader must see for a source pixel value."""
    if fmt == 8:
        return v * 0x010101
    if fmt == 332:
        return palette332(v)
    if fmt == 888:
        return v & 0xFFFFFF
    if fmt == 8888:
        return (v >> 16 & 255, v >> 8 & 255, v & 255, v >> 24)
    return v


ENCODING = {1: 55, 8: 54, 332: 54, 565: 58, 888: 54, 8888: 57}


@pytest.mark.parametrize("fmt", [1, 8, 332, 565, 888, 8888])
@pytest.mark.parametrize("width,height", [(1, 1), (300, 7), (1000, 3)])
def test_our_encoder_against_the_reader(tmp_path, fmt, width, height):
    rng = random.Random(fmt * 1000 + width)
    rows = randomrows(fmt, width, height, rng)
    raw = tmp_path / "in.raw"
    raw.write_bytes(b"".join(rawrow(fmt, r) for r in rows))
    out = tmp_path / "out.kzv"
    r = run("encode", fmt, width, height, raw, out)
    assert r.returncode == 0, r.stderr.decode()
    blob = out.read_bytes()
    image = kzvreader.read(blob)
    assert (image.encoding, image.width, image.height) == (ENCODING[fmt], width, height)
    for y in range(height):
        assert image.rows[y] == [expected(fmt, v) for v in rows[y]], "row %d" % y
    if fmt == 1:
        assert (image.color0, image.color1) == (0x000000, 0xFFFFFF)
    # The run-length forms must be the canonical ones: longest runs, nothing else.
    assert kzvreader.write(image) == blob


def test_the_run_length_cases_byte_for_byte(tmp_path):
    cases = [
        (888, [0x123456, 0x123456, 0xABCDEF], bytes.fromhex("56341201efcdab00")),
        (888, [0x00102030] * 300, bytes.fromhex("302010ff3020102b")),
        (565, [0xF81F] * 300, bytes.fromhex("ff1ff82d1ff8")),
        (8888, [0x80112233], bytes.fromhex("11223380")),
    ]
    for fmt, values, body in cases:
        raw = tmp_path / "in.raw"
        raw.write_bytes(rawrow(fmt, values))
        out = tmp_path / "out.kzv"
        assert run("encode", fmt, len(values), 1, raw, out).returncode == 0
        assert out.read_bytes() == kzvreader.header(ENCODING[fmt], len(values), 1) + body


def test_555_empty_and_oversized_images_are_refused(tmp_path):
    raw = tmp_path / "in.raw"
    raw.write_bytes(bytes(4 * 2 * 2))
    out = tmp_path / "out.kzv"
    r = run("encode", 555, 4, 2, raw, out)
    assert r.returncode == 1
    assert b"555" in r.stderr                      # the dumped record names its format
    assert not out.exists()                        # no half-written file is left
    # An image without rows hands out no row to take the format from.
    r = run("encode", 888, 13, 0, raw, out)
    assert r.returncode == 1 and b"ends before" in r.stderr
    assert not out.exists()
    wide = tmp_path / "wide.raw"
    wide.write_bytes(bytes(40000 * 4))
    assert run("encode", 888, 40000, 1, wide, out).returncode == 1
    assert not out.exists()


def decoded(tmp_path, blob, name="in.kzv"):
    src = tmp_path / name
    src.write_bytes(blob)
    dst = tmp_path / "out.raw"
    r = run("decode", src, dst)
    data = dst.read_bytes() if dst.exists() else b""
    line, _, rows = data.partition(b"\n")
    return r, line.split(), rows


def readerimage(encoding, width, height, rng):
    if encoding == 55:
        rowbytes = [bytes(rng.randrange(256) for _ in range((width + 7) // 8)) for _ in range(height)]
        rows = [[b[x // 8] >> (7 - x % 8) & 1 for x in range(width)] for b in rowbytes]
        return kzvreader.Image(55, width, height, rows, 0x102030, 0xFFEEDD, rowbytes)
    pick = {54: lambda: rng.randrange(1 << 24), 57: lambda: tuple(rng.randrange(256) for _ in range(4)),
            58: lambda: rng.randrange(1 << 16)}[encoding]
    rows = []
    for y in range(height):
        row = []
        while len(row) < width:
            row.extend([pick()] * min(rng.choice([1, 2, 5, 300]), width - len(row)))
        rows.append(row)
    return kzvreader.Image(encoding, width, height, rows)


def ourrows(encoding, width, raw):
    """Our decoder's rows as the reader's values."""
    if encoding == 55:
        n = (width + 7) // 8
        return [raw[i:i + n] for i in range(0, len(raw), n)]
    if encoding == 58:
        words = struct.unpack("<%dH" % (len(raw) // 2), raw)
        return [list(words[i:i + width]) for i in range(0, len(words), width)]
    words = struct.unpack("<%dI" % (len(raw) // 4), raw)
    rows = [list(words[i:i + width]) for i in range(0, len(words), width)]
    if encoding == 57:
        return [[(w >> 16 & 255, w >> 8 & 255, w & 255, w >> 24) for w in row] for row in rows]
    return rows


@pytest.mark.parametrize("encoding", [54, 55, 57, 58])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_our_decoder_reads_the_readers_files(tmp_path, encoding, seed):
    rng = random.Random(seed * 100 + encoding)
    width, height = rng.choice([(1, 1), (37, 9), (700, 4)])
    image = readerimage(encoding, width, height, rng)
    blob = kzvreader.write(image, split_seed=seed, zero_triplets=True)
    assert kzvreader.read(blob).rows == image.rows       # the writer is sound
    r, line, raw = decoded(tmp_path, blob)
    assert r.returncode == 0, r.stderr.decode()
    fmt = {54: b"888", 55: b"1", 57: b"8888", 58: b"565"}[encoding]
    assert line[:3] == [fmt, str(width).encode(), str(height).encode()]
    if encoding == 55:
        assert [int(c) for c in line[3:5]] == [0x102030, 0xFFEEDD]
        assert ourrows(encoding, width, raw) == image.rowbytes
    else:
        assert ourrows(encoding, width, raw) == image.rows


def rle54(width, height, words):
    return kzvreader.header(54, width, height) + b"".join(struct.pack("<I", w) for w in words)


BAD = [
    # name, stream, status, rows expected (first pixel of each) or None
    ("empty file", b"", 1, None),
    ("31 header bytes", kzvreader.header(57, 1, 1)[:31], 1, None),
    ("header only", kzvreader.header(57, 2, 2), 1, None),
    ("ends inside a pixel", kzvreader.header(57, 1, 1) + b"\1\2\3", 1, None),
    ("ends inside a run word", rle54(2, 1, []) + b"\1\2", 1, None),
    ("ends between rows", rle54(1, 2, [0x00112233]), 1, None),
    ("font header", b"kzv \xcd\xef\x2d\0" + bytes(24), 1, None),
    ("archive header", b"kzv \xcd\xef\x38\0" + bytes(24), 1, None),
    ("no magic", b"KZV " + kzvreader.header(57, 1, 1)[4:] + bytes(4), 1, None),
    ("width 65535", kzvreader.header(57, 65535, 1) + bytes(64), 1, None),
    ("height 40000", kzvreader.header(54, 1, 40000) + bytes(64), 1, None),
    ("run of 256 in a row of 2", rle54(2, 2, [0xFF0000AA, 0x010000BB]), 0, [0xAA, 0xBB]),
    ("565 count 255 in a row of 1", kzvreader.header(58, 1, 2) + bytes([255, 1, 0, 9, 2, 0]), 0, [1, 2]),
    ("count-0 triplets only, then the end", kzvreader.header(58, 1, 1) + bytes([0, 1, 1]) * 50, 1, None),
    ("fourth magic byte not a space", b"kzvX" + kzvreader.header(57, 1, 1)[4:] + b"\1\2\3\4", 0, [0x04010203]),
]


@pytest.mark.parametrize("name,blob,status,firsts", BAD, ids=[b[0] for b in BAD])
def test_bad_streams_are_refused_safely(tmp_path, name, blob, status, firsts):
    r, line, raw = decoded(tmp_path, blob)
    assert r.returncode == status, r.stderr.decode()
    if firsts is not None:
        fmt, width = int(line[0]), int(line[1])
        step = {888: 4, 8888: 4, 565: 2}[fmt] * width
        got = [int.from_bytes(raw[i:i + step][:4 if fmt != 565 else 2], "little") for i in range(0, len(raw), step)]
        assert got == firsts


@pytest.mark.parametrize("name", ["info", "question"])
def test_embedded_icons_are_the_committed_files(tmp_path, name):
    # The working folder has no img/ folder, so the archive serves the name.
    r = run("decode", "img/%s.kzv" % name, tmp_path / "out.raw", cwd=tmp_path)
    assert r.returncode == 0, r.stderr.decode()
    line, _, raw = (tmp_path / "out.raw").read_bytes().partition(b"\n")
    assert line.split()[:3] == [b"8888", b"32", b"32"]
    committed = kzvreader.readfile(os.path.join(ROOT, "resources", "img", name + ".kzv"))
    assert ourrows(57, 32, raw) == committed.rows


def test_a_drawn_picture_reaches_the_reader(tmp_path):
    """Primitives and the compiled-in icon drawn into an 888 image and saved
    through the codec come out of the independent reader where they were drawn;
    the reader's PNG of it is kept beside the test's files for a look."""
    out = tmp_path / "demo.kzv"
    r = run("demo", out)
    assert r.returncode == 0, r.stderr.decode()
    image = kzvreader.readfile(out)
    assert (image.encoding, image.width, image.height) == (54, 160, 100)
    at = lambda x, y: image.rows[y][x]
    assert at(0, 0) == 0xF0F0F0                      # background
    assert at(30, 25) == 0xCC2222 and at(9, 8) == 0  # filled rectangle inside its frame
    assert at(90, 30) == 0x2255CC                    # circle centre
    assert at(40, 72) == 0x22AA44                    # rounded rectangle
    assert at(10, 55) >> 16 > 0xC0                   # its rounded-off corner stays light
    body = at(122, 20)                               # the folder's body is yellow
    assert body >> 16 > 0xC0 and body >> 8 & 255 > 0x90 and body & 255 < 0x80
    image.topil().save(tmp_path / "demo.png")
