#!/usr/bin/env bash
# Makes docs/dither-332.png, the picture of docs/dithering.md and the README: a part of
# scikit-image's astronaut.png (a NASA photo) as it is, and at 3-3-2 as rastrom-preview
# shows it with --dither none, floyd-steinberg and ordered, side by side, enlarged twice so
# that a browser shows the pixels sharply.
#
#   docs/make_dither_pictures.sh [BUILD_DIR]      (default: build)
#
# Needs ImageMagick (imagemagick) and the photo (python3-skimage).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
photo=/usr/lib/python3/dist-packages/skimage/data/astronaut.png
magick="$(command -v convert-im6.q16 || command -v magick || command -v convert || true)"
[ -n "$magick" ] || { echo "needs ImageMagick (apt-get install imagemagick)" >&2; exit 2; }
[ -f "$photo" ] || { echo "needs $photo (apt-get install python3-skimage)" >&2; exit 2; }

cmake --build "$build" --target rastrom-preview >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-pictures.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The face, 200 x 150 pixels, as a 24-bit BMP.
"$magick" "$photo" -crop 200x150+140+20 +repage -type TrueColor "BMP3:$work/photo.bmp"
parts=("$work/photo.bmp")
for method in none floyd-steinberg ordered; do
  "$build/rastrom-preview" --pixel rgb332 --dither "$method" "$work/photo.bmp" "$work/$method.bmp"
  parts+=("$work/$method.bmp")
done
# Two by two, 8 white pixels apart, each pixel a 2 x 2 block.
"$magick" \( "${parts[0]}" "${parts[1]}" -bordercolor white -border 4 +append \) \
  \( "${parts[2]}" "${parts[3]}" -bordercolor white -border 4 +append \) -append \
  -scale 200% -strip "$root/docs/dither-332.png"
echo "wrote docs/dither-332.png"
