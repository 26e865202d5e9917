#!/usr/bin/python3
"""Generates the glyph tables of the four built-in fonts into
resources/builtinfonts.h and resources/builtinfonts.cpp.

  6 x 13   misc-fixed 6x13 (ISO 8859-1), public domain: 13 bytes a glyph, bit 5 leftmost
  8 x 16   Terminus 16 px normal (ISO 8859-1), SIL OFL 1.1: 16 bytes, bit 7 leftmost
  5 x 6    capitals: the upper six rows of misc-fixed 5x7, public domain: 6 bytes, bit 4 leftmost
  var 13   proportional, DejaVu Sans at 11 px rendered by FreeType without anti-aliasing:
           224 widths, then 13 row words a slot; a glyph of width w inks columns 0..w,
           bit (w - column) set means ink, so bit 0 is column w; the advance is w

Each table has one slot per character code 32..254 (slot = code - 32); codes the
source font lacks stay empty. Fonts come from Debian's xfonts-base,
xfonts-terminus and fonts-dejavu-core; the output is the same on every run.

Usage: gen_builtinfonts.py [output directory] [--sheet preview.png]
       (default directory: resources/ of this tree)
"""
import argparse
import os
import sys

sys.dont_write_bytecode = True        # no cache files in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pcfread import PcfFont  # noqa: E402

MISC = "/usr/share/fonts/X11/misc"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
FIRST, LAST = 32, 254
SLOTS = LAST - FIRST + 1           # 223
VAR_SLOTS = 224                    # the proportional table has one spare slot
VAR_ROWS = 13
VAR_SIZE = 11                      # pixel size: ascent 11 + descent 3, one row cut at the top
VAR_TOP = 1                        # rows of the FreeType box above the cell


def cellbytes(font, code, width, height, leftbit):
    """Rows of one glyph as bytes whose bit `leftbit` is column 0."""
    rows = font.cell(code, width, height)
    if rows is None:
        return [0] * height
    out = []
    for row in rows:
        v = 0
        for x, bit in enumerate(row):
            if bit:
                v |= 1 << (leftbit - x)
        out.append(v)
    return out


def fixedtable(path, width, height, leftbit):
    font = PcfFont(path)
    table = []
    for code in range(FIRST, LAST + 1):
        table += cellbytes(font, code, width, height, leftbit)
    return table


def vartable():
    from PIL import ImageFont
    font = ImageFont.truetype(DEJAVU, VAR_SIZE)
    widths = [0] * VAR_SLOTS
    rows = [0] * (VAR_SLOTS * VAR_ROWS)
    for code in range(FIRST, LAST + 1):
        if 127 <= code < 160:
            continue                # no printable characters there in ISO 8859-1
        ch = chr(code)
        advance = int(round(font.getlength(ch)))
        mask, (ox, oy) = font.getmask2(ch, mode="1")
        w = min(advance, 15)        # columns 0..w must fit in a 16-bit row word
        slot = code - FIRST
        widths[slot] = w
        mw, mh = mask.size
        for y in range(mh):
            cy = oy + y - VAR_TOP
            if not 0 <= cy < VAR_ROWS:
                continue
            for x in range(mw):
                cx = ox + x
                if mask.getpixel((x, y)) and 0 <= cx <= w:
                    rows[slot * VAR_ROWS + cy] |= 1 << (w - cx)
    return widths + rows


def carray(ctype, name, values, perline, digits):
    lines = ["%s const %s[%d] = {" % (ctype, name, len(values))]
    for i in range(0, len(values), perline):
        chunk = values[i:i + perline]
        lines.append("    " + ", ".join("0x%0*x" % (digits, v) for v in chunk) + ",")
    lines.append("};")
    return "\n".join(lines)


SAMPLE = "The quick brown fox: 0123456789 \u00c4\u00f6\u00fc\u00df \u00a9\u00ae\u00b5 [OK] {Cancel} @#$%&*"


def sheet(f6x13, f8x16, f5x6, var13, path):
    """Draws a sample line in each font from the generated tables, at 2x."""
    from PIL import Image
    im = Image.new("L", (560, 64), 255)

    def fixed(table, w, h, leftbit, y, text):
        x = 2
        for ch in text:
            c = ord(ch)
            if FIRST <= c <= LAST:
                for r, v in enumerate(table[(c - FIRST) * h:(c - FIRST + 1) * h]):
                    for col in range(w):
                        if v >> (leftbit - col) & 1:
                            im.putpixel((x + col, y + r), 0)
            x += w

    fixed(f6x13, 6, 13, 5, 2, SAMPLE)
    fixed(f8x16, 8, 16, 7, 17, SAMPLE)
    fixed(f5x6, 5, 6, 4, 35, SAMPLE.upper())
    x = 2
    for ch in SAMPLE:
        slot = ord(ch) - FIRST
        w = var13[slot]
        for r in range(VAR_ROWS):
            v = var13[VAR_SLOTS + slot * VAR_ROWS + r]
            for col in range(w + 1):
                if v >> (w - col) & 1:
                    im.putpixel((x + col, 44 + r), 0)
        x += w
    im.resize((im.width * 2, im.height * 2), Image.NEAREST).save(path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir", nargs="?", default=os.path.join(here, "..", "resources"))
    parser.add_argument("--sheet", help="also draw a preview PNG here")
    args = parser.parse_args()
    outdir, sheetpath = args.outdir, args.sheet
    f6x13 = fixedtable(os.path.join(MISC, "6x13-ISO8859-1.pcf.gz"), 6, 13, 5)
    f8x16 = fixedtable(os.path.join(MISC, "ter-u16n_iso-8859-1.pcf.gz"), 8, 16, 7)
    f5x6 = fixedtable(os.path.join(MISC, "5x7-ISO8859-1.pcf.gz"), 5, 6, 4)
    var13 = vartable()
    banner = "// Generated by tools/gen_builtinfonts.py: edit the generator, not this file.\n"
    header = banner + """// The glyph tables of the built-in fonts, one slot per character code 32..254
// (slot = code - 32). Sources and licences: resources/FONT-LICENSES.md.
#pragma once
#include "../framework/types.h"

namespace kzv {

const u32 FONT_FIRSTCODE = 32;
const u32 FONT_SLOTS = 223;

extern u8 const font6x13[223 * 13];    // a byte a row, top first; bit 5 is column 0
extern u8 const font8x16[223 * 16];    // bit 7 is column 0
extern u8 const font5x6[223 * 6];      // capitals; bit 4 is column 0
// 224 widths w, then 13 row words a slot; bit (w - column) is ink, columns 0..w.
extern u16 const fontvar13[224 + 224 * 13];

} // namespace kzv
"""
    source = banner + '#include "builtinfonts.h"\n\nnamespace kzv {\n\n'
    source += carray("u8", "font6x13", f6x13, 13, 2) + "\n\n"
    source += carray("u8", "font8x16", f8x16, 16, 2) + "\n\n"
    source += carray("u8", "font5x6", f5x6, 12, 2) + "\n\n"
    source += carray("u16", "fontvar13", var13, 13, 4) + "\n\n"
    source += "} // namespace kzv\n"
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "builtinfonts.h"), "w") as f:
        f.write(header)
    with open(os.path.join(outdir, "builtinfonts.cpp"), "w") as f:
        f.write(source)
    if sheetpath:
        sheet(f6x13, f8x16, f5x6, var13, sheetpath)


if __name__ == "__main__":
    main()
