#!/usr/bin/env bash
# Reads the memory files that rastrom-mem writes with the tools of the flows they serve and
# checks that each tool sees the intended words (then the same for .mem files of every
# pixel format family at word widths from 1 to 64 bits, against the file's own words):
#   - Icarus Verilog: $readmemh of each .mem into a memory of exactly the right width and
#     depth (Icarus warns when a file holds fewer or more words), every word printed;
#   - Yosys: the initial value of the memory it infers from a ROM initialised by each .mem;
#   - srec_cat (SRecord): the bytes of each .mif.
# The intended words come from the converter: the bytes of the COE file that rastrom writes
# for the same picture, grouped into words of the width asked for. Each picture goes in
# twice, as the BMP file (its pixels only) and as that COE file (every byte of its words).
#
# Usage: tests/hdl/check_tools.sh [<build dir>]     (default: build; needs rastrom,
#        rastrom-mem and bench/rastrom_bench_bmp built there)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
started=$(date +%s%N)

for tool in iverilog vvp yosys srec_cat; do
  command -v "$tool" >/dev/null || { echo "check_tools: $tool is not installed" >&2; exit 1; }
done
for program in rastrom rastrom-mem bench/rastrom_bench_bmp; do
  [[ -x $build/$program ]] || { echo "check_tools: $build/$program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Groups bytes, given as two hexadecimal digits each (one a line, or several a line as od
# prints them), into words of $1 bytes in upper case, the first byte leftmost; the last word
# is filled with 00.
group_words() {
  awk -v n="$1" '{ for (i = 1; i <= NF; i++) { w = w toupper($i); if (++k == n) { print w; w = ""; k = 0 } } }
                 END { if (k > 0) { while (k++ < n) w = w "00"; print w } }'
}

# 1. The pictures: generated ones whose pixel counts leave 0 to 3 pixels in the last 32-bit
# word and 0 or 1 in the last 16-bit word, one whose 8-bit addresses need three digits, and
# the sample. Their COE files, and the bytes of the COE vectors.
pictures=()
for size in 1x1 2x1 3x2 5x3 7x1 4x4 9x7 257x3; do
  "$build/bench/rastrom_bench_bmp" "${size%x*}" "${size#*x}" "$work/p$size.bmp" >/dev/null
  pictures+=("p$size:$size")
done
cp "$root/examples/sample.bmp" "$work/sample.bmp"
pictures+=("sample:62x32")

# 2. The memory files, each with its intended words; the Icarus reader and the Yosys script
# for all of them.
cases=()
icarus=$work/read_all.v
yosys_script=$work/read_all.ys
echo "module read_all;" >"$icarus"
: >"$yosys_script"
for picture in "${pictures[@]}"; do
  name=${picture%%:*} size=${picture#*:}
  pixels=$((${size%x*} * ${size#*x}))
  if ! "$build/rastrom" "$work/$name.bmp" "$work/$name.coe" | grep -q '^Program completed successfully!$'; then
    fail "rastrom did not convert $name.bmp"
    continue
  fi
  sed -n '/^MEMORY_INITIALIZATION_VECTOR=/,$p' "$work/$name.coe" | tail -n +2 |
    awk '{ gsub(/[,;\r]/, ""); for (i = 1; i < length($0); i += 2) print substr($0, i, 2) }' \
    >"$work/$name.coe.bytes"
  head -n "$pixels" "$work/$name.coe.bytes" >"$work/$name.bmp.bytes"

  for input in "$name.bmp" "$name.coe"; do
    for width in 8 16 32; do
      id=${#cases[@]}
      out=$work/case$id
      group_words $((width / 8)) <"$work/$input.bytes" >"$out.expected"
      depth=$(wc -l <"$out.expected")
      ok=1
      for format in mem mif; do
        if ! "$build/rastrom-mem" --word "$width" "$work/$input" "$out.$format" >"$out.log" 2>&1 ||
           [[ -s $out.log ]]; then
          fail "rastrom-mem --word $width $input case$id.$format: $(cat "$out.log")"
          ok=0
        fi
      done
      ((ok)) || continue
      cases+=("$id:$input:$width:$depth")
      echo "  read_mem #(.WIDTH($width), .DEPTH($depth), .FILE(\"$out.mem\"), .ID(\"$id\")) case$id();" >>"$icarus"
      printf 'module top(input clk, input [31:0] address, output [%d:0] data);\n  rom #(.WIDTH(%d), .DEPTH(%d), .FILE("%s")) memory(.clk(clk), .address(address), .data(data));\nendmodule\n' \
        $((width - 1)) "$width" "$depth" "$out.mem" >"$out.top.v"
      printf 'design -reset\nread_verilog -defer %s %s\nhierarchy -top top\nproc\nmemory_collect\nwrite_json %s\n' \
        "$here/rom.v" "$out.top.v" "$out.json" >>"$yosys_script"
    done
  done
done

# 2b. Every pixel format family at word widths from 1 to 64 bits, rows aligned and display
# pages: the depth and width come from the file's own description, and the intended words
# are the file's own lines, so Icarus must read each word of each width back exactly.
format_cases=()
for picture in p9x7:9x7 p257x3:257x3 sample:62x32; do
  name=${picture%%:*}
  for layout in "mono 1" "rgb111 3" "rgb444 12" "rgb444 16 --align-rows" "rgb565 16" "rgb888 24" \
                "rgb888 64" "gray4 8 --pages" "mono 8 --pages" "bgr233 8" "gray2 7 --align-rows" "mono 64"; do
    read -r pixel bits extra <<<"$layout"
    id=f${#format_cases[@]}
    out=$work/case$id
    # shellcheck disable=SC2086
    if ! "$build/rastrom-mem" --pixel "$pixel" --word "$bits" $extra "$work/$name.bmp" "$out.mem" >"$out.log" 2>&1 ||
       [[ -s $out.log ]]; then
      fail "rastrom-mem --pixel $pixel --word $bits $extra $name.bmp: $(cat "$out.log")"
      continue
    fi
    depth=$(sed -n '1s/.*; depth \([0-9]*\), width \([0-9]*\).*/\1/p' "$out.mem")
    width=$(sed -n '1s/.*; depth \([0-9]*\), width \([0-9]*\).*/\2/p' "$out.mem")
    tail -n +2 "$out.mem" >"$out.expected"
    if [[ $width != "$bits" || $(wc -l <"$out.expected") != "$depth" ]]; then
      fail "$pixel at $bits bits: the description says depth $depth, width $width"
      continue
    fi
    format_cases+=("$id:$name:$pixel:$bits${extra:+ $extra}:$depth")
    echo "  read_mem #(.WIDTH($width), .DEPTH($depth), .FILE(\"$out.mem\"), .ID(\"$id\")) case$id();" >>"$icarus"
    if ((width % 4 == 0)); then
      printf 'module top(input clk, input [31:0] address, output [%d:0] data);\n  rom #(.WIDTH(%d), .DEPTH(%d), .FILE("%s")) memory(.clk(clk), .address(address), .data(data));\nendmodule\n' \
        $((width - 1)) "$width" "$depth" "$out.mem" >"$out.top.v"
      printf 'design -reset\nread_verilog -defer %s %s\nhierarchy -top top\nproc\nmemory_collect\nwrite_json %s\n' \
        "$here/rom.v" "$out.top.v" "$out.json" >>"$yosys_script"
    fi
  done
done
echo "endmodule" >>"$icarus"

# 3. Icarus: one simulation reads every file; its lines go to the case they name. Any other
# line (a warning about too few or too many words) is a failure.
if iverilog -g2005 -o "$work/read_all" "$here/read_mem.v" "$icarus" >"$work/iverilog.log" 2>&1; then
  vvp -n "$work/read_all" >"$work/vvp.log" 2>&1 || fail "vvp: $(head -n 5 "$work/vvp.log")"
  awk -v dir="$work" '$1 ~ /^f?[0-9]+$/ && NF == 2 { print toupper($2) > (dir "/case" $1 ".icarus"); next }
                      { print > (dir "/vvp.other") }' "$work/vvp.log"
  [[ -s $work/vvp.other ]] && fail "Icarus: $(head -n 5 "$work/vvp.other")"
else
  fail "iverilog: $(head -n 5 "$work/iverilog.log")"
fi

# 4. Yosys: one run builds the ROM of every file, one design after the other.
yosys -q -s "$yosys_script" >"$work/yosys.log" 2>&1 || true
[[ -s $work/yosys.log ]] && fail "Yosys: $(head -n 5 "$work/yosys.log")"

# The memory's INIT value that Yosys built from case $1 ($2 bits a word): one word a line.
yosys_words_of() {
  awk -v width="$2" '
    /"INIT": "/ && !done {
      s = $0; sub(/.*"INIT": "/, "", s); sub(/".*/, "", s); done = 1
      for (i = 0; i < length(s) / width; i++) {
        bits = substr(s, length(s) - (i + 1) * width + 1, width); word = ""
        for (j = 1; j <= width; j += 4) {
          nibble = substr(bits, j, 4)
          if (nibble ~ /x/) { word = word "X"; continue }
          v = 8 * substr(nibble, 1, 1) + 4 * substr(nibble, 2, 1) + 2 * substr(nibble, 3, 1) + substr(nibble, 4, 1)
          word = word substr("0123456789ABCDEF", v + 1, 1)
        }
        print word
      }
    }' "$work/case$1.json"
}

# 5. Each tool's words against the intended ones.
mem_files=0 mif_files=0 icarus_words=0 yosys_words=0 srec_words=0
for c in "${cases[@]}"; do
  IFS=: read -r id input width depth <<<"$c"
  out=$work/case$id
  what="$input at $width bits"

  if cmp -s "$out.expected" "$out.icarus"; then
    icarus_words=$((icarus_words + depth))
  else
    fail "Icarus reads the .mem of $what otherwise: $(diff "$out.expected" "$out.icarus" 2>&1 | head -n 4)"
  fi
  mem_files=$((mem_files + 1))

  # The memory's INIT value: WIDTH x DEPTH bits, the last word's bits first; x for none.
  [[ -f $out.json ]] && yosys_words_of "$id" "$width" >"$out.yosys"
  if cmp -s "$out.expected" "$out.yosys" 2>/dev/null; then
    yosys_words=$((yosys_words + depth))
  else
    fail "Yosys builds the ROM of $what otherwise: $(diff "$out.expected" "$out.yosys" 2>&1 | head -n 4)"
  fi

  # srec_cat 1.64 lays a MIF word into memory least significant byte first (its manual says
  # most significant first, and its own MIF writer does so); swapping the bytes of each word
  # back gives the pixels in order.
  swap=()
  ((width > 8)) && swap=(-byte-swap $((width / 8)))
  if srec_cat "$out.mif" -Memory_Initialization_File "${swap[@]}" -o "$out.bin" -binary \
       >"$out.srec.log" 2>&1 && [[ ! -s $out.srec.log ]]; then
    od -An -v -tx1 "$out.bin" | group_words $((width / 8)) >"$out.srec"
    if cmp -s "$out.expected" "$out.srec"; then
      srec_words=$((srec_words + depth))
    else
      fail "srec_cat reads the .mif of $what otherwise: $(diff "$out.expected" "$out.srec" | head -n 4)"
    fi
  else
    fail "srec_cat on the .mif of $what: $(head -n 5 "$out.srec.log")"
  fi
  mif_files=$((mif_files + 1))
done

format_words=0 format_yosys=0 tried=()
for c in "${format_cases[@]}"; do
  IFS=: read -r id name pixel layout depth <<<"$c"
  out=$work/case$id
  bits=${layout%% *}
  what="$name.bmp as $pixel in $layout-bit words"
  if cmp -s "$out.expected" "$out.icarus"; then
    format_words=$((format_words + depth))
  else
    fail "Icarus reads the .mem of $what otherwise: $(diff "$out.expected" "$out.icarus" 2>&1 | head -n 4)"
  fi
  if ((bits % 4 == 0)); then
    yosys_words_of "$id" "$bits" >"$out.yosys" 2>/dev/null || true
    if cmp -s "$out.expected" "$out.yosys"; then
      format_yosys=$((format_yosys + depth))
    else
      fail "Yosys builds the ROM of $what otherwise: $(diff "$out.expected" "$out.yosys" 2>&1 | head -n 4)"
    fi
  fi
  [[ $name == sample ]] && tried+=("$pixel/$layout")
done

elapsed=$((($(date +%s%N) - started) / 1000000))
echo "check_tools: ${#format_cases[@]} .mem files of other formats (${tried[*]}):" \
  "Icarus read $format_words words, Yosys $format_yosys"
echo "check_tools: $mem_files .mem files: Icarus read $icarus_words words, Yosys $yosys_words;" \
  "$mif_files .mif files: srec_cat read $srec_words words; $failures failures;" \
  "$((elapsed / 1000)).$(printf '%03d' $((elapsed % 1000))) s"
((failures == 0))
