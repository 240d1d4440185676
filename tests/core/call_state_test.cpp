#include "core/call_state.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <utility>

#include "core/context.h"
#include "test_heap.h"

namespace inkrow {
namespace {

struct Pair {
    int mode, callIndex, from, to;
};

// Every allowed transition of both modes; anything not listed is refused.
constexpr Pair kAllowed[] = {
    {0, 0, 0, 1},   {0, 1, 1, 2},   {0, 3, 2, 3},   {0, 4, 3, 4},   {0, 5, 4, 3},   {0, 5, 5, 6},
    {0, 5, 7, 2},   {0, 6, 3, 7},   {0, 6, 6, 7},   {0, 7, 3, 5},   {0, 7, 6, 5},   {0, 10, 2, 0},
    {1, 0, 8, 9},   {1, 1, 9, 10},  {1, 3, 10, 11}, {1, 4, 11, 12}, {1, 5, 12, 11}, {1, 5, 13, 14},
    {1, 5, 15, 10}, {1, 5, 17, 18}, {1, 5, 16, 19}, {1, 6, 10, 16}, {1, 6, 18, 16}, {1, 7, 10, 17},
    {1, 7, 18, 17}, {1, 8, 11, 15}, {1, 8, 14, 15}, {1, 9, 11, 13}, {1, 9, 14, 13}, {1, 10, 9, 8},
    {1, 10, 19, 8},
};

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
                record->mode = static_cast<std::int16_t>(mode);
                record->state = static_cast<std::int16_t>(state);
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
                    if (callIndex > 10 || (mode == 0 && (callIndex == 8 || callIndex == 9)))
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
    record->mode = 7;
    record->state = 10;
    EXPECT_EQ(CheckCall(record.handle, kCallPageSetup), kOk);
    EXPECT_EQ(CheckCall(record.handle, kCallFormFeed), kNotNow);
}

TEST(CallState, MissingRecordRefusesEverything) {
    EXPECT_EQ(CheckCall(nullptr, kCallBand), kNever);
    EXPECT_EQ(CommitCall(nullptr, kCallBand), kNever);
    EXPECT_EQ(EnterJobMode(nullptr, 0), kNever);
    EXPECT_EQ(CallMode(nullptr), 0);
}

TEST(CallState, JobModeEntrySwitchesOnlyFromStateOne) {
    StateRecord record;
    EXPECT_EQ(EnterJobMode(record.handle, 0), kOk);
    EXPECT_EQ(record->state, 1);
    EXPECT_EQ(record->mode, 0);
    EXPECT_EQ(EnterJobMode(record.handle, 1), kOk);
    EXPECT_EQ(record->state, 9);
    EXPECT_EQ(record->mode, 1);
    EXPECT_EQ(EnterJobMode(record.handle, 1), kNever);  // state 9 now
    LeaveJobMode(record.handle);
    EXPECT_EQ(record->state, 1);
    EXPECT_EQ(record->mode, 0);
    record->state = 2;
    EXPECT_EQ(EnterJobMode(record.handle, 1), kNever);
    EXPECT_EQ(record->state, 2);
    EXPECT_EQ(record->mode, 0);
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
