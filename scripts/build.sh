#!/usr/bin/env bash
# Configures (once) and builds Varnel into the given folder (default build/).
# VARNEL_TARGETS names the targets to build (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >&2
fi
targets=()
for t in ${VARNEL_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >&2
