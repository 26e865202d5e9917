"""PNG and BMP through codectool, checked against Pillow and pngcheck. codectool
loads and saves through the image operations (loadpng, loadbmp, savepng,
savebmp) and so through the png and bmp codec modules on the stream protocol,
with a file stream on the other side. The PNGs Pillow writes in every mode decode
to Pillow's pixels or are refused with the documented message; hand-made PNGs
cover every filter type in every decoded mode, several IDAT chunks, interlacing
and damaged files; a file with no image in it, or none at all, is named; every
PNG and BMP we write is valid and decodes in Pillow to the source pixels; BMP
files of 1, 4, 8, 24 and 32 bits read to Pillow's pixels, and the malformed ones
are refused."""
import io
import random
import struct
import subprocess
import sys
import os
import zlib

import pytest
from PIL import Image

from codecpeer import run

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kzvreader  # noqa: E402

RNG = random.Random(1210)


def randomimage(mode, w=23, h=11):
    im = Image.new("RGB", (w, h))
    im.putdata([(RNG.randrange(256), RNG.randrange(256), RNG.randrange(256)) for _ in range(w * h)])
    if mode == "RGBA":
        im.putalpha(Image.linear_gradient("L").resize((w, h)))
        return im
    return im.convert(mode) if mode != "RGB" else im


def tool(tmp_path, command, blob, suffix):
    src = tmp_path / ("in" + suffix)
    dst = tmp_path / "out.bin"
    src.write_bytes(blob)
    r = run(command, src, dst)
    return r, (dst.read_bytes() if dst.exists() else None)


def decoded(tmp_path, command, blob, suffix):
    r, out = tool(tmp_path, command, blob, suffix)
    assert r.returncode == 0, r.stderr
    return kzvreader.read(out), r.stderr.decode()


def refused(tmp_path, command, blob, suffix):
    r, out = tool(tmp_path, command, blob, suffix)
    assert r.returncode == 1, r.stderr
    lines = r.stderr.decode().splitlines()
    assert len(lines) == 1 and out is None
    return lines[-1]


def pixels(k):
    return [k.rgba(x, y) for y in range(k.height) for x in range(k.width)]


def pilpixels(blob, alpha):
    im = Image.open(io.BytesIO(blob))
    return list(im.convert("RGBA" if alpha else "RGB").convert("RGBA").getdata())


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def makepng(w, h, depth, ctype, rows, plte=None, interlace=0, pieces=None, extra=b""):
    """rows: the unfiltered row bytes; each row gets the filter y % 5 applied."""
    bpp = max(1, depth * {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype] // 8)
    raw = b""
    prev = bytes(len(rows[0]))
    for y, row in enumerate(rows):
        f = y % 5
        out = bytearray()
        for i, v in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 0:
                pr = 0
            elif f == 1:
                pr = a
            elif f == 2:
                pr = b
            elif f == 3:
                pr = (a + b) >> 1
            else:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pr = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            out.append((v - pr) & 255)
        raw += bytes([f]) + bytes(out)
        prev = row
    data = zlib.compress(raw, 9)
    idat = b""
    cuts = pieces or [len(data)]
    at = 0
    for n in cuts:
        idat += chunk(b"IDAT", data[at:at + n])
        at += n
    if at < len(data):
        idat += chunk(b"IDAT", data[at:])
    head = chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, interlace))
    return (b"\x89PNG\r\n\x1a\n" + head + (chunk(b"PLTE", plte) if plte else b"") + extra + idat
            + chunk(b"IEND", b""))


# --- PNG files Pillow writes -------------------------------------------------

PILLOW_PNGS = [
    ("RGB", {}, None), ("RGBA", {}, None), ("P", {}, None), ("1", {}, None),
    ("P", {"bits": 1}, None), ("RGB", {"optimize": True}, None),
    ("L", {}, "coltype"), ("LA", {}, "coltype"), ("I;16", {}, "bits"), ("P", {"bits": 4}, "bits"),
]


