#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds examples/cpp against it
# with find_package(Varnel) (and once more through pkg-config), and runs it
# against the simulator: the installed library works for a consumer.
#   install-and-build-example.sh BUILD-DIR SOURCE-DIR SIMULATOR
set -euo pipefail
build=$1 source=$2 simulator=$3
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for header in varnel.h target.h image.h errors.h; do
  [ -f "$work/prefix/include/varnel/$header" ] || { echo "not installed: include/varnel/$header"; exit 1; }
done
# No header of the engine and nothing of Qt reaches a consumer.
if grep -rE '#include [<"](Q|core/|link/|engine/)' "$work/prefix/include/varnel"; then
  echo "a public header includes Qt or the engine"; exit 1
fi

cmake -S "$source/examples/cpp" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/example" >&2

pc=$(find "$work/prefix" -name varnel.pc)
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs varnel)
# shellcheck disable=SC2086
c++ -std=c++20 -Wall -Wextra -Werror "$source/examples/cpp/main.cpp" $flags \
  -Wl,-rpath,"$(dirname "$(dirname "$pc")")" -o "$work/by-pkg-config"

# A sanitizer build's library in a program built without the sanitizer
# hangs at exit in a system library's clean-up (p11-kit's, under the
# preloaded runtime): there the install and the builds are checked, and
# the runs are left to the plain build.
if [ -n "${VARNEL_EXAMPLE_PRELOAD:-}" ]; then
  echo "sanitizer build: the example is built, not run"
  exit 0
fi
run() { "$@"; }

coproc SIM { exec "$simulator"; }
sim_pid=$SIM_PID
read -r port <&"${SIM[0]}"
out=$(run "$work/example/flash-with-serial" "$port" "" 4660 2>&1) || true
# An empty file name is no file: the example says so with the status of a bad file.
[[ $out == BadFile:* ]] || { echo "expected a bad file: $out"; exit 1; }
out=$(run "$work/example/flash-with-serial" "$port")
echo "$out"
[[ $out == *"MSC1210Y5"* && $out == *"serial 1 reads back as 01 00 00 00"* ]] || exit 1
out=$(run "$work/by-pkg-config" "$port" "$source/tests/data/blink.hex" 305419896)
echo "$out"
[[ $out == *"serial 305419896 reads back as 78 56 34 12"* ]] || exit 1
