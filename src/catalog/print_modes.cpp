#include "catalog/print_modes.h"

#include <initializer_list>

namespace inkrow {

namespace {
// Short names of the ink sets for the table below: xx none, C3 CMY, C4 CMYK, Ck CMYk,
// C5 CMYKk, Cm CMYKcm, C6 CMYcmk, C7 CMYKcmk, S6 the sixteen-ink split.
constexpr std::uint8_t xx = kInkSetNone;
constexpr std::uint8_t C3 = kInkSetCmy;
constexpr std::uint8_t C4 = kInkSetCmyk;
constexpr std::uint8_t Ck = kInkSetCmyLightK;
constexpr std::uint8_t C5 = kInkSetCmykLightK;
constexpr std::uint8_t Cm = kInkSetCmykLightCm;
constexpr std::uint8_t C6 = kInkSetCmyLightCmk;
constexpr std::uint8_t C7 = kInkSetSeven;
constexpr std::uint8_t S6 = kInkSetSixteen;
}  // namespace

// clang-format off
// Ink set of each quality row (0..4) and media column (0..12).
const std::uint8_t InkSetTable[kQualityRows * kMediaColumns] = {
//  plain matte gloss trans 18  15  16  26  28  29  31  36  37
    C4,  xx,  xx,  xx,  xx, xx, xx, xx, xx, xx, xx, xx, xx,  // row 0: quality 20, 30 and unknown codes
    C4,  xx,  Ck,  xx,  xx, xx, xx, xx, xx, C6, xx, xx, xx,  // row 1: quality 15
    C4,  C5,  C6,  C5,  C3, C6, C6, C6, C6, C6, C6, C6, C6,  // row 2: quality 10
    Cm,  C7,  C6,  C5,  xx, C6, C6, C6, C6, C6, C6, xx, C6,  // row 3: quality 5
    xx,  xx,  xx,  xx,  xx, xx, xx, S6, xx, xx, C6, xx, xx,  // row 4: quality 0
};

// clang-format on

namespace {

// Plane formats of one cell: bits 0-3 bits per pixel, bit 5 code conversion.
struct FormatCell {
    std::uint8_t planes[kFormatPlanes];
};

constexpr FormatCell kNone{{0, 0, 0, 0, 0, 0, 0}};
constexpr FormatCell kCmykOneBit{{0x01, 0x01, 0x01, 0x01, 0, 0, 0}};
constexpr FormatCell kSixTwoBit{{0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0}};
constexpr FormatCell kSevenTwoBit{{0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02}};
constexpr FormatCell kSixConverted{{0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0}};
constexpr FormatCell kCmykkMixed{{0x02, 0x02, 0x02, 0x01, 0x02, 0, 0}};

// clang-format off
constexpr FormatCell kFormatCells[kQualityRows][kMediaColumns] = {
    // row 0
    {kCmykOneBit, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
     kNone},
    // row 1
    {kCmykOneBit, kNone, {{0x22, 0x22, 0x01, 0x22, 0, 0, 0}}, kNone, kNone, kNone, kNone, kNone,
     kNone, kSixConverted, kNone, kNone, kNone},
    // row 2
    {{{0x22, 0x22, 0x01, 0x01, 0, 0, 0}},
     {{0x22, 0x22, 0x01, 0x01, 0x22, 0, 0}},
     kSixConverted,
     kCmykkMixed,
     {{0x02, 0x02, 0x02, 0, 0, 0, 0}},
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSevenTwoBit},
    // row 3
    {{{0x02, 0x02, 0x02, 0x01, 0x02, 0x02, 0}},
     {{0x02, 0x02, 0x02, 0x01, 0x02, 0x02, 0x02}},
     kSixTwoBit,
     kCmykkMixed,
     kNone,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kSixTwoBit,
     kNone,
     kSevenTwoBit},
    // row 4: the sixteen-ink cell is never read (page setup builds it itself)
    {kNone, kNone, kNone, kNone, kNone, kNone, kNone, {{0x84, 0x84, 0x84, 0x84, 0x84, 0x84, 0}},
     kNone, kNone, kSixTwoBit, kNone, kNone},
};

// clang-format on

constexpr auto BuildPlaneFormatTable() {
    struct Table {
        std::uint8_t bytes[kQualityRows * kMediaColumns * kFormatPlanes];
    } table{};
    for (int row = 0; row < kQualityRows; ++row)
        for (int column = 0; column < kMediaColumns; ++column)
            for (int plane = 0; plane < kFormatPlanes; ++plane)
                table.bytes[(row * kMediaColumns + column) * kFormatPlanes + plane] =
                    kFormatCells[row][column].planes[plane];
    return table;
}

constexpr auto kPlaneFormatBytes = BuildPlaneFormatTable();

std::uint8_t FormatByte(std::int16_t qualityCode, std::int16_t mediaCode, std::int16_t planeIndex,
                        const std::uint8_t* table) {
    const int cell = QualityRow(qualityCode) * kMediaColumns + MediaColumn(mediaCode);
    return table[cell * kFormatPlanes + planeIndex];
}

// Format code (bits per pixel) to pixelShift; -1 for a code that is no format.
std::int16_t PixelShiftOf(std::int16_t formatCode) {
    switch (formatCode) {
        case 1:
            return 3;
        case 2:
            return 2;
        case 4:
            return 1;
        default:
            return -1;
    }
}

void SetFixedConfiguration(PageConfiguration* out, std::int16_t inkSetId,
                           std::initializer_list<std::int16_t> shifts,
                           std::initializer_list<std::int16_t> conversions) {
    out->inkSetId = inkSetId;
    out->planeCount = static_cast<std::int16_t>(shifts.size());
    out->twoBitSplit = 0;
    int plane = 0;
    for (std::int16_t shift : shifts)
        out->pixelShift[plane++] = shift;
    plane = 0;
    for (std::int16_t conversion : conversions)
        out->codeConversion[plane++] = conversion;
}

}  // namespace

const std::uint8_t (&PlaneFormatTable)[kQualityRows * kMediaColumns * kFormatPlanes] =
    kPlaneFormatBytes.bytes;

std::int16_t QualityRow(std::int16_t qualityCode) {
    // Row 0 is the fallback; 20 sits there too.
    for (std::int16_t row = 1; row < kQualityRows; ++row)
        if (kQualityOfRow[row] == qualityCode) return row;
    return 0;
}

std::int16_t MediaColumn(std::int16_t mediaCode) {
    for (std::int16_t column = 1; column < kMediaColumns; ++column) {
        const MediaColumnEntry& entry = kMediaColumnsOf[column];
        for (int i = 0; i < entry.codeCount; ++i)
            if (entry.codes[i] == mediaCode) return column;
    }
    return 0;
}

std::int16_t LookupInkSet(std::int16_t qualityCode, std::int16_t mediaCode,
                          const std::uint8_t* table) {
    return table[QualityRow(qualityCode) * kMediaColumns + MediaColumn(mediaCode)];
}

std::int16_t InkSetPlaneCount(std::int16_t inkSetId) {
    return InkSetOf(inkSetId).planeCount;
}

std::int16_t LookupPlaneCount(std::int16_t qualityCode, std::int16_t mediaCode,
                              const std::uint8_t* table) {
    return InkSetPlaneCount(LookupInkSet(qualityCode, mediaCode, table));
}

std::int16_t LookupPlaneFormat(std::int16_t qualityCode, std::int16_t mediaCode,
                               std::int16_t planeIndex, const std::uint8_t* table) {
    return FormatByte(qualityCode, mediaCode, planeIndex, table) & 0x0F;
}

std::int16_t LookupCodeConversion(std::int16_t qualityCode, std::int16_t mediaCode,
                                  std::int16_t planeIndex, const std::uint8_t* table) {
    return FormatByte(qualityCode, mediaCode, planeIndex, table) & 0x20;
}

bool ChoosePageConfiguration(std::int16_t qualityCode, std::int16_t mediaCode,
                             std::int16_t blackOnly, std::int16_t kForBlack, std::int16_t keepColor,
                             PageConfiguration* out) {
    *out = PageConfiguration{};
    const std::int16_t cellInkSet = LookupInkSet(qualityCode, mediaCode, InkSetTable);
    if (cellInkSet == kInkSetSixteen) {
        // The sixteen-ink configuration: six four-level input planes split into sixteen
        // two-bit planes; the page flags do not apply to it.
        out->inkSetId = kInkSetSixteen;
        out->planeCount = InkSetPlaneCount(kInkSetSixteen);
        out->twoBitSplit = 1;
        for (int plane = 0; plane < out->planeCount; ++plane)
            out->pixelShift[plane] = 1;
        return true;
    }
    const std::int16_t column = MediaColumn(mediaCode);
    const std::int16_t row = QualityRow(qualityCode);
    const bool plainOrMatte = column == kColumnPlain || column == kColumnMatte;
    if (blackOnly == 1 && kForBlack != 1 && keepColor == 0 && plainOrMatte) {
        SetFixedConfiguration(out, kInkSetBlack, {3}, {0});
        return true;
    }
    if (kForBlack == 1) {
        if (plainOrMatte && row == kRowQuality10) {
            SetFixedConfiguration(out, kInkSetCmyLightK, {2, 2, 3, 2}, {1, 1, 0, 1});
            return true;
        }
        if (column == kColumnMatte && row == kRowQuality5) {
            SetFixedConfiguration(out, kInkSetCmyLightCmk, {2, 2, 2, 2, 2, 2}, {0, 0, 0, 0, 0, 0});
            return true;
        }
    }
    out->inkSetId = cellInkSet;
    const std::int16_t planeCount = LookupPlaneCount(qualityCode, mediaCode, InkSetTable);
    if (out->inkSetId == kInkSetNone || planeCount <= 0 || planeCount > kFormatPlanes) return false;
    out->planeCount = planeCount;
    for (std::int16_t plane = 0; plane < planeCount; ++plane) {
        out->codeConversion[plane] =
            LookupCodeConversion(qualityCode, mediaCode, plane, PlaneFormatTable);
        out->pixelShift[plane] =
            PixelShiftOf(LookupPlaneFormat(qualityCode, mediaCode, plane, PlaneFormatTable));
        if (out->pixelShift[plane] < 0) return false;
    }
    return true;
}

std::int16_t ChooseLinesPerRow(std::int16_t resolution, std::int16_t formFeedFlag) {
    if (resolution == 300 || formFeedFlag == 1) return 8;
    if (resolution == 600) return 16;
    return 1;
}

}  // namespace inkrow
