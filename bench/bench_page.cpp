// Page benchmark: a whole A4 page at 600 dpi through OutputProduceTwo / OutputComplete,
// from OutputOpen to OutputClose, beside a plain memcpy of the same raster.
//
// The page is the test page of inkrow-page, rendered once into memory before timing.
// The module works on the caller's lines in place: it masks the edge bytes of each
// line's inked span and rewrites code-converted planes. The rendered lines carry their
// exact first inked pixel as `start` and hold no ink outside their span, so the masking
// changes nothing and the same raster can be fed again and again. Code conversion does
// change the lines; for a mode with converted planes the raster is copied back before
// every iteration, outside the timed part. Whether a mode needs that is not assumed but
// found out: after a first run the working raster is compared with the rendered one.
//
// Timing is manual: each iteration times the page through the module, then times a
// memcpy of the same raster into another buffer. The counters give the module's lines
// per second and raster MB/s, the memcpy's MB/s, and x_memcpy, the module's time over
// the memcpy's. Their best_ counterparts take the fastest iteration of each instead of
// the mean: on a shared machine other work only ever slows a pass down, so the fastest
// of many is the figure that holds from run to run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "bench_pages.h"
#include "inkrow/output.h"
#include "inkrow/render.h"
#include "testpage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDpi = 600;

struct RenderedPage {
    int quality = 0;
    int media = 0;
    int width = 0;
    int height = 0;
    testpage::PlaneSetup setup;
    std::vector<std::uint8_t> pristine;  // every inked line of every plane, back to back
    std::vector<std::uint8_t> working;   // what the module is given
    std::vector<std::uint8_t> copy;      // the memcpy's destination
    std::vector<RasterBand> bands;       // one per line; pixels point into working
    bool restoreEachRun = false;
    bool failed = false;
};

bool BuildRenderedPage(int quality, int media, RenderedPage* page) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.resolution = kDpi;
    RenderMode mode;
    if (RenderDescribeMode(&request, &mode) != RENDER_OK) return false;
    page->quality = quality;
    page->media = media;
    page->width = testpage::A4Width(kDpi);
    page->height = testpage::A4Height(kDpi);
    page->setup = testpage::DescribeInputPlanes(mode);
    const testpage::Page drawing = testpage::BuildPage(page->setup, page->width, page->height, kDpi,
                                                       "INKROW TEST PAGE", "PAGE BENCHMARK");

    std::vector<std::uint8_t> levels(static_cast<std::size_t>(page->width));
    std::vector<std::uint8_t> line;
    std::vector<std::vector<std::ptrdiff_t>> offsets(static_cast<std::size_t>(page->height));
    page->bands.assign(static_cast<std::size_t>(page->height), RasterBand{});
    for (int y = 0; y < page->height; ++y) {
        RasterBand& band = page->bands[y];
        band.lineNumber = y;
        offsets[y].assign(static_cast<std::size_t>(page->setup.count), -1);
        for (int i = 0; i < page->setup.count; ++i) {
            BandPlane& plane = band.bandPlanes[i];
            plane.end = static_cast<std::int16_t>(page->width);
            plane.start = plane.end;
            if (!testpage::RenderLevels(drawing, y, i, levels.data())) continue;
            const int bits = page->setup.planes[i].bitsPerPixel;
            line.resize(testpage::LineBytes(page->width, bits));
            plane.start = static_cast<std::int16_t>(
                testpage::PackLevels(levels.data(), page->width, bits, line.data()));
            offsets[y][i] = static_cast<std::ptrdiff_t>(page->pristine.size());
            page->pristine.insert(page->pristine.end(), line.begin(), line.end());
        }
    }
    page->working = page->pristine;
    page->copy.assign(page->pristine.size(), 0);
    for (int y = 0; y < page->height; ++y)
        for (int i = 0; i < page->setup.count; ++i)
            if (offsets[y][i] >= 0)
                page->bands[y].bandPlanes[i].pixels = &page->working[offsets[y][i]];
    return true;
}

