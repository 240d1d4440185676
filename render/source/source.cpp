// The public face of the page sources: options, format detection, the call order, and
// errors that stay. Everything below the C functions is C++; nothing thrown gets out.
#include "inkrow/source.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "raster.h"
#include "read_ahead.h"
#include "reader.h"

using inkrow::source::Input;
using inkrow::source::PageInfo;
using inkrow::source::Reader;
using inkrow::source::Request;

// What a read of Ghostscript's output watches: the caller's cancel, and the source's own
// closing, which ends a read that the reading-ahead thread is waiting in.
struct WatchState {
    int (*canceled)(void* context) = nullptr;
    void* context = nullptr;
    std::atomic<bool> closing{false};
};

struct RenderSource {
    WatchState watch;  // first, so that it outlives the reader
    std::unique_ptr<Reader> reader;
    std::string error;
    int failure = RENDER_OK;  // once set, every later page or line call returns it
    bool inPage = false;
    bool ended = false;
    PageInfo page;
    int linesRead = 0;
    int resolution = 0;                 // requested; a page without its own resolution has this one
    std::vector<std::uint8_t> scratch;  // lines skipped when a page is left early
};

namespace {

int CanceledOrClosing(void* context) {
    auto* watch = static_cast<WatchState*>(context);
    if (watch->closing.load(std::memory_order_acquire)) return 1;
    return watch->canceled != nullptr && watch->canceled(watch->context) != 0 ? 1 : 0;
}

constexpr int kMaxPageHeight = 1 << 24;
constexpr int kMaxResolution = 10000;

bool StartsWith(const Input& input, const char* magic, std::size_t length) {
    return input.prefixLength() >= length && std::memcmp(input.prefix(), magic, length) == 0;
}

RenderSourceKind Detect(const Input& input) {
    if (StartsWith(input, "\x89PNG\r\n\x1a\n", 8)) return RENDER_SOURCE_PNG;
    if (StartsWith(input, "\xff\xd8\xff", 3)) return RENDER_SOURCE_JPEG;
    if (inkrow::source::IsRasterSync(input.prefix(), input.prefixLength())) {
        return RENDER_SOURCE_RASTER;
    }
    // PDF, PostScript, and encapsulated PostScript with its binary preview header.
    if (StartsWith(input, "%PDF", 4) || StartsWith(input, "%!", 2) ||
        StartsWith(input, "\xc5\xd0\xd3\xc6", 4)) {
        return RENDER_SOURCE_PDF;
    }
    return RENDER_SOURCE_AUTO;
}

const char* KindName(int kind) {
    switch (kind) {
        case RENDER_SOURCE_PNG:
            return "a PNG file";
        case RENDER_SOURCE_JPEG:
            return "a JPEG file";
        case RENDER_SOURCE_RASTER:
            return "a PWG or CUPS raster file";
        default:
            return "a PDF or PostScript file";
    }
}

// Words for options out of range, or "" when they are fine.
std::string CheckOptions(const RenderSourceOptions& options) {
    if (options.kind < RENDER_SOURCE_AUTO || options.kind > RENDER_SOURCE_PDF) {
        return "unknown source kind " + std::to_string(options.kind);
    }
    if (options.pageWidth < 0 || options.pageHeight < 0 ||
        (options.pageWidth == 0) != (options.pageHeight == 0)) {
        return "page size " + std::to_string(options.pageWidth) + "x" +
               std::to_string(options.pageHeight) + " is invalid (both positive, or both 0)";
    }
    if (options.pageWidth > RENDER_MAX_WIDTH || options.pageHeight > kMaxPageHeight) {
        return "page size " + std::to_string(options.pageWidth) + "x" +
               std::to_string(options.pageHeight) + " is too large (at most " +
               std::to_string(RENDER_MAX_WIDTH) + " pixels wide)";
    }
    if (options.resolution < 0 || options.resolution > kMaxResolution) {
        return "resolution " + std::to_string(options.resolution) + " is out of range";
    }
    if (options.colorSpace != RENDER_GRAY8 && options.colorSpace != RENDER_RGB8 &&
        options.colorSpace != RENDER_CMYK8) {
        return "colour space " + std::to_string(options.colorSpace) +
               " is not one of RENDER_GRAY8, RENDER_RGB8 and RENDER_CMYK8";
    }
    if (options.pageSeconds < 0 || options.memoryMegabytes < 0) {
        return "the Ghostscript limits must not be negative";
    }
    if (options.ghostscript != nullptr && options.ghostscript[0] == '\0') {
        return "the Ghostscript program name is empty";
    }
    return "";
}

int Fail(RenderSource* source, int status, std::string message) {
    source->failure = status;
    source->error = std::move(message);
    source->inPage = false;
    return status;
}

// The same where memory may have run out: never throws (the words may then be lost).
int FailQuietly(RenderSource* source, int status, const char* message) noexcept {
    source->failure = status;
    source->inPage = false;
    try {
        source->error = message;
    } catch (...) {
        source->error.clear();
    }
    return status;
}

// A misuse by the caller: reported, but the document can still be read.
int Refuse(RenderSource* source, int status, const char* message) {
    source->error = message;
    return status;
}

// `path`: the name Ghostscript may open the document by, or "" for a copy.
int OpenInput(RenderSource* source, std::unique_ptr<Input> input, const std::string& path,
              const RenderSourceOptions& options) {
    std::string error;
    if (!input->ReadPrefix(&error)) return Fail(source, RENDER_BAD_ARGUMENT, error);
    if (input->prefixLength() == 0) {
        return Fail(source, RENDER_BAD_ARGUMENT, input->name() + " is empty");
    }
    const RenderSourceKind found = Detect(*input);
    if (found == RENDER_SOURCE_AUTO) {
        return Fail(source, RENDER_BAD_ARGUMENT,
                    input->name() +
                        " is of an unknown format (not PNG, JPEG, PWG or CUPS raster, PDF or "
                        "PostScript)");
    }
    if (options.kind != RENDER_SOURCE_AUTO && options.kind != found) {
        return Fail(source, RENDER_BAD_ARGUMENT,
                    input->name() + " is not " + KindName(options.kind) + " (it looks like " +
                        KindName(found) + ")");
    }

    Request request;
    request.pageWidth = options.pageWidth;
    request.pageHeight = options.pageHeight;
    request.resolution = options.resolution;
    request.colorSpace = options.colorSpace;
    source->resolution = options.resolution;
    if (options.ghostscript != nullptr) request.ghostscript = options.ghostscript;
    request.watch.seconds = options.pageSeconds;
    source->watch.canceled = options.canceled;
    source->watch.context = options.cancelContext;
    request.watch.canceled = CanceledOrClosing;
    request.watch.context = &source->watch;
    request.memoryMegabytes = options.memoryMegabytes;

    int status = RENDER_BAD_ARGUMENT;
    // Documents are read ahead of the caller on a thread of their own, except from a pipe
    // or a terminal, whose read nothing could end when the source is closed early;
    // Ghostscript's output is watched, so its reads always end.
    bool ahead = true;
    switch (found) {
        case RENDER_SOURCE_PNG:
            ahead = input->IsRegularFile();
            source->reader = inkrow::source::OpenPng(std::move(input), request, &error, &status);
            break;
        case RENDER_SOURCE_JPEG:
            ahead = input->IsRegularFile();
            source->reader = inkrow::source::OpenJpeg(std::move(input), request, &error, &status);
            break;
        case RENDER_SOURCE_RASTER:
            ahead = input->IsRegularFile();
            source->reader = inkrow::source::OpenRaster(std::move(input), &error, &status);
            break;
        default: {
            const std::string name = input->IsRegularFile() ? path : std::string();
            source->reader =
                inkrow::source::OpenGhostscript(std::move(input), name, request, &error, &status);
            break;
        }
    }
    if (!source->reader) return Fail(source, status, error);
    if (ahead)
        source->reader = inkrow::source::ReadAhead(
            std::move(source->reader), inkrow::source::kReadAheadBytes, &source->watch.closing);
    return RENDER_OK;
}

template <typename Body>
int Guard(RenderSource* source, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return FailQuietly(source, RENDER_NO_MEMORY, "out of memory");
    } catch (...) {
        return FailQuietly(source, RENDER_BAD_ARGUMENT, "unexpected failure");
    }
}

