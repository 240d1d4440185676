// The inked extent a line records from its one span search against a second, plain
// search of the masked line, over random lines, spans and pixel sizes; and the byte
// searches under both against a byte-by-byte walk.
#include "raster/line_prep.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <random>
#include <vector>

namespace inkrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RecordInkedSpan, MatchesASearchOfTheMaskedLine) {
    std::mt19937 random(777);
    for (int trial = 0; trial < 40000; ++trial) {
        const int shift = static_cast<int>(random() % 4);
        const unsigned bits = 8u >> shift;
        const int ppb = 1 << shift;
        const int bytes = 1 + static_cast<int>(random() % 300);
        Bytes line(static_cast<std::size_t>(bytes), 0);
        // Blank, sparse or dense lines, ink often right at the span's edges.
        const int density = static_cast<int>(random() % 4) * 10;
        for (auto& b : line) {
            if (static_cast<int>(random() % 100) < density) b = static_cast<std::uint8_t>(random());
        }
        const int pixels = bytes * ppb;
        const int start = static_cast<int>(random() % pixels);
        const int end = start + static_cast<int>(random() % (pixels - start + 1));
        // Now and then a trail, sometimes one the search refuses (longer than the span).
        const int trail = random() % 4 == 0 ? static_cast<int>(random() % 12) : 0;
        if (end == start) continue;  // the intake records such a line blank without a search

        Bytes masked = line;
        const InkedBytes ink = MaskInkedEdges(masked.data(), bits, static_cast<std::int16_t>(start),
                                              static_cast<std::int16_t>(end - start - trail));
        const std::int32_t low = start >> shift;
        const std::int32_t high = (end - trail - 1) >> shift;
        LineState once{}, twice{};
        RecordInkedSpan(once, masked.data(), low, high, ink);
        RecordInkedBytes(twice, masked.data(), low, std::min(high, bytes - 1));
        ASSERT_EQ(once.blankFlag, twice.blankFlag) << "trial " << trial;
        ASSERT_EQ(once.firstInkByte, twice.firstInkByte) << "trial " << trial;
        ASSERT_EQ(once.lastInkByte, twice.lastInkByte) << "trial " << trial;
    }
}

TEST(ByteSearch, FindsTheFirstAndLastNonzeroByteOfEveryRange) {
    std::mt19937 random(4711);
    Bytes buffer(400);
    for (int trial = 0; trial < 20000; ++trial) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const int inked = static_cast<int>(random() % 4);
        for (int k = 0; k < inked; ++k)
            buffer[random() % buffer.size()] = static_cast<std::uint8_t>(1 + random() % 255);
        const int from = static_cast<int>(random() % buffer.size());
        const int to = from + static_cast<int>(random() % (buffer.size() - from + 1));
        int first = from;
        while (first < to && buffer[first] == 0)
            ++first;
        ASSERT_EQ(FindNonzeroByteForward(buffer.data(), from, to), first) << trial;
        if (to > from) {
            int last = to - 1;
            while (last >= from && buffer[last] == 0)
                --last;
            ASSERT_EQ(FindNonzeroByteBackward(buffer.data(), to - 1, from), last) << trial;
        }
    }
}

// Both block skips, the AVX2 one where the machine has it, stop where they promise:
// nothing but zero bytes skipped, and fewer than 64 left before the ink or the end.
TEST(ByteSearch, BothBlockSkipsStopWithinABlockOfTheInk) {
    std::mt19937 random(90210);
    Bytes buffer(1300);
    for (const ZeroSkip skip : {ZeroSkip::kNarrow, ZeroSkip::kWide}) {
        if (!HasZeroSkip(skip)) {
            std::cout << "block skip " << static_cast<int>(skip) << " not on this machine\n";
            continue;
        }
        for (int trial = 0; trial < 20000; ++trial) {
            std::fill(buffer.begin(), buffer.end(), 0);
            // Often a blank range, else one or two bytes of ink anywhere.
            const int inked = static_cast<int>(random() % 3);
            for (int k = 0; k < inked; ++k)
                buffer[random() % buffer.size()] = static_cast<std::uint8_t>(1 + random() % 255);
            const int from = static_cast<int>(random() % (buffer.size() - 64));
            const int to = from + 64 + static_cast<int>(random() % (buffer.size() - from - 63));
            int first = from;
            while (first < to && buffer[first] == 0)
                ++first;
            const int up = SkipZeroBytesForwardWith(skip, buffer.data(), from, to);
            ASSERT_TRUE(up >= from && up <= first && first - up < 64) << trial << " " << up;
            int last = to - 1;
            while (last >= from && buffer[last] == 0)
                --last;
            const int down = SkipZeroBytesBackwardWith(skip, buffer.data(), to - 1, from);
            ASSERT_TRUE(down <= to - 1 && down >= last && down - last < 64) << trial << " " << down;
        }
    }
}

}  // namespace
}  // namespace inkrow
