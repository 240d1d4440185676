// The quality benchmark: prints its own pages through the render stage, simulates them,
// and reports, per print mode and halftone, side by side with plain Floyd-Steinberg and
// Zhou-Fang's threshold-modulated variable-coefficient diffusion on the same patches:
//   - halftone statistics on constant 1-bit patches (measures.h);
//   - a colour chart's ΔE2000 against the ideal, the gray ramp's tone error and
//     monotony, the light/dark ramps' ΔE2000, black's L*, and grain in tints.
// The ideal of a patch is the ink model's colour of its device CMYK printed as a
// continuous tone with the C, M, Y and K inks through their tone curves.
//
//   inkrow_quality [--full] [--out DIR]
// --full: every print mode at 600 and 300 dpi, more levels and level counts (minutes);
// the short form (CI) one mode per ink set at 600 dpi. --out writes table.md and the
// comparison picture comparison.png there.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "halftone.h"
#include "ink_model.h"
#include "inkrow/render.h"
#include "measures.h"
#include "picture.h"
#include "references.h"
#include "separation.h"
#include "simulate.h"

namespace {

namespace decode = inkrow::decode;
namespace ink = inkrow::ink;
namespace render = inkrow::render;
using quality::Reference;

std::string table;  // the markdown written to --out

void Emit(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Emit(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fputs(line, stdout);
    table += line;
}

// ---- Halftone statistics on constant patches ----------------------------------------

enum class Method { kDiffusion, kOrdered, kFloydSteinberg, kZhouFang };
const char* NameOf(Method m) {
    switch (m) {
        case Method::kDiffusion:
            return "inkrow diffusion";
        case Method::kOrdered:
            return "inkrow ordered";
        case Method::kFloydSteinberg:
            return "Floyd-Steinberg";
        default:
            return "Zhou-Fang";
    }
}

// The render stage's own halftone of amounts (0 .. 1 a pixel) to levelCount levels.
std::vector<std::uint8_t> RenderHalftone(bool ordered, const std::vector<double>& amounts,
                                         int width, int height, int levelCount, int matrixOffset) {
    std::vector<std::uint16_t> identity(render::kInkFull + 1);
    for (int a = 0; a <= render::kInkFull; ++a)
        identity[static_cast<std::size_t>(a)] = static_cast<std::uint16_t>(a);
    render::DiffusionState state;
    render::ResetDiffusion(&state, width);
    std::vector<std::uint16_t> source(static_cast<std::size_t>(width));
    std::vector<std::uint8_t> line(static_cast<std::size_t>(width) + 8, 0);
    std::vector<std::uint8_t> out(amounts.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            source[static_cast<std::size_t>(x)] = static_cast<std::uint16_t>(
                std::lround(std::clamp(amounts[static_cast<std::size_t>(y) * width + x], 0.0, 1.0) *
                            render::kInkFull));
        if (ordered)
            render::OrderLine(source.data(), identity.data(), 0, width, levelCount, y, matrixOffset,
                              line.data());
        else
            render::DiffuseLine(&state, source.data(), identity.data(), 0, width, levelCount, y,
                                matrixOffset, nullptr, line.data());
        std::memcpy(out.data() + static_cast<std::size_t>(y) * width, line.data(),
                    static_cast<std::size_t>(width));
        std::fill(line.begin(), line.end(), 0);
    }
    return out;
}

std::vector<std::uint8_t> Halftone(Method method, const std::vector<double>& amounts, int width,
                                   int height, int levelCount, std::uint32_t seed) {
    switch (method) {
        case Method::kDiffusion:
            return RenderHalftone(false, amounts, width, height, levelCount, 0);
        case Method::kOrdered:
            return RenderHalftone(true, amounts, width, height, levelCount, 0);
        case Method::kFloydSteinberg:
            return HalftoneReference(Reference::kFloydSteinberg, amounts, width, height, levelCount,
                                     seed);
        default:
            return HalftoneReference(Reference::kZhouFang, amounts, width, height, levelCount,
                                     seed);
    }
}

void HalftoneStatistics(bool full) {
    const std::vector<double> shortLevels = {0.25, 0.28, 1, 2, 5, 10, 20, 30, 42, 50};
    const std::vector<double> fullLevels = {0.25, 0.28, 0.5, 1,  2,  3,  5,  7,
                                            10,   15,   20,  25, 30, 35, 42, 50};
    const std::vector<double>& percents = full ? fullLevels : shortLevels;
    const Method methods[] = {Method::kDiffusion, Method::kFloydSteinberg, Method::kZhouFang,
                              Method::kOrdered};
    Emit("\n## Halftone statistics: constant 1-bit black patches\n\n");
    Emit(
        "Anisotropy (dB, -10.8 is isotropic), low-frequency power (below half the principal "
        "frequency, of the pattern's variance), grain (sigma L* after Nasanen's eye filter at "
        "300 mm, at 600 and 300 dpi), first row with a dot, structure at the 16-row band and "
        "the 64-pixel matrix period (dB over the mean power of the row and column profiles' other "
        "frequencies; about 0 is no structure).\n\n");
    Emit(
        "| coverage | method | anisotropy | low power | grain 600 | grain 300 | first dot | "
        "band 16 | period 64 |\n|---|---|---|---|---|---|---|---|---|\n");
    for (double percent : percents) {
        const std::vector<double> amounts(
            static_cast<std::size_t>(quality::kPatchWidth) * quality::kPatchHeight, percent / 100);
        for (Method method : methods) {
            const auto levels =
                Halftone(method, amounts, quality::kPatchWidth, quality::kPatchHeight, 2, 7);
            const quality::PatternStats s = quality::MeasurePattern(levels, 1, percent / 100, 'K');
            Emit("| %.2f %% | %s | %.1f | %.2f | %.3f | %.3f | %d | %.1f | %.1f |\n", percent,
                 NameOf(method), s.anisotropyDb, s.lowFrequencyPower, s.grain600, s.grain300,
                 s.firstDotRow, s.bandPeriodDb, s.matrixPeriodDb);
        }
    }
    if (!full) return;
    Emit("\n## Grain at every level count (sigma L*, 600 dpi, 300 mm)\n\n");
    Emit(
        "| levels | coverage | inkrow diffusion | Floyd-Steinberg | Zhou-Fang | inkrow ordered "
        "|\n|---|---|---|---|---|---|\n");
    for (int count : {3, 4, 7, 13}) {
        for (double percent : {2.0, 10.0, 30.0, 50.0, 80.0}) {
            const std::vector<double> amounts(
                static_cast<std::size_t>(quality::kPatchWidth) * quality::kPatchHeight,
                percent / 100);
            Emit("| %d | %.0f %% ", count, percent);
            for (Method method : {Method::kDiffusion, Method::kFloydSteinberg, Method::kZhouFang,
                                  Method::kOrdered}) {
                const auto levels = Halftone(method, amounts, quality::kPatchWidth,
                                             quality::kPatchHeight, count, 7);
                const quality::PatternStats s =
                    quality::MeasurePattern(levels, count - 1, percent / 100, 'K');
                Emit("| %.2f ", s.grain600);
            }
            Emit("|\n");
        }
    }
}

// ---- The chart through the print modes ----------------------------------------------

constexpr int kCell = 64;   // patch size, print pixels
constexpr int kInset = 10;  // diffusion settles in from a patch's edges
constexpr int kColumns = 12;

struct Patch {
    std::string id;
    std::uint8_t cmyk[4];
    enum Kind { kChart, kGray, kCyanRamp, kMagentaRamp, kBlack } kind;
};

std::vector<Patch> ChartPatches() {
    std::vector<Patch> patches;
    const std::uint8_t steps[] = {0, 128, 255};
    for (std::uint8_t c : steps)
        for (std::uint8_t m : steps)
            for (std::uint8_t y : steps)
                for (std::uint8_t k : {std::uint8_t{0}, std::uint8_t{96}}) {
                    if (c + m + y + k == 0) continue;
                    patches.push_back({"chart", {c, m, y, k}, Patch::kChart});
                }
    for (int i = 0; i <= 20; ++i) {
        const auto v = static_cast<std::uint8_t>(std::lround(i * 255.0 / 20));
        char name[3][8];
        for (int n = 0; n < 3; ++n)
            std::snprintf(name[n], sizeof name[n], "%c%d", "KCM"[n], i * 5);
        patches.push_back({name[0], {0, 0, 0, v}, Patch::kGray});
        patches.push_back({name[1], {v, 0, 0, 0}, Patch::kCyanRamp});
        patches.push_back({name[2], {0, v, 0, 0}, Patch::kMagentaRamp});
    }
    for (std::size_t i = 0; i < patches.size(); ++i)
        if (patches[i].kind == Patch::kChart) {
            char name[24];
            std::snprintf(name, sizeof name, "P%zu", i);
            patches[i].id = name;
        }
    return patches;
}

ink::Lab IdealOf(const Patch& patch) {
    static const char kInks[4] = {'C', 'M', 'Y', 'K'};
    ink::InkSet set;
    ink::MakeInkSet(kInks, 4, &set);
    double coverage[4];
    for (int i = 0; i < 4; ++i)
        coverage[i] = render::ApplyToneCurve(kInks[i], patch.cmyk[i] / 255.0);
    return ink::ToLab(ink::PredictPatch(set, coverage));
}

struct Page {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> cmyk;
};

Page DrawChart(const std::vector<Patch>& patches) {
    Page page;
    const int rows = static_cast<int>((patches.size() + kColumns - 1) / kColumns);
    page.width = kColumns * kCell;
    page.height = rows * kCell;
    page.cmyk.assign(static_cast<std::size_t>(page.width) * page.height * 4, 0);
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const int px = static_cast<int>(i % kColumns) * kCell;
        const int py = static_cast<int>(i / kColumns) * kCell;
        for (int y = py; y < py + kCell; ++y)
            for (int x = px; x < px + kCell; ++x)
                std::memcpy(&page.cmyk[(static_cast<std::size_t>(y) * page.width + x) * 4],
                            patches[i].cmyk, 4);
    }
    return page;
}

std::vector<decode::PatchRect> RectsOf(const std::vector<Patch>& patches) {
    std::vector<decode::PatchRect> rects;
    for (std::size_t i = 0; i < patches.size(); ++i) {
        decode::PatchRect r;
        r.id = patches[i].id;
        r.x0 = static_cast<int>(i % kColumns) * kCell + kInset;
        r.y0 = static_cast<int>(i / kColumns) * kCell + kInset;
        r.x1 = r.x0 + kCell - 2 * kInset;
        r.y1 = r.y0 + kCell - 2 * kInset;
        rects.push_back(r);
    }
    return rects;
}

struct Printed {
    std::vector<decode::InkRaster> rasters;  // owned here when made by the benchmark
    decode::Decoded decoded;                 // or by the decoder
    std::vector<decode::PictureInk> inks;
};

int WriteToVector(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* stream = static_cast<std::vector<std::uint8_t>*>(context);
    stream->insert(stream->end(), bytes, bytes + length);
    return 0;
}

// Through the render stage and the module, read back by the decoder.
bool PrintThroughRenderStage(const RenderModeRequest& request, int halftone, const Page& page,
                             Printed* printed) {
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.mode = request;
    options.raster.width = page.width;
    options.raster.colorSpace = RENDER_CMYK8;
    options.raster.halftone = halftone;
    std::vector<std::uint8_t> stream;
    options.write = WriteToVector;
    options.writeContext = &stream;
    RenderJob* job = nullptr;
    if (RenderJobOpen(&options, &job) != RENDER_OK) return false;
    RenderJobStartPage(job);
    const std::size_t lineBytes = static_cast<std::size_t>(page.width) * 4;
    for (int y = 0; y < page.height; ++y)
        if (RenderJobWriteLine(job, page.cmyk.data() + y * lineBytes, lineBytes) != RENDER_OK)
            break;
    RenderJobEndPage(job);
    const RenderMode mode = *RenderJobMode(job);
    if (RenderJobClose(job) != RENDER_OK) return false;
    decode::DecodeOptions decodeOptions;
    decodeOptions.keepListing = false;
    decodeOptions.keepRasters = true;
    if (decode::DecodeStream(stream, decodeOptions, &printed->decoded).code !=
            decode::ErrorCode::kNone ||
        printed->decoded.pages.empty())
        return false;
    for (const decode::InkRaster& raster : printed->decoded.pages[0].inks) {
        decode::PixelFormat format;  // an ink the mode does not print reads as one bit
        decode::FindInkFormat(mode, raster.code, &format);
        printed->inks.push_back({raster.code, &raster, format});
    }
    return true;
}

// The same separation, each plane halftoned by a reference method; a plane of n levels
// becomes n - 1 one-bit rasters of its ink, which the simulator adds up.
void PrintWithReference(const RenderMode& mode, Reference method, const Page& page,
                        Printed* printed) {
    render::Separation separation;
    render::BuildSeparation(mode, RENDER_CMYK8, nullptr, &separation);
    const int w = page.width;
    std::vector<std::uint16_t> process[4];
    for (auto& p : process)
        p.assign(static_cast<std::size_t>(w), 0);
    std::vector<std::vector<double>> amounts(static_cast<std::size_t>(mode.planeCount),
                                             std::vector<double>(page.cmyk.size() / 4, 0.0));
    for (int y = 0; y < page.height; ++y) {
        std::uint16_t* rows[4] = {process[0].data(), process[1].data(), process[2].data(),
                                  process[3].data()};
        for (auto& p : process)
            std::fill(p.begin(), p.end(), 0);
        int first = 0;
        int end = 0;
        render::SeparateLine(separation, page.cmyk.data() + static_cast<std::size_t>(y) * w * 4, w,
                             rows, &first, &end);
        for (int i = 0; i < mode.planeCount; ++i) {
            const render::PlaneRecipe& recipe = separation.recipes[i];
            for (int x = first; x < end; ++x)
                amounts[static_cast<std::size_t>(i)][static_cast<std::size_t>(y) * w + x] =
                    recipe.table[process[recipe.source][static_cast<std::size_t>(x)]] /
                    static_cast<double>(render::kInkFull);
        }
    }
    const std::uint32_t widthBytes = static_cast<std::uint32_t>((w + 7) / 8);
    for (int i = 0; i < mode.planeCount; ++i) {
        const int count = mode.planes[i].levels;
        const auto levels =
            HalftoneReference(method, amounts[static_cast<std::size_t>(i)], w, page.height, count,
                              static_cast<std::uint32_t>(i + 1));
        for (int step = 1; step < count; ++step) {
            decode::InkRaster raster;
            raster.code = static_cast<std::uint8_t>(mode.planes[i].ink);
            raster.widthBytes = widthBytes;
            raster.lineCount = static_cast<std::uint64_t>(page.height);
            raster.bytes.assign(static_cast<std::size_t>(widthBytes) * page.height, 0);
            for (int y = 0; y < page.height; ++y)
                for (int x = 0; x < w; ++x)
                    if (levels[static_cast<std::size_t>(y) * w + x] >= step)
                        raster.bytes[static_cast<std::size_t>(y) * widthBytes + x / 8] |=
                            static_cast<std::uint8_t>(0x80 >> (x % 8));
            printed->rasters.push_back(std::move(raster));
        }
    }
    for (const decode::InkRaster& raster : printed->rasters)
        printed->inks.push_back({raster.code, &raster, {1, false}});
}

struct ModeResult {
    double chartMean = 0, chartMax = 0;
    double grayError = 0;
    bool grayMonotonic = true;
    double rampMax[3] = {0, 0, 0};  // K, C, M
    double black = 0;
    double grain[3] = {0, 0, 0};  // K 10 %, K 50 %, C 10 %
};

ModeResult Measure(const Printed& printed, const Page& page, const std::vector<Patch>& patches,
                   double dotsPerInch) {
    decode::SimulateOptions options;
    options.dotsPerInch = dotsPerInch;
    options.viewingDistanceMm = 0;
    decode::Simulation simulation;
    std::string message;
    const auto rects = RectsOf(patches);
    ModeResult result;
    if (!decode::SimulatePage(printed.inks, static_cast<std::uint32_t>(page.width),
                              static_cast<std::uint32_t>(page.height), rects, options, &simulation,
                              &message)) {
        std::fprintf(stderr, "inkrow_quality: %s\n", message.c_str());
        return result;
    }
    int chartCount = 0;
    double previousGray = 1e9;
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const ink::Lab got = simulation.patches[i].lab;
        const double de = ink::DeltaE2000(got, IdealOf(patches[i]));
        switch (patches[i].kind) {
            case Patch::kChart:
                result.chartMean += de;
                result.chartMax = std::max(result.chartMax, de);
                ++chartCount;
                break;
            case Patch::kGray:
                result.grayError =
                    std::max(result.grayError, std::fabs(got.l - IdealOf(patches[i]).l));
                if (got.l > previousGray - 0.05 && patches[i].cmyk[3] != 0)
                    result.grayMonotonic = false;
                previousGray = got.l;
                result.rampMax[0] = std::max(result.rampMax[0], de);
                if (patches[i].cmyk[3] == 255) result.black = got.l;
                break;
            case Patch::kCyanRamp:
                result.rampMax[1] = std::max(result.rampMax[1], de);
                break;
            default:
                result.rampMax[2] = std::max(result.rampMax[2], de);
                break;
        }
    }
    result.chartMean /= std::max(1, chartCount);
    return result;
}

