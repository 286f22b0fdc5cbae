#!/usr/bin/env bash
# Runs every test: a normal build, then a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (leaks and undefined behaviour fail the run).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Build and test =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLUSTRA_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

echo "== Fuzz targets, 20 seconds each (clang, libFuzzer, AddressSanitizer, UBSan) =="
bash scripts/fuzz.sh 20
