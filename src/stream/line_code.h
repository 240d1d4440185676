// The raster line code: a byte-oriented run-length code. A control byte c of 0x00..0x7F
// copies the next c + 1 bytes; 0x81..0xFF repeats the next byte 257 - c times; 0x80 is
// never a control byte, because the stream uses it to end a line.
#pragma once

#include <cstdint>

namespace inkrow {

// Encodes n bytes from src into dest; returns the bytes written (at most 2n). Reads
// exactly n bytes and writes without a bound: the caller guarantees the room.
std::uint16_t PackBytes(std::uint8_t* dest, const std::uint8_t* src, std::uint16_t n);

// Writes the code of n zero bytes (n >= 1) without reading input; returns the bytes
// written, 2 * ceil(n / 128).
std::uint16_t PackZeroRun(std::uint8_t* dest, std::uint16_t n);

// The number of bytes PackBytes would write for the same input, without writing.
std::uint32_t MeasurePackedBytes(const std::uint8_t* src, std::uint16_t n);

}  // namespace inkrow
