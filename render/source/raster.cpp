#include "raster.h"

#include <cups/raster.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "inkrow/raster_header.h"
#include "inkrow/render.h"

namespace inkrow::source {
namespace {

// How long Ghostscript may take to exit once its output has ended.
constexpr int kExitSeconds = 30;

enum class SyncKind { kNone, kVersion1, kVersion2or3, kApple };

SyncKind ClassifySync(const std::uint8_t* bytes, std::size_t length) {
    if (length < 4) return SyncKind::kNone;
    const std::string word(reinterpret_cast<const char*>(bytes), 4);
    if (word == "RaSt" || word == "tSaR") return SyncKind::kVersion1;
    if (word == "RaS2" || word == "2SaR" || word == "RaS3" || word == "3SaR") {
        return SyncKind::kVersion2or3;
    }
    if (word == "UNIR" || word == "RINU") return SyncKind::kApple;
    return SyncKind::kNone;
}

std::size_t HeaderLength(SyncKind kind) {
    switch (kind) {
        case SyncKind::kVersion1:
            return sizeof(cups_page_header_t);
        case SyncKind::kApple:
            return 32;
        default:
            return sizeof(cups_page_header2_t);
    }
}

class RasterReader final : public Reader {
public:
    RasterReader(std::unique_ptr<Input> input, std::unique_ptr<GhostscriptProcess> process,
                 int width, int height)
        : process_(std::move(process)),
          input_(std::move(input)),
          expectedWidth_(width),
          expectedHeight_(height) {}

    // The raster is let go first, then the pipe, so that Ghostscript, if still
    // running, sees its output closed before it is stopped and reaped.
    ~RasterReader() override {
        if (raster_ != nullptr) cupsRasterClose(raster_);
    }

    // Reads the sync word and the first page's header.
    int Open(std::string* error) {
        const SyncKind kind = ClassifySync(input_->prefix(), input_->prefixLength());
        if (kind == SyncKind::kNone) {
            if (process_) return FailFromProcess("Ghostscript made no pages", error);
            *error = "not a PWG or CUPS raster file";
            return RENDER_BAD_ARGUMENT;
        }
        headerLength_ = HeaderLength(kind);
        raster_ = cupsRasterOpenIO(&Io, this, CUPS_RASTER_READ);
        if (raster_ == nullptr) {
            if (process_) return FailFromProcess("Ghostscript made no pages", error);
            *error = readFailed_ ? input_->LastError() : "not a PWG or CUPS raster file";
            return RENDER_BAD_ARGUMENT;
        }
        switch (ReadHeader(error)) {
            case HeaderResult::kPage:
                pending_ = true;
                return RENDER_OK;
            case HeaderResult::kEnd:
                if (process_) return FailFromProcess("Ghostscript made no pages", error);
                *error = "the raster holds no pages";
                return RENDER_BAD_ARGUMENT;
            case HeaderResult::kError:
                break;
        }
        return RENDER_BAD_ARGUMENT;
    }

    int NextPage(PageInfo* page, std::string* error) override {
        // Any error Ghostscript prints ends the document: it may still exit with 0 and
        // leave the page it failed on blank (a damaged PDF: "Page drawing error").
        if (process_) {
            const std::string reported = process_->ReportedError();
            if (!reported.empty()) {
                input_->Close();
                process_->Stop();
                *error = "Ghostscript failed: " + reported;
                return RENDER_BAD_ARGUMENT;
            }
        }
        input_->RestartClock();
        if (!pending_) {
            switch (ReadHeader(error)) {
                case HeaderResult::kPage:
                    break;
                case HeaderResult::kEnd:
                    if (process_ && !process_->Wait(kExitSeconds, error))
                        return RENDER_BAD_ARGUMENT;
                    return 0;
                case HeaderResult::kError:
                    return RENDER_BAD_ARGUMENT;
            }
        }
        pending_ = false;
        line_ = 0;
        *page = page_;
        return 1;
    }

    int ReadLine(std::uint8_t* line, std::string* error) override {
        const auto bytes = static_cast<unsigned>(page_.lineBytes);
        if (cupsRasterReadPixels(raster_, line, bytes) != bytes) {
            const std::string where = "the raster ends inside page " + std::to_string(pageNumber_) +
                                      " at line " + std::to_string(line_ + 1) + " of " +
                                      std::to_string(page_.height);
            return Fail(readFailed_ ? input_->LastError() : where, error);
        }
        ++line_;
        if (invert_) {
            for (unsigned i = 0; i < bytes; ++i)
                line[i] = static_cast<std::uint8_t>(255 - line[i]);
        }
        return RENDER_OK;
    }

private:
    enum class HeaderResult { kPage, kEnd, kError };

    static ssize_t Io(void* context, unsigned char* buffer, size_t length) {
        auto* self = static_cast<RasterReader*>(context);
        // Whole requests only (short only at the end of the input), so that a short
        // answer to a header read means the input ended inside it.
        const ssize_t got = self->input_->ReadFully(buffer, length);
        if (got < 0) self->readFailed_ = true;
        if (self->watching_) {
            self->watching_ = false;
            self->firstRequest_ = length;
            self->firstResult_ = got;
        }
        return got;
    }

