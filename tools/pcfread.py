"""Reads the glyphs of a PCF bitmap font (the compiled X11 font format, usually
gzip-compressed) into fixed cells. Used by the built-in font generator.

PCF facts relied on: the file starts with b"\\x01fcp", a little-endian table count
and a table of contents of (type, format, size, offset). Every table starts with
its format word, always little-endian; the format's bit 2 makes the rest of the
table big-endian, bit 3 puts the leftmost pixel in bit 7, bits 0-1 give the row
padding (1 << n bytes) and bits 4-5 the scan unit. Metrics may be compressed
(format bit 8): five bytes each, value + 0x80.
"""
import gzip
import struct

METRICS, BITMAPS, ENCODINGS, BDF_ACCELERATORS, ACCELERATORS = 4, 8, 32, 256, 2


class PcfFont:
    def __init__(self, path):
        blob = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
        if blob[:4] != b"\x01fcp":
            raise ValueError("%s is not a PCF font" % path)
        count = struct.unpack_from("<i", blob, 4)[0]
        self.blob = blob
        self.tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<iiii", blob, 8 + 16 * i)
            self.tables[kind] = offset
        self._readaccelerators()
        self._readmetrics()
        self._readbitmaps()
        self._readencodings()

    def _table(self, kind):
        offset = self.tables[kind]
        fmt = struct.unpack_from("<i", self.blob, offset)[0]
        return fmt, offset + 4, ">" if fmt & 4 else "<"

    def _readaccelerators(self):
        kind = BDF_ACCELERATORS if BDF_ACCELERATORS in self.tables else ACCELERATORS
        fmt, pos, order = self._table(kind)
        self.ascent, self.descent = struct.unpack_from(order + "ii", self.blob, pos + 8)

    def _readmetrics(self):
        fmt, pos, order = self._table(METRICS)
        self.metrics = []
        if fmt & 0x100:
            count = struct.unpack_from(order + "h", self.blob, pos)[0]
            pos += 2
            for i in range(count):
                lsb, rsb, width, asc, desc = (b - 0x80 for b in self.blob[pos:pos + 5])
                self.metrics.append((lsb, rsb, width, asc, desc))
                pos += 5
        else:
            count = struct.unpack_from(order + "i", self.blob, pos)[0]
            pos += 4
            for i in range(count):
                self.metrics.append(struct.unpack_from(order + "hhhhh", self.blob, pos))
                pos += 12

    def _readbitmaps(self):
        fmt, pos, order = self._table(BITMAPS)
        count = struct.unpack_from(order + "i", self.blob, pos)[0]
        offsets = struct.unpack_from(order + "%di" % count, self.blob, pos + 4)
        data = pos + 4 + 4 * count + 16
        pad = 1 << (fmt & 3)
        unit = 1 << ((fmt >> 4) & 3)
        msbit = bool(fmt & 8)
        msbyte = bool(fmt & 4)
        self.glyphs = []
        for index, (lsb, rsb, width, asc, desc) in enumerate(self.metrics):
            w, h = rsb - lsb, asc + desc
            stride = ((w + 7) // 8 + pad - 1) // pad * pad
            raw = bytearray(self.blob[data + offsets[index]:data + offsets[index] + stride * h])
            if msbyte != msbit and unit > 1:
                for i in range(0, len(raw), unit):
                    raw[i:i + unit] = raw[i:i + unit][::-1]
            if not msbit:
                raw = bytearray(int("{:08b}".format(b)[::-1], 2) for b in raw)
            rows = []
            for y in range(h):
                line = raw[y * stride:(y + 1) * stride]
                rows.append([line[x // 8] >> (7 - x % 8) & 1 for x in range(w)])
            self.glyphs.append(rows)

    def _readencodings(self):
        fmt, pos, order = self._table(ENCODINGS)
        min2, max2, min1, max1, default = struct.unpack_from(order + "hhhhh", self.blob, pos)
        pos += 10
        self.index = {}
        span = max2 - min2 + 1
        for b1 in range(min1, max1 + 1):
            for b2 in range(min2, max2 + 1):
                i = struct.unpack_from(order + "H", self.blob, pos + 2 * ((b1 - min1) * span + b2 - min2))[0]
                if i != 0xFFFF:
                    self.index[b1 * 256 + b2] = i

    def cell(self, code, width, height, top=0):
        """The glyph of `code` as height rows of width pixels (0/1), placed in a cell
        whose baseline is `ascent - top` rows down; None when the font lacks it."""
        if code not in self.index:
            return None
        i = self.index[code]
        lsb, rsb, advance, asc, desc = self.metrics[i]
        rows = [[0] * width for _ in range(height)]
        for y, line in enumerate(self.glyphs[i]):
            cy = self.ascent - asc + y - top
            if not 0 <= cy < height:
                continue
            for x, bit in enumerate(line):
                cx = lsb + x
                if bit and 0 <= cx < width:
                    rows[cy][cx] = 1
        return rows
