#!/usr/bin/env python3
"""Draws the suite's icons (16x16 and 32x32, 32-bit with an AND mask) into
resources/. Run again after changing a drawing; the .ico files are committed."""
import os
import struct
import sys

SS = 4  # supersampling per axis


def blend(dst, src):
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa + da * (1 - sa)
    if a == 0:
        return (0, 0, 0, 0)
    return ((sr * sa + dr * da * (1 - sa)) / a, (sg * sa + dg * da * (1 - sa)) / a,
            (sb * sa + db * da * (1 - sa)) / a, a)


class Canvas:
    """Shapes in a 32-unit coordinate space, rendered at any size."""

    def __init__(self, size):
        self.size = size
        self.n = size * SS
        self.px = [[(0, 0, 0, 0)] * self.n for _ in range(self.n)]

    def fill(self, inside, color):
        k = 32.0 / self.n
        for y in range(self.n):
            for x in range(self.n):
                if inside((x + 0.5) * k, (y + 0.5) * k):
                    self.px[y][x] = blend(self.px[y][x], color)

    def pixels(self):
        out = []
        for y in range(self.size):
            row = []
            for x in range(self.size):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SS):
                    for sx in range(SS):
                        r, g, b, a = self.px[y * SS + sy][x * SS + sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                a = acc[3] / (SS * SS)
                if acc[3] > 0:
                    row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a))
                else:
                    row.append((0, 0, 0, 0))
            out.append(row)
        return out


def rgb(h, a=1.0):
    return (int(h[0:2], 16) / 255, int(h[2:4], 16) / 255, int(h[4:6], 16) / 255, a)


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1


def segment(ax, ay, bx, by, w):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return inside


def disk(c, body, face, edge, led):
    """A hard disk seen from the front: body, top face, slot and LED."""
    c.fill(rrect(2, 8, 30, 26, 3), edge)
    c.fill(rrect(3.2, 9.2, 28.8, 24.8, 2.2), body)
    c.fill(rrect(3.2, 9.2, 28.8, 15, 2.2), face)
    c.fill(rrect(5, 19.5, 20, 21.5, 1), edge)
    c.fill(circle(25, 20.5, 2.2), led)


def mounted(c):
    disk(c, rgb("5f7d95"), rgb("86a6bf"), rgb("1f2f3d"), rgb("3cff5a"))
    c.fill(circle(25, 20.5, 3.6), rgb("3cff5a", 0.35))
    # Check badge: the disk is open for use.
    c.fill(circle(23.5, 8.5, 7.5), rgb("ffffff"))
    c.fill(circle(23.5, 8.5, 6.3), rgb("1e9e3a"))
    c.fill(segment(20, 8.8, 22.6, 11.5, 2.4), rgb("ffffff"))
    c.fill(segment(22.6, 11.5, 27.2, 5.6, 2.4), rgb("ffffff"))


def unmounted(c):
    disk(c, rgb("a7abb0"), rgb("c9ccd0"), rgb("5a5f66"), rgb("6b7077"))
    # Closed padlock badge: the data stays enciphered.
    c.fill(ring(23.5, 6.5, 3.2, 5.0), rgb("ffffff"))
    c.fill(ring(23.5, 6.5, 3.6, 4.6), rgb("7a5a14"))
    c.fill(rrect(16.5, 6.5, 30.5, 17.5, 2.2), rgb("ffffff"))
    c.fill(rrect(17.7, 7.7, 29.3, 16.3, 1.5), rgb("d9a21b"))
    c.fill(circle(23.5, 11, 1.6), rgb("5a3f08"))
    c.fill(rrect(22.9, 11, 24.1, 14.3, 0.5), rgb("5a3f08"))


def keyicon(c):
    disk(c, rgb("5f7d95"), rgb("86a6bf"), rgb("1f2f3d"), rgb("3cff5a"))
    # A key laid across the disk: log in to mount.
    c.fill(ring(10, 9, 3.0, 6.2), rgb("ffffff"))
    c.fill(ring(10, 9, 3.6, 5.6), rgb("d9a21b"))
    c.fill(segment(14, 12.5, 28, 26, 4.2), rgb("ffffff"))
    c.fill(segment(14, 12.5, 28, 26, 2.4), rgb("d9a21b"))
    c.fill(segment(22, 20, 19.5, 22.5, 2.2), rgb("d9a21b"))
    c.fill(segment(25.5, 23.5, 23, 26, 2.2), rgb("d9a21b"))


def dib(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((round(b * 255), round(g * 255), round(r * 255), round(a * 255)))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def write_ico(path, draw):
    images = []
    for size in (32, 16):
        c = Canvas(size)
        draw(c)
        images.append((size, dib(c.pixels())))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
    res = sys.argv[1] if len(sys.argv) > 1 else res
    write_ico(os.path.join(res, "diskon.ico"), mounted)
    write_ico(os.path.join(res, "diskoff.ico"), unmounted)
    write_ico(os.path.join(res, "kelmcfg.ico"), keyicon)
