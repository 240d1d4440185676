// The IPP-to-print-mode map of the printer application: every choice must be a pair the
// module takes, printed with inks the driver has, and the documented choices must hold.
#include "mode_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using namespace inkrow::app;

constexpr Quality kQualities[] = {Quality::kDraft, Quality::kNormal, Quality::kHigh};
constexpr int kResolutions[] = {300, 360, 600};

TEST(ModeMap, EveryChoiceIsSupportedAndUsesOnlyTheDriversInks) {
    // Every known media code, plus codes no keyword maps to, for every driver, quality,
    // colour mode and resolution.
    int mediaCodes[64];
    int mediaCount = 0;
    for (int i = 0; i < MediaTypeCount(); ++i)
        mediaCodes[mediaCount++] = MediaTypeAt(i).mediaCode;
    for (int code : {15, 16, 18, 22, 24, 28, 31, 32, 36, 37, 2, 99})
        mediaCodes[mediaCount++] = code;
    for (int d = 0; d < DriverCount(); ++d) {
        const DriverInfo& driver = DriverAt(d);
        for (Quality quality : kQualities) {
            for (int m = 0; m < mediaCount; ++m) {
                for (bool monochrome : {false, true}) {
                    for (int resolution : kResolutions) {
                        SCOPED_TRACE(std::string(driver.name) + " " + QualityName(quality) +
                                     " media " + std::to_string(mediaCodes[m]) +
                                     (monochrome ? " mono " : " color ") +
                                     std::to_string(resolution));
                        JobSettings settings;
                        settings.driver = static_cast<DriverKind>(driver.kind);
                        settings.quality = quality;
                        settings.mediaCode = mediaCodes[m];
                        settings.monochrome = monochrome;
                        settings.resolution = resolution;
                        ModeChoice choice;
                        ASSERT_TRUE(ChooseMode(settings, &choice));
                        RenderMode described{};
                        ASSERT_EQ(RenderDescribeMode(&choice.request, &described), RENDER_OK);
                        EXPECT_EQ(described.inkSetId, choice.mode.inkSetId);
                        EXPECT_TRUE(DriverAllowsInkSet(static_cast<DriverKind>(driver.kind),
                                                       choice.mode.inkSetId));
                        EXPECT_EQ(choice.request.resolution, resolution);
                        EXPECT_EQ(choice.mode.linesPerRow, resolution == 300   ? 8
                                                           : resolution == 600 ? 16
                                                                               : 1);
                        // A black-only page is only ever asked for in monochrome or by
                        // the black driver, and then it is the one K plane.
                        if (choice.request.blackOnly) {
                            EXPECT_TRUE(monochrome || driver.kind == DriverKind::kBlack);
                            EXPECT_STREQ(choice.mode.inks, "K");
                        }
                        if (driver.kind == DriverKind::kBlack) {
                            EXPECT_EQ(choice.request.blackOnly, 1);
                        }
                        EXPECT_EQ(choice.grayInput,
                                  monochrome || driver.kind == DriverKind::kBlack);
                        // Whatever differs from the request is explained.
                        int order[5];
                        QualityOrder(static_cast<DriverKind>(driver.kind), quality, order);
                        if (choice.request.qualityCode != order[0] ||
                            choice.request.mediaCode != mediaCodes[m]) {
                            EXPECT_FALSE(choice.note.empty());
                        } else {
                            EXPECT_TRUE(choice.note.empty()) << choice.note;
                        }
                    }
                }
            }
        }
    }
}

struct Expected {
    const char* driver;
    Quality quality;
    int media;
    bool monochrome;
    int qualityCode;
    int mediaCode;
    const char* inks;
    bool blackOnly;
    bool split;
    bool note;
};

class DocumentedChoice : public ::testing::TestWithParam<Expected> {};

