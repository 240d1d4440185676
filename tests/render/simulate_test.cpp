// The print simulator: a stream of known pixels reads back to the Lab values the ink
// model gives them, and bad patch lists and patches are refused with a reason.
#include "simulate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ink_model.h"
#include "render_support.h"

namespace {

namespace decode = inkrow::decode;
namespace ink = inkrow::ink;

constexpr int kBand = 32;

// Left to right: white, solid black, a black checkerboard.
void DrawThirds(int y, int width, std::uint8_t* line, const void*) {
    for (int x = 0; x < width; ++x) {
        const int third = x / kBand;
        line[x] = third == 0 ? 255 : (third == 1 || (x + y) % 2 == 0) ? 0 : 255;
    }
}

struct Simulated {
    decode::Decoded decoded;
    std::vector<decode::PictureInk> inks;
};

Simulated PrintThirds() {
    RenderJobOptions options = rendertest::MakeOptions(20, 0, 3 * kBand, RENDER_GRAY8);
    options.raster.mode.blackOnly = 1;
    options.raster.mode.resolution = 300;
    const rendertest::JobRun run = rendertest::RunJob(options, 1, 64, DrawThirds);
    EXPECT_EQ(run.status, RENDER_OK) << run.error;
    Simulated s;
    s.decoded = rendertest::DecodeOrFail(run.stream);
    for (const decode::InkRaster& raster : s.decoded.pages.at(0).inks)
        s.inks.push_back({raster.code, &raster, {1, false}});
    return s;
}

TEST(Simulator, KnownPixelsReadAsTheInkModelHasThem) {
    const Simulated s = PrintThirds();
    ASSERT_EQ(s.inks.size(), 1u);
    const std::vector<decode::PatchRect> patches = {
        {"white", 4, 4, 28, 60}, {"black", 36, 4, 60, 60}, {"checker", 68, 4, 92, 60}};
    decode::SimulateOptions options;
    options.dotsPerInch = 300;
    decode::Simulation simulation;
    std::string message;
    ASSERT_TRUE(
        decode::SimulatePage(s.inks, 3 * kBand, 64, patches, options, &simulation, &message))
        << message;
    ASSERT_EQ(simulation.patches.size(), 3u);
    // (The simulator works out coverages in steps of 1/1023.)
    const auto expectLab = [](const ink::Lab& got, const ink::Lab& want, const char* what) {
        EXPECT_NEAR(got.l, want.l, 0.03) << what;
        EXPECT_NEAR(got.a, want.a, 0.03) << what;
        EXPECT_NEAR(got.b, want.b, 0.03) << what;
    };
    expectLab(simulation.patches[0].lab, ink::PaperLab(), "white");
    expectLab(simulation.patches[1].lab, ink::Lab{14.0, 0.0, 0.0}, "black");
    // Half the pixels inked; each white one has four inked neighbours and gains g of ink.
    ink::InkSet black;
    ASSERT_TRUE(ink::MakeInkSet("K", 1, &black));
    const double gain = ink::FindInk('K')->dotGain;
    ink::Bands root;
    for (int b = 0; b < 3; ++b)
        root.v[b] =
            0.5 * black.rootPrimaries[1].v[b] +
            0.5 * ((1 - gain) * black.rootPrimaries[0].v[b] + gain * black.rootPrimaries[1].v[b]);
    expectLab(simulation.patches[2].lab, ink::ToLab(ink::FromRoot(root)), "checker");
    EXPECT_NEAR(simulation.patches[1].xyz[1], 100.0 * ink::FromLab({14.0, 0, 0}).v[1], 0.05);
}

TEST(Simulator, RefusesPatchesOutsideThePageAndBadLists) {
    const Simulated s = PrintThirds();
    decode::Simulation simulation;
    std::string message;
    const std::vector<decode::PatchRect> outside = {{"far", 90, 4, 100, 10}};
    EXPECT_FALSE(decode::SimulatePage(s.inks, 3 * kBand, 64, outside, {}, &simulation, &message));
    EXPECT_NE(message.find("patch far is empty or outside the page of 96 x 64"), std::string::npos)
        << message;
    EXPECT_FALSE(decode::SimulatePage(s.inks, 0, 64, {}, {}, &simulation, &message));
    EXPECT_EQ(message, "the page is empty");

    const auto directory = std::filesystem::temp_directory_path() / "inkrow_simulate_test";
    std::filesystem::create_directories(directory);
    const auto listPath = (directory / "patches.txt").string();
    std::vector<decode::PatchRect> patches;
    struct ListCase {
        const char* text;
        const char* error;  // empty: the list reads
    };
    const ListCase cases[] = {
        {"# chart\nA1 0 0 8 8 100 0 0 0\n\nA2 8 0 16 8 0 100 0 0 # magenta\n", ""},
        {"A1 0 0 8\n", "patches.txt:1: a patch needs ID X0 Y0 X1 Y1"},
        {"A1 0 0 8 8 1 2\n", "patches.txt:1: after the rectangle come four device values"},
        {"A1 0 0 8 8 1 2 3 4 5\n", "after the rectangle"},
        {"# nothing\n", "patches.txt: no patches"},
    };
    for (const ListCase& c : cases) {
        std::ofstream(listPath) << c.text;
        const bool read = decode::ReadPatchList(listPath, &patches, &message);
        EXPECT_EQ(read, c.error[0] == '\0') << c.text;
        if (!read) {
            EXPECT_NE(message.find(c.error), std::string::npos) << message;
        }
    }
    EXPECT_FALSE(decode::ReadPatchList((directory / "none.txt").string(), &patches, &message));
    EXPECT_NE(message.find("No such file"), std::string::npos) << message;

    // A CGATS reading of two patches with device values; an unwritable path fails.
    std::ofstream(listPath) << cases[0].text;
    ASSERT_TRUE(decode::ReadPatchList(listPath, &patches, &message));
    std::vector<decode::PatchReading> readings(2);
    readings[1].lab = {50.0, 60.0, -5.0};
    const auto ti3 = (directory / "chart.ti3").string();
    ASSERT_TRUE(decode::WriteTi3(ti3, patches, readings, &message)) << message;
    std::ifstream written(ti3);
    const std::string text((std::istreambuf_iterator<char>(written)), {});
    EXPECT_EQ(text.rfind("CTI3", 0), 0u);
    EXPECT_NE(text.find("COLOR_REP \"CMYK_XYZ\""), std::string::npos);
    EXPECT_NE(text.find("SAMPLE_ID CMYK_C CMYK_M CMYK_Y CMYK_K XYZ_X"), std::string::npos);
    EXPECT_NE(text.find("NUMBER_OF_SETS 2"), std::string::npos);
    EXPECT_NE(text.find("A2 0.0000 100.0000 0.0000 0.0000 0.000000 0.000000 0.000000 50.00000 "
                        "60.00000 -5.00000"),
              std::string::npos)
        << text;
    EXPECT_FALSE(
        decode::WriteTi3((directory / "no" / "x.ti3").string(), patches, readings, &message));
    std::filesystem::remove_all(directory);
}

}  // namespace
