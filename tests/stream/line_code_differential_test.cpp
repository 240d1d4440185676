// The fast line coder against a plain one, byte for byte, over millions of random lines
// and lines made to sit on the code's boundaries (literal room, pairs at a literal's
// end, runs of 127..129 and 255..257). The plain coder below takes one run at a time
// and is the code's rules written out directly; the fast coder finds runs many bytes
// at a time, with SSE2 where there is SSE2, with AVX2 masks where the processor has
// AVX2 (the test says when it falls back) and with 64-bit words everywhere, and every
// way must write exactly the plain coder's bytes.
//
// The seed is printed; INKROW_SEED=<number> repeats a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "stream/line_code.h"

namespace inkrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Every run search; one the machine lacks runs as its fallback (and reports so below).
constexpr RunSearch kSearches[] = {RunSearch::kWords, RunSearch::kVector, RunSearch::kWide};

// The rules one maximal run at a time: runs of three or more repeat (128 copies a
// control byte, a last single copy opening a literal); singles join the open literal or
// open one; a pair joins an open literal that stays within 127 bytes, else starts a
// literal of its own, and with no literal open it is a repeat run of two.
std::size_t PlainPack(const std::uint8_t* src, std::size_t n, std::uint8_t* out) {
    std::size_t at = 0;
    std::size_t literalAt = 0;
    std::size_t literalLength = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t v = src[i];
        std::size_t b = 1;
        while (i + b < n && src[i + b] == v)
            ++b;
        i += b;
        if (b == 1 && literalLength > 0) {
            out[at++] = v;
            out[literalAt] = static_cast<std::uint8_t>(literalLength++);
            if (literalLength == 128) literalLength = 0;
            continue;
        }
        if (b == 2 && literalLength > 0) {
            if (literalLength + 2 <= 127) {
                literalLength += 2;
                out[literalAt] = static_cast<std::uint8_t>(literalLength - 1);
            } else {
                literalAt = at;
                literalLength = 2;
                out[at++] = 0x01;
            }
            out[at++] = v;
            out[at++] = v;
            continue;
        }
        literalLength = 0;
        for (; b > 128; b -= 128) {
            out[at++] = 0x81;
            out[at++] = v;
        }
        if (b == 1) {
            literalAt = at;
            literalLength = 1;
            out[at++] = 0x00;
        } else {
            out[at++] = static_cast<std::uint8_t>(257 - b);
        }
        out[at++] = v;
    }
    return at;
}

Bytes PlainPack(const std::uint8_t* src, std::size_t n) {
    Bytes out(2 * n + 2);
    out.resize(PlainPack(src, n, out.data()));
    return out;
}

std::uint64_t ChooseSeed() {
    if (const char* text = std::getenv("INKROW_SEED")) {
        return std::strtoull(text, nullptr, 10);
    }
    return std::random_device{}();
}

// One line of a kind chosen at random: runs of lengths near the code's boundaries over
// a narrow or a full alphabet, stretches of singles of literal size followed by a pair
// or a run, or plain random bytes.
void MakeLine(std::mt19937_64& random, Bytes& line) {
    static const std::size_t kRunLengths[] = {1, 1,   1,   1,   1,   2,   2,   2,   3,   3,  4,
                                              5, 125, 126, 127, 128, 129, 130, 255, 256, 257};
    line.clear();
    const unsigned kind = random() % 8;
    const std::size_t length = random() % 32 == 0 ? random() % 1500 : random() % 40;
    if (kind == 0) {
        for (std::size_t k = 0; k < length; ++k)
            line.push_back(static_cast<std::uint8_t>(random()));
        return;
    }
    if (kind == 1) {
        // Singles filling a literal to its edges, then one pair, run or single, again.
        while (line.size() < length + 1) {
            const std::size_t singles = 120 + random() % 10;
            for (std::size_t k = 0; k < singles; ++k)
                line.push_back(static_cast<std::uint8_t>(k % 2 == 0 ? 0x10 : 0x20));
            const std::size_t run = 1 + random() % 4;
            line.insert(line.end(), run, static_cast<std::uint8_t>(0x30 + random() % 2));
            if (random() % 2 == 0) line.push_back(0x20);
        }
        line.resize(length);
        return;
    }
    // Runs over an alphabet of 2, 3 or 256 values (values in 0x7E..0x82 around the
    // control bytes' edges too).
    const unsigned alphabet = kind <= 4 ? 2 + kind % 2 : 256;
    const bool longRuns = kind == 7;
    while (line.size() < length) {
        std::size_t run = longRuns ? kRunLengths[random() % std::size(kRunLengths)]
                                   : 1 + (random() % 8 == 0 ? random() % 6 : random() % 2);
        run = std::min(run, length - line.size());
        const auto value = static_cast<std::uint8_t>(0x7E + random() % alphabet);
        line.insert(line.end(), run, value);
    }
}

