"""Images end to end, through the imagetool driver of the build under test.

Packing: colours copied into 565 and 555 images are unpacked by Pillow's own
decoders ("BGR;16", "BGR;15"), which must give back each channel's top bits;
opaque words copied into 888 stay whole.
Drawing: one scene of primitives is rendered in every pixel format, saved as a
PNG through Pillow (for a look by eye) and checked: a filled rectangle and an
outline against Pillow's rectangles, Bresenham properties of a thin line, the
stated band of a thick vertical line, circle symmetry and area, a bitmap pattern,
a clipped line billions of pixels long, mirrored rounded corners, and every other
format against the 888 rendering with that format's bits.
"""
import math
import os
import random
import shutil
import struct
import subprocess
import tempfile

import pytest

PIL = pytest.importorskip("PIL")
from PIL import Image, ImageDraw  # noqa: E402

BUILD = os.environ.get("KZV_BUILD", "")
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
TOOL = os.path.join(BUILD, "imagetool")
W, H = 320, 200
BACKGROUND = 0xF0F0F0


def run(*args):
    if not os.path.exists(TOOL):
        pytest.skip("imagetool is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    result = subprocess.run(EMULATOR + [TOOL] + [str(a) for a in args],
                            capture_output=True, timeout=300)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return result


@pytest.fixture
def workdir():
    with tempfile.TemporaryDirectory() as d:
        yield d


def pack(fmt, words, workdir):
    src = os.path.join(workdir, "in.raw")
    out = os.path.join(workdir, "out.raw")
    with open(src, "wb") as f:
        f.write(struct.pack("<%dI" % len(words), *words))
    run("pack", fmt, len(words), 1, src, out)
    with open(out, "rb") as f:
        return f.read()


def colours(count, alpha=0xFF):
    rng = random.Random(1234)
    edges = [0x000000, 0xFFFFFF, 0x070307, 0x080408, 0xF8FCF8, 0xF7FBF7, 0x123456]
    return [alpha << 24 | c for c in edges + [rng.getrandbits(24) for _ in range(count)]]


@pytest.mark.parametrize("fmt,mode,bits", [(565, "BGR;16", (5, 6, 5)), (555, "BGR;15", (5, 5, 5))])
def test_pillow_reads_our_16bit_pixels(fmt, mode, bits, workdir):
    words = colours(500)
    raw = pack(fmt, words, workdir)
    assert len(raw) == 2 * len(words)
    if fmt == 555:
        assert all(v & 0x8000 == 0 for v in struct.unpack("<%dH" % len(words), raw))
    decoded = list(Image.frombytes("RGB", (len(words), 1), raw, "raw", mode).getdata())
    for word, (r, g, b) in zip(words, decoded):
        want = ((word >> 16) & 255, (word >> 8) & 255, word & 255)
        for channel, got, n in zip(want, (r, g, b), bits):
            assert got >> (8 - n) == channel >> (8 - n), hex(word)


def test_opaque_words_copied_whole_into_888(workdir):
    words = colours(100, alpha=0xFB) + colours(100, alpha=0xFF)
    raw = pack(888, words, workdir)
    assert list(struct.unpack("<%dI" % len(words), raw)) == words


def scene(fmt, workdir):
    out = os.path.join(workdir, "scene%d.raw" % fmt)
    run("scene", fmt, out)
    with open(out, "rb") as f:
        raw = f.read()
    assert len(raw) == W * H * 4
    words = struct.unpack("<%dI" % (W * H), raw)
    picture = Image.new("RGB", (W, H))
    picture.putdata([((v >> 16) & 255, (v >> 8) & 255, v & 255) for v in words])
    if BUILD:
        picture.save(os.path.join(BUILD, "image_scene_%d.png" % fmt))
    return [list(words[y * W:(y + 1) * W]) for y in range(H)]


@pytest.fixture(scope="module")
def scene888():
    with tempfile.TemporaryDirectory() as d:
        yield scene(888, d)


def pixels_of(rows, colour, box):
    x0, y0, x1, y1 = box
    return {(x, y) for y in range(y0, y1) for x in range(x0, x1) if rows[y][x] == colour}


def pillow_pixels(draw_call, box):
    canvas = Image.new("1", (W, H), 0)
    draw_call(ImageDraw.Draw(canvas))
    x0, y0, x1, y1 = box
    return {(x, y) for y in range(y0, y1) for x in range(x0, x1) if canvas.getpixel((x, y))}


def test_rectangles_match_pillow(scene888):
    assert pixels_of(scene888, 0xCC2222, (0, 0, W, H)) == pillow_pixels(
        lambda d: d.rectangle([10, 10, 69, 49], fill=1), (0, 0, W, H))
    box = (0, 55, 100, 100)
    assert pixels_of(scene888, 0x000000, box) == pillow_pixels(
        lambda d: d.rectangle([8, 60, 71, 89], outline=1), box)


