#!/usr/bin/env bash
# Reads the memory files that rastrom-mem writes with the tools of the flows they serve and
# checks that each tool sees the intended words:
#   - Icarus Verilog: $readmemh of each .mem into a memory of the right width and depth
#     (Icarus warns when the file holds fewer or more words), every word printed;
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

# Pictures whose pixel counts leave 0 to 3 pixels in the last 32-bit word and 0 or 1 in the
# last 16-bit word, one whose 8-bit addresses need three digits, and the sample.
pictures=()
for size in 1x1 2x1 3x2 5x3 7x1 4x4 9x7 257x3; do
  "$build/bench/rastrom_bench_bmp" "${size%x*}" "${size#*x}" "$work/p$size.bmp" >/dev/null
  pictures+=("p$size:$size")
done
cp "$root/examples/sample.bmp" "$work/sample.bmp"
pictures+=("sample:62x32")

# The bytes of a COE file's vector, two hexadecimal digits a line.
coe_bytes() {
  sed -n '/^MEMORY_INITIALIZATION_VECTOR=/,$p' "$1" | tail -n +2 |
    awk '{ gsub(/[,;\r]/, ""); for (i = 1; i < length($0); i += 2) print substr($0, i, 2) }'
}

# Groups bytes (one a line) into words of $1 bytes, the first byte leftmost, the last word
# filled with 00.
group_words() {
  awk -v n="$1" '{ w = w $0; if (++k == n) { print w; w = ""; k = 0 } }
                 END { if (k > 0) { while (k++ < n) w = w "00"; print w } }'
}

# The words of the INIT value of the one memory in a Yosys JSON netlist, word 0 first, in
# upper-case hexadecimal; any unknown bit comes out as X.
yosys_words() {
  grep -o '"INIT": "[01x]*"' "$1" | head -n 1 | sed 's/.*: "//; s/"$//' |
    awk -v width="$2" '{
      n = length($0) / width
      for (i = 0; i < n; i++) {
        bits = substr($0, length($0) - (i + 1) * width + 1, width); word = ""
        for (j = 1; j <= width; j += 4) {
          nibble = substr(bits, j, 4)
          if (nibble ~ /x/) { word = word "X"; continue }
          v = 8 * substr(nibble, 1, 1) + 4 * substr(nibble, 2, 1) + 2 * substr(nibble, 3, 1) + substr(nibble, 4, 1)
          word = word substr("0123456789ABCDEF", v + 1, 1)
        }
        print word
      }
    }'
}

mem_files=0 mif_files=0 iverilog_words=0 yosys_words=0 srec_bytes=0

for picture in "${pictures[@]}"; do
  name=${picture%%:*} size=${picture#*:}
  pixels=$((${size%x*} * ${size#*x}))
  bmp=$work/$name.bmp coe=$work/$name.coe
  if ! "$build/rastrom" "$bmp" "$coe" | grep -q '^Program completed successfully!$'; then
    fail "rastrom did not convert $name.bmp"
    continue
  fi
  coe_bytes "$coe" | head -n "$pixels" >"$work/$name.bmp.bytes"
  coe_bytes "$coe" >"$work/$name.coe.bytes"

  for input in "$bmp" "$coe"; do
    case=$(basename "$input")
    for width in 8 16 32; do
      expected=$work/$case.$width.words
      group_words $((width / 8)) <"$work/$case.bytes" >"$expected"
      depth=$(wc -l <"$expected")
      out=$work/$case.$width

      # What rastrom-mem writes, and that it says nothing while doing so.
      for format in mem mif; do
        if ! "$build/rastrom-mem" --word "$width" "$input" "$out.$format" >"$out.log" 2>&1 ||
           [[ -s $out.log ]]; then
          fail "rastrom-mem --word $width $case $case.$width.$format: $(cat "$out.log")"
          continue 3
        fi
      done

      # Icarus: a memory of exactly this width and depth, compiled once for each shape.
      reader=$work/read_mem.$width.$depth
      [[ -x $reader ]] || iverilog -g2005 -P "read_mem.WIDTH=$width" -P "read_mem.DEPTH=$depth" \
        -o "$reader" "$here/read_mem.v"
      vvp -n "$reader" "+mem=$out.mem" 2>&1 | tr a-f A-F >"$out.iverilog"
      diff -q "$expected" "$out.iverilog" >/dev/null ||
        fail "Icarus reads $case.$width.mem otherwise: $(diff "$expected" "$out.iverilog" | head -n 5)"
      mem_files=$((mem_files + 1))
      iverilog_words=$((iverilog_words + depth))

      # Yosys: the ROM's memory and its initial value.
      printf 'module top(input clk, input [31:0] address, output [%d:0] data);\n  rom #(.WIDTH(%d), .DEPTH(%d), .FILE("%s")) memory(.clk(clk), .address(address), .data(data));\nendmodule\n' \
        $((width - 1)) "$width" "$depth" "$out.mem" >"$out.top.v"
      if yosys -q -p "read_verilog -defer $here/rom.v $out.top.v; hierarchy -top top; proc; memory_collect; write_json $out.json" \
           >"$out.yosys.log" 2>&1 && [[ ! -s $out.yosys.log ]]; then
        yosys_words "$out.json" "$width" >"$out.yosys"
        diff -q "$expected" "$out.yosys" >/dev/null ||
          fail "Yosys builds $case.$width.mem otherwise: $(diff "$expected" "$out.yosys" | head -n 5)"
      else
        fail "Yosys on $case.$width.mem: $(head -n 5 "$out.yosys.log")"
      fi
      yosys_words=$((yosys_words + depth))

      # srec_cat 1.64 lays a MIF word into memory least significant byte first (its manual
      # says most significant first, and its MIF writer does so); swapping the bytes of each
      # word back gives the pixels in order.
      swap=()
      ((width > 8)) && swap=(-byte-swap $((width / 8)))
      if srec_cat "$out.mif" -Memory_Initialization_File "${swap[@]}" -o "$out.bin" -binary \
           >"$out.srec.log" 2>&1 && [[ ! -s $out.srec.log ]]; then
        od -An -v -tx1 "$out.bin" | tr -s ' ' '\n' | grep -v '^$' | tr a-f A-F >"$out.srec"
        fold -w2 "$expected" >"$out.bytes"
        diff -q "$out.bytes" "$out.srec" >/dev/null ||
          fail "srec_cat reads $case.$width.mif otherwise: $(diff "$out.bytes" "$out.srec" | head -n 5)"
        srec_bytes=$((srec_bytes + $(wc -l <"$out.bytes")))
      else
        fail "srec_cat on $case.$width.mif: $(head -n 5 "$out.srec.log")"
      fi
      mif_files=$((mif_files + 1))
    done
  done
done

elapsed=$((($(date +%s%N) - started) / 1000000))
echo "check_tools: $mem_files .mem files read by Icarus ($iverilog_words words) and by Yosys" \
  "($yosys_words words); $mif_files .mif files read by srec_cat ($srec_bytes bytes);" \
  "$failures failures; $((elapsed / 1000)).$(printf '%03d' $((elapsed % 1000))) s"
((failures == 0))
