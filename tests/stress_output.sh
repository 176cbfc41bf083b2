#!/usr/bin/env bash
# Repeats, with real processes, the ways the outside world can upset a conversion, and
# counts the bad outcomes (there must be none):
#   shrink     the source is truncated while it is converted: the run must end with a
#              whole transcript (converted; "Error: Failed to load image!" when the cut comes
#              before the first band is read; a failed write, Error 5, with no output left,
#              when it comes between bands), never a signal;
#   parallel   several runs write one output path at once: one complete file from one of
#              them must be left, and nothing else;
#   interrupt  a run replacing an old output is stopped by SIGINT, SIGTERM or SIGKILL at a
#              random moment, or runs into a file-size limit: the output must be the old file
#              or the complete new one, and no temporary file may be left (after SIGKILL an
#              unnamed temporary file leaves nothing at all).
#
# Usage: tests/stress_output.sh [BUILD_DIR] [TRIES]   (defaults: build, 12 tries per case)
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
tries=${2:-12}
rastrom="$build/rastrom"
make_bmp="$build/bench/rastrom_bench_bmp"
[[ -x $rastrom && -x $make_bmp ]] || { echo "build rastrom and rastrom_bench_bmp first" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/rastrom-stress.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

bad=0
report() {  # CASE RUNS BAD
  echo "$1: $2 runs, $3 bad outcomes"
  bad=$((bad + $3))
}
# A random delay of up to $1 milliseconds, as seconds for sleep.
delay() { printf '0.%03d' $((RANDOM % $1)); }

# Pictures large enough that a conversion takes tens of milliseconds, and their COE files.
sizes=(2048x1536 1536x2048 2048x2048)
for i in 0 1 2; do
  "$make_bmp" "${sizes[$i]%x*}" "${sizes[$i]#*x}" "src$i.bmp"
  "$rastrom" "src$i.bmp" "ref$i.coe" >/dev/null
done

# --- the source shrinks under the conversion -------------------------------------------
runs=0 wrong=0
for ((t = 0; t < tries; t++)); do
  for cut in 0 54 100000; do
    cp src2.bmp shrink.bmp
    "$rastrom" shrink.bmp shrink.coe >shrink.out 2>shrink.err &
    pid=$!
    sleep "$(delay 60)"
    truncate -s "$cut" shrink.bmp
    wait "$pid" 2>/dev/null
    status=$?
    runs=$((runs + 1))
    last=$(tail -n 1 shrink.out)
    if ((status != 0)) || [[ -s shrink.err ]]; then
      echo "  shrink: exit status $status, stderr: $(head -c 200 shrink.err)"
      wrong=$((wrong + 1))
    elif [[ $last == "Program completed successfully!" ]]; then
      cmp -s shrink.coe ref2.coe || { echo "  shrink: a converted file differs"; wrong=$((wrong + 1)); }
    elif [[ $last != "Program exits with errors!" ]] ||
         ! grep -qx -e "Error: Failed to load image!" \
                    -e "Error: Failed to write Output file: shrink.coe, Error 5" shrink.out; then
      echo "  shrink: unexpected transcript ending: $last"
      wrong=$((wrong + 1))
    elif [[ -e shrink.coe ]]; then
      echo "  shrink: a failed run left an output behind"
      wrong=$((wrong + 1))
    fi
    rm -f shrink.coe
  done
done
report shrink "$runs" "$wrong"

# --- parallel runs into one output -----------------------------------------------------
runs=0 wrong=0
mkdir -p parallel
for ((t = 0; t < tries; t++)); do
  rm -f parallel/*
  pids=()
  for i in 0 1 2 0 1 2; do
    (cd parallel && exec "$rastrom" "../src$i.bmp" >/dev/null) &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || wrong=$((wrong + 1)); done
  runs=$((runs + ${#pids[@]}))
  entries=$(ls -A parallel)
  if [[ $entries != "default_output.coe" ]]; then
    echo "  parallel: the folder holds: $entries"
    wrong=$((wrong + 1))
  elif ! cmp -s parallel/default_output.coe ref0.coe && ! cmp -s parallel/default_output.coe ref1.coe &&
       ! cmp -s parallel/default_output.coe ref2.coe; then
    echo "  parallel: the output is none of the three pictures' COE files"
    wrong=$((wrong + 1))
  fi
done
report parallel "$runs" "$wrong"

# --- interrupted runs ------------------------------------------------------------------
runs=0 wrong=0 old=0 new=0
mkdir -p interrupt
for ((t = 0; t < tries; t++)); do
  for how in INT TERM KILL fsize; do
    rm -f interrupt/* interrupt/.[!.]*
    cp ref0.coe interrupt/out.coe
    if [[ $how == fsize ]]; then
      # 4 MiB: the new COE file is larger, so its write fails part-way with EFBIG.
      (ulimit -f 8192; cd interrupt && exec "$rastrom" ../src2.bmp out.coe >../interrupt.out)
      grep -q "^Error: Failed to write Output file: out.coe, Error 27$" interrupt.out ||
        { echo "  fsize: no write error in the transcript"; wrong=$((wrong + 1)); }
    else
      # A background job starts with SIGINT ignored; the run gets it as from a terminal.
      (cd interrupt && exec env --default-signal=INT "$rastrom" ../src2.bmp out.coe >/dev/null) &
      pid=$!
      sleep "$(delay 80)"
      kill -s "$how" "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
    runs=$((runs + 1))
    entries=$(ls -A interrupt)
    if [[ $entries != "out.coe" ]]; then
      echo "  $how: the folder holds: $(echo $entries)"
      wrong=$((wrong + 1))
    elif cmp -s interrupt/out.coe ref0.coe; then
      old=$((old + 1))
    elif cmp -s interrupt/out.coe ref2.coe; then
      new=$((new + 1))
    else
      echo "  $how: out.coe is neither the old file nor the complete new one"
      wrong=$((wrong + 1))
    fi
  done
done
report interrupt "$runs" "$wrong"
echo "  (the old output was left by $old runs, the complete new one by $new)"

echo "bad outcomes in all: $bad"
((bad == 0))
