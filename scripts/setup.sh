#!/usr/bin/env bash
# Installs what building and testing Varnel needs on Debian 12, if missing.
#   scripts/setup.sh          the build and the tests
#   scripts/setup.sh --fuzz   the same, plus clang with libFuzzer and the sanitizers
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  libgtest-dev libgmock-dev
  libjpeg62-turbo-dev
  binutils python3
)
if [ "${1:-}" = "--fuzz" ]; then
  # libclang-rt-14-dev holds libFuzzer and the sanitizer runtimes; llvm-14
  # the symbolizer that names the lines of a fault's stack.
  packages+=(clang libclang-rt-14-dev llvm-14)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
