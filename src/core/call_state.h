// The call-order state machine. Every entry point with a call index asks CheckCall
// before it does any work and CommitCall once the work has succeeded, so a refused or
// failed call leaves the state as it was.
#pragma once

#include <cstdint>

#include "core/block.h"

namespace inkrow {

// The modes of the call-order state machine: which of its two tables applies.
enum JobMode : std::int16_t {
    kModeNormal = 0,
    kModeFormFeed = 1,  // any value but 0 reads as this one
};

// The states of the call-order state machine, 0..19. Numbers 0..7 belong to the normal
// table, 8..19 to the form-feed table. States reached only through call indexes that no
// entry point uses (0, 2, 7, 9, 10) are named after that index.
enum CallStateId : std::int16_t {
    kStateReset = 0,              // through index 10 only
    kStateOpened = 1,             // OutputOpen; only OutputInitTwo is allowed
    kStateJobReady = 2,           // job taken, or a page end completed
    kStatePageOpen = 3,           // page set up, or a band completed
    kStateBandSent = 4,           // a band produced, its completion owed
    kStateIndex7Sent = 5,         // through index 7 only
    kStateIndex7Completed = 6,    // through index 7 only
    kStatePageEndSent = 7,        // OutputFlush produced, its completion owed
    kStateFormFeedReset = 8,      // through index 10 only
    kStateFormFeedOpened = 9,     // OutputInitTwo switched to the form-feed table
    kStateFormFeedJobReady = 10,  // job taken, or a form feed completed
    kStateFormFeedPageOpen = 11,  // page set up, or a band completed
    kStateFormFeedBandSent = 12,
    kStateIndex9Sent = 13,               // through index 9 only
    kStateIndex9Completed = 14,          // through index 9 only
    kStateFormFeedSent = 15,             // OutputFormFeed produced, its completion owed
    kStateFormFeedFlushSent = 16,        // OutputFlush produced, its completion owed
    kStateFormFeedIndex7Sent = 17,       // through index 7 only
    kStateFormFeedIndex7Completed = 18,  // through index 7 only
    kStateFormFeedJobEnded = 19,         // only OutputClose remains
};

struct CallState {
    CallStateId state;
    JobMode mode;
};

enum CallIndex : std::int16_t {
    kCallNoEntry0 = 0,
    kCallJobParams = 1,  // OutputInitTwo
    kCallNoEntry2 = 2,
    kCallPageSetup = 3,  // OutputInitPart
    kCallBand = 4,       // OutputProduce, OutputProduceTwo
    kCallComplete = 5,   // OutputComplete
    kCallFlush = 6,      // OutputFlush
    kCallNoEntry7 = 7,
    kCallFormFeed = 8,  // OutputFormFeed
    kCallNoEntry9 = 9,
    kCallNoEntry10 = 10,
    kMaxCallIndex = 10,
};

// Allocates the record in kStateOpened, kModeNormal. 0, or 0xFFFF without memory.
std::int16_t CreateCallState(Handle* stateHandle);
// Before OutputInitTwo's check: the state must be kStateOpened; a form-feed job switches
// to kModeFormFeed, kStateFormFeedOpened.
std::int16_t EnterJobMode(Handle stateHandle, std::int16_t formFeedFlag);
// Undoes EnterJobMode's switch when OutputInitTwo fails after it, so the caller can retry.
void LeaveJobMode(Handle stateHandle);
std::int16_t CheckCall(Handle stateHandle, std::int16_t callIndex);
std::int16_t CommitCall(Handle stateHandle, std::int16_t callIndex);
void ReleaseCallState(Handle* stateHandle);

// The mode of the context, kModeNormal when the record is missing. This is the truth
// about the job's kind: it picks the table every call is checked against, and only
// OutputInitTwo sets it. (OutputContext.formFeedMode is a copy kept in the record.)
JobMode CallMode(Handle stateHandle);

}  // namespace inkrow
