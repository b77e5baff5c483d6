#!/usr/bin/env bash
# Drives the bash completion of varnel-cli and varnel-target-sim the way bash
# does on Tab: the function that "complete -p" names is called with
# COMP_WORDS, COMP_CWORD, COMP_LINE and COMP_POINT set, and COMPREPLY is
# compared with what a user should be offered.
#   completion-test.sh COMPLETION-FILE
set -euo pipefail
script=${1:?usage: completion-test.sh COMPLETION-FILE}
bash -n "$script"
# shellcheck disable=SC1090
source "$script"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" "$work/files/fw"
cd "$work/files"
touch fw.hex fw.IHX image.bin notes.txt board.prj other.ini trace.log
ln -s /dev/null "$XDG_RUNTIME_DIR/varnel-target"

failures=0
# complete LINE: what Tab offers at the end of LINE, sorted, one line.
complete_line() {
  local line=$1
  # Bash breaks words at "=" as well and keeps the "=" as a word.
  read -r -a COMP_WORDS <<<"${line//=/ = }"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  local spec function
  spec=$(complete -p "${COMP_WORDS[0]}")
  function=$(sed -n 's/.*-F \([^ ]*\).*/\1/p' <<<"$spec")
  COMPREPLY=()
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
}
# expect LINE OFFERED: Tab at the end of LINE offers exactly OFFERED.
expect() {
  local got
  got=$(complete_line "$1")
  if [[ $got != "$2" ]]; then
    echo "FAIL: '$1' offered '$got', expected '$2'" >&2
    failures=$((failures + 1))
  fi
}
# offers LINE WORD...: Tab at the end of LINE offers at least these words.
offers() {
  local line=$1 got word
  shift
  got=" $(complete_line "$line") "
  for word in "$@"; do
    if [[ $got != *" $word "* ]]; then
      echo "FAIL: '$line' offered '$got', missing '$word'" >&2
      failures=$((failures + 1))
    fi
  done
}

# Commands, and an unambiguous start completes to its command.
expect 'varnel-cli pro' 'program'
expect 'varnel-cli -p /dev/ttyUSB0 -b 38400 pro' 'program'
expect 'varnel-cli ' 'blank-check db erase info ports program read terminal verify'
expect 'varnel-cli --project board.prj in' 'info'
# Options: the global ones, and each command's own.
expect 'varnel-cli --ver' '--version'
expect 'varnel-cli program fw.hex --no-' '--no-erase-cfg --no-flash --no-hcr --no-mass-erase'
expect 'varnel-cli erase --' '--baud --cfg-only --clock --db --help --log --port --project --quiet --reset --reset-cmd --reset-seq --timeout --trace --version --with-cfg'
# The reset presets, and the faster rates of the command line.
expect 'varnel-cli --reset-seq ' 'pulse pulse-inverted'
expect 'varnel-target-sim --dam' '--damage --damage-ways'
expect 'varnel-target-sim --damage-ways d' 'digit double drop'
offers 'varnel-cli -b ' 38400 57600 115200
# An option's value is not taken for the command.
expect 'varnel-cli --clock 11.0592M --reset-seq pulse i' 'info'
offers 'varnel-cli read code -' '-o' '--from' '--to' '--port'
# Values: memories, rates, files by extension, ports.
expect 'varnel-cli read ' 'cfg code iram sfr xdata'
expect 'varnel-cli read code ' ''
expect 'varnel-cli -b 96' '9600'
expect 'varnel-cli program ' 'fw fw.IHX fw.hex image.bin'
expect 'varnel-cli verify f' 'fw fw.IHX fw.hex'
expect 'varnel-cli verify fw.hex --al' '--allow-missing-end'
expect 'varnel-cli program fw.hex ' ''
expect 'varnel-cli --project ' 'board.prj fw'
expect 'varnel-cli --project=' 'board.prj fw'
expect 'varnel-cli read code -o ' 'fw fw.hex image.bin'
offers 'varnel-cli --trace ' 'notes.txt' 'trace.log'
offers 'varnel-cli -p ' 'COM1' 'COM8' "$XDG_RUNTIME_DIR/varnel-target"
expect 'varnel-cli --port COM' 'COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8'
# An option's value is not taken for the command.
expect 'varnel-cli --timeout 5 re' 'read'
# The simulator.
expect 'varnel-target-sim --var' '--variant'
expect 'varnel-target-sim --variant ' 'Y2 Y3 Y4 Y5'
expect 'varnel-target-sim --load ' 'code= config= iram= sfr= xram='
expect 'varnel-target-sim --load code=im' 'image.bin'
expect 'varnel-cli read code --tw' '--twice'
expect 'varnel-cli program fw.hex --lo' '--log --loop'
expect 'varnel-cli --db postgresql://db.line/varnel db ' 'export flush init'
offers 'varnel-target-sim --refuse-' '--refuse-config-write' '--refuse-erase'

if ((failures)); then
  echo "$failures completion checks failed" >&2
  exit 1
fi
echo "completion: all checks passed"
