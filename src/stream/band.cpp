// OutputProduceTwo: takes one raster line and hands back what is ready to be sent.
//
// A call either succeeds completely or changes nothing in the context: everything that
// can fail (argument checks, the control nodes it needs, room in the packets and in the
// segment list) is settled before the first byte is written.
#include "stream/band.h"

#include <cstring>

#include "core/call_state.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "raster/intake.h"
#include "raster/split.h"
#include "stream/buffer_chain.h"
#include "stream/line_emission.h"
#include "stream/row_commit.h"

namespace inkrow {
namespace {

// The last row a line may fall in. A row change or page end lists at most the page
// header, the skips owed for the rows above, one selection, sixteen packets and a form
// feed; bounding the rows keeps all of that within the segment list, so that a page once
// started can always be ended.
constexpr std::int32_t kMaxPageRow = (kSegmentCapacity - 20) * kMaxSkipRows;

// How many band entries the configuration reads.
int PlanesRead(const OutputContext* context) {
    return context->planes[0].twoBitSplit == 1 ? 6 : context->planeCount;
}

bool IsValidBand(const OutputContext* context, const RasterBand* band) {
    if (band->lineNumber < 0 || band->lineNumber <= context->lastLineNumber) return false;
    if (band->lineNumber / context->linesPerRow > kMaxPageRow) return false;
    const int planesRead = PlanesRead(context);
    if (planesRead > OUTPUT_MAX_BAND_PLANES) return false;
    for (int plane = 0; plane < planesRead; ++plane) {
        const BandPlane& entry = band->bandPlanes[plane];
        if (entry.pixels == nullptr || entry.end == entry.start) continue;
        const int spanEnd = entry.end - entry.trail;
        if (entry.start < 0 || entry.trail < 0 || spanEnd < entry.start ||
            spanEnd > context->pixelWidth)
            return false;
    }
    return true;
}

std::uint32_t RoomLeft(const BufferNode* node) {
    const std::uint32_t byCapacity = node->capacity - NodeUsed(node);
    const std::uint32_t byLength = 0xFFFFu - PacketLength(node->base);
    return byCapacity < byLength ? byCapacity : byLength;
}

// Whether every plane's line fits where the emission will put it, keeping room for the
// empty lines that will finish the row, so that a page end never runs out of room.
bool LinesFit(const OutputContext* context, CompletionKind completion) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        const PlaneState& state = context->planes[plane];
        const std::uint8_t* rowData = context->rows[plane].rowData;
        const auto finishingAfter =
            static_cast<std::uint32_t>(context->linesPerRow - 1 - state.currentLine.subLine);
        if (completion == kCompletionRowChange) {
            if (!PacketHasRoom(&state.packetChain, FinishingLines(context, state))) return false;
            // The staging packet is empty here: it holds only its header.
            const BufferNode* staging = &context->stagingChains[plane];
            const std::uint32_t budget = staging->capacity - kPacketHeaderSize;
            const std::uint32_t padding =
                static_cast<std::uint32_t>(state.currentLine.subLine) + finishingAfter;
            const std::uint32_t bytes =
                padding + EncodedLineSize(rowData, state.currentLine, budget);
            if (bytes > budget || bytes > 0xFFFF) return false;
        } else {
            const std::int32_t lastSubLine =
                completion == kCompletionFirstRow ? -1 : state.previousLine.subLine;
            const int missing = state.currentLine.subLine - 1 - lastSubLine;
            const std::uint32_t budget = RoomLeft(&state.packetChain);
            const std::uint32_t bytes = static_cast<std::uint32_t>(missing > 0 ? missing : 0) +
                                        finishingAfter +
                                        EncodedLineSize(rowData, state.currentLine, budget);
            if (bytes > budget) return false;
        }
    }
    return true;
}

struct LineSnapshot {
    LineState currentLines[kMaxPlanes];
    RowDescriptor rows[kMaxPlanes];
};

void SaveLines(const OutputContext* context, LineSnapshot* snapshot) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        snapshot->currentLines[plane] = context->planes[plane].currentLine;
        snapshot->rows[plane] = context->rows[plane];
    }
}

void RestoreLines(OutputContext* context, const LineSnapshot& snapshot) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        context->planes[plane].currentLine = snapshot.currentLines[plane];
        context->rows[plane] = snapshot.rows[plane];
    }
}

