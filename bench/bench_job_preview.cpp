// The printer application's job preview: an A4 page at 600 dpi (a colour wedge across
// it, so that every ink prints), printed once through the print layer, then its
// preview drawn from the stream as a job's end draws it: both decodings, the 150 dpi
// picture and the 256-pixel thumbnail. The job waits for this before it completes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "inkrow/print.h"
#include "job_preview_image.h"

namespace {

struct Printed {
    std::vector<std::uint8_t> stream;
    inkrow::app::PreviewPage page;
};

int Append(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* printed = static_cast<Printed*>(context);
    printed->stream.insert(printed->stream.end(), bytes, bytes + length);
    return 0;
}

void Note(void* context, const PrintProgress* progress) {
    auto* printed = static_cast<Printed*>(context);
    if (progress->event == PRINT_NEW_MODE && progress->mode != nullptr)
        printed->page = {progress->width, progress->height, progress->resolution, *progress->mode};
}

Printed PrintA4(int qualityCode, int mediaCode) {
    Printed printed;
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    options.mode.qualityCode = qualityCode;
    options.mode.mediaCode = mediaCode;
    options.mode.resolution = 600;
    options.write = Append;
    options.writeContext = &printed;
    options.progress = Note;
    options.progressContext = &printed;
    PrintJob* job = nullptr;
    if (PrintJobOpen(&options, &job) != RENDER_OK) return printed;
    const int width = 4960;
    const int height = 7016;
    const PrintPage page{width, height, RENDER_RGB8, 600, 0, std::size_t{width} * 3};
    std::vector<std::uint8_t> line(page.lineBytes);
    PrintJobStartPage(job, &page);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            line[x * 3] = static_cast<std::uint8_t>(x * 255 / width);
            line[x * 3 + 1] = static_cast<std::uint8_t>(y * 255 / height);
            line[x * 3 + 2] = static_cast<std::uint8_t>(255 - x * 255 / width);
        }
        PrintJobPushLine(job, line.data(), line.size());
    }
    PrintJobEndPage(job);
    PrintJobFinish(job);
    PrintJobClose(job);
    return printed;
}

void DrawA4(benchmark::State& state, int qualityCode, int mediaCode) {
    static Printed printed;
    printed = PrintA4(qualityCode, mediaCode);
    if (printed.stream.empty()) {
        state.SkipWithError("the page did not print");
        return;
    }
    for (auto _ : state) {
        inkrow::app::RgbPicture picture;
        inkrow::app::RgbPicture thumbnail;
        std::string why;
        if (!inkrow::app::DrawFirstPage(printed.stream, printed.page, inkrow::app::PreviewLimits{},
                                        &picture, &thumbnail, &why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        benchmark::DoNotOptimize(thumbnail.pixels.data());
    }
    state.counters["stream_MB"] = static_cast<double>(printed.stream.size()) / 1e6;
    state.counters["planes"] = printed.page.mode.printerPlanes;
}

}  // namespace

BENCHMARK_CAPTURE(DrawA4, cmyk, 10, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(DrawA4, photo_glossy, 5, 27)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(DrawA4, sixteen_ink, 0, 26)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
