// inkrow-decode: reads a printer command stream from a file, lists its commands, sums
// it up and, on request, draws every ink of every page as PNG pictures. The stream is
// read by the independent decoder; the render stage's print-mode description only tells
// how a print mode lays out its planes.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "inkrow/render.h"
#include "picture.h"

namespace {

namespace decode = inkrow::decode;

constexpr char kUsage[] =
    "usage: inkrow-decode [options] FILE\n"
    "\n"
    "Lists the commands of a printer command stream, prints a summary and checks the\n"
    "stream strictly; the exit status is 1 when the stream is malformed.\n"
    "\n"
    "Every stream the library writes decodes with the defaults. A form-feed job (one\n"
    "that ends with a form feed) repeats its page header between pages; its pages run\n"
    "down one sheet that only the form feed ejects, and the stream does not mark where\n"
    "each page ends, so it reads back, and previews, as that one sheet.\n"
    "\n"
    "options:\n"
    "  --png DIR               write a gray PNG per ink and page and a colour preview\n"
    "                          per page into DIR (created if missing)\n"
    "  --quality Q --media M   the job's print mode: gives each ink its pixel format.\n"
    "                          The stream does not say it: without it every ink is read\n"
    "                          as --bits bits per pixel, and pictures of other depths come\n"
    "                          out stretched (a warning says so)\n"
    "  --black-only            page flags of the print mode\n"
    "  --k-for-black\n"
    "  --keep-color\n"
    "  --bits N                bits per pixel (1, 2, 4 or 8) of inks no print mode\n"
    "                          describes; 1 by default\n"
    "  --width PIXELS          picture width; lines wider than it are reported\n"
    "  --max-line-bytes N      reject lines longer than N bytes\n"
    "  --continue-page-on-header\n"
    "                          a header inside a page repeats it, as in a form-feed job;\n"
    "                          needed only for a form-feed job cut before its form feed\n"
    "  --no-listing            print only the summary\n"
    "  --help                  show this text\n";

struct ToolOptions {
    std::string file;
    std::string pngDirectory;
    bool haveMode = false;
    inkrow::cli::ModeFlags mode;
    int bits = 1;
    bool haveBits = false;
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
        } else if (const auto taken =
                       inkrow::cli::TakeModeFlag("inkrow-decode", argc, argv, &i, &options->mode);
                   taken != inkrow::cli::Taken::kNotMine) {
            if (taken == inkrow::cli::Taken::kBad) return 2;
        } else if (argument == "--bits") {
            if (!needNumber(1, 8)) return 2;
            if (decode::CountPixelsPerByte({static_cast<int>(number), false}) == 0) {
                std::fputs("inkrow-decode: --bits takes 1, 2, 4 or 8\n", stderr);
                return 2;
            }
            options->bits = static_cast<int>(number);
            options->haveBits = true;
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
    if (options->mode.haveQuality != options->mode.haveMedia) {
        std::fputs("inkrow-decode: --quality and --media go together\n", stderr);
        return 2;
    }
    options->haveMode = options->mode.haveQuality;
    if (!options->haveMode && inkrow::cli::HasPageFlag(options->mode)) {
        std::fputs("inkrow-decode: page flags need --quality and --media\n", stderr);
        return 2;
    }
    return 0;
}

// How an ink's bytes hold its pixels. With a print mode the ink's plane decides: ink i
// of the mode's full selection is plane i.
decode::PixelFormat ChooseFormat(const ToolOptions& options, const RenderMode& mode,
                                 std::uint8_t code, bool* known) {
    *known = true;
    if (options.haveMode) {
        decode::PixelFormat format;
        if (decode::FindInkFormat(mode, code, &format)) return format;
        *known = false;
    }
    return {options.bits, false};
}

std::string MakePngPath(const std::string& directory, std::size_t page, const char* what) {
    return (std::filesystem::path(directory) /
            ("page" + std::to_string(page + 1) + "-" + what + ".png"))
        .string();
}

// Draws one page: a gray picture per ink and the colour preview, each written row by
// row from the page's rasters.
bool WritePagePictures(const ToolOptions& options, const RenderMode& mode, const decode::Page& page,
                       std::size_t pageIndex) {
    std::vector<decode::PictureInk> inks;
    std::uint32_t width = options.width;
    for (const decode::InkRaster& raster : page.inks) {
        bool known = true;
        decode::PictureInk ink;
        ink.code = raster.code;
        ink.raster = &raster;
        ink.format = ChooseFormat(options, mode, raster.code, &known);
        inks.push_back(ink);
        const std::uint64_t pixels =
            std::uint64_t{raster.widthBytes} * decode::CountPixelsPerByte(ink.format);
        if (options.width == 0 && pixels > width) {
            if (pixels > (1u << 24)) {
                std::fprintf(stderr, "inkrow-decode: page %zu ink %s: picture too large\n",
                             pageIndex + 1, decode::FormatInkCode(raster.code).c_str());
                return false;
            }
            width = static_cast<std::uint32_t>(pixels);
        }
    }
    const std::uint64_t lines = page.rows * page.linesPerRow;
    if (lines > (1u << 24)) {
        std::fprintf(stderr, "inkrow-decode: page %zu: picture too large\n", pageIndex + 1);
        return false;
    }
    const auto height = static_cast<std::uint32_t>(lines);
    if (width == 0 || height == 0) {
        std::printf("page %zu: nothing to draw\n", pageIndex + 1);
        return true;
    }

    std::string message;
    std::uint64_t invalid = 0;
    for (std::size_t i = 0; i < inks.size(); ++i) {
        if (inks[i].raster->widthBytes == 0) continue;  // an ink that never carried a byte
        const std::string name = std::to_string(i) + "-" + decode::FormatInkCode(inks[i].code);
        const std::string path = MakePngPath(options.pngDirectory, pageIndex, name.c_str());
        const std::uint32_t inkWidth =
            options.width != 0
                ? options.width
                : static_cast<std::uint32_t>(inks[i].raster->widthBytes *
                                             decode::CountPixelsPerByte(inks[i].format));
        decode::PngFile* file = decode::OpenPngFile(path, &message);
        if (file == nullptr ||
            !decode::WriteGrayPng(file, inks[i], inkWidth, height, &invalid, &message)) {
            std::fprintf(stderr, "inkrow-decode: %s\n", message.c_str());
            return false;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    const std::string path = MakePngPath(options.pngDirectory, pageIndex, "preview");
    decode::PngFile* file = decode::OpenPngFile(path, &message);
    std::uint64_t previewInvalid = 0;
    if (file == nullptr ||
        !decode::WritePreviewPng(file, inks, width, height, &previewInvalid, &message)) {
        std::fprintf(stderr, "inkrow-decode: %s\n", message.c_str());
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    if (invalid != 0) {
        std::fprintf(stderr, "inkrow-decode: page %zu: %llu bytes are no five-pixel code\n",
                     pageIndex + 1, static_cast<unsigned long long>(invalid));
    }
    return true;
}

// The pictures go into a directory that must exist (it is created) and be writable
// before the stream is read, so a bad path fails before any work.
bool PreparePngDirectory(const std::string& directory) {
    std::error_code failure;
    std::filesystem::create_directories(directory, failure);
    if (!failure && !std::filesystem::is_directory(directory, failure)) {
        failure = std::make_error_code(std::errc::not_a_directory);
    }
    if (!failure && access(directory.c_str(), W_OK | X_OK) != 0) {
        failure = std::error_code(errno, std::generic_category());
    }
    if (failure) {
        std::fprintf(stderr, "inkrow-decode: cannot write pictures into %s: %s\n",
                     directory.c_str(), failure.message().c_str());
        return false;
    }
    return true;
}

// "1 form feed", "2 form feeds".
std::string Count(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void PrintStatistics(const char* indent, const decode::Statistics& stats) {
    std::printf(
        "%s%s, %s (%llu sent, %llu skipped in %s), %s (%llu empty, %s), %s, %s\n", indent,
        Count(stats.bytes, "byte").c_str(), Count(stats.rows, "row").c_str(),
        static_cast<unsigned long long>(stats.sentRows),
        static_cast<unsigned long long>(stats.skippedRows), Count(stats.skips, "command").c_str(),
        Count(stats.packets, "packet").c_str(), static_cast<unsigned long long>(stats.emptyPackets),
        Count(stats.payloadBytes, "payload byte").c_str(),
        Count(stats.selections, "selection").c_str(), Count(stats.formFeeds, "form feed").c_str());
}

void PrintSummary(const ToolOptions& options, const RenderMode& mode,
                  const decode::Decoded& decoded) {
    for (std::size_t p = 0; p < decoded.pages.size(); ++p) {
        const decode::Page& page = decoded.pages[p];
        std::printf("page %zu at %zu: %u lines per row, %s%s\n", p + 1, page.offset,
                    page.linesPerRow, Count(page.rows * page.linesPerRow, "line").c_str(),
                    page.endedByFormFeed ? ", ended by form feed" : "");
        PrintStatistics("  ", page.stats);
        for (const decode::InkRaster& ink : page.inks) {
            bool known = true;
            const decode::PixelFormat format = ChooseFormat(options, mode, ink.code, &known);
            const int perByte = decode::CountPixelsPerByte(format);
            const std::string packing = format.baseThree
                                            ? std::string("5 per byte")
                                            : std::to_string(format.bitsPerPixel) + " bit";
            const char* note = !known ? "; not an ink of the print mode"
                               : options.haveMode || options.haveBits ? ""
                                                                      : ", guessed: no print mode";
            std::printf("  ink %-2s longest line %s (%s at %s%s)\n",
                        decode::FormatInkCode(ink.code).c_str(),
                        Count(ink.longestLine, "byte").c_str(),
                        Count(std::uint64_t{ink.longestLine} * perByte, "pixel").c_str(),
                        packing.c_str(), note);
            if (options.width != 0 &&
                ink.longestLine > (options.width + perByte - 1) / static_cast<unsigned>(perByte)) {
                std::printf("  warning: ink %s has lines wider than %u pixels\n",
                            decode::FormatInkCode(ink.code).c_str(), options.width);
            }
        }
    }
    std::printf("total: %s\n", Count(decoded.totals.pages, "page").c_str());
    PrintStatistics("  ", decoded.totals);
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    RenderMode mode{};
    if (options.haveMode) {
        if (!inkrow::cli::DescribeMode(options.mode, &mode)) {
            std::fprintf(stderr, "inkrow-decode: quality %ld with media %ld has no ink set\n",
                         options.mode.quality, options.mode.media);
            return 2;
        }
    }

    if (!options.pngDirectory.empty() && !PreparePngDirectory(options.pngDirectory)) return 2;
    if (!options.pngDirectory.empty() && !options.haveMode) {
        std::fprintf(stderr,
                     "inkrow-decode: warning: no print mode given: every ink is drawn at %d bit%s "
                     "per pixel, so inks of another depth come out stretched or garbled; give "
                     "the job's --quality Q --media M (and page flags), or --bits N\n",
                     options.bits, options.bits == 1 ? "" : "s");
    }

    std::vector<std::uint8_t> stream;
    if (!inkrow::cli::ReadWholeFile("inkrow-decode", options.file, &stream)) return 2;
    if (stream.empty()) {
        // Only a job whose pages took no line writes nothing; an empty file is far more
        // likely a job that failed, so it is not read as "0 pages".
        std::fprintf(stderr, "inkrow-decode: %s is empty: no command stream to read\n",
                     options.file.c_str());
        return 1;
    }

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
        if (error.code == decode::ErrorCode::kNoSelection && !options.continuePageOnHeader) {
            std::fputs(
                "inkrow-decode: a packet after a page header that selected no ink: if "
                "this is a form-feed job cut before its form feed, read it with "
                "--continue-page-on-header\n",
                stderr);
        }
        return 1;
    }

    if (!options.pngDirectory.empty()) {
        for (std::size_t p = 0; p < decoded.pages.size(); ++p) {
            if (!WritePagePictures(options, mode, decoded.pages[p], p)) return 2;
        }
    }
    return 0;
}
