// The "ESC ( L" ink selections a committed row may need: K alone, light k alone, both,
// or every plane of the ink set.
#pragma once

#include <cstdint>

#include "catalog/ink_sets.h"

namespace inkrow {

struct Selection {
    std::uint8_t length;
    std::uint8_t bytes[21];
};

inline constexpr Selection kSelectK{6, {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x4B}};
inline constexpr Selection kSelectLightK{6, {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x6B}};
inline constexpr Selection kSelectBothK{7, {0x1B, 0x28, 0x4C, 0x02, 0x00, 0x4B, 0x6B}};

// The full selection of each ink set, indexed by inkSetId: the ink codes of the
// catalogue's entry behind the command and its count, so the packets that follow go in
// plane order. Sets without a full selection (none, K alone) have length 0.
constexpr Selection FullSelectionOf(const InkSetEntry& entry) {
    Selection selection{};
    if (entry.selectionLength == 0) return selection;
    selection.length = static_cast<std::uint8_t>(5 + entry.selectionLength);
    selection.bytes[0] = 0x1B;
    selection.bytes[1] = 0x28;
    selection.bytes[2] = 0x4C;
    selection.bytes[3] = entry.selectionLength;
    selection.bytes[4] = 0x00;
    for (int i = 0; i < entry.selectionLength; ++i)
        selection.bytes[5 + i] = entry.selection[i];
    return selection;
}

constexpr auto BuildFullSelections() {
    struct Table {
        Selection items[kInkSetCount];
    } table{};
    for (int id = 0; id < kInkSetCount; ++id)
        table.items[id] = FullSelectionOf(kInkSets[id]);
    return table;
}

inline constexpr auto kSelectFullTable = BuildFullSelections();
inline constexpr const Selection (&kSelectFull)[kInkSetCount] = kSelectFullTable.items;

// Pins two of the selections to their bytes on the wire.
static_assert(kSelectFull[kInkSetCmyk].length == 9 && kSelectFull[kInkSetCmyk].bytes[3] == 4 &&
              kSelectFull[kInkSetCmyk].bytes[8] == 'K');
static_assert(kSelectFull[kInkSetSixteen].length == 21 &&
              kSelectFull[kInkSetSixteen].bytes[20] == 0x2D);

}  // namespace inkrow
