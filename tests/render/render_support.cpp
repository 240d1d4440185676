#include "render_support.h"

#include <gtest/gtest.h>

namespace rendertest {
namespace decode = inkrow::decode;

namespace {

int AppendBytes(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* stream = static_cast<Bytes*>(context);
    stream->insert(stream->end(), bytes, bytes + length);
    return 0;
}

}  // namespace

RenderJobOptions MakeOptions(int quality, int media, int width, int colorSpace) {
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.mode.qualityCode = quality;
    options.raster.mode.mediaCode = media;
    options.raster.width = width;
    options.raster.colorSpace = colorSpace;
    return options;
}

JobRun RunJob(const RenderJobOptions& base, int pages, int height, DrawLine draw,
              const void* context) {
    JobRun run;
    RenderJobOptions options = base;
    options.write = AppendBytes;
    options.writeContext = &run.stream;
    RenderJob* job = nullptr;
    run.status = RenderJobOpen(&options, &job);
    if (run.status != RENDER_OK) return run;
    const std::size_t lineBytes = static_cast<std::size_t>(options.raster.width) *
                                  static_cast<std::size_t>(options.raster.colorSpace);
    Bytes line(lineBytes);
    for (int page = 0; page < pages && run.status == RENDER_OK; ++page) {
        run.status = RenderJobStartPage(job);
        for (int y = 0; y < height && run.status == RENDER_OK; ++y) {
            draw(y, options.raster.width, line.data(), context);
            run.status = RenderJobWriteLine(job, line.data(), line.size());
        }
        if (run.status == RENDER_OK) run.status = RenderJobEndPage(job);
    }
    run.error = RenderJobErrorText(job);
    const int closed = RenderJobClose(job);
    if (run.status == RENDER_OK) run.status = closed;
    return run;
}

decode::Decoded DecodeOrFail(const Bytes& stream, bool formFeed) {
    decode::DecodeOptions options;
    options.keepListing = false;
    options.continuePageOnHeader = formFeed;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, options, &decoded);
    EXPECT_EQ(error.code, decode::ErrorCode::kNone) << error.message << " at " << error.offset;
    return decoded;
}

decode::PixelFormat FormatOfPrinterPlane(const RenderMode& mode, std::uint8_t code) {
    if (mode.split) return {2, false};
    for (int i = 0; i < mode.planeCount; ++i)
        if (mode.planes[i].inkCode == code)
            return {mode.planes[i].bitsPerPixel, mode.planes[i].codeConverted != 0};
    return {1, false};
}

decode::LevelImage InkLevels(const decode::Page& page, const RenderMode& mode, std::uint8_t code,
                             std::uint32_t width) {
    decode::LevelImage image;
    const decode::InkRaster* raster = decode::FindInk(page, code);
    if (raster == nullptr) return image;
    EXPECT_TRUE(decode::ExpandRaster(*raster, FormatOfPrinterPlane(mode, code), width, &image));
    return image;
}

double Coverage(const decode::LevelImage& image, int x0, int y0, int x1, int y1, int topLevel) {
    if (image.levels.empty()) return 0.0;
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            if (y >= static_cast<int>(image.height) || x >= static_cast<int>(image.width)) continue;
            sum += image.levels[static_cast<std::size_t>(y) * image.width +
                                static_cast<std::size_t>(x)];
        }
    return sum / (static_cast<double>(x1 - x0) * (y1 - y0) * topLevel);
}

}  // namespace rendertest
