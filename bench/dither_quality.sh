#!/usr/bin/env bash
# Quality of the dithering: each photo reduced to each format by rastrom-preview (--dither
# none, floyd-steinberg and ordered: the picture that rastrom-mem's memory shows) and by
# ImageMagick (Floyd-Steinberg remap to the same palette, and 8x8 ordered dither to the
# same levels), each result measured against the photo by the mean S-CIELAB colour
# difference at 20 and 40 pixels a degree (lower is better), with the seconds each run took.
#
#   bench/dither_quality.sh                       the five colour photos at rgb332 and rgb444,
#                                                 and the two grey ones at gray4 and mono
#   bench/dither_quality.sh --photos "astronaut.png coffee.png" --formats rgb332 --check
#   bench/dither_quality.sh --build build-clang
#
# --check fails (exit 1) when floyd-steinberg misses its goal on a photo: above ImageMagick's
# Floyd-Steinberg at either distance, or above the mean of the photos' goal (rgb332: 3.9 at
# 20 ppd and 1.2 at 40 ppd; rgb444: 1.6 and 0.47).
#
# Needs ImageMagick (imagemagick), the photos of python3-skimage, and Python 3 with numpy,
# scipy and Pillow (python3-scipy, python3-pil). The measure is ../shared/tools/scielab.py
# beside the project (RASTROM_SHARED_DIR names another folder for ../shared). Installs nothing.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
photos=""
formats=""
check=0
while [ $# -gt 0 ]; do
  case "$1" in
    --photos) photos="${2:?--photos wants a list}"; shift ;;
    --formats) formats="${2:?--formats wants a list}"; shift ;;
    --build) build="$(cd "${2:?--build wants a directory}" 2>/dev/null && pwd || echo "$2")"; shift ;;
    --check) check=1 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

python=/usr/bin/python3
[ -x "$python" ] || python="$(command -v python3 || true)"
data=/usr/lib/python3/dist-packages/skimage/data
scielab="${RASTROM_SHARED_DIR:-$root/../shared}/tools/scielab.py"
# Debian's ImageMagick 6 under its own name first: a `convert` earlier on the PATH may be
# a wrapper whose start-up would be timed as ImageMagick's.
magick="$(command -v convert-im6.q16 || command -v magick || command -v convert || true)"

missing=()
[ -n "$magick" ] || missing+=(imagemagick)
[ -d "$data" ] || missing+=(python3-skimage)
if [ -z "$python" ] || ! "$python" -c 'import numpy, scipy' 2>/dev/null; then missing+=(python3-scipy); fi
if [ -z "$python" ] || ! "$python" -c 'import PIL' 2>/dev/null; then missing+=(python3-pil); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "dither_quality.sh needs: ${missing[*]} (apt-get install ${missing[*]})" >&2
  exit 2
fi
if [ ! -f "$scielab" ]; then
  echo "dither_quality.sh needs the measure $scielab" >&2
  exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target rastrom-preview >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-dither.XXXXXX")"
trap 'rm -rf "$work"' EXIT

export PREVIEW="$build/rastrom-preview" MAGICK="$magick" SCIELAB="$scielab" \
  DATA="$data" WORK="$work" PHOTOS="$photos" FORMATS="$formats" CHECK="$check"
exec "$python" - <<'PY'
import os, subprocess, sys, time
import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.environ["SCIELAB"]))
import scielab

work, data = os.environ["WORK"], os.environ["DATA"]
magick, preview = os.environ["MAGICK"], os.environ["PREVIEW"]
GOALS = {"rgb332": (3.9, 1.2), "rgb444": (1.6, 0.47)}
PPDS = (20, 40)

def bits_of(fmt):
    if fmt == "mono":
        return None, 1
    if fmt.startswith("gray"):
        return None, int(fmt[4:])
    return [int(c) for c in fmt[3:]], None

def palette(fmt):
    """Every colour the format shows, as a PPM ImageMagick reads: codes widened by
    repeating their bits."""
    def widen(v, n):
        w, s = 0, 8 - n
        while s > -n:
            w |= v << s if s >= 0 else v >> -s
            s -= n
        return w & 255
    rgb, grey = bits_of(fmt)
    if grey:
        colours = [(widen(v, grey),) * 3 for v in range(1 << grey)]
    else:
        colours = [(widen(r, rgb[0]), widen(g, rgb[1]), widen(b, rgb[2]))
                   for r in range(1 << rgb[0]) for g in range(1 << rgb[1]) for b in range(1 << rgb[2])]
    path = os.path.join(work, fmt + "-palette.ppm")
    Image.fromarray(np.array([colours], dtype=np.uint8)).save(path)
    return path

