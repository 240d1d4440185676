// Colour management: the files refused with words naming them, the calibration mode's
// raw inks, a calibration's curves and ink limit, the intents of a real printer profile
// (Ghostscript's CMYK output profile), and the transform that carries a calibration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "separation.h"
#include "test_seed.h"

namespace {

namespace fs = std::filesystem;
namespace render = inkrow::render;

// A profile Ghostscript installs, whatever its version's folder; "" when none.
std::string GhostscriptProfile(const char* name) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/share/ghostscript", error)) {
        const fs::path path = entry.path() / "iccprofiles" / name;
        if (fs::exists(path)) return path.string();
    }
    return "";
}

// Files the tests write, under one prefix, removed by the test that wrote them.
std::string TempPrefix() {
    return (fs::temp_directory_path() / ("inkrow_color_" + std::to_string(::getpid()) + "_"))
        .string();
}

void RemoveWritten() {
    const std::string prefix = TempPrefix();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), error))
        if (entry.path().string().rfind(prefix, 0) == 0) fs::remove(entry.path(), error);
}

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = TempPrefix() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A printcal calibration: every ink's output as a function of its input, 0 .. 1.
std::string Calibration(const char* represents, double scale, const char* limit, int rows) {
    std::string text = "CAL\n\nDESCRIPTOR \"test\"\nORIGINATOR \"test\"\nDEVICE_CLASS \"OUTPUT\"\n";
    text += std::string("COLOR_REP \"") + represents + "\"\n";
    if (limit != nullptr) text += std::string("TOTAL_INK_LIMIT \"") + limit + "\"\n";
    text +=
        "\nNUMBER_OF_FIELDS 5\nBEGIN_DATA_FORMAT\nCMYK_I CMYK_C CMYK_M CMYK_Y CMYK_K\n"
        "END_DATA_FORMAT\n\nNUMBER_OF_SETS " +
        std::to_string(rows) + "\nBEGIN_DATA\n";
    for (int r = 0; r < rows; ++r) {
        const double x = static_cast<double>(r) / (rows - 1);
        char line[160];
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %.6f\n", x, x * scale, x, x, x);
        text += line;
    }
    return text + "END_DATA\n";
}

int Open(const RenderColorOptions& options, RenderColor** color, std::string* words) {
    char text[512];
    const int status = RenderColorOpen(&options, color, text, sizeof text);
    *words = text;
    return status;
}

struct Refused {
    const char* what;
    const char* profile;      // output profile: "cmyk", "rgb", "text", "short", "missing"
    const char* calibration;  // a file's text, or "cmyk" for an ICC profile's bytes
    const char* reason;       // words the refusal must hold
};

TEST(ColorFiles, RefusedWithTheFileAndTheReason) {
    const std::string cmyk = GhostscriptProfile("default_cmyk.icc");
    const std::string rgb = GhostscriptProfile("srgb.icc");
    ASSERT_FALSE(cmyk.empty() || rgb.empty()) << "Ghostscript's ICC profiles are not installed";
    const std::string text = WriteFile("text.icc", "this is no profile\n");
    const std::string cut = WriteFile("short.icc", ReadFile(cmyk).substr(0, 600));
    const std::string good = Calibration("CMYK", 1.0, nullptr, 5);
    const std::string truncated = good.substr(0, good.size() - 40);
    std::string falling = good;
    falling.replace(falling.find("0.250000 0.250000"), 8, "0.900000");
    const Refused cases[] = {
        {"missing profile", "missing", nullptr, "cannot be read"},
        {"text as profile", "text", nullptr, "not an ICC profile"},
        {"RGB as printer profile", "rgb", nullptr, "device space is RGB"},
        {"profile cut short", "short", nullptr, ""},
        {"profile as calibration", "cmyk", "cmyk", "not a CGATS"},
        {"RGB calibration", "cmyk", "rgb", "COLOR_REP"},
        {"calibration cut short", "cmyk", "truncated", ""},
        {"input not rising", "cmyk", "falling", "does not rise"},
        {"ink limit over 400", "cmyk", "limit", "TOTAL_INK_LIMIT"},
    };
    for (const Refused& refused : cases) {
        SCOPED_TRACE(refused.what);
        const std::string profile = std::string(refused.profile) == "cmyk"   ? cmyk
                                    : std::string(refused.profile) == "rgb"  ? rgb
                                    : std::string(refused.profile) == "text" ? text
                                    : std::string(refused.profile) == "short"
                                        ? cut
                                        : "/nonexistent/p.icc";
        std::string calibration;
        if (refused.calibration != nullptr) {
            const std::string kind = refused.calibration;
            calibration = kind == "cmyk"  ? cmyk
                          : kind == "rgb" ? WriteFile("rgb.cal", Calibration("RGB", 1, nullptr, 5))
                          : kind == "truncated" ? WriteFile("cut.cal", truncated)
                          : kind == "falling"
                              ? WriteFile("falling.cal", falling)
                              : WriteFile("limit.cal", Calibration("CMYK", 1, "450", 5));
        }
        RenderColorOptions options;
        RenderColorOptionsInit(&options);
        options.outputProfile = profile.c_str();
        options.calibration = calibration.empty() ? nullptr : calibration.c_str();
        RenderColor* color = reinterpret_cast<RenderColor*>(&options);
        std::string words;
        EXPECT_EQ(Open(options, &color, &words), RENDER_BAD_COLOR_FILE);
        EXPECT_EQ(color, nullptr);
        const std::string& named = calibration.empty() ? profile : calibration;
        EXPECT_NE(words.find(named), std::string::npos) << words;
        EXPECT_NE(words.find(refused.reason), std::string::npos) << words;
    }
    // An input profile needs an output profile to go to.
    RenderColorOptions options;
    RenderColorOptionsInit(&options);
    options.inputProfile = rgb.c_str();
    RenderColor* color = nullptr;
    std::string words;
    EXPECT_EQ(Open(options, &color, &words), RENDER_BAD_COLOR_FILE);
    EXPECT_NE(words.find(rgb), std::string::npos) << words;
    RemoveWritten();
}

