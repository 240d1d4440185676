// inkrow-decode: reads a printer command stream from a file, lists its commands, sums
// it up and, on request, draws every ink of every page as PNG pictures. The stream is
// read by the independent decoder; the render stage's print-mode description only tells
// how a print mode lays out its planes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "cli.h"
#include "decode.h"
#include "inkrow/render.h"

namespace {

namespace decode = inkrow::decode;

constexpr char kUsage[] =
    "usage: inkrow-decode [options] FILE\n"
    "\n"
    "Lists the commands of a printer command stream, prints a summary and checks the\n"
    "stream strictly; the exit status is 1 when the stream is malformed.\n"
    "\n"
    "options:\n"
    "  --png DIR               write a gray PNG per ink and page and a colour preview\n"
    "                          per page into DIR\n"
    "  --quality Q --media M   the job's print mode: gives each ink its pixel format\n"
    "  --black-only            page flags of the print mode\n"
    "  --k-for-black\n"
    "  --keep-color\n"
    "  --bits N                bits per pixel (1, 2, 4 or 8) of inks no print mode\n"
    "                          describes; 1 by default\n"
    "  --width PIXELS          picture width; lines wider than it are reported\n"
    "  --max-line-bytes N      reject lines longer than N bytes\n"
    "  --continue-page-on-header\n"
    "                          a header inside a page repeats it (form-feed mode)\n"
    "  --no-listing            print only the summary\n"
    "  --help                  show this text\n";

struct ToolOptions {
    std::string file;
    std::string pngDirectory;
    bool haveMode = false;
    long quality = 0;
    long media = 0;
    bool haveQuality = false;
    bool haveMedia = false;
    bool blackOnly = false;
    bool kForBlack = false;
    bool keepColor = false;
    int bits = 1;
    std::uint32_t width = 0;
    std::uint32_t maxLineBytes = 0;
    bool continuePageOnHeader = false;
    bool listing = true;
};

using inkrow::cli::ParseNumber;

// Returns 0 to go on, otherwise the exit status.
int ParseArguments(int argc, char** argv, ToolOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        long number = 0;
        auto needNumber = [&](long low, long high) {
            return inkrow::cli::TakeNumber("inkrow-decode", argc, argv, &i, low, high, &number);
        };
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (argument == "--png") {
            if (!hasValue) {
                std::fputs("inkrow-decode: --png needs a directory\n", stderr);
                return 2;
            }
            options->pngDirectory = argv[++i];
        } else if (argument == "--quality") {
            if (!needNumber(-32768, 32767)) return 2;
            options->quality = number;
            options->haveQuality = true;
        } else if (argument == "--media") {
            if (!needNumber(-32768, 32767)) return 2;
            options->media = number;
            options->haveMedia = true;
        } else if (argument == "--black-only") {
            options->blackOnly = true;
        } else if (argument == "--k-for-black") {
            options->kForBlack = true;
        } else if (argument == "--keep-color") {
            options->keepColor = true;
        } else if (argument == "--bits") {
            if (!needNumber(1, 8)) return 2;
            if (decode::CountPixelsPerByte({static_cast<int>(number), false}) == 0) {
                std::fputs("inkrow-decode: --bits takes 1, 2, 4 or 8\n", stderr);
                return 2;
            }
            options->bits = static_cast<int>(number);
        } else if (argument == "--width") {
            if (!needNumber(1, 1L << 24)) return 2;
            options->width = static_cast<std::uint32_t>(number);
        } else if (argument == "--max-line-bytes") {
            if (!needNumber(1, 1L << 24)) return 2;
            options->maxLineBytes = static_cast<std::uint32_t>(number);
        } else if (argument == "--continue-page-on-header") {
            options->continuePageOnHeader = true;
        } else if (argument == "--no-listing") {
            options->listing = false;
        } else if (!argument.empty() && argument[0] == '-') {
            std::fprintf(stderr, "inkrow-decode: unknown option %s\n%s", argument.c_str(), kUsage);
            return 2;
        } else if (options->file.empty()) {
            options->file = argument;
        } else {
            std::fputs("inkrow-decode: give one FILE\n", stderr);
            return 2;
        }
    }
    if (options->file.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options->haveQuality != options->haveMedia) {
        std::fputs("inkrow-decode: --quality and --media go together\n", stderr);
        return 2;
    }
    options->haveMode = options->haveQuality;
    if (!options->haveMode && (options->blackOnly || options->kForBlack || options->keepColor)) {
        std::fputs("inkrow-decode: page flags need --quality and --media\n", stderr);
        return 2;
    }
    return 0;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "inkrow-decode: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) std::fprintf(stderr, "inkrow-decode: cannot read %s\n", path.c_str());
    return !failed;
}

