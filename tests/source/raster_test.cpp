// PWG and CUPS raster written with libcups and read back through the public source
// interface: every supported layout round trips byte for byte, and everything else is
// refused with words, including damage between pages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "inkrow/source.h"
#include "test_files.h"

namespace inkrow::source_test {
namespace {

// Rows of runs and noise, so that the compressed writers use both of their codings.
Bytes MakePixels(std::size_t lineBytes, int height, std::mt19937& random) {
    Bytes pixels(lineBytes * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = (i / 37) % 3 == 0 ? static_cast<std::uint8_t>(random())
                                      : static_cast<std::uint8_t>(i / 37);
    }
    return pixels;
}

RasterPage MakePage(int width, int height, cups_cspace_t space, std::mt19937& random) {
    RasterPage page;
    page.width = width;
    page.height = height;
    page.colorSpace = space;
    page.pixels = MakePixels(RasterBytesPerLine(page), height, random);
    return page;
}

RenderSourceOptions Options() {
    RenderSourceOptions options;
    RenderSourceOptionsInit(&options);
    return options;
}

ReadResult ReadRaster(const TempDir& dir, const Bytes& bytes,
                      const RenderSourceOptions& options = Options()) {
    WriteBytes(dir.Path("page.ras"), bytes);
    return ReadDocument(dir.Path("page.ras"), options);
}

TEST(RasterSource, RoundTripsEveryLayoutAndWriter) {
    struct Space {
        cups_cspace_t space;
        int colorSpace;
        bool inverted;
    };
    const Space spaces[] = {
        {CUPS_CSPACE_SW, RENDER_GRAY8, false}, {CUPS_CSPACE_W, RENDER_GRAY8, false},
        {CUPS_CSPACE_K, RENDER_GRAY8, true},   {CUPS_CSPACE_SRGB, RENDER_RGB8, false},
        {CUPS_CSPACE_RGB, RENDER_RGB8, false}, {CUPS_CSPACE_CMYK, RENDER_CMYK8, false},
    };
    const std::pair<cups_mode_t, const char*> writers[] = {
        {CUPS_RASTER_WRITE_PWG, "PWG"},
        {CUPS_RASTER_WRITE_COMPRESSED, "CUPS version 2"},
        {CUPS_RASTER_WRITE, "CUPS version 3"},
    };
    std::mt19937 random(3);
    TempDir dir;
    for (const auto& [mode, writer] : writers) {
        for (const Space& s : spaces) {
            SCOPED_TRACE(std::string(writer) + ", colour space " + std::to_string(s.space));
            const RasterPage page = MakePage(29, 7, s.space, random);
            // The requested page size is for pictures; a raster keeps its own.
            RenderSourceOptions options = Options();
            options.pageWidth = 100;
            options.pageHeight = 100;
            const ReadResult result = ReadRaster(dir, MakeRaster({page}, mode), options);
            ASSERT_EQ(result.openStatus, RENDER_OK) << result.error;
            ASSERT_EQ(result.endStatus, 0) << result.error;
            ASSERT_EQ(result.pages.size(), 1u);
            EXPECT_EQ(result.pages[0].width, 29);
            EXPECT_EQ(result.pages[0].height, 7);
            EXPECT_EQ(result.pages[0].colorSpace, s.colorSpace);
            EXPECT_EQ(result.pages[0].lineBytes, RasterBytesPerLine(page));
            Bytes expected = page.pixels;
            if (s.inverted) {
                for (auto& b : expected)
                    b = static_cast<std::uint8_t>(255 - b);
            }
            EXPECT_EQ(result.pixels[0], expected);
        }
    }
}

TEST(RasterSource, PagesKeepTheirOwnSizeAndOrder) {
    std::mt19937 random(4);
    const std::vector<RasterPage> pages = {
        MakePage(40, 10, CUPS_CSPACE_SRGB, random),
        MakePage(13, 3, CUPS_CSPACE_SW, random),
        MakePage(40, 25, CUPS_CSPACE_CMYK, random),
    };
    TempDir dir;
    for (cups_mode_t mode : {CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE}) {
        const ReadResult result = ReadRaster(dir, MakeRaster(pages, mode));
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(result.pages[i].width, pages[i].width);
            EXPECT_EQ(result.pages[i].height, pages[i].height);
            EXPECT_EQ(result.pixels[i], pages[i].pixels) << "page " << i + 1;
        }
    }
}

TEST(RasterSource, SkippedLinesAreReadPast) {
    std::mt19937 random(8);
    const std::vector<RasterPage> pages = {MakePage(20, 9, CUPS_CSPACE_SW, random),
                                           MakePage(20, 4, CUPS_CSPACE_SW, random)};
    TempDir dir;
    WriteBytes(dir.Path("two.ras"), MakeRaster(pages, CUPS_RASTER_WRITE_PWG));
    const RenderSourceOptions options = Options();
    RenderSource* source = nullptr;
    ASSERT_EQ(RenderSourceOpen(dir.Path("two.ras").c_str(), &options, &source), RENDER_OK);
    RenderSourcePage page;
    ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
    Bytes line(page.lineBytes);
    ASSERT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_OK);
    // Leave page 1 after one line: page 2 still starts at its own first line.
    ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
    EXPECT_EQ(page.height, 4);
    ASSERT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_OK);
    EXPECT_EQ(line, Bytes(pages[1].pixels.begin(), pages[1].pixels.begin() + 20));
    EXPECT_EQ(RenderSourceNextPage(source, &page), 0);
    EXPECT_EQ(RenderSourceNextPage(source, &page), 0);
    RenderSourceClose(source);
}

