#!/usr/bin/env bash
# Benchmark: converts a generated 24-bit BMP with the built rastrom and sets its cost beside
# the I/O floor measured in the same run: reading the same input from the page cache and
# writing a file as large as the COE. Runs alternate (floor, rastrom, floor, ...) and the
# medians are reported, with the ratio rastrom / floor.
#
#   bench/run.sh                  8192 x 8192, 5 runs each
#   bench/run.sh --quick          256 x 256, 1 run each: a smoke run that checks the output
#   bench/run.sh --size 4096x2048 --runs 9 --build build-clang
#
# The image is written to a temporary directory and removed at the end.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
width=8192
height=8192
runs=5
quick=0

while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; width=256; height=256; runs=1 ;;
    --size)
      [[ "${2:-}" =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "--size wants WIDTHxHEIGHT" >&2; exit 2; }
      width="${BASH_REMATCH[1]}"; height="${BASH_REMATCH[2]}"; shift ;;
    --runs)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "--runs wants a positive count" >&2; exit 2; }
      runs="$2"; shift ;;
    --build) build="$(cd "${2:?--build wants a directory}" 2>/dev/null && pwd || echo "$2")"; shift ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target rastrom rastrom_bench_bmp rastrom_bench_measure >/dev/null

rastrom="$build/rastrom"
make_bmp="$build/bench/rastrom_bench_bmp"
measure="$build/bench/rastrom_bench_measure"

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
input="$work/input.bmp"
output="$work/output.coe"
floor_out="$work/floor.out"

"$make_bmp" "$width" "$height" "$input"
input_bytes=$(stat -c %s "$input")

# One checked conversion first: it must succeed, and the vector must have one line a word.
transcript="$("$measure" --keep-stdout "$rastrom" "$input" "$output")"
if ! grep -q '^Program completed successfully!' <<<"$transcript"; then
  echo "rastrom failed:" >&2
  echo "$transcript" >&2
  exit 1
fi
coe_bytes=$(stat -c %s "$output")
words=$(( (width * height + 3) / 4 ))
lines=$(wc -l <"$output")
if [ "$lines" -ne $(( words + 4 )) ] || ! grep -q "depth = $words, and width = 32." "$output"; then
  echo "unexpected COE file: $lines lines for $words words" >&2
  exit 1
fi
rm -f "$output"

# The floor: the input read once from the page cache, and a file of the COE's size written.
floor_cmd=(sh -c 'cat "$1" >/dev/null && dd if=/dev/zero of="$2" bs=1M count="$3" iflag=count_bytes status=none'
           sh "$input" "$floor_out" "$coe_bytes")

cat "$input" >/dev/null  # into the page cache
: >"$work/floor.txt"
: >"$work/rastrom.txt"
for ((i = 1; i <= runs; i++)); do
  sync
  "$measure" "${floor_cmd[@]}" >>"$work/floor.txt"
  rm -f "$floor_out"  # removed before write-back, so it costs the next run nothing
  sync
  "$measure" "$rastrom" "$input" "$output" >>"$work/rastrom.txt"
  rm -f "$output"
done

# Column medians of a file of "wall user sys rss status" lines.
median() {
  sort -n -k"$2","$2" "$1" | awk -v k="$2" '{v[NR] = $k} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for f in floor rastrom; do
  if awk '$5 != 0 {bad = 1} END {exit !bad}' "$work/$f.txt"; then
    echo "a $f run failed" >&2
    exit 1
  fi
done

best() { sort -n -k1,1 "$1" | head -n 1 | cut -d' ' -f1; }

fw=$(median "$work/floor.txt" 1)
rw=$(median "$work/rastrom.txt" 1)
ru=$(median "$work/rastrom.txt" 2)
rs=$(median "$work/rastrom.txt" 3)
rr=$(median "$work/rastrom.txt" 4)
fb=$(best "$work/floor.txt")
rb=$(best "$work/rastrom.txt")
buffer_kib=$(( 4 * width * height / 1024 ))

echo "image       ${width} x ${height}, 24-bit: input $input_bytes bytes, COE $coe_bytes bytes"
echo "runs        $runs each, interleaved (wall s, user s, sys s, peak RSS KiB):"
paste "$work/floor.txt" "$work/rastrom.txt" |
  awk '{printf "  floor %7.3f %7.3f %7.3f %8d    rastrom %7.3f %7.3f %7.3f %8d\n",
        $1, $2, $3, $4, $6, $7, $8, $9}'
awk -v fw="$fw" -v rw="$rw" -v ru="$ru" -v rs="$rs" -v rr="$rr" -v out="$coe_bytes" \
    -v buf="$buffer_kib" -v fb="$fb" -v rb="$rb" 'BEGIN {
  printf "medians\n"
  printf "  I/O floor   wall %.3f s\n", fw
  printf "  rastrom     wall %.3f s   user %.3f s   sys %.3f s   %.0f MB/s of output\n",
         rw, ru, rs, out / rw / 1e6
  printf "  ratio       rastrom / floor = %.2f\n", rw / fw
  printf "  (fastest    floor %.3f s, rastrom %.3f s, ratio %.2f)\n", fb, rb, rb / fb
  printf "  peak RSS    %.1f MiB = %.2f x the pixel buffer (4 x w x h = %.1f MiB)\n",
         rr / 1024, (buf > 0 ? rr / buf : 0), buf / 1024
}'
if [ "$quick" -eq 1 ]; then echo "quick run: output checked"; fi

# The pixel formats, a separate measurement: rastrom-mem in rgb444 against rgb332.
if [ "$quick" -eq 1 ]; then bash "$root/bench/formats.sh" --quick --build "$build"; else bash "$root/bench/formats.sh" --size "${width}x${height}" --runs "$runs" --build "$build"; fi
