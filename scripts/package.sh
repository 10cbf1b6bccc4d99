#!/usr/bin/env bash
# Builds the Debian package korvan-pro_<version>_<arch>.deb in build/ (or the folder given as $1)
# and checks it: the files it must hold, its Depends, that the unpacked simulator runs, and that
# lintian finds no error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$dir" >/dev/null
cmake --build "$dir" -j2 --target korvan-pro korvan-sim korvan_package_documents

rm -f "$dir"/korvan-pro_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/korvan-pro_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "package: no package was made in $dir" >&2; exit 1; }

failed=0
fail() {
  echo "package: $*" >&2
  failed=1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
[ "$(basename "$deb")" = "korvan-pro_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "unexpected file name $(basename "$deb")"

contents=$(dpkg-deb -c "$deb")
for path in \
    ./usr/bin/korvan-pro \
    ./usr/bin/korvan-sim \
    ./usr/share/applications/korvan-pro.desktop \
    ./usr/share/icons/hicolor/scalable/apps/korvan-pro.svg \
    ./usr/share/man/man1/korvan-pro.1.gz \
    ./usr/share/man/man1/korvan-sim.1.gz \
    ./usr/share/doc/korvan-pro/copyright \
    ./usr/share/doc/korvan-pro/changelog.gz; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6widgets6 libmodbus5 libjpeg62-turbo fonts-liberation; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usage=$("$unpacked/usr/bin/korvan-sim" --help) || fail "the unpacked korvan-sim --help failed"
grep -q '^Usage: korvan-sim' <<<"$usage" || fail "the unpacked korvan-sim --help printed no usage"

lintian --fail-on error "$deb" || fail "lintian"

[ "$failed" -eq 0 ] || exit 1
echo "package: $deb"
