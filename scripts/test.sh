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
