// The ink sets: which inks a page prints with, in which plane order.
//
// An ink set is what the print-mode tables (print_modes.cpp) hand a page: the planes a
// caller fills, the printer's ink code of each, and which plane (if any) carries the
// black ink K and the light black k, so that a row with only black ink can select just
// those planes. Everything that names an ink set, from the module's row commit to the
// render stage and the front ends' driver checks, reads this one table.
//
// Fields of an entry:
//   id           the number the module stores per page (and RenderMode.inkSetId reports)
//   name         a short name for listings
//   inks         ink letters of the planes the caller hands in, plane 0 first; for the
//                sixteen-ink set these are the six inputs the split feeds
//   planeCount   planes of the set as the module counts them (16 for the split set)
//   kPlane       the plane that prints K, or -1
//   lightKPlane  the plane that prints k, or -1
//   selection    the ink codes of the full "ESC ( L" selection, in plane order: the
//                n-th code names the ink of the n-th packet that follows
//   selectionLength  how many of them
#pragma once

#include <cstdint>

namespace inkrow {

// Planes a page can have (the sixteen printer planes of the split set).
inline constexpr int kMaxPlanes = 16;

enum InkSet : std::int16_t {
    kInkSetNone = 0,         // the quality and media pair has no print mode
    kInkSetBlack = 1,        // K
    kInkSetCmy = 2,          // C M Y
    kInkSetCmyk = 3,         // C M Y K
    kInkSetCmyLightK = 4,    // C M Y k
    kInkSetCmykLightK = 5,   // C M Y K k
    kInkSetCmykLightCm = 6,  // C M Y K c m
    kInkSetCmyLightCmk = 7,  // C M Y c m k
    kInkSetSeven = 8,        // C M Y K c m k
    kInkSetSixteen = 9,      // six 4-bit inputs split into sixteen 2-bit planes
};
inline constexpr int kInkSetCount = 10;

struct InkSetEntry {
    InkSet id;
    const char* name;
    const char* inks;
    std::int16_t planeCount;
    std::int8_t kPlane;
    std::int8_t lightKPlane;
    std::uint8_t selectionLength;
    std::uint8_t selection[16];
};

// clang-format off
inline constexpr InkSetEntry kInkSets[kInkSetCount] = {
//   id                  name        inks       planes  K  k  selection
    {kInkSetNone,        "none",     "",        0,  -1, -1, 0,  {}},
    {kInkSetBlack,       "K",        "K",       1,   0, -1, 0,  {}},  // never a full selection
    {kInkSetCmy,         "CMY",      "CMY",     3,  -1, -1, 3,  {'C', 'M', 'Y'}},
    {kInkSetCmyk,        "CMYK",     "CMYK",    4,   3, -1, 4,  {'C', 'M', 'Y', 'K'}},
    {kInkSetCmyLightK,   "CMYk",     "CMYk",    4,  -1,  3, 4,  {'C', 'M', 'Y', 'k'}},
    {kInkSetCmykLightK,  "CMYKk",    "CMYKk",   5,   3,  4, 5,  {'C', 'M', 'Y', 'K', 'k'}},
    {kInkSetCmykLightCm, "CMYKcm",   "CMYKcm",  6,   3, -1, 6,  {'C', 'M', 'Y', 'K', 'c', 'm'}},
    {kInkSetCmyLightCmk, "CMYcmk",   "CMYcmk",  6,  -1,  5, 6,  {'C', 'M', 'Y', 'c', 'm', 'k'}},
    {kInkSetSeven,       "CMYKcmk",  "CMYKcmk", 7,   3,  6, 7,  {'C', 'M', 'Y', 'K', 'c', 'm', 'k'}},
    // The split's sixteen printer planes: the six inks at three drop sizes and more.
    {kInkSetSixteen,     "sixteen",  "CMYcmk",  16, -1, -1, 16,
     {0x43, 0x4D, 0x59, 0x63, 0x6D, 0x6B, 0xC3, 0xCD, 0xD9, 0xA3, 0xAD, 0xEB, 0xE3, 0xED, 0x23,
      0x2D}},
};
// clang-format on

// The entry of an ink set id; the "none" entry for an id outside the table.
constexpr const InkSetEntry& InkSetOf(int id) {
    return id > kInkSetNone && id < kInkSetCount ? kInkSets[id] : kInkSets[kInkSetNone];
}

// Every entry sits at its own id, and its planes fit a page.
constexpr bool InkSetTableIsConsistent() {
    for (int id = 0; id < kInkSetCount; ++id) {
        const InkSetEntry& entry = kInkSets[id];
        if (entry.id != id || entry.planeCount > kMaxPlanes) return false;
        if (entry.selectionLength != 0 && entry.selectionLength != entry.planeCount) return false;
    }
    return true;
}
static_assert(InkSetTableIsConsistent());

}  // namespace inkrow
