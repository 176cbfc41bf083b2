#!/usr/bin/env bash
# Benchmark: rastrom-mem on the same picture stored as a 24-bit BMP and as a PNG (made from
# it by ImageMagick), each to a .mem file, for two pictures: the benchmark's gradients with
# hashed noise, and a photo-like plasma fractal. Runs alternate (BMP, PNG, BMP, ...); the
# medians of wall and CPU (user + system) time and the ratios PNG / BMP are reported. The
# PNG is meant to cost at most 2x the BMP. A last line per picture times zlib's inflate of
# the PNG's pixel stream alone, the least any decoder built on zlib spends on it.
#
#   bench/picture.sh                  640 x 480, 21 runs each
#   bench/picture.sh --quick          1 run each: a smoke run that checks both outputs agree
#   bench/picture.sh --size 4096x2048 --runs 9 --build build-clang
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
width=640
height=480
runs=21
quick=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; runs=1 ;;
    --size)
      [[ "${2:-}" =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "--size wants WIDTHxHEIGHT" >&2; exit 2; }
      width="${BASH_REMATCH[1]}"; height="${BASH_REMATCH[2]}"; shift ;;
    --runs)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "--runs wants a positive count" >&2; exit 2; }
      runs="$2"; shift ;;
    --build) build="$(cd "${2:?--build wants a directory}" 2>/dev/null && pwd || echo "$2")"; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done
command -v convert >/dev/null || { echo "ImageMagick's convert is needed (apt-get install imagemagick)" >&2; exit 2; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target rastrom-mem rastrom_bench_bmp rastrom_bench_measure >/dev/null
# zlib's inflate of each PNG's pixel stream alone, where zlib's headers were found.
inflate="$build/bench/rastrom_bench_inflate"
cmake --build "$build" --target rastrom_bench_inflate >/dev/null 2>&1 || inflate=""
mem="$build/rastrom-mem"
measure="$build/bench/rastrom_bench_measure"

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-bench-picture.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/rastrom_bench_bmp" "$width" "$height" "$work/noise.bmp"
convert -seed 1 -size "${width}x$height" plasma:fractal -blur 0x1 -type TrueColor "BMP3:$work/photo.bmp"

median() {
  sort -n -k"$2","$2" "$1" | awk -v k="$2" '{v[NR] = $k} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "rastrom-mem, $width x $height pictures to .mem, $runs runs each (medians; CPU = user + system):"
for picture in noise photo; do
  bmp="$work/$picture.bmp"
  png="$work/$picture.png"
  convert "$bmp" "$png"
  # Both must give the same words (the comment line names the input, so it is skipped).
  "$mem" "$bmp" "$work/bmp.mem"
  "$mem" "$png" "$work/png.mem"
  if ! cmp -s <(tail -n +2 "$work/bmp.mem") <(tail -n +2 "$work/png.mem"); then
    echo "$picture: the PNG gives other words than the BMP" >&2
    exit 1
  fi
  : >"$work/bmp.txt"
  : >"$work/png.txt"
  for ((i = 1; i <= runs; i++)); do
    "$measure" "$mem" "$bmp" "$work/out.mem" >>"$work/bmp.txt"
    "$measure" "$mem" "$png" "$work/out.mem" >>"$work/png.txt"
  done
  # rastrom_bench_measure: wall, user, system, peak RSS, page faults, exit status.
  if awk '$6 != 0 {bad = 1} END {exit !bad}' "$work/bmp.txt" "$work/png.txt"; then
    echo "a run failed" >&2
    exit 1
  fi
  for f in bmp png; do awk '{print $2 + $3}' "$work/$f.txt" >"$work/$f.cpu"; done
  awk -v name="$picture" -v bsize="$(stat -c %s "$bmp")" -v psize="$(stat -c %s "$png")" \
      -v bw="$(median "$work/bmp.txt" 1)" -v pw="$(median "$work/png.txt" 1)" \
      -v bc="$(median "$work/bmp.cpu" 1)" -v pc="$(median "$work/png.cpu" 1)" \
      -v bf="$(median "$work/bmp.txt" 5)" -v pf="$(median "$work/png.txt" 5)" 'BEGIN {
    printf "  %-6s BMP %7d bytes: wall %.4f s, CPU %.4f s, %d page faults\n", name, bsize, bw, bc, bf
    printf "  %-6s PNG %7d bytes: wall %.4f s, CPU %.4f s, %d page faults; PNG / BMP: wall %.2f, CPU %.2f (%s)\n",
           name, psize, pw, pc, pf, pw / bw, (bc > 0 ? pc / bc : 0),
           (pw <= 2 * bw ? "within 2x" : "over 2x")
  }'
  if [ -n "$inflate" ] && [ "$quick" -eq 0 ]; then
    awk -v name="$picture" -v bw="$(median "$work/bmp.txt" 1)" -v iw="$("$inflate" "$png" "$runs")" 'BEGIN {
      printf "  %-6s zlib inflate of the PNG'"'"'s pixel stream alone: %.4f s = %.2f x the BMP'"'"'s whole run\n", name, iw, iw / bw
    }'
  fi
done
if [ "$quick" -eq 1 ]; then echo "quick run: the PNG and BMP words checked equal"; fi
