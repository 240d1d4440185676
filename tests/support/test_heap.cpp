#include "test_heap.h"

#include <cstdlib>

#include "platform/heap.h"

namespace {

std::int64_t liveBlocks = 0;
std::int64_t allocations = 0;
std::int64_t failAt = 0;
bool failAll = false;

}  // namespace

namespace testheap {

std::int64_t LiveBlocks() {
    return liveBlocks;
}
std::int64_t Allocations() {
    return allocations;
}
void Reset() {
    allocations = 0;
    failAt = 0;
    failAll = false;
}
void FailAllocation(std::int64_t n) {
    allocations = 0;
    failAt = n;
}
void FailAll(bool on) {
    failAll = on;
}

}  // namespace testheap

// The module's heap functions (platform/heap.h), defined here in place of heap.cpp.
namespace inkrow {

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
    ++allocations;
    if (failAll || (failAt != 0 && allocations == failAt)) return nullptr;
    if (bytes == 0) return nullptr;
    void* block = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
    if (block != nullptr) ++liveBlocks;
    return block;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block != nullptr) --liveBlocks;
    std::free(block);
    return nullptr;
}

}  // namespace inkrow
