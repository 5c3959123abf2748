#!/usr/bin/env python3
"""Draws the application icon: cncmirel.svg and cncmirel-48.png, cncmirel-256.png.

Standard library only; run it from anywhere, it writes next to itself. The output is
deterministic, so running it again leaves the committed files unchanged.

The picture is a green circuit board with copper tracks and drilled pads, and a drill bit
coming down onto one of the pads. Every shape is described once, in a 256 x 256 space, and
both the SVG and the PNG pictures are made from that description; the PNG pictures are
rendered with 4 x 4 samples per pixel for smooth edges.
"""

import math
import os
import struct
import zlib

SIZE = 256

BOARD = (31, 110, 58)
BOARD_EDGE = (18, 70, 36)
COPPER = (222, 166, 64)
HOLE = (30, 30, 30)
STEEL = (196, 202, 210)
STEEL_DARK = (120, 128, 140)
SHADOW = (14, 54, 28)

PADS = [(64, 188), (128, 188), (192, 188), (64, 112), (176, 112)]
TRACKS = [((64, 188), (128, 188)), ((64, 112), (64, 188)), ((128, 188), (176, 140)),
          ((176, 140), (176, 112)), ((192, 188), (224, 156))]
TARGET = (128, 118)  # the pad under the drill, not yet drilled


def shapes():
    """The picture as a list of (kind, colour, alpha, geometry), back to front."""
    out = [("rrect", BOARD_EDGE, 1.0, (12, 40, 244, 244, 22)),
           ("rrect", BOARD, 1.0, (20, 48, 236, 236, 16))]
    for a, b in TRACKS:
        out.append(("line", COPPER, 1.0, (a, b, 9)))
    for x, y in PADS:
        out.append(("circle", COPPER, 1.0, (x, y, 17)))
        out.append(("circle", HOLE, 1.0, (x, y, 7)))
    tx, ty = TARGET
    out.append(("circle", COPPER, 1.0, (tx, ty, 17)))
    # The bit's shadow on the board, then the bit: a shank, a fluted body and a pointed tip.
    out.append(("circle", SHADOW, 0.45, (tx + 6, ty + 4, 12)))
    out.append(("poly", STEEL_DARK, 1.0, [(112, 4), (144, 4), (144, 40), (112, 40)]))
    out.append(("poly", STEEL, 1.0, [(116, 40), (140, 40), (140, 96), (116, 96)]))
    for y in (44, 60, 76):
        out.append(("poly", STEEL_DARK, 1.0, [(116, y + 10), (140, y), (140, y + 7), (116, y + 17)]))
    out.append(("poly", STEEL, 1.0, [(116, 96), (140, 96), (128, ty)]))
    out.append(("poly", STEEL_DARK, 1.0, [(128, 96), (140, 96), (128, ty)]))
    return out


# --- coverage tests in the 256 space -----------------------------------------------------

def inside_rrect(g, px, py):
    x0, y0, x1, y1, r = g
    if px < x0 or px > x1 or py < y0 or py > y1:
        return False
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def inside_circle(g, px, py):
    x, y, r = g
    return (px - x) ** 2 + (py - y) ** 2 <= r * r


def inside_line(g, px, py):
    (ax, ay), (bx, by), half = g
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    qx, qy = ax + t * dx, ay + t * dy
    return (px - qx) ** 2 + (py - qy) ** 2 <= half * half


def inside_poly(g, px, py):
    inside = False
    n = len(g)
    for i in range(n):
        (x0, y0), (x1, y1) = g[i], g[(i + 1) % n]
        if (y0 > py) != (y1 > py) and px < x0 + (py - y0) * (x1 - x0) / (y1 - y0):
            inside = not inside
    return inside


TESTS = {"rrect": inside_rrect, "circle": inside_circle, "line": inside_line, "poly": inside_poly}


def bounds(kind, g):
    if kind == "rrect":
        return g[0], g[1], g[2], g[3]
    if kind == "circle":
        return g[0] - g[2], g[1] - g[2], g[0] + g[2], g[1] + g[2]
    if kind == "line":
        (ax, ay), (bx, by), h = g
        return min(ax, bx) - h, min(ay, by) - h, max(ax, bx) + h, max(ay, by) + h
    xs = [p[0] for p in g]
    ys = [p[1] for p in g]
    return min(xs), min(ys), max(xs), max(ys)


def render(size, samples=4):
    """RGBA rows of the picture at size x size pixels."""
    scale = SIZE / size
    pixels = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]
    offsets = [(i + 0.5) / samples for i in range(samples)]
    for kind, colour, alpha, g in shapes():
        test = TESTS[kind]
        x0, y0, x1, y1 = bounds(kind, g)
        for py in range(max(0, int(y0 / scale)), min(size, int(y1 / scale) + 1)):
            for px in range(max(0, int(x0 / scale)), min(size, int(x1 / scale) + 1)):
                hits = sum(1 for oy in offsets for ox in offsets
                           if test(g, (px + ox) * scale, (py + oy) * scale))
                if not hits:
                    continue
                a = alpha * hits / (samples * samples)
                r, gg, b, da = pixels[py][px]
                out_a = a + da * (1 - a)
                mix = [(c / 255.0 * a + d * da * (1 - a)) / out_a
                       for c, d in zip(colour, (r, gg, b))]
                pixels[py][px] = (mix[0], mix[1], mix[2], out_a)
    return [[tuple(int(round(c * 255)) for c in p) for p in row] for row in pixels]


def write_png(path, rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def write_svg(path):
    def rgb(c):
        return "#%02x%02x%02x" % c

    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
             % (SIZE, SIZE, SIZE, SIZE)]
    for kind, colour, alpha, g in shapes():
        paint = 'fill="%s"' % rgb(colour)
        if alpha < 1:
            paint += ' fill-opacity="%g"' % alpha
        if kind == "rrect":
            x0, y0, x1, y1, r = g
            lines.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" %s/>'
                         % (x0, y0, x1 - x0, y1 - y0, r, paint))
        elif kind == "circle":
            lines.append('  <circle cx="%g" cy="%g" r="%g" %s/>' % (g[0], g[1], g[2], paint))
        elif kind == "line":
            (ax, ay), (bx, by), half = g
            lines.append('  <line x1="%g" y1="%g" x2="%g" y2="%g" stroke="%s" stroke-width="%g" '
                         'stroke-linecap="round"/>' % (ax, ay, bx, by, rgb(colour), 2 * half))
        else:
            points = " ".join("%g,%g" % p for p in g)
            lines.append('  <polygon points="%s" %s/>' % (points, paint))
    lines.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_svg(os.path.join(here, "cncmirel.svg"))
    for size in (48, 256):
        write_png(os.path.join(here, "cncmirel-%d.png" % size), render(size))


if __name__ == "__main__":
    main()
