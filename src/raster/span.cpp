// The inked-span search. Pixel tests happen only in the partial bytes at the two ends
// of the span and in the byte where ink turns up; everything between is skipped as
// whole zero bytes. No byte outside the span's own bytes is read: a caller's line may
// end exactly at the byte that holds the span's last pixel.
#include "raster/span.h"

#include "raster/line_prep.h"

namespace inkrow {

const std::uint8_t highBitMasks[9] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};
const std::uint8_t lowBitMasks[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

namespace {

// Pixel index of the first inked pixel in [from, end), or end when there is none.
std::int32_t SearchFirstInked(const std::uint8_t* row, unsigned bits, std::int32_t ppb,
                              std::int32_t from, std::int32_t end) {
    std::int32_t p = from;
    if (p % ppb != 0) {
        const unsigned byte = row[p / ppb];
        unsigned mask = highBitMasks[bits] >> (bits * static_cast<unsigned>(p % ppb));
        do {
            if ((byte & mask) != 0) return p;
            ++p;
            mask >>= bits;
        } while (p < end && p % ppb != 0);
        if (p == end) return end;
    }
    // Whole bytes up to the last one that lies entirely in the span may be skipped;
    // the partial byte after them is tested pixel by pixel like the one that stops the
    // skip.
    const std::int32_t index = FindNonzeroByteForward(row, p / ppb, end / ppb);
    p = index * ppb;
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
std::int32_t SearchLastInked(const std::uint8_t* row, unsigned bits, std::int32_t ppb,
                             std::int32_t inked, std::int32_t end) {
    std::int32_t e = end;
    if (e % ppb != 0) {
        const unsigned byte = row[(e - 1) / ppb];
        unsigned mask = highBitMasks[bits] >> (bits * static_cast<unsigned>(e % ppb - 1));
        do {
            if ((byte & mask) != 0) return e;
            --e;
            mask <<= bits;
        } while (e % ppb != 0);
    }
    const std::int32_t index = FindNonzeroByteBackward(row, e / ppb - 1, inked / ppb);
    e = (index + 1) * ppb;
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
    if (bitsPerPixel == 0 || 8 % bitsPerPixel != 0) return -1;
    const std::int32_t from = *first;
    const std::int32_t pixels = *count;
    if (from < 0 || pixels < 0 || static_cast<std::int16_t>(from + pixels) < 0) return -1;
    if (pixels == 0) return 0;

    const std::int32_t ppb = 8 / bitsPerPixel;
    const std::int32_t end = from + pixels;
    const std::int32_t inked = SearchFirstInked(row, bitsPerPixel, ppb, from, end);
    if (inked == end) {
        *count = 0;
        return 0;
    }
    const std::int32_t past = SearchLastInked(row, bitsPerPixel, ppb, inked, end);
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
    const std::int32_t ppb = 8 / static_cast<std::int32_t>(bits);
    const std::int32_t f = *first;
    const std::int32_t e = f + *count;
    std::int32_t wholeBytes = e / ppb - f / ppb - 1;

    unsigned head = row[f / ppb];
    if (f % ppb != 0) head &= 0xFFu >> (bits * static_cast<unsigned>(f % ppb));
    unsigned tail = 0;
    if (e % ppb != 0) {
        tail = row[e / ppb] & (0xFFu << (8 - bits * static_cast<unsigned>(e % ppb))) & 0xFFu;
    }
    if (wholeBytes < 0) {
        // Both ends lie in one byte: it keeps only the pixels between them.
        wholeBytes = 0;
        head &= tail;
        tail = 0;
    }
    *first = static_cast<std::int16_t>(f / ppb);
    *count = static_cast<std::int16_t>(wholeBytes);
    edgeBytes[0] = static_cast<std::uint8_t>(head);
    edgeBytes[1] = static_cast<std::uint8_t>(tail);
    return 0;
}

}  // namespace inkrow
