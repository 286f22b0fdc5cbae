#!/usr/bin/env bash
# Installs what is needed, builds LustraFex and runs the render benchmark
# through the built module.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
./build/bench/lustra_bench "$@"