@pytest.mark.parametrize("mode,options,refusal", PILLOW_PNGS, ids=["%s %s" % (m, o) for m, o, _ in PILLOW_PNGS])
def test_pillow_pngs(tmp_path, mode, options, refusal):
    if mode == "I;16":
        im = Image.new("I;16", (9, 4))
        im.putdata([RNG.randrange(65536) for _ in range(36)])
    elif mode == "P" and "bits" in options:
        im = randomimage("RGB").convert("P", palette=Image.ADAPTIVE, colors=1 << options["bits"])
    else:
        im = randomimage(mode)
    buf = io.BytesIO()
    im.save(buf, "PNG", **options)
    blob = buf.getvalue()
    if refusal:
        assert refused(tmp_path, "png2kzv", blob, ".png") == "png error " + refusal
        return
    k, notes = decoded(tmp_path, "png2kzv", blob, ".png")
    assert notes == ""
    assert (k.width, k.height) == im.size
    assert pixels(k) == pilpixels(blob, mode == "RGBA")


def test_palette_transparency_noted_and_ignored(tmp_path):
    im = randomimage("P")
    buf = io.BytesIO()
    im.save(buf, "PNG", transparency=3)
    k, notes = decoded(tmp_path, "png2kzv", buf.getvalue(), ".png")
    assert notes.splitlines() == ["png chunk tRNS 0x74524e53"]
    assert pixels(k) == list(im.convert("RGB").convert("RGBA").getdata())


# --- Hand-made PNGs: every filter in every decoded mode ----------------------