    HeaderResult ReadHeader(std::string* error) {
        // libcups answers a header read with 0 both at a clean end of the stream and for a
        // damaged or cut header. The stream ended cleanly when libcups held none of its
        // bytes and its first read for the header found the end of the input: it then
        // asks for exactly one header's length (with bytes held back, it asks for less).
        watching_ = true;
        firstRequest_ = 0;
        firstResult_ = -1;
        cups_page_header2_t header;
        const unsigned read = cupsRasterReadHeader2(raster_, &header);
        const bool called = !watching_;
        watching_ = false;
        const int number = pageNumber_ + 1;
        if (read == 0) {
            if (readFailed_) {
                Fail(input_->LastError(), error);
            } else if (called && firstResult_ == 0 && firstRequest_ == headerLength_) {
                return HeaderResult::kEnd;
            } else if (called && firstResult_ >= 0 &&
                       firstResult_ < static_cast<ssize_t>(firstRequest_)) {
                Fail("the raster ends inside the header of page " + std::to_string(number), error);
            } else {
                Fail("page " + std::to_string(number) + " has a bad raster header", error);
            }
            return HeaderResult::kError;
        }
        pageNumber_ = number;
        if (!Describe(header, error)) return HeaderResult::kError;
        return HeaderResult::kPage;
    }

    // Checks that the page is one the render stage takes (by the one header policy,
    // inkrow/raster_header.h) and fills page_.
    bool Describe(const cups_page_header2_t& header, std::string* error) {
        const std::string page = "page " + std::to_string(pageNumber_) + ": ";
        RenderRasterPage described;
        char why[256];
        if (RenderReadRasterHeader(&header, &described, why, sizeof why) != RENDER_OK) {
            Fail(page + why, error);
            return false;
        }
        if (process_ &&
            (described.width != expectedWidth_ || described.height != expectedHeight_)) {
            Fail(page + "Ghostscript made " + std::to_string(described.width) + "x" +
                     std::to_string(described.height) + " pixels instead of " +
                     std::to_string(expectedWidth_) + "x" + std::to_string(expectedHeight_),
                 error);
            return false;
        }
        invert_ = described.invert != 0;
        page_.width = described.width;
        page_.height = described.height;
        page_.colorSpace = described.colorSpace;
        page_.resolution = described.resolution;
        page_.lineBytes = described.lineBytes;
        return true;
    }

    // A fault in Ghostscript's output is most likely Ghostscript failing: its own words
    // are the better explanation when it did.
    int Fail(const std::string& message, std::string* error) {
        if (process_ && input_->watchStopped()) return StopProcess(error);
        if (process_) {
            std::string processError;
            input_->Close();  // a Ghostscript still writing gets a broken pipe and ends
            if (!process_->Wait(kExitSeconds, &processError)) {
                *error = processError;
                return RENDER_BAD_ARGUMENT;
            }
            *error = "Ghostscript's output: " + message;
            return RENDER_BAD_ARGUMENT;
        }
        *error = message;
        return RENDER_BAD_ARGUMENT;
    }

    // Ghostscript gave no raster at all: its exit says why.
    int FailFromProcess(const char* otherwise, std::string* error) {
        if (input_->watchStopped()) return StopProcess(error);
        input_->Close();
        std::string processError;
        if (!process_->Wait(kExitSeconds, &processError)) {
            *error = processError;
        } else {
            const std::string message = process_->FirstErrorLine();
            *error = message.empty() ? std::string(otherwise) : "Ghostscript failed: " + message;
        }
        return RENDER_BAD_ARGUMENT;
    }

    // Over time or canceled: Ghostscript is stopped, whatever it is doing.
    int StopProcess(std::string* error) {
        *error = input_->LastError();
        input_->Close();
        process_->Stop();
        return RENDER_BAD_ARGUMENT;
    }

    std::unique_ptr<GhostscriptProcess> process_;
    std::unique_ptr<Input> input_;
    cups_raster_t* raster_ = nullptr;
    int expectedWidth_ = 0;
    int expectedHeight_ = 0;
    std::size_t headerLength_ = 0;
    PageInfo page_;
    bool pending_ = false;  // page_ was read ahead by Open and not handed out yet
    bool invert_ = false;
    int pageNumber_ = 0;
    int line_ = 0;
    bool readFailed_ = false;
    bool watching_ = false;
    std::size_t firstRequest_ = 0;
    ssize_t firstResult_ = -1;
};

}  // namespace

bool IsRasterSync(const std::uint8_t* bytes, std::size_t length) {
    return ClassifySync(bytes, length) != SyncKind::kNone;
}

std::unique_ptr<Reader> OpenRaster(std::unique_ptr<Input> input, std::string* error, int* status) {
    auto reader = std::make_unique<RasterReader>(std::move(input), nullptr, 0, 0);
    *status = reader->Open(error);
    if (*status != RENDER_OK) return nullptr;
    return reader;
}

std::unique_ptr<Reader> OpenGhostscriptRaster(std::unique_ptr<Input> output,
                                              std::unique_ptr<GhostscriptProcess> process,
                                              int width, int height, std::string* error,
                                              int* status) {
    if (!output->ReadPrefix(error)) {
        *status = RENDER_BAD_ARGUMENT;
        return nullptr;
    }
    auto reader =
        std::make_unique<RasterReader>(std::move(output), std::move(process), width, height);
    *status = reader->Open(error);
    if (*status != RENDER_OK) return nullptr;
    return reader;
}

}  // namespace inkrow::source
