// The module's heap functions on Windows, linked with the real platform layer (not the
// counting test heap): they must hand out and take back kernel32 global-heap blocks with
// the contract the module relies on, and report exhaustion with null.
#include "platform/heap.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

TEST(WindowsHeap, ZeroFilledFixedBlocksFromTheGlobalHeap) {
    for (std::size_t size :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
        SCOPED_TRACE(size);
        // Dirty the heap first so that zero filling is not a fresh page's accident.
        void* dirty = inkrow::GlobalAlloc(0, size);
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xA5, size);
        EXPECT_EQ(inkrow::GlobalFree(dirty), nullptr);

        void* block = inkrow::GlobalAlloc(GMEM_ZEROINIT, size);
        ASSERT_NE(block, nullptr);
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < size; ++i)
            nonZero += bytes[i] != 0;
        EXPECT_EQ(nonZero, 0u);
        // A global-heap block of at least the size asked for, whose handle is its address.
        EXPECT_GE(::GlobalSize(block), size);
        EXPECT_EQ(::GlobalHandle(block), block);
        EXPECT_EQ(::GlobalLock(block), block);
        ::GlobalUnlock(block);
        EXPECT_EQ(inkrow::GlobalFree(block), nullptr);
    }
}

TEST(WindowsHeap, ExhaustionIsANullBlock) {
    EXPECT_EQ(inkrow::GlobalAlloc(GMEM_ZEROINIT, SIZE_MAX / 2), nullptr);
    EXPECT_EQ(inkrow::GlobalAlloc(0, SIZE_MAX - 64), nullptr);
}

TEST(WindowsHeap, FreeingTheSystemsBlockSucceeds) {
    // A block the system handed out directly comes back through the module's function:
    // both are the same heap.
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, 32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(inkrow::GlobalFree(block), nullptr);
}

}  // namespace
