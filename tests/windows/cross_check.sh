#!/usr/bin/env bash
# Runs the Windows build (under Wine, on the platform's own image loader) and the native
# build (on the project's stand-in) on the same BMP files and compares what they print and
# the COE files they write. Differences are allowed only when known-differences.tsv lists the
# file with the kind of difference observed; anything else fails, and so does a listed file
# that no longer differs.
#
# Usage: cross_check.sh NATIVE_BINARY WINDOWS_EXE ALLOW_LIST LABEL=DIR...
#   Each LABEL=DIR names the files of DIR as LABEL/<file name> in the report and allow-list.
# Environment: WINE (default /usr/lib/wine/wine64), WINEPREFIX and a running wineserver
# are the caller's business.
#
# Kinds of difference, as the allow-list names them:
#   windows-refuses      the platform refuses a file the stand-in decodes
#   windows-loads        the platform decodes a file the stand-in refuses
#   windows-loads-black  the platform "decodes" a file the stand-in refuses, as all black
#   windows-black        both decode it; the platform's pixels are all black
#   windows-bpp-N        the platform loads it at N bits per pixel; the format check refuses it
#   pixels-differ        both decode it, to different pixels
#   transcript-differs   the same COE file (or none), but different console lines
set -uo pipefail

if [[ $# -lt 4 ]]; then
  echo "usage: $0 NATIVE_BINARY WINDOWS_EXE ALLOW_LIST LABEL=DIR..." >&2
  exit 2
fi
native=$(realpath "$1")
exe=$(realpath "$2")
allow_list=$3
shift 3
wine=${WINE:-/usr/lib/wine/wine64}

declare -A allowed_kind allowed_reason seen failed_files
while IFS=$'\t' read -r file kind reason; do
  [[ -z $file || $file == \#* ]] && continue
  allowed_kind[$file]=$kind
  allowed_reason[$file]=$reason
done <"$allow_list"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/windows"

checked=0 identical=0 different=0 failed=0 failed_file_count=0
report=()

fail() {
  echo "FAIL $1: $2"
  failed=$((failed + 1))
  [[ -n ${failed_files[$1]:-} ]] || failed_file_count=$((failed_file_count + 1))
  failed_files[$1]=1
}

# True when the COE file's vector holds nothing but zero words.
all_black() {
  [[ -f $1 ]] && ! tail -n +5 "$1" | grep -qv $'^00000000[,;]\r$'
}

classify() {  # native transcript, windows transcript (LF), native COE, windows COE
  local n_failed=0 w_failed=0
  grep -q '^Error: Failed to load image!$' "$1" && n_failed=1
  grep -q '^Error: Failed to load image!$' "$2" && w_failed=1
  if ((w_failed && !n_failed)); then echo windows-refuses; return; fi
  if ((n_failed && !w_failed)); then
    if all_black "$4"; then echo windows-loads-black; else echo windows-loads; fi
    return
  fi
  local bpp
  bpp=$(sed -n 's/^Error: Image format (Planes: [0-9]*, Bpp: \([0-9]*\)) is not supported\.$/\1/p' "$2")
  if [[ -n $bpp ]] && ! grep -q 'is not supported' "$1"; then echo "windows-bpp-$bpp"; return; fi
  if [[ -f $3 && -f $4 ]] && ! cmp -s "$3" "$4"; then
    if all_black "$4"; then echo windows-black; else echo pixels-differ; fi
    return
  fi
  echo transcript-differs
}

for entry in "$@"; do
  label=${entry%%=*}
  dir=${entry#*=}
  for source in "$dir"/*.bmp; do
    [[ -e $source ]] || continue
    name="$label/$(basename "$source")"
    checked=$((checked + 1))
    seen[$name]=1
    # Both runs see the same arguments, so their transcripts compare line for line.
    for side in native windows; do
      rm -f "$work/$side/in.bmp" "$work/$side/out.coe"
      ln -s "$(realpath "$source")" "$work/$side/in.bmp"
    done
    (cd "$work/native" && "$native" in.bmp out.coe >stdout 2>stderr; echo $? >status)
    (cd "$work/windows" && "$wine" "$exe" in.bmp out.coe >stdout 2>stderr; echo $? >status)

    for side in native windows; do
      [[ -s $work/$side/stderr ]] && fail "$name" "$side build wrote to stderr: $(head -c 200 "$work/$side/stderr")"
      [[ $(cat "$work/$side/status") == 0 ]] || fail "$name" "$side build exited with $(cat "$work/$side/status")"
    done
    # The Windows console's text mode ends every line in CR LF.
    if grep -qv $'\r$' "$work/windows/stdout" ||
       [[ $(tail -c 1 "$work/windows/stdout" | od -An -tx1) != " 0a" ]]; then
      fail "$name" "a console line of the Windows build does not end in CR LF"
    fi
    tr -d '\r' <"$work/windows/stdout" >"$work/windows/stdout.lf"

    if cmp -s "$work/native/stdout" "$work/windows/stdout.lf" &&
       { [[ ! -e $work/native/out.coe && ! -e $work/windows/out.coe ]] ||
         cmp -s "$work/native/out.coe" "$work/windows/out.coe"; }; then
      identical=$((identical + 1))
      if [[ -n ${allowed_kind[$name]:-} ]]; then
        fail "$name" "listed as ${allowed_kind[$name]} but now identical: remove it from the list"
      fi
      continue
    fi

    different=$((different + 1))
    kind=$(classify "$work/native/stdout" "$work/windows/stdout.lf" \
                    "$work/native/out.coe" "$work/windows/out.coe")
    if [[ -z ${allowed_kind[$name]:-} ]]; then
      fail "$name" "unlisted difference ($kind)"
      diff "$work/native/stdout" "$work/windows/stdout.lf" | sed 's/^/    /' | head -20
    elif [[ ${allowed_kind[$name]} != "$kind" ]]; then
      fail "$name" "listed as ${allowed_kind[$name]} but the difference is now $kind"
    else
      report+=("  $name: $kind: ${allowed_reason[$name]}")
    fi
  done
done

unchecked=0
for name in "${!allowed_kind[@]}"; do
  [[ -n ${seen[$name]:-} ]] || unchecked=$((unchecked + 1))
done

echo "cross-check: $checked files checked, $identical identical, $different different"
((${#report[@]} > 0)) && printf '%s\n' "${report[@]}"
((unchecked > 0)) && echo "  ($unchecked listed files were not among the files checked)"
((failed > 0)) && echo "cross-check: $failed failed checks"
echo "cross-check: $((checked - failed_file_count)) passed, $failed_file_count failed"
((failed == 0))
