#!/usr/bin/env bash
# Builds everything and runs every test: a plain build and its Debian package, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows-header compile check of
# serial/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

"$top/scripts/build.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j2 --timeout 300)
"$top/scripts/package.sh" "$top/build"

"$top/scripts/build.sh" "$top/build-sanitize" -DKORVAN_SANITIZE=ON -DKORVAN_BENCHMARKS=OFF
(cd "$top/build-sanitize" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 --timeout 300)

if [ -x "$top/scripts/check-windows-build.sh" ]; then
  "$top/scripts/check-windows-build.sh"
fi
