"""The generated resources: the generators in tools/ must make exactly the
committed files, the resource archive must follow its layout rule, the dialog
font must hold what the dialogs rely on (107 characters, coverage bytes, advance
9, line height 15, no kerning), the icons must be 32 x 32 kzv 57 images that
the independent reader accepts, and the Windows program's icon file must hold
the information icon. Runs once, in the hosted configuration."""
import os
import re
import shutil
import struct
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
RES = os.path.join(ROOT, "resources")
TOOLS = os.path.join(ROOT, "tools")
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)

import kzvreader  # noqa: E402

pytestmark = pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                                reason="the resources are checked once, in the hosted configuration")

FONT = os.path.join(RES, "fnt", "droidmono#_960")
FONTCODES = list(range(33, 128)) + [ord(c) for c in "äöüÄÖÜß€©®Ωµ"]


def carray(path, name):
    text = open(path).read()
    start = text.index("{", text.index(name + "["))
    return bytes(int(v, 16) for v in re.findall(r"0x([0-9a-f]+)", text[start:text.index("};", start)]))


def generate(script, *args):
    subprocess.run([sys.executable, os.path.join(TOOLS, script)] + [str(a) for a in args],
                   check=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))


def test_generators_make_the_committed_files(tmp_path):
    generate("gen_builtinfonts.py", tmp_path)
    generate("gen_droidmonofont.py", tmp_path / "fnt" / "droidmono#_960")
    generate("gen_icons.py", tmp_path)
    generate("gen_resources.py", tmp_path)
    generate("gen_winicon.py", tmp_path)
    for name in ["builtinfonts.h", "builtinfonts.cpp", "fnt/droidmono#_960", "img/info.kzv",
                 "img/question.kzv", "icondirup.h", "icondirup.cpp", "resourcearchive.cpp",
                 "velkra.ico", "velkra.rc"]:
        with open(os.path.join(RES, name), "rb") as a, open(tmp_path / name, "rb") as b:
            assert a.read() == b.read(), name + " differs from what its generator makes"
    shutil.rmtree(tmp_path)


def test_archive_follows_the_layout_rule():
    archive = carray(os.path.join(RES, "resourcearchive.cpp"), "binary_tmp_resfile")
    assert archive[:8] == b"kzv \xcd\xef\x38\x00"
    count, table = struct.unpack_from("<II", archive, 8)
    assert count == 3 and archive[16:32] == bytes(16)
    entries = [struct.unpack_from("<III", archive, table + 12 * i) for i in range(count)]
    names = [archive[n:archive.index(0, n)].decode() for n, _, _ in entries]
    assert names == ["fnt/droidmono#_960", "img/info.kzv", "img/question.kzv"]
    expect = 32
    for (nameat, dataat, size), name in zip(entries, names):
        assert dataat == expect, name
        assert archive[dataat:dataat + size] == open(os.path.join(RES, name), "rb").read()
        expect = (dataat + size + 16) & ~15
    assert entries[0][0] == expect                           # the names follow the last entry
    for (nameat, _, _), name in zip(entries, names):
        assert nameat == expect and nameat % 4 == 0
        expect += (len(name) + 1 + 3) & ~3
    assert table == expect
    assert len(archive) % 16 == 0 and not any(archive[table + 12 * count:])
    assert [e[2] for e in entries[1:]] == [4128, 4128]
    length = int(re.search(r"binary_tmp_resfile_length = (\d+);",
                           open(os.path.join(RES, "resourcearchive.cpp")).read()).group(1))
    assert length == len(archive)


