#!/usr/bin/env bash
# Builds inkrow and prints its built-in test page: a 600 dpi A4 page in the most common
# colour mode, and writes its stream and a colour preview to out/. Extra arguments go to inkrow-page (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target inkrow-page
mkdir -p out
exec build/release/tools/inkrow-page --output out/testpage.prn --png out/testpage.png "$@"
