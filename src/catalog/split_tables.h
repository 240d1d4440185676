// The sixteen-ink split: how six four-bit input planes drive sixteen two-bit printer
// planes.
//
// kSplitSource     the input plane of each printer plane, in the order of the sixteen-ink
//                  selection (ink_sets.h): the six inputs' own planes first, then the
//                  ten the split alone reaches
// kTwoWaySplit     an input level of a two-way input (C, M, Y, k: two printer planes)
//                  as its two 2-bit fields, the first printer plane's in bits 7-6
// kFourWaySplit    the same for the four-way inputs (c, m: four printer planes)
//
// Levels past a table print nothing. The module's split (raster/split.cpp), the render
// stage's level values (render/mode.cpp) and the tools' read-back all read these.
#pragma once

#include <cstdint>

namespace inkrow {

inline constexpr int kSplitInputs = 6;
inline constexpr int kSplitOutputs = 16;

// clang-format off
inline constexpr std::uint8_t kSplitSource[kSplitOutputs] = {
//  C  M  Y  c  m  k | the ten further planes
    0, 1, 2, 3, 4, 5,  0, 1, 2, 3, 4, 5, 3, 4, 3, 4};
inline constexpr std::uint8_t kTwoWaySplit[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
inline constexpr std::uint8_t kFourWaySplit[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                                   0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};
// clang-format on

// Whether an input drives four printer planes (c and m) rather than two.
constexpr bool IsFourWayInput(int input) {
    int outputs = 0;
    for (std::uint8_t source : kSplitSource)
        outputs += source == input ? 1 : 0;
    return outputs == 4;
}

// Which of its input's printer planes a printer plane is: 0 for the first.
constexpr int SplitOutputIndex(int printerPlane) {
    int index = 0;
    for (int k = 0; k < printerPlane; ++k)
        index += kSplitSource[k] == kSplitSource[printerPlane] ? 1 : 0;
    return index;
}

// The 2-bit level printer plane `printerPlane` prints for its input's level.
constexpr int SplitLevel(int printerPlane, int inputLevel) {
    const bool fourWay = IsFourWayInput(kSplitSource[printerPlane]);
    const int levels = fourWay ? 16 : 8;
    if (inputLevel < 0 || inputLevel >= levels) return 0;
    const std::uint8_t fields = fourWay ? kFourWaySplit[inputLevel] : kTwoWaySplit[inputLevel];
    return (fields >> (6 - 2 * SplitOutputIndex(printerPlane))) & 3;
}

}  // namespace inkrow
