#!/usr/bin/env python3
"""Draws the program's icons and bitmaps (standard library only, same bytes every run).

    make_art.py OUTDIR

writes main.ico (128), arrow.ico (133), quickblaze.ico (138), exit.bmp (132),
reboot.bmp (133), update.bmp (134) and banner.bmp (136).

Shapes are drawn with 4x4 supersampling. Icons are 32-bit with alpha at 16, 32 and 48
pixels; bitmaps are 8-bit (256 colours). The button bitmaps use RGB(192,192,192) as their
background, which LoadImage(LR_LOADMAP3DCOLORS) maps to the system's button face.
"""

import math
import os
import struct
import sys

SS = 4  # supersampling factor per axis


class Canvas:
    """RGBA float canvas in logical units; one logical unit is one output pixel."""

    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.w, self.h = width, height
        self.px = [list(background) for _ in range(width * height * SS * SS)]

    def _blend(self, i, colour):
        r, g, b, a = colour
        p = self.px[i]
        out_a = a + p[3] * (1 - a)
        if out_a <= 0:
            return
        for k, c in enumerate((r, g, b)):
            p[k] = (c * a + p[k] * p[3] * (1 - a)) / out_a
        p[3] = out_a

    def fill(self, inside, colour, box=None):
        """Paints every subsample whose centre satisfies inside(x, y)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        sx0, sy0 = max(0, int(x0 * SS) - 1), max(0, int(y0 * SS) - 1)
        sx1, sy1 = min(self.w * SS, int(x1 * SS) + 2), min(self.h * SS, int(y1 * SS) + 2)
        width = self.w * SS
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            for sx in range(sx0, sx1):
                if inside((sx + 0.5) / SS, y):
                    self._blend(sy * width + sx, colour)

    def circle(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour,
                  (cx - r, cy - r, cx + r, cy + r))

    def ring(self, cx, cy, r_in, r_out, colour, a0=None, a1=None):
        """Annulus; with a0/a1 (degrees, clockwise from 3 o'clock) only that arc."""
        def inside(x, y):
            d = (x - cx) ** 2 + (y - cy) ** 2
            if not r_in * r_in <= d <= r_out * r_out:
                return False
            if a0 is None:
                return True
            ang = math.degrees(math.atan2(y - cy, x - cx)) % 360
            return (ang - a0) % 360 <= (a1 - a0) % 360
        self.fill(inside, colour, (cx - r_out, cy - r_out, cx + r_out, cy + r_out))

    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour, (x0, y0, x1, y1))

    def polygon(self, pts, colour):
        def inside(x, y):
            hit = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        self.fill(inside, colour, (min(xs), min(ys), max(xs), max(ys)))

    def pixels(self):
        """Averaged RGBA bytes per output pixel, rows top to bottom."""
        out = []
        width = self.w * SS
        for y in range(self.h):
            row = []
            for x in range(self.w):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SS):
                    base = (y * SS + sy) * width + x * SS
                    for sx in range(SS):
                        r, g, b, a = self.px[base + sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                n = SS * SS
                a = acc[3] / n
                if acc[3] > 0:
                    rgb = [acc[k] / acc[3] for k in range(3)]
                else:
                    rgb = [0, 0, 0]
                row.append(tuple(int(round(min(255, max(0, v * 255)))) for v in rgb + [a]))
            out.append(row)
        return out


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour, 16)
    return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, alpha)


# Colours.
DISC = rgb("C9D3DF")
DISC_SHINE = rgb("EEF3F8")
DISC_EDGE = rgb("3C4A5C")
HOLE = rgb("FFFFFF")
GREEN = rgb("2E9E3E")
GREEN_DARK = rgb("1C6A28")
BLUE = rgb("2D6FC2")
BLUE_DARK = rgb("1B4A86")
RED = rgb("C8372D")
RED_DARK = rgb("86221B")
ORANGE = rgb("F29A1F")
YELLOW = rgb("FFD83A")
NIGHT = rgb("2A2F45")
WHITE = rgb("FFFFFF")
FACE = rgb("C0C0C0")