int Open(std::unique_ptr<Input> (*makeInput)(const char*, int, std::string*, std::string*),
         const char* path, int fd, const RenderSourceOptions* options, RenderSource** result) {
    auto* source = new (std::nothrow) RenderSource;
    if (source == nullptr) {
        if (path == nullptr && fd >= 0) ::close(fd);
        return RENDER_NO_MEMORY;
    }
    *result = source;
    return Guard(source, [&]() {
        RenderSourceOptions defaults;
        RenderSourceOptionsInit(&defaults);
        const RenderSourceOptions& chosen = options != nullptr ? *options : defaults;
        std::string error;
        std::string name;
        std::unique_ptr<Input> input = makeInput(path, fd, &name, &error);
        if (!input) return Fail(source, RENDER_BAD_ARGUMENT, error);
        error = CheckOptions(chosen);
        if (!error.empty()) return Fail(source, RENDER_BAD_ARGUMENT, error);
        return OpenInput(source, std::move(input), name, chosen);
    });
}

std::unique_ptr<Input> OpenPath(const char* path, int, std::string* name, std::string* error) {
    if (path == nullptr || path[0] == '\0') {
        *error = "no file named";
        return nullptr;
    }
    if (std::strcmp(path, "-") == 0) return std::make_unique<Input>(0, false, "standard input");
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return nullptr;
    }
    *name = path;
    return std::make_unique<Input>(fd, true, path);
}

