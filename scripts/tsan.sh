#!/usr/bin/env bash
# CI's ThreadSanitizer build (g++): only the module and the test that runs many contexts
# on several threads at once, in different modes, comparing every stream with its job
# run alone. Any race between two contexts fails the test. About a minute from scratch.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
start=$SECONDS
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)"
# ThreadSanitizer maps its shadow memory at fixed addresses, which the wider address
# randomisation of newer kernels (vm.mmap_rnd_bits above 28) can collide with; the test
# then runs with randomisation off for its own process tree.
run=()
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)" -gt 28 ]; then
    run=(setarch "$(uname -m)" -R)
fi
"${run[@]}" ctest --preset tsan
echo "== tsan done after $((SECONDS - start))s"
