#!/usr/bin/env python3
"""Writes a Windows icon file (.ico) from pixel maps in text form.

Usage: make-icon.py OUTPUT.ico MAP.txt [MAP.txt ...]

Each map is one picture: square, 16 or 32 rows of as many characters. A
character is a colour of the standard 16-colour palette, 0-9 and a-f, or "."
for a transparent pixel. Each picture becomes a 4-bit image (16 colours, one
plane) with its transparency mask, in the order given. Only the standard
library is used, and the output depends on nothing but the maps.
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
TRANSPARENT = "."


def read_map(path):
    rows = [line.rstrip("\n") for line in open(path, encoding="ascii")]
    rows = [row for row in rows if row and not row.startswith("#")]
    size = len(rows)
    if size not in (16, 32) or any(len(row) != size for row in rows):
        sys.exit(f"{path}: a map is 16 or 32 rows of as many characters")
    for row in rows:
        for pixel in row:
            if pixel != TRANSPARENT and pixel not in "0123456789abcdef":
                sys.exit(f"{path}: unknown colour {pixel!r}")
    return rows


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def image(rows):
    """The image as stored in an icon: header, palette, colour bits, mask bits."""
    size = len(rows)
    colours = b""
    mask = b""
    for row in reversed(rows):  # bottom-up, as in every bitmap
        indices = [0 if p == TRANSPARENT else int(p, 16) for p in row]
        colours += padded(bytes(indices[i] << 4 | indices[i + 1] for i in range(0, size, 2)))
        bits = [1 if p == TRANSPARENT else 0 for p in row]
        mask += padded(bytes(sum(bits[i + j] << (7 - j) for j in range(8)) for i in range(0, size, 8)))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + colours + mask


def icon(maps):
    images = [image(rows) for rows in maps]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for rows, data in zip(maps, images):
        size = len(rows)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: make-icon.py OUTPUT.ico MAP.txt [MAP.txt ...]")
    data = icon([read_map(path) for path in sys.argv[2:]])
    with open(sys.argv[1], "wb") as output:
        output.write(data)


if __name__ == "__main__":
    main()