// Grain of a flat tint: a page of it alone, simulated without the eye, then the eye's
// filter over its middle, away from the page's edges.
constexpr int kTintSide = 256;
double TintGrain(const Printed& printed, double dotsPerInch) {
    decode::SimulateOptions options;
    options.dotsPerInch = dotsPerInch;
    options.viewingDistanceMm = 0;
    decode::Simulation simulation;
    std::string message;
    if (!decode::SimulatePage(printed.inks, kTintSide, kTintSide, {}, options, &simulation,
                              &message))
        return -1;
    std::vector<double> luminance(static_cast<std::size_t>(kTintSide) * kTintSide);
    for (std::size_t i = 0; i < luminance.size(); ++i) {
        ink::Bands r;
        for (int b = 0; b < 3; ++b)
            r.v[b] = simulation.reflectance[i * 3 + static_cast<std::size_t>(b)];
        double xyz[3];
        ink::ToXyz(r, xyz);
        luminance[i] = xyz[1];
    }
    // The top rows, where diffusion settles in, are left out.
    return quality::GrainOf(luminance, kTintSide, kTintSide, dotsPerInch, 32, 96, kTintSide - 32,
                            kTintSide - 32);
}

Page TintPage(const std::uint8_t cmyk[4]) {
    Page page;
    page.width = page.height = kTintSide;
    page.cmyk.resize(static_cast<std::size_t>(kTintSide) * kTintSide * 4);
    for (std::size_t i = 0; i < page.cmyk.size(); i += 4)
        std::memcpy(&page.cmyk[i], cmyk, 4);
    return page;
}

