#include "stream/row_commit.h"

#include <cstdint>
#include <cstring>

#include "mode/print_mode.h"
#include "stream/buffer_chain.h"

namespace inkrow {
namespace {

struct Selection {
    std::uint8_t length;
    std::uint8_t bytes[21];
};

constexpr Selection kSelectK{6, {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x4B}};
constexpr Selection kSelectLightK{6, {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x6B}};
constexpr Selection kSelectBothK{7, {0x1B, 0x28, 0x4C, 0x02, 0x00, 0x4B, 0x6B}};

// The full selection of each ink set, indexed by inkSetId; the n-th ink code names the
// ink of plane n - 1, so the packets that follow go in plane order.
constexpr Selection kSelectFull[10] = {
    {0, {}},
    {0, {}},  // one plane, its K plane: never class 4
    {8, {0x1B, 0x28, 0x4C, 0x03, 0x00, 'C', 'M', 'Y'}},
    {9, {0x1B, 0x28, 0x4C, 0x04, 0x00, 'C', 'M', 'Y', 'K'}},
    {9, {0x1B, 0x28, 0x4C, 0x04, 0x00, 'C', 'M', 'Y', 'k'}},
    {10, {0x1B, 0x28, 0x4C, 0x05, 0x00, 'C', 'M', 'Y', 'K', 'k'}},
    {11, {0x1B, 0x28, 0x4C, 0x06, 0x00, 'C', 'M', 'Y', 'K', 'c', 'm'}},
    {11, {0x1B, 0x28, 0x4C, 0x06, 0x00, 'C', 'M', 'Y', 'c', 'm', 'k'}},
    {12, {0x1B, 0x28, 0x4C, 0x07, 0x00, 'C', 'M', 'Y', 'K', 'c', 'm', 'k'}},
    {21, {0x1B, 0x28, 0x4C, 0x10, 0x00, 0x43, 0x4D, 0x59, 0x63, 0x6D, 0x6B,
          0xC3, 0xCD, 0xD9, 0xA3, 0xAD, 0xEB, 0xE3, 0xED, 0x23, 0x2D}},
};

// The selections name the planes in the order the print-mode tables give them.
constexpr bool SelectionsMatchInkSets() {
    for (int set = 2; set <= 9; ++set) {
        const char* inks = kInkSetInks[set];
        for (int i = 0; inks[i] != 0; ++i)
            if (kSelectFull[set].bytes[5 + i] != static_cast<std::uint8_t>(inks[i])) return false;
    }
    return true;
}
static_assert(SelectionsMatchInkSets());

const Selection* SelectionFor(std::int16_t rowClass, std::int16_t inkSetId) {
    switch (rowClass) {
        case kClassK:
            return &kSelectK;
        case kClassLightK:
            return &kSelectLightK;
        case kClassBothK:
            return &kSelectBothK;
        case kClassFull:
            if (inkSetId < 2 || inkSetId > 9) return nullptr;
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

void WriteCommand(OutputContext* context, const std::uint8_t* bytes, std::size_t length) {
    BufferNode* node = FindEmptyControlNode(context);
    // The calls reserve their control nodes before they start, so this never fails;
    // a command is never written into a node that is not there.
    if (node == nullptr || node->base == nullptr) return;
    std::memcpy(node->cursor, bytes, length);
    node->cursor += length;
    AddSegment(context->segmentList, node);
}

}  // namespace

int KPlaneOf(std::int16_t inkSetId) {
    switch (inkSetId) {
        case 1:
            return 0;
        case 3:
        case 5:
        case 6:
        case 8:
            return 3;
        default:
            return -1;
    }
}

int LightKPlaneOf(std::int16_t inkSetId) {
    switch (inkSetId) {
        case 4:
            return 3;
        case 5:
            return 4;
        case 7:
            return 5;
        case 8:
            return 6;
        default:
            return -1;
    }
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

std::int32_t CommitSegmentCount(const OutputContext* context, std::int16_t rowClass) {
    if (rowClass == kClassBlank) return 0;
    std::int32_t segments = SkipCommandCount(context->pendingBlankRows);
    if (rowClass != context->lastInkSelection && SelectionFor(rowClass, context->inkSetId))
        ++segments;
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
        WriteCommand(context, command, sizeof command);
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
        if (selection != nullptr) WriteCommand(context, selection->bytes, selection->length);
    }
    context->lastInkSelection = rowClass;
    const int kPlane = KPlaneOf(context->inkSetId);
    const int lightKPlane = LightKPlaneOf(context->inkSetId);
    for (int plane = 0; plane < context->planeCount; ++plane)
        if (PlaneSelected(rowClass, plane, kPlane, lightKPlane))
            AddSegment(context->segmentList, &context->planes[plane].packetChain);
}

}  // namespace inkrow
