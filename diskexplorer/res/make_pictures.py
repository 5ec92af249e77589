#!/usr/bin/python3
"""Draws the explorer's pictures (toolbar strips, share icons, drive icons,
banner, About picture) as BMP and ICO files into the folder given.

Masked bitmaps use magenta (255, 0, 255) as their transparent colour.
"""
import os
import struct
import sys

MAGENTA = (255, 0, 255)


def bmp(path, width, height, pixel):
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def ico(path, size, pixel):
    """One 32-bit image; pixel returns (r, g, b) or None for transparent."""
    xor = bytearray()
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = 0
        mrow = bytearray(mask_row)
        for x in range(size):
            p = pixel(x, y)
            if p is None:
                xor += bytes((0, 0, 0, 0))
                mrow[x // 8] |= 0x80 >> (x % 8)
            else:
                xor += bytes((p[2], p[1], p[0], 255))
        mask += mrow
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                                                           len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


def disk(colour):
    def pixel(x, y):
        if 3 <= x <= 28 and 9 <= y <= 24:
            if y in (9, 24) or x in (3, 28):
                return (40, 40, 40)
            if 21 <= x <= 24 and 19 <= y <= 21:
                return (0, 200, 0)
            return colour
        return None
    return pixel


def share(size, index):
    """A round gauge filled to index/29."""
    def pixel(x, y):
        cx = cy = (size - 1) / 2
        r = size / 2 - 1
        dx, dy = x - cx, y - cy
        if dx * dx + dy * dy > r * r:
            return MAGENTA
        level = size - 1 - (index * (size - 1)) // 29
        return (220, 60, 40) if y >= level else (120, 170, 230)
    return pixel


def toolbar(variant):
    def pixel(x, y):
        image, x = divmod(x, 24)
        shapes = [lambda: abs(y - 12) <= x - 4 <= 10 and x <= 19,             # back arrow
                  lambda: abs(y - 12) <= 19 - x and x >= 4,                   # forward arrow
                  lambda: abs(x - 12) <= y - 4 and y <= 19,                   # up
                  lambda: (x - 12) ** 2 + (y - 12) ** 2 in range(40, 80),     # refresh ring
                  lambda: x % 8 < 6 and y % 8 < 6 and 2 <= x <= 21 and 2 <= y <= 21,  # tiles
                  lambda: y % 5 < 3 and 3 <= x <= 20 and 3 <= y <= 20]        # details
        if shapes[image]():
            return (40, 90, 170) if variant == 0 else (20, 140, 240)  # at rest, under the mouse
        return MAGENTA
    return pixel


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    ico(os.path.join(out, "app.ico"), 32, lambda x, y: (30, 80, 160) if (x - 16) ** 2 + (y - 16) ** 2 < 196 else None)
    ico(os.path.join(out, "expand.ico"), 16, lambda x, y: (60, 60, 120) if abs(x - 8) <= y - 4 <= 6 else None)
    ico(os.path.join(out, "collapse.ico"), 16, lambda x, y: (60, 60, 120) if abs(x - 8) <= 11 - y <= 6 else None)
    for name, colour in [("floppy", (90, 90, 200)), ("removable", (200, 160, 60)), ("fixed", (170, 170, 170)),
                         ("cdrom", (230, 230, 120)), ("remote", (90, 180, 90)), ("ramdisk", (200, 90, 200)),
                         ("folder", (240, 200, 80)), ("drive", (150, 150, 150))]:
        ico(os.path.join(out, name + ".ico"), 32, disk(colour))
    bmp(os.path.join(out, "toolbar.bmp"), 24 * 6, 24, toolbar(0))
    bmp(os.path.join(out, "toolbar_hot.bmp"), 24 * 6, 24, toolbar(1))
    bmp(os.path.join(out, "share32.bmp"), 32 * 30, 32, lambda x, y: share(32, x // 32)(x % 32, y))
    bmp(os.path.join(out, "share16.bmp"), 16 * 30, 16, lambda x, y: share(16, x // 16)(x % 16, y))
    bmp(os.path.join(out, "banner.bmp"), 127, 31,
        lambda x, y: (30, 80, 160) if 4 <= y <= 26 and 4 <= x <= 122 else MAGENTA)
    bmp(os.path.join(out, "about.bmp"), 443, 261, lambda x, y: (240 - y // 3, 241 - y // 4, 245))


if __name__ == "__main__":
    main()