constexpr std::uint8_t kTints[3][4] = {{0, 0, 0, 26}, {0, 0, 0, 128}, {26, 0, 0, 0}};

void EmitResult(const char* mode, const char* inks, int dpi, const char* method,
                const ModeResult& r) {
    Emit(
        "| %s | %s | %d | %s | %.2f | %.2f | %.2f | %s | %.2f | %.2f | %.2f | %.1f | %.2f | "
        "%.2f | %.2f |\n",
        mode, inks, dpi, method, r.chartMean, r.chartMax, r.grayError,
        r.grayMonotonic ? "yes" : "NO", r.rampMax[0], r.rampMax[1], r.rampMax[2], r.black,
        r.grain[0], r.grain[1], r.grain[2]);
}

// One way of printing a page: the render stage (a halftone) or a reference method.
struct Printer {
    RenderModeRequest request;
    RenderMode mode;
    int halftone;  // RENDER_DIFFUSION, RENDER_ORDERED, or -1 with a reference
    Reference reference;
};

bool PrintPage(const Printer& printer, const Page& page, Printed* printed) {
    if (printer.halftone >= 0)
        return PrintThroughRenderStage(printer.request, printer.halftone, page, printed);
    PrintWithReference(printer.mode, printer.reference, page, printed);
    return true;
}

