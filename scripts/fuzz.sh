#!/usr/bin/env bash
# Builds the render fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for the given number of seconds
# (default 60), starting from the saved inputs in tests/fuzz_inputs/.
# A finding stops the run and is written to build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

LUSTRA_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev" bash scripts/install-deps.sh

CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DLUSTRA_FUZZ=ON \
    -DLUSTRA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)" --target lustra_render_fuzzer lustra_data

corpus=build-fuzz/corpus
mkdir -p "$corpus" build-fuzz/findings
cp -n tests/fuzz_inputs/* "$corpus"/ 2>/dev/null || true
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ./build-fuzz/lustra_render_fuzzer -max_total_time="$seconds" -max_len=8192 -len_control=0 -timeout=20 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/findings/ "$corpus"
