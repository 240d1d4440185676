#!/usr/bin/env bash
# The print-quality benchmark (bench/quality/README.md): builds it optimised and prints
# its table. The short form (the default, under a minute on two cores; CI runs it) takes
# one print mode per ink set at 600 dpi; --full takes every print mode at 600 and 300 dpi
# and every level count (several minutes). The table (markdown) and the side-by-side
# picture of the halftones go to out/quality/.
#
#   scripts/quality.sh [--full]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh demo
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target inkrow_quality
mkdir -p out/quality
build/release/bench/quality/inkrow_quality "$@" --out out/quality
echo "quality: table in out/quality/table.md, picture in out/quality/comparison.png"
