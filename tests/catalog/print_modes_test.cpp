#include "catalog/print_modes.h"

#include <gtest/gtest.h>

#include <vector>

namespace inkrow {
namespace {

TEST(PrintMode, QualityRowsOfEveryCode) {
    for (int code = -40; code <= 40; ++code) {
        int expected = 0;
        if (code == 0) expected = 4;
        if (code == 5) expected = 3;
        if (code == 10) expected = 2;
        if (code == 15) expected = 1;
        EXPECT_EQ(QualityRow(static_cast<std::int16_t>(code)), expected) << code;
    }
    EXPECT_EQ(QualityRow(INT16_MIN), 0);
    EXPECT_EQ(QualityRow(INT16_MAX), 0);
}

TEST(PrintMode, MediaColumnsOfEveryCode) {
    const std::vector<std::pair<int, std::vector<int>>> columns = {
        {1, {7, 8}}, {2, {27}}, {3, {1}},  {4, {18}},      {5, {15, 22, 24}}, {6, {16}},
        {7, {26}},   {8, {28}}, {9, {29}}, {10, {31, 32}}, {11, {36}},        {12, {37}},
    };
    for (int code = -10; code <= 60; ++code) {
        int expected = 0;
        for (const auto& [column, codes] : columns)
            for (int member : codes)
                if (member == code) expected = column;
        EXPECT_EQ(MediaColumn(static_cast<std::int16_t>(code)), expected) << code;
    }
}

// Ink set and per-plane format bytes of every supported cell, by quality and media code.
struct Cell {
    std::int16_t quality, media, inkSet;
    std::vector<int> formats;  // bits per pixel | 0x20 for conversion, per plane
};

const std::vector<Cell> kSupported = {
    {20, 0, 3, {1, 1, 1, 1}},
    {15, 0, 3, {1, 1, 1, 1}},
    {15, 27, 4, {0x22, 0x22, 1, 0x22}},
    {15, 29, 7, {0x22, 0x22, 0x22, 0x22, 0x22, 0x22}},
    {10, 0, 3, {0x22, 0x22, 1, 1}},
    {10, 7, 5, {0x22, 0x22, 1, 1, 0x22}},
    {10, 27, 7, {0x22, 0x22, 0x22, 0x22, 0x22, 0x22}},
    {10, 1, 5, {2, 2, 2, 1, 2}},
    {10, 18, 2, {2, 2, 2}},
    {10, 15, 7, {2, 2, 2, 2, 2, 2}},
    {10, 16, 7, {2, 2, 2, 2, 2, 2}},
    {10, 26, 7, {2, 2, 2, 2, 2, 2}},
    {10, 28, 7, {2, 2, 2, 2, 2, 2}},
    {10, 29, 7, {2, 2, 2, 2, 2, 2}},
    {10, 31, 7, {2, 2, 2, 2, 2, 2}},
    {10, 36, 7, {2, 2, 2, 2, 2, 2}},
    {10, 37, 7, {2, 2, 2, 2, 2, 2}},
    {5, 0, 6, {2, 2, 2, 1, 2, 2}},
    {5, 7, 8, {2, 2, 2, 1, 2, 2, 2}},
    {5, 27, 7, {2, 2, 2, 2, 2, 2}},
    {5, 1, 5, {2, 2, 2, 1, 2}},
    {5, 15, 7, {2, 2, 2, 2, 2, 2}},
    {5, 16, 7, {2, 2, 2, 2, 2, 2}},
    {5, 26, 7, {2, 2, 2, 2, 2, 2}},
    {5, 28, 7, {2, 2, 2, 2, 2, 2}},
    {5, 29, 7, {2, 2, 2, 2, 2, 2}},
    {5, 31, 7, {2, 2, 2, 2, 2, 2}},
    {5, 37, 7, {2, 2, 2, 2, 2, 2}},
    {0, 26, 9, {}},  // built by page setup, not read from the format table
    {0, 31, 7, {2, 2, 2, 2, 2, 2}},
};

const Cell* FindCell(int row, int column) {
    for (const Cell& cell : kSupported)
        if (QualityRow(cell.quality) == row && MediaColumn(cell.media) == column) return &cell;
    return nullptr;
}

TEST(PrintMode, EveryCellOfBothTables) {
    const std::int16_t qualityOfRow[] = {20, 15, 10, 5, 0};
    const std::int16_t mediaOfColumn[] = {0, 7, 27, 1, 18, 15, 16, 26, 28, 29, 31, 36, 37};
    for (int row = 0; row < kQualityRows; ++row) {
        for (int column = 0; column < kMediaColumns; ++column) {
            const std::int16_t quality = qualityOfRow[row];
            const std::int16_t media = mediaOfColumn[column];
            SCOPED_TRACE(testing::Message() << "quality " << quality << " media " << media);
            const Cell* cell = FindCell(row, column);
            const std::int16_t inkSet = LookupInkSet(quality, media, InkSetTable);
            if (cell == nullptr) {
                EXPECT_EQ(inkSet, 0);
                EXPECT_EQ(LookupPlaneCount(quality, media, InkSetTable), 0);
                for (std::int16_t plane = 0; plane < kFormatPlanes; ++plane)
                    EXPECT_EQ(LookupPlaneFormat(quality, media, plane, PlaneFormatTable), 0);
                continue;
            }
            EXPECT_EQ(inkSet, cell->inkSet);
            EXPECT_EQ(LookupPlaneCount(quality, media, InkSetTable), InkSetPlaneCount(inkSet));
            for (std::size_t plane = 0; plane < cell->formats.size(); ++plane) {
                const auto index = static_cast<std::int16_t>(plane);
                EXPECT_EQ(LookupPlaneFormat(quality, media, index, PlaneFormatTable),
                          cell->formats[plane] & 0x0F);
                EXPECT_EQ(LookupCodeConversion(quality, media, index, PlaneFormatTable),
                          cell->formats[plane] & 0x20);
            }
            if (!cell->formats.empty()) {
                EXPECT_EQ(static_cast<int>(cell->formats.size()), InkSetPlaneCount(inkSet));
            }
        }
    }
}

TEST(PrintMode, PlaneCountsOfTheInkSets) {
    const int expected[] = {0, 1, 3, 4, 4, 5, 6, 6, 7, 16, 0};
    for (int id = 0; id <= 10; ++id)
        EXPECT_EQ(InkSetPlaneCount(static_cast<std::int16_t>(id)), expected[id]);
}

TEST(PrintMode, CodesOutsideTheTablesFallIntoRowAndColumnZero) {
    EXPECT_EQ(LookupInkSet(-5, 40, InkSetTable), 3);
    EXPECT_EQ(LookupInkSet(30, 0, InkSetTable), 3);
    EXPECT_EQ(LookupInkSet(30, 7, InkSetTable), 0);
    EXPECT_EQ(LookupInkSet(5, 18, InkSetTable), 0);
    EXPECT_EQ(LookupInkSet(5, 36, InkSetTable), 0);
    EXPECT_EQ(LookupInkSet(0, 3, InkSetTable), 0);
    // The one cell with bit 7 set still reads as four bits per pixel.
    EXPECT_EQ(LookupPlaneFormat(0, 26, 0, PlaneFormatTable), 4);
    // The seventh entry of the six-plane quality 10 media 37 cell is there, unread.
    EXPECT_EQ(LookupPlaneFormat(10, 37, 6, PlaneFormatTable), 2);
}

TEST(PrintMode, LinesPerRow) {
    EXPECT_EQ(ChooseLinesPerRow(300, 0), 8);
    EXPECT_EQ(ChooseLinesPerRow(600, 0), 16);
    EXPECT_EQ(ChooseLinesPerRow(360, 0), 1);
    EXPECT_EQ(ChooseLinesPerRow(0, 0), 1);
    EXPECT_EQ(ChooseLinesPerRow(600, 1), 8);
    EXPECT_EQ(ChooseLinesPerRow(360, 1), 8);
}

}  // namespace
}  // namespace inkrow