def disc(c, cx, cy, r):
    c.circle(cx, cy, r, DISC_EDGE)
    c.circle(cx, cy, r * 0.92, DISC)
    c.ring(cx, cy, r * 0.45, r * 0.80, DISC_SHINE, 200, 250)
    c.ring(cx, cy, r * 0.45, r * 0.80, DISC_SHINE, 20, 70)
    c.circle(cx, cy, r * 0.30, DISC_EDGE)
    c.circle(cx, cy, r * 0.22, HOLE)


def down_arrow(c, cx, top, w, h, fill, edge):
    shaft = w * 0.40
    head = h * 0.50
    pts = [(cx - shaft / 2, top), (cx + shaft / 2, top), (cx + shaft / 2, top + h - head),
           (cx + w / 2, top + h - head), (cx, top + h), (cx - w / 2, top + h - head),
           (cx - shaft / 2, top + h - head)]
    grow = w * 0.09
    outline = [(x + (grow if x > cx else -grow if x < cx else 0),
                y + (grow if y >= top + h - 0.01 else -grow if y <= top + 0.01 else 0))
               for x, y in pts]
    c.polygon(outline, edge)
    c.polygon(pts, fill)


def right_arrow(c, left, cy, w, h, fill, edge):
    shaft = h * 0.42
    head = w * 0.45
    pts = [(left, cy - shaft / 2), (left + w - head, cy - shaft / 2), (left + w - head, cy - h / 2),
           (left + w, cy), (left + w - head, cy + h / 2), (left + w - head, cy + shaft / 2),
           (left, cy + shaft / 2)]
    c.polygon(pts, edge)
    k = h * 0.10
    inner = [(left + k, cy - shaft / 2 + k), (left + w - head + k, cy - shaft / 2 + k),
             (left + w - head + k, cy - h / 2 + 2.2 * k), (left + w - 1.8 * k, cy),
             (left + w - head + k, cy + h / 2 - 2.2 * k), (left + w - head + k, cy + shaft / 2 - k),
             (left + k, cy + shaft / 2 - k)]
    c.polygon(inner, fill)


def bolt(c, s, fill, edge):
    pts = [(0.58, 0.06), (0.22, 0.55), (0.46, 0.55), (0.36, 0.94), (0.78, 0.40), (0.54, 0.40),
           (0.66, 0.06)]
    c.polygon([(x * s, y * s) for x, y in pts], edge)
    k = 0.05
    inner = [(0.58 + k * 0.3, 0.06 + k), (0.22 + 1.6 * k, 0.55 - k * 0.6), (0.46 + k * 0.6, 0.55 - k * 0.6),
             (0.38 + k * 0.4, 0.94 - 2.5 * k), (0.78 - 2 * k, 0.40 + k * 0.6), (0.54 - k * 0.2, 0.40 + k * 0.6),
             (0.66 - k * 0.6, 0.06 + k)]
    c.polygon([(x * s, y * s) for x, y in inner], fill)


# Pictures, drawn at any size s (icons) or at their bitmap size.

def draw_main(s):
    c = Canvas(s, s)
    disc(c, s * 0.44, s * 0.44, s * 0.42)
    down_arrow(c, s * 0.74, s * 0.42, s * 0.40, s * 0.54, GREEN, GREEN_DARK)
    return c


def draw_arrow(s):
    c = Canvas(s, s)
    right_arrow(c, s * 0.08, s * 0.5, s * 0.84, s * 0.66, BLUE, BLUE_DARK)
    return c


def draw_quickblaze(s):
    c = Canvas(s, s)
    c.circle(s / 2, s / 2, s * 0.48, NIGHT)
    bolt(c, s, YELLOW, ORANGE)
    return c


def draw_update():
    c = Canvas(43, 36, FACE)
    disc(c, 17, 17, 14.5)
    down_arrow(c, 32, 9, 15, 22, GREEN, GREEN_DARK)
    return c


