// What the processor offers beyond the baseline the module is compiled for, for the few
// paths that have a faster form (SSSE3 splitting, AVX2 skips and run masks).
//
// Asked at every use rather than once and kept: each answer is a load and a test of what
// the compiler's runtime found at start-up, and the module keeps no state of its own.
// Only on x86; the callers compile those paths there alone.
#pragma once

#if defined(__x86_64__) || defined(__i386__)

namespace inkrow {

inline bool HasSsse3() {
    return __builtin_cpu_supports("ssse3") != 0;
}

inline bool HasAvx2() {
    return __builtin_cpu_supports("avx2") != 0;
}

// AVX2 with the bit-manipulation sets, whose shifts and bit counts the run masks use.
inline bool HasAvx2Bmi() {
    return HasAvx2() && __builtin_cpu_supports("bmi") != 0 && __builtin_cpu_supports("bmi2") != 0;
}

}  // namespace inkrow

#endif
