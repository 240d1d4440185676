#include "core/call_state.h"

#include "core/result.h"

namespace inkrow {
namespace {

struct Transition {
    CallStateId from;
    CallStateId to;
};

// Up to five pairs per call index; an entry whose from is kNoState ends the list.
struct TransitionList {
    Transition pairs[5];
};

constexpr auto kNoState = static_cast<CallStateId>(-1);
constexpr Transition kEnd{kNoState, kNoState};

// clang-format off
// Normal mode, one list per call index.
constexpr TransitionList kNormalTable[kMaxCallIndex + 1] = {
    /* kCallNoEntry0  */ {{{kStateReset, kStateOpened}, kEnd}},
    /* kCallJobParams */ {{{kStateOpened, kStateJobReady}, kEnd}},
    /* kCallNoEntry2  */ {{kEnd}},
    /* kCallPageSetup */ {{{kStateJobReady, kStatePageOpen}, kEnd}},
    /* kCallBand      */ {{{kStatePageOpen, kStateBandSent}, kEnd}},
    /* kCallComplete  */ {{{kStateBandSent, kStatePageOpen},
                           {kStateIndex7Sent, kStateIndex7Completed},
                           {kStatePageEndSent, kStateJobReady}, kEnd}},
    /* kCallFlush     */ {{{kStatePageOpen, kStatePageEndSent},
                           {kStateIndex7Completed, kStatePageEndSent}, kEnd}},
    /* kCallNoEntry7  */ {{{kStatePageOpen, kStateIndex7Sent},
                           {kStateIndex7Completed, kStateIndex7Sent}, kEnd}},
    /* kCallFormFeed  */ {{kEnd}},
    /* kCallNoEntry9  */ {{kEnd}},
    /* kCallNoEntry10 */ {{{kStateJobReady, kStateReset}, kEnd}},
};

// Form-feed mode, one list per call index.
constexpr TransitionList kFormFeedTable[kMaxCallIndex + 1] = {
    /* kCallNoEntry0  */ {{{kStateFormFeedReset, kStateFormFeedOpened}, kEnd}},
    /* kCallJobParams */ {{{kStateFormFeedOpened, kStateFormFeedJobReady}, kEnd}},
    /* kCallNoEntry2  */ {{kEnd}},
    /* kCallPageSetup */ {{{kStateFormFeedJobReady, kStateFormFeedPageOpen}, kEnd}},
    /* kCallBand      */ {{{kStateFormFeedPageOpen, kStateFormFeedBandSent}, kEnd}},
    /* kCallComplete  */ {{{kStateFormFeedBandSent, kStateFormFeedPageOpen},
                           {kStateIndex9Sent, kStateIndex9Completed},
                           {kStateFormFeedSent, kStateFormFeedJobReady},
                           {kStateFormFeedIndex7Sent, kStateFormFeedIndex7Completed},
                           {kStateFormFeedFlushSent, kStateFormFeedJobEnded}}},
    /* kCallFlush     */ {{{kStateFormFeedJobReady, kStateFormFeedFlushSent},
                           {kStateFormFeedIndex7Completed, kStateFormFeedFlushSent}, kEnd}},
    /* kCallNoEntry7  */ {{{kStateFormFeedJobReady, kStateFormFeedIndex7Sent},
                           {kStateFormFeedIndex7Completed, kStateFormFeedIndex7Sent}, kEnd}},
    /* kCallFormFeed  */ {{{kStateFormFeedPageOpen, kStateFormFeedSent},
                           {kStateIndex9Completed, kStateFormFeedSent}, kEnd}},
    /* kCallNoEntry9  */ {{{kStateFormFeedPageOpen, kStateIndex9Sent},
                           {kStateIndex9Completed, kStateIndex9Sent}, kEnd}},
    /* kCallNoEntry10 */ {{{kStateFormFeedOpened, kStateFormFeedReset},
                           {kStateFormFeedJobEnded, kStateFormFeedReset}, kEnd}},
};
// clang-format on

CallState* LockCallState(Handle stateHandle) {
    return reinterpret_cast<CallState*>(LockBlock(stateHandle));
}

constexpr int kStateCount = 20;

// The two tables above, turned at compile time into one answer per mode, call index and
// state: the state the call leads to, or kNoState. Every call is checked and committed,
// so the lookup is two loads instead of a walk through the pairs; the pairs stay the
// readable source of truth.
struct NextStateTable {
    CallStateId next[2][kMaxCallIndex + 1][kStateCount];
};

constexpr NextStateTable BuildNextStates() {
    NextStateTable table{};
    for (int mode = 0; mode < 2; ++mode) {
        const TransitionList* lists = mode == 0 ? kNormalTable : kFormFeedTable;
        for (int call = 0; call <= kMaxCallIndex; ++call) {
            for (int state = 0; state < kStateCount; ++state)
                table.next[mode][call][state] = kNoState;
            // The first pair from a state wins, as the walk through the pairs did.
            for (int k = 4; k >= 0; --k) {
                const Transition& pair = lists[call].pairs[k];
                bool listed = true;
                for (int before = 0; before < k; ++before)
                    if (lists[call].pairs[before].from == kNoState) listed = false;
                if (listed && pair.from != kNoState) table.next[mode][call][pair.from] = pair.to;
            }
        }
    }
    return table;
}

constexpr NextStateTable kNextStates = BuildNextStates();

// The state that callIndex leads to from the current state, or kNoState.
CallStateId FindTransition(const CallState* record, std::int16_t callIndex) {
    if (record->state < 0 || record->state >= kStateCount) return kNoState;
    return kNextStates.next[record->mode == kModeNormal ? 0 : 1][callIndex][record->state];
}

}  // namespace

std::int16_t CreateCallState(Handle* stateHandle) {
    *stateHandle = AllocateBlock(sizeof(CallState));
    CallState* record = LockCallState(*stateHandle);
    if (record == nullptr) return kNever;
    record->state = kStateOpened;
    record->mode = kModeNormal;
    UnlockBlock(*stateHandle);
    return kOk;
}

std::int16_t EnterJobMode(Handle stateHandle, std::int16_t formFeedFlag) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || record->state != kStateOpened) return kNever;
    if (formFeedFlag == 1) {
        record->mode = kModeFormFeed;
        record->state = kStateFormFeedOpened;
    }
    UnlockBlock(stateHandle);
    return kOk;
}

