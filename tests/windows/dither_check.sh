#!/usr/bin/env bash
# The Windows build dithers to the same words as the native build: rastrom-mem.exe (under
# Wine) and the native rastrom-mem reduce the same BMP files with every --dither method
# over formats of each family, and their memory files must be byte for byte the same.
#
# Usage: dither_check.sh NATIVE_MEM WINDOWS_MEM_EXE BMP...
# Environment: WINE (default /usr/lib/wine/wine64), WINEPREFIX and a running wineserver
# are the caller's business.
set -uo pipefail

if [[ $# -lt 3 ]]; then
  echo "usage: $0 NATIVE_MEM WINDOWS_MEM_EXE BMP..." >&2
  exit 2
fi
native=$(realpath "$1")
exe=$(realpath "$2")
shift 2
wine=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cases=(
  "--pixel rgb332 --dither floyd-steinberg"
  "--pixel rgb332 --dither ordered"
  "--pixel rgb565 --word 16 --dither floyd-steinberg"
  "--pixel bgr444 --align-rows --dither ordered"
  "--pixel gray4 --dither floyd-steinberg"
  "--pixel mono --word 8 --pages --dither floyd-steinberg"
  "--pixel rgb888 --dither floyd-steinberg"
)
runs=0 failed=0
for bmp in "$@"; do
  cp "$bmp" "$work/in.bmp"
  for options in "${cases[@]}"; do
    runs=$((runs + 1))
    read -ra args <<<"$options"
    rm -f "$work/native.mem" "$work/windows.mem"
    "$native" "${args[@]}" "$work/in.bmp" "$work/native.mem" || true
    (cd "$work" && "$wine" "$exe" "${args[@]}" in.bmp windows.mem >/dev/null 2>&1) || true
    if [[ ! -f $work/windows.mem ]]; then
      # Wine itself fails to start a program now and then on a loaded machine; a second run
      # tells that apart from a program that writes nothing.
      echo "note: $(basename "$bmp") $options: no output under Wine, run again"
      (cd "$work" && "$wine" "$exe" "${args[@]}" in.bmp windows.mem >/dev/null 2>&1) || true
    fi
    if [[ ! -s $work/native.mem || ! -f $work/windows.mem ]]; then
      echo "FAIL $(basename "$bmp") $options: a file is missing"
      failed=$((failed + 1))
    elif ! cmp -s "$work/native.mem" "$work/windows.mem"; then
      echo "FAIL $(basename "$bmp") $options: the words differ"
      diff <(tail -n +2 "$work/native.mem") <(tail -n +2 "$work/windows.mem") | head -n 6
      failed=$((failed + 1))
    fi
  done
done
echo "dither cross-check: $((runs - failed)) of $runs memory files the same"
((failed == 0))
