#!/usr/bin/env bash
# Speed of the dithering, as a user meets it: the whole rastrom-mem process.
#  1. A 1024 x 1024 picture reduced to rgb332 with --dither floyd-steinberg, beside
#     ImageMagick's Floyd-Steinberg remap of the same picture to the same 256 colours
#     (written as BMP, its cheapest output); the goal is at least 10 times faster.
#  2. An 8192 x 8192 picture with --dither floyd-steinberg and ordered, beside --dither
#     none; the goal is at most 3 times the time of none.
# Runs alternate between the commands compared, and the medians of the wall times count.
#
#   bench/dither_speed.sh                 5 runs each
#   bench/dither_speed.sh --runs 9 --build build-clang
#   bench/dither_speed.sh --pixel gray4   the 8192 x 8192 picture in another format
#
# Needs ImageMagick (imagemagick) for the first comparison; without it, only the second.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
runs=5
pixel=rgb332
while [ $# -gt 0 ]; do
  case "$1" in
    --runs)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "--runs wants a positive count" >&2; exit 2; }
      runs="$2"; shift ;;
    --pixel) pixel="${2:?--pixel wants a format}"; shift ;;
    --build) build="$(cd "${2:?--build wants a directory}" 2>/dev/null && pwd || echo "$2")"; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target rastrom-mem rastrom_bench_bmp rastrom_bench_measure >/dev/null
mem="$build/rastrom-mem"
make_bmp="$build/bench/rastrom_bench_bmp"
measure="$build/bench/rastrom_bench_measure"
# Debian's ImageMagick 6 under its own name first: a `convert` earlier on the PATH may be a
# wrapper whose start-up would be timed as ImageMagick's.
magick="$(command -v convert-im6.q16 || command -v magick || command -v convert || true)"

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-dither-speed.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The median wall time of a file of rastrom_bench_measure lines, wall, user and system time
# first and the exit status last (with "cpu", the median of user + system time); fails on a
# failed run.
median() {
  if awk '$NF != 0 {bad = 1} END {exit !bad}' "$1"; then
    echo "a run failed: $1" >&2
    exit 1
  fi
  awk -v cpu="${2:-}" '{print (cpu ? $2 + $3 : $1)}' "$1" | sort -n | awk '{v[NR] = $1} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs each named command of the arrays given, in turn, `runs` times; a file per command.
alternate() {
  local i name
  for ((i = 1; i <= runs; i++)); do
    for name in "$@"; do
      local -n cmd="$name"
      "$measure" "${cmd[@]}" >>"$work/$name.txt"
      rm -f "$work"/out.*
    done
  done
}

"$make_bmp" 1024 1024 "$work/small.bmp"
if [ -n "$magick" ]; then
  # Every colour of rgb332, each code widened by repeating its bits, as a plain PPM.
  {
    echo "P3 256 1 255"
    for ((v = 0; v < 256; v++)); do
      r=$((v >> 5)) g=$((v >> 2 & 7)) b=$((v & 3))
      echo "$((r << 5 | r << 2 | r >> 1)) $((g << 5 | g << 2 | g >> 1)) $((b * 85))"
    done
  } >"$work/palette.ppm"
  small_im=("$magick" "$work/small.bmp" -dither FloydSteinberg -remap "$work/palette.ppm" "$work/out.bmp")
  small_fs=("$mem" --pixel rgb332 --dither floyd-steinberg "$work/small.bmp" "$work/out.mem")
  alternate small_im small_fs
  im=$(median "$work/small_im.txt")
  fs=$(median "$work/small_fs.txt")
  awk -v im="$im" -v fs="$fs" 'BEGIN {
    printf "1024 x 1024 rgb332  ImageMagick remap %.3f s   rastrom-mem --dither floyd-steinberg %.3f s   %.1f times faster (goal 10)\n",
           im, fs, im / fs }'
else
  echo "1024 x 1024: ImageMagick not found (apt-get install imagemagick), comparison skipped"
fi

"$make_bmp" 8192 8192 "$work/large.bmp"
cat "$work/large.bmp" >/dev/null  # into the page cache
large_none=("$mem" --pixel "$pixel" --dither none "$work/large.bmp" "$work/out.mem")
large_fs=("$mem" --pixel "$pixel" --dither floyd-steinberg "$work/large.bmp" "$work/out.mem")
large_ordered=("$mem" --pixel "$pixel" --dither ordered "$work/large.bmp" "$work/out.mem")
alternate large_none large_fs large_ordered
none=$(median "$work/large_none.txt")
fs=$(median "$work/large_fs.txt")
ordered=$(median "$work/large_ordered.txt")
awk -v pixel="$pixel" -v none="$none" -v fs="$fs" -v ordered="$ordered" 'BEGIN {
  printf "8192 x 8192 %-7s none %.3f s   floyd-steinberg %.3f s (%.2f x none)   ordered %.3f s (%.2f x none)   (goal 3)\n",
         pixel, none, fs, fs / none, ordered, ordered / none }'
# The processor time, which other work on a shared machine disturbs less than the wall time.
none=$(median "$work/large_none.txt" cpu)
fs=$(median "$work/large_fs.txt" cpu)
ordered=$(median "$work/large_ordered.txt" cpu)
awk -v none="$none" -v fs="$fs" -v ordered="$ordered" 'BEGIN {
  printf "  user + system     none %.3f s   floyd-steinberg %.3f s (%.2f x none)   ordered %.3f s (%.2f x none)\n",
         none, fs, fs / none, ordered, ordered / none }'
