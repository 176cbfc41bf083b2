#!/usr/bin/env bash
# Benchmark: converts a generated 24-bit BMP with the built programs and sets each one's cost
# beside the I/O floor of the same output and beside cp of the source, measured in the same
# rounds. A round runs every line once, in turn (cp, then each program after its floor), so
# a busy moment on the machine falls on all of them; the medians of the rounds are reported.
#
# The floor does what a careful writer must: it reads the source, writes as many bytes as the
# program's output to a new file beside it and renames that over the old output. Every run
# (cp included) finds the previous run's output in place, as a re-run does.
#
#   bench/run.sh                      8192 x 8192, 5 rounds
#   bench/run.sh --runs 7             the figures of docs/performance.md
#   bench/run.sh --size 640x480 --runs 21
#   bench/run.sh --quick              256 x 256, 1 round: a smoke run that checks the outputs
#   bench/run.sh --programs old/build the programs of another build (not rebuilt)
#   bench/run.sh --build build-clang  the build (programs and helpers) to use
#
# The picture looks like a photograph (sky, sun, ground, a little noise); it is written to a
# temporary directory and removed at the end.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
programs=""
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
    --programs) programs="$(cd "${2:?--programs wants a directory}" && pwd)"; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
targets=(rastrom_bench_bmp rastrom_bench_measure rastrom_bench_floor)
[ -n "$programs" ] || targets+=(rastrom rastrom-mem rastrom-preview)
cmake --build "$build" --target "${targets[@]}" >/dev/null
programs="${programs:-$build}"

make_bmp="$build/bench/rastrom_bench_bmp"
measure="$build/bench/rastrom_bench_measure"
floor="$build/bench/rastrom_bench_floor"

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
input="$work/input.bmp"
"$make_bmp" "$width" "$height" "$input" --photo
input_bytes=$(stat -c %s "$input")

# The lines: a name, and the command (the output's path last but for cp). A second .mem line
# with another pixel format when the programs have one.
names=(rastrom rastrom-mem)
commands=("$programs/rastrom $input $work/out.coe" "$programs/rastrom-mem $input $work/out.mem")
if "$programs/rastrom-mem" --help 2>/dev/null | grep -q -- '--pixel'; then
  names+=("rastrom-mem --pixel rgb444")
  commands+=("$programs/rastrom-mem --pixel rgb444 $input $work/out444.mem")
fi
names+=(rastrom-preview)
commands+=("$programs/rastrom-preview $input $work/out-preview.bmp")

# One checked run of each first: each must succeed, and the COE vector must have one line a
# word. Their outputs stay, as the old outputs the timed runs replace.
transcript="$("$measure" --keep-stdout "$programs/rastrom" "$input" "$work/out.coe")"
if ! grep -q '^Program completed successfully!' <<<"$transcript"; then
  echo "rastrom failed:" >&2
  echo "$transcript" >&2
  exit 1
fi
words=$(( (width * height + 3) / 4 ))
lines=$(wc -l <"$work/out.coe")
if [ "$lines" -ne $(( words + 4 )) ] || ! grep -q "depth = $words, and width = 32." "$work/out.coe"; then
  echo "unexpected COE file: $lines lines for $words words" >&2
  exit 1
fi
for i in "${!commands[@]}"; do
  read -r -a command <<<"${commands[$i]}"
  if ! "${command[@]}" >/dev/null; then
    echo "${names[$i]} failed" >&2
    exit 1
  fi
done
cp "$input" "$work/copy.bmp"

cat "$input" >/dev/null  # into the page cache
: >"$work/cp.txt"
for i in "${!commands[@]}"; do : >"$work/floor$i.txt"; : >"$work/run$i.txt"; done
for ((r = 1; r <= runs; r++)); do
  sync
  "$measure" cp "$input" "$work/copy.bmp" >>"$work/cp.txt"
  for i in "${!commands[@]}"; do
    read -r -a command <<<"${commands[$i]}"
    out="${command[-1]}"
    sync
    "$measure" "$floor" "$input" "$out" "$(stat -c %s "$out")" >>"$work/floor$i.txt"
    sync
    "$measure" "${command[@]}" >>"$work/run$i.txt"
  done
done

# The median of column k of a file of "wall user sys rss faults status" lines.
median() {
  sort -g -k"$2","$2" "$1" | awk -v k="$2" '{v[NR] = $k} END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for f in "$work"/cp.txt "$work"/floor*.txt "$work"/run*.txt; do
  if awk '$6 != 0 {bad = 1} END {exit !bad}' "$f"; then
    echo "a run failed: $(basename "$f" .txt)" >&2
    exit 1
  fi
done

# Prints one line of the table: name, file, and the reference lines to compare with.
row() {
  local name="$1" file="$2" ref="$3"
  awk -v n="$name" -v w="$(median "$file" 1)" -v u="$(median "$file" 2)" -v s="$(median "$file" 3)" \
      -v m="$(median "$file" 4)" -v f="$(median "$file" 5)" -v rw="$(median "$ref" 1)" \
      -v cw="$(median "$work/cp.txt" 1)" -v cf="$(median "$work/cp.txt" 5)" -v is_ref="$4" 'BEGIN {
    printf "  %-28s %7.4f %7.4f %7.4f %8.1f %8d", n, w, u, s, m / 1024, f
    if (is_ref) printf "\n"
    else printf "   %6.2f %6.2f %6.2f\n", w / rw, w / cw, f / cf }'
}

echo "picture     ${width} x ${height}, 24-bit, photograph-like: $input_bytes bytes"
echo "rounds      $runs, every line once a round; medians of the rounds"
echo "programs    $programs"
printf "  %-28s %7s %7s %7s %8s %8s   %6s %6s %9s\n" "" "wall s" "user s" "sys s" "peak MiB" \
       "faults" "/floor" "/cp" "faults/cp"
row "cp (the source copied)" "$work/cp.txt" "$work/cp.txt" 1
for i in "${!commands[@]}"; do
  read -r -a command <<<"${commands[$i]}"
  row "floor ($(stat -c %s "${command[-1]}") bytes out)" "$work/floor$i.txt" "$work/floor$i.txt" 1
  row "${names[$i]}" "$work/run$i.txt" "$work/floor$i.txt" 0
done
if [ "$quick" -eq 1 ]; then echo "quick run: outputs checked"; fi

# The pixel formats, a separate measurement: rastrom-mem in rgb444 against rgb332.
if [ "$programs" = "$build" ]; then
  if [ "$quick" -eq 1 ]; then
    bash "$root/bench/formats.sh" --quick --build "$build"
  else
    bash "$root/bench/formats.sh" --size "${width}x${height}" --runs "$runs" --build "$build"
  fi
fi