// Separates one line of `pixels` (CMYK or RGB) with the colour and returns pixel 0's
// four process amounts.
std::array<int, 4> Separate(const RenderColor* color, int colorSpace, const std::uint8_t* pixel) {
    RenderModeRequest request{};
    request.qualityCode = 10;
    request.resolution = 600;
    RenderMode mode{};
    EXPECT_EQ(RenderDescribeMode(&request, &mode), RENDER_OK);
    render::Separation separation;
    render::BuildSeparation(mode, colorSpace, color, &separation);
    std::uint16_t rows[4][1];
    std::uint16_t* process[4] = {rows[0], rows[1], rows[2], rows[3]};
    int first = 0;
    int end = 0;
    render::SeparateLine(separation, pixel, 1, process, &first, &end);
    return {rows[0][0], rows[1][0], rows[2][0], rows[3][0]};
}

TEST(ColorFiles, CalibrationModePrintsTheRawInks) {
    RenderColorOptions options;
    RenderColorOptionsInit(&options);
    options.calibrationMode = 1;
    options.outputProfile = "/nonexistent/ignored.icc";  // calibration mode reads no file
    RenderColor* color = nullptr;
    std::string words;
    ASSERT_EQ(Open(options, &color, &words), RENDER_OK) << words;
    RenderModeRequest request{};
    request.qualityCode = 10;
    request.resolution = 600;
    RenderMode mode{};
    ASSERT_EQ(RenderDescribeMode(&request, &mode), RENDER_OK);
    render::Separation raw;
    render::Separation formula;
    render::BuildSeparation(mode, RENDER_CMYK8, color, &raw);
    render::BuildSeparation(mode, RENDER_CMYK8, nullptr, &formula);
    for (int i = 0; i < mode.planeCount; ++i) {
        SCOPED_TRACE(mode.planes[i].ink);
        // A plane without a light partner prints exactly the amount asked for.
        for (int a = 1; a <= render::kInkFull; a += 97)
            EXPECT_EQ(raw.recipes[i].table[static_cast<std::size_t>(a)], a);
        EXPECT_NE(raw.recipes[i].table, formula.recipes[i].table);  // the tone curve is out
    }
    const std::uint8_t pixel[4] = {10, 100, 200, 255};
    const std::array<int, 4> amounts = Separate(color, RENDER_CMYK8, pixel);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(amounts[static_cast<std::size_t>(c)], raw.byteToAmount[pixel[c]]);
    RenderColorClose(color);
}

TEST(ColorFiles, CalibrationCurvesAndInkLimit) {
    const std::string path = WriteFile("half.cal", Calibration("CMYK", 0.5, "200", 17));
    RenderColorOptions options;
    RenderColorOptionsInit(&options);
    options.calibration = path.c_str();
    RenderColor* color = nullptr;
    std::string words;
    ASSERT_EQ(Open(options, &color, &words), RENDER_OK) << words;
    const std::uint8_t light[4] = {204, 51, 0, 0};  // under the limit: the curves alone
    const std::array<int, 4> curved = Separate(color, RENDER_CMYK8, light);
    EXPECT_NEAR(curved[0], 0.4 * render::kInkFull, 2);
    EXPECT_NEAR(curved[1], 0.2 * render::kInkFull, 2);
    const std::uint8_t full[4] = {255, 255, 255, 255};  // 350 % after the curves
    const std::array<int, 4> limited = Separate(color, RENDER_CMYK8, full);
    EXPECT_LE(limited[0] + limited[1] + limited[2] + limited[3], 2 * render::kInkFull);
    EXPECT_GT(limited[0] + limited[1] + limited[2] + limited[3], 2 * render::kInkFull - 8);
    EXPECT_LT(limited[0], limited[1]);  // the half-strength cyan stays the smallest
    RenderColorClose(color);
    RemoveWritten();
}

// Opens colour management with an output profile, a calibration, or both (NULL: none).
RenderColor* OpenColor(const char* profile, const char* calibration) {
    RenderColorOptions options;
    RenderColorOptionsInit(&options);
    options.outputProfile = profile;
    options.inputProfile = profile;  // device CMYK through a transform too
    options.calibration = calibration;
    RenderColor* color = nullptr;
    std::string words;
    EXPECT_EQ(Open(options, &color, &words), RENDER_OK) << words;
    return color;
}

