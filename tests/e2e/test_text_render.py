"""Text drawn by the program, checked from outside through the independent kzv
reader (kzvreader.py) against real font renderers:

- The dialog font against FreeType (through Pillow) rendering Noto Mono at 15
  pixels: every pixel of a drawn line within 3 grey levels, widths exact.
- The fixed built-in fonts against Pillow's own reading of the X11 PCF fonts they
  come from: the same inked pixels, advances 6, 8 and 5.
- The proportional font's advances against FreeType's DejaVu Sans at 11 pixels.
- The text demo (primitives, icons and text in every font, saved by the image's
  own kzv save) reaches the reader with every shape and line where it was drawn;
  its PNG is kept beside the test's files for a look.
"""
import gzip
import io
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)

import kzvreader  # noqa: E402

BUILD = os.environ.get("KZV_BUILD", "")
TOOL = os.path.join(BUILD, "kzvtool")
EMULATOR = [w for w in os.environ.get("KZV_EMULATOR", "").split(";") if w]
NOTOMONO = "/usr/share/fonts/truetype/noto/NotoMono-Regular.ttf"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
MISC = "/usr/share/fonts/X11/misc"

PIL = pytest.importorskip("PIL")
from PIL import Image, ImageDraw, ImageFont, PcfFontFile  # noqa: E402

pytestmark = pytest.mark.skipif(not os.path.exists(TOOL), reason="kzvtool is not built here")

MARGIN = 4
PITCH = {"droidmono": 19, "6x13": 17, "8x16": 20, "5x6": 10, "var13": 17, "none": 17}


def run(*args):
    return subprocess.run(EMULATOR + [TOOL] + [str(a) for a in args], capture_output=True, timeout=120)


def rendered(tmp_path, font, texts):
    """Our drawing of the texts, one a line, as a grey Pillow image, and the
    (measured, printed) widths the program reported for each line."""
    out = tmp_path / ("text-%s.kzv" % font)
    r = run("text", font, out, *texts)
    assert r.returncode == 0, r.stderr.decode()
    widths = [tuple(int(v) for v in line.split()) for line in r.stdout.decode().splitlines()]
    assert len(widths) == len(texts)
    image = kzvreader.readfile(out)
    assert image.encoding == 54
    grey = image.topil().convert("RGB").getchannel("G")
    return grey, widths


def pcffont(tmp_path, name):
    """A PCF font of the X11 misc collection loaded by Pillow's own PCF reader."""
    path = os.path.join(MISC, name + ".pcf.gz")
    if not os.path.exists(path):
        pytest.skip("%s is not installed" % path)
    pcf = PcfFontFile.PcfFontFile(io.BytesIO(gzip.open(path).read()), "iso8859-1")
    base = str(tmp_path / name)
    pcf.save(base)
    return ImageFont.load(base + ".pil")


def inked(image, threshold=128):
    w, h = image.size
    px = image.load()
    return {(x, y) for y in range(h) for x in range(w) if px[x, y] < threshold}


DIALOG_TEXTS = [
    "Open  Cancel  Yes  No",
    "/home/user/Bilder/\u00dcbersicht.txt",
    "Gr\u00f6\u00dfe: 12 \u00b5m, 3 \u03a9, 5 \u20ac \u00a9 \u00ae",
    "The quick brown fox jumps over the lazy dog.",
    "{[(0123456789)]} @#$%&* _|~^`'\"\u00e4\u00f6\u00fc\u00c4\u00d6\u00dc",
]


def test_dialog_font_matches_freetype(tmp_path):
    if not os.path.exists(NOTOMONO):
        pytest.skip("Noto Mono is not installed")
    ours, widths = rendered(tmp_path, "droidmono", DIALOG_TEXTS)
    reference = ImageFont.truetype(NOTOMONO, 15)
    peer = Image.new("L", ours.size, 255)
    draw = ImageDraw.Draw(peer)
    for i, text in enumerate(DIALOG_TEXTS):
        # Our glyphs are placed one row higher than FreeType's ascent box.
        draw.text((MARGIN, MARGIN + i * PITCH["droidmono"] - 1), text, font=reference, fill=0)
        assert widths[i] == (9 * len(text), 9 * len(text))
        assert widths[i][0] == round(reference.getlength(text))
    a, b = ours.load(), peer.load()
    worst = max(abs(a[x, y] - b[x, y]) for y in range(ours.height) for x in range(ours.width))
    assert worst <= 3
    assert len(inked(ours)) > 1000
    scaled = Image.merge("RGB", [ours, peer, ours]).resize((ours.width * 3, ours.height * 3), Image.NEAREST)
    scaled.save(tmp_path / "dialogfont.png")


FIXED = [
    # our font, PCF file, advance, rows we keep of its cell
    ("6x13", "6x13-ISO8859-1", 6, 13),
    ("8x16", "ter-u16n_iso-8859-1", 8, 16),
    ("5x6", "5x7-ISO8859-1", 5, 6),
]
FIXED_TEXTS = [
    "The quick brown fox jumps over the lazy dog",
    "0123456789 {[()]} <>=+-*/ @#$%&_|~^`'\"!?.,;:",
    "\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00df \u00a9\u00ae\u00b5\u00b0\u00b1\u00e9\u00e8\u00f1",
]