def test_thin_line_is_bresenham(scene888):
    # (120, 110) to (310, 130): x-major, one pixel a column, never more than half
    # a pixel off the ideal line, 8-connected from end to end.
    ink = pixels_of(scene888, 0x000000, (120, 105, 312, 117))
    ink |= pixels_of(scene888, 0x000000, (122, 117, 312, 136))   # the green band owns x <= 121
    columns = {}
    for x, y in ink:
        columns.setdefault(x, []).append(y)
    assert sorted(columns) == list(range(120, 311))
    for x, ys in columns.items():
        assert len(ys) == 1, x
        ideal = 110 + (x - 120) * 20 / 190
        assert abs(ys[0] - ideal) <= 0.5, (x, ys[0], ideal)
    path = [columns[x][0] for x in range(120, 311)]
    assert path[0] == 110 and path[-1] == 130
    assert all(abs(a - b) <= 1 for a, b in zip(path, path[1:]))


def test_thick_vertical_band(scene888):
    # Width 3 at x = 120: columns trunc(120 - 1.5) = 118 while k <= 121.5.
    assert pixels_of(scene888, 0x008800, (0, 0, W, H)) == {
        (x, y) for x in range(118, 122) for y in range(120, 191)}


@pytest.mark.parametrize("cx,cy,r", [(120, 40, 25.0), (180, 40, 6.5)])
def test_circles_are_symmetric(scene888, cx, cy, r):
    n = int(r) + 2
    ink = pixels_of(scene888, 0x2255CC, (cx - n, cy - n, cx + n + 1, cy + n + 1))
    rel = {(x - cx, y - cy) for x, y in ink}
    assert rel == {(-x, y) for x, y in rel}
    assert rel == {(x, -y) for x, y in rel}
    assert rel == {(y, x) for x, y in rel}
    assert abs(len(rel) - math.pi * r * r) < 0.12 * math.pi * r * r
    assert max(abs(x) for x, _ in rel) == int(r)


def test_bitmap_pattern(scene888):
    cross = {(i, i) for i in range(5)} | {(4 - i, i) for i in range(5)}
    assert pixels_of(scene888, 0xAA00AA, (0, 0, W, H)) == {(200 + x, 100 + y) for x, y in cross}


def test_far_off_line_is_clipped(scene888):
    assert all(v == 0x0000FF for v in scene888[199])


def test_rounded_corners_mirror(scene888):
    for x0, y0, w, h in [(210, 10, 100, 40), (210, 60, 100, 40)]:
        for i in range(12):
            for j in range(12):
                v = scene888[y0 + i][x0 + j]
                assert v == scene888[y0 + i][x0 + w - 1 - j] == scene888[y0 + h - 1 - i][x0 + j] \
                    == scene888[y0 + h - 1 - i][x0 + w - 1 - j]
    assert scene888[30][260] == 0x22AA44
    assert scene888[80][260] == BACKGROUND          # the outline's inside
    assert scene888[80][211] == 0x114488


def expected_in(fmt, v):
    r, g, b = (v >> 16) & 255, (v >> 8) & 255, v & 255
    if fmt == 332:
        return (r & 0xE0) << 16 | (g & 0xE0) << 8 | (b & 0xC0)
    if fmt in (555, 565):
        return v & 0xF8F8F8
    if fmt == 8:
        return (v & 255) * 0x010101
    if fmt == 1:
        return 0xFFFFFF if v else 0
    return v


@pytest.mark.parametrize("fmt", [1, 8, 332, 555, 565, 8888])
def test_every_format_draws_the_same_shapes(scene888, fmt, workdir):
    rows = scene(fmt, workdir)
    rounded = [(210, 10, 310, 50), (210, 60, 310, 100)]     # blended, or not drawn at all
    for y in range(H):
        for x in range(W):
            if any(x0 <= x < x1 and y0 <= y < y1 for x0, y0, x1, y1 in rounded):
                continue
            assert rows[y][x] == expected_in(fmt, scene888[y][x]), (fmt, x, y)
    if fmt in (1, 8, 8888):          # no rounded rectangles on these formats
        assert rows[30][260] == expected_in(fmt, BACKGROUND)


def test_diagnostics_go_to_standard_error(workdir):
    """Every refusal of the image code says so on standard error; standard output,
    which carries a dialog's answer, stays empty, and the refused save of a 555
    image leaves no file behind."""
    r = run("diagnostics", workdir)
    assert r.stdout == b""
    err = r.stderr.decode(errors="replace")
    expected = ["1 img cpy! 8 8", "2 img cpy! 332 565", "3 img cpy! 555 8", "4 img cpy! 565 332",
                "5 img cpy! 888 565", "6 img cpy! 1 888", "fillroundedrect fmt=1", "img copyres t=54",
                "scanline oversize!! x=0 dxs=16 xs=8", "drawscanline fmt 565 scanline 4x1",
                "error drawimage picture.png", "drawimage not found: no/such/picture.kzv",
                "kzvimage: no kzv encoding", "format 555"]
    for line in expected:
        assert line in err, line
    assert err.count("fillroundedrect fmt=") == 1   # 8888 draws nothing without a word
    assert os.listdir(workdir) == []
