#!/usr/bin/env bash
# Runs the commands of README.md as a reader would, so that none of them rots:
#   - every line "$ <command>" in a fenced code block, with the lines after it (up to the
#     next "$ " line or the end of the block) as the output it must print; a last shown
#     line "..." means that the output goes on;
#   - every `rastrom... ARGUMENTS` code span in a table row (the table of displays), its
#     output unchecked;
#   - a code block marked "make" is the Makefile of the commands after it.
# A command must succeed (exit status 0) and print what the README shows, standard output
# and standard error together, carriage returns left out (a COE file's lines end in CR LF).
#
# The commands run in README order in a scratch folder that holds a copy of examples/, the
# sample again as picture.bmp and logo.bmp (the names the README's short examples use), and
# `build` leading to the build folder; HOME is a folder beside it (so ~/.local is there), and
# the programs are on PATH. The commands of one code block run as typed into one shell: a
# `cd` holds for the next command of the block; each block starts at the top of the folder.
# Three kinds are told apart:
#   build    commands that start with "cmake -S": .ci/run runs them as its own lines (the
#            first build, the test command, the sanitizer build); --build checks that each
#            stands there word for word;
#   system   commands that install or package (sudo, apt-get, dpkg, cpack): run only with
#            --all, where `sudo` is dropped when already root (CI);
#   others   run always; one whose program is not installed (iverilog, ...) is skipped,
#            except with --all, where it fails.
#
# Usage: tests/readme_commands.sh [--build | --all] [BUILD_DIR]   (default: build)
set -uo pipefail

mode=plain
case ${1:-} in
  --build | --all) mode=${1#--}; shift ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
readme=$root/README.md

# --- reading the README ------------------------------------------------------------------
# Each command becomes one record in these arrays: its text, its expected output, and
# the Makefile in force (empty if none).
commands=() outputs=() makefiles=() blocks=()
makefile=""
in_block=false block_kind="" block_text="" current=-1 block=0
while IFS= read -r line || [[ -n $line ]]; do
  if [[ $line =~ ^\`\`\` ]]; then
    if $in_block; then
      [[ $block_kind == make ]] && makefile=$block_text
      in_block=false current=-1
    else
      in_block=true block_kind=${line#\`\`\`} block_text="" block=$((block + 1))
    fi
    continue
  fi
  if $in_block; then
    if [[ $block_kind == make ]]; then
      block_text+=$line$'\n'
    elif [[ $line == '$ '* ]]; then
      commands+=("${line#\$ }") outputs+=("") makefiles+=("$makefile") blocks+=("$block")
      current=$((${#commands[@]} - 1))
    elif ((current >= 0)); then
      outputs[current]+=$line$'\n'
    fi
  elif [[ $line == '|'* ]]; then
    # Table cells: each `rastrom...` code span is a command.
    rest=$line
    block=$((block + 1))
    while [[ $rest =~ \`(rastrom[-a-z]*\ [^\`]*)\` ]]; do
      commands+=("${BASH_REMATCH[1]}") outputs+=("") makefiles+=("$makefile") blocks+=("$block")
      rest=${rest#*"${BASH_REMATCH[0]}"}
    done
  fi
done <"$readme"
((${#commands[@]} > 0)) || { echo "no commands found in $readme" >&2; exit 1; }

# --- running them ------------------------------------------------------------------------
kind_of() {
  if [[ $1 == "cmake -S "* ]]; then
    echo build
  elif [[ $1 =~ (^|[[:space:]\&\;\|])(sudo|apt-get|apt|dpkg|cpack)[[:space:]] ]]; then
    echo system
  else
    echo other
  fi
}

# The program a command starts (after "cd DIR &&" and "sudo").
program_of() {
  local text=$1
  [[ $text =~ ^cd\ [^\&]*\&\&\ *(.*)$ ]] && text=${BASH_REMATCH[1]}
  text=${text#sudo }
  echo "${text%% *}"
}

if [[ $mode == build ]]; then
  # The build commands are .ci/run's own lines: each must stand there as a line of its own,
  # word for word, so that CI runs exactly what the README shows.
  missing=0
  for i in "${!commands[@]}"; do
    [[ $(kind_of "${commands[i]}") == build ]] || continue
    if grep -Fxq -- "${commands[i]}" "$root/.ci/run"; then
      echo "run by .ci/run: ${commands[i]}"
    else
      echo "FAILED: not a line of .ci/run: ${commands[i]}" >&2
      missing=$((missing + 1))
    fi
  done
  exit $((missing > 0))
fi

build=$(cd "${1:-$root/build}" && pwd) || exit 2
for program in rastrom rastrom-mem rastrom-preview; do
  [[ -x $build/$program ]] || { echo "build $program first ($build/$program)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/rastrom-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
scratch=$work/top
mkdir "$scratch" "$work/home"
cp -r "$root/examples" "$scratch/examples"
cp "$root/examples/sample.bmp" "$scratch/picture.bmp"
cp "$root/examples/sample.bmp" "$scratch/logo.bmp"
ln -s "$build" "$scratch/build"
export HOME=$work/home PATH=$build:$PATH

as_root=false
[[ $(id -u) -eq 0 ]] && as_root=true
ran=0 skipped=0 failed=0 block=0 here=$scratch
for i in "${!commands[@]}"; do
  command=${commands[i]}
  if [[ ${blocks[i]} != "$block" ]]; then
    block=${blocks[i]} here=$scratch
  fi
  kind=$(kind_of "$command")
  [[ $kind == build ]] && continue  # run by .ci/run itself, checked by --build
  if [[ $kind == system && $mode != all ]]; then
    echo "left to CI: $command"
    skipped=$((skipped + 1))
    continue
  fi
  $as_root && command=${command//sudo /}
  program=$(program_of "$command")
  if [[ $mode != all ]] && ! (cd "$here" && command -v "$program" >/dev/null); then
    echo "skipped, no $program here: $command"
    skipped=$((skipped + 1))
    continue
  fi
  if [[ -n ${makefiles[i]} ]]; then
    printf '%s' "${makefiles[i]}" >"$scratch/Makefile"
  else
    rm -f "$scratch/Makefile"
  fi
  ran=$((ran + 1))
  # The shell records where it ends up, for the next command of the block.
  actual=$(cd "$here" && bash -o pipefail -o physical -c "$command"$'\n''status=$?; pwd >"$0"; exit $status' \
             "$work/cwd" 2>&1 </dev/null; echo "~status $?")
  status=${actual##*~status }
  actual=${actual%~status *}
  actual=${actual//$'\r'/}
  [[ -s $work/cwd ]] && here=$(<"$work/cwd")
  rm -f "$work/cwd"
  expected=${outputs[i]}
  if [[ $expected == *$'\n...\n' || $expected == $'...\n' ]]; then
    expected=${expected%...$'\n'}
    shown=${actual:0:${#expected}}
  else
    shown=$actual
  fi
  if [[ $status != 0 ]]; then
    echo "FAILED (exit status $status): $command"
    printf '%s' "$actual" | head -n 20 | sed 's/^/    /'
    failed=$((failed + 1))
  elif [[ -n ${outputs[i]} && $shown != "$expected" ]]; then
    echo "FAILED (output differs from the README's, - README, + actual): $command"
    diff <(printf '%s' "$expected") <(printf '%s' "$shown") | sed 's/^/    /'
    failed=$((failed + 1))
  else
    echo "ok: $command"
  fi
done
echo "README commands: $ran run, $failed failed, $skipped skipped"
((failed == 0))