@pytest.mark.parametrize("font,pcfname,advance,rows", FIXED)
def test_builtin_fonts_match_the_pcf_fonts(tmp_path, font, pcfname, advance, rows):
    # The capitals font draws a-z as A-Z; compare with the capitals themselves.
    asciiupper = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")
    texts = [t.translate(asciiupper) for t in FIXED_TEXTS] if font == "5x6" else FIXED_TEXTS
    ours, widths = rendered(tmp_path, font, texts)
    for text, (measured, printed) in zip(texts, widths):
        assert measured == printed == advance * len(text)
    reference = pcffont(tmp_path, pcfname)
    pitch = PITCH[font]
    for i, text in enumerate(texts):
        assert reference.getlength(text) == advance * len(text)
        top = MARGIN + i * pitch
        line = ours.crop((0, top, ours.width, top + rows))
        peer = Image.new("L", (ours.width, rows + 8), 255)
        ImageDraw.Draw(peer).text((MARGIN, 0), text, font=reference, fill=0)
        # 5 x 6 keeps the upper six rows of each 5 x 7 cell.
        ink = inked(line)
        assert len(ink) > 5 * len(text.replace(" ", "")), text
        assert ink == inked(peer.crop((0, 0, ours.width, rows))), text


def test_proportional_font_advances_match_freetype(tmp_path):
    if not os.path.exists(DEJAVU):
        pytest.skip("DejaVu Sans is not installed")
    reference = ImageFont.truetype(DEJAVU, 11)
    chars = "".join(chr(c) for c in range(33, 127)) + "\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00df\u00e9"
    texts = [chars[i:i + 1] for i in range(len(chars))] + ["The quick brown fox"]
    ours, widths = rendered(tmp_path, "var13", texts)
    for text, (measured, printed) in zip(texts, widths):
        expected = sum(min(round(reference.getlength(c)), 15) for c in text)
        assert measured == printed == expected, text
    assert len(inked(ours)) > 500


def test_text_demo_reaches_the_reader(tmp_path):
    """Primitives, the three icons and a line in every font drawn into one 888
    image and saved by its own kzv save come out of the reader where they were
    drawn; the reader's PNG (and a 2x copy) is left for a look."""
    out = tmp_path / "textdemo.kzv"
    r = run("textdemo", out)
    assert r.returncode == 0, r.stderr.decode()
    image = kzvreader.readfile(out)
    assert (image.encoding, image.width, image.height) == (54, 480, 300)
    at = lambda x, y: image.rows[y][x]
    assert at(0, 0) == 0xF0F0F0 and at(30, 25) == 0xCC2222 and at(90, 30) == 0x2255CC
    info = {at(x, y) for x in range(170, 202) for y in range(10, 42)}
    question = {at(x, y) for x in range(210, 242) for y in range(10, 42)}
    assert len(info) > 10 and len(question) > 10
    # The rounded outline (260, 64) 90 x 36, radius 8, line width 2: bands of its
    # colour along the straight edges, the inside painted back with the colour that
    # was at its corner, the outermost corner pixels (coverage 0) at 255/256 of the
    # background, since every corner pixel blends, and the four corner squares
    # mirror images of each other.
    outline = 0x884488
    for x in (275, 305, 335):
        assert [at(x, y) for y in (64, 65, 66, 97, 98, 99)] == [outline] * 2 + [0xF0F0F0] * 2 + [outline] * 2
    for y in (76, 82, 88):
        assert [at(x, y) for x in (260, 261, 262, 347, 348, 349)] == [outline] * 2 + [0xF0F0F0] * 2 + [outline] * 2
    assert at(305, 82) == 0xF0F0F0
    for x, y in ((260, 64), (349, 64), (260, 99), (349, 99)):
        assert at(x, y) == 0xEFEFEF
    for i in range(10):
        for j in range(10):
            corners = {at(260 + j, 64 + i), at(349 - j, 64 + i), at(260 + j, 99 - i), at(349 - j, 99 - i)}
            assert len(corners) == 1, (i, j)
    # The bitmap pattern: exactly its '#' cells at (370, 70), nothing around them.
    cross = ["##.......##", "###.....###", ".###...###.", "..###.###..", "...#####...", "....###....",
             "...#####...", "..###.###..", ".###...###.", "###.....###", "##.......##"]
    want = {(370 + c, 70 + r) for r, row in enumerate(cross) for c, cell in enumerate(row) if cell == "#"}
    got = {(x, y) for x in range(362, 390) for y in range(62, 90) if at(x, y) == 0xCC2222}
    assert got == want
    lines = [line.split() for line in r.stdout.decode().splitlines()]
    assert len(lines) == 11
    for font, x, y, width, colour in lines:
        x, y, width, colour = int(x), int(y), int(width), int(colour)
        height = {"droidmono": 17, "8x16": 16, "5x6": 6}.get(font, 13)
        band = [(px, py) for py in range(max(y - 1, 0), min(y + height, 300)) for px in range(x, x + width)]
        exact = [p for p in band if at(*p) == colour]
        assert len(exact) > width // 3, (font, y)
        # Nothing of the line's colour just right of its measured width.
        after = [(px, py) for py in range(max(y - 1, 0), min(y + height, 300))
                 for px in range(x + width + 2, min(x + width + 12, 480))]
        assert not [p for p in after if at(*p) == colour], (font, y)
    picture = image.topil()
    picture.save(tmp_path / "textdemo.png")
    picture.resize((960, 600), Image.NEAREST).save(tmp_path / "textdemo-2x.png")
