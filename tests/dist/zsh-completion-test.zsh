#!/usr/bin/env zsh
# Drives the zsh completion of varnel-cli and varnel-target-sim in a real
# interactive zsh on a pseudo-terminal: a line is typed, Tab pressed, and the
# line as completed is printed by the shell itself.
#   zsh-completion-test.zsh FOLDER-WITH-_varnel-cli
emulate -L zsh
folder=${1:?usage: zsh-completion-test.zsh FOLDER}
folder=${folder:A}
zsh -n $folder/_varnel-cli || exit 1
zmodload zsh/zpty || exit 1

work=$(mktemp -d)
trap 'rm -rf $work' EXIT
mkdir -p $work/files && cd $work/files
touch fw.hex fw.txt board.prj board.ini

zpty shell zsh -f -i
zpty -w shell "PS1='> '; fpath=($folder \$fpath); autoload -U compinit; compinit -u -D -d $work/dump"
failures=0
n=0
# expect TYPED COMPLETED: Tab after TYPED leaves the line COMPLETED (the
# space zsh adds after a word goes again as the next key is pressed).
expect() {
  local typed=$1 completed=$2 out line
  n=$((n + 1))
  # Tab, then to the start of the line to print it with a marker.
  zpty -w -n shell "$typed"$'\t'$'\x01'"print -r -- :$n:"$'\x05'":end$n"$'\r'
  zpty -r shell out "*"$'\n'":$n:*:end$n*" || { print -u2 "FAIL: no answer to '$typed'"; exit 1 }
  line=${${out##*$'\n':$n:}%%:end$n*}
  if [[ $line != "$completed" ]]; then
    print -u2 "FAIL: '$typed' became '$line', expected '$completed'"
    failures=$((failures + 1))
  fi
}

expect 'varnel-cli pro' 'varnel-cli program'
expect 'varnel-cli --ver' 'varnel-cli --version'
expect 'varnel-cli read cf' 'varnel-cli read cfg'
expect 'varnel-cli -b 384' 'varnel-cli -b 38400'
expect 'varnel-cli program fw' 'varnel-cli program fw.hex'
expect 'varnel-cli --project bo' 'varnel-cli --project board.prj'
expect 'varnel-cli erase --w' 'varnel-cli erase --with-cfg'
expect 'varnel-target-sim --refuse-c' 'varnel-target-sim --refuse-config-write'
expect 'varnel-cli blank' 'varnel-cli blank-check'
expect 'varnel-cli --reset-seq pulse-i' 'varnel-cli --reset-seq pulse-inverted'
expect 'varnel-cli -b 1152' 'varnel-cli -b 115200'
expect 'varnel-cli program --serial-f' 'varnel-cli program --serial-file'
expect 'varnel-target-sim --rep' 'varnel-target-sim --replay'
zpty -d shell

if ((failures)); then
  print -u2 "$failures zsh completion checks failed"
  exit 1
fi
print "zsh completion: all $n checks passed"