std::int16_t ProduceBand(OutputContext* context, RasterBand* band) {
    if (!IsValidBand(context, band)) return kFailed;

    const std::int32_t lineNumber = band->lineNumber;
    const std::int32_t newRow = lineNumber / context->linesPerRow;
    const PlaneState& plane0 = context->planes[0];
    CompletionKind completion = kCompletionSameRow;
    if (newRow != plane0.previousLine.rowNumber)
        completion = plane0.previousLine.subLine == -1 ? kCompletionFirstRow : kCompletionRowChange;
    const bool sendHeader = context->pageHeaderState != kPageHeaderSent;
    const std::int64_t untouched =
        completion == kCompletionRowChange
            ? static_cast<std::int64_t>(newRow) - plane0.previousLine.rowNumber - 1
            : 0;

    // Control nodes: the page header (first node), then for a row change the commands
    // that committing the built row writes (the owed skips and a selection, none for a
    // blank row or one that keeps its selection) and the skips over untouched rows. A
    // call may list at most kSegmentCapacity entries, and each command is one.
    //
    // The built row is wholly in the packets before this line is taken in (a row change
    // stages the line elsewhere), so what its commit writes is known now, exactly: the
    // count is the one CommitRow acts on, not a bound. Reserving exactly these nodes
    // keeps a row change that writes no command from allocating a control node only to
    // release it at the completion.
    std::int64_t nodes = sendHeader ? 1 : 0;
    std::int64_t fixedSegments = nodes;
    RowCommitCounts builtRow{0, 0};
    if (completion == kCompletionRowChange) {
        builtRow = CountBuiltRow(context);
        nodes += builtRow.commands + SkipCommandCount(untouched);
        fixedSegments += SkipCommandCount(untouched);
    }
    if (fixedSegments > kSegmentCapacity) return kFailed;
    if (nodes > kSegmentCapacity) nodes = kSegmentCapacity;
    if (!ReserveControlNodes(context, static_cast<int>(nodes))) return kNoMemory;

    LineSnapshot snapshot;
    SaveLines(context, &snapshot);
    // Only the split writes into the module's row buffers; the direct intake points
    // every plane's row at the caller's line (IsValidBand has made sure that the band
    // has an entry for every configured plane).
    const bool split = context->planes[0].twoBitSplit == 1;
    if (split) {
        for (int plane = 0; plane < context->planeCount; ++plane)
            context->rows[plane].rowData = LockBlock(context->rowBufferHandles[plane]);
        SplitTwoBitPlanes(context, band);
    } else {
        IntakeDirectRows(context, band);
    }

    bool fits = LinesFit(context, completion);
    if (fits && completion == kCompletionRowChange)
        fits = fixedSegments + builtRow.segments <= kSegmentCapacity;
    if (!fits) {
        RestoreLines(context, snapshot);
        TrimControlChain(context);
        return kFailed;
    }

    context->segmentList->count = 0;
    if (sendHeader) {
        // Every call starts with the control chain trimmed, so this is its first node.
        AppendPageHeader(context);
        context->pageHeaderState = kPageHeaderSent;
    }

    context->pendingCompletion = completion;
    switch (completion) {
        case kCompletionSameRow:
            EmitLines(context);
            break;
        case kCompletionFirstRow:
            // The rows above the page's first line are blank, and the sub-lines of its
            // row above the line become empty lines.
            context->pendingBlankRows = newRow;
            for (int plane = 0; plane < context->planeCount; ++plane) {
                PlaneState& state = context->planes[plane];
                state.previousLine = state.currentLine;
                state.previousLine.subLine = -1;
            }
            EmitLines(context);
            break;
        case kCompletionRowChange:
            EmitRowChange(context);
            break;
        default:  // band production records no other kind
            break;
    }
    if (split) {
        for (int plane = 0; plane < context->planeCount; ++plane)
            UnlockBlock(context->rowBufferHandles[plane]);
    }
    context->lastLineNumber = lineNumber;
    return kOk;
}

}  // namespace

void WritePageHeader(std::uint8_t* dest, std::int16_t linesPerRow) {
    static constexpr std::uint8_t kPageHeader[kPageHeaderSize] = {
        0x1B, 0x28, 0x49, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, 0x00};
    std::memcpy(dest, kPageHeader, sizeof kPageHeader);
    dest[11] = static_cast<std::uint8_t>(linesPerRow & 0xFF);
}

void AppendPageHeader(OutputContext* context) {
    std::uint8_t header[kPageHeaderSize];
    // A form-feed job that never set up a page has no lines per row of its own yet;
    // its header names the 8 that every form-feed page uses, as 0 is no valid value.
    const std::int16_t linesPerRow = context->linesPerRow != 0 ? context->linesPerRow : 8;
    WritePageHeader(header, linesPerRow);
    WriteControlCommand(context, header, sizeof header);
}

void LockOutputLists(OutputContext* context) {
    context->segmentList = reinterpret_cast<SegmentList*>(LockBlock(context->segmentListHandle));
    LockBufferChain(&context->controlChain);
    context->segmentList->items =
        reinterpret_cast<Segment*>(LockBlock(context->segmentItemsHandle));
}

void UnlockOutputLists(OutputContext* context) {
    UnlockBlock(context->segmentItemsHandle);
    UnlockBufferChain(&context->controlChain);
    UnlockBlock(context->segmentListHandle);
}

void HandOutSegmentList(OutputContext* context, void** segmentListOut) {
    context->segmentList->itemsHandle = context->segmentItemsHandle;
    *segmentListOut = context->segmentListHandle;
}

}  // namespace inkrow

using namespace inkrow;

extern "C" int16_t OutputProduceTwo(OutputHandle* handle, RasterBand* band, void** segmentListOut) {
    OutputContext* context = LockContext(handle);
    if (context == nullptr || band == nullptr || segmentListOut == nullptr) return kFailed;
    LockOutputLists(context);
    std::int16_t result = CheckCall(context->stateHandle, kCallBand);
    if (result == kOk) {
        LockPackets(context);
        result = ProduceBand(context, band);
        if (result == kOk) {
            HandOutSegmentList(context, segmentListOut);
            result = CommitCall(context->stateHandle, kCallBand);
        }
        UnlockPackets(context);
    }
    UnlockOutputLists(context);
    UnlockContext(handle);
    return result;
}
