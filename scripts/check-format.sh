#!/usr/bin/env bash
# Checks that every C++ source and header is formatted as .clang-format
# says (clang-format --dry-run -Werror); lists the files that are not.
# Fix them with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find apps bench fuzz hostlib include src tests tools \
        \( -name '*.cpp' -o -name '*.h' \) | sort)
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/dev/null; then
    clang-format --dry-run "${files[@]}" 2>&1 | sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning:.*/\1/p' |
        sort -u | sed 's/^/check-format: not formatted: /' >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
