// libFuzzer entry: the call sequences of fuzz_calls.cpp with the allocations they mark
// failing. Every call that runs out of memory must leave its context as it was; retried,
// it must give what the run without failures gave, byte for byte. Inputs that mark no
// allocation return at once, so the fuzzer keeps the ones that do.
#include <cstddef>
#include <cstdint>

#include "call_sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    callseq::RunCallSequence(data, size, callseq::Runs::kAllocationFailures);
    return 0;
}