// A synthetic page of bench_pages.h: every plane a whole line on every line (start 0,
// as a simple caller hands them over, blank lines as zero bytes). Photo pages draw
// each plane with its own gradient; a text page has text in the K plane and blank lines
// in the others; a blank page is zero everywhere. With oneLine every line of a plane is
// its first line, read again and again from the cache: the module's own speed, apart
// from the memory's (the raster is still drawn whole, for the memcpy beside it).
bool BuildSyntheticPage(int quality, int media, benchpages::Content content, bool oneLine,
                        RenderedPage* page) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.resolution = kDpi;
    RenderMode mode;
    if (RenderDescribeMode(&request, &mode) != RENDER_OK || mode.split != 0) return false;
    page->quality = quality;
    page->media = media;
    page->width = benchpages::kWidth;
    page->height = benchpages::kHeight;
    page->setup.count = mode.planeCount;
    std::vector<benchpages::Plane> planes;
    for (int i = 0; i < mode.planeCount; ++i) {
        const bool text = content == benchpages::Content::kText;
        const benchpages::Content drawn =
            text && mode.planes[i].ink != 'K' ? benchpages::Content::kBlank : content;
        planes.push_back(benchpages::MakePlane(drawn, mode.planes[i].bitsPerPixel, i));
    }
    std::vector<std::ptrdiff_t> offsets;
    for (int y = 0; y < page->height; ++y) {
        for (const benchpages::Plane& plane : planes) {
            offsets.push_back(static_cast<std::ptrdiff_t>(page->pristine.size()));
            page->pristine.insert(page->pristine.end(), plane.Line(y),
                                  plane.Line(y) + plane.lineBytes);
        }
    }
    page->working = page->pristine;
    page->copy.assign(page->pristine.size(), 0);
    page->bands.assign(static_cast<std::size_t>(page->height), RasterBand{});
    std::size_t next = 0;
    for (int y = 0; y < page->height; ++y) {
        RasterBand& band = page->bands[y];
        band.lineNumber = y;
        for (int i = 0; i < mode.planeCount; ++i) {
            const std::ptrdiff_t at =
                oneLine ? offsets[static_cast<std::size_t>(i)] : offsets[next];
            ++next;
            band.bandPlanes[i] =
                BandPlane{&page->working[at], static_cast<std::int16_t>(page->width), 0, 0, {}};
        }
    }
    return true;
}

// One page from OutputOpen to OutputClose. False when any call does not succeed.
bool RunPage(RenderedPage* page, std::uint64_t* outputBytes) {
    *outputBytes = 0;
    return benchpages::RunBands(page->quality, page->media, page->width, kDpi, page->bands,
                                outputBytes);
}

