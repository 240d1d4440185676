// The page header to print mode mapping on headers that a raster writer would not
// produce or that the filter runs do not reach: each refusal names its field, and the
// quality choice falls back along the media's supported qualities.
#include "page_mode.h"

#include <gtest/gtest.h>

#include <string>

#include "cups_support.h"

namespace inkrow::filter {
namespace {

cups_page_header2_t Header(cups_cspace_t space = CUPS_CSPACE_CMYK, unsigned dpi = 600,
                           unsigned media = 0, unsigned quality = 0) {
    return cupstest::MakeHeader(4960, 7016, space, dpi, media, quality);
}

struct QualityCase {
    unsigned media;
    unsigned printQuality;
    int quality;
};

// Draft takes the fastest quality the media has (20, then 15, then 10); high takes 5.
TEST(PageMode, QualityFallsBackAlongTheMediasQualities) {
    const QualityCase cases[] = {
        {0, kQualityDraft, 20}, {27, kQualityDraft, 15},  {29, kQualityDraft, 15},
        {7, kQualityDraft, 10}, {26, kQualityDraft, 10},  {18, kQualityDraft, 10},
        {0, kQualityUnset, 10}, {26, kQualityNormal, 10}, {0, kQualityHigh, 5},
        {26, kQualityHigh, 5},  {18, kQualityHigh, 10},   {36, kQualityHigh, 10},
    };
    for (const QualityCase& c : cases) {
        PageSettings settings;
        std::string error;
        ASSERT_TRUE(SettingsFromHeader(Header(CUPS_CSPACE_CMYK, 600, c.media, c.printQuality),
                                       &settings, &error))
            << error;
        EXPECT_EQ(settings.mode.qualityCode, c.quality)
            << "media " << c.media << ", print quality " << c.printQuality;
        EXPECT_EQ(settings.mode.mediaCode, static_cast<int>(c.media));
    }
}

TEST(PageMode, GraySpacesAskForBlackOnly) {
    struct {
        cups_cspace_t space;
        int colorSpace;
        bool invert;
        int blackOnly;
    } const cases[] = {
        {CUPS_CSPACE_CMYK, RENDER_CMYK8, false, 0}, {CUPS_CSPACE_SW, RENDER_GRAY8, false, 1},
        {CUPS_CSPACE_W, RENDER_GRAY8, false, 1},    {CUPS_CSPACE_K, RENDER_GRAY8, true, 1},
        {CUPS_CSPACE_SRGB, RENDER_RGB8, false, 0},  {CUPS_CSPACE_RGB, RENDER_RGB8, false, 0},
    };
    for (const auto& c : cases) {
        PageSettings settings;
        std::string error;
        ASSERT_TRUE(SettingsFromHeader(Header(c.space), &settings, &error)) << error;
        EXPECT_EQ(settings.page.colorSpace, c.colorSpace) << c.space;
        EXPECT_EQ(settings.page.invert != 0, c.invert) << c.space;
        EXPECT_EQ(settings.mode.blackOnly, c.blackOnly) << c.space;
        EXPECT_EQ(settings.page.lineBytes, 4960u * static_cast<unsigned>(c.colorSpace));
    }
}

TEST(PageMode, ResolutionsPassThrough) {
    for (unsigned dpi : {300u, 360u, 600u}) {
        PageSettings settings;
        std::string error;
        ASSERT_TRUE(SettingsFromHeader(Header(CUPS_CSPACE_CMYK, dpi), &settings, &error)) << error;
        EXPECT_EQ(settings.mode.resolution, static_cast<int>(dpi));
    }
}

// One channel has no order to get wrong: a banded gray page is the same bytes.
TEST(PageMode, GrayAcceptsAnyColourOrder) {
    cups_page_header2_t header = Header(CUPS_CSPACE_SW);
    header.cupsColorOrder = CUPS_ORDER_BANDED;
    PageSettings settings;
    std::string error;
    EXPECT_TRUE(SettingsFromHeader(header, &settings, &error)) << error;
}

struct RefusalCase {
    const char* name;
    void (*change)(cups_page_header2_t*);
    const char* error;
};

const RefusalCase kRefusals[] = {
    {"Kcmy", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_KCMY; },
     "colour space 8 (KCMY) is not supported"},
    {"Lab", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_CIELab; },
     "colour space 16 (CIELab) is not supported"},
    {"SixteenBits", [](cups_page_header2_t* h) { cupstest::FixBits(h, 16); },
     "16-bit colour is not supported"},
    {"Banded", [](cups_page_header2_t* h) { h->cupsColorOrder = CUPS_ORDER_BANDED; },
     "colour order 1 is not supported"},
    {"BitsPerPixel", [](cups_page_header2_t* h) { h->cupsBitsPerPixel = 24; },
     "24 bits per pixel do not match 4 channels"},
    {"NoWidth", [](cups_page_header2_t* h) { h->cupsWidth = 0; },
     "a page width of 0 pixels is out of range"},
    {"TooWide",
     [](cups_page_header2_t* h) {
         h->cupsWidth = RENDER_MAX_WIDTH + 1;
         h->cupsBytesPerLine = h->cupsWidth * 4;
     },
     "a page width of 32768 pixels is out of range"},
    {"BytesPerLine", [](cups_page_header2_t* h) { h->cupsBytesPerLine += 4; },
     "19844 bytes per line do not match 4960 pixels of 4 bytes"},
    {"NotSquare", [](cups_page_header2_t* h) { h->HWResolution[0] = 300; },
     "a resolution of 300x600 dpi is not supported"},
    {"MediaCode", [](cups_page_header2_t* h) { h->cupsMediaType = 38; },
     "media type 38 (cupsMediaType) is not a media code (0 .. 37)"},
    {"PrintQuality", [](cups_page_header2_t* h) { h->cupsInteger[8] = 7; },
     "print quality 7 (cupsInteger8) is not 3 (draft), 4 (normal) or 5 (high)"},
};

class RefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, NamesTheField) {
    cups_page_header2_t header = Header();
    GetParam().change(&header);
    PageSettings settings;
    std::string error;
    EXPECT_FALSE(SettingsFromHeader(header, &settings, &error));
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(PageMode, RefusalTest, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& test) {
                             return std::string(test.param.name);
                         });

}  // namespace
}  // namespace inkrow::filter
