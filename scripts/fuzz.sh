#!/usr/bin/env bash
# Builds the call-sequence fuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for a bounded time over a copy of the seed corpus, so that the committed
# corpus does not grow. Exits non-zero on a finding; the input that found it is left in
# fuzz/artifacts/ (add it to fuzz/corpus/ once fixed, so the corpus test keeps it).
#
#   scripts/fuzz.sh [seconds=60] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target inkrow_fuzz_calls -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/* "$work/"
mkdir -p fuzz/artifacts

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
echo "== fuzzing for ${seconds}s"
build/fuzz/fuzz/inkrow_fuzz_calls -max_total_time="$seconds" -max_len=2048 -timeout=60 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=fuzz/artifacts/ "$@" "$work"