def run(cmd):
    start = time.monotonic()
    subprocess.run(cmd, check=True)
    return time.monotonic() - start

default_photos = ["astronaut.png", "chelsea.png", "coffee.png", "rocket.jpg", "motorcycle_left.png"]
grey_photos = ["camera.png", "moon.png"]
formats = os.environ["FORMATS"].split()
photos = os.environ["PHOTOS"].split()
jobs = []
if photos:
    jobs = [(p, f) for f in (formats or ["rgb332", "rgb444"]) for p in photos]
else:
    colour = [f for f in formats if f.startswith("rgb")] if formats else ["rgb332", "rgb444"]
    grey = [f for f in formats if not f.startswith("rgb")] if formats else ["gray4", "mono"]
    jobs = [(p, f) for f in colour for p in default_photos] + [(p, f) for f in grey for p in grey_photos]

methods = ["none", "floyd-steinberg", "ordered", "im-fs", "im-o8x8"]
print("mean S-CIELAB difference at 20 / 40 pixels a degree (lower is better), seconds a run")
print("%-20s %-7s" % ("photo", "format") + "".join(" %-19s" % m for m in methods))
failed = []
sums = {}
for photo, fmt in jobs:
    name = os.path.splitext(photo)[0]
    rgb, grey = bits_of(fmt)
    source = Image.open(os.path.join(data, photo))
    source = source.convert("L").convert("RGB") if grey else source.convert("RGB")
    bmp = os.path.join(work, "%s-%s.bmp" % (name, "grey" if grey else "rgb"))
    source.save(bmp)
    ref = np.asarray(source)
    pal = palette(fmt)
    levels = ",".join(str(1 << n) for n in ([grey] if grey else rgb))
    outs, secs = {}, {}
    for m in methods[:3]:
        outs[m] = os.path.join(work, "%s-%s-%s.bmp" % (name, fmt, m))
        secs[m] = run([preview, "--pixel", fmt, "--dither", m, bmp, outs[m]])
    outs["im-fs"] = os.path.join(work, "%s-%s-im-fs.png" % (name, fmt))
    secs["im-fs"] = run([magick, bmp, "-dither", "FloydSteinberg", "-remap", pal, outs["im-fs"]])
    outs["im-o8x8"] = os.path.join(work, "%s-%s-im-o8x8.png" % (name, fmt))
    secs["im-o8x8"] = run([magick, bmp, "-ordered-dither", "o8x8," + levels, outs["im-o8x8"]])
    scores = {}
    refs = {p: scielab.scielab_lab(ref, p) for p in PPDS}
    for m in methods:
        test = np.asarray(Image.open(outs[m]).convert("RGB"))
        scores[m] = [scielab.scielab_de(ref, test, p, refs[p]) for p in PPDS]
        acc = sums.setdefault((fmt, m), [0.0, 0.0, 0])
        acc[0] += scores[m][0]; acc[1] += scores[m][1]; acc[2] += 1
    print("%-20s %-7s" % (photo, fmt) +
          "".join(" %5.2f %5.2f %6.2fs" % (scores[m][0], scores[m][1], secs[m]) for m in methods),
          flush=True)
    fs, im = scores["floyd-steinberg"], scores["im-fs"]
    for i, p in enumerate(PPDS):
        if fs[i] >= im[i]:
            failed.append("%s %s: floyd-steinberg %.2f not below ImageMagick's %.2f at %d ppd"
                          % (photo, fmt, fs[i], im[i], p))
    if scores["ordered"][0] >= scores["im-o8x8"][0]:
        print("  (ordered %.2f not below ImageMagick's o8x8 %.2f at 20 ppd)"
              % (scores["ordered"][0], scores["im-o8x8"][0]))

print("mean over the photos")
for fmt in dict.fromkeys(f for _, f in jobs):
    print("%-20s %-7s" % ("", fmt) + "".join(
        " %5.2f %5.2f        " % (sums[(fmt, m)][0] / sums[(fmt, m)][2], sums[(fmt, m)][1] / sums[(fmt, m)][2])
        for m in methods))
    if fmt in GOALS:
        n = sums[(fmt, "floyd-steinberg")][2]
        mean = [sums[(fmt, "floyd-steinberg")][i] / n for i in (0, 1)]
        for i, p in enumerate(PPDS):
            if mean[i] > GOALS[fmt][i]:
                failed.append("%s: floyd-steinberg's mean %.2f above the goal %.2f at %d ppd"
                              % (fmt, mean[i], GOALS[fmt][i], p))
for line in failed:
    print("MISSED " + line)
sys.exit(1 if failed and os.environ["CHECK"] == "1" else 0)
PY
