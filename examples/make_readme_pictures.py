#!/usr/bin/env python3
"""Makes the README's pictures of the sample and of its preview.

Converts examples/sample.bmp with the built rastrom, shows the COE file with the built
rastrom-preview (examples/sample-preview.bmp), and writes both pictures as PNG files
enlarged four times, each pixel a 4 x 4 block, so that a browser shows the bands of the
3-3-2 colours sharply: examples/sample.png and examples/sample-preview.png.

    python3 examples/make_readme_pictures.py [BUILD_DIR]     (default: build)

Needs Python 3 alone. Reads only the two kinds of BMP file involved: uncompressed rows of
24 bits, and of 8 bits with a palette.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

SCALE = 4


def read_bmp(path):
    """Returns (width, height, rows of (r, g, b) from the top) of a 24- or 8-bit BMP."""
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        sys.exit(f"{path}: not a BMP file")
    offset, = struct.unpack_from("<I", data, 10)
    header_size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if compression != 0 or bits not in (8, 24) or width <= 0 or height == 0:
        sys.exit(f"{path}: only uncompressed 8- and 24-bit files are read here")
    palette = []
    if bits == 8:
        colours, = struct.unpack_from("<I", data, 46)
        start = 14 + header_size
        for i in range(colours or 256):
            b, g, r = data[start + 4 * i:start + 4 * i + 3]
            palette.append((r, g, b))
    stride = (width * bits // 8 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        stored = abs(height) - 1 - y if height > 0 else y
        row = data[offset + stored * stride:offset + stored * stride + stride]
        if bits == 24:
            rows.append([(row[3 * x + 2], row[3 * x + 1], row[3 * x]) for x in range(width)])
        else:
            rows.append([palette[row[x]] for x in range(width)])
    return width, abs(height), rows


def write_png(path, width, height, rows):
    """Writes the rows enlarged SCALE times as an 8-bit RGB PNG."""
    raw = bytearray()
    for row in rows:
        line = bytes(c for pixel in row for _ in range(SCALE) for c in pixel)
        for _ in range(SCALE):
            raw += b"\0" + line  # filter type 0: the bytes as they are

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width * SCALE, height * SCALE, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build")
    sample = os.path.join(here, "sample.bmp")
    preview = os.path.join(here, "sample-preview.bmp")
    with tempfile.TemporaryDirectory() as scratch:
        coe = os.path.join(scratch, "sample.coe")
        subprocess.run([os.path.join(build, "rastrom"), sample, coe], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([os.path.join(build, "rastrom-preview"), coe, "62x32", preview], check=True)
    for source, png in ((sample, "sample.png"), (preview, "sample-preview.png")):
        width, height, rows = read_bmp(source)
        write_png(os.path.join(here, png), width, height, rows)
        print(f"examples/{png}: {width} x {height}, shown {SCALE} times larger")


if __name__ == "__main__":
    main()
