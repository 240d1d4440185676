// Line emission: turns the stream of single raster lines into complete per-row packets,
// with an empty line (0x80) for every sub-line that no call supplied.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

inline constexpr std::uint8_t kEndOfLine = 0x80;

// Appends the encoded line (leading zero run, packed inked bytes, 0x80) at the node's
// cursor and adds its size to the packet's length field.
void EmitEncodedLine(BufferNode* node, const std::uint8_t* rowData, const LineState& line);

// EncodedLineSize for a line that holds ink.
std::uint32_t EncodedInkedLineSize(const std::uint8_t* rowData, const LineState& line,
                                   std::uint32_t budget);

// Bytes EmitEncodedLine will write for the line. The cheap upper bound is returned when
// it is at most `budget`; otherwise the exact size is measured. Inline for the blank
// line, which every band of a sparse page has in most planes.
inline std::uint32_t EncodedLineSize(const std::uint8_t* rowData, const LineState& line,
                                     std::uint32_t budget) {
    if (line.blankFlag == kLineIsBlank) return 1;
    return EncodedInkedLineSize(rowData, line, budget);
}

// Appends n empty lines to a packet.
void EmitEmptyLines(BufferNode* node, int n);

// The current line of every plane joins the packet of the row being built.
void EmitLines(OutputContext* context);

// The current line starts a later row: finish and commit the row being built, stage the
// new line, and skip the rows no line reached.
void EmitRowChange(OutputContext* context);

// Completion of a band: the current line of every plane becomes its previous line.
void TakeCurrentLines(OutputContext* context);

// Completion of a row change: the staged packet of each plane becomes the packet of
// the new row, and the staging packet is emptied.
void MoveStagedPackets(OutputContext* context);

}  // namespace inkrow
