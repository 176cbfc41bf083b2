#!/usr/bin/env bash
# Benchmark of the pixel formats: rastrom-mem writing the same generated 24-bit picture as
# 3-3-2 pixels four to a 32-bit word (the converter's layout) and as one 4-4-4 pixel a
# 12-bit word (a 12-bit VGA port), runs alternating; the medians and the ratio
# rgb444 / rgb332, which should stay within 1.5. Peak RSS is reported beside them.
#
#   bench/formats.sh                    8192 x 8192, 5 runs each
#   bench/formats.sh --quick            256 x 256, 1 run each: a smoke run
#   bench/formats.sh --size 4096x4096 --runs 3 --build build
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
width=8192 height=8192 runs=5 quick=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; width=256; height=256; runs=1 ;;
    --size)
      [[ "${2:-}" =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "--size wants WIDTHxHEIGHT" >&2; exit 2; }
      width="${BASH_REMATCH[1]}"; height="${BASH_REMATCH[2]}"; shift ;;
    --runs)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "--runs wants a positive count" >&2; exit 2; }
      runs="$2"; shift ;;
    --build) build="$(cd "${2:?--build wants a directory}" && pwd)"; shift ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target rastrom-mem rastrom_bench_bmp rastrom_bench_measure >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-formats.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/rastrom_bench_bmp" "$width" "$height" "$work/input.bmp" >/dev/null
cat "$work/input.bmp" >/dev/null  # into the page cache

declare -A options=([rgb332]="--pixel rgb332 --word 32" [rgb444]="--pixel rgb444")
for ((i = 1; i <= runs; i++)); do
  for format in rgb332 rgb444; do
    sync
    # shellcheck disable=SC2086
    "$build/bench/rastrom_bench_measure" "$build/rastrom-mem" ${options[$format]} \
      "$work/input.bmp" "$work/$format.mem" >>"$work/$format.txt"
    [ "$i" -lt "$runs" ] && rm -f "$work/$format.mem"
  done
done
for format in rgb332 rgb444; do
  awk '$6 != 0 { exit 1 }' "$work/$format.txt" || { echo "a $format run failed" >&2; exit 1; }
done
# The words: one a line after the comment.
[ "$(($(wc -l <"$work/rgb444.mem") - 1))" -eq $((width * height)) ] || { echo "unexpected rgb444 depth" >&2; exit 1; }
[ "$(($(wc -l <"$work/rgb332.mem") - 1))" -eq $(((width * height + 3) / 4)) ] || { echo "unexpected rgb332 depth" >&2; exit 1; }

median() {
  sort -n -k"$2","$2" "$1" | awk -v k="$2" '{v[NR] = $k} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
a=$(median "$work/rgb332.txt" 1) b=$(median "$work/rgb444.txt" 1)
ra=$(median "$work/rgb332.txt" 4) rb=$(median "$work/rgb444.txt" 4)
echo "formats     ${width} x ${height}, $runs runs each: rastrom-mem to .mem"
awk -v a="$a" -v b="$b" -v ra="$ra" -v rb="$rb" -v sa="$(stat -c %s "$work/rgb332.mem")" \
    -v sb="$(stat -c %s "$work/rgb444.mem")" 'BEGIN {
  printf "  rgb332, 32-bit words  wall %.3f s   peak RSS %.1f MiB   %d bytes\n", a, ra / 1024, sa
  printf "  rgb444, 12-bit words  wall %.3f s   peak RSS %.1f MiB   %d bytes\n", b, rb / 1024, sb
  printf "  ratio rgb444 / rgb332 = %.2f (goal: at most 1.5)\n", (a > 0 ? b / a : 0)
}'
if [ "$quick" -eq 1 ]; then echo "quick run: output checked"; fi
