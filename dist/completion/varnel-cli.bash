# bash completion for varnel-cli and varnel-target-sim: commands, options,
# memory names, serial ports, baud rates, and file names by extension.
# Stands alone: it needs no completion library.

# Adds the files matching $cur whose extension is one of the arguments
# (any file when there is none), and the folders to look into.
_varnel_files() {
  local f ext IFS=$'\n'
  compopt -o filenames 2>/dev/null || true
  for f in $(compgen -f -- "$cur"); do
    if [[ -d $f || $# -eq 0 ]]; then
      COMPREPLY+=("$f")
      continue
    fi
    for ext in "$@"; do
      if [[ ${f,,} == *."$ext" ]]; then
        COMPREPLY+=("$f")
        break
      fi
    done
  done
  return 0
}

# Adds the words of the list $1 that begin with $cur.
_varnel_words() {
  local IFS=$' \t\n'
  COMPREPLY+=($(compgen -W "$1" -- "$cur"))
}

# The serial ports: COM names, the devices present, the stable names of
# adapters and the simulator's link.
_varnel_ports() {
  local d devices=(COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8)
  for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/* \
           "${XDG_RUNTIME_DIR:-/nonexistent}/varnel-target" /tmp/varnel-target-*; do
    if [[ -e $d ]]; then devices+=("$d"); fi
  done
  local IFS=$'\n'
  COMPREPLY+=($(compgen -W "${devices[*]}" -- "$cur"))
  # A path typed that is none of these may still be a device or a link.
  if [[ $cur == */* ]]; then _varnel_files; fi
  return 0
}

# Sets cur, prev and prev2 (the word before prev) for the word being
# completed. Bash splits "--opt=value" into "--opt", "=" and "value": the
# "=" is skipped, so that the value's option is prev.
_varnel_current() {
  local words=("${COMP_WORDS[@]:0:COMP_CWORD+1}")
  cur=${words[COMP_CWORD]}
  unset 'words[COMP_CWORD]'
  if [[ $cur == = ]]; then
    cur=
  fi
  local kept=() w
  for w in "${words[@]}"; do
    if [[ $w != = ]]; then kept+=("$w"); fi
  done
  prev=${kept[${#kept[@]} - 1]:-}
  prev2=
  if ((${#kept[@]} > 1)); then prev2=${kept[${#kept[@]} - 2]}; fi
}

_varnel_cli() {
  local cur prev prev2
  COMPREPLY=()
  _varnel_current

  local global='-p --port -b --baud --project --reset --reset-seq --reset-cmd --clock --timeout --trace --log --db -q --quiet -h --help --version'
  case $prev in
    -p | --port) _varnel_ports; COMPREPLY+=($(compgen -W auto -- "$cur")); return ;;
    -b | --baud) _varnel_words '110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600 115200 128000 256000'; return ;;
    --reset-seq) _varnel_words 'pulse pulse-inverted'; return ;;
    --reset-cmd) COMPREPLY=($(compgen -c -- "$cur")); return ;;
    --project) _varnel_files prj; return ;;
    --trace | --log | --serial-file) _varnel_files; return ;;
    -o | --output) _varnel_files hex bin; return ;;
    --timeout | --from | --to | --hcr0 | --hcr1 | --serial | --count | --clock | --db | \
      --serial-counter | --counter | --start | --since) return ;;
  esac

  # The command and its arguments so far: words that are neither options
  # nor the values of options.
  local i word command= args=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == = ]]; then
      i=$((i + 1))
    elif [[ $word == -* ]]; then
      case $word in
        -p | --port | -b | --baud | --project | --timeout | --trace | --log | -o | --output | \
          --from | --to | --hcr0 | --hcr1 | --serial | --serial-file | --count | --reset-seq | \
          --reset-cmd | --clock | --db | --serial-counter | --counter | --start | --since)
          if [[ ${COMP_WORDS[i + 1]} != = ]]; then i=$((i + 1)); fi ;;
      esac
    elif [[ -z $command ]]; then
      command=$word
    else
      args=$((args + 1))
    fi
  done

  if [[ $cur == -* ]]; then
    case $command in
      read) _varnel_words "$global -o --output --from --to --twice" ;;
      program) _varnel_words "$global --verify --no-mass-erase --no-erase-cfg --no-flash --no-hcr --send-all --hcr0 --hcr1 --allow-missing-end --serial --serial-file --serial-counter --loop --count" ;;
      verify) _varnel_words "$global --allow-missing-end" ;;
      db) _varnel_words "$global --counter --start --since --serial" ;;
      erase) _varnel_words "$global --with-cfg --cfg-only" ;;
      *) _varnel_words "$global" ;;
    esac
    return
  fi
  case $command in
    '') _varnel_words 'ports info read program verify erase blank-check terminal db' ;;
    db) if ((args == 0)); then _varnel_words 'init flush export'; fi ;;
    read) if ((args == 0)); then _varnel_words 'code xdata iram sfr cfg'; fi ;;
    program | verify) if ((args == 0)); then _varnel_files hex ihx bin; fi ;;
  esac
  return 0
}

_varnel_target_sim() {
  local cur prev prev2
  COMPREPLY=()
  _varnel_current

  case $prev in
    --variant) _varnel_words 'Y2 Y3 Y4 Y5'; return ;;
    --line-error)
      if [[ $cur == *,* ]]; then _varnel_words "${cur%%,*},X ${cur%%,*},E ${cur%%,*},empty"; fi
      return ;;
    --load)
      _varnel_words 'code= xram= iram= sfr= config='
      compopt -o nospace 2>/dev/null || true
      return ;;
    code | xram | iram | sfr | config)
      # MEM=FILE after --load: bash completes the part after "=".
      if [[ $prev2 == --load ]]; then _varnel_files bin; return; fi ;;
    --dump | --link | --replay) _varnel_files; return ;;
    --damage-ways) _varnel_words 'drop double letter prompt digit'; return ;;
    --id | --clock | --baud | --version | --delay | --chunk | --nul | --silent-after | \
      --babble-after | --hang-up-after | --weak-cell | --unerased-cell | --damage) return ;;
  esac
  _varnel_words '--variant --id --clock --baud --version --no-echo --no-leading-crlf --delay
    --paced --chunk --nul --silent-after --refuse-erase --refuse-config-write --line-error
    --babble-after --hang-up-after --weak-cell --unerased-cell --damage --damage-ways --load --dump --link
    --no-link --replay -v --verbose -h --help'
}

complete -F _varnel_cli varnel-cli
complete -F _varnel_target_sim varnel-target-sim
