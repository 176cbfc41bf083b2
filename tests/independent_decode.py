#!/usr/bin/env python3
"""Checks rastrom-mem's PNG and JPEG decoding against an independent decoder (Pillow).

  independent_decode.py make DIR           write the PNG and JPEG files into DIR
  independent_decode.py check MEM WORKDIR  make them, and check MEM's words on each of
                                           them and on the PNG and JPEG files of Debian's
                                           python3-skimage data folder

The PNG files are made by ImageMagick in every colour type, bit depth and interlace, and
with colour keys and palette alpha; IHDR is read back to show each combination is there.
The JPEG files: baseline and progressive, grey, and colour at 4:4:4, 4:2:2 and 4:2:0.
Pillow decodes each file; its pixels, composited over the background as rastrom-mem
documents it, must be exactly rastrom-mem's words in --pixel rgb888 (one 24-bit pixel a
word). A file Pillow refuses
(skimage's truncated.jpg) must be refused too. Exit status 77 (skipped) when Pillow or
ImageMagick is missing.
"""
import glob
import os
import shutil
import struct
import subprocess
import sys

BACKGROUND = (0x33, 0x66, 0xCC)
SKIMAGE_DATA = "/usr/lib/python3/dist-packages/skimage/data"

# (colour type, bit depth): what ImageMagick is asked to do to the base picture.
COMBINATIONS = {
    (0, 1): ["-alpha", "off", "-colorspace", "Gray", "-depth", "1"],
    (0, 2): ["-alpha", "off", "-colorspace", "Gray", "-depth", "2"],
    (0, 4): ["-alpha", "off", "-colorspace", "Gray", "-depth", "4"],
    (0, 8): ["-alpha", "off", "-colorspace", "Gray"],
    (0, 16): ["-alpha", "off", "-colorspace", "Gray"],
    (2, 8): ["-alpha", "off"],
    (2, 16): ["-alpha", "off"],
    (3, 1): ["-alpha", "off", "+dither", "-colors", "2", "-type", "Palette", "-depth", "1"],
    (3, 2): ["-alpha", "off", "+dither", "-colors", "4", "-type", "Palette", "-depth", "2"],
    # 15 colours: ImageMagick keeps a 4-bit palette only with room for one more entry.
    (3, 4): ["-alpha", "off", "-depth", "8", "+dither", "-colors", "15"],
    (3, 8): ["-alpha", "off", "+dither", "-colors", "200"],
    (4, 8): ["-colorspace", "Gray"],
    (4, 16): ["-colorspace", "Gray"],
    (6, 8): [],
    (6, 16): [],
}
# Transparency chunks: colour keys (binary alpha in a grey or RGB picture) and palette alpha.
KEYED = {
    "key-grey8": ["-depth", "8", "-channel", "A", "-threshold", "50%", "+channel",
                  "-colorspace", "Gray", "-define", "png:color-type=0"],
    "key-grey16": ["-channel", "A", "-threshold", "50%", "+channel", "-colorspace", "Gray",
                   "-define", "png:color-type=0", "-define", "png:bit-depth=16"],
    "key-rgb8": ["-depth", "8", "-channel", "A", "-threshold", "50%", "+channel",
                 "-define", "png:color-type=2"],
    "palette-alpha": ["-depth", "8", "+dither", "-colors", "100", "PNG8:"],
}


def ihdr(path):
    with open(path, "rb") as f:
        head = f.read(33)
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", head[16:29])
    return width, height, depth, colour, interlace, b"tRNS" in open(path, "rb").read()


