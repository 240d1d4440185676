// rastertoinkrow: the CUPS filter of the inkrow driver.
//
//   rastertoinkrow job-id user title copies options [file]
//
// Prints CUPS or PWG raster, or a PDF, PostScript, PNG or JPEG document, from the file
// or from standard input, and writes the printer's command stream to standard output.
// Both go through the print layer's one page loop (inkrow/print.h):
//
//   - raster: each page's print mode comes from its page header (page_mode.h); the PPD
//     built from inkrow.drv sets those fields. The header's layout is read by the one
//     header reader every door uses. Copies were made before this filter.
//   - documents: the PPD (the PPD environment variable) and the job's options give the
//     print mode and the page size (the catalogue's size of the PPD's PageSize), and the
//     project's page sources read the document, as the printer application and
//     inkrow-print do; so the three print a document byte for byte alike. This filter
//     makes the copies (argv[4]) and takes page-ranges as one range.
//
// A page whose width, colour space, resolution or print mode differs from the page
// before ends that job cleanly and starts a new one in the same stream: documents that
// mix page sizes print without the user having to split them.
//
// Messages follow the CUPS filter conventions on standard error: "INFO:" for progress,
// "PAGE: n 1" once a page has been handed on whole, "ERROR:" naming the cause of a
// failure (exit status 1), in the print layer's words.
//
// Cancelling (SIGTERM) stops reading at the next line. As CUPS asks of filters, the
// output is left valid: the page in progress is ended so that the printer ejects the
// sheet, but it is not reported with "PAGE:". A cancelled filter exits with status 0.
// A raster that ends in the middle of a page is handled the same way on the stream side,
// but it is an error: "ERROR:" and exit status 1.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "color_files.h"
#include "inkrow/print.h"
#include "inkrow/render.h"
#include "page_mode.h"

// libcups marks its whole PPD interface deprecated; it is still how a filter reads the
// PPD and the job's options into a page header.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

using inkrow::filter::PageSettings;

volatile std::sig_atomic_t gCanceled = 0;

extern "C" void OnCancel(int) {
    gCanceled = 1;
}

// The input side. Reading through our own callback lets a cancel interrupt a read that
// is waiting for data, and tells the end of the stream (nothing more to read) from a
// page header that is bad or cut short. The first bytes are read ahead to tell a raster
// from a document; they are handed out first.
struct Input {
    int fd = 0;
    bool atEnd = false;
    int error = 0;            // errno of a failed read
    std::uint64_t bytes = 0;  // handed to libcups so far
    std::uint8_t ahead[4] = {};
    std::size_t aheadLength = 0;
    std::size_t aheadUsed = 0;
};

ssize_t ReadRaw(Input* input, unsigned char* buffer, size_t length) {
    for (;;) {
        const ssize_t count = read(input->fd, buffer, length);
        if (count >= 0) return count;
        if (errno == EINTR && gCanceled == 0) continue;
        input->error = errno == EINTR ? 0 : errno;
        return -1;
    }
}

extern "C" ssize_t ReadInput(void* context, unsigned char* buffer, size_t length) {
    auto* input = static_cast<Input*>(context);
    if (input->aheadUsed < input->aheadLength && length > 0) {
        std::size_t count = input->aheadLength - input->aheadUsed;
        if (count > length) count = length;
        std::memcpy(buffer, input->ahead + input->aheadUsed, count);
        input->aheadUsed += count;
        input->bytes += count;
        return static_cast<ssize_t>(count);
    }
    const ssize_t count = ReadRaw(input, buffer, length);
    if (count > 0) input->bytes += static_cast<std::uint64_t>(count);
    if (count == 0) input->atEnd = true;
    return count;
}

// Standard output, buffered so that the stream's many small segments leave in large
// writes; flushed at every page end so that the printer receives each page as it is done.
struct Output {
    std::vector<std::uint8_t> buffer;
    int error = 0;
};

constexpr std::size_t kOutputBuffer = 64 * 1024;

bool Flush(Output* output) {
    std::size_t sent = 0;
    while (sent < output->buffer.size()) {
        const ssize_t count = write(1, output->buffer.data() + sent, output->buffer.size() - sent);
        if (count < 0) {
            // A cancel must not cut the stream short: keep writing what is due.
            if (errno == EINTR) continue;
            output->error = errno;
            output->buffer.clear();
            return false;
        }
        sent += static_cast<std::size_t>(count);
    }
    output->buffer.clear();
    return true;
}