void ModeTable(bool full) {
    const std::vector<Patch> patches = ChartPatches();
    const Page page = DrawChart(patches);
    int chartPatches = 0;
    for (const Patch& patch : patches)
        chartPatches += patch.kind == Patch::kChart ? 1 : 0;
    Emit("\n## Print modes: the chart through the render stage and the simulator\n\n");
    Emit(
        "ΔE2000 against the ideal: the colour chart (%d patches, mean and max), the gray ramp's "
        "largest L* error and whether it falls steadily, the largest ΔE2000 on the K, C and M "
        "ramps in 5 %% steps (light/dark handover), L* of K 100 %%, and grain (sigma L*, eye at "
        "300 mm) in flat K 10 %%, K 50 %% and C 10 %%.\n\n",
        chartPatches);
    Emit(
        "| mode | inks | dpi | halftone | chart mean | chart max | gray L* error | monotonic | "
        "K ramp | C ramp | M ramp | K100 L* | grain K10 | grain K50 | grain C10 |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    RenderModePair pairs[128];
    const int count = std::min(128, RenderListModePairs(pairs, 128));
    bool seen[32] = {};
    for (int p = 0; p < count; ++p) {
        if (!full && seen[pairs[p].inkSetId]) continue;
        seen[pairs[p].inkSetId] = true;
        for (int dpi : {600, 300}) {
            if (!full && dpi == 300) continue;
            Printer printer{};
            printer.request.qualityCode = pairs[p].qualityCode;
            printer.request.mediaCode = pairs[p].mediaCode;
            printer.request.resolution = dpi;
            if (RenderDescribeMode(&printer.request, &printer.mode) != RENDER_OK) continue;
            char name[32];
            std::snprintf(name, sizeof name, "q%d m%d", pairs[p].qualityCode, pairs[p].mediaCode);
            const char* methods[] = {"inkrow diffusion", "inkrow ordered", "Floyd-Steinberg",
                                     "Zhou-Fang"};
            for (int m = 0; m < 4; ++m) {
                printer.halftone = m == 0 ? RENDER_DIFFUSION : (m == 1 ? RENDER_ORDERED : -1);
                printer.reference = m == 2 ? Reference::kFloydSteinberg : Reference::kZhouFang;
                Printed printed;
                if (!PrintPage(printer, page, &printed)) {
                    Emit("| %s | %s | %d | %s: failed to print |\n", name, printer.mode.inks, dpi,
                         methods[m]);
                    continue;
                }
                ModeResult result = Measure(printed, page, patches, dpi);
                for (int t = 0; t < 3; ++t) {
                    Printed tint;
                    if (PrintPage(printer, TintPage(kTints[t]), &tint))
                        result.grain[t] = TintGrain(tint, dpi);
                }
                EmitResult(name, printer.mode.inks, dpi, methods[m], result);
            }
        }
    }
}

// Side by side: per method a row of constant patches from their first line (so the delay
// before the first dots shows), simulated without the eye's filter. Rows top to bottom:
// Floyd-Steinberg, Zhou-Fang, inkrow diffusion, inkrow ordered; columns 0.5, 2, 10 and
// 42 %; a gray gap between cells.
void WriteComparison(const std::string& path) {
    const double percents[] = {0.5, 2, 10, 42};
    const int cell = 160;
    const int gap = 6;
    const Method methods[] = {Method::kFloydSteinberg, Method::kZhouFang, Method::kDiffusion,
                              Method::kOrdered};
    const int side = 4 * cell + 3 * gap;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(side) * side * 3, 160);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const std::vector<double> amounts(static_cast<std::size_t>(cell) * cell,
                                              percents[column] / 100);
            const auto levels = Halftone(methods[row], amounts, cell, cell, 2, 7);
            const std::vector<double> coverage(levels.begin(), levels.end());
            const auto y = quality::LuminanceOf(coverage, cell, cell, 'K');
            const int top = row * (cell + gap);
            const int left = column * (cell + gap);
            for (int py = 0; py < cell; ++py)
                for (int px = 0; px < cell; ++px) {
                    ink::Bands r;
                    r.v[0] = r.v[1] = r.v[2] = y[static_cast<std::size_t>(py) * cell + px];
                    ink::ToSrgb(r, true,
                                &rgb[(static_cast<std::size_t>(top + py) * side + left + px) * 3]);
                }
        }
    }
    std::string message;
    if (!decode::WritePng(path, side, side, 3, rgb.data(), &message))
        std::fprintf(stderr, "inkrow_quality: %s\n", message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bool full = false;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) {
            full = true;
        } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else {
            std::fprintf(stderr, "usage: inkrow_quality [--full] [--out DIR]\n");
            return 2;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    Emit("# Print quality (%s form)\n", full ? "full" : "short");
    HalftoneStatistics(full);
    ModeTable(full);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "inkrow_quality: %.1f s\n", seconds);
    if (!out.empty()) {
        const std::string tablePath = out + "/table.md";
        std::FILE* file = std::fopen(tablePath.c_str(), "w");
        if (file == nullptr || std::fputs(table.c_str(), file) < 0 || std::fclose(file) != 0) {
            std::fprintf(stderr, "inkrow_quality: cannot write %s\n", tablePath.c_str());
            return 1;
        }
        WriteComparison(out + "/comparison.png");
    }
    return 0;
}