TEST_P(DocumentedChoice, Holds) {
    const Expected& expected = GetParam();
    JobSettings settings;
    settings.driver = static_cast<DriverKind>(FindDriver(expected.driver)->kind);
    settings.quality = expected.quality;
    settings.mediaCode = expected.media;
    settings.monochrome = expected.monochrome;
    ModeChoice choice;
    ASSERT_TRUE(ChooseMode(settings, &choice));
    EXPECT_EQ(choice.request.qualityCode, expected.qualityCode);
    EXPECT_EQ(choice.request.mediaCode, expected.mediaCode);
    EXPECT_STREQ(choice.mode.inks, expected.inks);
    EXPECT_EQ(choice.request.blackOnly != 0, expected.blackOnly);
    EXPECT_EQ(choice.mode.split != 0, expected.split);
    EXPECT_EQ(!choice.note.empty(), expected.note) << choice.note;
}

INSTANTIATE_TEST_SUITE_P(
    ModeMap, DocumentedChoice,
    ::testing::Values(
        // The suggested map: draft 20, normal 10, high 5 on plain paper.
        Expected{"inkrow-photo", Quality::kDraft, 0, false, 20, 0, "CMYK", false, false, false},
        Expected{"inkrow-photo", Quality::kNormal, 0, false, 10, 0, "CMYK", false, false, false},
        Expected{"inkrow-photo", Quality::kHigh, 0, false, 5, 0, "CMYKcm", false, false, false},
        Expected{"inkrow-photo", Quality::kNormal, 7, false, 10, 7, "CMYKk", false, false, false},
        Expected{"inkrow-photo", Quality::kHigh, 7, false, 5, 7, "CMYKcmk", false, false, false},
        Expected{"inkrow-photo", Quality::kNormal, 27, false, 10, 27, "CMYcmk", false, false,
                 false},
        Expected{"inkrow-photo", Quality::kNormal, 1, false, 10, 1, "CMYKk", false, false, false},
        // Draft has no quality 20 off plain paper: the next finer code that exists.
        Expected{"inkrow-photo", Quality::kDraft, 27, false, 15, 27, "CMYk", false, false, true},
        Expected{"inkrow-photo", Quality::kDraft, 1, false, 10, 1, "CMYKk", false, false, true},
        // The photo driver has no sixteen-ink mode; the sixteen-ink driver prints it at
        // high quality on the sixteen-ink paper, and elsewhere what the photo driver does.
        Expected{"inkrow-photo", Quality::kHigh, 26, false, 5, 26, "CMYcmk", false, false, false},
        Expected{"inkrow-sixteen", Quality::kHigh, 26, false, 0, 26, "CMYcmk", false, true, false},
        Expected{"inkrow-sixteen", Quality::kNormal, 26, false, 10, 26, "CMYcmk", false, false,
                 false},
        Expected{"inkrow-sixteen", Quality::kHigh, 0, false, 5, 0, "CMYKcm", false, false, true},
        // Quality 0 also exists for media 31 (CMYcmk).
        Expected{"inkrow-sixteen", Quality::kHigh, 31, false, 0, 31, "CMYcmk", false, false, false},
        // CMYK inks: no light inks, so high falls back to 10 and photo paper to plain.
        Expected{"inkrow-cmyk", Quality::kHigh, 0, false, 10, 0, "CMYK", false, false, true},
        Expected{"inkrow-cmyk", Quality::kNormal, 27, false, 10, 0, "CMYK", false, false, true},
        Expected{"inkrow-cmyk", Quality::kNormal, 18, false, 10, 18, "CMY", false, false, false},
        // Black only: one K plane wherever the media allows it, plain paper elsewhere.
        Expected{"inkrow-black", Quality::kDraft, 0, true, 20, 0, "K", true, false, false},
        Expected{"inkrow-black", Quality::kDraft, 7, true, 10, 7, "K", true, false, true},
        Expected{"inkrow-black", Quality::kHigh, 8, true, 5, 8, "K", true, false, false},
        Expected{"inkrow-black", Quality::kNormal, 27, false, 10, 0, "K", true, false, true},
        // Monochrome on colour inks: black only on plain and matte, gray elsewhere.
        Expected{"inkrow-photo", Quality::kNormal, 0, true, 10, 0, "K", true, false, false},
        Expected{"inkrow-photo", Quality::kHigh, 7, true, 5, 7, "K", true, false, false},
        Expected{"inkrow-photo", Quality::kNormal, 27, true, 10, 27, "CMYcmk", false, false, false},
        Expected{"inkrow-sixteen", Quality::kHigh, 26, true, 0, 26, "CMYcmk", false, true, false}));

