// The raster line code. The input is taken as maximal runs of equal bytes: runs of three
// or more always become repeat runs, single bytes gather in a literal, and a pair joins
// an open literal while that literal stays within 127 bytes (a literal is a run of
// different bytes, so a pair inside it costs nothing extra, while a repeat run of two
// would cost a control byte and break the literal). Any valid code prints the same, but
// the stream is meant to stay byte-identical across driver versions, so the choices are
// part of the format.
#include "stream/line_code.h"

#include <algorithm>
#include <cstring>

namespace inkrow {
namespace {

constexpr std::uint32_t kMaxRepeat = 128;  // copies one repeat control byte can say
constexpr int kMaxLiteral = 128;           // bytes one literal control byte can say
constexpr int kMaxLiteralWithPair = 127;   // a folded pair may fill a literal this far
constexpr std::uint8_t kLongestRepeat = 0x81;

// The byte 1 - n, modulo 256: the control byte of a repeat run of n copies (2..128).
constexpr std::uint8_t RepeatControl(std::uint32_t n) {
    return static_cast<std::uint8_t>(1u - n);
}

inline std::uint64_t LoadWord(const std::uint8_t* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// One pass of the encoder. With Write false nothing is stored and dest is not used, so
// the same walk gives the size of the code before anything is committed to a buffer.
// The open literal is tracked by its length (0: none open) and the position of its
// control byte, which grows as bytes join the literal.
template <bool Write>
std::uint32_t EncodeRuns(std::uint8_t* dest, const std::uint8_t* src, std::uint32_t n) {
    std::uint32_t out = 0;
    std::uint32_t literalAt = 0;
    int literalLength = 0;

    std::uint32_t i = 0;
    while (i < n) {
        if (literalLength > 0) {
            // Single bytes join the open literal until it is full; they are copied as
            // one stretch, which is most of the work on dithered lines. A byte is single
            // when the next one differs (the one before it always does: runs are
            // maximal).
            const std::uint32_t limit = std::min<std::uint32_t>(
                n, i + static_cast<std::uint32_t>(kMaxLiteral - literalLength));
            std::uint32_t k = i;
            while (k < limit && (k + 1 == n || src[k + 1] != src[k]))
                ++k;
            if (k > i) {
                literalLength += static_cast<int>(k - i);
                if constexpr (Write) {
                    std::memcpy(dest + out, src + i, k - i);
                    dest[literalAt] = static_cast<std::uint8_t>(literalLength - 1);
                }
                out += k - i;
                i = k;
                if (literalLength == kMaxLiteral) literalLength = 0;  // full: closed
                continue;
            }
        }

        // Long runs (blank stretches above all) are measured eight bytes at a time.
        const std::uint8_t v = src[i];
        const std::uint64_t pattern = v * 0x0101010101010101ull;
        std::uint32_t end = i + 1;
        while (end + 8 <= n && LoadWord(src + end) == pattern)
            end += 8;
        while (end < n && src[end] == v)
            ++end;
        std::uint32_t b = end - i;
        i = end;

        if (literalLength > 0) {
            // b >= 2 here: singles were taken above.
            if (b == 2) {
                if (literalLength + 2 <= kMaxLiteralWithPair) {
                    literalLength += 2;
                    if constexpr (Write) {
                        dest[literalAt] = static_cast<std::uint8_t>(literalLength - 1);
                        dest[out] = v;
                        dest[out + 1] = v;
                    }
                    out += 2;
                } else {
                    // The pair starts a literal of its own, which stays open.
                    literalAt = out;
                    literalLength = 2;
                    if constexpr (Write) {
                        dest[out] = 0x01;
                        dest[out + 1] = v;
                        dest[out + 2] = v;
                    }
                    out += 3;
                }
                continue;
            }
            literalLength = 0;  // a run of three or more closes the literal
        }

        while (b > kMaxRepeat) {
            if constexpr (Write) {
                dest[out] = kLongestRepeat;
                dest[out + 1] = v;
            }
            out += 2;
            b -= kMaxRepeat;
        }
        if constexpr (Write) {
            dest[out] = b >= 2 ? RepeatControl(b) : 0x00;
            dest[out + 1] = v;
        }
        if (b == 1) {
            literalAt = out;
            literalLength = 1;
        }
        out += 2;
    }
    return out;
}

}  // namespace

std::uint16_t PackBytes(std::uint8_t* dest, const std::uint8_t* src, std::uint16_t n) {
    return static_cast<std::uint16_t>(EncodeRuns<true>(dest, src, n));
}

std::uint16_t PackZeroRun(std::uint8_t* dest, std::uint16_t n) {
    // There is no code for zero bytes; writing "1 - 0" would make a two-byte literal
    // with nothing behind it.
    if (n == 0) return 0;
    std::uint32_t left = n;
    std::uint32_t out = 0;
    while (left > kMaxRepeat) {
        dest[out++] = kLongestRepeat;
        dest[out++] = 0x00;
        left -= kMaxRepeat;
    }
    // A single zero is a one-byte literal (control 00), which reads the same as "1 - 1".
    dest[out++] = RepeatControl(left);
    dest[out++] = 0x00;
    return static_cast<std::uint16_t>(out);
}

std::uint32_t MeasurePackedBytes(const std::uint8_t* src, std::uint16_t n) {
    return EncodeRuns<false>(nullptr, src, n);
}

}  // namespace inkrow
