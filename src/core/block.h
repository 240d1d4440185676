// Blocks and handles. Every block the module owns comes zero-filled from the platform's
// global heap, and a handle is the block's address. Lock returns the address, unlock does
// nothing; the pair brackets each use so that the module could move to a heap whose
// handles are not addresses. Release nulls the variable that held the handle, so a
// second release is harmless.
#pragma once

#include <cstdint>

namespace inkrow {

using Handle = void*;

// A size of 0 or less yields null without asking the platform.
Handle AllocateBlock(std::int64_t size);
void ReleaseBlock(Handle* handle);

inline std::uint8_t* LockBlock(Handle handle) {
    return static_cast<std::uint8_t*>(handle);
}
inline void UnlockBlock(Handle) {}

}  // namespace inkrow
