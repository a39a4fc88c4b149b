#!/usr/bin/env python3
"""Writes scene/painter/painter_fonts.cpp: the painter's two bitmap faces and its stroke font.

Sources (Debian packages; run `apt-get download xfonts-base hershey-fonts-data` and
`dpkg-deb -x` them somewhere, or install them, then pass the folders):

  bitmap faces: the misc-fixed faces of xfonts-base ("Public domain font. Share and enjoy.",
    font-misc-misc/COPYING). The 8 x 16 face is the 12 x 24 face shrunk by 1.5 with area
    averaging and quantised to the four ink levels (none, one third, two thirds, full); the
    6 x 13 face is taken as it is (full ink only): shrunk larger faces lose their strokes at
    that size.
  stroke font: the Hershey simplex roman glyphs of hershey-fonts-data (rowmans.jhf). The
    Hershey Fonts were originally created by Dr. A. V. Hershey while working at the U. S.
    National Bureau of Standards. The format of the font data in that distribution was
    originally created by James Hurt, Cognition, Inc., 900 Technology Park Drive, Billerica,
    MA 01821. Code 127 (not a Hershey glyph) is a small circle of our own.

Usage: make_painter_fonts.py [misc font folder] [hershey folder] > scene/painter/painter_fonts.cpp
       clang-format -i scene/painter/painter_fonts.cpp
"""

import gzip
import struct
import sys

MISC = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/X11/misc"
HERSHEY = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/hershey-fonts"

PCF_ACCELERATORS = 1 << 1
PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5