TEST(ModeMap, QualityOrdersStartAtTheRequestAndCoverEveryCode) {
    struct Case {
        DriverKind driver;
        Quality quality;
        int first;
    } cases[] = {
        {DriverKind::kPhoto, Quality::kDraft, 20},    {DriverKind::kPhoto, Quality::kNormal, 10},
        {DriverKind::kPhoto, Quality::kHigh, 5},      {DriverKind::kSixteen, Quality::kHigh, 0},
        {DriverKind::kSixteen, Quality::kNormal, 10}, {DriverKind::kBlack, Quality::kHigh, 5},
    };
    for (const Case& c : cases) {
        int order[5];
        ASSERT_EQ(QualityOrder(c.driver, c.quality, order), 5);
        EXPECT_EQ(order[0], c.first);
        int sorted[5];
        std::copy(order, order + 5, sorted);
        std::sort(sorted, sorted + 5);
        EXPECT_TRUE((sorted[0] == 0 && sorted[1] == 5 && sorted[2] == 10 && sorted[3] == 15 &&
                     sorted[4] == 20));
    }
}

TEST(ModeMap, MediaKeywords) {
    struct Case {
        const char* keyword;
        int code;
        bool known;
    } cases[] = {
        {"stationery", 0, true},
        {"photographic-matte", 7, true},
        {"photographic-glossy", 27, true},
        {"photographic-high-gloss", 26, true},
        {"transparency", 1, true},
        {"other", 0, true},
        {"labels", 0, false},
        {"", 0, false},
        {nullptr, 0, false},
    };
    for (const Case& c : cases) {
        bool known = !c.known;
        EXPECT_EQ(MediaCodeOf(c.keyword, &known), c.code) << (c.keyword ? c.keyword : "null");
        EXPECT_EQ(known, c.known) << (c.keyword ? c.keyword : "null");
    }
    EXPECT_EQ(MediaCodeOf("photographic", nullptr), 26);
}

TEST(ModeMap, OfferedMediaFollowTheInks) {
    EXPECT_TRUE(DriverSupportsMedia(DriverKind::kCmyk, 0));
    EXPECT_FALSE(DriverSupportsMedia(DriverKind::kCmyk, 27));
    EXPECT_FALSE(DriverSupportsMedia(DriverKind::kCmyk, 7));
    EXPECT_TRUE(DriverSupportsMedia(DriverKind::kBlack, 7));
    EXPECT_TRUE(DriverSupportsMedia(DriverKind::kBlack, 8));
    EXPECT_FALSE(DriverSupportsMedia(DriverKind::kBlack, 1));
    for (int i = 0; i < MediaTypeCount(); ++i) {
        EXPECT_TRUE(DriverSupportsMedia(DriverKind::kPhoto, MediaTypeAt(i).mediaCode));
        EXPECT_TRUE(DriverSupportsMedia(DriverKind::kSixteen, MediaTypeAt(i).mediaCode));
    }
}

TEST(ModeMap, DriversByName) {
    ASSERT_EQ(DriverCount(), 4);
    for (int i = 0; i < DriverCount(); ++i)
        EXPECT_EQ(FindDriver(DriverAt(i).name), &DriverAt(i));
    EXPECT_EQ(FindDriver("inkrow"), nullptr);
    EXPECT_EQ(FindDriver(nullptr), nullptr);
    // The sixteen-ink driver defaults to the paper its mode needs.
    bool known = false;
    EXPECT_EQ(MediaCodeOf(FindDriver("inkrow-sixteen")->mediaDefault, &known), 26);
    EXPECT_TRUE(known);
}

}  // namespace
