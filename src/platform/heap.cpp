#include "platform/heap.h"

#if !defined(_WIN32)
#include <cstdlib>

extern "C" {

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
    if (bytes == 0) return nullptr;
    return (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    std::free(block);
    return nullptr;
}

}  // extern "C"
#endif
