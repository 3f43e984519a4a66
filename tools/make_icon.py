#!/usr/bin/env python3
"""Draws the program icon, a total station on its tripod, as a 16-colour
.ico with a 32x32 and a 16x16 image. Run it to regenerate
resources/kvr_reader.ico."""
import struct
import sys

# The standard 16-colour palette (index: B, G, R).
PALETTE = [(0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
           (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
           (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255)]
BLACK, DARK_GREY, GREY, YELLOW, DARK_YELLOW, BLUE, RED, WHITE = 0, 8, 7, 11, 3, 12, 9, 15


def draw(size):
    """Returns rows (top first) of palette indices, None for transparent."""
    s = size / 32.0
    px = [[None] * size for _ in range(size)]

    def put(x, y, c):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = c

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                put(x, y, c)

    def line(x0, y0, x1, y1, c, width=1):
        x0, y0, x1, y1 = x0 * s, y0 * s, x1 * s, y1 * s
        steps = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i / steps
            y = y0 + (y1 - y0) * i / steps
            for w in range(width):
                put(int(x) + w, int(y), c)

    # Tripod legs and head.
    line(15, 17, 5, 31, DARK_YELLOW, 2)
    line(16, 17, 26, 31, DARK_YELLOW, 2)
    line(15.5, 17, 15.5, 31, DARK_YELLOW, 1 if size < 32 else 2)
    rect(10, 15, 22, 18, DARK_GREY)
    # Instrument: standards, body, telescope and display.
    rect(11, 5, 13, 15, YELLOW)
    rect(19, 5, 21, 15, YELLOW)
    rect(12, 10, 20, 15, YELLOW)
    rect(13, 6, 19, 10, DARK_GREY)
    rect(7, 7, 25, 9, BLACK)
    rect(6, 6, 8, 10, BLUE)
    rect(14, 11, 18, 14, BLUE)
    put(int(16 * s), int(12 * s), WHITE)
    # Outline of the body.
    for y in range(int(5 * s), int(15 * s)):
        put(int(11 * s) - 1, y, BLACK)
        put(int(21 * s), y, BLACK)
    return px


def image(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (b, g, r) in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(px):  # bitmaps are stored bottom-up
        nibbles = [(c if c is not None else 0) for c in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b'\0' * (-len(data) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b'\0' * (-len(mask) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def main(path):
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'resources/kvr_reader.ico')
