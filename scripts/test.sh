#!/usr/bin/env bash
# Runs every test: the format and include-direction checks, a normal build,
# then a build with AddressSanitizer and UndefinedBehaviorSanitizer (leaks
# and undefined behaviour fail the run). Warnings are errors in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Format and include direction =="
bash scripts/check-format.sh
sh scripts/check-layers.sh

echo "== Build and test =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLUSTRA_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLUSTRA_SANITIZE=ON -DLUSTRA_WERROR=ON
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

echo "== Fuzz targets, 20 seconds each (clang, libFuzzer, AddressSanitizer, UBSan) =="
bash scripts/fuzz.sh 20
