#!/usr/bin/env python3
"""Writes test_fbcompose_cases.h: framebuffer compositions made with Pillow, for
the unit test of the framebuffer back-end's composition of placed buffers.

Each case is a framebuffer (width x height pixels, rows `stride` pixels apart,
every word first 0x5A5A5A5A), an enlargement factor, the halves drawn (0 top,
1 bottom) and the placed buffers. Pillow draws the reference: the buffer
enlarged with nearest-neighbour resampling, pasted at (f x, f y) into the part of
the framebuffer that the half covers, in whole screen units (the screen is
width / f by height / f units, the half boundary (height / f) / 2 units); a
buffer of format 8888 is pasted through a mask that leaves out pixels of alpha
5 or less. Factors other than 2 draw as 1. Words 0xAARRGGBB are RGBA pixels.

Run: python3 tests/unit/test_fbcompose_cases.py  (rewrites the header)
     python3 tests/unit/test_fbcompose_cases.py --check  (exit 1 if it differs)
"""
import os
import random

from PIL import Image

from test_str_gentable import header, write_or_check

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, "test_fbcompose_cases.h")
SEED = 20261211
SENTINEL = 0x5A5A5A5A
ALPHAS = [0, 1, 5, 6, 7, 128, 250, 255]

# name, width, height, stride, factor, halves, entries (x, y, w, h, format)
CASES = [
    ("top half", 13, 10, 16, 1, [0], [(2, 1, 5, 7, 888)]),
    ("bottom half", 13, 10, 16, 1, [1], [(2, 1, 5, 7, 888)]),
    ("both halves", 13, 10, 16, 1, [0, 1], [(2, 1, 5, 7, 888)]),
    ("negative x and y", 13, 10, 13, 1, [0, 1], [(-3, -2, 7, 6, 888)]),
    ("past the right and bottom", 13, 11, 20, 1, [0, 1], [(9, 7, 8, 8, 888)]),
    ("wholly outside", 13, 10, 16, 1, [0, 1], [(13, 0, 4, 4, 888), (0, -4, 4, 4, 888)]),
    ("8888 onto 888", 13, 10, 16, 1, [0, 1], [(1, 1, 9, 8, 888), (3, 2, 8, 7, 8888)]),
    ("factor 2", 13, 11, 16, 2, [0, 1], [(1, 1, 4, 3, 888)]),
    ("factor 2 bottom half", 13, 11, 16, 2, [1], [(1, 1, 4, 3, 888)]),
    ("factor 2 negative, keyed", 14, 12, 17, 2, [0, 1], [(-2, -1, 5, 5, 8888)]),
    ("factor 3 draws as 1", 13, 10, 16, 3, [0, 1], [(4, 3, 5, 5, 888)]),
    ("factor 0 draws as 1", 13, 10, 16, 0, [0, 1], [(-1, 6, 5, 5, 8888)]),
]


def rgba(word):
    return ((word >> 16) & 255, (word >> 8) & 255, word & 255, word >> 24)


def word(pixel):
    r, g, b, a = pixel
    return (a << 24) | (r << 16) | (g << 8) | b


def source(rng, w, h, fmt):
    words = []
    for _ in range(w * h):
        colour = rng.getrandbits(24)
        alpha = rng.choice(ALPHAS) if fmt == 8888 else rng.getrandbits(8)
        words.append((alpha << 24) | colour)
    return words


def compose(width, height, stride, factor, halves, entries):
    f = 2 if factor == 2 else 1
    target = Image.new("RGBA", (stride, height), rgba(SENTINEL))
    units_wide, units_high = width // f, height // f
    boundary = units_high // 2
    for half in halves:
        top, bottom = (0, boundary) if half == 0 else (boundary, units_high)
        box = (0, top * f, units_wide * f, bottom * f)
        if box[2] <= box[0] or box[3] <= box[1]:
            continue
        region = target.crop(box)
        for x, y, w, h, fmt, words in entries:
            im = Image.new("RGBA", (w, h))
            im.putdata([rgba(v) for v in words])
            if f == 2:
                im = im.resize((2 * w, 2 * h), Image.NEAREST)
            at = (x * f - box[0], y * f - box[1])
            if fmt == 8888:
                mask = im.getchannel("A").point(lambda a: 255 if a >= 6 else 0)
                region.paste(im, at, mask)
            else:
                region.paste(im, at)
        target.paste(region, box[:2])
    return [word(p) for p in target.getdata()]


def words_text(name, words):
    lines = [f"static const u32 {name}[] = {{"]
    for i in range(0, len(words), 8):
        lines.append("    " + " ".join(f"0x{v:08x}," for v in words[i:i + 8]))
    lines.append("};")
    return lines


def main():
    rng = random.Random(SEED)
    lines = header("test_fbcompose_cases.py", "Framebuffer compositions drawn by Pillow.")
    table = []
    for n, (name, width, height, stride, factor, halves, entries) in enumerate(CASES):
        placed = []
        entry_rows = []
        for k, (x, y, w, h, fmt) in enumerate(entries):
            words = source(rng, w, h, fmt)
            placed.append((x, y, w, h, fmt, words))
            lines += words_text(f"fbsource_{n}_{k}", words)
            entry_rows.append(f"{{{x}, {y}, {w}, {h}, {fmt}, fbsource_{n}_{k}}}")
        lines += words_text(f"fbexpected_{n}", compose(width, height, stride, factor, halves, placed))
        mask = sum(1 << h for h in halves)
        rows = ", ".join(entry_rows)
        table.append(f'    {{"{name}", {width}, {height}, {stride}, {factor}, {mask}, {len(entries)}, '
                     f"{{{rows}}}, fbexpected_{n}}},")
    lines += [
        "",
        "struct fbcomposeplaced { s32 x, y; u32 width, height, format; u32 const* pixels; };",
        "struct fbcomposecase {",
        "    char const* name;",
        "    u32 width, height, stride, factor;",
        "    u32 halves;             // bit n: half n is drawn",
        "    u32 count;",
        "    fbcomposeplaced entries[2];",
        "    u32 const* expected;    // stride x height words",
        "};",
        f"const u32 FBCOMPOSE_SENTINEL = 0x{SENTINEL:08x};",
        "static const fbcomposecase fbcomposecases[] = {",
    ] + table + ["};", ""]
    write_or_check(OUTPUT, "\n".join(lines))


if __name__ == "__main__":
    main()