TEST(RasterSource, UnsupportedLayoutsAreRefusedWithWords) {
    struct Case {
        const char* name;
        RasterPage page;
        const char* words;
    };
    auto page = [](int width, cups_cspace_t space, int bits,
                   cups_order_t order = CUPS_ORDER_CHUNKED) {
        RasterPage p;
        p.width = width;
        p.height = 2;
        p.colorSpace = space;
        p.bitsPerColor = bits;
        p.order = order;
        return p;
    };
    const RasterPage sixteen = page(5, CUPS_CSPACE_SW, 16);
    const RasterPage one = page(16, CUPS_CSPACE_K, 1);
    const RasterPage lab = page(5, CUPS_CSPACE_CIELab, 8);
    const RasterPage cmy = page(5, CUPS_CSPACE_CMY, 8);
    const RasterPage banded = page(5, CUPS_CSPACE_CMYK, 8, CUPS_ORDER_BANDED);
    const RasterPage planar = page(5, CUPS_CSPACE_CMYK, 8, CUPS_ORDER_PLANAR);
    const Case cases[] = {
        {"16 bits", sixteen, "16-bit colour is not supported"},
        {"1 bit", one, "1-bit colour is not supported"},
        {"Lab", lab, "colour space 16 (CIELab) is not supported"},
        {"CMY", cmy, "colour space 4 (CMY) is not supported"},
        {"banded", banded, "colour order 1 is not supported"},
        {"planar", planar, "colour order 2 is not supported"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result = ReadRaster(dir, MakeRaster({c.page}, CUPS_RASTER_WRITE));
        EXPECT_EQ(result.openStatus, RENDER_BAD_ARGUMENT);
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("page 1"), std::string::npos) << result.error;
    }
}

// Offset of a header field in a version 2/3 or PWG stream, after the sync word.
std::size_t FieldOffset(std::size_t field) {
    return 4 + field;
}

TEST(RasterSource, DamagedStreamsFailAndCleanEndsDoNot) {
    std::mt19937 random(9);
    const std::vector<RasterPage> two = {MakePage(300, 20, CUPS_CSPACE_SRGB, random),
                                         MakePage(300, 20, CUPS_CSPACE_SRGB, random)};
    const std::vector<RasterPage> one = {two[0]};
    const std::size_t header = sizeof(cups_page_header2_t);
    TempDir dir;
    for (cups_mode_t mode : {CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE}) {
        const Bytes full = MakeRaster(two, mode);
        const Bytes first = MakeRaster(one, mode);
        SCOPED_TRACE(mode == CUPS_RASTER_WRITE ? "version 3" : "PWG");
        struct Case {
            const char* name;
            Bytes bytes;
            int openStatus;
            std::size_t pages;  // read whole before the failure
            const char* words;  // null: a clean end
        };
        Bytes garbled = full;
        // Bits per colour and per pixel of page 1 become nonsense.
        for (std::size_t i = FieldOffset(offsetof(cups_page_header2_t, cupsBitsPerColor));
             i < FieldOffset(offsetof(cups_page_header2_t, cupsBytesPerLine)); ++i) {
            garbled[i] = 0xff;
        }
        Bytes trailing = first;
        trailing.insert(trailing.end(), header, 0x5a);  // a whole header of junk
        Bytes cutHeader = first;
        cutHeader.insert(cutHeader.end(), full.begin() + static_cast<std::ptrdiff_t>(first.size()),
                         full.begin() + static_cast<std::ptrdiff_t>(first.size() + 100));
        const Case cases[] = {
            {"two whole pages", full, RENDER_OK, 2, nullptr},
            {"garbled first header", garbled, RENDER_BAD_ARGUMENT, 0,
             "page 1 has a bad raster header"},
            {"first header cut", Bytes(full.begin(), full.begin() + 600), RENDER_BAD_ARGUMENT, 0,
             "inside the header of page 1"},
            {"sync word alone", Bytes(full.begin(), full.begin() + 4), RENDER_BAD_ARGUMENT, 0,
             "no pages"},
            {"second header cut", cutHeader, RENDER_OK, 1, "inside the header of page 2"},
            {"junk after the last page", trailing, RENDER_OK, 1, "page 2 has a bad raster header"},
            {"pixels cut", Bytes(full.begin(), full.end() - 500), RENDER_OK, 1, "inside page 2"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const ReadResult result = ReadRaster(dir, c.bytes);
            EXPECT_EQ(result.openStatus, c.openStatus) << result.error;
            EXPECT_EQ(result.pages.size(), c.pages);
            if (c.words == nullptr) {
                EXPECT_EQ(result.endStatus, 0) << result.error;
                EXPECT_EQ(result.error, "");
            } else {
                if (c.openStatus == RENDER_OK) {
                    EXPECT_EQ(result.endStatus, RENDER_BAD_ARGUMENT);
                }
                EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
            }
        }
    }
}

}  // namespace
}  // namespace inkrow::source_test
