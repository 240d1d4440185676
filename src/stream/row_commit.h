// Row commit: a finished row is either counted as blank or sent with the blank-row
// skips still owed, an ink selection when the set of inks changed, and its packets.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

inline constexpr std::int32_t kMaxSkipRows = 32767;

// Ink-selection classes of a row.
enum InkClass : std::int16_t {
    kClassBlank = 0,
    kClassK = 1,
    kClassLightK = 2,
    kClassBothK = 3,
    kClassFull = 4,
};

// The plane that carries the ink named K, or the one named k, of an ink set; -1 none.
int KPlaneOf(std::int16_t inkSetId);
int LightKPlaneOf(std::int16_t inkSetId);

// The class of the row in the planes' packets. A plane is blank when its packet's length
// is blankLength (every line empty) or 0; with resetBlank its packet is then emptied.
std::int16_t ClassifyRow(OutputContext* context, std::uint16_t blankLength, bool resetBlank);

// Number of "ESC ( e" commands that skipping `rows` rows takes.
std::int32_t SkipCommandCount(std::int64_t rows);

// Segments CommitRow adds for a row of the given class.
std::int32_t CommitSegmentCount(const OutputContext* context, std::int16_t rowClass);

void EmitRowSkip(OutputContext* context, std::int64_t rows);
void CommitRow(OutputContext* context);

// The row being built is the row of planes[*].previousLine; its packets hold the lines
// up to previousLine.subLine. These steps serve both a row change and the page ends.

// Empty lines that would finish the row being built in the plane's packet.
std::uint32_t FinishingLines(const OutputContext* context, const PlaneState& state);
// Whether every plane's packet has room for its finishing lines.
bool FinishingFits(const OutputContext* context);
// Appends the finishing lines to every plane's packet.
void FinishRow(OutputContext* context);

// Segments that committing the row being built will list, decided before it is
// finished (its blank packets then hold subLine + 1 empty lines).
std::int32_t BuiltRowSegments(OutputContext* context);

// What committing the row being built will list (segments) and how many of those are
// control commands written into control nodes (the blank-row skips owed and an ink
// selection); decided before the row is finished, as BuiltRowSegments.
struct RowCommitCounts {
    std::int32_t segments;
    std::int32_t commands;
};
RowCommitCounts CountBuiltRow(OutputContext* context);

// Commits the rows from the row being built up to endRow (exclusive, at most
// ringDepth rows), then puts the row being built back where it was, so that the
// completion finds it in previousLine again. Returns the row after the last committed.
std::int64_t CommitRowsUpTo(OutputContext* context, std::int64_t endRow);

// Empties the packets of the rows from the row being built up to endRow (exclusive,
// at most ringDepth rows) and moves the row being built on past them.
void DropRowsUpTo(OutputContext* context, std::int64_t endRow);

}  // namespace inkrow
