#!/usr/bin/env bash
# Configures (once) and builds Varnel into the given folder (default build/).
# VARNEL_TARGETS names the targets to build (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
if [ ! -f "$dir/CMakeCache.txt" ]; then
  # A compiler cache, where there is one, makes rebuilding another folder cheap.
  launcher=()
  if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >&2
fi
targets=()
for t in ${VARNEL_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >&2