class Pcf:
    """The few tables of a PCF font needed to draw its glyphs."""

    def __init__(self, path):
        data = gzip.open(path).read()
        assert data[:4] == b"\x01fcp", path
        (count,) = struct.unpack_from("<I", data, 4)
        self.tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<IIII", data, 8 + 16 * i)
            self.tables[kind] = (fmt, data[offset : offset + size])
        self._read_accelerators()
        self._read_metrics()
        self._read_bitmaps()
        self._read_encodings()

    @staticmethod
    def _order(fmt):
        return ">" if fmt & 4 else "<"

    def _table(self, kind):
        fmt, body = self.tables[kind]
        (fmt2,) = struct.unpack_from("<I", body, 0)
        return fmt2, body

    def _read_accelerators(self):
        fmt, body = self._table(PCF_ACCELERATORS)
        o = self._order(fmt)
        self.ascent, self.descent = struct.unpack_from(o + "ii", body, 4 + 8)

    def _read_metrics(self):
        fmt, body = self._table(PCF_METRICS)
        o = self._order(fmt)
        self.metrics = []
        if fmt & 0x100:  # compressed
            (n,) = struct.unpack_from(o + "H", body, 4)
            for i in range(n):
                v = [b - 0x80 for b in body[6 + 5 * i : 11 + 5 * i]]
                self.metrics.append(tuple(v))  # left, right, width, ascent, descent
        else:
            (n,) = struct.unpack_from(o + "I", body, 4)
            for i in range(n):
                self.metrics.append(struct.unpack_from(o + "hhhhh", body, 8 + 12 * i)[:5])

    def _read_bitmaps(self):
        fmt, body = self._table(PCF_BITMAPS)
        o = self._order(fmt)
        (n,) = struct.unpack_from(o + "I", body, 4)
        self.offsets = struct.unpack_from(o + "%dI" % n, body, 8)
        sizes_at = 8 + 4 * n
        self.pad = 1 << (fmt & 3)
        self.msbit = bool(fmt & 8)
        self.bits = body[sizes_at + 16 :]

    def _read_encodings(self):
        fmt, body = self._table(PCF_BDF_ENCODINGS)
        o = self._order(fmt)
        min_c2, max_c2, min_c1, max_c1, default = struct.unpack_from(o + "hhhhh", body, 4)
        cols = max_c2 - min_c2 + 1
        rows = max_c1 - min_c1 + 1
        idx = struct.unpack_from(o + "%dH" % (cols * rows), body, 14)
        self.glyph_of = {}
        for r in range(rows):
            for c in range(cols):
                g = idx[r * cols + c]
                if g != 0xFFFF:
                    self.glyph_of[((min_c1 + r) << 8) | (min_c2 + c)] = g

    def cell(self, code):
        """The glyph of a code as rows of 0/1 over the whole cell (advance x ascent+descent)."""
        g = self.glyph_of.get(code)
        width = self.metrics[0][2]
        height = self.ascent + self.descent
        cell = [[0] * width for _ in range(height)]
        if g is None:
            return cell
        left, right, _, ascent, descent = self.metrics[g]
        row_bytes = ((right - left + 7) // 8 + self.pad - 1) // self.pad * self.pad
        base = self.offsets[g]
        for y in range(ascent + descent):
            row = self.bits[base + y * row_bytes : base + (y + 1) * row_bytes]
            for x in range(right - left):
                byte = row[x // 8]
                bit = (byte >> (7 - x % 8)) & 1 if self.msbit else (byte >> (x % 8)) & 1
                cy = self.ascent - ascent + y
                cx = left + x
                if bit and 0 <= cy < height and 0 <= cx < width:
                    cell[cy][cx] = 1
        return cell


def shrink(cell, width, height):
    """Area-average a cell onto width x height pixels; ink levels 0..3."""
    sh, sw = len(cell), len(cell[0])
    fx, fy = sw / width, sh / height
    out = []
    for y in range(height):
        row = []
        for x in range(width):
            total = 0.0
            y0, y1 = y * fy, (y + 1) * fy
            x0, x1 = x * fx, (x + 1) * fx
            for sy in range(int(y0), min(sh, int(y1 + 0.999999))):
                wy = min(y1, sy + 1) - max(y0, sy)
                if wy <= 0:
                    continue
                for sx in range(int(x0), min(sw, int(x1 + 0.999999))):
                    wx = min(x1, sx + 1) - max(x0, sx)
                    if wx > 0 and cell[sy][sx]:
                        total += wx * wy
            row.append(min(3, int(total / (fx * fy) * 3 + 0.5)))
        out.append(row)
    return out


def has_ink(code):
    return (33 <= code <= 126 or 161 <= code <= 255) and code not in (222, 240, 254)


def bitmap_table(font, width, height):
    """256 offsets, then per code a row mask and one word of 2-bit pixels per set row."""
    words = [0] * 256
    glyphs = []
    for code in range(256):
        words[code] = 256 + len(glyphs)
        mask = 0
        rows = []
        if has_ink(code):
            for y, row in enumerate(shrink(font.cell(code), width, height)):
                value = sum(level << (2 * x) for x, level in enumerate(row))
                if value:
                    mask |= 1 << y
                    rows.append(value)
        glyphs.append(mask)
        glyphs.extend(rows)
    return words + glyphs


def read_hershey(path):
    """Glyphs of a .jhf file in file order: (left, right, [points or None for pen up])."""
    text = open(path).read().split("\n")
    glyphs = []
    i = 0
    while i < len(text):
        line = text[i]
        i += 1
        if not line.strip():
            continue
        count = int(line[5:8])
        body = line[8:]
        while len(body) < 2 * count and i < len(text):
            body += text[i]
            i += 1
        left, right = ord(body[0]) - ord("R"), ord(body[1]) - ord("R")
        entries = []
        for k in range(1, count):
            a, b = body[2 * k], body[2 * k + 1]
            entries.append(None if a + b == " R" else (ord(a) - ord("R"), ord(b) - ord("R")))
        glyphs.append((left, right, entries))
    return glyphs


CIRCLE = (-7, 7, [(-1, -12), (-3, -11), (-4, -9), (-4, -7), (-3, -5), (-1, -4), (1, -4),
                  (3, -5), (4, -7), (4, -9), (3, -11), (1, -12), (-1, -12)])


def stroke_table():
    glyphs = read_hershey(HERSHEY + "/rowmans.jhf")[:95] + [CIRCLE]
    assert len(glyphs) == 96
    offsets, data = [], []
    for left, right, entries in glyphs:
        offsets.append(len(data))
        data += [left, right, len(entries)]
        for e in entries:
            data += [-128] if e is None else list(e)
    assert len(data) < 65536
    return offsets, data


def emit(name, kind, values, per_line):
    print("const %s %s[%d] = {" % (kind, name, len(values)))
    for i in range(0, len(values), per_line):
        print("    " + ", ".join(str(v) for v in values[i : i + per_line]) + ",")
    print("};")
    print()


def main():
    face16 = Pcf(MISC + "/12x24.pcf.gz")
    face13 = Pcf(MISC + "/6x13-ISO8859-1.pcf.gz")
    offsets, data = stroke_table()
    print("// Generated by scripts/make_painter_fonts.py; do not edit.")
    print("// Bitmap faces from the public-domain misc-fixed 12x24 (shrunk) and 6x13 faces; stroke")
    print("// glyphs from the Hershey simplex roman font. The Hershey Fonts were originally created")
    print("// by Dr. A. V. Hershey while working at the U. S. National Bureau of Standards. The")
    print("// format of the font data they came in was originally created by James Hurt,")
    print("// Cognition, Inc., 900 Technology Park Drive, Billerica, MA 01821.")
    print('#include "scene/painter/painter_fonts.h"')
    print()
    print("namespace painter_fonts {")
    print()
    emit("kFont8x16", "uint16_t", bitmap_table(face16, 8, 16), 12)
    emit("kFont6x13", "uint16_t", bitmap_table(face13, 6, 13), 12)
    emit("kStrokeOffsets", "uint16_t", offsets, 16)
    emit("kStrokeGlyphs", "int8_t", data, 20)
    print("}  // namespace painter_fonts")


if __name__ == "__main__":
    main()
