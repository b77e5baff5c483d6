#!/usr/bin/env bash
# Builds Varnel and starts it together with the boot-loader simulator, so it
# can be tried at once without a board.
#   ./run.sh            Varnel and a simulated MSC1210Y5 target
#   ./run.sh --no-sim   Varnel alone (a real board on a serial adapter)
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# Only what this script starts: the tests and benchmarks are ./test.sh's.
VARNEL_TARGETS="varnel varnel-target-sim" scripts/build.sh build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no graphical display found (DISPLAY is not set); Varnel needs one." >&2
  exit 1
fi

if [ "${1:-}" = "--no-sim" ]; then
  exec build/src/app/varnel
fi

out=$(mktemp)
build/tools/target-sim/varnel-target-sim >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do
  [ -s "$out" ] && break
  sleep 0.1
done
device=$(head -n 1 "$out")
link="${XDG_RUNTIME_DIR:-/tmp}/varnel-target"
[ -n "${XDG_RUNTIME_DIR:-}" ] || link="/tmp/varnel-target-$(id -u)"
cat <<MSG
The simulated target (an MSC1210Y5 boot loader) listens on $device.
In Varnel choose Target > Configure, pick $link as the port (9600 baud),
press Ok, then Target > Connect. Closing Varnel stops the simulator.
MSG
build/src/app/varnel
