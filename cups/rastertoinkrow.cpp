// rastertoinkrow: the CUPS raster filter of the inkrow driver.
//
//   rastertoinkrow job-id user title copies options [file]
//
// Reads CUPS raster (8 bits per colour, chunky; CMYK, gray or RGB) from the file or from
// standard input and writes the printer's command stream to standard output. The print
// mode of each page comes from its page header (page_mode.h); the PPD built from
// inkrow.drv sets those fields. Copies are made before this filter (the PPD asks for
// manual copies), so every page is printed once.
//
// One RenderJob prints consecutive pages of the same width and print mode. A page whose
// width or mode differs ends that job cleanly and starts a new one in the same stream:
// documents that mix page sizes print without the user having to split them.
//
// Messages follow the CUPS filter conventions on standard error: "INFO:" for progress,
// "PAGE: n 1" once a page has been handed on whole, "ERROR:" naming the cause of a
// failure (exit status 1).
//
// Cancelling (SIGTERM) stops reading at the next line. As CUPS asks of filters, the
// output is left valid: the page in progress is ended so that the printer ejects the
// sheet, but it is not reported with "PAGE:". A cancelled filter exits with status 0.
// A raster that ends in the middle of a page is handled the same way on the stream side,
// but it is an error: "ERROR:" and exit status 1.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "page_mode.h"

namespace {

using inkrow::filter::PageSettings;

volatile std::sig_atomic_t gCanceled = 0;

extern "C" void OnCancel(int) {
    gCanceled = 1;
}

// The input side of the raster stream. Reading through our own callback lets a cancel
// interrupt a read that is waiting for data, and tells the end of the stream (nothing
// more to read) from a page header that is bad or cut short.
struct Input {
    int fd = 0;
    bool atEnd = false;
    int error = 0;            // errno of a failed read
    std::uint64_t bytes = 0;  // handed to libcups so far
};

extern "C" ssize_t ReadInput(void* context, unsigned char* buffer, size_t length) {
    auto* input = static_cast<Input*>(context);
    for (;;) {
        const ssize_t count = read(input->fd, buffer, length);
        if (count > 0) {
            input->bytes += static_cast<std::uint64_t>(count);
            return count;
        }
        if (count == 0) {
            input->atEnd = true;
            return 0;
        }
        if (errno == EINTR && gCanceled == 0) continue;
        input->error = errno == EINTR ? 0 : errno;
        return -1;
    }
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

class Filter {
public:
    ~Filter() {
        if (job_ != nullptr) RenderJobClose(job_);
        if (raster_ != nullptr) cupsRasterClose(raster_);
        if (input_.fd > 0) close(input_.fd);
    }

    int Run(int argc, char** argv);

private:
    bool Open(const char* path);
    bool PrintPage(const cups_page_header2_t& header);
    bool StartJob(const PageSettings& settings);
    // Ends the job and sends what is left of its stream; `report` false after an error
    // already reported, so that its aftermath is not reported twice.
    bool EndJob(bool report = true);
    bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Input input_;
    Output output_;
    cups_raster_t* raster_ = nullptr;
    RenderJob* job_ = nullptr;
    PageSettings jobSettings_;
    std::vector<std::uint8_t> line_;
    int pagesRead_ = 0;     // page headers read
    int pagesPrinted_ = 0;  // pages handed on whole
};

bool Filter::Fail(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "ERROR: %s\n", text);
    return false;
}

bool Filter::Open(const char* path) {
    if (path != nullptr) {
        input_.fd = open(path, O_RDONLY | O_CLOEXEC);
        if (input_.fd < 0)
            return Fail("Unable to open the raster file \"%s\": %s", path, std::strerror(errno));
    }
    raster_ = cupsRasterOpenIO(ReadInput, &input_, CUPS_RASTER_READ);
    if (raster_ == nullptr) {
        if (gCanceled != 0) return false;
        if (input_.error != 0)
            return Fail("Unable to read the raster stream: %s", std::strerror(input_.error));
        if (input_.bytes == 0) return Fail("The input is empty: no CUPS raster stream");
        std::string why = cupsRasterErrorString();
        while (!why.empty() && (why.back() == '\n' || why.back() == '!'))
            why.pop_back();
        return Fail("The input is not a CUPS raster stream (%s)", why.c_str());
    }
    return true;
}

bool Filter::StartJob(const PageSettings& settings) {
    RenderJobOptions options;
    inkrow::filter::JobOptionsFor(settings, &options);
    options.write = WriteStream;
    options.writeContext = &output_;
    const int status = RenderJobOpen(&options, &job_);
    if (status != RENDER_OK)
        return Fail("Unable to start the print job for page %d: %s", pagesRead_,
                    RenderStatusText(status));
    jobSettings_ = settings;
    const RenderMode* mode = RenderJobMode(job_);
    const RenderModeRequest& request = settings.mode;
    std::fprintf(stderr, "INFO: Printing %d pixels wide at %d dpi, quality %d on media %d%s\n",
                 settings.width, request.resolution, request.qualityCode, request.mediaCode,
                 request.blackOnly != 0 ? ", black only" : "");
    std::fprintf(stderr, "DEBUG: ink set %d, inks %s, %d planes, %d lines per row\n",
                 mode->inkSetId, mode->inks, mode->planeCount, mode->linesPerRow);
    return true;
}

bool Filter::EndJob(bool report) {
    RenderJob* job = job_;
    job_ = nullptr;
    const int status = RenderJobClose(job);
    const bool flushed = Flush(&output_);
    if (!report) return false;
    if (output_.error != 0)
        return Fail("Unable to write the printer stream: %s", std::strerror(output_.error));
    if (status != RENDER_OK)
        return Fail("Unable to end the print job: %s", RenderStatusText(status));
    return flushed;
}

bool Filter::PrintPage(const cups_page_header2_t& header) {
    PageSettings settings;
    std::string why;
    if (!inkrow::filter::SettingsFromHeader(header, &settings, &why))
        return Fail("Page %d cannot be printed: %s", pagesRead_, why.c_str());
    if (job_ != nullptr && !inkrow::filter::SameJob(jobSettings_, settings)) {
        std::fprintf(stderr,
                     "INFO: Page %d changes the page width or print mode: starting a new job "
                     "in the stream\n",
                     pagesRead_);
        if (!EndJob()) return false;
    }
    if (job_ == nullptr && !StartJob(settings)) return false;

    std::fprintf(stderr, "INFO: Printing page %d\n", pagesRead_);
    line_.resize(settings.lineBytes);
    const auto length = static_cast<unsigned>(settings.lineBytes);
    // The page starts in the stream only once its first line is in hand, so that a
    // cancel or an input that ends right after the header leaves no empty page behind.
    // libcups refuses headers of no lines, so the page always starts.
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
        if (gCanceled != 0) return false;
        if (cupsRasterReadPixels(raster_, line_.data(), length) != length) {
            if (gCanceled != 0) return false;
            if (input_.error != 0)
                return Fail("Unable to read line %u of page %d: %s", y, pagesRead_,
                            std::strerror(input_.error));
            return Fail("Page %d ends after %u of its %u lines: the raster stream is cut short",
                        pagesRead_, y, header.cupsHeight);
        }
        if (settings.invertGray)
            for (std::uint8_t& value : line_)
                value = static_cast<std::uint8_t>(255 - value);
        if (y == 0 && RenderJobStartPage(job_) != RENDER_OK)
            return Fail("Page %d: %s", pagesRead_, RenderJobErrorText(job_));
        if (RenderJobWriteLine(job_, line_.data(), line_.size()) != RENDER_OK)
            return Fail("Page %d: %s", pagesRead_, RenderJobErrorText(job_));
    }
    if (RenderJobEndPage(job_) != RENDER_OK)
        return Fail("Page %d: %s", pagesRead_, RenderJobErrorText(job_));
    if (!Flush(&output_))
        return Fail("Unable to write the printer stream: %s", std::strerror(output_.error));
    ++pagesPrinted_;
    std::fprintf(stderr, "PAGE: %d 1\n", pagesPrinted_);
    return true;
}

