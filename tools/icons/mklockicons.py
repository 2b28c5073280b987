#!/usr/bin/env python3
"""Draws the lock icons of protected folders into resources/: lockfld1.ico
(Full Protection: a large red padlock) and lockfld2.ico (General Protection:
a smaller blue padlock), 16x16 and 32x32 in the style of mkicons.py. Run
again after changing a drawing; the .ico files are committed."""
import os
import sys

from mkicons import circle, ring, rgb, rrect, write_ico


def folder(c):
    """A manila folder: tab, back and front."""
    edge, back, front = rgb("8a6410"), rgb("e0b43c"), rgb("f6d36a")
    c.fill(rrect(1.5, 6, 13, 11, 1.5), edge)
    c.fill(rrect(2.5, 7, 12, 11, 1), back)
    c.fill(rrect(1.5, 9, 30.5, 28, 2), edge)
    c.fill(rrect(2.5, 10, 29.5, 27, 1.4), back)
    c.fill(rrect(1.5, 13, 30.5, 28, 2), edge)
    c.fill(rrect(2.5, 14, 29.5, 27, 1.4), front)


def padlock(c, cx, top, width, body, dark):
    """A closed padlock: shackle above a body with a keyhole, white rim."""
    half = width / 2
    r_out, r_in = half * 0.72, half * 0.38
    sy = top + r_out
    c.fill(ring(cx, sy, r_in - 1.0, r_out + 1.0), rgb("ffffff"))
    c.fill(rrect(cx - half - 1, sy, cx + half + 1, sy + width * 0.95 + 1, 2.5), rgb("ffffff"))
    c.fill(ring(cx, sy, r_in, r_out), dark)
    c.fill(rrect(cx - half, sy + 0.5, cx + half, sy + width * 0.95, 2), dark)
    c.fill(rrect(cx - half + 1.1, sy + 1.6, cx + half - 1.1, sy + width * 0.95 - 1.1, 1.4), body)
    hole_y = sy + width * 0.42
    c.fill(circle(cx, hole_y, width * 0.11), dark)
    c.fill(rrect(cx - width * 0.05, hole_y, cx + width * 0.05, hole_y + width * 0.28, 0.3), dark)


def full(c):
    folder(c)
    padlock(c, 20.5, 5.5, 17, rgb("e23b2e"), rgb("6e120b"))


def general(c):
    folder(c)
    padlock(c, 22.5, 11.5, 12.5, rgb("3b7fe2"), rgb("123a75"))


if __name__ == "__main__":
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
    res = sys.argv[1] if len(sys.argv) > 1 else res
    write_ico(os.path.join(res, "lockfld1.ico"), full)
    write_ico(os.path.join(res, "lockfld2.ico"), general)
