#!/usr/bin/env bash
# Builds the module as inkrow.dll with MinGW-w64 and runs its tests under Wine: the test
# programs, the DLL's export table, and the same jobs through the DLL and through the
# Linux library, byte for byte. Installs what it needs first (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh windows
jobs=$(nproc)
start=$SECONDS
echo "== windows: Linux reference for the stream comparison"
cmake --preset plain >/dev/null
cmake --build --preset plain -j "$jobs" --target inkrow_stream_jobs
echo "== windows: build (MinGW-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "== windows: tests (Wine), built after $((SECONDS - start))s"
status=0
ctest --preset windows -j "$jobs" || status=$?
# The tests stop their wineserver; make sure no server of this prefix outlives the run.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
echo "== windows done after $((SECONDS - start))s"
exit $status
