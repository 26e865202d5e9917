"""An independent reader and writer of kzv images, written from the format's
description alone, to check the program's codec from outside.

Format: a 32-byte little-endian header -- b"kzv ", u16 0xEFCD, u8 encoding, u8 0,
u16 width, u16 height, u32 colour for 0 bits, u32 colour for 1 bits (encoding 55
only, else 0), 12 zero bytes -- then `height` rows, each encoded by itself, with
nothing between rows and nothing after the last one.

  54  u32 words: bits 0-23 colour 0xRRGGBB, bits 24-31 run length - 1
  55  (width + 7) // 8 bytes, bit 7 of the first byte is the leftmost pixel
  57  width x 4 bytes R, G, B, A
  58  triplets u8 count (0 adds no pixel), u16 RGB565 pixel

The reader is strict: a run that passes the end of its row, a short file or bytes
after the last row are errors, since the program's encoder never writes them.
"""
import random
import struct

HEADER = 32
ENCODINGS = (54, 55, 57, 58)


class KzvError(ValueError):
    pass


class Image:
    """rows[y][x] holds: 54 -> 0xRRGGBB, 55 -> 0 or 1, 57 -> (r, g, b, a),
    58 -> the 16-bit 565 value."""

    def __init__(self, encoding, width, height, rows, color0=0, color1=0, rowbytes=None):
        self.encoding = encoding
        self.width = width
        self.height = height
        self.rows = rows
        self.color0 = color0
        self.color1 = color1
        self.rowbytes = rowbytes      # 55: the raw bytes of each row, padding bits included

    def rgba(self, x, y):
        """The pixel as (r, g, b, a), alpha 255 for the encodings without alpha."""
        v = self.rows[y][x]
        if self.encoding == 54:
            return (v >> 16 & 255, v >> 8 & 255, v & 255, 255)
        if self.encoding == 55:
            c = self.color1 if v else self.color0
            return (c >> 16 & 255, c >> 8 & 255, c & 255, 255)
        if self.encoding == 57:
            return v
        r5, g6, b5 = v >> 11 & 31, v >> 5 & 63, v & 31
        return ((r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2), 255)

    def topil(self):
        from PIL import Image as PILImage
        im = PILImage.new("RGBA", (self.width, self.height))
        im.putdata([self.rgba(x, y) for y in range(self.height) for x in range(self.width)])
        return im


def header(encoding, width, height, color0=0, color1=0):
    return b"kzv " + struct.pack("<HBBHHII", 0xEFCD, encoding, 0, width, height,
                                 color0, color1) + bytes(12)


def read(blob):
    if len(blob) < HEADER:
        raise KzvError("shorter than the header")
    if blob[0:4] != b"kzv " or struct.unpack_from("<H", blob, 4)[0] != 0xEFCD:
        raise KzvError("no kzv magic")
    encoding, zero, width, height, color0, color1 = struct.unpack_from("<BBHHII", blob, 6)
    if encoding not in ENCODINGS:
        raise KzvError("encoding %d is not an image" % encoding)
    if zero != 0 or any(blob[20:32]):
        raise KzvError("reserved header bytes are not zero")
    if encoding != 55 and (color0 or color1):
        raise KzvError("colour words set outside encoding 55")
    pos = HEADER
    rows, rowbytes = [], []
    for y in range(height):
        row, pos, raw = _readrow(blob, pos, encoding, width, y)
        rows.append(row)
        rowbytes.append(raw)
    if pos != len(blob):
        raise KzvError("%d bytes after the last row" % (len(blob) - pos))
    return Image(encoding, width, height, rows, color0, color1,
                 rowbytes if encoding == 55 else None)


def _need(blob, pos, n, y):
    if pos + n > len(blob):
        raise KzvError("file ends inside row %d" % y)


def _readrow(blob, pos, encoding, width, y):
    row = []
    if encoding == 55:
        n = (width + 7) // 8
        _need(blob, pos, n, y)
        raw = blob[pos:pos + n]
        row = [raw[x // 8] >> (7 - x % 8) & 1 for x in range(width)]
        return row, pos + n, raw
    if encoding == 57:
        _need(blob, pos, width * 4, y)
        row = [tuple(blob[pos + 4 * x:pos + 4 * x + 4]) for x in range(width)]
        return row, pos + width * 4, None
    while len(row) < width:
        if encoding == 54:
            _need(blob, pos, 4, y)
            word = struct.unpack_from("<I", blob, pos)[0]
            pos += 4
            count, value = (word >> 24) + 1, word & 0xFFFFFF
        else:
            _need(blob, pos, 3, y)
            count, value = struct.unpack_from("<BH", blob, pos)
            pos += 3
        if len(row) + count > width:
            raise KzvError("a run passes the end of row %d" % y)
        row.extend([value] * count)
    return row, pos, None


def readfile(path):
    with open(path, "rb") as f:
        return read(f.read())


def _runs(row, longest, rng):
    """Runs of equal values; with rng, runs are also split at random places, which
    a reader must accept just the same."""
    out = []
    for v in row:
        if out and out[-1][0] == v and out[-1][1] < longest and not (rng and rng.random() < 0.2):
            out[-1][1] += 1
        else:
            out.append([v, 1])
    return out


def write(image, split_seed=None, zero_triplets=False):
    """Encodes an Image. Without split_seed the runs are the longest possible (the
    form the program's encoder must produce); with it, runs are cut at random and,
    for 58, count-0 triplets may be inserted."""
    rng = random.Random(split_seed) if split_seed is not None else None
    out = bytearray(header(image.encoding, image.width, image.height,
                           image.color0 if image.encoding == 55 else 0,
                           image.color1 if image.encoding == 55 else 0))
    for y, row in enumerate(image.rows):
        if image.encoding == 55:
            if image.rowbytes is not None:
                out += image.rowbytes[y]
            else:
                raw = bytearray((image.width + 7) // 8)
                for x, bit in enumerate(row):
                    if bit:
                        raw[x // 8] |= 0x80 >> (x % 8)
                out += raw
        elif image.encoding == 57:
            for px in row:
                out += bytes(px)
        elif image.encoding == 54:
            for v, n in _runs(row, 256, rng):
                out += struct.pack("<I", v | (n - 1) << 24)
        else:
            for v, n in _runs(row, 255, rng):
                if zero_triplets and rng and rng.random() < 0.1:
                    out += struct.pack("<BH", 0, rng.randrange(65536))
                out += struct.pack("<BH", n, v)
    return bytes(out)
