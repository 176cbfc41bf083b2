#!/usr/bin/env bash
# rastrom-mem.exe (the Windows build, through the Windows Imaging Component, under Wine)
# against the native build (libspng, libjpeg) on PNG and JPEG files: the same .mem words,
# or both refusing the file. A file named in KNOWN_DIFFERENCES (name<TAB>reason) may differ.
#
#   picture_cross_check.sh NATIVE_MEM WINDOWS_MEM_EXE KNOWN_DIFFERENCES FILE...
#
# Needs WINE (the wine64 loader) and a ready WINEPREFIX in the environment.
set -euo pipefail
native=$1
exe=$2
known=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

same=0 refused=0 differ=0 expected=0
for file in "$@"; do
  name=$(basename "$file")
  cp "$file" "$work/input"
  native_status=0 windows_status=0
  (cd "$work" && "$native" --pixel rgb888 --background 3366CC input native.mem 2>native.err) || native_status=$?
  (cd "$work" && "$WINE" "$exe" --pixel rgb888 --background 3366CC input windows.mem 2>windows.err) ||
    windows_status=$?
  if ((native_status != 0 && windows_status != 0)); then
    refused=$((refused + 1))
    echo "$name: refused by both"
  elif ((native_status != 0 || windows_status != 0)); then
    differ=$((differ + 1))
    echo "$name: DIFFERS: native exit $native_status ($(cat "$work/native.err")), Windows exit" \
         "$windows_status ($(tr -d '\r' <"$work/windows.err"))"
  elif cmp -s "$work/native.mem" "$work/windows.mem"; then
    same=$((same + 1))
  elif reason=$(awk -F'\t' -v n="$name" '$1 == n { print $2 }' "$known") && [[ -n $reason ]]; then
    expected=$((expected + 1))
    echo "$name: differs, as known: $reason"
  else
    differ=$((differ + 1))
    echo "$name: DIFFERS: $(cmp "$work/native.mem" "$work/windows.mem" | head -1)"
  fi
  rm -f "$work"/*.mem "$work"/*.err
done
echo "pictures: $same the same words, $refused refused by both, $expected known differences," \
     "$differ other differences"
((differ == 0))
