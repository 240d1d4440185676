// libFuzzer entry: random call sequences against one or two contexts, every allocation
// succeeding (the fast target; fuzz_allocation_failures.cpp fails allocations).
#include <cstddef>
#include <cstdint>

#include "call_sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    callseq::RunCallSequence(data, size, callseq::Runs::kCalls);
    return 0;
}