void LeaveJobMode(Handle stateHandle) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr) return;
    if (record->mode != kModeNormal && record->state == kStateFormFeedOpened) {
        record->mode = kModeNormal;
        record->state = kStateOpened;
    }
    UnlockBlock(stateHandle);
}

std::int16_t CheckCall(Handle stateHandle, std::int16_t callIndex) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || callIndex < 0 || callIndex > kMaxCallIndex) return kNever;
    std::int16_t result = kOk;
    if (FindTransition(record, callIndex) == kNoState) {
        const bool neverInMode = record->mode == kModeNormal &&
                                 (callIndex == kCallFormFeed || callIndex == kCallNoEntry9);
        result = neverInMode ? kNever : kNotNow;
    }
    UnlockBlock(stateHandle);
    return result;
}

std::int16_t CommitCall(Handle stateHandle, std::int16_t callIndex) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || callIndex < 0 || callIndex > kMaxCallIndex) return kNever;
    const CallStateId next = FindTransition(record, callIndex);
    std::int16_t result = kNever;
    if (next != kNoState) {
        record->state = next;
        result = kOk;
    }
    UnlockBlock(stateHandle);
    return result;
}

void ReleaseCallState(Handle* stateHandle) {
    ReleaseBlock(stateHandle);
}

JobMode CallMode(Handle stateHandle) {
    const CallState* record = LockCallState(stateHandle);
    return record == nullptr ? kModeNormal : record->mode;
}

}  // namespace inkrow