def test_dialog_font_metrics():
    font = open(FONT, "rb").read()
    assert font[:8] == b"kzv \xcd\xef\x2d\x00"
    assert font[8] == 0 and font[9:12] == bytes(3)           # coverage bytes
    assert struct.unpack_from("<I", font, 12)[0] == 960
    nameat, familyat = struct.unpack_from("<II", font, 32)
    assert font[nameat:font.index(0, nameat)] == b"droidmono#_960"
    count, mapat, space, lineheight = struct.unpack_from("<IIII", font, 48)
    assert (count, space, lineheight) == (107, 9, 15)
    codes = []
    for i in range(count):
        code, at = struct.unpack_from("<II", font, mapat + 8 * i)
        codes.append(code)
        assert at % 16 == 0 and 80 <= at < mapat
        w, h, advance, xoff, yoff, kernat, kerncount, zero = struct.unpack_from("<IIiiiIII", font, at)
        assert advance == 9 and kernat == 0 and kerncount == 0 and zero == 0
        assert at + 32 + w * h <= mapat
        assert -3 <= yoff and yoff + h <= 18 and -2 <= xoff and xoff + w <= 11, chr(code)
        assert max(font[at + 32:at + 32 + w * h]) > 200, chr(code)   # real ink
    assert codes == FONTCODES
    assert mapat + 8 * count == len(font)


def test_icons_are_32x32_rgba():
    for name in ("info", "question"):
        image = kzvreader.readfile(os.path.join(RES, "img", name + ".kzv"))
        assert (image.encoding, image.width, image.height) == (57, 32, 32)
        assert image.rows[0][0][3] == 0 and image.rows[16][16][3] == 255
        corner = sum(1 for row in image.rows for px in row if 0 < px[3] < 255)
        assert corner > 20                                   # the rim is anti-aliased
    dirup = carray(os.path.join(RES, "icondirup.cpp"), "icondirup")
    assert len(dirup) == 32 + 32 * 32 * 4 and dirup[:8] == b"kzv \xcd\xef\x39\x00"
    # B, G, R, A bytes: the folder body is yellow, so red sits in the third byte.
    b, g, r, a = dirup[32 + (20 * 32 + 4) * 4:32 + (20 * 32 + 4) * 4 + 4]
    assert a == 255 and r > 200 and g > 150 and b < 100


def test_windows_icon_is_the_information_icon():
    """Pillow reads the icon file: a 32 x 32 image with the information icon's
    pixels and its 16 x 16 reduction, both with their transparent corners."""
    from PIL import Image
    info = kzvreader.readfile(os.path.join(RES, "img", "info.kzv"))
    icon = Image.open(os.path.join(RES, "velkra.ico"))
    assert icon.format == "ICO" and icon.info["sizes"] == {(32, 32), (16, 16)}
    icon.size = (32, 32)
    big = icon.convert("RGBA")
    assert [[big.getpixel((x, y)) for x in range(32)] for y in range(32)] == \
        [[tuple(px) for px in row] for row in info.rows]
    icon.size = (16, 16)
    small = icon.convert("RGBA")
    assert small.getpixel((0, 0))[3] == 0 and small.getpixel((8, 8))[3] == 255
    assert open(os.path.join(RES, "velkra.rc")).read().splitlines()[-1] == '2 ICON "velkra.ico"'


def test_builtin_font_tables():
    cpp = os.path.join(RES, "builtinfonts.cpp")
    f6 = carray(cpp, "font6x13")
    f8 = carray(cpp, "font8x16")
    f5 = carray(cpp, "font5x6")
    assert (len(f6), len(f8), len(f5)) == (223 * 13, 223 * 16, 223 * 6)
    assert not any(f6[0:13]) and not any(f8[0:16])           # the space is blank
    assert all(b < 64 for b in f6) and all(b < 32 for b in f5)
    for code in (ord("A"), ord("g"), 0xC4, 0xFE):
        assert any(f6[(code - 32) * 13:(code - 31) * 13]) and any(f8[(code - 32) * 16:(code - 31) * 16])
    # Lower case letters are drawn with the capitals; their slots may stay empty.
    assert any(f5[(ord("A") - 32) * 6:(ord("A") - 31) * 6])
    text = open(cpp).read()
    start = text.index("{", text.index("fontvar13["))
    var = [int(v, 16) for v in re.findall(r"0x([0-9a-f]+)", text[start:text.index("};", start)])]
    assert len(var) == 224 + 224 * 13
    widths = var[:224]
    assert widths[ord("i") - 32] < widths[ord("m") - 32] <= 15
    for slot in range(224):
        w = widths[slot]
        assert all(v >> (w + 1) == 0 for v in var[224 + slot * 13:224 + slot * 13 + 13]), slot
