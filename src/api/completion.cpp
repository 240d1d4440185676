// Band completion and the page ends: OutputComplete, OutputFlush, OutputFormFeed and
// OutputProduce.
#include <algorithm>
#include <cstring>

#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "stream/band.h"
#include "stream/buffer_chain.h"
#include "stream/line_emission.h"
#include "stream/row_commit.h"

namespace inkrow {
namespace {

constexpr std::uint8_t kFormFeed = 0x0C;

void LockPackets(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        LockBufferChain(&context->planes[plane].packetChain);
}

void UnlockPackets(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        UnlockBufferChain(&context->planes[plane].packetChain);
}

void TakeCurrentLines(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        context->planes[plane].previousLine = context->planes[plane].currentLine;
}

// Empties the packets of the rows from the row being built up to endRow (exclusive,
// at most ringDepth rows) and moves the row being built on past them.
void ResetRing(OutputContext* context, std::int32_t endRow) {
    const std::int64_t limit = std::min<std::int64_t>(
        static_cast<std::int64_t>(context->planes[0].previousLine.rowNumber) + context->ringDepth,
        endRow);
    while (context->planes[0].previousLine.rowNumber < limit) {
        for (int plane = 0; plane < context->planeCount; ++plane) {
            ResetPacket(&context->planes[plane].packetChain);
            ++context->planes[plane].previousLine.rowNumber;
        }
    }
}

// The staged packet of each plane becomes the packet of the new row.
void MoveStagedPackets(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        BufferNode* staging = &context->stagingChains[plane];
        BufferNode* packet = &context->planes[plane].packetChain;
        LockBufferChain(staging);
        const std::uint32_t bytes = NodeUsed(staging);
        std::memcpy(packet->base, staging->base, bytes);
        packet->cursor = packet->base + bytes;
        ResetPacket(staging);
        UnlockBufferChain(staging);
    }
}

void ReleasePageBuffers(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        FreeBufferChain(&context->planes[plane].packetChain);
        ReleaseBlock(&context->stagingChains[plane].dataHandle);
        context->stagingChains[plane].base = nullptr;
        context->stagingChains[plane].cursor = nullptr;
        context->stagingChains[plane].usedLength = 0;
    }
    for (int plane = 0; plane < context->planeCount; ++plane)
        ReleaseBlock(&context->rowBufferHandles[plane]);
}

void AppendControlCommand(OutputContext* context, const std::uint8_t* bytes, std::size_t length) {
    BufferNode* node = FindEmptyControlNode(context);
    if (node == nullptr || node->base == nullptr) return;  // reserved up front; never here
    std::memcpy(node->cursor, bytes, length);
    node->cursor += length;
    AddSegment(context->segmentList, node);
}

void AppendPageHeader(OutputContext* context) {
    std::uint8_t header[kPageHeaderSize];
    // A form-feed job that never set up a page has no lines per row of its own yet;
    // its header names the 8 that every form-feed page uses, as 0 is no valid value.
    const std::int16_t linesPerRow = context->linesPerRow != 0 ? context->linesPerRow : 8;
    WritePageHeader(header, linesPerRow);
    AppendControlCommand(context, header, sizeof header);
}

// Whether the empty lines that finish the row being built fit its packets.
bool FinishingFits(const OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        const PlaneState& state = context->planes[plane];
        const BufferNode* packet = &state.packetChain;
        const auto bytes =
            static_cast<std::uint32_t>(context->linesPerRow - 1 - state.previousLine.subLine);
        if (NodeUsed(packet) + bytes > packet->capacity ||
            PacketLength(packet->base) + bytes > 0xFFFF)
            return false;
    }
    return true;
}

// Segments the commit of the row being built will list, decided before it is finished.
std::int64_t FinalRowSegments(OutputContext* context) {
    if (context->planeCount == 0) return 0;
    const auto blankLength =
        static_cast<std::uint16_t>(context->planes[0].previousLine.subLine + 1);
    return CommitSegmentCount(context, ClassifyRow(context, blankLength, false));
}

void FinishRows(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        PlaneState& state = context->planes[plane];
        EmitEmptyLines(&state.packetChain, context->linesPerRow - 1 - state.previousLine.subLine);
        state.previousLine.subLine = static_cast<std::int16_t>(context->linesPerRow - 1);
    }
}

// Commits the rows from the row being built up to endRow (exclusive, at most ringDepth
// rows), then puts the row being built back where it was.
void CommitRows(OutputContext* context, std::int64_t endRow) {
    const std::int32_t firstRow = context->planes[0].previousLine.rowNumber;
    const std::int64_t limit =
        std::min<std::int64_t>(static_cast<std::int64_t>(firstRow) + context->ringDepth, endRow);
    for (std::int64_t row = firstRow; row < limit; ++row) {
        CommitRow(context);
        for (int plane = 0; plane < context->planeCount; ++plane)
            ++context->planes[plane].previousLine.rowNumber;
    }
}

// Settles, before anything is written, that a page end can list all it sends: control
// nodes reserved, packets with room for their finishing lines, and no more segments
// than the list holds. `extraCommands` counts the page header and form feed.
std::int16_t PreparePageEnd(OutputContext* context, int extraCommands, bool commitsRow) {
    std::int64_t segments = extraCommands;
    std::int64_t nodes = extraCommands;
    if (!FinishingFits(context)) return kFailed;
    if (commitsRow && context->ringDepth > 0) {
        segments += FinalRowSegments(context);
        nodes += SkipCommandCount(context->pendingBlankRows) + 1;
    }
    if (segments > kSegmentCapacity) return kFailed;
    if (nodes > kSegmentCapacity) nodes = kSegmentCapacity;
    if (!ReserveControlNodes(context, static_cast<int>(nodes))) return kNoMemory;
    return kOk;
}

}  // namespace
}  // namespace inkrow

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
    LockBufferChain(&context->controlChain);
    LockPackets(context);
    switch (context->pendingCompletion) {
        case kCompletionSameRow:
        case kCompletionFirstRow:
            TakeCurrentLines(context);
            break;
        case kCompletionRowChange:
            ResetRing(context, context->planes[0].currentLine.rowNumber);
            MoveStagedPackets(context);
            TakeCurrentLines(context);
            break;
        case kCompletionPageEnd:
            ReleasePageBuffers(context);
            break;
        case kCompletionFormFeed:
            ResetRing(context, context->formFeedLineLimit / context->linesPerRow);
            // Rows at and after the limit are dropped with the page: nothing of them
            // may be sent with the next page.
            for (int plane = 0; plane < context->planeCount; ++plane)
                ResetPacket(&context->planes[plane].packetChain);
            break;
        case kCompletionNone:
            break;
    }
    UnlockPackets(context);
    TrimControlChain(context);
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
            FinishRows(context);
            CommitRows(context, INT64_MAX);
            if (formFeedJob) AppendControlCommand(context, &kFormFeed, 1);
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
            FinishRows(context);
            CommitRows(context, limitRow);
            for (int plane = 0; plane < context->planeCount; ++plane)
                context->planes[plane].previousLine.rowNumber = firstRow;
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
