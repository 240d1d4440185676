// Intake of planes that are sent as the caller rendered them, with the optional
// five-pixels-per-byte code conversion of two-bit planes.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

// Index: five 2-bit digits, the first in bits 9-8. Entry: the digits as one base-3
// number, first digit most significant; 0 when any digit is 3.
extern const std::uint8_t codeConversionTable[1024];

// Converts length bytes of 2-bit codes in place, ten bits at a time; returns the bytes
// produced, ceil(4 * length / 5).
std::uint16_t ConvertRowCodes(std::uint8_t* row, std::uint16_t length);

// Fills rows[i] and planes[i].currentLine of planes 0 .. planeCount-1 from the band.
// Works in the caller's lines in place (edge masking, conversion).
void IntakeDirectRows(OutputContext* context, const RasterBand* band);

}  // namespace inkrow
