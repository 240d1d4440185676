// Which colour files may serve which printer, and how print-rendering-intent reads.
#include "color_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace inkrow::app;

std::string GhostscriptProfile(const char* name) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/share/ghostscript", error))
        if (fs::exists(entry.path() / "iccprofiles" / name))
            return (entry.path() / "iccprofiles" / name).string();
    return "";
}

TEST(ColorCheck, ProfilesMatchTheInksAndWordsNameTheShownFile) {
    const std::string cmyk = GhostscriptProfile("default_cmyk.icc");
    const std::string rgb = GhostscriptProfile("default_rgb.icc");
    ASSERT_FALSE(cmyk.empty() || rgb.empty()) << "Ghostscript's ICC profiles are not installed";
    const std::string calibration =
        (fs::temp_directory_path() / ("inkrow_check_" + std::to_string(getpid()) + ".cal"))
            .string();
    std::ofstream(calibration) << "CAL\n\nCOLOR_REP \"CMYK\"\n\nNUMBER_OF_FIELDS 5\n"
                                  "BEGIN_DATA_FORMAT\nCMYK_I CMYK_C CMYK_M CMYK_Y CMYK_K\n"
                                  "END_DATA_FORMAT\n\nNUMBER_OF_SETS 2\nBEGIN_DATA\n"
                                  "0 0 0 0 0\n1 0.9 1 1 1\nEND_DATA\n";
    struct Case {
        DriverKind driver;
        ColorFileKind kind;
        const std::string& path;
        const char* refusal;  // nullptr: taken
    };
    const Case cases[] = {
        {kCmyk, ColorFileKind::kProfile, cmyk, nullptr},
        {kPhoto, ColorFileKind::kProfile, cmyk, nullptr},
        {kSixteen, ColorFileKind::kProfile, cmyk, nullptr},
        {kBlack, ColorFileKind::kProfile, cmyk, "black ink only"},
        {kPhoto, ColorFileKind::kProfile, rgb, "device space is RGB"},
        {kPhoto, ColorFileKind::kProfile, calibration, "not an ICC profile"},
        {kBlack, ColorFileKind::kCalibration, calibration, nullptr},
        {kPhoto, ColorFileKind::kCalibration, cmyk, "not a CGATS file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " for driver " + std::to_string(c.driver));
        const std::string why = CheckColorFile(c.driver, c.kind, c.path, "my file");
        if (c.refusal == nullptr) {
            EXPECT_EQ(why, "");
            continue;
        }
        EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
        EXPECT_NE(why.find("my file"), std::string::npos) << why;
        EXPECT_EQ(why.find(c.path), std::string::npos) << why;
    }
    fs::remove(calibration);
}

TEST(ColorCheck, RenderingIntentKeywords) {
    struct Case {
        const char* keyword;
        bool taken;
        int intent;
        int blackPointCompensation;
    };
    const Case cases[] = {
        {nullptr, true, RENDER_INTENT_PERCEPTUAL, 1},
        {"auto", true, RENDER_INTENT_PERCEPTUAL, 1},
        {"relative", true, RENDER_INTENT_RELATIVE, 0},
        {"relative-bpc", true, RENDER_INTENT_RELATIVE, 1},
        {"absolute", true, RENDER_INTENT_ABSOLUTE, 1},
        {"saturation", true, RENDER_INTENT_SATURATION, 1},
        {"vivid", false, RENDER_INTENT_PERCEPTUAL, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword != nullptr ? c.keyword : "(none)");
        RenderColorOptions options;
        RenderColorOptionsInit(&options);
        EXPECT_EQ(ApplyRenderingIntent(c.keyword, &options), c.taken);
        EXPECT_EQ(options.intent, c.intent);
        EXPECT_EQ(options.blackPointCompensation, c.blackPointCompensation);
    }
}

}  // namespace