// Rendered once per mode and page, the first time a benchmark of them runs. Page -1 is
// the test page, 0.. a synthetic page of that content class, kOneLine + class the same
// page made of its first line.
constexpr int kTestPage = -1;
constexpr int kOneLine = 100;
RenderedPage* FindPage(int quality, int media, int synthetic = kTestPage) {
    static std::map<std::tuple<int, int, int>, RenderedPage> pages;
    const auto key = std::make_tuple(quality, media, synthetic);
    auto found = pages.find(key);
    if (found != pages.end()) return &found->second;
    RenderedPage& page = pages[key];
    std::uint64_t bytes = 0;
    const bool built =
        synthetic == kTestPage
            ? BuildRenderedPage(quality, media, &page)
            : BuildSyntheticPage(quality, media,
                                 static_cast<benchpages::Content>(synthetic % kOneLine),
                                 synthetic >= kOneLine, &page);
    if (!built || !RunPage(&page, &bytes)) {
        page.failed = true;
        return &page;
    }
    page.restoreEachRun = page.working != page.pristine;
    return &page;
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void BM_Page(benchmark::State& state, int quality, int media, int synthetic = kTestPage) {
    RenderedPage* page = FindPage(quality, media, synthetic);
    if (page->failed) {
        state.SkipWithError("the page did not go through the module");
        return;
    }
    double moduleSeconds = 0;
    double memcpySeconds = 0;
    double bestModule = std::numeric_limits<double>::max();
    double bestMemcpy = std::numeric_limits<double>::max();
    std::uint64_t outputBytes = 0;
    for (auto _ : state) {
        if (page->restoreEachRun)
            std::memcpy(page->working.data(), page->pristine.data(), page->working.size());
        const Clock::time_point started = Clock::now();
        if (!RunPage(page, &outputBytes)) {
            state.SkipWithError("a call did not return OUTPUT_OK");
            break;
        }
        const Clock::time_point produced = Clock::now();
        std::memcpy(page->copy.data(), page->pristine.data(), page->pristine.size());
        benchmark::ClobberMemory();
        const Clock::time_point copied = Clock::now();
        state.SetIterationTime(Seconds(produced - started));
        moduleSeconds += Seconds(produced - started);
        memcpySeconds += Seconds(copied - produced);
        bestModule = std::min(bestModule, Seconds(produced - started));
        bestMemcpy = std::min(bestMemcpy, Seconds(copied - produced));
    }
    const double iterations = static_cast<double>(state.iterations());
    if (iterations == 0 || moduleSeconds <= 0 || memcpySeconds <= 0) return;
    const double raster = static_cast<double>(page->pristine.size());
    state.counters["planes"] = page->setup.count;
    state.counters["raster_MB"] = raster / 1e6;
    state.counters["out_MB"] = static_cast<double>(outputBytes) / 1e6;
    state.counters["lines/s"] = page->height * iterations / moduleSeconds;
    state.counters["raster_MB/s"] = raster * iterations / moduleSeconds / 1e6;
    state.counters["raster_GB/s"] = raster * iterations / moduleSeconds / 1e9;
    state.counters["memcpy_MB/s"] = raster * iterations / memcpySeconds / 1e6;
    state.counters["x_memcpy"] = moduleSeconds / memcpySeconds;
    state.counters["best_GB/s"] = raster / bestModule / 1e9;
    state.counters["best_memcpy_GB/s"] = raster / bestMemcpy / 1e9;
    state.counters["best_x_memcpy"] = bestModule / bestMemcpy;
    state.counters["restored"] = page->restoreEachRun ? 1 : 0;
}

// Four one-bit planes (CMYK), no conversion.
BENCHMARK_CAPTURE(BM_Page, q20_m0_CMYK_1bit, 20, 0)->UseManualTime()->Unit(benchmark::kMillisecond);
// The default mode: CMYK, two code-converted 2-bit planes and two 1-bit planes.
BENCHMARK_CAPTURE(BM_Page, q10_m0_CMYK_converted, 10, 0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Seven 2-bit planes (CMYKcmk; K is 1-bit).
BENCHMARK_CAPTURE(BM_Page, q5_m7_CMYKcmk_2bit, 5, 7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Six 4-bit inputs split into sixteen 2-bit planes.
BENCHMARK_CAPTURE(BM_Page, q0_m26_sixteen_split, 0, 26)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Synthetic pages in the five-plane mode q10 m1 (CMYKk: C, M, Y and k 2-bit, K 1-bit),
// every line of every plane handed over whole.
BENCHMARK_CAPTURE(BM_Page, q10_m1_diffused, 10, 1, static_cast<int>(benchpages::Content::kDiffused))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Page, q10_m1_ordered, 10, 1, static_cast<int>(benchpages::Content::kOrdered))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Page, q10_m1_text, 10, 1, static_cast<int>(benchpages::Content::kText))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Page, q10_m1_blank, 10, 1, static_cast<int>(benchpages::Content::kBlank))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// The blank page's first line on every line: the blank-line path out of the cache.
BENCHMARK_CAPTURE(BM_Page, q10_m1_blank_cached, 10, 1,
                  kOneLine + static_cast<int>(benchpages::Content::kBlank))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
