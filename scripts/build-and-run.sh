#!/usr/bin/env bash
# Installs what is needed, builds LustraFex and lustra, runs `lustra demo`
# (scripts/demo.sh) and then the render benchmark through the built module.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/demo.sh
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
./build/bench/lustra_bench "$@"
