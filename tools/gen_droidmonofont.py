#!/usr/bin/python3
"""Generates the dialog font "fnt/droidmono#_960" (resources/fnt/droidmono#_960), a
kzv bitmap font of 107 characters with one coverage byte a pixel, rendered from
Noto Mono (Debian's fonts-noto-mono, derived from Droid Sans Mono, SIL OFL 1.1) by
FreeType through Pillow at 15 pixels: advance 9 for every glyph and the space,
line height 15. The size number 960 is 15 pixels in 1/64 units.

Font layout (little-endian; offsets from the first byte of the font):
  0   kzv header: "kzv ", 0xEFCD, encoding 45, 0; at 8 the pixel encoding (0:
      coverage bytes); at 12 the size number; the rest zero
  32  u32 offset of the name, u32 offset of the family name, 8 zero bytes
  48  u32 number of map entries, u32 offset of the map
  56  u32 space advance, u32 line height
  64  four metrics not used for drawing: ascent, baseline row, -descent, and the
      row below the lowest ink, all in pixels from the top of the text line
  80  the two names, then the glyph records on 16-byte boundaries, the map last
Glyph record: u32 width, u32 rows, s32 advance, s32 x offset, s32 y offset (from
the top of the text line), u32 kerning offset, u32 kerning count, u32 0, then
rows x width coverage bytes. Map entry: u32 character code, u32 glyph offset.

The glyph rows are placed so that the capitals sit on rows 2..12 of the 15-row
line (centred); accents reach one row above it and descenders two rows below.
Code 127 has no glyph in the source font and shows its "missing glyph" box.

Usage: gen_droidmonofont.py [output file] [--sheet preview.png]
"""
import argparse
import os
import struct
import sys

NOTOMONO = "/usr/share/fonts/truetype/noto/NotoMono-Regular.ttf"
PIXELS = 15
SIZENUMBER = 960
ADVANCE = 9
LINEHEIGHT = 15
SHIFT = 1                  # rows the FreeType ascent box starts above the text line
NAME = b"droidmono#_960"
FAMILY = b"Noto Mono"
CODES = list(range(33, 128)) + [ord(c) for c in "\u00e4\u00f6\u00fc\u00c4\u00d6\u00dc\u00df\u20ac\u00a9\u00ae\u03a9\u00b5"]


def align16(n):
    return (n + 15) & ~15


def renderglyphs():
    from PIL import ImageFont
    font = ImageFont.truetype(NOTOMONO, PIXELS)
    glyphs = []
    for code in CODES:
        if round(font.getlength(chr(code))) != ADVANCE:
            raise SystemExit("U+%04X does not advance %d pixels" % (code, ADVANCE))
        mask, (ox, oy) = font.getmask2(chr(code), mode="L")
        box = mask.getbbox()
        if box is None:
            raise SystemExit("U+%04X renders no ink" % code)
        x0, y0, x1, y1 = box
        w, h = x1 - x0, y1 - y0
        bitmap = bytes(mask.getpixel((x, y)) for y in range(y0, y1) for x in range(x0, x1))
        glyphs.append((code, w, h, ox + x0, oy + y0 - SHIFT, bitmap))
    ascent, descent = font.getmetrics()
    return glyphs, ascent, descent


def buildfont():
    glyphs, ascent, descent = renderglyphs()
    lowest = max(g[4] + g[2] for g in glyphs)
    out = bytearray(80)
    out[0:4] = b"kzv "
    struct.pack_into("<HBB", out, 4, 0xEFCD, 45, 0)
    out[8] = 0                                    # coverage bytes
    struct.pack_into("<I", out, 12, SIZENUMBER)
    nameat = len(out)
    out += NAME + b"\0"
    familyat = len(out)
    out += FAMILY + b"\0"
    offsets = []
    for code, w, h, xoff, yoff, bitmap in glyphs:
        out += bytes(align16(len(out)) - len(out))
        offsets.append(len(out))
        out += struct.pack("<IIiiiIII", w, h, ADVANCE, xoff, yoff, 0, 0, 0) + bitmap
    out += bytes(align16(len(out)) - len(out))
    mapat = len(out)
    for (code, *_), at in zip(glyphs, offsets):
        out += struct.pack("<II", code, at)
    struct.pack_into("<II", out, 32, nameat, familyat)
    struct.pack_into("<IIII", out, 48, len(glyphs), mapat, ADVANCE, LINEHEIGHT)
    struct.pack_into("<IIiI", out, 64, ascent, ascent - SHIFT, -descent, lowest)
    return bytes(out)


def sheet(font, path):
    """Draws every glyph of the generated font, read back from its bytes, at 1x and
    4x beside FreeType's own rendering, for a look by eye."""
    from PIL import Image, ImageDraw
    count, mapat = struct.unpack_from("<II", font, 48)
    text = [chr(c) for c in CODES]
    perline = 27
    lines = [text[i:i + perline] for i in range(0, len(text), perline)]
    lines.append(list("Open  Cancel  Yes  No  /home/user/Bilder/Übersicht.txt"))
    lines.append(list("Größe: 12 µm, 3 Ω, 5 € (c) © ®  quick brown fox"))
    width = max(len(l) for l in lines) * ADVANCE + 8
    small = Image.new("L", (width, len(lines) * LINEHEIGHT + 8), 255)
    glyphat = {struct.unpack_from("<I", font, mapat + 8 * i)[0]:
               struct.unpack_from("<I", font, mapat + 8 * i + 4)[0] for i in range(count)}
    for row, line in enumerate(lines):
        for col, ch in enumerate(line):
            at = glyphat.get(ord(ch))
            if not at:
                continue
            w, h, adv, xoff, yoff = struct.unpack_from("<IIiii", font, at)
            for y in range(h):
                for x in range(w):
                    a = font[at + 32 + y * w + x]
                    px, py = 4 + col * ADVANCE + xoff + x, 4 + row * LINEHEIGHT + yoff + y
                    if a and 0 <= px < small.width and 0 <= py < small.height:
                        small.putpixel((px, py), min(small.getpixel((px, py)), 255 - a))
    big = small.resize((small.width * 4, small.height * 4), Image.NEAREST)
    out = Image.new("L", (big.width, big.height + small.height + 4), 200)
    out.paste(small, (0, 0))
    out.paste(big, (0, small.height + 4))
    ImageDraw.Draw(out)
    out.save(path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("target", nargs="?", default=os.path.join(here, "..", "resources", "fnt", "droidmono#_960"))
    parser.add_argument("--sheet", help="also draw a preview PNG here")
    args = parser.parse_args()
    target, sheetpath = args.target, args.sheet
    font = buildfont()
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    with open(target, "wb") as f:
        f.write(font)
    if sheetpath:
        sheet(font, sheetpath)


if __name__ == "__main__":
    main()
