// Shared steps of the producing calls.
#pragma once

#include "api/context.h"

namespace inkrow {

// Locks the segment list, its entry array and the control chain for a producing call,
// and unlocks them again at its end.
void LockOutputLists(OutputContext* context);
void UnlockOutputLists(OutputContext* context);

// Hands the segment list to the caller.
void HandOutSegmentList(OutputContext* context, void** segmentListOut);

}  // namespace inkrow
