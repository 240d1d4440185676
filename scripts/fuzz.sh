#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# each for a bounded time over a copy of its seed corpus, so that the committed corpora
# do not grow. Exits non-zero on a finding; the input that found it is left in
# fuzz/artifacts/ (add it to the target's corpus once fixed, so the corpus tests keep it).
#
#   scripts/fuzz.sh [seconds per target=30] [extra libFuzzer flags...]
#
# The targets, each with its corpus (replayed by the ordinary tests fuzz_corpus_*):
#   calls                random call sequences, every allocation succeeding   fuzz/corpus
#   allocation_failures  the same sequences with the allocations they mark
#                        failing, each failed call retried                    fuzz/corpus
#   decode               the stream decoder on untrusted bytes               fuzz/decode_corpus
# FUZZ_TARGETS="calls decode" picks some of them.
#
# The long run, before a release or after a change to the module or the decoder, keeps
# its growing corpora in FUZZ_WORK across runs and yields to other work:
#
#   FUZZ_WORK=$HOME/inkrow-fuzz nice -n 19 scripts/fuzz.sh 3600
#
# An hour per target gives a few million executions each on one core; libFuzzer prints
# executions, exec/s and coverage (cov, ft) at the end of each run. New inputs worth
# keeping go into the committed corpus with libFuzzer's merge, which adds only those that
# reach new coverage:
#
#   build/fuzz/fuzz/inkrow_fuzz_calls -merge=1 fuzz/corpus "$FUZZ_WORK/calls"
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh fuzz
seconds=${1:-30}
shift || true
targets=${FUZZ_TARGETS:-calls allocation_failures decode}

cmake --preset fuzz >/dev/null
for target in $targets; do
    cmake --build build/fuzz --target "inkrow_fuzz_$target" -j "$(nproc)"
done

work=${FUZZ_WORK:-}
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p fuzz/artifacts

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in $targets; do
    case $target in
        decode) seeds=fuzz/decode_corpus max_len=4096 quarantine=16 ;;
        *) seeds=fuzz/corpus max_len=2048 quarantine=4 ;;
    esac
    mkdir -p "$work/$target"
    cp -n "$seeds"/* "$work/$target/"
    echo "== fuzzing $target for ${seconds}s"
    # A small quarantine: the module zeroes a megabyte of packet buffers per page, and
    # the default quarantine turns every one of them into fresh pages. Freed blocks are
    # still poisoned until a few pages later.
    log="$work/$target.log"
    if ! ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=$quarantine:malloc_context_size=5} \
        "build/fuzz/fuzz/inkrow_fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=60 -rss_limit_mb=3072 -print_final_stats=1 \
        -artifact_prefix="fuzz/artifacts/$target-" "$@" "$work/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz.sh: $target found a fault; the input is in fuzz/artifacts/" >&2
        exit 1
    fi
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec)' "$log"
done
