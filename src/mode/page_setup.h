// Page setup helpers shared with the page ends.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

// Capacity of every packet and staging buffer. The packet's 16-bit length field
// limits a row's payload to 65,535 bytes anyway; a line that would not fit is refused.
inline constexpr std::uint32_t kPacketCapacity = 0xF400;

// No line taken in: subLine -1, blank.
void SetInitialLineState(LineState* line);

// Row buffer of a plane: ((8 >> pixelShift) * pixelWidth + 7) / 8 + 1 bytes.
std::int32_t RowBufferSize(std::int16_t pixelShift, std::int16_t pixelWidth);

}  // namespace inkrow
