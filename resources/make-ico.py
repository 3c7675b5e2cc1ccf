#!/usr/bin/env python3
"""Makes pasotune.ico, the Windows program icon, from pasotune.png.

usage: make-ico.py [PNG] [ICO]

Standard library only. Each size is the area average of the 128 x 128
drawing (with premultiplied alpha, so edges keep their colour), stored as a
32-bit bitmap with its mask, the form every Windows version reads.
"""
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 128)


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace:
        raise SystemExit(f"{path}: only 8-bit RGBA, not interlaced")
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = prev[x]
            c = prev[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[x] = (line[x] + pred) & 0xFF
        rows.append(line)
        prev = line
    return width, height, rows


def resample(width, height, rows, size):
    """Area average into size x size; returns rows of (r, g, b, a)."""
    out = []
    sx, sy = width / size, height / size
    for oy in range(size):
        y0, y1 = oy * sy, (oy + 1) * sy
        line = []
        for ox in range(size):
            x0, x1 = ox * sx, (ox + 1) * sx
            acc = [0.0, 0.0, 0.0, 0.0]
            area = 0.0
            y = int(y0)
            while y < y1 and y < height:
                wy = min(y + 1, y1) - max(y, y0)
                x = int(x0)
                while x < x1 and x < width:
                    wx = min(x + 1, x1) - max(x, x0)
                    w = wx * wy
                    r, g, b, a = rows[y][4 * x:4 * x + 4]
                    acc[0] += r * a * w
                    acc[1] += g * a * w
                    acc[2] += b * a * w
                    acc[3] += a * w
                    area += w
                    x += 1
                y += 1
            alpha = acc[3] / area
            if acc[3] > 0:
                pixel = tuple(round(acc[i] / acc[3]) for i in range(3))
            else:
                pixel = (0, 0, 0)
            line.append(pixel + (round(alpha),))
        out.append(line)
    return out


def bitmap(pixels):
    size = len(pixels)
    mask_stride = (size + 31) // 32 * 4
    body = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                       size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    for line in reversed(pixels):
        body += b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in line)
    for line in reversed(pixels):
        mask = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(line):
            if a < 128:
                mask[x // 8] |= 0x80 >> (x % 8)
        body += bytes(mask)
    return body


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "pasotune.png"
    target = sys.argv[2] if len(sys.argv) > 2 else "pasotune.ico"
    width, height, rows = read_png(source)
    images = [bitmap(resample(width, height, rows, size)) for size in SIZES]
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        head += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(target, "wb") as out:
        out.write(head + b"".join(images))


if __name__ == "__main__":
    main()
