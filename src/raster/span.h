// The inked-span search on a packed row: 1, 2, 4 or 8 bits per pixel, the first pixel
// of a byte in its most significant bits; a pixel is inked when any of its bits is 1.
#pragma once

#include <cstdint>

namespace inkrow {

// Indexed by a number of bits: the mask of the first (high) and the last (low) pixel
// of a byte at that many bits per pixel.
extern const std::uint8_t highBitMasks[9];
extern const std::uint8_t lowBitMasks[9];

// On entry *first, *count give a pixel span; on success they give the inked span
// (count 0 when the span holds no ink, first then unchanged). 0, or -1 on a bad
// argument with the outputs untouched.
std::int16_t FindInkedPixels(const std::uint8_t* row, std::uint16_t bitsPerPixel,
                             std::int16_t* first, std::int16_t* count);

// Like FindInkedPixels, but answers in bytes: *first the byte of the first inked
// pixel, *count the whole bytes after it up to the last edge, and edgeBytes[0..1] the
// two edge bytes with every pixel outside the inked span cleared (0: nothing to write).
std::int16_t InkedByteSpan(const std::uint8_t* row, std::uint16_t bitsPerPixel, std::int16_t* first,
                           std::int16_t* count, std::uint8_t* edgeBytes);

}  // namespace inkrow
