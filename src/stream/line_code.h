// The raster line code: a byte-oriented run-length code. A control byte c of 0x00..0x7F
// copies the next c + 1 bytes; 0x81..0xFF repeats the next byte 257 - c times; 0x80 is
// never a control byte, because the stream uses it to end a line.
#pragma once

#include <cstdint>

namespace inkrow {

// Encodes n bytes from src into dest; returns the bytes written (at most 2n). Reads
// exactly n bytes and writes without a bound: the caller guarantees the room. Nothing is
// stored past the returned length (bytes inside it may be stored twice on the way).
std::uint16_t PackBytes(std::uint8_t* dest, const std::uint8_t* src, std::uint16_t n);

// Writes the code of n zero bytes (n >= 1) without reading input; returns the bytes
// written, 2 * ceil(n / 128).
std::uint16_t PackZeroRun(std::uint8_t* dest, std::uint16_t n);

// The number of bytes PackBytes would write for the same input, without writing.
std::uint32_t MeasurePackedBytes(const std::uint8_t* src, std::uint16_t n);

// The ways the coder can look for runs. Every way gives the same bytes; PackBytes and
// MeasurePackedBytes take the fastest this machine has. kVector needs SSE2 (always there
// on x86-64); where it is missing it falls back to kWords. kWide needs AVX2, BMI1 and
// BMI2, asked of the processor at run time; where they are missing it falls back to
// kVector.
enum class RunSearch : std::uint8_t {
    kWords,   // eight bytes at a time in 64-bit words: portable C++
    kVector,  // sixteen bytes at a time in SSE2 registers
    kWide,    // kVector with its 64-position run masks from 32-byte AVX2 compares
};

// Whether `search` runs as itself on this machine (and not as its fallback).
bool HasRunSearch(RunSearch search);

// PackBytes and MeasurePackedBytes with a chosen run search, for tests and benchmarks.
std::uint16_t PackBytesWith(RunSearch search, std::uint8_t* dest, const std::uint8_t* src,
                            std::uint16_t n);
std::uint32_t MeasurePackedBytesWith(RunSearch search, const std::uint8_t* src, std::uint16_t n);

}  // namespace inkrow