def make(directory):
    os.makedirs(directory, exist_ok=True)
    base = os.path.join(directory, "base.png")
    # A 37 x 23 picture of noise-like colour with 16-bit channels, its alpha a gradient.
    subprocess.run(["convert", "-seed", "7", "-size", "37x23", "plasma:red-blue", "-depth", "16",
                    "(", "-size", "37x23", "gradient:white-black", ")", "-alpha", "off",
                    "-compose", "CopyOpacity", "-composite", base], check=True)
    made = []
    for (colour, depth), args in COMBINATIONS.items():
        for interlace in ("None", "PNG"):
            out = os.path.join(directory, f"type{colour}-depth{depth}-{interlace.lower()}.png")
            subprocess.run(["convert", base] + args +
                           ["-interlace", interlace, "-define", f"png:color-type={colour}",
                            "-define", f"png:bit-depth={depth}", out],
                           check=True, stderr=subprocess.DEVNULL)
            made.append(out)
    for name, args in KEYED.items():
        out = os.path.join(directory, name + ".png")
        if args[-1] == "PNG8:":
            subprocess.run(["convert", base] + args[:-1] + ["PNG8:" + out], check=True)
        else:
            subprocess.run(["convert", base] + args + [out], check=True)
        made.append(out)
    os.remove(base)
    jpegs = {"jpeg-444": ["-sampling-factor", "1x1"], "jpeg-422": ["-sampling-factor", "2x1"],
             "jpeg-420": ["-sampling-factor", "2x2"],
             "jpeg-progressive": ["-sampling-factor", "1x1", "-interlace", "JPEG"],
             "jpeg-grey": ["-colorspace", "Gray"]}
    for name, args in jpegs.items():
        subprocess.run(["convert", "-seed", "3", "-size", "61x47", "plasma:", "-quality", "90"] +
                       args + [os.path.join(directory, name + ".jpg")], check=True)

    found = {(i[3], i[2], i[4]) for i in map(ihdr, made)}
    wanted = {(c, d, il) for (c, d) in COMBINATIONS for il in (0, 1)}
    if wanted - found:
        sys.exit(f"ImageMagick did not make {sorted(wanted - found)} (colour type, depth, interlace)")
    if not all(ihdr(path)[5] for path in made if os.path.basename(path) in
               {k + ".png" for k in KEYED}):
        sys.exit("ImageMagick wrote no tRNS chunk for the colour-key files")
    return made


def pillow_pixels(path):
    """The picture's straight RGBA pixels as Pillow decodes them, 16-bit values cut to 8."""
    from PIL import Image
    with Image.open(path) as im:
        im.load()
        if im.mode in ("I", "I;16", "I;16B"):  # 16-bit grey: Pillow keeps the whole value
            key = im.info.get("transparency")
            return [(v >> 8, v >> 8, v >> 8, 0 if v == key else 255) for v in im.getdata()]
        return list(im.convert("RGBA").getdata())


def composite(pixels):
    """Each pixel over the background, as 0xRRGGBB."""
    out = []
    for r, g, b, a in pixels:
        r, g, b = ((c * a + bg * (255 - a) + 127) // 255 for c, bg in zip((r, g, b), BACKGROUND))
        out.append(r << 16 | g << 8 | b)
    return out


def mem_pixels(mem, path, out):
    result = subprocess.run([mem, "--pixel", "rgb888", "--background",
                             "%02X%02X%02X" % BACKGROUND, path, out], capture_output=True, text=True)
    if result.returncode != 0:
        return None, result.stderr.strip()
    with open(out) as f:
        lines = [line for line in f.read().splitlines() if not line.startswith("//")]
    return [int(line, 16) for line in lines], ""


def check(mem, work):
    shutil.rmtree(work, ignore_errors=True)
    generated = os.path.join(work, "generated")
    files = make(generated) + sorted(glob.glob(os.path.join(generated, "*.jpg")))
    files += sorted(glob.glob(os.path.join(SKIMAGE_DATA, "*.png")) +
                    glob.glob(os.path.join(SKIMAGE_DATA, "*.jpg")))
    failed = 0
    for path in files:
        try:
            expected = composite(pillow_pixels(path))
        except (OSError, SyntaxError) as error:
            expected = None
            why = str(error)
        got, err = mem_pixels(mem, path, os.path.join(work, "out.mem"))
        name = os.path.relpath(path, work) if path.startswith(work) else os.path.basename(path)
        if expected is None and got is None:
            print(f"{name}: refused by both ({why}; {err})")
        elif expected is None or got is None:
            failed += 1
            print(f"{name}: FAILED: Pillow {'refuses: ' + why if expected is None else 'decodes it'}, "
                  f"rastrom-mem {'refuses: ' + err if got is None else 'decodes it'}")
        elif got != expected:
            failed += 1
            first = next(i for i in range(min(len(got), len(expected))) if got[i] != expected[i]) \
                if len(got) == len(expected) else -1
            print(f"{name}: FAILED: {len(got)} bytes, Pillow {len(expected)}; first difference at {first}")
        else:
            print(f"{name}: {len(got)} pixels, the same as Pillow's")
    print(f"{len(files) - failed} of {len(files)} files as Pillow decodes them")
    return 1 if failed else 0


def main():
    if shutil.which("convert") is None:
        print("skipped: ImageMagick is missing (apt-get install imagemagick)")
        return 77
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
        return 0
    try:
        import PIL  # noqa: F401
    except ImportError:
        print("skipped: Pillow is missing (apt-get install python3-pil)")
        return 77
    if len(sys.argv) == 4 and sys.argv[1] == "check":
        return check(sys.argv[2], sys.argv[3])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