extern "C" int WriteStream(void* context, const uint8_t* bytes, size_t length) {
    auto* output = static_cast<Output*>(context);
    if (output->error != 0) return 1;
    output->buffer.insert(output->buffer.end(), bytes, bytes + length);
    if (output->buffer.size() >= kOutputBuffer && !Flush(output)) return 1;
    return 0;
}

// Marks the job's options in the PPD: the IPP names a job carries through the catalogue
// (print-quality, media-type and media to the PPD's choices of the same entries, and
// print-color-mode), then the PPD's own option names, which win. (cupsMarkOptions would
// do the IPP part through libcups's PPD cache, which leaks.)
void MarkOptions(ppd_file_t* ppd, int count, cups_option_t* options) {
    for (int i = 0; i < count; ++i) {
        const std::string name = options[i].name;
        const char* value = options[i].value;
        if (name == "print-quality") {
            if (const PrintQualityInfo* quality = PrintFindQuality(std::atoi(value)))
                ppdMarkOption(ppd, "cupsPrintQuality", quality->ppdChoice);
        } else if (name == "media-type") {
            const PrintMediaType* type = PrintFindMediaType(value);
            if (type != nullptr && type->ppdChoice != nullptr)
                ppdMarkOption(ppd, "MediaType", type->ppdChoice);
        } else if (name == "media") {
            if (const PrintPaperSize* paper = PrintFindPaperSize(value))
                ppdMarkOption(ppd, "PageSize", paper->ppdName);
        } else if (name == "print-color-mode") {
            ppdMarkOption(ppd, "ColorModel",
                          std::strcmp(value, "monochrome") == 0 ? "Gray" : "CMYK");
        }
    }
    for (int i = 0; i < count; ++i)
        if (ppdFindOption(ppd, options[i].name) != nullptr)
            ppdMarkOption(ppd, options[i].name, options[i].value);
}

