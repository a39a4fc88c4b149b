#!/usr/bin/env python3
"""Draws the main window's icons and logo into app/qt/resource/.

The pictures are simple geometric drawings of our own: filled polygons, thick lines and
discs rendered with 4x4 supersampling, written as PNG (RGBA, through zlib) or as XPM text
(alpha cut at one half, colours rounded to 4 bits a channel). Only the standard library is
used, so the files can be redrawn anywhere:

    scripts/draw_main_window_icons.py [output folder]
"""

import math
import os
import struct
import sys
import zlib

SS = 4  # supersampling factor per axis


class Canvas:
    """An RGBA float canvas addressed in icon units; each unit holds SS x SS samples."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * (w * SS) for _ in range(h * SS)]

    def _blend(self, x, y, rgba):
        r, g, b, a = rgba
        if a >= 1.0:
            self.px[y][x] = (r, g, b, 1.0)
            return
        pr, pg, pb, pa = self.px[y][x]
        oa = a + pa * (1 - a)
        if oa <= 0:
            return
        self.px[y][x] = ((r * a + pr * pa * (1 - a)) / oa, (g * a + pg * pa * (1 - a)) / oa,
                         (b * a + pb * pa * (1 - a)) / oa, oa)

    def fill(self, inside, rgba, box=None):
        """Sets every sample whose centre (in icon units) satisfies inside(x, y)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        sx0, sy0 = max(0, int(x0 * SS) - 1), max(0, int(y0 * SS) - 1)
        sx1, sy1 = min(self.w * SS, int(x1 * SS) + 2), min(self.h * SS, int(y1 * SS) + 2)
        c = colour(rgba)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            for sx in range(sx0, sx1):
                if inside((sx + 0.5) / SS, y):
                    self._blend(sx, sy, c)

    def poly(self, pts, rgba):
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]

        def inside(x, y):
            odd, j = False, len(pts) - 1
            for i in range(len(pts)):
                (xi, yi), (xj, yj) = pts[i], pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    odd = not odd
                j = i
            return odd

        self.fill(inside, rgba, (min(xs), min(ys), max(xs), max(ys)))

    def rect(self, x, y, w, h, rgba):
        self.poly([(x, y), (x + w, y), (x + w, y + h), (x, y + h)], rgba)

    def disc(self, cx, cy, r, rgba):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, rgba, (cx - r, cy - r, cx + r, cy + r))

    def ellipse(self, cx, cy, rx, ry, rgba):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1, rgba,
                  (cx - rx, cy - ry, cx + rx, cy + ry))

    def ring(self, cx, cy, r, width, rgba):
        lo, hi = r - width / 2, r + width / 2
        self.fill(lambda x, y: lo * lo <= (x - cx) ** 2 + (y - cy) ** 2 <= hi * hi, rgba,
                  (cx - hi, cy - hi, cx + hi, cy + hi))

    def line(self, x0, y0, x1, y1, width, rgba):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9
        half = width / 2

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            px, py = x0 + t * dx - x, y0 + t * dy - y
            return px * px + py * py <= half * half

        self.fill(inside, rgba, (min(x0, x1) - half, min(y0, y1) - half, max(x0, x1) + half, max(y0, y1) + half))

    def polyline(self, pts, width, rgba, closed=False):
        seq = pts + [pts[0]] if closed else pts
        for a, b in zip(seq, seq[1:]):
            self.line(a[0], a[1], b[0], b[1], width, rgba)

    def dashed(self, pts, width, rgba, dash=2.0, closed=True):
        seq = pts + [pts[0]] if closed else pts
        on, left = True, dash
        for (ax, ay), (bx, by) in zip(seq, seq[1:]):
            seg = math.hypot(bx - ax, by - ay)
            pos = 0.0
            while pos < seg - 1e-9:
                step = min(left, seg - pos)
                if on:
                    t0, t1 = pos / seg, (pos + step) / seg
                    self.line(ax + (bx - ax) * t0, ay + (by - ay) * t0, ax + (bx - ax) * t1,
                              ay + (by - ay) * t1, width, rgba)
                pos += step
                left -= step
                if left <= 1e-9:
                    on, left = not on, dash

    def arrow_head(self, tip, direction, size, rgba):
        dx, dy = direction
        n = math.hypot(dx, dy)
        dx, dy = dx / n, dy / n
        bx, by = tip[0] - dx * size, tip[1] - dy * size
        self.poly([tip, (bx - dy * size * 0.6, by + dx * size * 0.6), (bx + dy * size * 0.6, by - dx * size * 0.6)],
                  rgba)

    def pixels(self):
        """Averages the samples into whole pixels: rows of (r, g, b, a) as 0..255 integers."""
        rows = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                r = g = b = a = 0.0
                for sy in range(y * SS, y * SS + SS):
                    for sx in range(x * SS, x * SS + SS):
                        pr, pg, pb, pa = self.px[sy][sx]
                        r, g, b, a = r + pr * pa, g + pg * pa, b + pb * pa, a + pa
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                a /= SS * SS
                row.append(tuple(int(round(v * 255)) for v in (r, g, b, a)))
            rows.append(row)
        return rows


