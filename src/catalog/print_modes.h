// Print modes: the constant tables that map a job's quality and media codes to an ink
// set, a plane count and each plane's pixel format, and the page configuration rules.
//
// The quality codes fall into five rows and the media codes into thirteen columns
// (kQualityOfRow and kMediaColumns below name them); a cell of the two tables gives the
// ink set and, per plane, its bits per pixel and whether it passes through the code
// conversion. Codes that name no row or column read row or column 0.
#pragma once

#include <cstdint>

#include "catalog/ink_sets.h"

namespace inkrow {

inline constexpr int kQualityRows = 5;
inline constexpr int kMediaColumns = 13;
inline constexpr int kFormatPlanes = 7;

// The quality code of each row, row 0 first; row 0 also takes 30 and every code that
// names no row. Lower codes print finer and slower.
inline constexpr std::int16_t kQualityOfRow[kQualityRows] = {20, 15, 10, 5, 0};
inline constexpr int kRowQuality10 = 2;
inline constexpr int kRowQuality5 = 3;

// The media codes of each column; column 0 also takes every code that names no column.
// codes[0] stands for the column in listings. Codes of one column print alike.
struct MediaColumnEntry {
    const char* name;
    std::int16_t codes[3];
    std::int16_t codeCount;
};
// clang-format off
inline constexpr MediaColumnEntry kMediaColumnsOf[kMediaColumns] = {
    {"plain",         {0},          1},
    {"matte",         {7, 8},       2},
    {"glossy",        {27},         1},
    {"transparency",  {1},          1},
    {"media 18",      {18},         1},
    {"media 15",      {15, 22, 24}, 3},
    {"media 16",      {16},         1},
    {"premium glossy", {26},        1},
    {"media 28",      {28},         1},
    {"semi-gloss",    {29},         1},
    {"media 31",      {31, 32},     2},
    {"media 36",      {36},         1},
    {"media 37",      {37},         1},
};
// clang-format on
inline constexpr int kColumnPlain = 0;
inline constexpr int kColumnMatte = 1;

extern const std::uint8_t InkSetTable[kQualityRows * kMediaColumns];
extern const std::uint8_t (&PlaneFormatTable)[kQualityRows * kMediaColumns * kFormatPlanes];

std::int16_t QualityRow(std::int16_t qualityCode);
std::int16_t MediaColumn(std::int16_t mediaCode);
std::int16_t LookupInkSet(std::int16_t qualityCode, std::int16_t mediaCode,
                          const std::uint8_t* table);
// 0 when the pair has no ink set.
std::int16_t LookupPlaneCount(std::int16_t qualityCode, std::int16_t mediaCode,
                              const std::uint8_t* table);
// Bits per pixel of the plane's rows (1, 2 or 4), or 0.
std::int16_t LookupPlaneFormat(std::int16_t qualityCode, std::int16_t mediaCode,
                               std::int16_t planeIndex, const std::uint8_t* table);
// 0x20 when the plane's rows pass through the code conversion, else 0.
std::int16_t LookupCodeConversion(std::int16_t qualityCode, std::int16_t mediaCode,
                                  std::int16_t planeIndex, const std::uint8_t* table);

// Plane count of an ink set id, 0 for an unknown id.
std::int16_t InkSetPlaneCount(std::int16_t inkSetId);

// What a page of a print mode looks like to the planes.
struct PageConfiguration {
    std::int16_t inkSetId;
    std::int16_t planeCount;
    std::int16_t pixelShift[kMaxPlanes];
    std::int16_t codeConversion[kMaxPlanes];
    std::int16_t twoBitSplit;  // same on every plane
};

// Chooses the configuration of a page from the job's codes and the page's flags.
// False when the pair has no ink set or the tables give a bad format.
bool ChoosePageConfiguration(std::int16_t qualityCode, std::int16_t mediaCode,
                             std::int16_t blackOnly, std::int16_t kForBlack, std::int16_t keepColor,
                             PageConfiguration* out);

// Raster lines per row for a page's resolution and form-feed flag: 8, 16 or 1.
std::int16_t ChooseLinesPerRow(std::int16_t resolution, std::int16_t formFeedFlag);

}  // namespace inkrow