TEST(PackBytesDifferential, EveryRunSearchWritesThePlainCodersBytes) {
    const std::uint64_t seed = ChooseSeed();
    std::printf("line code differential test: INKROW_SEED=%llu\n",
                static_cast<unsigned long long>(seed));
    RecordProperty("seed", std::to_string(seed));
    std::mt19937_64 random(seed);

    // Each line sits at the very end of its buffer, so any load past its last byte is
    // outside the allocation (which the address sanitizer reports).
    constexpr std::size_t kGuard = 16;
    Bytes input(4096);
    Bytes expected(2 * 4096);
    Bytes output(2 * 4096 + kGuard);
    Bytes line;
    constexpr int kLines = 2'000'000;
    for (int count = 0; count < kLines; ++count) {
        MakeLine(random, line);
        const std::size_t n = line.size();
        std::uint8_t* src = input.data() + input.size() - n;
        std::copy(line.begin(), line.end(), src);
        const std::size_t size = PlainPack(src, n, expected.data());
        ASSERT_LE(size, 2 * n);

        for (RunSearch search : kSearches) {
            std::fill(output.begin() + static_cast<std::ptrdiff_t>(size),
                      output.begin() + static_cast<std::ptrdiff_t>(size + kGuard), 0xCC);
            const auto written = static_cast<std::size_t>(
                PackBytesWith(search, output.data(), src, static_cast<std::uint16_t>(n)));
            // Same bytes, and nothing written past them.
            if (written != size || std::memcmp(output.data(), expected.data(), size) != 0 ||
                std::count(output.begin() + static_cast<std::ptrdiff_t>(size),
                           output.begin() + static_cast<std::ptrdiff_t>(size + kGuard),
                           0xCC) != kGuard) {
                FAIL() << "INKROW_SEED=" << seed << ": line " << count << " (" << n
                       << " bytes), run search " << static_cast<int>(search) << ": " << written
                       << " bytes written, " << size << " expected";
            }
        }
        // The size-only pass, with each search in turn, and the default entry points
        // (which take one of the searches above) now and then.
        ASSERT_EQ(MeasurePackedBytesWith(kSearches[count % 3], src, static_cast<std::uint16_t>(n)),
                  size)
            << "INKROW_SEED=" << seed << " line " << count;
        if (count % 16 == 0) {
            ASSERT_EQ(PackBytes(output.data(), src, static_cast<std::uint16_t>(n)), size);
            ASSERT_EQ(MeasurePackedBytes(src, static_cast<std::uint16_t>(n)), size);
        }
    }
}

TEST(PackBytesDifferential, EveryLengthOfEveryPatternAtTheEndOfTheInput) {
    // Every length 0..300 of a few patterns, so that each search's last full step and
    // its tail meet every kind of run.
    const Bytes patterns[] = {
        {0x01, 0x02},
        {0x05, 0x05, 0x06},
        {0x07, 0x07, 0x07, 0x08},
        {0x01, 0x02, 0x03, 0x03, 0x04, 0x05, 0x05, 0x05, 0x06, 0x06},
        {0x00},
    };
    Bytes input(512);
    Bytes output(1200);
    for (const Bytes& pattern : patterns) {
        for (std::size_t n = 0; n <= 300; ++n) {
            for (std::size_t phase = 0; phase < pattern.size(); ++phase) {
                std::uint8_t* src = input.data() + input.size() - n;
                for (std::size_t k = 0; k < n; ++k)
                    src[k] = pattern[(k + phase) % pattern.size()];
                const Bytes expected = PlainPack(src, n);
                for (RunSearch search : kSearches) {
                    const std::uint16_t size =
                        PackBytesWith(search, output.data(), src, static_cast<std::uint16_t>(n));
                    ASSERT_EQ(Bytes(output.begin(), output.begin() + size), expected)
                        << "length " << n << " phase " << phase;
                }
            }
        }
    }
}

