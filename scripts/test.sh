#!/usr/bin/env bash
# Builds everything and runs every test: the non-GUI libraries under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Qt parts (and the benchmarks' build) in a release tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARQ_SANITIZE=ON -DTARQ_GUI=OFF -DTARQ_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -L unit -j "$jobs" --output-on-failure --no-tests=ignore

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -L gui -j "$jobs" --output-on-failure --no-tests=ignore
echo "all tests passed"