def colour(c):
    if isinstance(c, str):
        v = int(c.lstrip("#"), 16)
        if len(c.lstrip("#")) == 6:
            return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, 1.0)
        return ((v >> 24 & 255) / 255, (v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255)
    return c


def write_png(path, rows):
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def write_xpm(path, rows):
    h, w = len(rows), len(rows[0])
    symbols = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=@"
    palette = {None: ".."}
    grid = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            key = None if a < 128 else "#%02X%02X%02X" % tuple(min(255, (v + 8) // 17 * 17) for v in (r, g, b))
            if key not in palette:
                i = len(palette) - 1
                palette[key] = symbols[i // len(symbols)] + symbols[i % len(symbols)]
            line.append(palette[key])
        grid.append("".join(line))
    name = os.path.splitext(os.path.basename(path))[0].replace("-", "_")
    out = ["/* XPM */", "static const char *%s_xpm[] = {" % ("i" + name if name[0].isdigit() else name),
           '"%d %d %d 2",' % (w, h, len(palette))]
    for key, sym in palette.items():
        out.append('"%s c %s",' % (sym, "None" if key is None else key))
    out += ['"%s",' % line for line in grid[:-1]] + ['"%s"' % grid[-1], "};", ""]
    with open(path, "w") as f:
        f.write("\n".join(out))


# ---- the drawings ------------------------------------------------------------------------

INK = "#303840"
GREY = "#8A949E"
PAPER = "#F4F6F8"
BLUE = "#3778C2"
LIGHT_BLUE = "#9CC3EA"
GREEN = "#3F9C4A"
ORANGE = "#E58A2B"
RED = "#C8413A"
YELLOW = "#F0C24B"


def page(c, x=4, y=2, w=14, h=18):
    fold = 5
    c.poly([(x, y), (x + w - fold, y), (x + w, y + fold), (x + w, y + h), (x, y + h)], INK)
    c.poly([(x + 1, y + 1), (x + w - fold - 0.4, y + 1), (x + w - 1, y + fold + 0.4), (x + w - 1, y + h - 1),
            (x + 1, y + h - 1)], PAPER)
    c.poly([(x + w - fold, y), (x + w - fold, y + fold), (x + w, y + fold)], GREY)


def file_new(c):
    page(c)
    c.disc(16.5, 16.5, 4.5, GREEN)
    c.line(16.5, 14, 16.5, 19, 1.6, PAPER)
    c.line(14, 16.5, 19, 16.5, 1.6, PAPER)


def file_open(c):
    c.poly([(2, 5), (8, 5), (10, 7), (19, 7), (19, 18), (2, 18)], "#B98A22")
    c.poly([(4.5, 10), (21, 10), (18.5, 18), (2, 18)], YELLOW)


def floppy(c):
    c.poly([(3, 3), (16, 3), (19, 6), (19, 19), (3, 19)], BLUE)
    c.rect(6, 3, 9, 6, PAPER)
    c.rect(12, 4, 2, 4, BLUE)
    c.rect(5.5, 12, 11, 7, LIGHT_BLUE)


def file_save(c):
    floppy(c)


def save_as(c):
    floppy(c)
    c.poly([(20.5, 10.5), (22, 12), (14, 20), (12, 20.5), (12.5, 18.5)], ORANGE)
    c.line(12.5, 18.5, 14, 20, 0.8, INK)


def curved_arrow(c, mirror):
    def m(x):
        return 22 - x if mirror else x

    pts = [(m(11 + 6 * math.cos(a)), 12 - 6 * math.sin(a)) for a in
           [math.radians(d) for d in range(90, -91, -10)]]
    pts = [(m(6), 6)] + pts + [(m(8), 18)]
    c.polyline(pts, 2.4, GREEN)
    c.arrow_head((m(2), 6), (-1 if not mirror else 1, 0), 5, GREEN)


def undo(c):
    curved_arrow(c, False)


def redo(c):
    curved_arrow(c, True)


def question(c):
    c.disc(11, 11, 10, BLUE)
    pts = [(11 + 3.5 * math.cos(math.radians(a)), 8.5 - 3.5 * math.sin(math.radians(a))) for a in range(160, -91, -15)]
    c.polyline(pts + [(11, 14)], 2.2, PAPER)
    c.disc(11, 17, 1.4, PAPER)


def rectangle_select(c):
    c.dashed([(3, 4), (19, 4), (19, 18), (3, 18)], 1.4, INK)


def circle_select(c):
    pts = [(11 + 8 * math.cos(math.radians(a)), 11 + 8 * math.sin(math.radians(a))) for a in range(0, 360, 10)]
    c.dashed(pts, 1.4, INK)


def lasso_select(c):
    pts = [(4, 9), (7, 4), (13, 3), (19, 6), (18, 11), (12, 13), (7, 13), (5, 11)]
    c.dashed(pts, 1.4, INK)
    c.polyline([(5, 11), (6, 15), (4, 18), (6, 20)], 1.4, INK)


def reset_property(c):
    pts = [(11 + 6.5 * math.cos(math.radians(a)), 11 - 6.5 * math.sin(math.radians(a))) for a in range(120, -181, -15)]
    c.polyline(pts, 2.2, RED)
    c.arrow_head((11 + 6.5 * math.cos(math.radians(120)) - 1.5, 11 - 6.5 * math.sin(math.radians(120)) + 2.5),
                 (-0.6, 1), 5, RED)


def cone(c):
    c.ellipse(11, 17, 8, 3, "#6C8FB8")
    c.poly([(11, 2), (3, 17), (19, 17)], LIGHT_BLUE)
    c.poly([(11, 2), (11, 20), (19, 17)], "#7FA8D6")
    c.polyline([(3, 17), (11, 2), (19, 17)], 1.0, INK)


def cube(c):
    top = [(11, 2), (20, 6.5), (11, 11), (2, 6.5)]
    left = [(2, 6.5), (11, 11), (11, 21), (2, 16.5)]
    right = [(11, 11), (20, 6.5), (20, 16.5), (11, 21)]
    c.poly(top, "#C9DDF2")
    c.poly(left, LIGHT_BLUE)
    c.poly(right, "#6C8FB8")
    for face in (top, left, right):
        c.polyline(face, 1.0, INK, closed=True)


def plane(c):
    quad = [(6, 5), (21, 5), (16, 17), (1, 17)]
    c.poly(quad, LIGHT_BLUE)
    c.polyline(quad, 1.0, INK, closed=True)


def mesh(c):
    quad = [(6, 5), (21, 5), (16, 17), (1, 17)]
    c.poly(quad, "#C9DDF2")

    def at(u, v):  # bilinear point of the quad
        top = (quad[0][0] + (quad[1][0] - quad[0][0]) * u, quad[0][1])
        bottom = (quad[3][0] + (quad[2][0] - quad[3][0]) * u, quad[3][1])
        return (top[0] + (bottom[0] - top[0]) * v, top[1] + (bottom[1] - top[1]) * v)

    for i in range(4):
        t = i / 3
        c.line(*at(t, 0), *at(t, 1), 0.9, INK)
        c.line(*at(0, t), *at(1, t), 0.9, INK)
    for i in range(3):
        for j in range(3):
            c.line(*at(i / 3, j / 3), *at((i + 1) / 3, (j + 1) / 3), 0.7, INK)


def logo(c):
    # A lens seen from the front with a tracked camera path sweeping past it.
    c.disc(40, 40, 30, INK)
    c.disc(40, 40, 24, "#4A5A6A")
    c.disc(40, 40, 16, BLUE)
    c.disc(34, 33, 5, "#C9DDF2")
    pts = [(76 + 70 * t, 58 - 34 * math.sin(math.pi * t * 0.9)) for t in [i / 20 for i in range(21)]]
    c.polyline(pts, 3, ORANGE)
    for x, y in pts[::4]:
        c.rect(x - 3, y - 3, 6, 6, INK)
        c.rect(x - 1.8, y - 1.8, 3.6, 3.6, PAPER)


def film(c):
    c.rect(2, 3, 12, 10, INK)
    c.rect(4, 5, 12, 10, "#505A64")
    c.rect(5, 6, 10, 8, LIGHT_BLUE)
    c.poly([(5, 14), (9, 9), (12, 12), (15, 9), (15, 14)], GREEN)


def distortion(c):
    for k in range(4):
        x = 2.5 + k * 3.7
        bow = (x - 8) * 0.7
        c.polyline([(x - bow * (1 - ((y - 8) / 6) ** 2), y) for y in range(2, 15)], 1.0, INK)
        y = 2.5 + k * 3.7
        bow = (y - 8) * 0.7
        c.polyline([(x2, y - bow * (1 - ((x2 - 8) / 6) ** 2)) for x2 in range(2, 15)], 1.0, INK)


def mask_edit(c):
    pts = [(3, 4), (12, 2), (14, 10), (7, 14), (2, 10)]
    c.poly(pts, "#E8A0A0A0")
    c.polyline(pts, 1.0, RED, closed=True)
    for x, y in pts:
        c.rect(x - 1.2, y - 1.2, 2.4, 2.4, INK)


def tracking(c):
    c.ring(8, 8, 5, 1.2, INK)
    c.line(8, 0.5, 8, 5, 1.2, INK)
    c.line(8, 11, 8, 15.5, 1.2, INK)
    c.line(0.5, 8, 5, 8, 1.2, INK)
    c.line(11, 8, 15.5, 8, 1.2, INK)
    c.rect(6.8, 6.8, 2.4, 2.4, RED)


def test_scene(c):
    for i in range(5):
        c.line(1 + i * 3.5, 15, 4 + i * 2.2, 11, 0.8, GREY)
    c.line(1, 15, 15, 15, 0.8, GREY)
    c.line(4, 11, 12.8, 11, 0.8, GREY)
    top = [(8, 1.5), (13, 4), (8, 6.5), (3, 4)]
    c.poly(top, "#C9DDF2")
    c.poly([(3, 4), (8, 6.5), (8, 12), (3, 9.5)], LIGHT_BLUE)
    c.poly([(8, 6.5), (13, 4), (13, 9.5), (8, 12)], "#6C8FB8")


def export(c):
    c.rect(1.5, 6, 9, 8.5, INK)
    c.rect(2.7, 7.2, 6.6, 6.1, PAPER)
    c.line(5, 10, 12, 3.5, 1.8, GREEN)
    c.arrow_head((15, 1), (1, -0.9), 5, GREEN)


def scene_view(c):
    cube(c)


def image_view(c):
    c.rect(1, 3, 20, 16, INK)
    c.rect(2.5, 4.5, 17, 13, LIGHT_BLUE)
    c.disc(15, 8, 2, YELLOW)
    c.poly([(2.5, 17.5), (8, 9), (12, 14), (15, 11), (19.5, 17.5)], GREEN)


def translate(c):
    c.line(11, 4, 11, 18, 1.8, INK)
    c.line(4, 11, 18, 11, 1.8, INK)
    c.arrow_head((11, 1), (0, -1), 4.5, RED)
    c.arrow_head((11, 21), (0, 1), 4.5, RED)
    c.arrow_head((1, 11), (-1, 0), 4.5, GREEN)
    c.arrow_head((21, 11), (1, 0), 4.5, GREEN)


def rotate(c):
    pts = [(11 + 7.5 * math.cos(math.radians(a)), 11 - 7.5 * math.sin(math.radians(a))) for a in range(60, -241, -10)]
    c.polyline(pts, 2.0, BLUE)
    c.arrow_head((11 + 7.5 * math.cos(math.radians(60)) + 2.5, 11 - 7.5 * math.sin(math.radians(60)) + 1.0),
                 (1, 0.45), 5, BLUE)
    c.disc(11, 11, 1.8, INK)


def scale(c):
    c.rect(2, 10, 10, 10, INK)
    c.rect(3.3, 11.3, 7.4, 7.4, LIGHT_BLUE)
    c.dashed([(2, 2), (20, 2), (20, 20), (2, 20)], 1.0, GREY, dash=1.5)
    c.line(8, 14, 16, 6, 1.8, ORANGE)
    c.arrow_head((19.5, 2.5), (1, -1), 5, ORANGE)


def camera_body(c, colour_):
    c.rect(2, 7, 13, 10, colour_)
    c.poly([(15, 10), (21, 7), (21, 17), (15, 14)], colour_)
    c.disc(5.5, 5, 2.5, colour_)
    c.disc(11, 5, 2.5, colour_)


def free_camera(c):
    camera_body(c, INK)
    c.arrow_head((4, 21), (-1, 0), 3.5, GREEN)
    c.arrow_head((14, 21), (1, 0), 3.5, GREEN)
    c.line(4, 21, 14, 21, 1.2, GREEN)


def fix_view(c):
    cube(c)
    c.ring(11, 11, 7, 1.4, RED)
    c.line(11, 1, 11, 6, 1.4, RED)
    c.line(11, 16, 11, 21, 1.4, RED)


def fix_to_camera(c):
    camera_body(c, INK)
    c.rect(13, 13, 8, 7, ORANGE)
    c.ring(17, 12.5, 2.5, 1.2, ORANGE)
    c.rect(16.3, 15.5, 1.4, 2.5, INK)


PNGS = {
    "free_filenew.png": (22, 22, file_new),
    "free_fileopen.png": (22, 22, file_open),
    "free_save_as.png": (22, 22, save_as),
    "free_filesave.png": (22, 22, file_save),
    "free_undo.png": (22, 22, undo),
    "free_redo.png": (22, 22, redo),
    "free_question.png": (22, 22, question),
    "rectangle_select.png": (22, 22, rectangle_select),
    "circle_select.png": (22, 22, circle_select),
    "lasso_select.png": (22, 22, lasso_select),
    "resetproperty.png": (22, 22, reset_property),
    "cone.png": (22, 22, cone),
    "cube.png": (22, 22, cube),
    "mesh.png": (22, 22, mesh),
    "plane.png": (22, 22, plane),
    "torbane.png": (160, 80, logo),
}

XPMS = {
    "1_sequence.xpm": (16, 16, film),
    "2_distortion.xpm": (16, 16, distortion),
    "3_mask_edit.xpm": (16, 16, mask_edit),
    "4_tracking.xpm": (16, 16, tracking),
    "5_test_scene.xpm": (16, 16, test_scene),
    "6_export.xpm": (16, 16, export),
    "scene_view.xpm": (22, 22, scene_view),
    "image_view.xpm": (22, 22, image_view),
    "translate.xpm": (22, 22, translate),
    "rotate.xpm": (22, 22, rotate),
    "scale.xpm": (22, 22, scale),
    "free_camera.xpm": (22, 22, free_camera),
    "fix_view.xpm": (22, 22, fix_view),
    "fix_to_camera.xpm": (22, 22, fix_to_camera),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "qt", "resource")
    for table, writer in ((PNGS, write_png), (XPMS, write_xpm)):
        for name, (w, h, draw) in table.items():
            canvas = Canvas(w, h)
            draw(canvas)
            writer(os.path.join(out, name), canvas.pixels())


if __name__ == "__main__":
    main()
