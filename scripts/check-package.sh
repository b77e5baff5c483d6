#!/usr/bin/env bash
# Brings a configured build folder (default build/) up to date, makes the
# Debian package from it and checks the package the way a user and the
# distribution meet it: lintian, the desktop entry, the AppStream metadata,
# each manual page rendered, the completion scripts, the icons, and the
# programs run from the package's own files.
#   scripts/check-package.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(cd "${1:-build}" && pwd)
scripts/setup.sh --package

failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}
step() { echo "== $*" >&2; }

step "cpack -G DEB"
# The package is made of the tree as it is now.
cmake --build "$build" -j "$(nproc)" >&2
rm -f "$build"/varnel_*.deb
(cd "$build" && cpack -G DEB >&2)
debs=("$build"/varnel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "check-package: no package was made" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "$(basename "$deb"): version $version, $(stat -c %s "$deb") bytes" >&2
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends" >&2
for lib in libqt6core6 libqt6widgets6 libjpeg62-turbo libc6; do
  [[ $depends == *"$lib "* ]] || fail "Depends lacks $lib: the dependencies were not found from the programs"
done

step "lintian"
# Errors fail the check; the tags lintian only mentions are listed.
status=0
tags=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$tags" >&2 || true
[ "$status" -eq 0 ] || fail "lintian reports errors (status $status)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

step "the programs from the package"
out=$("$root/usr/bin/varnel-cli" --version) || fail "varnel-cli --version failed"
[ "$out" = "varnel-cli $version" ] || fail "varnel-cli --version says '$out', the package is $version"
out=$("$root/usr/bin/varnel-target-sim" --help) || fail "varnel-target-sim --help failed"
[[ $out == "Usage: varnel-target-sim"* ]] || fail "varnel-target-sim --help printed no usage"
out=$("$root/usr/bin/varnel-cli" --help) || fail "varnel-cli --help failed"
[[ $out == "Usage:"* ]] || fail "varnel-cli --help printed no usage"
[ -f "$root/usr/share/varnel/Varnel.hlp" ] || fail "no help file beside the programs (../share/varnel)"
[ -x "$root/usr/bin/varnel" ] || fail "no varnel"
out=$("$root/usr/bin/varnel-station" --version) || fail "varnel-station --version failed"
[ "$out" = "varnel-station $version" ] || fail "varnel-station --version says '$out', the package is $version"

step "the library for programs of one's own"
for f in usr/include/varnel/varnel.h usr/lib/cmake/Varnel/VarnelConfig.cmake usr/lib/pkgconfig/varnel.pc \
         usr/lib/python3/dist-packages/varnel.pyi; do
  [ -f "$root/$f" ] || fail "no $f in the package"
done
so=$(find "$root/usr/lib" -maxdepth 1 -name 'libvarnel.so.1*' -type f | head -n 1)
[ -n "$so" ] && [[ $(objdump -p "$so" | awk '/SONAME/ {print $2}') == libvarnel.so.1 ]] ||
  fail "no libvarnel.so.1 with its SONAME in the package"
out=$(cd / && LD_LIBRARY_PATH="$root/usr/lib" PYTHONPATH="$root/usr/lib/python3/dist-packages" \
      /usr/bin/python3 -c 'import varnel; print(varnel.__version__)') || fail "the Python module does not import"
[ "$out" = "$version" ] || fail "varnel.__version__ is '$out', the package is $version"

step "desktop entry and AppStream metadata"
for entry in varnel varnel-station; do
  desktop-file-validate "$root/usr/share/applications/$entry.desktop" || fail "desktop-file-validate $entry"
done
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 2 ] || fail "expected the metadata of varnel and varnel-station, found ${#metainfo[@]}"
appstreamcli validate --no-net "${metainfo[@]}" >&2 || fail "appstreamcli validate"
for m in "${metainfo[@]}"; do
  grep -q "<release version=\"$version\"" "$m" || fail "$(basename "$m") has no release $version"
done
changes=$(zcat "$root/usr/share/doc/varnel/changelog.gz")
[[ $changes == "varnel ($version) "* ]] || fail "the changelog's latest entry is not $version"

step "manual pages"
for page in varnel varnel-cli varnel-target-sim varnel-station; do
  file=$root/usr/share/man/man1/$page.1.gz
  if [ ! -f "$file" ]; then
    fail "no manual page $page(1)"
    continue
  fi
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
  text=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
  [[ $text == *"Varnel $version"* ]] || fail "$page(1) does not name $version"
done

step "completion"
for command in varnel-cli varnel-target-sim; do
  [ -f "$root/usr/share/bash-completion/completions/$command" ] || fail "no bash completion for $command"
done
timeout 60 bash tests/dist/completion-test.sh "$root/usr/share/bash-completion/completions/varnel-cli" >&2 \
  || fail "bash completion"
timeout 60 zsh -f tests/dist/zsh-completion-test.zsh "$root/usr/share/zsh/vendor-completions" >&2 \
  || fail "zsh completion"

step "icons"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/varnel.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/varnel.png
  [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "$png is not a $size x $size PNG"
done

if ((failures)); then
  echo "check-package: $failures checks failed" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") passed every check" >&2