// The transform of a profile and a calibration prints what the profile's amounts would
// through the calibration, and never over its ink limit.
TEST(ColorFiles, AProfileTransformCarriesTheCalibration) {
    const std::string cmyk = GhostscriptProfile("default_cmyk.icc");
    const std::string cal = WriteFile("half.cal", Calibration("CMYK", 0.5, "200", 17));
    RenderColor* profiled = OpenColor(cmyk.c_str(), nullptr);
    RenderColor* both = OpenColor(cmyk.c_str(), cal.c_str());
    RenderColor* calibration = OpenColor(nullptr, cal.c_str());
    ASSERT_TRUE(profiled != nullptr && both != nullptr && calibration != nullptr);
    // Rounding apart, interpolating calibrated amounts gives what calibrating interpolated
    // ones does: the curves are straight lines here and the limit scales linearly.
    const std::uint8_t colours[][3] = {{230, 200, 180}, {120, 180, 220}, {0, 0, 0}, {20, 30, 90}};
    for (const auto& rgb : colours) {
        SCOPED_TRACE(testing::Message() << int{rgb[0]} << " " << int{rgb[1]} << " " << int{rgb[2]});
        std::array<int, 4> wanted = Separate(profiled, RENDER_RGB8, rgb);
        render::Calibrate(calibration, &wanted[0], &wanted[1], &wanted[2], &wanted[3]);
        const std::array<int, 4> got = Separate(both, RENDER_RGB8, rgb);
        for (std::size_t ink = 0; ink < 4; ++ink)
            EXPECT_NEAR(got[ink], wanted[ink], 3);
        EXPECT_LE(got[0] + got[1] + got[2] + got[3], 2 * render::kInkFull + 2);
    }
    for (RenderColor* color : {profiled, both, calibration})
        RenderColorClose(color);
    RemoveWritten();
}

// A line's runs of one colour come out as each of their pixels alone would, across the
// transform's blocks of pixels and in every page colour space.
TEST(ColorFiles, RunsOfOneColourAsSinglePixels) {
    const std::uint32_t seed = testseed::TestSeed(22);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    RenderColor* color = OpenColor(GhostscriptProfile("default_cmyk.icc").c_str(), nullptr);
    ASSERT_NE(color, nullptr);
    for (const int space : {RENDER_GRAY8, RENDER_RGB8, RENDER_CMYK8}) {
        SCOPED_TRACE(space);
        ASSERT_TRUE(render::ColorTransforms(color, space));
        constexpr int kWidth = 700;  // over two of the transform's blocks
        std::vector<std::uint8_t> line;
        std::uint8_t pixel[4] = {};
        while (line.size() < kWidth * static_cast<std::size_t>(space)) {
            // Runs of 1 to 40 pixels, each run's colour differing in one channel only.
            pixel[random() % static_cast<unsigned>(space)] ^= 1 + random() % 255;
            for (auto repeats = 1 + random() % 40; repeats > 0; --repeats)
                line.insert(line.end(), pixel, pixel + space);
        }
        std::vector<std::uint16_t> whole(kWidth * 4);
        render::CorrectRun(color, space, line.data(), kWidth, whole.data());
        for (int x = 0; x < kWidth; ++x) {
            std::uint16_t alone[4];
            render::CorrectRun(color, space, line.data() + x * space, 1, alone);
            for (int ink = 0; ink < 4; ++ink)
                ASSERT_EQ(whole[static_cast<std::size_t>(x * 4 + ink)], alone[ink]) << x;
        }
    }
    RenderColorClose(color);
}

TEST(ColorFiles, IntentsOfAPrinterProfileDiffer) {
    const std::string cmyk = GhostscriptProfile("default_cmyk.icc");
    ASSERT_FALSE(cmyk.empty());
    const std::uint8_t nearWhite[3] = {250, 250, 250};
    std::array<int, 4> amounts[4];
    for (int intent = 0; intent < 4; ++intent) {
        RenderColorOptions options;
        RenderColorOptionsInit(&options);
        options.outputProfile = cmyk.c_str();
        options.intent = intent;
        RenderColor* color = nullptr;
        std::string words;
        ASSERT_EQ(Open(options, &color, &words), RENDER_OK) << words;
        EXPECT_EQ(RenderColorActive(color), 1);
        amounts[intent] = Separate(color, RENDER_RGB8, nearWhite);
        RenderColorClose(color);
    }
    // Absolute colorimetric prints the paper's tint under a near white; relative does not.
    EXPECT_NE(amounts[RENDER_INTENT_ABSOLUTE], amounts[RENDER_INTENT_RELATIVE]);
    EXPECT_EQ(RenderIntentFromName("saturation"), RENDER_INTENT_SATURATION);
    EXPECT_EQ(RenderIntentFromName("relative-bpc"), RENDER_INTENT_RELATIVE);
    EXPECT_EQ(RenderIntentFromName("vivid"), -1);
}

}  // namespace
