#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   ./test.sh                  all tests in build/
#   ./test.sh --sanitize       all tests under AddressSanitizer and UBSan in build-asan/
#   ./test.sh --fuzz SECONDS   the fuzz targets (clang, ASan and UBSan) in build-fuzz/,
#                              each run for SECONDS from its seed corpus in fuzz/corpus/
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = "--fuzz" ]; then
  seconds=${2:?usage: ./test.sh --fuzz SECONDS}
  scripts/setup.sh --fuzz
  if [ ! -f build-fuzz/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVARNEL_FUZZ=ON >&2
  fi
  cmake --build build-fuzz -j "$(nproc)" --target fuzzers >&2
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  status=0
  for seeds in fuzz/corpus/*/; do
    name=$(basename "$seeds")
    # New inputs go to a corpus of the build; the seeds in the tree stay as they are.
    mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
    echo "== fuzz_$name for ${seconds}s" >&2
    if ! "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$name/" "build-fuzz/corpus/$name" "$seeds" \
        2>"build-fuzz/fuzz_$name.log"; then
      tail -n 40 "build-fuzz/fuzz_$name.log" >&2
      echo "fuzz_$name failed; the input is in build-fuzz/findings/$name/" >&2
      status=1
    else
      grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/fuzz_$name.log" >&2 || true
    fi
  done
  exit $status
fi

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
