// Print modes: the constant tables that map a job's quality and media codes to an ink
// set, a plane count and each plane's pixel format, and the page configuration rules.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace inkrow {

inline constexpr int kQualityRows = 5;
inline constexpr int kMediaColumns = 13;
inline constexpr int kFormatPlanes = 7;

extern const std::uint8_t InkSetTable[kQualityRows * kMediaColumns];
extern const std::uint8_t (&PlaneFormatTable)[kQualityRows * kMediaColumns * kFormatPlanes];

std::int16_t QualityRow(std::int16_t qualityCode);
std::int16_t MediaColumn(std::int16_t mediaCode);
std::int16_t LookupInkSet(std::int16_t qualityCode, std::int16_t mediaCode,
                          const std::uint8_t* table);
// 0xFF80 when the pair has no ink set.
std::int16_t LookupPlaneCount(std::int16_t qualityCode, std::int16_t mediaCode,
                              const std::uint8_t* table);
// Bits per pixel of the plane's rows (1, 2 or 4), or 0.
std::int16_t LookupPlaneFormat(std::int16_t qualityCode, std::int16_t mediaCode,
                               std::int16_t planeIndex, const std::uint8_t* table);
// 0x20 when the plane's rows pass through the code conversion, else 0.
std::int16_t LookupCodeConversion(std::int16_t qualityCode, std::int16_t mediaCode,
                                  std::int16_t planeIndex, const std::uint8_t* table);

// Ink letters of each ink set's planes, plane 0 first, as its full ink selection names
// them; the sixteen-ink set (9) names the six input planes that the split feeds.
inline constexpr const char* kInkSetInks[10] = {"",      "K",      "CMY",    "CMYK",    "CMYk",
                                                "CMYKk", "CMYKcm", "CMYcmk", "CMYKcmk", "CMYcmk"};

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
// kOk, or kFailed when the pair has no ink set or the tables give a bad format.
std::int16_t ChoosePageConfiguration(std::int16_t qualityCode, std::int16_t mediaCode,
                                     std::int16_t blackOnly, std::int16_t kForBlack,
                                     std::int16_t keepColor, PageConfiguration* out);

// Raster lines per row for a page's resolution and form-feed flag: 8, 16 or 1.
std::int16_t ChooseLinesPerRow(std::int16_t resolution, std::int16_t formFeedFlag);

}  // namespace inkrow
