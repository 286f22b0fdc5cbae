#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is needed, builds LustraFex and
# lustra, and runs `lustra demo` (the results go to ./lustra-demo/).
# Extra arguments are passed to `lustra demo`; the demo's own four files are
# replaced when the script runs again (-y).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target lustra
./build/lustra demo -y "$@"