def draw_reboot():
    c = Canvas(43, 36, FACE)
    cx, cy = 21.5, 18
    c.ring(cx, cy, 8.5, 14, BLUE_DARK, 300, 240)
    c.ring(cx, cy, 9.7, 12.8, BLUE, 303, 237)
    # Arrowhead at the open end (top right), pointing clockwise.
    a = math.radians(300)
    ex, ey = cx + 11.25 * math.cos(a), cy + 11.25 * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)  # tangent, clockwise
    nx, ny = math.cos(a), math.sin(a)
    pts = [(ex + nx * 7.5, ey + ny * 7.5), (ex - nx * 7.5, ey - ny * 7.5),
           (ex + tx * 8.5, ey + ty * 8.5)]
    c.polygon(pts, BLUE_DARK)
    return c


def draw_exit():
    c = Canvas(43, 36, FACE)
    # Door frame and door.
    c.rect(6, 4, 24, 33, RED_DARK)
    c.rect(8, 6, 22, 33, WHITE)
    c.polygon([(8, 6), (18, 9), (18, 33), (8, 33)], RED)
    c.circle(16, 20, 1.2, WHITE)
    right_arrow(c, 21, 19, 18, 14, RED, RED_DARK)
    return c


# 5 x 7 capitals for the banner.
FONT = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
}


def draw_banner():
    c = Canvas(116, 35)
    for y in range(35):
        t = y / 34
        c.rect(0, y, 116, y + 1, (0.11 + 0.10 * t, 0.27 + 0.14 * t, 0.55 + 0.15 * t, 1))
    disc(c, 17.5, 17.5, 14)
    down_arrow(c, 29, 17, 9, 14, GREEN, GREEN_DARK)
    x = 42
    for ch in "VARNEL":
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    c.rect(x + col * 2, 10 + row * 2, x + col * 2 + 2, 10 + row * 2 + 2, WHITE)
        x += 12
    return c


# Writers.

def palette():
    """216-colour cube, 24 greys, and the exact colours of the pictures."""
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(8 + 10 * i, 8 + 10 * i, 8 + 10 * i) for i in range(24)]
    exact = [DISC, DISC_SHINE, DISC_EDGE, GREEN, GREEN_DARK, BLUE, BLUE_DARK, RED, RED_DARK,
             ORANGE, YELLOW, NIGHT, FACE]
    for col in exact:
        t = tuple(int(round(v * 255)) for v in col[:3])
        if t not in pal:
            pal.append(t)
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal[:256]


def nearest(pal, colour, cache):
    if colour in cache:
        return cache[colour]
    r, g, b = colour
    best = min(range(len(pal)),
               key=lambda i: (pal[i][0] - r) ** 2 * 3 + (pal[i][1] - g) ** 2 * 4 + (pal[i][2] - b) ** 2 * 2)
    cache[colour] = best
    return best


def write_bmp8(path, canvas):
    pix = canvas.pixels()
    pal = palette()
    cache = {}
    w, h = canvas.w, canvas.h
    stride = (w + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        idx = bytes(nearest(pal, p[:3], cache) for p in pix[y])
        rows.append(idx + b"\0" * (stride - w))
    bits = b"".join(rows)
    pal_bytes = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    offset = 14 + 40 + len(pal_bytes)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(bits), 2835, 2835, 256, 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + pal_bytes + bits)


def icon_image(canvas):
    pix = canvas.pixels()
    s = canvas.w
    xor = b"".join(bytes((p[2], p[1], p[0], p[3])) for y in range(s - 1, -1, -1) for p in pix[y])
    mask_stride = ((s + 31) // 32) * 4
    mask = bytearray()
    for y in range(s - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(s):
            if pix[y][x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack("<IiiHHIIiiII", 40, s, s * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + bytes(mask)


def write_ico(path, draw, sizes=(16, 32, 48)):
    images = [icon_image(draw(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_art.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "main.ico"), draw_main)
    write_ico(os.path.join(out, "arrow.ico"), draw_arrow)
    write_ico(os.path.join(out, "quickblaze.ico"), draw_quickblaze)
    write_bmp8(os.path.join(out, "update.bmp"), draw_update())
    write_bmp8(os.path.join(out, "reboot.bmp"), draw_reboot())
    write_bmp8(os.path.join(out, "exit.bmp"), draw_exit())
    write_bmp8(os.path.join(out, "banner.bmp"), draw_banner())


if __name__ == "__main__":
    main()
