#include "core/block.h"

#include "platform/heap.h"

namespace inkrow {

Handle AllocateBlock(std::int64_t size) {
    if (size <= 0) return nullptr;
    return GlobalAlloc(GMEM_ZEROINIT, static_cast<std::size_t>(size));
}

void ReleaseBlock(Handle* handle) {
    if (handle == nullptr || *handle == nullptr) return;
    GlobalFree(*handle);
    *handle = nullptr;
}

}  // namespace inkrow
