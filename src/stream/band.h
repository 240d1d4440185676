// Shared steps of the producing calls.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

// Locks the segment list, its entry array and the control chain for a producing call,
// and unlocks them again at its end.
void LockOutputLists(OutputContext* context);
void UnlockOutputLists(OutputContext* context);

// The page header: "ESC ( I" with parameter 1, then "ESC ( J" with the lines per row.
inline constexpr int kPageHeaderSize = 12;
void WritePageHeader(std::uint8_t* dest, std::int16_t linesPerRow);

// Hands the segment list to the caller.
void HandOutSegmentList(OutputContext* context, void** segmentListOut);

}  // namespace inkrow
