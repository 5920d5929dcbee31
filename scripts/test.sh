#!/usr/bin/env bash
# Runs every test: installs what is missing, then configures, builds and tests.
# Each step's line ends with the minutes and seconds since the start.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
step() { printf '== %s [%d:%02d]\n' "$1" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }

step "dependencies"
scripts/install-deps.sh --all
jobs=$(nproc)

step "native build and tests"
cmake --preset native -DVELKORIX_TESTS=ON
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

step "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs" >/dev/null
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset sanitize -j"$jobs"

step "concurrency tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs" >/dev/null
TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan

step "short fuzz runs of every target"
scripts/fuzz.sh 15

step "the velkorix tool built for x86-64-v3 (AVX2, FMA), to compare with the plain build"
cmake --preset x86-64-v3 >/dev/null
cmake --build --preset x86-64-v3 -j"$jobs" >/dev/null

step "Windows module (mingw-w64, 32- and 64-bit) and its tests under wine"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs" >/dev/null
done
step "wine checks"
tests/win/run.sh
step "done"
