// The call-order state machine. Every entry point with a call index asks CheckCall
// before it does any work and CommitCall once the work has succeeded, so a refused or
// failed call leaves the state as it was.
#pragma once

#include <cstdint>

#include "core/block.h"

namespace inkrow {

struct CallState {
    std::int16_t state;  // 0..19
    std::int16_t mode;   // 0 normal table, anything else the form-feed table
};

enum CallIndex : std::int16_t {
    kCallJobParams = 1,  // OutputInitTwo
    kCallPageSetup = 3,  // OutputInitPart
    kCallBand = 4,       // OutputProduce, OutputProduceTwo
    kCallComplete = 5,   // OutputComplete
    kCallFlush = 6,      // OutputFlush
    kCallFormFeed = 8,   // OutputFormFeed
    kMaxCallIndex = 10,
};

// Allocates the record with state 1, mode 0. 0, or 0xFFFF without memory.
std::int16_t CreateCallState(Handle* stateHandle);
// Before OutputInitTwo's check: the state must be 1; a form-feed job switches to
// mode 1, state 9.
std::int16_t EnterJobMode(Handle stateHandle, std::int16_t formFeedFlag);
// Undoes EnterJobMode's switch when OutputInitTwo fails after it, so the caller can retry.
void LeaveJobMode(Handle stateHandle);
std::int16_t CheckCall(Handle stateHandle, std::int16_t callIndex);
std::int16_t CommitCall(Handle stateHandle, std::int16_t callIndex);
void ReleaseCallState(Handle* stateHandle);

// The mode of the context, 0 when the record is missing.
std::int16_t CallMode(Handle stateHandle);

}  // namespace inkrow
