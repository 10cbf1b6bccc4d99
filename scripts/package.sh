#!/usr/bin/env bash
# Builds the Debian package korvan-pro_<version>_<arch>.deb in build-package/ (or the folder given
# as $1) and checks it: the files it must hold, its Depends, that the unpacked simulator runs,
# that both programs carry Debian's hardening, that the desktop entry is valid, and that lintian
# finds no error and no hardening or strip tag.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build-package}
"$top/scripts/install-deps.sh"

# The programs of the package are built with the flags Debian builds its own packages with,
# all hardening on (fortify, strong stack protector, PIE, relro and immediate binding). A folder
# of its own, so that the plain build of the tests keeps its flags; cpack's install step builds
# only what the package holds, not the tests.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { (cd "$top" && dpkg-buildflags --get "$1"); }
cmake -S "$top" -B "$dir" -DKORVAN_BENCHMARKS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
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
for needed in libc6 libqt6widgets6 libmodbus5 libjpeg62-turbo fonts-liberation \
    qt6-translations-l10n libqt6svg6; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usage=$("$unpacked/usr/bin/korvan-sim" --help) || fail "the unpacked korvan-sim --help failed"
grep -q '^Usage: korvan-sim' <<<"$usage" || fail "the unpacked korvan-sim --help printed no usage"

# Control-flow protection is no flag of Debian 12's dpkg-buildflags, so it is not asked for.
hardening-check --quiet --nocfprotection "$unpacked/usr/bin/korvan-pro" \
  "$unpacked/usr/bin/korvan-sim" || fail "hardening-check"
desktop-file-validate "$unpacked/usr/share/applications/korvan-pro.desktop" ||
  fail "desktop-file-validate"

tags=$(lintian --fail-on error -EvIL +pedantic "$deb") || fail "lintian"
[ -z "$tags" ] || echo "$tags"
! grep -E 'hardening-|binary-has-unneeded-section' <<<"$tags" ||
  fail "lintian finds the programs unhardened or not fully stripped"

[ "$failed" -eq 0 ] || exit 1
echo "package: $deb"
