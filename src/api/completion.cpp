// Band completion and the page ends: OutputComplete, OutputFlush, OutputFormFeed and
// OutputProduce.
#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "stream/band.h"
#include "stream/buffer_chain.h"
#include "stream/line_emission.h"
#include "stream/page_end.h"
#include "stream/row_commit.h"

namespace {

constexpr std::uint8_t kFormFeed = 0x0C;

}  // namespace

using namespace inkrow;

extern "C" int16_t OutputProduce(OutputHandle* handle) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr) return kFailed;
    std::int16_t result = CheckCall(context->stateHandle, kCallBand);
    if (result == kOk) {
        // Nothing was produced, so its completion must not repeat the last band's.
        context->pendingCompletion = kCompletionNone;
        result = CommitCall(context->stateHandle, kCallBand);
    }
    UnlockContext(handle);
    return result;
}

extern "C" int16_t OutputComplete(OutputHandle* handle) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr) return kFailed;
    std::int16_t result = CheckCall(context->stateHandle, kCallComplete);
    if (result != kOk) {
        UnlockContext(handle);
        return result;
    }
    switch (context->pendingCompletion) {
        case kCompletionSameRow:
        case kCompletionFirstRow:
            // Only the line records move: the packets are not touched, so not locked.
            TakeCurrentLines(context);
            break;
        case kCompletionRowChange:
            LockPackets(context);
            DropRowsUpTo(context, context->planes[0].currentLine.rowNumber);
            MoveStagedPackets(context);
            TakeCurrentLines(context);
            UnlockPackets(context);
            break;
        case kCompletionPageEnd:
            LockPackets(context);
            ReleasePageBuffers(context, context->planeCount);
            UnlockPackets(context);
            break;
        case kCompletionFormFeed:
            LockPackets(context);
            DropRowsUpTo(context, context->formFeedLineLimit / context->linesPerRow);
            // Rows at and after the limit are dropped with the page: nothing of them
            // may be sent with the next page.
            for (int plane = 0; plane < context->planeCount; ++plane)
                ResetPacket(&context->planes[plane].packetChain);
            UnlockPackets(context);
            break;
        case kCompletionNone:
            break;
    }
    ReleaseListedControlNodes(context);
    result = CommitCall(context->stateHandle, kCallComplete);
    UnlockContext(handle);
    return result;
}

extern "C" int16_t OutputFlush(OutputHandle* handle, void** segmentListOut) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr || segmentListOut == nullptr) return kFailed;
    LockOutputLists(context);
    std::int16_t result = CheckCall(context->stateHandle, kCallFlush);
    if (result == kOk) {
        LockPackets(context);
        // A form-feed job ends with a page header, the last row and a form feed; a
        // normal page ends with its last row only.
        const bool formFeedJob = CallMode(context->stateHandle) != kModeNormal;
        result = PreparePageEnd(context, formFeedJob ? 2 : 0, true);
        if (result == kOk) {
            context->segmentList->count = 0;
            context->pendingCompletion = kCompletionPageEnd;
            if (formFeedJob) AppendPageHeader(context);
            FinishRow(context);
            CommitRowsUpTo(context, INT64_MAX);
            if (formFeedJob) WriteControlCommand(context, &kFormFeed, 1);
            HandOutSegmentList(context, segmentListOut);
            result = CommitCall(context->stateHandle, kCallFlush);
        } else {
            TrimControlChain(context);
        }
        UnlockPackets(context);
    }
    UnlockOutputLists(context);
    UnlockContext(handle);
    return result;
}

extern "C" int16_t OutputFormFeed(OutputHandle* handle, void** segmentListOut, int32_t lineLimit) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr || segmentListOut == nullptr) return kFailed;
    LockOutputLists(context);
    std::int16_t result = CheckCall(context->stateHandle, kCallFormFeed);
    // The call check has settled that this is a form-feed job (only that table has the
    // call); formFeedMode, set with it, is checked again as a guard, and a job that has
    // set up no page yet has no rows to feed.
    if (result == kOk && (context->formFeedMode != 1 || context->linesPerRow == 0))
        result = kFailed;
    if (result == kOk) {
        LockPackets(context);
        const std::int32_t firstRow = context->planes[0].previousLine.rowNumber;
        const std::int32_t limitRow = lineLimit / context->linesPerRow;
        result = PreparePageEnd(context, 1, firstRow < limitRow);
        if (result == kOk) {
            context->segmentList->count = 0;
            AppendPageHeader(context);
            context->pendingCompletion = kCompletionFormFeed;
            context->formFeedLineLimit = lineLimit;
            FinishRow(context);
            CommitRowsUpTo(context, limitRow);
            HandOutSegmentList(context, segmentListOut);
            result = CommitCall(context->stateHandle, kCallFormFeed);
        } else {
            TrimControlChain(context);
        }
        UnlockPackets(context);
    }
    UnlockOutputLists(context);
    UnlockContext(handle);
    return result;
}