bool IsRasterSync(const std::uint8_t* bytes, std::size_t length) {
    if (length < 4) return false;
    const std::string sync(reinterpret_cast<const char*>(bytes), 4);
    for (const char* word : {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR", "UNIR", "RINU"})
        if (sync == word) return true;
    return false;
}

class Filter {
public:
    ~Filter() {
        if (job_ != nullptr) PrintJobClose(job_);
        if (raster_ != nullptr) cupsRasterClose(raster_);
        if (input_.fd > 0) close(input_.fd);
        if (!spool_.empty()) unlink(spool_.c_str());
    }

    int Run(int argc, char** argv);

private:
    bool Open(const char* path);
    bool ReadColorFiles(const char* optionText);
    bool OpenJob(const RenderModeRequest& mode, int copies, int firstPage, int lastPage);
    bool PrintRaster();
    bool PrintDocument(const char* path, int copies, const char* options);
    bool CopyToSpool();
    // Takes a print-layer result: true to go on. A cancel stops without an error.
    bool Check(int status);
    // Ends the job and sends what is left of its stream; false after any failure.
    bool EndJob();
    bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    static int IsCanceled(void*) { return gCanceled; }
    static void Progress(void* context, const PrintProgress* progress);

    Input input_;
    Output output_;
    cups_raster_t* raster_ = nullptr;
    PrintJob* job_ = nullptr;
    PageSettings settings_;             // of the page being printed
    inkrow::filter::ColorFiles color_;  // the job's profile, calibration, intent
    std::vector<std::uint8_t> line_;
    std::string spool_;  // standard input, copied for the page sources
    int pagesRead_ = 0;  // raster page headers read
    bool failed_ = false;
};

bool Filter::Fail(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    if (!failed_) std::fprintf(stderr, "ERROR: %s\n", text);
    failed_ = true;
    return false;
}

bool Filter::Check(int status) {
    if (status >= 0) return true;
    if (status == RENDER_CANCELED) return false;
    if (status == RENDER_WRITE_FAILED)
        return Fail("Unable to write the printer stream: %s",
                    std::strerror(output_.error != 0 ? output_.error : EIO));
    return Fail("%s", PrintJobErrorText(job_));
}

void Filter::Progress(void* context, const PrintProgress* progress) {
    auto* self = static_cast<Filter*>(context);
    switch (progress->event) {
        case PRINT_NEW_MODE: {
            if (progress->pagesPrinted > 0 || progress->copy > 1)
                std::fprintf(stderr,
                             "INFO: Page %d changes the page width or print mode: starting a new "
                             "job in the stream\n",
                             progress->page);
            const RenderModeRequest& request = self->settings_.mode;
            std::fprintf(stderr,
                         "INFO: Printing %d pixels wide at %d dpi, quality %d on media %d%s\n",
                         progress->width, progress->resolution, request.qualityCode,
                         request.mediaCode, request.blackOnly != 0 ? ", black only" : "");
            std::fprintf(stderr, "DEBUG: ink set %d, inks %s, %d planes, %d lines per row\n",
                         progress->mode->inkSetId, progress->mode->inks, progress->mode->planeCount,
                         progress->mode->linesPerRow);
            break;
        }
        case PRINT_PAGE_STARTED:
            std::fprintf(stderr, "INFO: Printing page %d\n", progress->page);
            break;
        case PRINT_PAGE_DONE:
            // Each page reaches the printer as it is done.
            if (!Flush(&self->output_)) break;
            std::fprintf(stderr, "PAGE: %d 1\n", progress->pagesPrinted);
            break;
        default:
            break;
    }
}

bool Filter::Open(const char* path) {
    if (path != nullptr) {
        input_.fd = open(path, O_RDONLY | O_CLOEXEC);
        if (input_.fd < 0)
            return Fail("Unable to open the raster file \"%s\": %s", path, std::strerror(errno));
    }
    // The sync word, or the first bytes of a document.
    while (input_.aheadLength < sizeof input_.ahead) {
        const ssize_t count = ReadRaw(&input_, input_.ahead + input_.aheadLength,
                                      sizeof input_.ahead - input_.aheadLength);
        if (count <= 0) break;
        input_.aheadLength += static_cast<std::size_t>(count);
    }
    return true;
}

// The job's colour files from its options and the PPD (when there is one), before any
// page; the print layer checks the files themselves when the job opens.
bool Filter::ReadColorFiles(const char* optionText) {
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(optionText, 0, &options);
    const char* ppdPath = std::getenv("PPD");
    ppd_file_t* ppd = ppdPath != nullptr ? ppdOpenFile(ppdPath) : nullptr;
    if (ppd != nullptr) {
        ppdMarkDefaults(ppd);
        MarkOptions(ppd, count, options);
    }
    std::string why;
    const bool read = inkrow::filter::ColorFilesOfJob(ppd, count, options, &color_, &why);
    if (ppd != nullptr) ppdClose(ppd);
    cupsFreeOptions(count, options);
    if (!read) return Fail("%s", why.c_str());
    if (!color_.profile.empty())
        std::fprintf(stderr, "INFO: Colour through %s (%s)\n", color_.profile.c_str(),
                     RenderIntentName(color_.intent));
    return true;
}

bool Filter::OpenJob(const RenderModeRequest& mode, int copies, int firstPage, int lastPage) {
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    options.mode = mode;
    options.copies = copies;
    options.firstPage = firstPage;
    options.lastPage = lastPage;
    options.write = WriteStream;
    options.writeContext = &output_;
    options.cancel = IsCanceled;
    options.progress = Progress;
    options.progressContext = this;
    inkrow::filter::ApplyColorFiles(color_, &options.color);
    const int opened = PrintJobOpen(&options, &job_);
    if (opened != RENDER_OK)
        return Fail("Unable to start the print job: %s", RenderStatusText(opened));
    return true;
}

bool Filter::PrintRaster() {
    raster_ = cupsRasterOpenIO(ReadInput, &input_, CUPS_RASTER_READ);
    if (raster_ == nullptr) {
        if (gCanceled != 0) return false;
        if (input_.error != 0)
            return Fail("Unable to read the raster stream: %s", std::strerror(input_.error));
        if (input_.aheadLength == 0) return Fail("The input is empty: no CUPS raster stream");
        std::string why = cupsRasterErrorString();
        while (!why.empty() && (why.back() == '\n' || why.back() == '!'))
            why.pop_back();
        return Fail("The input is not a CUPS raster stream (%s)", why.c_str());
    }
    if (!OpenJob(RenderModeRequest{}, 1, 0, 0)) return false;
    for (;;) {
        cups_page_header2_t header;
        const std::uint64_t before = input_.bytes;
        if (cupsRasterReadHeader2(raster_, &header) == 0) {
            if (gCanceled != 0) return false;
            // The stream ends cleanly when the attempt to read another header found
            // nothing at all. A header that was read but refused, or one cut short, is an
            // error. (libcups reads compressed streams ahead in large blocks, so there a
            // header cut short can sit in its buffer unseen; it carries no pixels.)
            if (input_.error != 0)
                return Fail("Unable to read the raster stream: %s", std::strerror(input_.error));
            if (!input_.atEnd || input_.bytes != before)
                return Fail("The header of page %d is damaged or cut short", pagesRead_ + 1);
            if (pagesRead_ == 0) std::fprintf(stderr, "INFO: The raster stream holds no pages\n");
            return true;
        }
        if (gCanceled != 0) return false;
        ++pagesRead_;
        std::string why;
        if (!inkrow::filter::SettingsFromHeader(header, &settings_, &why))
            return Fail("page %d: %s", pagesRead_, why.c_str());
        if (!Check(PrintJobSetMode(job_, &settings_.mode))) return false;
        if (!Check(PrintJobStartRasterPage(job_, &header))) return false;
        line_.resize(header.cupsBytesPerLine);
        const unsigned length = header.cupsBytesPerLine;
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            if (cupsRasterReadPixels(raster_, line_.data(), length) != length) {
                if (gCanceled != 0) return false;  // the job's end ends the page
                if (input_.error != 0)
                    return Fail("Unable to read line %u of page %d: %s", y, pagesRead_,
                                std::strerror(input_.error));
                // The print layer words a page cut short.
                return Check(PrintJobEndPage(job_));
            }
            if (!Check(PrintJobPushLine(job_, line_.data(), line_.size()))) return false;
        }
        if (!Check(PrintJobEndPage(job_))) return false;
    }
}

// The page sources read files; standard input is copied to one first.
bool Filter::CopyToSpool() {
    const char* directory = std::getenv("TMPDIR");
    std::string name = std::string(directory != nullptr ? directory : "/tmp") + "/inkrowXXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return Fail("Unable to create a spool file: %s", std::strerror(errno));
    spool_ = name;
    std::vector<unsigned char> buffer(65536);
    bool ok = true;
    for (;;) {
        const ssize_t got = ReadInput(&input_, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0 || write(fd, buffer.data(), static_cast<std::size_t>(got)) != got) {
            ok = false;
            break;
        }
    }
    close(fd);
    if (!ok && gCanceled == 0)
        return Fail("Unable to copy the document: %s",
                    std::strerror(input_.error != 0 ? input_.error : errno));
    return ok;
}

bool Filter::PrintDocument(const char* path, int copies, const char* optionText) {
    const char* ppdPath = std::getenv("PPD");
    ppd_file_t* ppd = ppdOpenFile(ppdPath);
    if (ppd == nullptr) return Fail("Unable to open the PPD \"%s\"", ppdPath);
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(optionText, 0, &options);
    ppdMarkDefaults(ppd);
    MarkOptions(ppd, count, options);
    cups_page_header2_t header;
    const bool interpreted = cupsRasterInterpretPPD(&header, ppd, count, options, nullptr) == 0;
    const char* rangeOption = cupsGetOption("page-ranges", count, options);
    const std::string ranges = rangeOption != nullptr ? rangeOption : "";
    int firstPage = 0;
    int lastPage = 0;
    bool rangesOk = true;
    if (!ranges.empty()) {
        // "N" or "N-M": one range.
        int used = 0;
        rangesOk = std::sscanf(ranges.c_str(), "%d%n", &firstPage, &used) == 1;
        lastPage = firstPage;
        if (rangesOk && ranges[static_cast<std::size_t>(used)] == '-') {
            int more = 0;
            rangesOk = std::sscanf(ranges.c_str() + used + 1, "%d%n", &lastPage, &more) == 1;
            used += 1 + more;
        }
        rangesOk = rangesOk && static_cast<std::size_t>(used) == ranges.size() && firstPage >= 1 &&
                   lastPage >= firstPage;
    }
    cupsFreeOptions(count, options);
    ppdClose(ppd);
    // Ghostscript's cups device reads the PPD named in the environment and would lay its
    // pages out by it; the page sources ask it for exactly the page they want.
    unsetenv("PPD");
    if (!interpreted) return Fail("The PPD's options make no page: %s", cupsRasterErrorString());
    if (!rangesOk)
        return Fail("page-ranges %s: only one range of pages can be printed (\"2-5\")",
                    ranges.c_str());
    std::string why;
    if (!inkrow::filter::SettingsFromHeader(header, &settings_, &why))
        return Fail("The PPD's options: %s", why.c_str());
    // The page is the catalogue's size of the PPD's PageSize, as the other doors make it.
    int width = settings_.page.width;
    int height = settings_.page.height;
    if (const PrintPaperSize* paper = PrintFindPaperSize(header.cupsPageSizeName))
        PrintPaperPixels(paper, settings_.page.resolution, &width, &height);
    RenderModeRequest mode = settings_.mode;
    mode.resolution = settings_.page.resolution;
    if (!OpenJob(mode, copies < 1 ? 1 : copies, firstPage, lastPage)) return false;
    if (path == nullptr) {
        if (!CopyToSpool()) return false;
        path = spool_.c_str();
    }
    RenderSourceOptions sourceOptions;
    RenderSourceOptionsInit(&sourceOptions);
    sourceOptions.pageWidth = width;
    sourceOptions.pageHeight = height;
    // Under a profile documents arrive in sRGB, which it transforms.
    sourceOptions.colorSpace = settings_.page.colorSpace == RENDER_GRAY8            ? RENDER_GRAY8
                               : !color_.profile.empty() && !color_.calibrationMode ? RENDER_RGB8
                                                                                    : RENDER_CMYK8;
    return Check(PrintJobPrintFile(job_, path, &sourceOptions));
}

bool Filter::EndJob() {
    PrintJob* job = job_;
    job_ = nullptr;
    const int status = PrintJobFinish(job);
    const bool flushed = Flush(&output_);
    const std::string words = PrintJobErrorText(job);
    PrintJobClose(job);
    if (failed_) return false;
    if (output_.error != 0 || status == RENDER_WRITE_FAILED)
        return Fail("Unable to write the printer stream: %s",
                    std::strerror(output_.error != 0 ? output_.error : EIO));
    if (status != RENDER_OK && status != RENDER_CANCELED) return Fail("%s", words.c_str());
    return flushed;
}

int Filter::Run(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
                     argc > 0 ? argv[0] : "rastertoinkrow");
        return 1;
    }
    const char* path = argc == 7 ? argv[6] : nullptr;
    bool ok = ReadColorFiles(argv[5]);
    ok = ok && Open(path);
    if (ok) {
        // A raster, or without a PPD to say how to print anything else, is read as raster
        // (which says what is wrong with it).
        if (IsRasterSync(input_.ahead, input_.aheadLength) || std::getenv("PPD") == nullptr ||
            input_.aheadLength == 0)
            ok = PrintRaster();
        else
            ok = PrintDocument(path, std::atoi(argv[4]), argv[5]);
    }
    const int pages = job_ != nullptr ? PrintJobPagesPrinted(job_) : 0;
    // An open page is ended here, so the stream stays valid whatever stopped the loop.
    if (job_ != nullptr && !EndJob()) ok = false;
    if (gCanceled != 0) {
        std::fprintf(stderr, "INFO: Printing canceled after %d whole page(s)\n", pages);
        return 0;
    }
    if (ok) std::fprintf(stderr, "INFO: Printed %d page(s)\n", pages);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Unbuffered: CUPS reads the messages as they come.
    std::setbuf(stderr, nullptr);
    // A write to a closed pipe fails with EPIPE and is reported; it does not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnCancel;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read waiting for data returns to see the cancel
    sigaction(SIGTERM, &action, nullptr);

    Filter filter;
    return filter.Run(argc, argv);
}