int Filter::Run(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n",
                     argc > 0 ? argv[0] : "rastertoinkrow");
        return 1;
    }
    bool ok = Open(argc == 7 ? argv[6] : nullptr);
    while (ok) {
        cups_page_header2_t header;
        const std::uint64_t before = input_.bytes;
        if (cupsRasterReadHeader2(raster_, &header) == 0) {
            if (gCanceled != 0) break;
            // The stream ends cleanly when the attempt to read another header found
            // nothing at all. A header that was read but refused, or one cut short, is an
            // error. (libcups reads compressed streams ahead in large blocks, so there a
            // header cut short can sit in its buffer unseen; it carries no pixels.)
            if (input_.error != 0)
                ok = Fail("Unable to read the raster stream: %s", std::strerror(input_.error));
            else if (!input_.atEnd || input_.bytes != before)
                ok = Fail("The header of page %d is damaged or cut short", pagesRead_ + 1);
            else if (pagesRead_ == 0)
                std::fprintf(stderr, "INFO: The raster stream holds no pages\n");
            break;
        }
        if (gCanceled != 0) break;
        ++pagesRead_;
        ok = PrintPage(header);
    }
    // An open page is ended here, so the stream stays valid whatever stopped the loop.
    if (job_ != nullptr && !EndJob(ok)) ok = false;
    if (gCanceled != 0) {
        std::fprintf(stderr, "INFO: Printing canceled after %d whole page(s)\n", pagesPrinted_);
        return 0;
    }
    if (ok) std::fprintf(stderr, "INFO: Printed %d page(s)\n", pagesPrinted_);
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
