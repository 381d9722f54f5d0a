#!/usr/bin/env python3
"""Writes the plug-in's icon: one 32 by 32 true-colour image of a letter on a blue tile.
Usage: make_icon.py OUTPUT.ico"""

import struct
import sys

SIZE = 32


def pixel(x, y):
    """The colour of one pixel as (blue, green, red, alpha); y counts from the top."""
    if x < 2 or y < 2 or x >= SIZE - 2 or y >= SIZE - 2:
        return (0, 0, 0, 0)  # a transparent margin
    if x in (2, SIZE - 3) or y in (2, SIZE - 3):
        return (96, 48, 16, 255)  # the tile's dark edge
    # A white envelope with its flap drawn as a V.
    if 8 <= x < 24 and 10 <= y < 22:
        flap = abs(x - 15.5) + 10 - (y - 10) * 1.3
        if abs(flap - 10) < 1.0 or x in (8, 23) or y in (10, 21):
            return (64, 32, 0, 255)
        return (255, 255, 255, 255)
    shade = 160 + (y * 3)
    return (min(shade, 255), 112, 32, 255)


def main():
    rows = []
    for y in reversed(range(SIZE)):  # bitmap rows run bottom-up
        rows.append(b"".join(struct.pack("<4B", *pixel(x, y)) for x in range(SIZE)))
    colour = b"".join(rows)
    mask = bytes(SIZE * 4)  # the AND mask: all opaque; the alpha channel decides
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(sys.argv[1], "wb") as f:
        f.write(directory + image)


if __name__ == "__main__":
    main()
