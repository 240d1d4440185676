// Helpers of the CUPS filter tests: CUPS rasters written with libcups, the filter run as
// a child process with bounded waits, and the same pages printed by RenderJob directly.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode.h"
#include "inkrow/render.h"

namespace cupstest {

using Bytes = std::vector<std::uint8_t>;

struct Page {
    cups_page_header2_t header{};
    std::vector<Bytes> lines;  // cupsHeight lines of cupsBytesPerLine bytes
};

// A header for an 8-bit chunky page in the given colour space (bits per colour may be
// changed afterwards for bad-input cases with FixBits).
cups_page_header2_t MakeHeader(unsigned width, unsigned height, cups_cspace_t space, unsigned dpi,
                               unsigned media = 0, unsigned quality = 0);
// Sets bits per colour and recomputes bits per pixel and bytes per line.
void FixBits(cups_page_header2_t* header, unsigned bitsPerColor);

// A page with a deterministic picture: gradients and stripes in every channel, a blank
// band across the middle (so that rows are skipped) and blank margins.
Page MakePage(const cups_page_header2_t& header, int variant);

// The pages as a raster stream, written with libcups in `mode`.
Bytes WriteRaster(const std::vector<Page>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// The lines of a page as RenderJob takes them: k (ink) gray turned into gray.
std::vector<Bytes> RenderLines(const Page& page);

// Prints pages (all of one width) through the print layer with the options' mode,
// width and colour space, as the filter should; the stream or an
// empty vector on failure (the test is failed then).
Bytes RenderDirect(const RenderJobOptions& options, const std::vector<Page>& pages);

RenderJobOptions MakeOptions(int quality, int media, int resolution, int width, int colorSpace,
                             bool blackOnly);

// Decodes strictly; fails the test on an error. maxLineBytes bounds every line.
inkrow::decode::Decoded DecodeOrFail(const Bytes& stream, std::uint32_t maxLineBytes);

// Bytes of the widest packed line a mode makes for `width` pixels.
std::uint32_t WidestLineBytes(const RenderMode& mode, int width);

// The filter as a child process. Standard output and error go to files (so that the
// child never waits on the test), standard input is a pipe the test writes or a file.
class FilterProcess {
public:
    struct Options {
        bool inputFromStdin = false;  // else the input is the sixth argument
        std::string stdoutPath;       // empty: a temporary file
        std::vector<std::string> arguments = {"1", "user", "title", "1", ""};
    };

    FilterProcess();
    ~FilterProcess();
    FilterProcess(const FilterProcess&) = delete;
    FilterProcess& operator=(const FilterProcess&) = delete;

    // Starts the filter; with a file input, the file holds `input`.
    bool Start(const Options& options, const Bytes& input = {});
    // Writes to the filter's standard input; false when the filter stopped reading.
    bool Write(const Bytes& bytes, std::size_t offset, std::size_t length);
    void CloseInput();
    void Signal(int signal);
    // Waits at most `seconds` for the messages to contain `text`.
    bool WaitForMessage(const std::string& text, int seconds);
    // Waits at most `seconds` for the exit, then kills the child. The exit status, or -1
    // when it had to be killed or died of a signal.
    int Wait(int seconds);

    std::string Messages() const;
    // The standard output, when it went to the process's own temporary file.
    Bytes Stream() const;

private:
    std::string directory_;
    std::string stdoutPath_;
    pid_t pid_ = -1;
    int inputFd_ = -1;
};

struct FilterRun {
    int status = -1;
    Bytes stream;
    std::string messages;
};

// Runs the filter on `input` to its end.
FilterRun RunFilter(const Bytes& input, FilterProcess::Options options = {});

// Lines of `messages` that start with `prefix`.
int CountMessages(const std::string& messages, const std::string& prefix);

}  // namespace cupstest
