#include "core/call_state.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <tuple>
#include <utility>

#include "core/context.h"
#include "test_heap.h"

namespace inkrow {
namespace {

struct Pair {
    JobMode mode;
    CallIndex callIndex;
    CallStateId from, to;
};

// Every allowed transition of both modes; anything not listed is refused. Written out a
// second time on purpose, pair by pair, as an independent check of the module's tables.
constexpr JobMode N = kModeNormal;
constexpr JobMode F = kModeFormFeed;
constexpr Pair kAllowed[] = {
    {N, kCallNoEntry0, kStateReset, kStateOpened},
    {N, kCallJobParams, kStateOpened, kStateJobReady},
    {N, kCallPageSetup, kStateJobReady, kStatePageOpen},
    {N, kCallBand, kStatePageOpen, kStateBandSent},
    {N, kCallComplete, kStateBandSent, kStatePageOpen},
    {N, kCallComplete, kStateIndex7Sent, kStateIndex7Completed},
    {N, kCallComplete, kStatePageEndSent, kStateJobReady},
    {N, kCallFlush, kStatePageOpen, kStatePageEndSent},
    {N, kCallFlush, kStateIndex7Completed, kStatePageEndSent},
    {N, kCallNoEntry7, kStatePageOpen, kStateIndex7Sent},
    {N, kCallNoEntry7, kStateIndex7Completed, kStateIndex7Sent},
    {N, kCallNoEntry10, kStateJobReady, kStateReset},
    {F, kCallNoEntry0, kStateFormFeedReset, kStateFormFeedOpened},
    {F, kCallJobParams, kStateFormFeedOpened, kStateFormFeedJobReady},
    {F, kCallPageSetup, kStateFormFeedJobReady, kStateFormFeedPageOpen},
    {F, kCallBand, kStateFormFeedPageOpen, kStateFormFeedBandSent},
    {F, kCallComplete, kStateFormFeedBandSent, kStateFormFeedPageOpen},
    {F, kCallComplete, kStateIndex9Sent, kStateIndex9Completed},
    {F, kCallComplete, kStateFormFeedSent, kStateFormFeedJobReady},
    {F, kCallComplete, kStateFormFeedIndex7Sent, kStateFormFeedIndex7Completed},
    {F, kCallComplete, kStateFormFeedFlushSent, kStateFormFeedJobEnded},
    {F, kCallFlush, kStateFormFeedJobReady, kStateFormFeedFlushSent},
    {F, kCallFlush, kStateFormFeedIndex7Completed, kStateFormFeedFlushSent},
    {F, kCallNoEntry7, kStateFormFeedJobReady, kStateFormFeedIndex7Sent},
    {F, kCallNoEntry7, kStateFormFeedIndex7Completed, kStateFormFeedIndex7Sent},
    {F, kCallFormFeed, kStateFormFeedPageOpen, kStateFormFeedSent},
    {F, kCallFormFeed, kStateIndex9Completed, kStateFormFeedSent},
    {F, kCallNoEntry9, kStateFormFeedPageOpen, kStateIndex9Sent},
    {F, kCallNoEntry9, kStateIndex9Completed, kStateIndex9Sent},
    {F, kCallNoEntry10, kStateFormFeedOpened, kStateFormFeedReset},
    {F, kCallNoEntry10, kStateFormFeedJobEnded, kStateFormFeedReset},
};

// The stored numbers are part of the record: the states keep 0..19 in this order.
constexpr CallStateId kStatesInOrder[] = {kStateReset,
                                          kStateOpened,
                                          kStateJobReady,
                                          kStatePageOpen,
                                          kStateBandSent,
                                          kStateIndex7Sent,
                                          kStateIndex7Completed,
                                          kStatePageEndSent,
                                          kStateFormFeedReset,
                                          kStateFormFeedOpened,
                                          kStateFormFeedJobReady,
                                          kStateFormFeedPageOpen,
                                          kStateFormFeedBandSent,
                                          kStateIndex9Sent,
                                          kStateIndex9Completed,
                                          kStateFormFeedSent,
                                          kStateFormFeedFlushSent,
                                          kStateFormFeedIndex7Sent,
                                          kStateFormFeedIndex7Completed,
                                          kStateFormFeedJobEnded};
constexpr bool StatesKeepTheirNumbers() {
    for (int state = 0; state < 20; ++state)
        if (kStatesInOrder[state] != state) return false;
    return true;
}
static_assert(std::size(kStatesInOrder) == 20 && StatesKeepTheirNumbers());
static_assert(kModeNormal == 0 && kModeFormFeed == 1);
static_assert(kCallNoEntry0 == 0 && kCallFormFeed == 8 && kCallNoEntry10 == kMaxCallIndex);

struct StateRecord {
    Handle handle = nullptr;
    StateRecord() { EXPECT_EQ(CreateCallState(&handle), kOk); }
    ~StateRecord() { ReleaseCallState(&handle); }
    CallState* operator->() const { return reinterpret_cast<CallState*>(handle); }
};

TEST(CallState, EveryPairOfBothTablesAndEveryRefusal) {
    std::map<std::tuple<int, int, int>, int> allowed;
    for (const Pair& pair : kAllowed)
        allowed[{pair.mode, pair.callIndex, pair.from}] = pair.to;
    StateRecord record;
    for (int mode = 0; mode <= 1; ++mode) {
        for (int callIndex = 0; callIndex <= 11; ++callIndex) {
            for (int state = 0; state <= 19; ++state) {
                record->mode = static_cast<JobMode>(mode);
                record->state = static_cast<CallStateId>(state);
                auto found = allowed.find({mode, callIndex, state});
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " index " << callIndex << " state " << state);
                if (found != allowed.end()) {
                    EXPECT_EQ(CheckCall(record.handle, static_cast<std::int16_t>(callIndex)), kOk);
                    EXPECT_EQ(record->state, state);
                    EXPECT_EQ(CommitCall(record.handle, static_cast<std::int16_t>(callIndex)), kOk);
                    EXPECT_EQ(record->state, found->second);
                } else {
                    std::int16_t refusal = kNotNow;
                    if (callIndex > kMaxCallIndex ||
                        (mode == kModeNormal &&
                         (callIndex == kCallFormFeed || callIndex == kCallNoEntry9)))
                        refusal = kNever;
                    EXPECT_EQ(CheckCall(record.handle, static_cast<std::int16_t>(callIndex)),
                              refusal);
                    // A commit that nothing allows is an internal error, never "not now".
                    EXPECT_EQ(CommitCall(record.handle, static_cast<std::int16_t>(callIndex)),
                              kNever);
                    EXPECT_EQ(record->state, state);
                    EXPECT_EQ(record->mode, mode);
                }
            }
        }
    }
}

TEST(CallState, AnyNonZeroModeUsesTheFormFeedTable) {
    StateRecord record;
    record->mode = static_cast<JobMode>(7);
    record->state = kStateFormFeedJobReady;
    EXPECT_EQ(CheckCall(record.handle, kCallPageSetup), kOk);
    EXPECT_EQ(CheckCall(record.handle, kCallFormFeed), kNotNow);
}

TEST(CallState, MissingRecordRefusesEverything) {
    EXPECT_EQ(CheckCall(nullptr, kCallBand), kNever);
    EXPECT_EQ(CommitCall(nullptr, kCallBand), kNever);
    EXPECT_EQ(EnterJobMode(nullptr, 0), kNever);
    EXPECT_EQ(CallMode(nullptr), kModeNormal);
}

TEST(CallState, JobModeEntrySwitchesOnlyFromStateOne) {
    StateRecord record;
    EXPECT_EQ(EnterJobMode(record.handle, 0), kOk);
    EXPECT_EQ(record->state, kStateOpened);
    EXPECT_EQ(record->mode, kModeNormal);
    EXPECT_EQ(EnterJobMode(record.handle, 1), kOk);
    EXPECT_EQ(record->state, kStateFormFeedOpened);
    EXPECT_EQ(record->mode, kModeFormFeed);
    EXPECT_EQ(EnterJobMode(record.handle, 1), kNever);  // no longer kStateOpened
    LeaveJobMode(record.handle);
    EXPECT_EQ(record->state, kStateOpened);
    EXPECT_EQ(record->mode, kModeNormal);
    record->state = kStateJobReady;
    EXPECT_EQ(EnterJobMode(record.handle, 1), kNever);
    EXPECT_EQ(record->state, kStateJobReady);
    EXPECT_EQ(record->mode, kModeNormal);
}

TEST(CallState, CreateFailsCleanlyWithoutMemory) {
    Handle handle = nullptr;
    testheap::FailAll(true);
    EXPECT_EQ(CreateCallState(&handle), kNever);
    testheap::Reset();
    EXPECT_EQ(handle, nullptr);
}

}  // namespace
}  // namespace inkrow
