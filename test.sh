#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   ./test.sh              all tests in build/
#   ./test.sh --sanitize   all tests under AddressSanitizer and UBSan in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh

if [ "${1:-}" = "--sanitize" ]; then
  scripts/build.sh build-asan -DVARNEL_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=0  # Qt's platform plugins keep a few allocations to exit
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cd build-asan
else
  scripts/build.sh build
  cd build
fi
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j "$(nproc)" --timeout 300
