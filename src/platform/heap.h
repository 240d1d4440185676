// The platform's global heap. On Windows these are the system's own functions; on
// POSIX the module carries a small layer of its own (heap.cpp) with the same contract:
// GlobalAlloc returns a fixed block (zero-filled with GMEM_ZEROINIT) whose handle is its
// address, or null; GlobalFree returns null on success.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstddef>

using HGLOBAL = void*;
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;

extern "C" {
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);
HGLOBAL GlobalFree(HGLOBAL block);
}
#endif
