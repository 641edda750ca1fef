"""A small PNG writer on the standard library, for pictures the server makes while it answers
(the verification picture) and for plain pictures when PIL is not installed."""

import struct
import zlib

# 3x5 digits, one text row of "#"/"." per line.
_DIGITS = {
    "0": ("###", "#.#", "#.#", "#.#", "###"), "1": (".#.", "##.", ".#.", ".#.", "###"),
    "2": ("###", "..#", "###", "#..", "###"), "3": ("###", "..#", "###", "..#", "###"),
    "4": ("#.#", "#.#", "###", "..#", "..#"), "5": ("###", "#..", "###", "..#", "###"),
    "6": ("###", "#..", "###", "#.#", "###"), "7": ("###", "..#", ".#.", ".#.", ".#."),
    "8": ("###", "#.#", "###", "#.#", "###"), "9": ("###", "#.#", "###", "..#", "###"),
}


def encode_png(width, height, rows):
    """rows: height byte strings of width*3 RGB bytes each."""
    raw = b"".join(b"\x00" + bytes(r) for r in rows)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6))
            + chunk(b"IEND", b""))


def plain_picture(width, height, colour, band=None):
    """A filled picture, with an optional lighter band across its upper third."""
    rows = []
    light = tuple(min(255, c + 60) for c in colour)
    for y in range(height):
        c = light if band and height // 4 <= y < height // 4 + height // 8 else colour
        rows.append(bytes(c) * width)
    return encode_png(width, height, rows)


def digits_picture(text, scale=6, fg=(30, 30, 120), bg=(235, 235, 220)):
    """The digits of text drawn large enough to read, with a little noise-free margin."""
    cols = 4 * len(text) + 1
    width, height = cols * scale, 7 * scale
    grid = [[False] * cols for _ in range(7)]
    for n, ch in enumerate(text):
        glyph = _DIGITS.get(ch, _DIGITS["0"])
        for gy, line in enumerate(glyph):
            for gx, mark in enumerate(line):
                if mark == "#":
                    grid[gy + 1][1 + 4 * n + gx] = True
    rows = []
    for y in range(height):
        line = bytearray()
        for x in range(width):
            line += bytes(fg if grid[y // scale][x // scale] else bg)
        rows.append(bytes(line))
    return encode_png(width, height, rows)
