#include "core/call_state.h"

#include "core/result.h"

namespace inkrow {
namespace {

struct Transition {
    std::int16_t from;
    std::int16_t to;
};

// Up to five pairs per call index; an entry with from == -1 ends the list.
struct TransitionList {
    Transition pairs[5];
};

constexpr Transition kEnd{-1, -1};

// clang-format off
// Normal mode.
constexpr TransitionList kNormalTable[kMaxCallIndex + 1] = {
    {{{0, 1}, kEnd}},                  // 0
    {{{1, 2}, kEnd}},                  // 1 OutputInitTwo
    {{kEnd}},                          // 2
    {{{2, 3}, kEnd}},                  // 3 OutputInitPart
    {{{3, 4}, kEnd}},                  // 4 bands
    {{{4, 3}, {5, 6}, {7, 2}, kEnd}},  // 5 OutputComplete
    {{{3, 7}, {6, 7}, kEnd}},          // 6 OutputFlush
    {{{3, 5}, {6, 5}, kEnd}},          // 7
    {{kEnd}},                          // 8 OutputFormFeed
    {{kEnd}},                          // 9
    {{{2, 0}, kEnd}},                  // 10
};

// Form-feed mode.
constexpr TransitionList kFormFeedTable[kMaxCallIndex + 1] = {
    {{{8, 9}, kEnd}},                                       // 0
    {{{9, 10}, kEnd}},                                      // 1
    {{kEnd}},                                               // 2
    {{{10, 11}, kEnd}},                                     // 3
    {{{11, 12}, kEnd}},                                     // 4
    {{{12, 11}, {13, 14}, {15, 10}, {17, 18}, {16, 19}}},  // 5
    {{{10, 16}, {18, 16}, kEnd}},                           // 6
    {{{10, 17}, {18, 17}, kEnd}},                           // 7
    {{{11, 15}, {14, 15}, kEnd}},                           // 8
    {{{11, 13}, {14, 13}, kEnd}},                           // 9
    {{{9, 8}, {19, 8}, kEnd}},                              // 10
};

// clang-format on

CallState* LockCallState(Handle stateHandle) {
    return reinterpret_cast<CallState*>(LockBlock(stateHandle));
}

// The pair of callIndex that starts at the current state, or null.
const Transition* FindTransition(const CallState* record, std::int16_t callIndex) {
    const TransitionList& list = (record->mode == 0 ? kNormalTable : kFormFeedTable)[callIndex];
    for (const Transition& pair : list.pairs) {
        if (pair.from < 0) break;
        if (pair.from == record->state) return &pair;
    }
    return nullptr;
}

}  // namespace

std::int16_t CreateCallState(Handle* stateHandle) {
    *stateHandle = AllocateBlock(sizeof(CallState));
    CallState* record = LockCallState(*stateHandle);
    if (record == nullptr) return kNever;
    record->state = 1;
    record->mode = 0;
    UnlockBlock(*stateHandle);
    return kOk;
}

std::int16_t EnterJobMode(Handle stateHandle, std::int16_t formFeedFlag) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || record->state != 1) return kNever;
    if (formFeedFlag == 1) {
        record->mode = 1;
        record->state = 9;
    }
    UnlockBlock(stateHandle);
    return kOk;
}

void LeaveJobMode(Handle stateHandle) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr) return;
    if (record->mode != 0 && record->state == 9) {
        record->mode = 0;
        record->state = 1;
    }
    UnlockBlock(stateHandle);
}

std::int16_t CheckCall(Handle stateHandle, std::int16_t callIndex) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || callIndex < 0 || callIndex > kMaxCallIndex) return kNever;
    std::int16_t result = kOk;
    if (FindTransition(record, callIndex) == nullptr) {
        const bool neverInMode =
            record->mode == 0 && (callIndex == kCallFormFeed || callIndex == 9);
        result = neverInMode ? kNever : kNotNow;
    }
    UnlockBlock(stateHandle);
    return result;
}

std::int16_t CommitCall(Handle stateHandle, std::int16_t callIndex) {
    CallState* record = LockCallState(stateHandle);
    if (record == nullptr || callIndex < 0 || callIndex > kMaxCallIndex) return kNever;
    const Transition* pair = FindTransition(record, callIndex);
    std::int16_t result = kNever;
    if (pair != nullptr) {
        record->state = pair->to;
        result = kOk;
    }
    UnlockBlock(stateHandle);
    return result;
}

void ReleaseCallState(Handle* stateHandle) {
    ReleaseBlock(stateHandle);
}

std::int16_t CallMode(Handle stateHandle) {
    const CallState* record = LockCallState(stateHandle);
    return record == nullptr ? 0 : record->mode;
}

}  // namespace inkrow
