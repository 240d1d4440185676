#include "platform/heap.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// From here on GMEM_ZEROINIT is the system's macro, which hides the module's constant of
// the same value (heap.h); flags pass through unchanged only while the two agree.
static_assert(GMEM_ZEROINIT == 0x0040);

namespace inkrow {

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
    return ::GlobalAlloc(flags, bytes);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    return ::GlobalFree(block);
}

}  // namespace inkrow

#else
#include <cstdlib>

namespace inkrow {

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
    if (bytes == 0) return nullptr;
    return (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    std::free(block);
    return nullptr;
}

}  // namespace inkrow
#endif
