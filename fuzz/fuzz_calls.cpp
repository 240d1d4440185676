// libFuzzer entry: random call sequences against one or two contexts.
#include <cstddef>
#include <cstdint>

#include "call_sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    callseq::RunCallSequence(data, size);
    return 0;
}
