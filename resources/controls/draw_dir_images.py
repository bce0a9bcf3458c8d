#!/usr/bin/env python3
"""Draws the three 16x16 images of the directory button (an open folder on magenta, which the
edit treats as transparent) and writes them as 256-colour BMP files: DIR0 (normal, yellow and
brown), DIR1 (disabled, greys), DIR2 (hot, darker yellow). Run by hand; the files are committed."""
import struct
import sys

# The drawing: '.' background, 'o' outline, 'b' back of the folder, 'f' front flap, 'h' light edge.
FOLDER = [
    "................",
    "................",
    ".oooo...........",
    "ohhhho..........",
    "obbbbooooooo....",
    "obbbbbbbbbbbo...",
    "obbbbbbbbbbbo...",
    "obbooooooooooooo",
    "obbofhhhhhhhhhfo",
    "obofffffffffffo.",
    "obofffffffffffo.",
    "oofffffffffffo..",
    "oofffffffffffo..",
    "ooooooooooooo...",
    "................",
    "................",
]

PALETTES = {
    "DIR0": {"o": (96, 64, 0), "b": (200, 150, 40), "f": (255, 214, 80), "h": (255, 244, 180)},
    "DIR1": {"o": (96, 96, 96), "b": (150, 150, 150), "f": (192, 192, 192), "h": (224, 224, 224)},
    "DIR2": {"o": (80, 48, 0), "b": (170, 120, 20), "f": (220, 170, 30), "h": (240, 210, 110)},
}
MAGENTA = (255, 0, 255)


def write_bmp(path, colours):
    keys = ".obfh"
    palette = [MAGENTA] + [colours[k] for k in keys[1:]]
    palette += [(0, 0, 0)] * (256 - len(palette))
    rows = []
    for line in reversed(FOLDER):  # bottom-up
        rows.append(bytes(keys.index(c) for c in line))
    pixels = b"".join(rows)  # 16 bytes a row: already 4-byte aligned
    header_size = 14 + 40 + 256 * 4
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    head = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    with open(path, "wb") as f:
        f.write(head + info + pal + pixels)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, colours in PALETTES.items():
        write_bmp(f"{out}/{name}.bmp", colours)
