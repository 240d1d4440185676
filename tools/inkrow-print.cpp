// inkrow-print: prints a document to a file. It reads a PNG, JPEG, PWG or CUPS raster,
// PDF or PostScript file through the page sources, renders every page for a print mode
// with the render stage, and writes the printer command stream. A stream is only left
// behind when every page of the document made it: on any failure the output is removed.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli.h"
#include "inkrow/print.h"
#include "inkrow/render.h"
#include "inkrow/source.h"
#include "picture.h"

namespace {

namespace decode = inkrow::decode;
using Clock = std::chrono::steady_clock;
using inkrow::cli::ParseNumber;

constexpr char kUsage[] =
    "usage: inkrow-print [options] FILE\n"
    "\n"
    "Renders a PNG, JPEG, PWG or CUPS raster, PDF or PostScript file (\"-\" reads standard\n"
    "input) for a print mode and writes the printer command stream to a file. Pictures are\n"
    "scaled to fit the paper and centred; rasters keep their own page size; PDF and\n"
    "PostScript pages are rendered by Ghostscript at the paper's size. One line per page\n"
    "goes to standard error. On any failure the output file is removed and the exit\n"
    "status is 1 (2 for a bad command line).\n"
    "\n"
    "options:\n"
    "  --quality Q          quality code of the job (default 10)\n"
    "  --media M            media code of the job, or a media type named below (default 0,\n"
    "                       plain paper)\n"
    "  --resolution R       300, 600 or 360 dpi (default 600)\n"
    "  --black-only         page flag: print with the black plane alone where possible\n"
    "  --k-for-black        page flag: prefer configurations with a k plane\n"
    "  --keep-color         page flag: never fall back to black only\n"
    "  --form-feed          end pages with a form feed\n"
    "  --halftone H         diffusion (default) or ordered\n"
    "  --paper P            a paper size named below (default a4), or WxH in pixels\n"
    "                       (e.g. 2400x3600)\n"
    "  --gray               render PDF and PostScript in gray instead of CMYK\n"
    "  --icc-profile FILE   colour-manage with this CMYK printer profile of the media and\n"
    "                       inks (PDF and PostScript then render in sRGB)\n"
    "  --rendering-intent I perceptual (default), relative, saturation or absolute\n"
    "  --no-black-point-compensation  keep the document's black point (by default it\n"
    "                       maps to the printer's)\n"
    "  --calibration FILE   per-ink linearisation and ink limit (a printcal .cal file)\n"
    "  --no-color-management  calibration mode: print the raw inks (no profile, no\n"
    "                       calibration, no tone curves), e.g. for a CMYK target\n"
    "  --output PATH        the stream file (default: FILE with the extension .prn)\n"
    "  --preview PNG        read the written stream back with the decoder and write a colour\n"
    "                       preview of page 1\n"
    "  --ghostscript PROG   the Ghostscript program to run (default gs on the PATH)\n"
    "  --help               show this text\n";

// The usage, then the catalogue's media types and paper sizes, so that the list is the
// one every front end offers.
void PrintUsage(std::FILE* stream) {
    std::fputs(kUsage, stream);
    std::fputs("\nmedia types (--media):\n", stream);
    for (int i = 0; i < PrintMediaTypeCount(); ++i) {
        const PrintMediaType* type = PrintMediaTypeAt(i);
        std::fprintf(stream, "  %-24s media code %d\n", type->ippKeyword, type->mediaCode);
    }
    std::fputs("\npaper sizes (--paper):\n", stream);
    for (int i = 0; i < PrintPaperSizeCount(); ++i) {
        const PrintPaperSize* paper = PrintPaperSizeAt(i);
        std::fprintf(stream, "  %-24s %.1f x %.1f mm (%s)\n", paper->cliName, paper->width / 100.0,
                     paper->length / 100.0, paper->pwgName);
    }
}

struct Options {
    std::string input;
    std::string output;
    std::string preview;
    std::string ghostscript;
    RenderModeRequest mode{};
    int halftone = RENDER_DIFFUSION;
    std::string paper = "a4";
    int pageWidth = 0;
    int pageHeight = 0;
    bool gray = false;
    std::string profile;
    std::string calibration;
    int intent = RENDER_INTENT_PERCEPTUAL;
    bool calibrationMode = false;
    bool blackPointCompensation = true;
};

// A paper of the catalogue, by its command-line name, or WxH in pixels.
bool ChoosePaper(Options* options) {
    for (int i = 0; i < PrintPaperSizeCount(); ++i) {
        const PrintPaperSize* paper = PrintPaperSizeAt(i);
        if (options->paper == paper->cliName) {
            PrintPaperPixels(paper, options->mode.resolution, &options->pageWidth,
                             &options->pageHeight);
            return true;
        }
    }
    const std::size_t x = options->paper.find('x');
    if (x == std::string::npos) return false;
    long width = 0;
    long height = 0;
    const std::string w = options->paper.substr(0, x);
    const std::string h = options->paper.substr(x + 1);
    if (!ParseNumber(w.c_str(), 1, RENDER_MAX_WIDTH, &width) ||
        !ParseNumber(h.c_str(), 1, 1 << 20, &height)) {
        return false;
    }
    options->pageWidth = static_cast<int>(width);
    options->pageHeight = static_cast<int>(height);
    return true;
}

// Returns 0 to go on, -1 after --help, otherwise the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
    options->mode.qualityCode = 10;
    options->mode.resolution = 600;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        long number = 0;
        auto needNumber = [&](long low, long high) {
            return inkrow::cli::TakeNumber("inkrow-print", argc, argv, &i, low, high, &number);
        };
        auto needText = [&](std::string* value) {
            if (!hasValue) {
                std::fprintf(stderr, "inkrow-print: %s needs a value\n", argument.c_str());
                return false;
            }
            *value = argv[++i];
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            PrintUsage(stdout);
            return -1;
        } else if (argument == "--quality") {
            if (!needNumber(-32768, 32767)) return 2;
            options->mode.qualityCode = static_cast<int>(number);
        } else if (argument == "--media") {
            const PrintMediaType* type = i + 1 < argc ? PrintFindMediaType(argv[i + 1]) : nullptr;
            if (type != nullptr) {
                options->mode.mediaCode = type->mediaCode;
                ++i;
                continue;
            }
            if (!needNumber(-32768, 32767)) return 2;
            options->mode.mediaCode = static_cast<int>(number);
        } else if (argument == "--resolution") {
            if (!needNumber(1, 10000)) return 2;
            if (number != 300 && number != 600 && number != 360) {
                std::fputs("inkrow-print: --resolution takes 300, 600 or 360\n", stderr);
                return 2;
            }
            options->mode.resolution = static_cast<int>(number);
        } else if (argument == "--black-only") {
            options->mode.blackOnly = 1;
        } else if (argument == "--k-for-black") {
            options->mode.kForBlack = 1;
        } else if (argument == "--keep-color") {
            options->mode.keepColor = 1;
        } else if (argument == "--form-feed") {
            options->mode.formFeed = 1;
        } else if (argument == "--halftone") {
            std::string name;
            if (!needText(&name)) return 2;
            if (name == "diffusion") {
                options->halftone = RENDER_DIFFUSION;
            } else if (name == "ordered") {
                options->halftone = RENDER_ORDERED;
            } else {
                std::fputs("inkrow-print: --halftone takes diffusion or ordered\n", stderr);
                return 2;
            }
        } else if (argument == "--paper") {
            if (!needText(&options->paper)) return 2;
        } else if (argument == "--gray") {
            options->gray = true;
        } else if (argument == "--icc-profile") {
            if (!needText(&options->profile)) return 2;
        } else if (argument == "--calibration") {
            if (!needText(&options->calibration)) return 2;
        } else if (argument == "--no-black-point-compensation") {
            options->blackPointCompensation = false;
        } else if (argument == "--no-color-management") {
            options->calibrationMode = true;
        } else if (argument == "--rendering-intent") {
            std::string name;
            if (!needText(&name)) return 2;
            options->intent = RenderIntentFromName(name.c_str());
            if (options->intent < 0) {
                std::fputs(
                    "inkrow-print: --rendering-intent takes perceptual, relative, "
                    "saturation or absolute\n",
                    stderr);
                return 2;
            }
        } else if (argument == "--output" || argument == "-o") {
            if (!needText(&options->output)) return 2;
        } else if (argument == "--preview") {
            if (!needText(&options->preview)) return 2;
        } else if (argument == "--ghostscript") {
            if (!needText(&options->ghostscript)) return 2;
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "inkrow-print: unknown option %s\n", argument.c_str());
            PrintUsage(stderr);
            return 2;
        } else if (options->input.empty()) {
            options->input = argument;
        } else {
            std::fputs("inkrow-print: give one FILE\n", stderr);
            return 2;
        }
    }
    if (options->input.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    if (!ChoosePaper(options)) {
        std::fprintf(stderr,
                     "inkrow-print: unknown paper %s (a size of --help, or WxH in pixels)\n",
                     options->paper.c_str());
        return 2;
    }
    if (options->pageWidth > RENDER_MAX_WIDTH) {
        std::fprintf(stderr, "inkrow-print: the paper is %d pixels wide, more than %d\n",
                     options->pageWidth, RENDER_MAX_WIDTH);
        return 2;
    }
    if (options->output.empty()) {
        if (options->input == "-") {
            std::fputs("inkrow-print: reading standard input needs --output\n", stderr);
            return 2;
        }
        options->output = std::filesystem::path(options->input).replace_extension(".prn").string();
    }
    return 0;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int WriteToFile(void* context, const std::uint8_t* bytes, std::size_t length) {
    return std::fwrite(bytes, 1, length, static_cast<std::FILE*>(context)) == length ? 0 : 1;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The pixel format of each printer ink of a mode, for reading the stream back.
decode::PixelFormat InkFormat(const RenderMode& mode, std::uint8_t code) {
    if (mode.split != 0) return {2, false};  // every printer plane of the split
    for (int i = 0; i < mode.planeCount; ++i) {
        if (mode.planes[i].inkCode == code) {
            return {mode.planes[i].codeConverted != 0 ? 2 : mode.planes[i].bitsPerPixel,
                    mode.planes[i].codeConverted != 0};
        }
    }
    return {1, false};
}

// Reads page 1 back from the written file (its first `bytes` bytes, so that a long
// document costs no more than its first page) and draws it.
bool WritePreview(const Options& options, const RenderMode& mode, int width, int height,
                  std::uint64_t bytes, decode::PngFile* preview, std::string* error) {
    std::FILE* file = std::fopen(options.output.c_str(), "rb");
    if (file == nullptr) {
        decode::DiscardPngFile(preview);
        *error = "cannot read back " + options.output + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> stream;
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while (stream.size() < bytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        stream.insert(stream.end(), buffer, buffer + got);
    }
    std::fclose(file);
    if (stream.size() > bytes) stream.resize(bytes);

    decode::DecodeOptions decodeOptions;
    decodeOptions.keepListing = false;
    decodeOptions.continuePageOnHeader = options.mode.formFeed != 0;
    decodeOptions.maxRasterBytes = std::uint64_t{1} << 34;
    decode::Decoded decoded;
    const decode::Error failure = decode::DecodeStream(stream, decodeOptions, &decoded);
    if (failure.code != decode::ErrorCode::kNone) {
        decode::DiscardPngFile(preview);
        *error = "the decoder rejects the stream at byte " + std::to_string(failure.offset) + ": " +
                 decode::DescribeErrorCode(failure.code) + ": " + failure.message;
        return false;
    }
    if (decoded.pages.empty()) {
        decode::DiscardPngFile(preview);
        *error = "the stream holds no page";
        return false;
    }
    const decode::Page& page = decoded.pages[0];
    std::vector<decode::PictureInk> inks;
    for (const decode::InkRaster& raster : page.inks) {
        decode::PictureInk ink;
        ink.code = raster.code;
        ink.raster = &raster;
        ink.format = InkFormat(mode, raster.code);
        inks.push_back(ink);
    }
    std::uint64_t invalid = 0;
    return decode::WritePreviewPng(preview, inks, static_cast<std::uint32_t>(width),
                                   static_cast<std::uint32_t>(height), &invalid, error);
}

// Progress on standard error and what the preview needs of page 1.
struct Progress {
    Clock::time_point pageStarted = Clock::now();
    std::uint64_t bytesBefore = 0;
    RenderMode mode{};
    int firstWidth = 0;
    int firstHeight = 0;
    std::uint64_t firstPageBytes = 0;
};

void ReportProgress(void* context, const PrintProgress* progress) {
    auto* state = static_cast<Progress*>(context);
    switch (progress->event) {
        case PRINT_NEW_MODE:
            if (state->firstWidth == 0 && progress->mode != nullptr) state->mode = *progress->mode;
            break;
        case PRINT_PAGE_STARTED:
            state->pageStarted = Clock::now();
            state->bytesBefore = progress->bytes;
            break;
        case PRINT_PAGE_DONE:
            if (state->firstWidth == 0) {
                state->firstWidth = progress->width;
                state->firstHeight = progress->height;
                state->firstPageBytes = progress->bytes;
            }
            std::fprintf(stderr, "page %d: %dx%d, %.2f MB, %.2f s\n", progress->page,
                         progress->width, progress->height,
                         static_cast<double>(progress->bytes - state->bytesBefore) / 1e6,
                         SecondsSince(state->pageStarted));
            break;
        default:
            break;
    }
}

class Printer {
public:
    explicit Printer(const Options& options) : options_(options) {}

    ~Printer() {
        if (job_ != nullptr) PrintJobClose(job_);
        if (file_ != nullptr) std::fclose(file_);
        decode::DiscardPngFile(preview_);
    }

    // Prints the whole document; false with *error on any failure.
    bool Run(std::string* error) {
        const Clock::time_point started = Clock::now();
        RenderMode mode;
        const int described = RenderDescribeMode(&options_.mode, &mode);
        if (described != RENDER_OK) {
            *error = "quality " + std::to_string(options_.mode.qualityCode) + " with media " +
                     std::to_string(options_.mode.mediaCode) + ": " + RenderStatusText(described);
            return false;
        }
        if (options_.input != "-" && SameFile(options_.input, options_.output)) {
            outputIsInput_ = true;
            *error = "the output " + options_.output + " is the input file";
            return false;
        }

        // The preview's file is opened before any work, so that a bad path fails at once.
        if (!options_.preview.empty()) {
            preview_ = decode::OpenPngFile(options_.preview, error);
            if (preview_ == nullptr) {
                *error = "cannot write the preview " + *error;
                return false;
            }
        }

        file_ = std::fopen(options_.output.c_str(), "wb");
        if (file_ == nullptr) {
            *error = "cannot create " + options_.output + ": " + std::strerror(errno);
            return false;
        }
        std::fprintf(stderr, "inkrow-print: %s -> %s: quality %d, media %d, %d dpi, inks %s\n",
                     options_.input.c_str(), options_.output.c_str(), options_.mode.qualityCode,
                     options_.mode.mediaCode, options_.mode.resolution, mode.inks);

        PrintJobOptions jobOptions;
        PrintJobOptionsInit(&jobOptions);
        jobOptions.mode = options_.mode;
        jobOptions.halftone = options_.halftone;
        jobOptions.write = &WriteToFile;
        jobOptions.writeContext = file_;
        jobOptions.progress = &ReportProgress;
        jobOptions.progressContext = &progress_;
        if (!options_.profile.empty()) jobOptions.color.outputProfile = options_.profile.c_str();
        if (!options_.calibration.empty())
            jobOptions.color.calibration = options_.calibration.c_str();
        jobOptions.color.intent = options_.intent;
        jobOptions.color.blackPointCompensation = options_.blackPointCompensation ? 1 : 0;
        jobOptions.color.calibrationMode = options_.calibrationMode ? 1 : 0;
        if (PrintJobOpen(&jobOptions, &job_) != RENDER_OK) {
            *error = "cannot start the job";
            return false;
        }
        RenderSourceOptions sourceOptions;
        RenderSourceOptionsInit(&sourceOptions);
        sourceOptions.pageWidth = options_.pageWidth;
        sourceOptions.pageHeight = options_.pageHeight;
        // Under a profile documents arrive in sRGB, which it transforms; device CMYK
        // would print as it is.
        sourceOptions.colorSpace = options_.gray ? RENDER_GRAY8
                                   : !options_.profile.empty() && !options_.calibrationMode
                                       ? RENDER_RGB8
                                       : RENDER_CMYK8;
        if (!options_.ghostscript.empty()) sourceOptions.ghostscript = options_.ghostscript.c_str();
        PrintJobPrintFile(job_, options_.input.c_str(), &sourceOptions);
        const int finished = PrintJobFinish(job_);
        const int pages = PrintJobPagesPrinted(job_);
        if (finished != RENDER_OK) {
            *error = PrintJobErrorText(job_);
            return false;
        }
        const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
        const long total = std::ftell(file_);  // the whole stream, the job's end included
        const bool closedFile = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!flushed || !closedFile) {
            *error = "cannot write " + options_.output + ": " + std::strerror(errno);
            return false;
        }
        // The stream is whole: it stays even if its preview cannot be made.
        succeeded_ = true;
        std::fprintf(stderr, "inkrow-print: wrote %s: %d page%s, %.2f MB, %.2f s\n",
                     options_.output.c_str(), pages, pages == 1 ? "" : "s",
                     static_cast<double>(total) / 1e6, SecondsSince(started));
        if (!options_.preview.empty()) {
            decode::PngFile* preview = preview_;
            preview_ = nullptr;
            if (!WritePreview(options_, progress_.mode, progress_.firstWidth, progress_.firstHeight,
                              progress_.firstPageBytes, preview, error)) {
                *error = "preview: " + *error;
                return false;
            }
            std::fprintf(stderr, "inkrow-print: wrote preview %s\n", options_.preview.c_str());
        }
        return true;
    }

    // Whether a failed run must remove the output path: anything there is not this
    // run's complete stream (unless the path is the input itself).
    bool ShouldRemoveOutput() const { return !succeeded_ && !outputIsInput_; }

private:
    const Options& options_;
    PrintJob* job_ = nullptr;
    std::FILE* file_ = nullptr;
    decode::PngFile* preview_ = nullptr;  // opened before the job, written after it
    Progress progress_;
    bool outputIsInput_ = false;
    bool succeeded_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    std::string error;
    bool ok = false;
    bool removeOutput = false;
    {
        Printer printer(options);
        ok = printer.Run(&error);
        removeOutput = printer.ShouldRemoveOutput();
    }  // the source, its Ghostscript and the file are closed here
    if (!ok) {
        std::fprintf(stderr, "inkrow-print: %s: %s\n", options.input.c_str(), error.c_str());
        if (removeOutput && std::remove(options.output.c_str()) == 0) {
            std::fprintf(stderr, "inkrow-print: removed %s\n", options.output.c_str());
        }
        return 1;
    }
    return 0;
}
