#!/usr/bin/env bash
# Builds Varnel and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh build

if [ -x build/src/app/varnel ]; then
  exec build/src/app/varnel "$@"
fi
cat <<MSG
Varnel is built, but its main window is not there yet, so there is nothing to
start. What exists now: the target link core (boot-loader commands, hex text,
receive path and reply dispatcher), the memory images, their tests
(./test.sh) and the benchmark program build/bench/varnel-bench.
MSG
