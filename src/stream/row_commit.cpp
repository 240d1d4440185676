#include "stream/row_commit.h"

#include <algorithm>
#include <cstdint>

#include "stream/buffer_chain.h"
#include "stream/ink_selection.h"
#include "stream/line_emission.h"

namespace inkrow {
namespace {

const Selection* SelectionFor(std::int16_t rowClass, std::int16_t inkSetId) {
    switch (rowClass) {
        case kClassK:
            return &kSelectK;
        case kClassLightK:
            return &kSelectLightK;
        case kClassBothK:
            return &kSelectBothK;
        case kClassFull:
            if (InkSetOf(inkSetId).selectionLength == 0) return nullptr;
            return &kSelectFull[inkSetId];
        default:
            return nullptr;
    }
}

bool PlaneSelected(std::int16_t rowClass, int plane, int kPlane, int lightKPlane) {
    switch (rowClass) {
        case kClassK:
            return plane == kPlane;
        case kClassLightK:
            return plane == lightKPlane;
        case kClassBothK:
            return plane == kPlane || plane == lightKPlane;
        case kClassFull:
            return true;
        default:
            return false;
    }
}

}  // namespace

int KPlaneOf(std::int16_t inkSetId) {
    return InkSetOf(inkSetId).kPlane;
}

int LightKPlaneOf(std::int16_t inkSetId) {
    return InkSetOf(inkSetId).lightKPlane;
}

std::int16_t ClassifyRow(OutputContext* context, std::uint16_t blankLength, bool resetBlank) {
    const int kPlane = KPlaneOf(context->inkSetId);
    const int lightKPlane = LightKPlaneOf(context->inkSetId);
    std::int16_t rowClass = kClassBlank;
    for (int plane = 0; plane < context->planeCount; ++plane) {
        BufferNode* packet = &context->planes[plane].packetChain;
        const std::uint16_t length = PacketLength(packet->base);
        if (length == blankLength || length == 0) {
            if (resetBlank) ResetPacket(packet);
            continue;
        }
        if (plane == kPlane) {
            if (rowClass == kClassBlank)
                rowClass = kClassK;
            else if (rowClass == kClassLightK)
                rowClass = kClassBothK;
        } else if (plane == lightKPlane) {
            if (rowClass == kClassBlank)
                rowClass = kClassLightK;
            else if (rowClass == kClassK)
                rowClass = kClassBothK;
        } else {
            rowClass = kClassFull;
        }
    }
    return rowClass;
}

std::int32_t SkipCommandCount(std::int64_t rows) {
    if (rows <= 0) return 0;
    const std::int64_t commands = (rows + kMaxSkipRows - 1) / kMaxSkipRows;
    return commands > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(commands);
}

namespace {

// The control commands CommitRow writes for a row of this class: the skips owed, then a
// selection when the class changed and has one. Every command is one segment.
std::int32_t CommitCommandCount(const OutputContext* context, std::int16_t rowClass) {
    if (rowClass == kClassBlank) return 0;
    std::int32_t commands = SkipCommandCount(context->pendingBlankRows);
    if (rowClass != context->lastInkSelection && SelectionFor(rowClass, context->inkSetId))
        ++commands;
    return commands;
}

}  // namespace

std::int32_t CommitSegmentCount(const OutputContext* context, std::int16_t rowClass) {
    if (rowClass == kClassBlank) return 0;
    std::int32_t segments = CommitCommandCount(context, rowClass);
    const int kPlane = KPlaneOf(context->inkSetId);
    const int lightKPlane = LightKPlaneOf(context->inkSetId);
    for (int plane = 0; plane < context->planeCount; ++plane)
        if (PlaneSelected(rowClass, plane, kPlane, lightKPlane)) ++segments;
    return segments;
}

void EmitRowSkip(OutputContext* context, std::int64_t rows) {
    while (rows > 0) {
        const std::int64_t count = rows > kMaxSkipRows ? kMaxSkipRows : rows;
        const std::uint8_t command[7] = {0x1B,
                                         0x28,
                                         0x65,
                                         0x02,
                                         0x00,
                                         static_cast<std::uint8_t>(count >> 8),
                                         static_cast<std::uint8_t>(count & 0xFF)};
        WriteControlCommand(context, command, sizeof command);
        rows -= count;
    }
}

void CommitRow(OutputContext* context) {
    const std::int16_t rowClass =
        ClassifyRow(context, static_cast<std::uint16_t>(context->linesPerRow), true);
    if (rowClass == kClassBlank) {
        // Saturates rather than wraps; a count that large can never be listed anyway,
        // so the next inked row would be refused.
        if (context->pendingBlankRows < INT32_MAX) ++context->pendingBlankRows;
        return;
    }
    if (context->pendingBlankRows > 0) {
        EmitRowSkip(context, context->pendingBlankRows);
        context->pendingBlankRows = 0;
    }
    if (rowClass != context->lastInkSelection) {
        // Ink sets without a full selection cannot reach class 4 from a valid setup;
        // an undefined selection is never sent.
        const Selection* selection = SelectionFor(rowClass, context->inkSetId);
        if (selection != nullptr) WriteControlCommand(context, selection->bytes, selection->length);
    }
    context->lastInkSelection = rowClass;
    const int kPlane = KPlaneOf(context->inkSetId);
    const int lightKPlane = LightKPlaneOf(context->inkSetId);
    for (int plane = 0; plane < context->planeCount; ++plane)
        if (PlaneSelected(rowClass, plane, kPlane, lightKPlane))
            AddSegment(context->segmentList, &context->planes[plane].packetChain);
}

std::uint32_t FinishingLines(const OutputContext* context, const PlaneState& state) {
    return static_cast<std::uint32_t>(context->linesPerRow - 1 - state.previousLine.subLine);
}

bool FinishingFits(const OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        const PlaneState& state = context->planes[plane];
        if (!PacketHasRoom(&state.packetChain, FinishingLines(context, state))) return false;
    }
    return true;
}

