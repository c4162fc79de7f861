#!/usr/bin/env bash
# Checks that every C++ source and header of the project is as clang-format
# (.clang-format) writes it; prints the files that are not and exits 1.
# scripts/check-format.sh --fix rewrites them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' ':!tests/data/**')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/dev/null; then
    for f in "${files[@]}"; do
        clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "not formatted: $f" >&2
    done
    echo "scripts/check-format.sh --fix formats them" >&2
    exit 1
fi
echo "${#files[@]} C++ files formatted"
