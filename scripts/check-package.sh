#!/usr/bin/env bash
# Brings a configured build folder (default build/) up to date, makes the
# Debian packages from it (varnel, libvarnel1, libvarnel-dev, python3-varnel)
# and checks them the way a user and the distribution meet them: lintian,
# the dependencies among them, the desktop entry, the AppStream metadata,
# each manual page rendered, the completion scripts, the icons, the programs
# run from the packages' own files, the Python module imported from them and
# the C++ example built against them and run against their simulator.
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
# The packages are made of the tree as it is now.
cmake --build "$build" -j "$(nproc)" >&2
names=(varnel libvarnel1 libvarnel-dev python3-varnel)
for name in "${names[@]}"; do rm -f "$build/${name}"_*.deb; done
(cd "$build" && cpack -G DEB >&2)
declare -A deb
for name in "${names[@]}"; do
  found=("$build/${name}"_*.deb)
  [ -f "${found[0]}" ] || { echo "check-package: no package $name was made" >&2; exit 1; }
  deb[$name]=${found[0]}
done
version=$(dpkg-deb -f "${deb[varnel]}" Version)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch
for name in "${names[@]}"; do
  v=$(dpkg-deb -f "${deb[$name]}" Version)
  [ "$v" = "$version" ] || fail "$name is version $v, varnel $version"
  echo "$(basename "${deb[$name]}"): $(stat -c %s "${deb[$name]}") bytes" >&2
  echo "  Depends: $(dpkg-deb -f "${deb[$name]}" Depends)" >&2
done
# depends NAME WHAT...: the package NAME depends on each WHAT (a package and
# the start of its version, as "libvarnel1 (= 1.1)").
depends() {
  local name=$1 have what
  shift
  have=", $(dpkg-deb -f "${deb[$name]}" Depends),"
  for what in "$@"; do
    [[ $have == *", $what"* ]] || fail "$name does not depend on $what"
  done
}
# The system's libraries come from what the programs link.
depends varnel "libqt6core6 " "libqt6widgets6 " "libjpeg62-turbo " "libc6 "
depends libvarnel1 "libqt6core6 " "libc6 "
depends libvarnel-dev "libvarnel1 (= $version)"
depends python3-varnel "libvarnel1 (= $version)" "python3 (>= "
# varnel needs libvarnel1 exactly when one of its programs links it.
tree=$(mktemp -d)
root=$tree/root
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tree"
}
trap cleanup EXIT
dpkg-deb -x "${deb[varnel]}" "$tree/varnel"
linked=$(for p in "$tree"/varnel/usr/bin/*; do readelf -d "$p"; done | grep -c 'NEEDED.*\[libvarnel\.so\.1\]' || true)
if ((linked)); then
  depends varnel "libvarnel1 (= $version)"
elif [[ $(dpkg-deb -f "${deb[varnel]}" Depends) == *libvarnel1* ]]; then
  fail "varnel depends on libvarnel1, but no program of it links libvarnel.so.1"
fi
shlibs=$(dpkg-deb --info "${deb[libvarnel1]}" shlibs 2>/dev/null) || true
[ "$shlibs" = "libvarnel 1 libvarnel1 (>= $version)" ] || fail "libvarnel1's shlibs file says '$shlibs'"
for script in postinst postrm preinst prerm; do
  dpkg-deb --info "${deb[libvarnel1]}" $script >/dev/null 2>&1 && fail "libvarnel1 has a $script"
done
dpkg-deb --info "${deb[libvarnel1]}" triggers 2>/dev/null | grep -q '^activate-noawait ldconfig$' ||
  fail "libvarnel1 does not activate the ldconfig trigger"
# dpkg installs the four together only if no file is in two of them.
clash=$(for name in "${names[@]}"; do dpkg-deb --fsys-tarfile "${deb[$name]}" | tar -t | grep -v '/$'; done |
        sort | uniq -d)
[ -z "$clash" ] || fail "files in more than one package: $clash"

step "lintian"
# Errors fail the check; the tags lintian only mentions are listed.
status=0
tags=$(lintian --fail-on error --display-info "${deb[@]}" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$tags" >&2 || true
[ "$status" -eq 0 ] || fail "lintian reports errors (status $status)"

# The four unpacked into one tree, as installing them together lays them out.
mkdir -p "$root"
for name in "${names[@]}"; do dpkg-deb -x "${deb[$name]}" "$root"; done
# The programs and the module load the packaged library, as from /usr/lib.
export LD_LIBRARY_PATH=$root/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

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
for name in "${names[@]}"; do
  for f in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/$name/$f" ] || fail "no usr/share/doc/$name/$f"
  done
done

step "the library for programs of one's own"
for f in usr/include/varnel/varnel.h "$libdir/cmake/Varnel/VarnelConfig.cmake" "$libdir/pkgconfig/varnel.pc" \
         usr/lib/python3/dist-packages/varnel.pyi; do
  [ -f "$root/$f" ] || fail "no $f in the packages"
done
so=$(find "$root/$libdir" -maxdepth 1 -name 'libvarnel.so.1.*' -type f | head -n 1)
[ -n "$so" ] && [[ $(objdump -p "$so" | awk '/SONAME/ {print $2}') == libvarnel.so.1 ]] ||
  fail "no libvarnel.so.1 with its SONAME in $libdir"
out=$(cd / && PYTHONPATH="$root/usr/lib/python3/dist-packages" \
      /usr/bin/python3 -c 'import varnel; print(varnel.__version__)') || fail "the Python module does not import"
[ "$out" = "$version" ] || fail "varnel.__version__ is '$out', the package is $version"
# pkg-config finds the headers and the library in the tree the .pc lies in.
flags=$(PKG_CONFIG_PATH="$root/$libdir/pkgconfig" pkg-config --cflags --libs varnel) || fail "pkg-config varnel"
include=$(sed -n 's/.*-I\([^ ]*\).*/\1/p' <<<"$flags")
lib=$(sed -n 's/.*-L\([^ ]*\).*/\1/p' <<<"$flags")
[ "$(realpath -m "$include")" = "$(realpath "$root/usr/include")" ] &&
  [ "$(realpath -m "$lib")" = "$(realpath "$root/$libdir")" ] ||
  fail "pkg-config gives '$flags', not the unpacked tree"
# The example, built with find_package(Varnel) against the unpacked -dev and
# run against the packaged simulator.
if cmake -S examples/cpp -B "$tree/example" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
     -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >&2 && cmake --build "$tree/example" >&2; then
  coproc SIM { exec "$root/usr/bin/varnel-target-sim"; }
  sim_pid=$SIM_PID
  read -r port <&"${SIM[0]}"
  out=$("$tree/example/flash-with-serial" "$port" "$source/tests/data/blink.hex" \
        305419896 2>&1) || fail "the example against the packaged simulator failed: $out"
  echo "$out" >&2
  [[ $out == *"serial 305419896 reads back as 78 56 34 12"* ]] || fail "the example read back no serial number"
else
  fail "the C++ example does not build against libvarnel-dev"
fi

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
echo "check-package: ${names[*]} $version passed every check" >&2
