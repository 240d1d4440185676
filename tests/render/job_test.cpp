// Whole jobs: the stream decodes to exactly the levels the raster stage made, in every
// plane kind; blank lines and pages cost nothing; failures are reported and stick.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "render_support.h"
#include "test_seed.h"

namespace {

namespace decode = inkrow::decode;
using rendertest::Bytes;

// A picture with blank bands, a gradient, and a few saturated blocks.
void DrawPicture(int y, int width, std::uint8_t* line, const void* context) {
    const int channels = *static_cast<const int*>(context);
    for (int x = 0; x < width; ++x) {
        std::uint8_t* p = line + static_cast<std::size_t>(x) * static_cast<std::size_t>(channels);
        const bool blank = (y / 20) % 3 == 1 || x < 7;
        for (int c = 0; c < channels; ++c) {
            int v = (x * 255 / width + c * 60 + y * 3) % 256;
            if ((x / 30 + y / 30) % 5 == 0) v = c == 1 ? 255 : 0;
            p[c] = static_cast<std::uint8_t>(channels == 4 ? v : 255 - v);
            if (blank) p[c] = channels == 4 ? 0 : 255;
        }
    }
}

int LevelAt(const BandPlane& plane, int bitsPerPixel, int x) {
    if (plane.pixels == nullptr) return 0;
    const int perByte = 8 / bitsPerPixel;
    return (plane.pixels[x / perByte] >> (8 - bitsPerPixel * (x % perByte + 1))) &
           ((1 << bitsPerPixel) - 1);
}

struct RoundTripCase {
    int quality, media, colorSpace, resolution, halftone;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, StreamHoldsExactlyTheRenderedLevels) {
    const RoundTripCase c = GetParam();
    const int width = 157;  // no multiple of any pixels-per-byte
    const int height = 90;
    RenderJobOptions options = rendertest::MakeOptions(c.quality, c.media, width, c.colorSpace);
    options.raster.mode.resolution = c.resolution;
    options.raster.halftone = c.halftone;
    int channels = c.colorSpace;

    // What the raster stage makes, read before the module works on the lines.
    RenderRaster* raster = nullptr;
    ASSERT_EQ(RenderRasterOpen(&options.raster, &raster), RENDER_OK);
    RenderRasterStartPage(raster);
    const RenderMode mode = *RenderRasterMode(raster);
    std::vector<std::vector<int>> expected(
        static_cast<std::size_t>(mode.planeCount),
        std::vector<int>(static_cast<std::size_t>(width * height)));
    Bytes line(static_cast<std::size_t>(width * channels));
    for (int y = 0; y < height; ++y) {
        DrawPicture(y, width, line.data(), &channels);
        RasterBand band;
        ASSERT_EQ(RenderRasterLine(raster, line.data(), line.size(), &band, nullptr), RENDER_OK);
        for (int i = 0; i < mode.planeCount; ++i)
            for (int x = 0; x < width; ++x)
                expected[static_cast<std::size_t>(i)][static_cast<std::size_t>(y * width + x)] =
                    LevelAt(band.bandPlanes[i], mode.planes[i].bitsPerPixel, x);
    }
    RenderRasterClose(raster);

    const rendertest::JobRun run = rendertest::RunJob(options, 1, height, DrawPicture, &channels);
    ASSERT_EQ(run.status, RENDER_OK) << run.error;
    const decode::Decoded decoded = rendertest::DecodeOrFail(run.stream);
    ASSERT_EQ(decoded.pages.size(), 1u);
    for (int i = 0; i < mode.planeCount; ++i) {
        const auto image =
            rendertest::InkLevels(decoded.pages[0], mode, mode.planes[i].inkCode, width);
        SCOPED_TRACE(std::string(mode.inks) + " plane " + mode.planes[i].ink);
        int mismatches = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int got = 0;
                if (!image.levels.empty() && y < static_cast<int>(image.height))
                    got = image.levels[static_cast<std::size_t>(y) * image.width +
                                       static_cast<std::size_t>(x)];
                if (got !=
                    expected[static_cast<std::size_t>(i)][static_cast<std::size_t>(y * width + x)])
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RoundTrip,
    ::testing::Values(RoundTripCase{20, 0, RENDER_RGB8, 600, RENDER_DIFFUSION},
                      RoundTripCase{10, 0, RENDER_CMYK8, 300, RENDER_DIFFUSION},
                      RoundTripCase{10, 27, RENDER_RGB8, 360, RENDER_ORDERED},
                      RoundTripCase{5, 7, RENDER_GRAY8, 600, RENDER_DIFFUSION},
                      RoundTripCase{10, 1, RENDER_RGB8, 300, RENDER_ORDERED},
                      RoundTripCase{10, 37, RENDER_CMYK8, 600, RENDER_DIFFUSION}));

TEST(RenderJob, SixteenInkJobPrintsEveryPrinterPlane) {
    int channels = 4;
    RenderJobOptions options = rendertest::MakeOptions(0, 26, 120, RENDER_CMYK8);
    const rendertest::JobRun run = rendertest::RunJob(options, 2, 64, DrawPicture, &channels);
    ASSERT_EQ(run.status, RENDER_OK) << run.error;
    const decode::Decoded decoded = rendertest::DecodeOrFail(run.stream);
    ASSERT_EQ(decoded.pages.size(), 2u);
    int printing = 0;
    for (const auto& ink : decoded.pages[0].inks)
        printing += ink.longestLine > 0 ? 1 : 0;
    EXPECT_EQ(printing, 16);
}

TEST(RenderJob, FormFeedJobAndBlankPagesDecode) {
    int channels = 3;
    RenderJobOptions options = rendertest::MakeOptions(10, 0, 100, RENDER_RGB8);
    options.raster.mode.formFeed = 1;
    rendertest::JobRun run = rendertest::RunJob(options, 3, 50, DrawPicture, &channels);
    ASSERT_EQ(run.status, RENDER_OK) << run.error;
    decode::Decoded decoded = rendertest::DecodeOrFail(run.stream, true);
    EXPECT_GE(decoded.totals.formFeeds, 1u);
    EXPECT_GE(decoded.totals.pages, 1u);

    auto white = [](int, int width, std::uint8_t* line, const void*) {
        std::memset(line, 255, static_cast<std::size_t>(width) * 3);
    };
    run = rendertest::RunJob(rendertest::MakeOptions(10, 0, 100, RENDER_RGB8), 2, 7000, white);
    ASSERT_EQ(run.status, RENDER_OK) << run.error;
    decoded = rendertest::DecodeOrFail(run.stream);
    ASSERT_EQ(decoded.pages.size(), 2u);
    EXPECT_EQ(decoded.totals.payloadBytes, 0u);
    EXPECT_LT(run.stream.size(), 200u);  // two blank A4-length pages: headers and page ends
}

struct FailingSink {
    std::size_t budget;
};

int WriteWithBudget(void* context, const std::uint8_t*, std::size_t length) {
    auto* sink = static_cast<FailingSink*>(context);
    if (length > sink->budget) return -1;
    sink->budget -= length;
    return 0;
}

TEST(RenderJob, WriteFailureSticksAndIsReportedAtClose) {
    RenderJobOptions options = rendertest::MakeOptions(10, 0, 64, RENDER_GRAY8);
    FailingSink sink{40};
    options.write = WriteWithBudget;
    options.writeContext = &sink;
    RenderJob* job = nullptr;
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
    Bytes line(64, 0);
    int status = RENDER_OK;
    for (int y = 0; y < 100 && status == RENDER_OK; ++y)
        status = RenderJobWriteLine(job, line.data(), line.size());
    EXPECT_EQ(status, RENDER_WRITE_FAILED);
    EXPECT_NE(std::string(RenderJobErrorText(job)).find("writing"), std::string::npos);
    EXPECT_EQ(RenderJobWriteLine(job, line.data(), line.size()), RENDER_CALL_ORDER);
    EXPECT_EQ(RenderJobEndPage(job), RENDER_CALL_ORDER);
    EXPECT_EQ(RenderJobClose(job), RENDER_WRITE_FAILED);
}

// The module gets a batch while the next one renders, and the page's last batch at its
// end: a failed write is reported by the call during which it happened, whichever.
TEST(RenderJob, WriteFailureIsReportedByTheCallThatSentTheLines) {
    struct Case {
        int height;
        int failingLine;  // the line whose write reports it; -1: the page's end
    };
    for (const Case c : {Case{20, -1}, Case{40, -1}, Case{100, 63}}) {
        SCOPED_TRACE("height " + std::to_string(c.height));
        RenderJobOptions options = rendertest::MakeOptions(10, 0, 64, RENDER_GRAY8);
        FailingSink sink{0};
        options.write = WriteWithBudget;
        options.writeContext = &sink;
        RenderJob* job = nullptr;
        ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
        ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
        const Bytes line(64, 0);
        int failedAt = -2;
        for (int y = 0; y < c.height && failedAt == -2; ++y)
            if (RenderJobWriteLine(job, line.data(), line.size()) != RENDER_OK) failedAt = y;
        if (failedAt == -2 && RenderJobEndPage(job) == RENDER_WRITE_FAILED) failedAt = -1;
        EXPECT_EQ(failedAt, c.failingLine);
        EXPECT_EQ(RenderJobClose(job), RENDER_WRITE_FAILED);
    }
}

int Discard(void*, const std::uint8_t*, std::size_t) {
    return 0;
}

TEST(RenderJob, ModuleRefusalOfAnOverfullRowIsAnError) {
    // Noise on the widest line: a row of sixteen such lines cannot fit in one packet.
    const int width = RENDER_MAX_WIDTH;
    RenderJobOptions options = rendertest::MakeOptions(5, 0, width, RENDER_CMYK8);
    options.write = Discard;
    RenderJob* job = nullptr;
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
    std::mt19937 random(7);
    Bytes line(static_cast<std::size_t>(width) * 4);
    int status = RENDER_OK;
    for (int y = 0; y < 64 && status == RENDER_OK; ++y) {
        for (auto& byte : line)
            byte = static_cast<std::uint8_t>(random());
        status = RenderJobWriteLine(job, line.data(), line.size());
    }
    EXPECT_EQ(status, RENDER_MODULE_REFUSED);
    EXPECT_NE(std::string(RenderJobErrorText(job)).find("refused line"), std::string::npos)
        << RenderJobErrorText(job);
    EXPECT_EQ(RenderJobClose(job), RENDER_MODULE_REFUSED);
}

TEST(RenderJob, CallsOutOfOrderAndBadArgumentsAreRefused) {
    RenderJobOptions options = rendertest::MakeOptions(10, 0, 8, RENDER_GRAY8);
    RenderJob* job = nullptr;
    EXPECT_EQ(RenderJobOpen(&options, &job), RENDER_BAD_ARGUMENT);  // no write callback
    options.write = Discard;
    EXPECT_EQ(RenderJobOpen(nullptr, &job), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderJobOpen(&options, nullptr), RENDER_BAD_ARGUMENT);
    options.raster.mode.mediaCode = 18;
    options.raster.mode.qualityCode = 5;
    EXPECT_EQ(RenderJobOpen(&options, &job), RENDER_UNSUPPORTED_MODE);
    options.raster.mode.qualityCode = 10;
    options.raster.width = 0;
    EXPECT_EQ(RenderJobOpen(&options, &job), RENDER_BAD_WIDTH);
    options.raster.width = 8;

    Bytes line(8, 0);
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    EXPECT_EQ(RenderJobEndPage(job), RENDER_CALL_ORDER);
    RenderJobClose(job);
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    EXPECT_EQ(RenderJobWriteLine(job, line.data(), line.size()), RENDER_CALL_ORDER);
    RenderJobClose(job);
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
    EXPECT_EQ(RenderJobStartPage(job), RENDER_CALL_ORDER);
    RenderJobClose(job);
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
    EXPECT_EQ(RenderJobWriteLine(job, line.data(), 7), RENDER_BAD_LINE);
    EXPECT_NE(std::string(RenderJobErrorText(job)).find("7 bytes, not 8"), std::string::npos);
    EXPECT_EQ(RenderJobClose(job), RENDER_BAD_LINE);
    EXPECT_EQ(RenderJobClose(nullptr), RENDER_BAD_ARGUMENT);
}

TEST(RenderJob, ClosingWithAPageOpenEndsIt) {
    Bytes stream;
    RenderJobOptions options = rendertest::MakeOptions(10, 0, 32, RENDER_GRAY8);
    options.write = [](void* context, const std::uint8_t* bytes, std::size_t length) {
        auto* out = static_cast<Bytes*>(context);
        out->insert(out->end(), bytes, bytes + length);
        return 0;
    };
    options.writeContext = &stream;
    RenderJob* job = nullptr;
    ASSERT_EQ(RenderJobOpen(&options, &job), RENDER_OK);
    ASSERT_EQ(RenderJobStartPage(job), RENDER_OK);
    Bytes line(32, 0);
    for (int y = 0; y < 20; ++y)
        ASSERT_EQ(RenderJobWriteLine(job, line.data(), line.size()), RENDER_OK);
    const std::uint64_t written = RenderJobBytesWritten(job);
    ASSERT_EQ(RenderJobClose(job), RENDER_OK);
    EXPECT_GT(stream.size(), written);
    const decode::Decoded decoded = rendertest::DecodeOrFail(stream);
    ASSERT_EQ(decoded.pages.size(), 1u);
    EXPECT_EQ(decoded.pages[0].rows * decoded.pages[0].linesPerRow, 32u);
}

}  // namespace

extern "C" int PrintSmallPageFromC(std::size_t* streamBytes, int* planeCount);

namespace {

TEST(RenderJob, UsableFromC) {
    std::size_t bytes = 0;
    int planes = 0;
    EXPECT_EQ(PrintSmallPageFromC(&bytes, &planes), RENDER_OK);
    EXPECT_EQ(planes, 4);
    EXPECT_GT(bytes, 40u);  // a page header, an ink selection and black packets
}

}  // namespace

// Threads share out the lines and planes of each batch; the stream must not depend on
// their number. Noise (from the seed) over blank lines, white margins, and solid bands,
// two pages whose height is no multiple of the batch, in the plane kinds that matter
// here: light inks beside their dark ones, the sixteen-ink split, one plane alone.
struct NoisePage {
    std::uint32_t seed;
    int channels;
};

void DrawNoise(int y, int width, std::uint8_t* line, const void* context) {
    const auto& page = *static_cast<const NoisePage*>(context);
    const std::uint8_t white = page.channels == 4 ? 0 : 255;
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < page.channels; ++c) {
            std::uint32_t h = page.seed ^ static_cast<std::uint32_t>((y * 7919 + x) * 4 + c);
            h = (h ^ (h >> 15)) * 0x2C1B3C6Du;
            h = (h ^ (h >> 12)) * 0x297A2D39u;
            std::uint8_t v = static_cast<std::uint8_t>(h ^ (h >> 15));
            if (y % 40 >= 33 || x < y % 23 || x > width - 5) v = white;  // blank and margins
            if (y % 40 >= 20 && y % 40 < 24) v = static_cast<std::uint8_t>(255 - white);
            line[static_cast<std::size_t>(x * page.channels + c)] = v;
        }
}

