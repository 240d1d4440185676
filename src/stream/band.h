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
// Writes the page header as a control command of its own and lists it.
void AppendPageHeader(OutputContext* context);

// Hands the segment list to the caller.
void HandOutSegmentList(OutputContext* context, void** segmentListOut);

}  // namespace inkrow
