#!/usr/bin/env bash
# Runs every test program of the plain build under valgrind's memcheck: reads of
# uninitialised memory, reads and writes past a block and leaks fail the run.
#
#   scripts/valgrind.sh            builds the plain preset first
#   BUILD_DIR=path scripts/valgrind.sh   uses an existing build instead
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh valgrind

build=${BUILD_DIR:-}
if [ -z "$build" ]; then
    build=build/plain
    cmake --preset plain >/dev/null
    cmake --build --preset plain -j "$(nproc)"
fi

shopt -s nullglob
programs=("$build"/tests/inkrow_*_tests)
if ((${#programs[@]} == 0)); then
    echo "valgrind: no test programs in $build/tests" >&2
    exit 1
fi

# The line code's differential test pushes two million lines through two coders: the
# sanitizer build runs it, and here it would take most of the time for nothing more.
skip="PackBytesDifferential.EveryRunSearchWritesThePlainCodersBytes"

failed=0
passed=0
for program in "${programs[@]}"; do
    name=$(basename "$program")
    echo "== valgrind $name"
    start=$SECONDS
    if valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --quiet "$program" --gtest_brief=1 --gtest_filter="-$skip"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "valgrind: $name failed"
    fi
    echo "   $((SECONDS - start))s"
done
echo "valgrind: $passed passed, $failed failed"
((failed == 0))