// How an ink's bytes hold its pixels. With a print mode the ink's plane decides: ink i
// of the mode's full selection is plane i.
decode::PixelFormat ChooseFormat(const ToolOptions& options, const RenderMode& mode,
                                 std::uint8_t code, bool* known) {
    *known = true;
    if (options.haveMode) {
        const std::span<const std::uint8_t> codes = decode::ListInkSetCodes(mode.inkSetId);
        for (std::size_t plane = 0; plane < codes.size(); ++plane) {
            if (codes[plane] != code || static_cast<int>(plane) >= mode.printerPlanes) continue;
            // The split planes carry two bits per pixel whatever their input had.
            if (mode.split != 0) return {2, false};
            if (mode.planes[plane].codeConverted != 0) return {2, true};
            return {mode.planes[plane].bitsPerPixel, false};
        }
        *known = false;
    }
    return {options.bits, false};
}

std::string MakePngPath(const std::string& directory, std::size_t page, const char* what) {
    return (std::filesystem::path(directory) /
            ("page" + std::to_string(page + 1) + "-" + what + ".png"))
        .string();
}

bool WritePagePictures(const ToolOptions& options, const RenderMode& mode, const decode::Page& page,
                       std::size_t pageIndex) {
    std::vector<decode::LevelImage> images(page.inks.size());
    std::uint32_t width = options.width;
    for (std::size_t i = 0; i < page.inks.size(); ++i) {
        bool known = true;
        const decode::PixelFormat format = ChooseFormat(options, mode, page.inks[i].code, &known);
        if (!decode::ExpandRaster(page.inks[i], format, options.width, &images[i])) {
            std::fprintf(stderr, "inkrow-decode: page %zu ink %s: picture too large\n",
                         pageIndex + 1, decode::FormatInkCode(page.inks[i].code).c_str());
            return false;
        }
        if (images[i].invalidCodes != 0) {
            std::fprintf(stderr,
                         "inkrow-decode: page %zu ink %s: %llu bytes are no five-pixel code\n",
                         pageIndex + 1, decode::FormatInkCode(page.inks[i].code).c_str(),
                         static_cast<unsigned long long>(images[i].invalidCodes));
        }
        width = std::max(width, images[i].width);
    }
    const auto height = static_cast<std::uint32_t>(page.rows * page.linesPerRow);
    if (width == 0 || height == 0) {
        std::printf("page %zu: nothing to draw\n", pageIndex + 1);
        return true;
    }

    std::string message;
    std::vector<decode::InkLayer> layers;
    for (std::size_t i = 0; i < page.inks.size(); ++i) {
        layers.push_back({page.inks[i].code, &images[i]});
        if (images[i].width == 0) continue;  // an ink that never carried a byte
        const std::string name = std::to_string(i) + "-" + decode::FormatInkCode(page.inks[i].code);
        const std::string path = MakePngPath(options.pngDirectory, pageIndex, name.c_str());
        const std::vector<std::uint8_t> gray = decode::RenderGray(images[i]);
        if (!decode::WritePng(path, images[i].width, images[i].height, 1, gray.data(), &message)) {
            std::fprintf(stderr, "inkrow-decode: %s\n", message.c_str());
            return false;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    const std::vector<std::uint8_t> preview = decode::ComposePreview(layers, width, height);
    const std::string path = MakePngPath(options.pngDirectory, pageIndex, "preview");
    if (!decode::WritePng(path, width, height, 3, preview.data(), &message)) {
        std::fprintf(stderr, "inkrow-decode: %s\n", message.c_str());
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    return true;
}

void PrintStatistics(const char* indent, const decode::Statistics& stats) {
    std::printf(
        "%s%llu bytes, %llu rows (%llu sent, %llu skipped in %llu commands), %llu packets "
        "(%llu empty, %llu payload bytes), %llu selections, %llu form feeds\n",
        indent, static_cast<unsigned long long>(stats.bytes),
        static_cast<unsigned long long>(stats.rows),
        static_cast<unsigned long long>(stats.sentRows),
        static_cast<unsigned long long>(stats.skippedRows),
        static_cast<unsigned long long>(stats.skips),
        static_cast<unsigned long long>(stats.packets),
        static_cast<unsigned long long>(stats.emptyPackets),
        static_cast<unsigned long long>(stats.payloadBytes),
        static_cast<unsigned long long>(stats.selections),
        static_cast<unsigned long long>(stats.formFeeds));
}

void PrintSummary(const ToolOptions& options, const RenderMode& mode,
                  const decode::Decoded& decoded) {
    for (std::size_t p = 0; p < decoded.pages.size(); ++p) {
        const decode::Page& page = decoded.pages[p];
        std::printf("page %zu at %zu: %u lines per row, %llu lines%s\n", p + 1, page.offset,
                    page.linesPerRow, static_cast<unsigned long long>(page.rows * page.linesPerRow),
                    page.endedByFormFeed ? ", ended by form feed" : "");
        PrintStatistics("  ", page.stats);
        for (const decode::InkRaster& ink : page.inks) {
            bool known = true;
            const decode::PixelFormat format = ChooseFormat(options, mode, ink.code, &known);
            const int perByte = decode::CountPixelsPerByte(format);
            const std::string packing = format.baseThree
                                            ? std::string("5 per byte")
                                            : std::to_string(format.bitsPerPixel) + " bit";
            std::printf("  ink %-2s longest line %u bytes (%llu pixels at %s)%s\n",
                        decode::FormatInkCode(ink.code).c_str(), ink.longestLine,
                        static_cast<unsigned long long>(ink.longestLine) * perByte, packing.c_str(),
                        known ? "" : "; not an ink of the print mode");
            if (options.width != 0 &&
                ink.longestLine > (options.width + perByte - 1) / static_cast<unsigned>(perByte)) {
                std::printf("  warning: ink %s has lines wider than %u pixels\n",
                            decode::FormatInkCode(ink.code).c_str(), options.width);
            }
        }
    }
    std::printf("total: %llu pages\n", static_cast<unsigned long long>(decoded.totals.pages));
    PrintStatistics("  ", decoded.totals);
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    RenderMode mode{};
    if (options.haveMode) {
        RenderModeRequest request{};
        request.qualityCode = static_cast<int>(options.quality);
        request.mediaCode = static_cast<int>(options.media);
        request.blackOnly = options.blackOnly ? 1 : 0;
        request.kForBlack = options.kForBlack ? 1 : 0;
        request.keepColor = options.keepColor ? 1 : 0;
        if (RenderDescribeMode(&request, &mode) != RENDER_OK) {
            std::fprintf(stderr, "inkrow-decode: quality %ld with media %ld has no ink set\n",
                         options.quality, options.media);
            return 2;
        }
    }

    std::vector<std::uint8_t> stream;
    if (!ReadFile(options.file, &stream)) return 2;

    decode::DecodeOptions decodeOptions;
    decodeOptions.maxLineBytes = options.maxLineBytes;
    decodeOptions.keepListing = options.listing;
    decodeOptions.keepRasters = !options.pngDirectory.empty();
    decodeOptions.continuePageOnHeader = options.continuePageOnHeader;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, decodeOptions, &decoded);

    for (const decode::Command& command : decoded.commands) {
        std::printf("%s\n", decode::FormatCommand(command).c_str());
    }
    PrintSummary(options, mode, decoded);
    if (error.code != decode::ErrorCode::kNone) {
        std::fflush(stdout);
        std::fprintf(stderr, "inkrow-decode: %s: offset %zu: %s: %s\n", options.file.c_str(),
                     error.offset, decode::DescribeErrorCode(error.code), error.message.c_str());
        return 1;
    }

    if (!options.pngDirectory.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.pngDirectory, failure);
        if (failure) {
            std::fprintf(stderr, "inkrow-decode: cannot create %s: %s\n",
                         options.pngDirectory.c_str(), failure.message().c_str());
            return 2;
        }
        for (std::size_t p = 0; p < decoded.pages.size(); ++p) {
            if (!WritePagePictures(options, mode, decoded.pages[p], p)) return 2;
        }
    }
    return 0;
}
