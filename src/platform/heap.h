// The module's one way to memory: a global heap with the Windows contract. GlobalAlloc
// returns a fixed block (zero-filled with GMEM_ZEROINIT) whose handle is its address, or
// null; GlobalFree returns null on success.
//
// These are the project's own functions, not the system's: on Windows heap.cpp forwards
// them to kernel32's GlobalAlloc/GlobalFree, elsewhere it serves them from malloc. Being
// the module's own symbols, a test program can link its counting heap in place of
// heap.cpp on every platform (a second definition of kernel32's names would clash with
// the import library).
#pragma once

#include <cstddef>

namespace inkrow {

using HGLOBAL = void*;
// The same bit as the system's flag, so the Windows forwarding passes flags through.
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);
HGLOBAL GlobalFree(HGLOBAL block);

}  // namespace inkrow
