// inkrow-simulate: what a print of a command stream would look like and measure. Reads
// the stream with the decoder, mixes the inks of every printed pixel with the ink model,
// and writes a picture, patch readings and a CGATS chart reading.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "inkrow/render.h"
#include "picture.h"
#include "simulate.h"

namespace {

namespace decode = inkrow::decode;

constexpr char kUsage[] =
    "usage: inkrow-simulate --quality Q --media M [options] FILE\n"
    "\n"
    "Simulates the print of a printer command stream: every printed pixel mixes its inks\n"
    "by the ink model (each ink's colour at full coverage, light inks as a fraction of\n"
    "their dark ink, dot gain, and a Yule-Nielsen modified Neugebauer mix), and a patch\n"
    "reads as an instrument would read it. The picture can be filtered by an eye model\n"
    "(Nasanen's contrast sensitivity) for a viewing distance.\n"
    "\n"
    "options:\n"
    "  --quality Q --media M   the job's print mode (required: the stream does not say\n"
    "                          how its inks hold their pixels)\n"
    "  --black-only            page flags of the print mode\n"
    "  --k-for-black\n"
    "  --keep-color\n"
    "  --resolution DPI        print pixels per inch; by default 600 for 16 lines a row,\n"
    "                          300 for 8 and 360 for 1\n"
    "  --page N                the page to simulate (1 by default)\n"
    "  --png PATH              write the picture as an sRGB PNG\n"
    "  --distance MM           viewing distance of the picture's eye model (300 by\n"
    "                          default; 0 leaves the picture unfiltered)\n"
    "  --scale N               print pixels per picture pixel each way (by default the\n"
    "                          smallest that keeps the picture within 8 million pixels)\n"
    "  --patches FILE          patch rectangles, one a line: ID X0 Y0 X1 Y1 in print\n"
    "                          pixels, optionally C M Y K in percent; their readings are\n"
    "                          printed as ID L* a* b* (D50)\n"
    "  --ti3 PATH              write the readings as a CGATS chart reading (.ti3) for\n"
    "                          colour profiling tools; needs --patches\n"
    "  --quiet                 no progress lines\n"
    "  --help                  show this text\n";

struct ToolOptions {
    std::string file;
    std::string png;
    std::string patches;
    std::string ti3;
    inkrow::cli::ModeFlags mode;
    long resolution = 0;
    long page = 1;
    long distance = 300;
    long scale = 0;
    bool quiet = false;
};

// Returns 0 to go on, -1 after --help, otherwise the exit status.
int ParseArguments(int argc, char** argv, ToolOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        long number = 0;
        auto needNumber = [&](long low, long high) {
            return inkrow::cli::TakeNumber("inkrow-simulate", argc, argv, &i, low, high, &number);
        };
        auto needPath = [&](std::string* path) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "inkrow-simulate: %s needs a path\n", argument.c_str());
                return false;
            }
            *path = argv[++i];
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (const auto taken =
                       inkrow::cli::TakeModeFlag("inkrow-simulate", argc, argv, &i, &options->mode);
                   taken != inkrow::cli::Taken::kNotMine) {
            if (taken == inkrow::cli::Taken::kBad) return 2;
        } else if (argument == "--resolution") {
            if (!needNumber(50, 5760)) return 2;
            options->resolution = number;
        } else if (argument == "--page") {
            if (!needNumber(1, 1L << 24)) return 2;
            options->page = number;
        } else if (argument == "--distance") {
            if (!needNumber(0, 100000)) return 2;
            options->distance = number;
        } else if (argument == "--scale") {
            if (!needNumber(1, 64)) return 2;
            options->scale = number;
        } else if (argument == "--png") {
            if (!needPath(&options->png)) return 2;
        } else if (argument == "--patches") {
            if (!needPath(&options->patches)) return 2;
        } else if (argument == "--ti3") {
            if (!needPath(&options->ti3)) return 2;
        } else if (argument == "--quiet") {
            options->quiet = true;
        } else if (!argument.empty() && argument[0] == '-') {
            std::fprintf(stderr, "inkrow-simulate: unknown option %s\n%s", argument.c_str(),
                         kUsage);
            return 2;
        } else if (options->file.empty()) {
            options->file = argument;
        } else {
            std::fputs("inkrow-simulate: give one FILE\n", stderr);
            return 2;
        }
    }
    if (options->file.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!options->mode.haveQuality || !options->mode.haveMedia) {
        std::fputs("inkrow-simulate: give the job's print mode with --quality and --media\n",
                   stderr);
        return 2;
    }
    if (!options->ti3.empty() && options->patches.empty()) {
        std::fputs("inkrow-simulate: --ti3 needs --patches\n", stderr);
        return 2;
    }
    if (options->png.empty() && options->patches.empty()) {
        std::fputs("inkrow-simulate: nothing to do: give --png or --patches\n", stderr);
        return 2;
    }
    return 0;
}

// Fails before any work when an output cannot be written; says why.
bool CheckWritable(const std::string& path, const char* what) {
    if (path.empty()) return true;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "inkrow-simulate: cannot write the %s %s: %s\n", what, path.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::fclose(file);
    std::remove(path.c_str());
    return true;
}

