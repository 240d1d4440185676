#include "cups_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "inkrow/print.h"

#ifndef INKROW_FILTER
#error "INKROW_FILTER must name the filter program"
#endif

namespace cupstest {
namespace decode = inkrow::decode;

namespace {

unsigned ChannelsOf(cups_cspace_t space) {
    switch (space) {
        case CUPS_CSPACE_CMYK:
        case CUPS_CSPACE_KCMY:
            return 4;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
            return 3;
        default:
            return 1;
    }
}

// The byte a channel shows where nothing is printed.
std::uint8_t PaperValue(cups_cspace_t space) {
    switch (space) {
        case CUPS_CSPACE_CMYK:
        case CUPS_CSPACE_KCMY:
        case CUPS_CSPACE_K:
            return 0;
        default:
            return 255;
    }
}

ssize_t AppendRaster(void* context, unsigned char* bytes, size_t length) {
    auto* stream = static_cast<Bytes*>(context);
    stream->insert(stream->end(), bytes, bytes + length);
    return static_cast<ssize_t>(length);
}

int AppendStream(void* context, const std::uint8_t* bytes, std::size_t length) {
    auto* stream = static_cast<Bytes*>(context);
    stream->insert(stream->end(), bytes, bytes + length);
    return 0;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

cups_page_header2_t MakeHeader(unsigned width, unsigned height, cups_cspace_t space, unsigned dpi,
                               unsigned media, unsigned quality) {
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsColorSpace = space;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsNumColors = ChannelsOf(space);
    header.HWResolution[0] = dpi;
    header.HWResolution[1] = dpi;
    header.PageSize[0] = width * 72 / dpi;
    header.PageSize[1] = height * 72 / dpi;
    header.cupsMediaType = media;
    header.cupsInteger[8] = quality;
    FixBits(&header, 8);
    return header;
}

void FixBits(cups_page_header2_t* header, unsigned bitsPerColor) {
    const unsigned channels = ChannelsOf(static_cast<cups_cspace_t>(header->cupsColorSpace));
    header->cupsBitsPerColor = bitsPerColor;
    header->cupsBitsPerPixel = bitsPerColor * channels;
    header->cupsBytesPerLine = (header->cupsWidth * header->cupsBitsPerPixel + 7) / 8;
}

Page MakePage(const cups_page_header2_t& header, int variant) {
    Page page;
    page.header = header;
    const auto space = static_cast<cups_cspace_t>(header.cupsColorSpace);
    const unsigned channels = ChannelsOf(space);
    const std::uint8_t paper = PaperValue(space);
    const unsigned width = header.cupsWidth;
    const unsigned height = header.cupsHeight;
    for (unsigned y = 0; y < height; ++y) {
        Bytes line(header.cupsBytesPerLine, paper);
        const bool blankBand = y >= height / 3 && y < height / 2;
        const bool blankMargin = y < 4 || y + 6 >= height;
        if (header.cupsBitsPerColor == 8 && !blankBand && !blankMargin) {
            for (unsigned x = width / 16; x < width - width / 16; ++x) {
                for (unsigned c = 0; c < channels; ++c) {
                    // Gradients that differ per channel and page, with solid stripes.
                    unsigned value = (x * (3 + c) + y * (1 + c) + 37 * variant) % 256;
                    if ((x / 24 + c) % 5 == 0) value = 255;
                    line[x * channels + c] = static_cast<std::uint8_t>(value);
                }
            }
        }
        page.lines.push_back(std::move(line));
    }
    return page;
}

Bytes WriteRaster(const std::vector<Page>& pages, cups_mode_t mode) {
    Bytes stream;
    cups_raster_t* raster = cupsRasterOpenIO(AppendRaster, &stream, mode);
    EXPECT_NE(raster, nullptr);
    if (raster == nullptr) return stream;
    for (const Page& page : pages) {
        cups_page_header2_t header = page.header;
        EXPECT_TRUE(cupsRasterWriteHeader2(raster, &header));
        for (const Bytes& line : page.lines) {
            Bytes copy = line;
            EXPECT_EQ(
                cupsRasterWritePixels(raster, copy.data(), static_cast<unsigned>(copy.size())),
                copy.size());
        }
    }
    cupsRasterClose(raster);
    return stream;
}

std::vector<Bytes> RenderLines(const Page& page) {
    std::vector<Bytes> lines = page.lines;
    if (page.header.cupsColorSpace == CUPS_CSPACE_K)
        for (Bytes& line : lines)
            for (std::uint8_t& value : line)
                value = static_cast<std::uint8_t>(255 - value);
    return lines;
}

RenderJobOptions MakeOptions(int quality, int media, int resolution, int width, int colorSpace,
                             bool blackOnly) {
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.mode.qualityCode = quality;
    options.raster.mode.mediaCode = media;
    options.raster.mode.resolution = resolution;
    options.raster.mode.blackOnly = blackOnly ? 1 : 0;
    options.raster.width = width;
    options.raster.colorSpace = colorSpace;
    return options;
}

Bytes RenderDirect(const RenderJobOptions& base, const std::vector<Page>& pages) {
    Bytes stream;
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    options.mode = base.raster.mode;
    options.write = AppendStream;
    options.writeContext = &stream;
    PrintJob* job = nullptr;
    int status = PrintJobOpen(&options, &job);
    EXPECT_EQ(status, RENDER_OK);
    if (status != RENDER_OK) return {};
    for (const Page& page : pages) {
        const std::vector<Bytes> lines = RenderLines(page);
        PrintPage described{};
        described.width = base.raster.width;
        described.height = static_cast<int>(lines.size());
        described.colorSpace = base.raster.colorSpace;
        described.lineBytes = lines.empty() ? 0 : lines[0].size();
        if (status >= 0) status = PrintJobStartPage(job, &described);
        for (const Bytes& line : lines)
            if (status >= 0) status = PrintJobPushLine(job, line.data(), line.size());
        if (status >= 0) status = PrintJobEndPage(job);
    }
    EXPECT_GE(status, 0) << PrintJobErrorText(job);
    const int closed = PrintJobClose(job);
    EXPECT_EQ(closed, RENDER_OK);
    if (status < 0 || closed != RENDER_OK) return {};
    return stream;
}

decode::Decoded DecodeOrFail(const Bytes& stream, std::uint32_t maxLineBytes) {
    decode::DecodeOptions options;
    options.keepListing = false;
    options.maxLineBytes = maxLineBytes;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, options, &decoded);
    EXPECT_EQ(error.code, decode::ErrorCode::kNone) << error.message << " at " << error.offset;
    return decoded;
}

std::uint32_t WidestLineBytes(const RenderMode& mode, int width) {
    std::uint32_t widest = 0;
    for (int i = 0; i < mode.planeCount; ++i) {
        const RenderPlaneInfo& plane = mode.planes[i];
        // Converted planes pack five three-level pixels a byte; the split's printer
        // planes are two bits a pixel.
        const int perByte = plane.codeConverted ? 5 : plane.split ? 4 : 8 / plane.bitsPerPixel;
        widest = std::max(widest, static_cast<std::uint32_t>((width + perByte - 1) / perByte));
    }
    return widest;
}

FilterProcess::FilterProcess() {
    // A filter that stops reading must show up as a failed write, not end the tests.
    signal(SIGPIPE, SIG_IGN);
    std::string pattern =
        (std::filesystem::path(testing::TempDir()) / "inkrow_cups_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) directory_ = pattern;
    EXPECT_FALSE(directory_.empty()) << std::strerror(errno);
}

FilterProcess::~FilterProcess() {
    if (inputFd_ >= 0) close(inputFd_);
    if (pid_ > 0) Wait(0);
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

bool FilterProcess::Start(const Options& options, const Bytes& input) {
    stdoutPath_ = options.stdoutPath.empty() ? directory_ + "/stream" : options.stdoutPath;
    std::vector<std::string> arguments = {"rastertoinkrow"};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    int inputPipe[2] = {-1, -1};
    if (options.inputFromStdin) {
        if (pipe2(inputPipe, O_CLOEXEC) != 0) return false;
    } else {
        const std::string inputPath = directory_ + "/input.ras";
        std::ofstream(inputPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()),
                   static_cast<std::streamsize>(input.size()));
        arguments.push_back(inputPath);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string errPath = directory_ + "/messages";

    pid_ = fork();
    if (pid_ == 0) {
        // The child: only async-signal-safe calls until exec.
        const int out = open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(127);
        if (inputPipe[0] >= 0) dup2(inputPipe[0], 0);
        dup2(out, 1);
        dup2(err, 2);
        signal(SIGPIPE, SIG_DFL);
        execv(INKROW_FILTER, argv.data());
        _exit(127);
    }
    if (inputPipe[0] >= 0) close(inputPipe[0]);
    inputFd_ = inputPipe[1];
    return pid_ > 0;
}

bool FilterProcess::Write(const Bytes& bytes, std::size_t offset, std::size_t length) {
    while (length > 0) {
        const ssize_t count = write(inputFd_, bytes.data() + offset, length);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;  // EPIPE: the filter closed its input (SIGPIPE is ignored here)
        }
        offset += static_cast<std::size_t>(count);
        length -= static_cast<std::size_t>(count);
    }
    return true;
}

void FilterProcess::CloseInput() {
    if (inputFd_ >= 0) close(inputFd_);
    inputFd_ = -1;
}

void FilterProcess::Signal(int number) {
    if (pid_ > 0) kill(pid_, number);
}

bool FilterProcess::WaitForMessage(const std::string& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Messages().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int FilterProcess::Wait(int seconds) {
    if (pid_ <= 0) return -1;
    CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "the filter did not exit within " << seconds << " s; killed";
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FilterProcess::Messages() const {
    const Bytes bytes = ReadFile(directory_ + "/messages");
    return std::string(bytes.begin(), bytes.end());
}

Bytes FilterProcess::Stream() const {
    // A caller's own output (such as /dev/full) is not read back.
    return stdoutPath_.rfind(directory_, 0) == 0 ? ReadFile(stdoutPath_) : Bytes{};
}

FilterRun RunFilter(const Bytes& input, FilterProcess::Options options) {
    FilterRun run;
    FilterProcess process;
    if (!process.Start(options, input)) {
        ADD_FAILURE() << "the filter could not be started";
        return run;
    }
    if (options.inputFromStdin) {
        EXPECT_TRUE(process.Write(input, 0, input.size()));
        process.CloseInput();
    }
    run.status = process.Wait(120);
    run.messages = process.Messages();
    run.stream = process.Stream();
    return run;
}

int CountMessages(const std::string& messages, const std::string& prefix) {
    std::istringstream lines(messages);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(prefix, 0) == 0) ++count;
    return count;
}

}  // namespace cupstest
