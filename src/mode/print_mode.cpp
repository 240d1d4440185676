#include "mode/print_mode.h"

#include <initializer_list>

#include "stream/ink_selection.h"

namespace inkrow {

// clang-format off
// Ink set of each quality row (0..4) and media column (0..12).
const std::uint8_t InkSetTable[kQualityRows * kMediaColumns] = {
    3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // row 0: quality 20, 30 and unknown codes
    3, 0, 4, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0,  // row 1: quality 15
    3, 5, 7, 5, 2, 7, 7, 7, 7, 7, 7, 7, 7,  // row 2: quality 10
    6, 8, 7, 5, 0, 7, 7, 7, 7, 7, 7, 0, 7,  // row 3: quality 5
    0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 7, 0, 0,  // row 4: quality 0
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

constexpr std::int16_t kPlaneCountOfInkSet[10] = {0, 1, 3, 4, 4, 5, 6, 6, 7, 16};

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

// The full ink selections that row commit sends are written out by hand; they must name
// the planes in the order these tables give them.
constexpr bool SelectionsMatchInkSets() {
    for (int set = 2; set <= 9; ++set) {
        const char* inks = kInkSetInks[set];
        for (int i = 0; inks[i] != 0; ++i)
            if (kSelectFull[set].bytes[5 + i] != static_cast<std::uint8_t>(inks[i])) return false;
    }
    return true;
}
static_assert(SelectionsMatchInkSets());

}  // namespace

const std::uint8_t (&PlaneFormatTable)[kQualityRows * kMediaColumns * kFormatPlanes] =
    kPlaneFormatBytes.bytes;

std::int16_t QualityRow(std::int16_t qualityCode) {
    switch (qualityCode) {
        case 0:
            return 4;
        case 5:
            return 3;
        case 10:
            return 2;
        case 15:
            return 1;
        default:
            return 0;  // 20, 30 and every other code
    }
}

std::int16_t MediaColumn(std::int16_t mediaCode) {
    switch (mediaCode) {
        case 7:
        case 8:
            return 1;
        case 27:
            return 2;
        case 1:
            return 3;
        case 18:
            return 4;
        case 15:
        case 22:
        case 24:
            return 5;
        case 16:
            return 6;
        case 26:
            return 7;
        case 28:
            return 8;
        case 29:
            return 9;
        case 31:
        case 32:
            return 10;
        case 36:
            return 11;
        case 37:
            return 12;
        default:
            return 0;
    }
}

std::int16_t LookupInkSet(std::int16_t qualityCode, std::int16_t mediaCode,
                          const std::uint8_t* table) {
    return table[QualityRow(qualityCode) * kMediaColumns + MediaColumn(mediaCode)];
}

std::int16_t InkSetPlaneCount(std::int16_t inkSetId) {
    if (inkSetId < 0 || inkSetId > 9) return 0;
    return kPlaneCountOfInkSet[inkSetId];
}

std::int16_t LookupPlaneCount(std::int16_t qualityCode, std::int16_t mediaCode,
                              const std::uint8_t* table) {
    const std::int16_t count = InkSetPlaneCount(LookupInkSet(qualityCode, mediaCode, table));
    return count == 0 ? kFailed : count;
}

std::int16_t LookupPlaneFormat(std::int16_t qualityCode, std::int16_t mediaCode,
                               std::int16_t planeIndex, const std::uint8_t* table) {
    return FormatByte(qualityCode, mediaCode, planeIndex, table) & 0x0F;
}

std::int16_t LookupCodeConversion(std::int16_t qualityCode, std::int16_t mediaCode,
                                  std::int16_t planeIndex, const std::uint8_t* table) {
    return FormatByte(qualityCode, mediaCode, planeIndex, table) & 0x20;
}

std::int16_t ChoosePageConfiguration(std::int16_t qualityCode, std::int16_t mediaCode,
                                     std::int16_t blackOnly, std::int16_t kForBlack,
                                     std::int16_t keepColor, PageConfiguration* out) {
    *out = PageConfiguration{};
    if (mediaCode == 26 && qualityCode == 0) {
        // The sixteen-ink configuration: six four-level input planes split into sixteen
        // two-bit planes; the page flags do not apply to it.
        out->inkSetId = LookupInkSet(0, 26, InkSetTable);
        out->planeCount = LookupPlaneCount(0, 26, InkSetTable);
        out->twoBitSplit = 1;
        for (int plane = 0; plane < out->planeCount; ++plane)
            out->pixelShift[plane] = 1;
        return kOk;
    }
    const std::int16_t column = MediaColumn(mediaCode);
    const std::int16_t row = QualityRow(qualityCode);
    if (blackOnly == 1 && kForBlack != 1 && keepColor == 0 && (column == 0 || column == 1)) {
        SetFixedConfiguration(out, 1, {3}, {0});
        return kOk;
    }
    if (kForBlack == 1) {
        if ((column == 0 || column == 1) && row == 2) {
            SetFixedConfiguration(out, 4, {2, 2, 3, 2}, {1, 1, 0, 1});
            return kOk;
        }
        if (column == 1 && row == 3) {
            SetFixedConfiguration(out, 7, {2, 2, 2, 2, 2, 2}, {0, 0, 0, 0, 0, 0});
            return kOk;
        }
    }
    out->inkSetId = LookupInkSet(qualityCode, mediaCode, InkSetTable);
    const std::int16_t planeCount = LookupPlaneCount(qualityCode, mediaCode, InkSetTable);
    if (out->inkSetId == 0 || planeCount <= 0 || planeCount > kFormatPlanes) return kFailed;
    out->planeCount = planeCount;
    for (std::int16_t plane = 0; plane < planeCount; ++plane) {
        out->codeConversion[plane] =
            LookupCodeConversion(qualityCode, mediaCode, plane, PlaneFormatTable);
        out->pixelShift[plane] =
            PixelShiftOf(LookupPlaneFormat(qualityCode, mediaCode, plane, PlaneFormatTable));
        if (out->pixelShift[plane] < 0) return kFailed;
    }
    return kOk;
}

std::int16_t ChooseLinesPerRow(std::int16_t resolution, std::int16_t formFeedFlag) {
    if (resolution == 300 || formFeedFlag == 1) return 8;
    if (resolution == 600) return 16;
    return 1;
}

}  // namespace inkrow
