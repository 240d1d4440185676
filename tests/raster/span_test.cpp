#include "raster/span.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "test_seed.h"

#if defined(__SANITIZE_ADDRESS__)
#define INKROW_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define INKROW_TEST_ASAN 1
#endif
#endif
#if defined(INKROW_TEST_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace inkrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct SpanCase {
    Bytes row;
    std::uint16_t bits;
    std::int16_t first, count;
    std::int16_t pixelFirst, pixelCount;  // FindInkedPixels
    std::int16_t byteFirst, byteCount;    // InkedByteSpan
    std::uint8_t edge0, edge1;
};

TEST(InkedSpan, DocumentedExamples) {
    const SpanCase cases[] = {
        {{0x00, 0x10, 0x00, 0x00}, 1, 0, 32, 11, 1, 1, 0, 0x10, 0x00},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 1, 3, 10, 3, 10, 0, 0, 0x1F, 0xF8},
        {{0x0F, 0xF0, 0x00, 0x00}, 1, 5, 8, 5, 7, 0, 0, 0x07, 0xF0},
        {{0x18, 0x00, 0x00, 0x00}, 1, 2, 3, 3, 2, 0, 0, 0x18, 0x00},
        {{0x00, 0x03, 0xC0, 0x00}, 2, 0, 16, 7, 2, 1, 0, 0x03, 0xC0},
        {{0x01, 0x00, 0x00, 0x80}, 1, 0, 32, 7, 18, 0, 2, 0x01, 0x80},
        {{0x80, 0x00, 0x00, 0x01}, 1, 0, 32, 0, 32, 0, 3, 0x80, 0x00},
        {{0x80, 0x00, 0x00, 0x01}, 1, 1, 30, 1, 0, 0, 0, 0x00, 0x00},
        {{0xAB, 0xCD}, 4, 1, 2, 1, 2, 0, 0, 0x0B, 0xC0},
        {{0xAB, 0xCD}, 8, 0, 2, 0, 2, 0, 1, 0xAB, 0x00},
        {{0x0F}, 4, 0, 2, 1, 1, 0, 0, 0x0F, 0x00},
        {{0x00, 0x00, 0x00, 0x00}, 2, 3, 9, 3, 0, 0, 0, 0x00, 0x00},
        {{0xFF, 0xFF}, 2, 2, 0, 2, 0, 0, 0, 0x00, 0x00},
    };
    int index = 0;
    for (const SpanCase& c : cases) {
        SCOPED_TRACE(index++);
        std::int16_t first = c.first, count = c.count;
        ASSERT_EQ(FindInkedPixels(c.row.data(), c.bits, &first, &count), 0);
        EXPECT_EQ(first, c.pixelFirst);
        EXPECT_EQ(count, c.pixelCount);

        first = c.first, count = c.count;
        std::uint8_t edges[2] = {0xEE, 0xEE};
        ASSERT_EQ(InkedByteSpan(c.row.data(), c.bits, &first, &count, edges), 0);
        EXPECT_EQ(first, c.byteFirst);
        EXPECT_EQ(count, c.byteCount);
        EXPECT_EQ(edges[0], c.edge0);
        EXPECT_EQ(edges[1], c.edge1);
    }
}