def test_every_filter_every_mode(tmp_path):
    w, h = 13, 10
    rowsrgb = [bytes(RNG.randrange(256) for _ in range(w * 3)) for _ in range(h)]
    rowsrgba = [bytes(RNG.randrange(256) for _ in range(w * 4)) for _ in range(h)]
    rowsp = [bytes(RNG.randrange(7) for _ in range(w)) for _ in range(h)]
    rowsbits = [bytes(RNG.randrange(256) for _ in range((w + 7) // 8)) for _ in range(h)]
    plte = bytes(RNG.randrange(256) for _ in range(21))
    for blob, alpha in ((makepng(w, h, 8, 2, rowsrgb), False), (makepng(w, h, 8, 6, rowsrgba), True),
                        (makepng(w, h, 8, 3, rowsp, plte), False), (makepng(w, h, 1, 3, rowsbits, plte[:6]), False),
                        (makepng(w, h, 1, 0, rowsbits), False)):
        k, _ = decoded(tmp_path, "png2kzv", blob, ".png")
        assert pixels(k) == pilpixels(blob, alpha)


def test_unknown_filter_type_noted(tmp_path):
    # Row 1 has filter type 7: it is not decoded and keeps row 0's pixels.
    w, h = 3, 3
    rows = [bytes(range(9)), bytes(range(100, 109)), bytes(range(200, 209))]
    raw = b"\0" + rows[0] + b"\7" + rows[1] + b"\0" + rows[2]
    blob = (SIG + ihdr(w, h) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
    k, notes = decoded(tmp_path, "png2kzv", blob, ".png")
    assert notes.splitlines() == ["rs8 7"]
    line = lambda r: [(r[i], r[i + 1], r[i + 2], 255) for i in range(0, 9, 3)]
    assert pixels(k) == line(rows[0]) + line(rows[0]) + line(rows[2])


def test_many_idat_chunks_and_a_short_first_one(tmp_path):
    w, h = 40, 30
    rows = [bytes(RNG.randrange(256) for _ in range(w * 3)) for _ in range(h)]
    whole = makepng(w, h, 8, 2, rows)
    for pieces in ([1, 1, 5, 100], [0, 2, 3], [7] * 300):
        k, _ = decoded(tmp_path, "png2kzv", makepng(w, h, 8, 2, rows, pieces=pieces), ".png")
        assert pixels(k) == pilpixels(whole, False)


def test_bytes_before_signature_skipped(tmp_path):
    blob = makepng(3, 2, 8, 2, [bytes(range(9)), bytes(range(9, 18))])
    k, _ = decoded(tmp_path, "png2kzv", b"\x89PN" + b"junk" * 3 + blob, ".png")
    assert pixels(k) == pilpixels(blob, False)


def rgbrows(w, h):
    return [bytes(RNG.randrange(256) for _ in range(w * 3)) for _ in range(h)]


def ihdr(w, h, depth=8, ctype=2, compression=0, filt=0, interlace=0, length=13):
    body = struct.pack(">IIBBBBB", w, h, depth, ctype, compression, filt, interlace)[:length]
    return chunk(b"IHDR", body)


SIG = b"\x89PNG\r\n\x1a\n"
GOOD = makepng(4, 3, 8, 2, rgbrows(4, 3))
IDATS = GOOD[GOOD.index(b"IDAT") - 4:GOOD.index(b"IEND") - 4]

BAD_PNGS = [
    ("cut in the image data", GOOD[:len(GOOD) - 30], "truncated"),
    ("cut before IEND", GOOD[:-12], "truncated"),
    ("IHDR then IEND", SIG + ihdr(4, 3) + chunk(b"IEND", b""), "data"),
    ("IDAT before IHDR", SIG + IDATS + ihdr(4, 3) + chunk(b"IEND", b""), "ihdr"),
    ("second IHDR", SIG + ihdr(4, 3) + IDATS + ihdr(8, 8) + chunk(b"IEND", b""), "ihdr"),
    ("short IHDR", SIG + ihdr(4, 3, length=12) + IDATS + chunk(b"IEND", b""), "ihdr"),
    ("huge chunk length", SIG + ihdr(4, 3) + b"\xff\xff\xff\xfftEXt", "chunk"),
    ("width 0", SIG + ihdr(0, 3) + IDATS + chunk(b"IEND", b""), "ihdr"),
    ("width 40000", SIG + ihdr(40000, 3) + IDATS + chunk(b"IEND", b""), "ihdr"),
    ("compression method 1", SIG + ihdr(4, 3, compression=1) + IDATS + chunk(b"IEND", b""), "ihdr"),
    ("interlace method 2", SIG + ihdr(4, 3, interlace=2) + IDATS + chunk(b"IEND", b""), "ihdr"),
    ("16 bits", SIG + ihdr(4, 3, depth=16) + IDATS + chunk(b"IEND", b""), "bits"),
    ("interlaced RGB", SIG + ihdr(4, 3, interlace=1) + IDATS + chunk(b"IEND", b""), "interlace"),
    ("interlaced RGBA", SIG + ihdr(4, 3, ctype=6, interlace=1) + IDATS + chunk(b"IEND", b""), "interlace"),
    ("interlaced palette", SIG + ihdr(4, 3, ctype=3, interlace=1) + IDATS + chunk(b"IEND", b""), "coltype"),
    ("interlaced 1 bit", SIG + ihdr(4, 3, depth=1, ctype=0, interlace=1) + IDATS + chunk(b"IEND", b""), "bits"),
    ("palette without PLTE", SIG + ihdr(4, 3, ctype=3) + IDATS + chunk(b"IEND", b""), "plte"),
    ("damaged image data", GOOD.replace(IDATS[8:20], bytes(12)), "inflate"),
    ("too few rows", makepng(4, 2, 8, 2, rgbrows(4, 2)).replace(b"IHDR\x00\x00\x00\x04\x00\x00\x00\x02",
                                                               b"IHDR\x00\x00\x00\x04\x00\x00\x00\x09"), "data"),
]


@pytest.mark.parametrize("name,blob,message", BAD_PNGS, ids=[b[0] for b in BAD_PNGS])
def test_bad_pngs_refused(tmp_path, name, blob, message):
    assert refused(tmp_path, "png2kzv", blob, ".png") == "png error " + message


@pytest.mark.parametrize("command,blob,suffix", [
    ("png2kzv", b"not a png file at all", ".png"), ("png2kzv", b"", ".png"),
    ("bmp2kzv", b"no bitmap header in here, not even after fifty-four bytes of text", ".bmp"),
], ids=["png text", "png empty", "bmp text"])
def test_no_image_in_the_file(tmp_path, command, blob, suffix):
    # A stream that never shows a signature holds no image: the codec ends with no
    # records, and the load says so.
    line = refused(tmp_path, command, blob, suffix)
    assert line.startswith(command[:3] + ": no image in ") and line.endswith("in" + suffix)


def test_missing_input_file(tmp_path):
    r = run("png2kzv", tmp_path / "none.png", tmp_path / "out.kzv")
    assert r.returncode == 1
    assert r.stderr.decode().splitlines() == ["png: not found: %s" % (tmp_path / "none.png")]
    assert not (tmp_path / "out.kzv").exists()


# --- PNG files we write -------------------------------------------------------

def kzvfile(encoding, w, h):
    if encoding == 54:
        rows = [[RNG.randrange(1 << 24) for _ in range(w)] for _ in range(h)]
        body = b"".join(struct.pack("<I", v) for row in rows for v in row)
        return kzvreader.header(54, w, h) + body, [(v >> 16, v >> 8 & 255, v & 255, 255) for r in rows for v in r]
    if encoding == 55:
        c0, c1 = 0x102030, 0xF0E0D0
        rows = [bytes(RNG.randrange(256) for _ in range((w + 7) // 8)) for _ in range(h)]
        px = []
        for r in rows:
            for x in range(w):
                c = c1 if r[x >> 3] >> (7 - (x & 7)) & 1 else c0
                px.append((c >> 16, c >> 8 & 255, c & 255, 255))
        return kzvreader.header(55, w, h, c0, c1) + b"".join(rows), px
    if encoding == 57:
        px = [tuple(RNG.randrange(256) for _ in range(4)) for _ in range(w * h)]
        return kzvreader.header(57, w, h) + bytes(c for p in px for c in p), px
    values = [RNG.randrange(65536) for _ in range(w * h)]
    body = b"".join(struct.pack("<BH", 1, v) for v in values)
    return kzvreader.header(58, w, h) + body, [((v >> 8) & 0xF8, (v >> 3) & 0xF8, (v << 3) & 0xF8, 255)
                                                 for v in values]


@pytest.mark.parametrize("encoding", [54, 55, 57, 58])
def test_written_pngs_valid(tmp_path, encoding):
    for w, h in ((1, 1), (2, 1), (17, 9), (300, 200)):
        blob, expect = kzvfile(encoding, w, h)
        r, out = tool(tmp_path, "kzv2png", blob, ".kzv")
        assert r.returncode == 0, r.stderr
        (tmp_path / "w.png").write_bytes(out)
        check = subprocess.run(["pngcheck", "-q", tmp_path / "w.png"], capture_output=True)
        assert check.returncode == 0, check.stdout
        assert pilpixels(out, True) == expect
        # IDAT chunks are full (16372 data bytes) but for the last.
        sizes, at = [], 8
        while at < len(out):
            n, kind = struct.unpack(">I4s", out[at:at + 8])
            if kind == b"IDAT":
                sizes.append(n)
            at += 12 + n
        assert all(s == 16372 for s in sizes[:-1]) and 0 < sizes[-1] <= 16372


def test_two_pixel_rgb_png(tmp_path):
    blob = kzvreader.header(54, 2, 1) + struct.pack("<II", 0x112233, 0x445566)
    r, out = tool(tmp_path, "kzv2png", blob, ".kzv")
    assert r.returncode == 0
    assert out[:8] == SIG and out[12:16] == b"IHDR" and out[24:26] == b"\x08\x02"
    n = struct.unpack(">I", out[33:37])[0]
    assert out[37:41] == b"IDAT"
    assert zlib.decompress(out[41:41 + n]) == bytes.fromhex("02 11 22 33 44 55 66")
    assert out[-12:] == bytes.fromhex("00 00 00 00") + b"IEND" + bytes.fromhex("ae 42 60 82")


# --- BMP ------------------------------------------------------------------------

@pytest.mark.parametrize("mode", ["1", "L", "P", "RGB", "RGBA"])
def test_pillow_bmps(tmp_path, mode):
    im = randomimage(mode, 21, 7)
    buf = io.BytesIO()
    im.save(buf, "BMP")
    k, _ = decoded(tmp_path, "bmp2kzv", buf.getvalue(), ".bmp")
    assert pixels(k) == pilpixels(buf.getvalue(), False)


def makebmp(w, h, bpp, rows, palette=(), infosize=40, compression=0, colors=None, gap=0, topdown=False):
    stride = ((w * bpp + 7) // 8 + 3) & ~3
    pal = b"".join(struct.pack("<BBBB", c & 255, c >> 8 & 255, c >> 16, 0) for c in palette)
    offset = 14 + infosize + len(pal) + gap
    data = b"".join(r.ljust(stride, b"\0") for r in (rows if topdown else rows[::-1]))
    info = struct.pack("<IiiHHIIiiII", infosize, w, -h if topdown else h, 1, bpp, compression, len(data),
                       2835, 2835, len(palette) if colors is None else colors, 0).ljust(infosize, b"\0")
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + pal + bytes(gap) + data


@pytest.mark.parametrize("bpp", [1, 4, 8, 24, 32])
def test_handmade_bmps(tmp_path, bpp):
    w, h = 11, 5
    palette = [RNG.randrange(1 << 24) for _ in range(1 << bpp)] if bpp <= 8 else []
    rows = [bytes(RNG.randrange(256) for _ in range((w * bpp + 7) // 8)) for _ in range(h)]
    for variant in ({}, {"topdown": True}, {"infosize": 124}, {"gap": 12}):
        if variant.get("topdown") and bpp < 24:
            variant = {"topdown": True}
        blob = makebmp(w, h, bpp, rows, palette, **variant)
        k, _ = decoded(tmp_path, "bmp2kzv", blob, ".bmp")
        assert pixels(k) == pilpixels(blob, False), variant


BAD_BMPS = [
    ("old header", makebmp(2, 2, 24, [b"\0" * 6] * 2)[:14] + struct.pack("<IHHHH", 12, 2, 2, 1, 24) + bytes(40),
     "old bmp format"),
    ("header size 20", makebmp(2, 2, 24, [b"\0" * 6] * 2, infosize=40)[:14] + struct.pack("<I", 20) + bytes(36),
     "header size 20"),
    ("16 bits", makebmp(2, 2, 16, [b"\0" * 4] * 2), "unknown bpp 16"),
    ("RLE8", makebmp(2, 2, 8, [b"\0" * 2] * 2, [0] * 256, compression=1), "compression 1"),
    ("too many colours", makebmp(2, 2, 8, [b"\0" * 2] * 2, [0] * 256, colors=300), "colors 300"),
    ("width 40000", makebmp(40000, 1, 24, [b""]), "xs 40000"),
    ("cut short", makebmp(8, 8, 24, [b"\1" * 24] * 8)[:-30], "truncated"),
]


@pytest.mark.parametrize("name,blob,message", BAD_BMPS, ids=[b[0] for b in BAD_BMPS])
def test_bad_bmps_refused(tmp_path, name, blob, message):
    assert refused(tmp_path, "bmp2kzv", blob, ".bmp") == "bmp: " + message


@pytest.mark.parametrize("encoding", [54, 55, 57, 58])
def test_written_bmps(tmp_path, encoding):
    blob, expect = kzvfile(encoding, 13, 6)
    r, out = tool(tmp_path, "kzv2bmp", blob, ".kzv")
    assert r.returncode == 0, r.stderr
    assert out[:2] == b"BM"
    bpp = struct.unpack("<H", out[28:30])[0]
    assert bpp == (1 if encoding == 55 else 24)
    assert struct.unpack("<i", out[22:26])[0] == -6
    assert pilpixels(out, False) == [(r, g, b, 255) for r, g, b, _ in expect]
    # Row padding is zero.
    offset = struct.unpack("<I", out[10:14])[0]
    stride = ((13 * bpp + 7) // 8 + 3) & ~3
    used = (13 * bpp + 7) // 8
    for y in range(6):
        assert out[offset + y * stride + used:offset + (y + 1) * stride] == bytes(stride - used)
