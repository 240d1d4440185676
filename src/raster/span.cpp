// The inked-span search. Pixel tests happen only in the partial bytes at the two ends
// of the span and in the byte where ink turns up; everything between is skipped as
// whole zero bytes. No byte outside the span's own bytes is read: a caller's line may
// end exactly at the byte that holds the span's last pixel.
#include "raster/span.h"

#include <bit>

#include "raster/line_prep.h"

namespace inkrow {

const std::uint8_t highBitMasks[9] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};
const std::uint8_t lowBitMasks[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

namespace {

// Pixels per byte are a power of two, 1 << shift, and pixel indexes are never
// negative: the byte of pixel p is p >> shift and its place in it p & ((1 << shift) - 1), with no
// division (a handful of them per plane and line cost more time than the rest of the
// search on a blank line).

// Pixel index of the first inked pixel in [from, end), or end when there is none.
std::int32_t SearchFirstInked(const std::uint8_t* row, unsigned bits, unsigned shift,
                              std::int32_t from, std::int32_t end) {
    const std::int32_t within = (1 << shift) - 1;
    std::int32_t p = from;
    if ((p & within) != 0) {
        const unsigned byte = row[p >> shift];
        unsigned mask = highBitMasks[bits] >> (bits * static_cast<unsigned>(p & within));
        do {
            if ((byte & mask) != 0) return p;
            ++p;
            mask >>= bits;
        } while (p < end && (p & within) != 0);
        if (p == end) return end;
    }
    // Whole bytes up to the last one that lies entirely in the span may be skipped;
    // the partial byte after them is tested pixel by pixel like the one that stops the
    // skip.
    const std::int32_t index = FindNonzeroByteForward(row, p >> shift, end >> shift);
    p = index << shift;
    if (p >= end) return end;
    const unsigned byte = row[index];
    unsigned mask = highBitMasks[bits];
    for (; p < end; ++p, mask >>= bits) {
        if ((byte & mask) != 0) return p;
    }
    return end;
}

// One past the last inked pixel before end, knowing that pixel `inked` (< end) is
// inked, so that the walk down is bounded by the byte that holds it.
std::int32_t SearchLastInked(const std::uint8_t* row, unsigned bits, unsigned shift,
                             std::int32_t inked, std::int32_t end) {
    const std::int32_t within = (1 << shift) - 1;
    std::int32_t e = end;
    if ((e & within) != 0) {
        const unsigned byte = row[(e - 1) >> shift];
        unsigned mask = highBitMasks[bits] >> (bits * static_cast<unsigned>((e & within) - 1));
        do {
            if ((byte & mask) != 0) return e;
            --e;
            mask <<= bits;
        } while ((e & within) != 0);
    }
    const std::int32_t index = FindNonzeroByteBackward(row, (e >> shift) - 1, inked >> shift);
    e = (index + 1) << shift;
    const unsigned byte = row[index];
    unsigned mask = lowBitMasks[bits];
    while ((byte & mask) == 0) {
        --e;
        mask <<= bits;
    }
    return e;
}

}  // namespace

std::int16_t FindInkedPixels(const std::uint8_t* row, std::uint16_t bitsPerPixel,
                             std::int16_t* first, std::int16_t* count) {
    if (row == nullptr || first == nullptr || count == nullptr) return -1;
    if (bitsPerPixel != 1 && bitsPerPixel != 2 && bitsPerPixel != 4 && bitsPerPixel != 8) return -1;
    const std::int32_t from = *first;
    const std::int32_t pixels = *count;
    if (from < 0 || pixels < 0 || static_cast<std::int16_t>(from + pixels) < 0) return -1;
    if (pixels == 0) return 0;

    const auto shift = static_cast<unsigned>(3 - std::countr_zero(bitsPerPixel));
    const std::int32_t end = from + pixels;
    const std::int32_t inked = SearchFirstInked(row, bitsPerPixel, shift, from, end);
    if (inked == end) {
        *count = 0;
        return 0;
    }
    const std::int32_t past = SearchLastInked(row, bitsPerPixel, shift, inked, end);
    *first = static_cast<std::int16_t>(inked);
    *count = static_cast<std::int16_t>(past - inked);
    return 0;
}

std::int16_t InkedByteSpan(const std::uint8_t* row, std::uint16_t bitsPerPixel, std::int16_t* first,
                           std::int16_t* count, std::uint8_t* edgeBytes) {
    if (row == nullptr || first == nullptr || count == nullptr || edgeBytes == nullptr) {
        return -1;
    }
    edgeBytes[0] = 0;
    edgeBytes[1] = 0;
    if (FindInkedPixels(row, bitsPerPixel, first, count) != 0) return -1;
    if (*count == 0) {
        *first = 0;
        return 0;
    }

    const unsigned bits = bitsPerPixel;
    const auto shift = static_cast<unsigned>(3 - std::countr_zero(bits));
    const std::int32_t within = (1 << shift) - 1;
    const std::int32_t f = *first;
    const std::int32_t e = f + *count;
    std::int32_t wholeBytes = (e >> shift) - (f >> shift) - 1;

    unsigned head = row[f >> shift];
    if ((f & within) != 0) head &= 0xFFu >> (bits * static_cast<unsigned>(f & within));
    unsigned tail = 0;
    if ((e & within) != 0) {
        tail = row[e >> shift] & (0xFFu << (8 - bits * static_cast<unsigned>(e & within))) & 0xFFu;
    }
    if (wholeBytes < 0) {
        // Both ends lie in one byte: it keeps only the pixels between them.
        wholeBytes = 0;
        head &= tail;
        tail = 0;
    }
    *first = static_cast<std::int16_t>(f >> shift);
    *count = static_cast<std::int16_t>(wholeBytes);
    edgeBytes[0] = static_cast<std::uint8_t>(head);
    edgeBytes[1] = static_cast<std::uint8_t>(tail);
    return 0;
}

}  // namespace inkrow
