#!/usr/bin/env bash
# Runs every test: installs what is missing, then configures, builds and tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --all
jobs=$(nproc)

echo "== native build and tests"
cmake --preset native -DVELKORIX_TESTS=ON
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs" >/dev/null
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset sanitize -j"$jobs"

echo "== concurrency tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs" >/dev/null
TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan

echo "== short fuzz runs of every target"
scripts/fuzz.sh 15

echo "== Windows module (mingw-w64, 32- and 64-bit) and its tests under wine"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs" >/dev/null
done
tests/win/run.sh
