#!/usr/bin/env python3
"""Draws the nine panel pictures as uncompressed Windows BMP files (picture1.bmp ... picture9.bmp).

Standard library only; run it from anywhere, it writes next to itself. The output is
deterministic, so running it again leaves the committed files unchanged.

Pictures 1 to 6 are the button faces (a black face in a light grey bevel with a white glyph),
7 is the open-file button (4-bit, standard 16-colour palette), 8 and 9 are the port
indicators (bit off: white, bit on: blue).
"""

import os
import struct
import sys

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
SILVER = (192, 192, 192)
GREY = (128, 128, 128)
BLUE = (0, 0, 255)
YELLOW = (255, 255, 0)

# The standard 16-colour palette, in its usual order (index -> RGB).
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


class Canvas:
    """A width x height grid of colours, (0, 0) at the top left."""

    def __init__(self, width, height, colour):
        self.width = width
        self.height = height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def box(self, x0, y0, x1, y1, colour):
        """Fills the box with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def fill_where(self, inside, colour):
        """Fills every pixel whose centre (x + 0.5, y + 0.5) satisfies inside(px, py)."""
        for y in range(self.height):
            for x in range(self.width):
                if inside(x + 0.5, y + 0.5):
                    self.put(x, y, colour)


def bevel(canvas, light, mid, dark, face):
    """A raised three-pixel frame around a sunken face."""
    w, h = canvas.width, canvas.height
    canvas.box(0, 0, w - 1, h - 1, mid)
    # Outer ring: lit from the top left.
    canvas.box(0, 0, w - 1, 0, light)
    canvas.box(0, 0, 0, h - 1, light)
    canvas.box(0, h - 1, w - 1, h - 1, dark)
    canvas.box(w - 1, 0, w - 1, h - 1, dark)
    # Inner ring: the face sits below the frame, so the light falls the other way.
    canvas.box(2, 2, w - 3, 2, dark)
    canvas.box(2, 2, 2, h - 3, dark)
    canvas.box(2, h - 3, w - 3, h - 3, light)
    canvas.box(w - 3, 2, w - 3, h - 3, light)
    canvas.box(3, 3, w - 4, h - 4, face)


def triangle(canvas, direction, length, half_base):
    """A white triangle centred on the canvas, its tip `length` pixels from its base."""
    cx, cy = canvas.width / 2, canvas.height / 2
    along = {"up": (0, -1), "down": (0, 1), "left": (-1, 0), "right": (1, 0)}[direction]

    def inside(px, py):
        # Distance along the pointing direction (from the base) and across it.
        dx, dy = px - cx, py - cy
        a = dx * along[0] + dy * along[1] + length / 2
        c = abs(dx * along[1] - dy * along[0])
        if a < 0 or a > length:
            return False
        # Tip one pixel wide on each side of the axis, widening to half_base at the base.
        return c <= 1 + (half_base - 1) * (1 - a / length)

    canvas.fill_where(inside, WHITE)


def button_face(width, height):
    canvas = Canvas(width, height, BLACK)
    bevel(canvas, WHITE, SILVER, GREY, BLACK)
    return canvas


def picture_arrow(width, height, direction):
    canvas = button_face(width, height)
    triangle(canvas, direction, 13, 8)
    return canvas


def picture_pause():
    canvas = button_face(33, 33)
    canvas.box(10, 9, 13, 23, WHITE)
    canvas.box(19, 9, 22, 23, WHITE)
    return canvas


def picture_stop():
    canvas = button_face(34, 34)
    canvas.box(11, 11, 22, 22, WHITE)
    return canvas


def picture_open():
    """Open file: a sheet (upper left), a ring on a stem (centre), a yellow arrow (lower left)."""
    canvas = Canvas(28, 28, BLACK)
    bevel(canvas, WHITE, SILVER, GREY, BLACK)
    canvas.box(5, 5, 10, 9, WHITE)
    # The ring: pixels between radius 2.2 and 3.4 around the centre of pixel (15, 12).
    canvas.fill_where(lambda px, py: 2.2 <= ((px - 15.5) ** 2 + (py - 12.5) ** 2) ** 0.5 <= 3.4,
                      WHITE)
    canvas.box(15, 16, 15, 21, GREY)
    # The arrow: a diagonal shaft from the lower right to its head at the upper left.
    for i in range(8):
        canvas.put(6 + i, 16 + i, YELLOW)
        canvas.put(7 + i, 16 + i, YELLOW)
    canvas.box(6, 16, 10, 16, YELLOW)
    canvas.box(6, 16, 6, 20, YELLOW)
    return canvas


def picture_bit(fill):
    canvas = Canvas(15, 15, BLACK)
    canvas.box(1, 1, 13, 13, fill)
    return canvas


def bmp_bytes(canvas, bits):
    """The complete BMP file: file header, 40-byte information header, palette, rows bottom-up."""
    w, h = canvas.width, canvas.height
    row_size = (w * bits + 31) // 32 * 4
    palette = b""
    if bits == 4:
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE16)
    rows = []
    for y in range(h - 1, -1, -1):
        line = canvas.pixels[y]
        if bits == 24:
            row = b"".join(struct.pack("<BBB", b, g, r) for (r, g, b) in line)
        else:
            indexes = [PALETTE16.index(colour) for colour in line]
            if len(indexes) % 2:
                indexes.append(0)
            row = bytes(indexes[i] << 4 | indexes[i + 1] for i in range(0, len(indexes), 2))
        rows.append(row + b"\0" * (row_size - len(row)))
    image = b"".join(rows)
    offset = 14 + 40 + len(palette)
    colours_used = 16 if bits == 4 else 0
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(image), 3780, 3780,
                              colours_used, 0)
    return file_header + info_header + palette + image


# Picture number -> (canvas, bits per pixel, expected file size).
PICTURES = {
    1: (lambda: picture_arrow(34, 33, "up"), 24, 3486),
    2: (lambda: picture_arrow(34, 33, "down"), 24, 3486),
    3: (lambda: picture_arrow(33, 34, "right"), 24, 3454),
    4: (lambda: picture_arrow(33, 34, "left"), 24, 3454),
    5: (picture_pause, 24, 3354),
    6: (picture_stop, 24, 3590),
    7: (picture_open, 4, 566),
    8: (lambda: picture_bit(WHITE), 24, 774),
    9: (lambda: picture_bit(BLUE), 24, 774),
}


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for number, (draw, bits, size) in PICTURES.items():
        data = bmp_bytes(draw(), bits)
        if len(data) != size:
            sys.exit(f"picture{number}.bmp: {len(data)} bytes, expected {size}")
        with open(os.path.join(folder, f"picture{number}.bmp"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
