#include "stream/line_code.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "test_seed.h"

namespace inkrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Repeat(std::uint8_t value, int times) {
    return Bytes(static_cast<std::size_t>(times), value);
}

Bytes Alternating(int length) {
    Bytes bytes;
    for (int i = 0; i < length; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i % 2));
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

Bytes Pack(const Bytes& input) {
    Bytes out(2 * input.size() + 16, 0xCC);
    const std::uint16_t size =
        PackBytes(out.data(), input.data(), static_cast<std::uint16_t>(input.size()));
    out.resize(size);
    return out;
}

Bytes PackZeros(std::uint16_t n) {
    Bytes out(2 * (n / 128 + 1) + 16, 0xCC);
    out.resize(PackZeroRun(out.data(), n));
    return out;
}

// The printer's side of the code, from its definition: 00..7F copy c + 1 bytes, 81..FF
// repeat the next byte 257 - c times. 0x80 is not a control byte inside a line, and a
// control byte whose data is missing is malformed.
std::optional<Bytes> Unpack(const Bytes& code) {
    Bytes out;
    std::size_t at = 0;
    while (at < code.size()) {
        const std::uint8_t control = code[at++];
        if (control == 0x80) return std::nullopt;
        if (control < 0x80) {
            const std::size_t n = control + 1u;
            if (code.size() - at < n) return std::nullopt;
            out.insert(out.end(), code.begin() + static_cast<std::ptrdiff_t>(at),
                       code.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
        } else {
            if (at == code.size()) return std::nullopt;
            out.insert(out.end(), 257u - control, code[at++]);
        }
    }
    return out;
}

// One encoded line as the packets carry it: leading blank bytes as a zero run, the
// inked bytes, the end mark.
Bytes EncodeLine(const Bytes& line, int firstInk, int lastInk) {
    Bytes out;
    if (firstInk > 0) out = PackZeros(static_cast<std::uint16_t>(firstInk));
    const Bytes ink(line.begin() + firstInk, line.begin() + lastInk + 1);
    const Bytes packed = Pack(ink);
    out.insert(out.end(), packed.begin(), packed.end());
    out.push_back(0x80);
    return out;
}

struct PackCase {
    const char* name;
    Bytes input;
    Bytes expected;
};

TEST(PackBytes, ProducesTheDocumentedBytes) {
    const Bytes alternating126 = Alternating(126);
    const Bytes alternating125 = Alternating(125);
    const Bytes alternating300 = Alternating(300);
    const PackCase cases[] = {
        {"single", {0x11}, {0x00, 0x11}},
        {"pair alone", {0x11, 0x11}, {0xFF, 0x11}},
        {"triple", {0x11, 0x11, 0x11}, {0xFE, 0x11}},
        {"three singles", {0x01, 0x02, 0x03}, {0x02, 0x01, 0x02, 0x03}},
        {"pair folded", {0x01, 0x02, 0x02, 0x03}, {0x03, 0x01, 0x02, 0x02, 0x03}},
        {"triple breaks literal",
         {0x01, 0x02, 0x02, 0x02, 0x03},
         {0x00, 0x01, 0xFE, 0x02, 0x00, 0x03}},
        {"pair before repeat", {0xAA, 0xAA, 0x55, 0x55, 0x55}, {0xFF, 0xAA, 0xFE, 0x55}},
        {"mixed",
         {0x01, 0x02, 0x03, 0x03, 0x04, 0x05, 0x05, 0x05, 0x05, 0x06},
         {0x04, 0x01, 0x02, 0x03, 0x03, 0x04, 0xFD, 0x05, 0x00, 0x06}},
        {"run of 130", Repeat(0x05, 130), {0x81, 0x05, 0xFF, 0x05}},
        {"run of 256", Repeat(0x05, 256), {0x81, 0x05, 0x81, 0x05}},
        {"run of 257", Repeat(0x05, 257), {0x81, 0x05, 0x81, 0x05, 0x00, 0x05}},
        {"alternating 300", alternating300,
         Join({{0x7F},
               Bytes(alternating300.begin(), alternating300.begin() + 128),
               {0x7F},
               Bytes(alternating300.begin() + 128, alternating300.begin() + 256),
               {0x2B},
               Bytes(alternating300.begin() + 256, alternating300.end())})},
        {"pair does not fit in 126", Join({alternating126, {0x05, 0x05, 0x09}}),
         Join({{0x7D}, alternating126, {0x02, 0x05, 0x05, 0x09}})},
        {"pair fills 125 to 127", Join({alternating125, {0x05, 0x05, 0x09, 0x07}}),
         Join({{0x7F}, alternating125, {0x05, 0x05, 0x09, 0x00, 0x07}})},
        {"empty", {}, {}},
        // A remainder of one after a long run opens a literal that later bytes join.
        {"long run remainder opens literal",
         Join({Repeat(0x05, 129), {0x06}}),
         {0x81, 0x05, 0x01, 0x05, 0x06}},
        {"long run remainder takes a pair",
         Join({Repeat(0x05, 129), {0x06, 0x06}}),
         {0x81, 0x05, 0x02, 0x05, 0x06, 0x06}},
        {"long run remainder of two", Repeat(0x05, 130), {0x81, 0x05, 0xFF, 0x05}},
        // A literal full at 128 closes; the following pair is then a repeat run.
        {"pair after a full literal", Join({Alternating(128), {0x07, 0x07}}),
         Join({{0x7F}, Alternating(128), {0xFF, 0x07}})},
        // Pairs and singles at the very end of the input follow the same rules.
        {"pair folded at the end", {0x01, 0x02, 0x02}, {0x02, 0x01, 0x02, 0x02}},
        {"pair at the end does not fit", Join({alternating126, {0x05, 0x05}}),
         Join({{0x7D}, alternating126, {0x01, 0x05, 0x05}})},
        {"single after a pair at the end", {0x01, 0x01, 0x02}, {0xFF, 0x01, 0x00, 0x02}},
        // A pair may bring a literal to exactly 127; one more single fills it to 128.
        {"pair to 127 then single", Join({Alternating(125), {0x07, 0x07, 0x08, 0x09}}),
         Join({{0x7F}, Alternating(125), {0x07, 0x07, 0x08, 0x00, 0x09}})},
    };
    for (const PackCase& c : cases) {
        EXPECT_EQ(Pack(c.input), c.expected) << c.name;
        EXPECT_EQ(MeasurePackedBytes(c.input.data(), static_cast<std::uint16_t>(c.input.size())),
                  c.expected.size())
            << c.name;
    }
}

TEST(PackZeroRun, ProducesTheDocumentedBytes) {
    EXPECT_EQ(PackZeros(1), (Bytes{0x00, 0x00}));
    EXPECT_EQ(PackZeros(2), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(PackZeros(128), (Bytes{0x81, 0x00}));
    EXPECT_EQ(PackZeros(129), (Bytes{0x81, 0x00, 0x00, 0x00}));
    EXPECT_EQ(PackZeros(300), (Bytes{0x81, 0x00, 0x81, 0x00, 0xD5, 0x00}));
}

TEST(PackZeroRun, DecodesToTheZerosInTwoBytesPer128) {
    for (int n = 1; n <= 3000; ++n) {
        const Bytes code = PackZeros(static_cast<std::uint16_t>(n));
        ASSERT_EQ(code.size(), 2u * static_cast<std::size_t>((n + 127) / 128)) << n;
        ASSERT_EQ(Unpack(code), Bytes(static_cast<std::size_t>(n), 0)) << n;
    }
}

TEST(EncodedLine, ComposesZeroRunInkAndEndMark) {
    EXPECT_EQ(EncodeLine({0, 0, 0, 7, 7, 7, 0, 0}, 3, 5), (Bytes{0xFE, 0x00, 0xFE, 0x07, 0x80}));
    EXPECT_EQ(EncodeLine({1, 2, 0, 0}, 0, 1), (Bytes{0x01, 0x01, 0x02, 0x80}));
    // A blank line is the end mark alone.
    Bytes blank{0x80};
    EXPECT_EQ(Pack({}), Bytes{});
    EXPECT_EQ(Join({Pack({}), {0x80}}), blank);
}

// Lines made of runs whose lengths favour the boundaries of the code: singles and pairs
// (literal folding), runs near 128, and long runs.
Bytes RandomLine(std::mt19937& random, std::size_t length) {
    static const int kRunLengths[] = {1, 1, 1, 1, 2, 2, 2, 3, 4, 127, 128, 129, 130, 255, 256, 257};
    std::uniform_int_distribution<int> pickRun(0, std::size(kRunLengths) - 1);
    std::uniform_int_distribution<int> pickLength(1, 40);
    std::uniform_int_distribution<int> pickValue(0, 3);
    std::uniform_int_distribution<int> pickByte(0, 255);
    Bytes line;
    while (line.size() < length) {
        const int choice = pickRun(random);
        const int run =
            choice < 12 && pickValue(random) == 0 ? pickLength(random) : kRunLengths[choice];
        // A narrow alphabet makes neighbouring runs merge now and then; 0x80 and 0x81
        // appear as data too.
        const int kind = pickValue(random);
        const auto value = static_cast<std::uint8_t>(kind == 0   ? 0x80 + pickValue(random) % 2
                                                     : kind == 1 ? pickValue(random)
                                                                 : pickByte(random));
        line.insert(line.end(), std::min<std::size_t>(run, length - line.size()), value);
    }
    return line;
}

TEST(PackBytes, RoundTripsRandomLinesWithinTwiceTheirLength) {
    const std::uint32_t seed = testseed::TestSeed(20240611);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    for (std::size_t length = 0; length <= 3000; ++length) {
        const Bytes line = RandomLine(random, length);
        Bytes out(2 * length + 8, 0xCC);
        const std::uint16_t size =
            PackBytes(out.data(), line.data(), static_cast<std::uint16_t>(length));
        ASSERT_LE(size, 2 * length) << length;
        ASSERT_EQ(MeasurePackedBytes(line.data(), static_cast<std::uint16_t>(length)), size)
            << length;
        for (std::size_t k = size; k < out.size(); ++k)
            ASSERT_EQ(out[k], 0xCC) << length;
        out.resize(size);
        ASSERT_EQ(Unpack(out), line) << length;
    }
}

}  // namespace
}  // namespace inkrow
