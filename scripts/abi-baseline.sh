#!/usr/bin/env bash
# Writes the binary-interface baseline of a release into abi/VERSION/: the library's
# interface and the public records (abidw, from a debug build), and a copy of the public
# header a program of that release was built against. Run it once per release, on the
# release commit; the abi_baseline and abi_old_consumer tests then hold every later build
# to it. Never rerun it to make a failing check pass within a release.
#
#   scripts/abi-baseline.sh            the version in include/inkrow/output.h
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
version=$(awk '/^#define INKROW_VERSION_(MAJOR|MINOR|PATCH) / {v = v (v ? "." : "") $3} END {print v}' \
    include/inkrow/output.h)
cmake --preset plain >/dev/null
cmake --build --preset plain -j "$(nproc)" --target inkrow inkrow_abi_records
out=abi/$version
mkdir -p "$out/include/inkrow"
# No paths in the baseline: it is compared from any checkout.
flags=(--no-corpus-path --no-comp-dir-path --no-show-locs)
abidw "${flags[@]}" build/plain/libinkrow.so >"$out/libinkrow.abi"
abidw "${flags[@]}" build/plain/tests/libinkrow_abi_records.so >"$out/records.abi"
cp include/inkrow/output.h "$out/include/inkrow/output.h"
echo "abi-baseline: wrote $out"