void ShowProgress(void* context, std::uint64_t done, std::uint64_t total) {
    const auto* page = static_cast<const long*>(context);
    std::fprintf(stderr, "inkrow-simulate: page %ld: %3.0f %% of %llu lines\n", *page,
                 100.0 * static_cast<double>(done) / static_cast<double>(total),
                 static_cast<unsigned long long>(total));
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    RenderMode mode{};
    if (!inkrow::cli::DescribeMode(options.mode, &mode)) {
        std::fprintf(stderr, "inkrow-simulate: quality %ld with media %ld has no ink set\n",
                     options.mode.quality, options.mode.media);
        return 2;
    }
    if (!CheckWritable(options.png, "picture") || !CheckWritable(options.ti3, "chart reading"))
        return 2;
    std::vector<decode::PatchRect> patches;
    std::string message;
    if (!options.patches.empty() && !decode::ReadPatchList(options.patches, &patches, &message)) {
        std::fprintf(stderr, "inkrow-simulate: %s\n", message.c_str());
        return 2;
    }

    std::vector<std::uint8_t> stream;
    if (!inkrow::cli::ReadWholeFile("inkrow-simulate", options.file, &stream)) return 2;
    decode::DecodeOptions decodeOptions;
    decodeOptions.keepListing = false;
    decodeOptions.keepRasters = true;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, decodeOptions, &decoded);
    if (error.code != decode::ErrorCode::kNone) {
        std::fprintf(stderr, "inkrow-simulate: %s: offset %zu: %s: %s\n", options.file.c_str(),
                     error.offset, decode::DescribeErrorCode(error.code), error.message.c_str());
        return 1;
    }
    if (static_cast<std::size_t>(options.page) > decoded.pages.size()) {
        std::fprintf(stderr, "inkrow-simulate: %s has %zu page%s, no page %ld\n",
                     options.file.c_str(), decoded.pages.size(),
                     decoded.pages.size() == 1 ? "" : "s", options.page);
        return 1;
    }
    const decode::Page& page = decoded.pages[static_cast<std::size_t>(options.page - 1)];
    std::vector<decode::PictureInk> inks;
    std::uint64_t width = 0;
    for (const decode::InkRaster& raster : page.inks) {
        decode::PictureInk ink;
        ink.code = raster.code;
        ink.raster = &raster;
        if (!decode::FindInkFormat(mode, raster.code, &ink.format)) {
            std::fprintf(stderr,
                         "inkrow-simulate: the stream prints ink %s, which quality %ld with "
                         "media %ld does not have: is this the job's print mode?\n",
                         decode::FormatInkCode(raster.code).c_str(), options.mode.quality,
                         options.mode.media);
            return 1;
        }
        inks.push_back(ink);
        width = std::max<std::uint64_t>(
            width, std::uint64_t{raster.widthBytes} * decode::CountPixelsPerByte(ink.format));
    }
    const std::uint64_t height = page.rows * page.linesPerRow;
    if (width == 0 || height == 0 || width > (1u << 24) || height > (1u << 24)) {
        std::fprintf(stderr, "inkrow-simulate: page %ld is %s\n", options.page,
                     width == 0 || height == 0 ? "blank" : "too large");
        return 1;
    }
    decode::SimulateOptions simulate;
    simulate.dotsPerInch = options.resolution != 0  ? static_cast<double>(options.resolution)
                           : page.linesPerRow == 16 ? 600.0
                           : page.linesPerRow == 8  ? 300.0
                                                    : 360.0;
    simulate.viewingDistanceMm = static_cast<double>(options.distance);
    simulate.scale = static_cast<int>(options.scale);
    if (simulate.scale == 0) {
        constexpr double kDefaultPixels = 8e6;
        simulate.scale = std::max(1, static_cast<int>(std::ceil(std::sqrt(
                                         static_cast<double>(width * height) / kDefaultPixels))));
    }
    decode::Simulation simulation;
    if (!decode::SimulatePage(inks, static_cast<std::uint32_t>(width),
                              static_cast<std::uint32_t>(height), patches, simulate, &simulation,
                              &message, options.quiet ? nullptr : ShowProgress, &options.page)) {
        std::fprintf(stderr, "inkrow-simulate: %s\n", message.c_str());
        return 1;
    }
    for (std::size_t p = 0; p < patches.size(); ++p) {
        const auto& lab = simulation.patches[p].lab;
        std::printf("%s %.2f %.2f %.2f\n", patches[p].id.c_str(), lab.l, lab.a, lab.b);
    }
    if (!options.png.empty() && !decode::WriteSimulationPng(options.png, simulation, &message)) {
        std::fprintf(stderr, "inkrow-simulate: %s\n", message.c_str());
        return 2;
    }
    if (!options.ti3.empty() &&
        !decode::WriteTi3(options.ti3, patches, simulation.patches, &message)) {
        std::fprintf(stderr, "inkrow-simulate: %s\n", message.c_str());
        return 2;
    }
    return 0;
}
