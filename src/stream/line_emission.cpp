#include "stream/line_emission.h"

#include <cstring>

#include "stream/buffer_chain.h"
#include "stream/line_code.h"
#include "stream/row_commit.h"

namespace inkrow {

void EmitEmptyLines(BufferNode* node, int n) {
    if (n <= 0) return;
    if (n == 1) {
        // The common case, a blank line: one byte, not a call.
        *node->cursor++ = kEndOfLine;
        AddPacketLength(node->base, 1);
        return;
    }
    std::memset(node->cursor, kEndOfLine, static_cast<std::size_t>(n));
    node->cursor += n;
    AddPacketLength(node->base, static_cast<std::uint16_t>(n));
}

void EmitEncodedLine(BufferNode* node, const std::uint8_t* rowData, const LineState& line) {
    if (line.blankFlag == kLineIsBlank) {
        EmitEmptyLines(node, 1);
        return;
    }
    std::uint16_t written = 0;
    if (line.firstInkByte > 0)
        written = PackZeroRun(node->cursor, static_cast<std::uint16_t>(line.firstInkByte));
    written = static_cast<std::uint16_t>(
        written + PackBytes(node->cursor + written, rowData + line.firstInkByte,
                            static_cast<std::uint16_t>(line.lastInkByte - line.firstInkByte + 1)));
    node->cursor += written;
    *node->cursor++ = kEndOfLine;
    AddPacketLength(node->base, static_cast<std::uint16_t>(written + 1));
}

std::uint32_t EncodedInkedLineSize(const std::uint8_t* rowData, const LineState& line,
                                   std::uint32_t budget) {
    const auto zeros = static_cast<std::uint32_t>(line.firstInkByte);
    const auto inked = static_cast<std::uint32_t>(line.lastInkByte - line.firstInkByte + 1);
    const std::uint32_t zeroRun = 2 * ((zeros + 127) / 128);
    const std::uint32_t bound = zeroRun + 2 * inked + 1;
    if (bound <= budget) return bound;
    return zeroRun +
           MeasurePackedBytes(rowData + line.firstInkByte, static_cast<std::uint16_t>(inked)) + 1;
}

void EmitLines(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane) {
        PlaneState& state = context->planes[plane];
        BufferNode* packet = &state.packetChain;
        const int missing = state.currentLine.subLine - 1 - state.previousLine.subLine;
        if (missing > 0) {
            EmitEmptyLines(packet, missing);
            state.previousLine.subLine = static_cast<std::int16_t>(state.currentLine.subLine - 1);
        }
        EmitEncodedLine(packet, context->rows[plane].rowData, state.currentLine);
    }
}

void EmitRowChange(OutputContext* context) {
    FinishRow(context);
    for (int plane = 0; plane < context->planeCount; ++plane) {
        const PlaneState& state = context->planes[plane];
        BufferNode* staging = &context->stagingChains[plane];
        LockBufferChain(staging);
        EmitEmptyLines(staging, state.currentLine.subLine);
        EmitEncodedLine(staging, context->rows[plane].rowData, state.currentLine);
        UnlockBufferChain(staging);
    }

    // With one packet buffer per plane exactly one row, the row being built, is
    // committed; the completion finds that row in previousLine again.
    const std::int32_t newRow = context->planes[0].currentLine.rowNumber;
    const std::int64_t endRow = CommitRowsUpTo(context, newRow);
    const std::int64_t untouched = newRow - endRow;
    if (untouched > 0) EmitRowSkip(context, untouched);
}

void TakeCurrentLines(OutputContext* context) {
    for (int plane = 0; plane < context->planeCount; ++plane)
        context->planes[plane].previousLine = context->planes[plane].currentLine;
}

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

}  // namespace inkrow
