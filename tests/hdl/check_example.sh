#!/usr/bin/env bash
# The example of examples/hdl, checked end to end:
#   - examples/hdl/sample.mem is what rastrom-mem writes for examples/sample.bmp today;
#   - under Icarus Verilog the testbench scans the whole sample out of the ROM, and the
#     picture it writes equals the 3-3-2 reduction of the sample pixel for pixel, each channel
#     widened by repeating its bits (the reduction taken from the COE file rastrom writes);
#   - Yosys synthesizes the ROM for an iCE40 and puts the picture in block memory;
#   - the same for the 12-bit VGA example (vga444.v, one rgb444 pixel a word): its frame
#     under Icarus shows the sample reduced to 4 bits a channel, with VGA timing.
#
# Usage: tests/hdl/check_example.sh [<build dir>]     (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
example=$root/examples/hdl
started=$(date +%s%N)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The checked-in memory file is the program's current output.
cp "$root/examples/sample.bmp" "$work/sample.bmp"
"$build/rastrom-mem" "$work/sample.bmp" "$work/sample.mem"
cmp -s "$work/sample.mem" "$example/sample.mem" ||
  fail "examples/hdl/sample.mem is not what rastrom-mem writes for examples/sample.bmp"

# What the DAC outputs should show: the sample's 3-3-2 bytes from the COE file, widened.
"$build/rastrom" "$work/sample.bmp" "$work/sample.coe" >/dev/null
width=62 height=32
{
  printf 'P3\n%d %d\n255\n' "$width" "$height"
  sed -n '/^MEMORY_INITIALIZATION_VECTOR=/,$p' "$work/sample.coe" | tail -n +2 |
    awk -v pixels=$((width * height)) '
      function digit(c) { return index("0123456789ABCDEF", c) - 1 }
      function hex(s) { return 16 * digit(substr(s, 1, 1)) + digit(substr(s, 2, 1)) }
      { gsub(/[,;\r]/, "")
        for (i = 1; i < length($0) && n < pixels; i += 2) {
          v = hex(substr($0, i, 2)); n++
          r = int(v / 32); g = int(v / 4) % 8; b = v % 4
          print r * 36 + int(r / 2), g * 36 + int(g / 2), b * 85
        } }'
} >"$work/expected.ppm"

# The testbench scans the picture out of the ROM.
iverilog -g2005 -Wall -o "$work/picture_tb" "$example/picture_rom.v" "$example/picture_tb.v" \
  >"$work/iverilog.log" 2>&1 || fail "iverilog: $(head -n 5 "$work/iverilog.log")"
[[ -s $work/iverilog.log ]] && fail "iverilog warns: $(head -n 5 "$work/iverilog.log")"
(cd "$work" && vvp -n picture_tb +ppm=seen.ppm >vvp.log 2>&1) || fail "vvp: $(head -n 5 "$work/vvp.log")"
grep -qi 'warning\|error' "$work/vvp.log" && fail "vvp: $(head -n 5 "$work/vvp.log")"
if cmp -s "$work/expected.ppm" "$work/seen.ppm"; then
  echo "check_example: the testbench saw all $((width * height)) pixels of the sample as reduced"
else
  fail "the testbench's picture differs: $(diff "$work/expected.ppm" "$work/seen.ppm" | head -n 5)"
fi

# Synthesis for an iCE40: the picture's 496 words of 32 bits fill four 4-Kbit block RAMs.
(cd "$work" && yosys -q -p "read_verilog $example/picture_rom.v; synth_ice40 -top picture_rom; tee -q -o stat.txt stat" \
  >yosys.log 2>&1) || fail "yosys: $(tail -n 5 "$work/yosys.log")"
rams=$(awk '$1 == "SB_RAM40_4K" { print $2 }' "$work/stat.txt" 2>/dev/null)
if [[ ${rams:-0} -ge 4 ]]; then
  echo "check_example: Yosys maps the ROM to $rams SB_RAM40_4K block RAMs"
else
  fail "Yosys did not put the ROM in block RAM: $(grep -c . "$work/stat.txt" 2>/dev/null) lines of stat"
fi

# The 12-bit VGA example: examples/hdl/sample444.mem is current, and the testbench's frame
# shows the sample's pixels each reduced to 4 bits a channel (the top 4 bits of each byte
# of the 24-bit BMP, read here straight from the file), black elsewhere, with VGA timing.
"$build/rastrom-mem" --pixel rgb444 "$work/sample.bmp" "$work/sample444.mem"
cmp -s "$work/sample444.mem" "$example/sample444.mem" ||
  fail "examples/hdl/sample444.mem is not what rastrom-mem --pixel rgb444 writes for examples/sample.bmp"
od -An -v -tu1 -j54 "$work/sample.bmp" | awk -v width=$width -v height=$height '
  { for (i = 1; i <= NF; i++) byte[n++] = $i }
  END {
    stride = int((width * 3 + 3) / 4) * 4
    for (y = 0; y < height; y++)
      for (x = 0; x < width; x++) {
        at = (height - 1 - y) * stride + 3 * x
        printf "%x%x%x\n", int(byte[at + 2] / 16), int(byte[at + 1] / 16), int(byte[at] / 16)
      }
  }' >"$work/expected444.txt"
iverilog -g2005 -Wall -o "$work/vga444_tb" "$example/vga444.v" "$example/vga444_tb.v" \
  >"$work/iverilog444.log" 2>&1 || fail "iverilog (vga444): $(head -n 5 "$work/iverilog444.log")"
[[ -s $work/iverilog444.log ]] && fail "iverilog warns (vga444): $(head -n 5 "$work/iverilog444.log")"
(cd "$work" && vvp -n vga444_tb +pixels=seen444.txt >vvp444.log 2>&1) || fail "vvp (vga444): $(head -n 5 "$work/vvp444.log")"
if ! grep -q '^vga444_tb: 525 lines of 800 clocks' "$work/vvp444.log" || grep -qi 'warning' "$work/vvp444.log"; then
  fail "vga444_tb: $(head -n 5 "$work/vvp444.log")"
elif cmp -s "$work/expected444.txt" "$work/seen444.txt"; then
  echo "check_example: the 12-bit VGA port showed all $((width * height)) pixels of the sample in rgb444, black around them, 525 lines of 800 clocks"
else
  fail "the VGA testbench's picture differs: $(diff "$work/expected444.txt" "$work/seen444.txt" | head -n 5)"
fi
(cd "$work" && yosys -q -p "read_verilog $example/vga444.v; synth_ice40 -top vga444; tee -q -o stat444.txt stat" \
  >yosys444.log 2>&1) || fail "yosys (vga444): $(tail -n 5 "$work/yosys444.log")"
rams=$(awk '$1 == "SB_RAM40_4K" { print $2 }' "$work/stat444.txt" 2>/dev/null)
if [[ ${rams:-0} -ge 6 ]]; then
  echo "check_example: Yosys maps the 12-bit ROM to $rams SB_RAM40_4K block RAMs"
else
  fail "Yosys did not put the 12-bit ROM in block RAM"
fi

elapsed=$((($(date +%s%N) - started) / 1000000))
echo "check_example: $failures failures; $((elapsed / 1000)).$(printf '%03d' $((elapsed % 1000))) s"
((failures == 0))