TEST(InkedSpan, RefusesBadArgumentsAndLeavesOutputs) {
    const std::uint8_t row[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    struct Bad {
        const std::uint8_t* row;
        std::uint16_t bits;
        std::int16_t first, count;
    };
    const Bad cases[] = {
        {nullptr, 1, 0, 8}, {row, 3, 0, 2},     {row, 5, 0, 1},         {row, 6, 0, 1},
        {row, 7, 0, 1},     {row, 16, 0, 1},    {row, 1, -1, 4},        {row, 1, 0, -1},
        {row, 1, 32767, 1}, {row, 1, 1, 32767}, {row, 1, 20000, 20000},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " " << c.first << " " << c.count);
        std::int16_t first = c.first, count = c.count;
        EXPECT_EQ(FindInkedPixels(c.row, c.bits, &first, &count), -1);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(count, c.count);

        std::uint8_t edges[2] = {0xEE, 0xEE};
        EXPECT_EQ(InkedByteSpan(c.row, c.bits, &first, &count, edges), -1);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(count, c.count);
        if (c.row != nullptr) {
            EXPECT_EQ(edges[0], 0);
            EXPECT_EQ(edges[1], 0);
        }
    }
    // A span ending exactly at 32767 is still valid.
    std::int16_t first = 32766, count = 1;
    std::vector<std::uint8_t> wide(4096, 0);
    EXPECT_EQ(FindInkedPixels(wide.data(), 1, &first, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST(InkedByteSpan, NullAddressWritesNothing) {
    const std::uint8_t row[1] = {0xFF};
    std::int16_t first = 0, count = 8;
    std::uint8_t edges[2] = {0xEE, 0xEE};
    EXPECT_EQ(InkedByteSpan(row, 1, nullptr, &count, edges), -1);
    EXPECT_EQ(InkedByteSpan(row, 1, &first, nullptr, edges), -1);
    EXPECT_EQ(InkedByteSpan(nullptr, 1, &first, &count, edges), -1);
    EXPECT_EQ(edges[0], 0xEE);
    EXPECT_EQ(edges[1], 0xEE);
    EXPECT_EQ(InkedByteSpan(row, 1, &first, &count, nullptr), -1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(count, 8);
}

bool PixelInked(const std::uint8_t* row, int bits, int p) {
    const int ppb = 8 / bits;
    const unsigned value = row[p / ppb] >> (8 - bits * (p % ppb + 1));
    return (value & ((1u << bits) - 1)) != 0;
}

// A copy of a row whose bytes before lowByte and from highByte on may not be read: the
// copy ends at highByte, and under AddressSanitizer its front is poisoned as well. The
// front is padded so that lowByte starts an 8-byte granule, which poisoning needs.
struct GuardedRow {
    Bytes storage;
    std::uint8_t* row;
    std::size_t poisoned;
};

GuardedRow GuardRow(const Bytes& bytes, int lowByte, int highByte) {
    const int pad = (8 - lowByte % 8) % 8;
    GuardedRow guarded{Bytes(static_cast<std::size_t>(pad + highByte)), nullptr,
                       static_cast<std::size_t>(pad + lowByte)};
    guarded.row = guarded.storage.data() + pad;
    std::copy(bytes.begin(), bytes.begin() + highByte, guarded.row);
#if defined(INKROW_TEST_ASAN)
    ASAN_POISON_MEMORY_REGION(guarded.storage.data(), guarded.poisoned);
#endif
    return guarded;
}

void UnguardRow(GuardedRow& guarded) {
#if defined(INKROW_TEST_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(guarded.storage.data(), guarded.poisoned);
#endif
    guarded.poisoned = 0;
}

// Rows with long blank stretches, so that the word-at-a-time skips run in both
// directions and stop at every offset within a word.
Bytes SparseRow(std::mt19937& random, int length) {
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> pickByte(1, 255);
    Bytes row(static_cast<std::size_t>(length), 0);
    const int density = pick(random) % 4 == 0 ? 0 : pick(random) % 12;
    for (auto& b : row) {
        if (pick(random) < density) b = static_cast<std::uint8_t>(pickByte(random));
    }
    return row;
}

TEST(InkedSpan, MatchesPixelSearchAndReadsOnlyTheSpan) {
    const std::uint32_t seed = testseed::TestSeed(4711);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (int trial = 0; trial < 6000; ++trial) {
        const std::uint16_t bits = std::array<std::uint16_t, 4>{1, 2, 4, 8}[trial % 4];
        const int ppb = 8 / bits;
        const int length = 1 + static_cast<int>(random() % 90);
        const Bytes row = SparseRow(random, length);
        const int pixels = length * ppb;
        const int start = static_cast<int>(random() % pixels);
        const int count = static_cast<int>(random() % (pixels - start + 1));
        if (count == 0) continue;

        int expectFirst = -1, expectLast = -1;
        for (int p = start; p < start + count; ++p) {
            if (PixelInked(row.data(), bits, p)) {
                if (expectFirst < 0) expectFirst = p;
                expectLast = p;
            }
        }
        SCOPED_TRACE(testing::Message() << "bits " << bits << " start " << start << " count "
                                        << count << " trial " << trial);

        GuardedRow guarded = GuardRow(row, start / ppb, (start + count - 1) / ppb + 1);
        std::int16_t first = static_cast<std::int16_t>(start);
        std::int16_t n = static_cast<std::int16_t>(count);
        const std::int16_t found = FindInkedPixels(guarded.row, bits, &first, &n);
        std::int16_t byteFirst = static_cast<std::int16_t>(start);
        std::int16_t byteCount = static_cast<std::int16_t>(count);
        std::uint8_t edges[2];
        const std::int16_t spanned =
            InkedByteSpan(guarded.row, bits, &byteFirst, &byteCount, edges);
        UnguardRow(guarded);

        ASSERT_EQ(found, 0);
        if (expectFirst < 0) {
            EXPECT_EQ(first, start);
            EXPECT_EQ(n, 0);
        } else {
            EXPECT_EQ(first, expectFirst);
            EXPECT_EQ(n, expectLast - expectFirst + 1);
        }

        // Written back as the callers do, the edge bytes must keep exactly the pixels
        // of the inked span in the bytes that hold its ends, and the returned bytes
        // must cover exactly the bytes from the first to the last inked pixel.
        ASSERT_EQ(spanned, 0);
        first = byteFirst;
        n = byteCount;
        if (expectFirst < 0) {
            EXPECT_EQ(first, 0);
            EXPECT_EQ(n, 0);
            EXPECT_EQ(edges[0], 0);
            EXPECT_EQ(edges[1], 0);
            continue;
        }
        ASSERT_NE(edges[0], 0);
        EXPECT_EQ(first, expectFirst / ppb);
        EXPECT_EQ(first + n + (edges[1] != 0 ? 1 : 0), expectLast / ppb);
        Bytes masked = row;
        masked[first] = edges[0];
        if (edges[1] != 0) masked[first + n + 1] = edges[1];
        const int headByte = expectFirst / ppb, tailByte = expectLast / ppb;
        for (int p = 0; p < pixels; ++p) {
            const int byte = p / ppb;
            const bool edgeByte = byte == headByte || byte == tailByte;
            const bool kept = !edgeByte || (p >= expectFirst && p <= expectLast);
            const bool expected = kept && PixelInked(row.data(), bits, p);
            ASSERT_EQ(PixelInked(masked.data(), bits, p), expected) << "pixel " << p;
            if (!edgeByte) {
                ASSERT_EQ(masked[byte], row[byte]) << "byte " << byte;
            }
        }
    }
}

}  // namespace
}  // namespace inkrow
