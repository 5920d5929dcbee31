#!/usr/bin/env bash
# Builds the libFuzzer targets (clang with ASan and UBSan) and runs each for a
# given number of seconds on its corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# New inputs that raise coverage are kept in build/fuzz/corpus/<target>; the
# seed corpus in fuzz/corpus/ stays as committed. A crash stops with status 1
# and leaves the reproducer in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for t in build/fuzz/fuzz/fuzz_*; do targets+=("$(basename "$t" | sed 's/^fuzz_//')"); done
fi
mkdir -p build/fuzz/findings
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  mkdir -p "$corpus"
  echo "== fuzz_$t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/"$t"- "$corpus" "fuzz/corpus/$t" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR|SUMMARY|.*cov: )' | tail -4
  [[ ${PIPESTATUS[0]} -eq 0 ]] || { echo "fuzz_$t found a failure: see build/fuzz/findings/"; exit 1; }
done
