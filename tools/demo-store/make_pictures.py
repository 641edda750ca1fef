#!/usr/bin/env python3
"""Draws the demo catalogue's pictures (covers and pages) with PIL.

Reads a JSON list of jobs on standard input, one per picture:
  {"path": OUT, "width": W, "height": H, "colour": [R, G, B], "lines": [TEXT, ...],
   "ascii": [TEXT, ...], "kind": "cover" | "page", "number": N}
and writes each picture as JPEG (quality 80). "ascii" replaces "lines" when no font for Chinese
text is installed. Prints one line "made N" at the end; exits 2 when PIL is missing.
"""

import json
import os
import sys

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:
    print("PIL is not installed (Debian package python3-pil)", file=sys.stderr)
    sys.exit(2)

CJK_FONTS = (
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
)
LATIN_FONTS = ("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",)


def load_font(size):
    for path in CJK_FONTS:
        if os.path.exists(path):
            return ImageFont.truetype(path, size), True
    for path in LATIN_FONTS:
        if os.path.exists(path):
            return ImageFont.truetype(path, size), False
    return ImageFont.load_default(), False


_fonts = {}


def font(size):
    if size not in _fonts:
        _fonts[size] = load_font(size)
    return _fonts[size]


def centred(draw, y, text, fnt, fill, width):
    left, top, right, bottom = draw.textbbox((0, 0), text, font=fnt)
    draw.text(((width - (right - left)) // 2, y), text, font=fnt, fill=fill)
    return y + (bottom - top) + 12


def make(job):
    w, h = job["width"], job["height"]
    colour = tuple(job["colour"])
    img = Image.new("RGB", (w, h), colour)
    draw = ImageDraw.Draw(img)
    big, cjk = font(max(12, w // 9))
    small, _ = font(max(10, w // 18))
    lines = job["lines"] if cjk else job.get("ascii", job["lines"])
    light = tuple(min(255, c + 70) for c in colour)
    if job.get("kind") == "cover":
        draw.rectangle((0, h // 5, w, h // 5 + h // 4), fill=light)
        y = h // 5 + h // 20
        for n, text in enumerate(lines):
            y = centred(draw, y, text, big if n == 0 else small, (20, 20, 20), w)
        draw.rectangle((8, 8, w - 9, h - 9), outline=(255, 255, 255), width=3)
    else:
        page = Image.new("RGB", (w, h), (250, 248, 240))
        draw = ImageDraw.Draw(page)
        draw.rectangle((0, 0, w, h // 8), fill=colour)
        y = h // 32
        for text in lines[:1]:
            centred(draw, y, text, small, (255, 255, 255), w)
        # Grey text lines stand for the article; the page number is large enough to check.
        for row in range(h // 4, h - h // 6, max(14, h // 40)):
            draw.rectangle((w // 10, row, w - w // 10 - (row * 7) % (w // 4), row + 4),
                           fill=(190, 190, 190))
        number = str(job.get("number", ""))
        centred(draw, h - h // 8, number, big, colour, w)
        img = page
    os.makedirs(os.path.dirname(job["path"]) or ".", exist_ok=True)
    tmp = job["path"] + ".tmp"
    img.save(tmp, "JPEG", quality=80)
    os.replace(tmp, job["path"])


def main():
    jobs = json.load(sys.stdin)
    for job in jobs:
        make(job)
    print(f"made {len(jobs)}")


if __name__ == "__main__":
    main()
