#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 20), starting from its saved inputs in tests/fuzz_inputs/TARGET/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET ...] (default: every target).
# A finding stops the run and is written to build-fuzz/findings/; copy it
# into tests/fuzz_inputs/TARGET/ once fixed, so that the regression tests
# replay it in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true

# Each target with the longest input it is given.
declare -A max_len=(
    [render]=8192
    [module_settings]=2048
    [record_file]=2048
    [settings_text]=4096
    [frei0r_parameters]=4096
    [resource_file]=65536
    [batch_file]=8192
    [keyframes]=4096
)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(render module_settings record_file settings_text
                                     frei0r_parameters resource_file batch_file keyframes)

LUSTRA_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev" bash scripts/install-deps.sh

CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DLUSTRA_FUZZ=ON \
    -DLUSTRA_BUILD_TESTS=OFF >/dev/null
programs=()
for target in "${targets[@]}"; do
    [ -n "${max_len[$target]:-}" ] || { echo "fuzz.sh: unknown target $target" >&2; exit 2; }
    programs+=("lustra_${target}_fuzzer")
done
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)" --target "${programs[@]}" lustra_data

mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
    echo "== fuzz target $target, $seconds seconds =="
    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    cp -n tests/fuzz_inputs/"$target"/* "$corpus"/ 2>/dev/null || true
    # The render target's inputs are read front to back: every length is
    # worth trying from the start.
    extra=()
    [ "$target" = render ] && extra=(-len_control=0)
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ./build-fuzz/lustra_"$target"_fuzzer -max_total_time="$seconds" \
        -max_len="${max_len[$target]}" "${extra[@]}" -timeout=20 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/"$target"- "$corpus"
done