TEST(PackBytesDifferential, ShortStretchesBeforeARunNearTheCodesEnd) {
    // A run, a stretch of 1..16 singles, a run, then 250..262 bytes that code to as little as
    // they can (runs of 128): the coder copies such stretches in 8-byte moves that run
    // past them when enough input follows, and must still never store past its code.
    constexpr std::size_t kGuard = 16;
    Bytes output(4096);
    for (std::size_t stretch = 1; stretch <= 16; ++stretch) {
        for (std::size_t run = 3; run <= 18; run += 15) {
            for (std::size_t tail = 250; tail <= 262; ++tail) {
                Bytes line;
                line.insert(line.end(), 40, 0x55);
                for (std::size_t k = 0; k < stretch; ++k)
                    line.push_back(static_cast<std::uint8_t>(k % 2 == 0 ? 0x11 : 0x22));
                line.insert(line.end(), run, 0x33);
                line.insert(line.end(), tail, 0x44);
                const Bytes expected = PlainPack(line.data(), line.size());
                for (RunSearch search : kSearches) {
                    std::fill(output.begin(), output.end(), 0xCC);
                    const std::uint16_t size =
                        PackBytesWith(search, output.data(), line.data(),
                                      static_cast<std::uint16_t>(line.size()));
                    ASSERT_EQ(Bytes(output.begin(), output.begin() + size), expected)
                        << "stretch " << stretch << " run " << run << " tail " << tail;
                    ASSERT_EQ(
                        std::count(output.begin() + size, output.begin() + size + kGuard, 0xCC),
                        static_cast<std::ptrdiff_t>(kGuard))
                        << "stretch " << stretch << " run " << run << " tail " << tail;
                }
            }
        }
    }
}

TEST(PackBytesDifferential, RunsAndLiteralsAcrossTheEdgesOfRunBlocks) {
    // Far from the end the vector coder reads runs from masks of 64 positions loaded
    // where a step starts: a run or a literal's closing triple of every length near a
    // block's edges, after literals (singles, or a pair at the end) of every phase.
    const std::size_t kRuns[] = {2, 3, 4, 62, 63, 64, 65, 66, 127, 128, 129, 130};
    Bytes output(4096);
    for (std::size_t lead = 0; lead <= 70; ++lead) {
        for (const std::size_t run : kRuns) {
            for (const bool pair : {false, true}) {
                Bytes line;
                for (std::size_t k = 0; k < lead; ++k)
                    line.push_back(static_cast<std::uint8_t>(k % 2 == 0 ? 0x11 : 0x22));
                if (pair) line.insert(line.end(), 2, 0x66);
                line.insert(line.end(), run, 0x33);
                for (std::size_t k = 0; k < 300; ++k)
                    line.push_back(static_cast<std::uint8_t>(k % 3 == 0 ? 0x44 : k));
                const Bytes expected = PlainPack(line.data(), line.size());
                for (RunSearch search : kSearches) {
                    const std::uint16_t size =
                        PackBytesWith(search, output.data(), line.data(),
                                      static_cast<std::uint16_t>(line.size()));
                    ASSERT_EQ(Bytes(output.begin(), output.begin() + size), expected)
                        << "lead " << lead << " run " << run << " pair " << pair;
                }
            }
        }
    }
}

TEST(PackBytesDifferential, ReportsWhichSearchesRunAsThemselves) {
    EXPECT_TRUE(HasRunSearch(RunSearch::kWords));
#if defined(__SSE2__)
    EXPECT_TRUE(HasRunSearch(RunSearch::kVector));
#else
    EXPECT_FALSE(HasRunSearch(RunSearch::kVector));
#endif
#if defined(__x86_64__) || defined(__i386__)
    const bool wide = __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("bmi") != 0 &&
                      __builtin_cpu_supports("bmi2") != 0;
    EXPECT_EQ(HasRunSearch(RunSearch::kWide), wide);
    if (!wide) std::printf("no AVX2 here: the wide run search was tested as its fallback\n");
#else
    EXPECT_FALSE(HasRunSearch(RunSearch::kWide));
#endif
}

}  // namespace
}  // namespace inkrow