TEST(RenderJob, TheStreamIsTheSameWhateverTheNumberOfThreads) {
    const std::uint32_t seed = testseed::TestSeed(0x5EED23u);
    SCOPED_TRACE(testseed::SeedNote(seed));
    const RoundTripCase cases[] = {
        {5, 0, RENDER_CMYK8, 600, RENDER_DIFFUSION},   // CMYKcm, two bits
        {10, 7, RENDER_RGB8, 600, RENDER_DIFFUSION},   // light black beside K
        {0, 26, RENDER_CMYK8, 600, RENDER_DIFFUSION},  // the sixteen-ink split
        {10, 27, RENDER_RGB8, 300, RENDER_ORDERED},
        {20, 0, RENDER_GRAY8, 600, RENDER_DIFFUSION},  // one plane: nothing to share
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE("quality " + std::to_string(c.quality) + " media " + std::to_string(c.media));
        const NoisePage page{seed, c.colorSpace};
        Bytes streams[3];
        const int threads[3] = {1, 2, 4};
        for (int t = 0; t < 3; ++t) {
            RenderJobOptions options =
                rendertest::MakeOptions(c.quality, c.media, 211, c.colorSpace);
            options.raster.mode.resolution = c.resolution;
            options.raster.halftone = c.halftone;
            options.raster.threads = threads[t];
            const rendertest::JobRun run = rendertest::RunJob(options, 2, 75, DrawNoise, &page);
            ASSERT_EQ(run.status, RENDER_OK) << run.error;
            streams[t] = run.stream;
        }
        EXPECT_GT(streams[0].size(), 1000u);
        EXPECT_TRUE(streams[1] == streams[0]) << "2 threads differ from 1";
        EXPECT_TRUE(streams[2] == streams[0]) << "4 threads differ from 1";
    }
}
