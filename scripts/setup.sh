#!/usr/bin/env bash
# Installs what building and testing Varnel needs on Debian 12, if missing.
#   scripts/setup.sh          the build and the tests
#   scripts/setup.sh --fuzz   the same, plus clang with libFuzzer and the sanitizers
#   scripts/setup.sh --package  the same, plus what building and checking the
#                               Debian package needs
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  libgtest-dev libgmock-dev
  libjpeg62-turbo-dev nlohmann-json3-dev libcli11-dev
  binutils python3
  libpq-dev postgresql
  pybind11-dev python3-pybind11 python3-dev python3-pytest
)
if [ "${1:-}" = "--fuzz" ]; then
  # libclang-rt-14-dev holds libFuzzer and the sanitizer runtimes; llvm-14
  # the symbolizer that names the lines of a fault's stack.
  packages+=(clang libclang-rt-14-dev llvm-14)
fi
if [ "${1:-}" = "--package" ]; then
  # cpack finds the programs with file and their dependencies with
  # dpkg-shlibdeps (dpkg-dev); the rest check the package and its parts.
  packages+=(file dpkg-dev lintian desktop-file-utils appstream man-db groff-base zsh)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      cat >&2 <<MSG
Varnel needs these packages, which are not installed: ${missing[*]}
Installing them takes root, and sudo is not available here. Run as root:

  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}

then run ./run.sh or ./test.sh again.
MSG
      exit 1
    fi
    sudo="sudo"
  fi
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