void FinishRow(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        PlaneState& state = context->planes[plane];
        EmitEmptyLines(&state.packetChain, context->linesPerRow - 1 - state.previousLine.subLine);
        state.previousLine.subLine = static_cast<std::int16_t>(context->linesPerRow - 1);
    }
}

std::int32_t BuiltRowSegments(OutputContext* context) {
    return CountBuiltRow(context).segments;
}

RowCommitCounts CountBuiltRow(OutputContext* context) {
    if (context->planeCount == 0) return {0, 0};
    const auto blankLength =
        static_cast<std::uint16_t>(context->planes[0].previousLine.subLine + 1);
    const std::int16_t rowClass = ClassifyRow(context, blankLength, false);
    return {CommitSegmentCount(context, rowClass), CommitCommandCount(context, rowClass)};
}

namespace {

// The row after the last one that a ring of ringDepth packet buffers holds from the row
// being built on, but not past endRow.
std::int64_t RingEnd(const OutputContext* context, std::int64_t endRow) {
    return std::min<std::int64_t>(
        static_cast<std::int64_t>(context->planes[0].previousLine.rowNumber) + context->ringDepth,
        endRow);
}

}  // namespace

std::int64_t CommitRowsUpTo(OutputContext* context, std::int64_t endRow) {
    const std::int32_t builtRow = context->planes[0].previousLine.rowNumber;
    const std::int64_t limit = RingEnd(context, endRow);
    for (std::int64_t row = builtRow; row < limit; ++row) {
        CommitRow(context);
        for (int plane = 0; plane < context->planeCount; ++plane)
            ++context->planes[plane].previousLine.rowNumber;
    }
    for (int plane = 0; plane < context->planeCount; ++plane)
        context->planes[plane].previousLine.rowNumber = builtRow;
    return limit;
}

void DropRowsUpTo(OutputContext* context, std::int64_t endRow) {
    const std::int64_t limit = RingEnd(context, endRow);
    while (context->planes[0].previousLine.rowNumber < limit) {
        for (int plane = 0; plane < context->planeCount; ++plane) {
            ResetPacket(&context->planes[plane].packetChain);
            ++context->planes[plane].previousLine.rowNumber;
        }
    }
}

}  // namespace inkrow
