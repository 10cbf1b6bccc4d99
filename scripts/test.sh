#!/usr/bin/env bash
# Builds everything and runs every test: a plain build, the Debian package (hardened, in a folder
# of its own) and its checks, then the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a minute of the line fuzzer, then the Windows-header compile
# check of serial/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

"$top/scripts/build.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j2 --timeout 300)
"$top/scripts/package.sh" "$top/build-package"

"$top/scripts/build.sh" "$top/build-sanitize" -DKORVAN_SANITIZE=ON -DKORVAN_BENCHMARKS=OFF
(cd "$top/build-sanitize" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 --timeout 300)

# The line fuzzer (clang, libFuzzer) for a minute, from the committed seeds; what it finds is
# kept beside the build, the seeds stay as they are.
CC=clang CXX=clang++ cmake -S "$top/fuzz" -B "$top/build-fuzz" >/dev/null
cmake --build "$top/build-fuzz" -j2
mkdir -p "$top/build-fuzz/corpus"
"$top/build-fuzz/line_fuzzer" -max_total_time=60 -max_len=256 -print_final_stats=1 \
  -artifact_prefix="$top/build-fuzz/" "$top/build-fuzz/corpus" "$top/fuzz/corpus"

if [ -x "$top/scripts/check-windows-build.sh" ]; then
  "$top/scripts/check-windows-build.sh"
fi