std::unique_ptr<Input> AdoptFd(const char*, int fd, std::string*, std::string* error) {
    if (fd < 0) {
        *error = "invalid file descriptor " + std::to_string(fd);
        return nullptr;
    }
    return std::make_unique<Input>(fd, true, "file descriptor " + std::to_string(fd));
}

}  // namespace

extern "C" {

void RenderSourceOptionsInit(RenderSourceOptions* options) {
    if (options == nullptr) return;
    options->kind = RENDER_SOURCE_AUTO;
    options->pageSeconds = 0;
    options->memoryMegabytes = 0;
    options->canceled = nullptr;
    options->cancelContext = nullptr;
    options->pageWidth = 0;
    options->pageHeight = 0;
    options->resolution = 600;
    options->colorSpace = RENDER_CMYK8;
    options->ghostscript = nullptr;
}

int RenderSourceOpen(const char* path, const RenderSourceOptions* options, RenderSource** source) {
    if (source == nullptr) return RENDER_BAD_ARGUMENT;
    *source = nullptr;
    return Open(&OpenPath, path, -1, options, source);
}

int RenderSourceOpenFd(int fd, const RenderSourceOptions* options, RenderSource** source) {
    if (source == nullptr) {
        if (fd >= 0) ::close(fd);
        return RENDER_BAD_ARGUMENT;
    }
    *source = nullptr;
    return Open(&AdoptFd, nullptr, fd, options, source);
}

int RenderSourceNextPage(RenderSource* source, RenderSourcePage* page) {
    if (source == nullptr || page == nullptr) return RENDER_BAD_ARGUMENT;
    return Guard(source, [&]() {
        if (source->failure != RENDER_OK) return source->failure;
        if (!source->reader) return Refuse(source, RENDER_CALL_ORDER, "the source is not open");
        if (source->ended) return 0;
        if (source->inPage && source->linesRead < source->page.height) {
            // Lines the caller left unread are read and dropped: the next page follows
            // them in the document, and damage in them must not go unnoticed.
            source->scratch.resize(source->page.lineBytes);
            while (source->linesRead < source->page.height) {
                std::string error;
                const int status = source->reader->ReadLine(source->scratch.data(), &error);
                if (status != RENDER_OK) return Fail(source, status, error);
                ++source->linesRead;
            }
        }
        source->inPage = false;
        PageInfo info;
        std::string error;
        const int status = source->reader->NextPage(&info, &error);
        if (status < 0) return Fail(source, status, error);
        if (status == 0) {
            source->ended = true;
            return 0;
        }
        source->page = info;
        source->inPage = true;
        source->linesRead = 0;
        page->width = info.width;
        page->height = info.height;
        page->colorSpace = info.colorSpace;
        page->lineBytes = info.lineBytes;
        page->resolution = info.resolution != 0 ? info.resolution : source->resolution;
        return 1;
    });
}

int RenderSourceReadLine(RenderSource* source, uint8_t* line, size_t length) {
    if (source == nullptr || line == nullptr) return RENDER_BAD_ARGUMENT;
    return Guard(source, [&]() {
        if (source->failure != RENDER_OK) return source->failure;
        if (!source->inPage) return Refuse(source, RENDER_CALL_ORDER, "no page is open");
        if (source->linesRead >= source->page.height) {
            return Refuse(source, RENDER_BAD_LINE, "the page has no more lines");
        }
        if (length < source->page.lineBytes) {
            return Refuse(source, RENDER_BAD_LINE, "the line buffer is shorter than a line");
        }
        std::string error;
        const int status = source->reader->ReadLine(line, &error);
        if (status != RENDER_OK) return Fail(source, status, error);
        ++source->linesRead;
        return static_cast<int>(RENDER_OK);
    });
}

const char* RenderSourceErrorText(const RenderSource* source) {
    if (source == nullptr) return "no source (a null pointer, or out of memory)";
    return source->error.c_str();
}

void RenderSourceClose(RenderSource* source) {
    delete source;
}

}  // extern "C"
