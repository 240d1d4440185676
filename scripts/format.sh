#!/usr/bin/env bash
# Formats every tracked C and C++ file with the committed .clang-format, or, with
# --check (as CI runs it), lists the files that differ and fails without changing any.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
    if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
        grep -o '^[^: ]*:[0-9]*:' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /'
        echo "format: these files differ from .clang-format; scripts/format.sh fixes them" >&2
        exit 1
    fi
    echo "format: ${#files[@]} files as .clang-format wants them"
else
    clang-format -i "${files[@]}"
fi
