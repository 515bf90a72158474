#!/usr/bin/env python3
"""Golden bytes for the image tests (tests/rendering), derived from the
rasterising rules alone, without the C++ code:

  RGB565 by truncation, widened back by bit replication (black 0, white 255);
  L = 0.2125 R + 0.7154 G + 0.0721 B truncated; serpentine error diffusion
  where the error counts darkness (7, 5, 3, 1 sixteenths of e // 16);
  ESC * stripes of 24 dots (high density) behind GS P 0 0 and ESC 3 0.

Usage: tools/dither_reference.py   (prints one line per test image)
"""


def widen(value, bits):
    return (value << (8 - bits)) | (value >> (2 * bits - 8))


def luma(rgb):
    r, g, b = (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF
    red, green, blue = widen(r >> 3, 5), widen(g >> 2, 6), widen(b >> 3, 5)
    return int(0.2125 * red + 0.7154 * green + 0.0721 * blue)


def dither(pixels, w, h):
    err = [[0] * w for _ in range(h)]
    black = [[False] * w for _ in range(h)]
    for y in range(h):
        step = 1 if y % 2 == 0 else -1
        for x in range(w) if step == 1 else range(w - 1, -1, -1):
            e = err[y][x] + 255 - luma(pixels[y][x])
            if e >= 255:
                black[y][x] = True
                e -= 255
            err[y][x] = e
            q = e // 16
            for dx, dy, share in ((step, 0, 7), (0, 1, 5), (-step, 1, 3), (step, 1, 1)):
                if 0 <= x + dx < w and y + dy < h:
                    err[y + dy][x + dx] += share * q
    return black


def stripes(pixels, w, h):
    black = dither(pixels, w, h)
    out = bytearray(b"\x1d\x50\x00\x00\x1b\x33\x00")
    for y0 in range(0, h, 24):
        out += bytes([0x1B, 0x2A, 33, w & 0xFF, w >> 8])
        for x in range(w):
            for byte in range(3):
                bits = 0
                for bit in range(8):
                    y = y0 + byte * 8 + bit
                    if y < h and black[y][x]:
                        bits |= 0x80 >> bit
                out.append(bits)
        out += b"\x1b\x64\x00"
    return out, sum(row.count(True) for row in black)


def image(w, h, colour):
    return [[colour(x, y) for x in range(w)] for y in range(h)]


def pattern(x, y):
    return ((x * 37 + y * 11) % 256) << 16 | ((x * 53 + y * 7) % 256) << 8 | (x * 19 + y * 29) % 256


CASES = {
    "3x2 black": (3, 2, lambda x, y: 0x000000),
    "4x1 black": (4, 1, lambda x, y: 0x000000),
    "3x3 white": (3, 3, lambda x, y: 0xFFFFFF),
    "7x30 pattern": (7, 30, pattern),
    "100x48 black": (100, 48, lambda x, y: 0x000000),
}

if __name__ == "__main__":
    for name, (w, h, colour) in CASES.items():
        data, dots = stripes(image(w, h, colour), w, h)
        shown = data.hex(" ").upper() if len(data) <= 160 else "(%d bytes)" % len(data)
        print("%s: %d of %d dots black: %s" % (name, dots, w * h, shown))
