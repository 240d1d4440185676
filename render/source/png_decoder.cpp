// PNG pictures through libpng: every bit depth and colour type becomes 8-bit gray or
// RGB; transparency is composited on white paper. libpng reports errors by calling back
// and never returning, so each call into it sits behind its own setjmp in a function with
// nothing to destroy, and the message is kept in the decoder for the caller.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "picture.h"

namespace inkrow::source {
namespace {

// Interlaced pictures come in passes, so they are decoded whole; this bounds that copy.
constexpr std::size_t kMaxInterlacedBytes = std::size_t{256} << 20;

class PngDecoder final : public PictureDecoder {
public:
    explicit PngDecoder(std::unique_ptr<Input> input) : input_(std::move(input)) {}

    ~PngDecoder() override {
        if (png_ != nullptr) png_destroy_read_struct(&png_, &info_, nullptr);
    }

    bool Open(std::string* error) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &OnError, &OnWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (png_ == nullptr || info_ == nullptr) {
            *error = "PNG: out of memory";
            return false;
        }
        png_set_read_fn(png_, this, &OnRead);
        png_set_user_limits(png_, kMaxPictureSide, kMaxPictureSide);
        if (!ReadInfo()) return Fail(error);

        width_ = static_cast<int>(png_get_image_width(png_, info_));
        height_ = static_cast<int>(png_get_image_height(png_, info_));
        channels_ = static_cast<int>(png_get_channels(png_, info_));
        const int colorType = png_get_color_type(png_, info_);
        colorSpace_ = (colorType & PNG_COLOR_MASK_COLOR) != 0 ? RENDER_RGB8 : RENDER_GRAY8;
        raw_.resize(static_cast<std::size_t>(width_) * channels_);
        if (interlaced_) {
            const std::size_t bytes = raw_.size() * static_cast<std::size_t>(height_);
            if (bytes > kMaxInterlacedBytes) {
                *error = "PNG: interlaced picture of " + std::to_string(width_) + "x" +
                         std::to_string(height_) + " pixels is too large to decode";
                return false;
            }
            whole_.resize(bytes);
            rows_.resize(static_cast<std::size_t>(height_));
            for (int y = 0; y < height_; ++y) {
                rows_[static_cast<std::size_t>(y)] = whole_.data() + raw_.size() * y;
            }
            if (!ReadWhole()) return Fail(error);
        }
        return true;
    }

    bool ReadRow(std::uint8_t* row, std::string* error) override {
        const std::uint8_t* raw = nullptr;
        if (interlaced_) {
            raw = rows_[static_cast<std::size_t>(nextRow_)];
        } else {
            if (!ReadRawRow()) return Fail(error);
            raw = raw_.data();
        }
        ++nextRow_;
        // Gray+alpha and RGBA lose their alpha: each colour is laid on white paper.
        const int colours = colorSpace_ == RENDER_RGB8 ? 3 : 1;
        if (channels_ == colours) {
            std::memcpy(row, raw, static_cast<std::size_t>(width_) * colours);
            return true;
        }
        for (int x = 0; x < width_; ++x) {
            const std::uint8_t* pixel = raw + static_cast<std::size_t>(x) * channels_;
            const unsigned alpha = pixel[colours];
            for (int c = 0; c < colours; ++c) {
                row[static_cast<std::size_t>(x) * colours + c] = static_cast<std::uint8_t>(
                    (pixel[c] * alpha + 255u * (255u - alpha) + 127u) / 255u);
            }
        }
        return true;
    }

    bool Finish(std::string* error) override {
        if (!ReadEnd()) return Fail(error);
        return true;
    }

private:
    // Each of these holds one setjmp and nothing with a destructor.
    bool ReadInfo() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_info(png_, info_);
        const int colorType = png_get_color_type(png_, info_);
        const int bitDepth = png_get_bit_depth(png_, info_);
        if (bitDepth == 16) png_set_scale_16(png_);
        if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
        if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png_);
        if (png_get_valid(png_, info_, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png_);
        interlaced_ = png_set_interlace_handling(png_) > 1;
        png_read_update_info(png_, info_);
        return true;
    }

    bool ReadRawRow() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_row(png_, raw_.data(), nullptr);
        return true;
    }

    bool ReadWhole() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_image(png_, rows_.data());
        return true;
    }

    bool ReadEnd() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_end(png_, nullptr);
        return true;
    }

    bool Fail(std::string* error) const {
        *error = std::string("PNG: ") + (message_[0] != '\0' ? message_ : "cannot decode");
        return false;
    }

    static void OnError(png_structp png, png_const_charp message) {
        auto* self = static_cast<PngDecoder*>(png_get_error_ptr(png));
        std::snprintf(self->message_, sizeof self->message_, "%s",
                      message != nullptr ? message : "error");
        png_longjmp(png, 1);
    }

    static void OnWarning(png_structp, png_const_charp) {}

    static void OnRead(png_structp png, png_bytep data, size_t length) {
        auto* self = static_cast<PngDecoder*>(png_get_io_ptr(png));
        const ssize_t got = self->input_->ReadFully(data, length);
        if (got < 0) {
            std::snprintf(self->readError_, sizeof self->readError_, "%s",
                          self->input_->LastError().c_str());
            png_error(png, self->readError_);
        }
        if (static_cast<size_t>(got) < length) png_error(png, "file is truncated");
    }

    std::unique_ptr<Input> input_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    int channels_ = 0;
    bool interlaced_ = false;
    int nextRow_ = 0;
    std::vector<std::uint8_t> raw_;
    std::vector<std::uint8_t> whole_;
    std::vector<png_bytep> rows_;
    char message_[256] = {};
    char readError_[256] = {};
};

}  // namespace

std::unique_ptr<Reader> OpenPng(std::unique_ptr<Input> input, const Request& request,
                                std::string* error, int* status) {
    auto decoder = std::make_unique<PngDecoder>(std::move(input));
    if (!decoder->Open(error)) {
        *status = RENDER_BAD_ARGUMENT;
        return nullptr;
    }
    return MakePictureReader(std::move(decoder), request, error, status);
}

}  // namespace inkrow::source
