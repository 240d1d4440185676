// JPEG pictures through libjpeg: gray stays gray, YCbCr and RGB become RGB, CMYK and
// YCCK become device CMYK with 255 full ink. libjpeg's fatal errors would end the process
// by default; here they jump back to the call that failed, and the end of the file before
// the end of the picture is a fatal error too (libjpeg alone would pad the picture).
// A picture much larger than its place on the page is reduced by the decoder itself, in
// whole eighths of its sides, which skips most of its inverse transforms and colour
// conversion; the picture reader's scaler does the rest.
#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <memory>
#include <string>

#include "inkrow/render.h"
#include "picture.h"

namespace inkrow::source {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char readError[JMSG_LENGTH_MAX];
};

struct SourceManager {
    jpeg_source_mgr pub;
    Input* input;
    JOCTET buffer[65536];
};

void OnError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    if (manager->pub.msg_code == JERR_INPUT_EOF) {
        std::snprintf(manager->message, sizeof manager->message, "file is truncated");
    } else if (manager->pub.msg_code == JERR_FILE_READ && manager->readError[0] != '\0') {
        std::snprintf(manager->message, sizeof manager->message, "%s", manager->readError);
    } else {
        (*manager->pub.format_message)(info, manager->message);
    }
    std::longjmp(manager->jump, 1);
}

// Warnings (e.g. extraneous bytes between markers) leave the picture usable.
void OnMessage(j_common_ptr) {}

void OnInitSource(j_decompress_ptr) {}
void OnTermSource(j_decompress_ptr) {}

boolean OnFillInput(j_decompress_ptr info) {
    auto* source = reinterpret_cast<SourceManager*>(info->src);
    const ssize_t got = source->input->Read(source->buffer, sizeof source->buffer);
    if (got < 0) {
        auto* manager = reinterpret_cast<ErrorManager*>(info->err);
        std::snprintf(manager->readError, sizeof manager->readError, "%s",
                      source->input->LastError().c_str());
        ERREXIT(info, JERR_FILE_READ);
    }
    if (got == 0) ERREXIT(info, JERR_INPUT_EOF);
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = static_cast<std::size_t>(got);
    return TRUE;
}

void OnSkipInput(j_decompress_ptr info, long count) {
    auto* source = reinterpret_cast<SourceManager*>(info->src);
    if (count <= 0) return;
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > source->pub.bytes_in_buffer) {
        remaining -= source->pub.bytes_in_buffer;
        OnFillInput(info);
    }
    source->pub.next_input_byte += remaining;
    source->pub.bytes_in_buffer -= remaining;
}

class JpegDecoder final : public PictureDecoder {
public:
    explicit JpegDecoder(std::unique_ptr<Input> input) : input_(std::move(input)) {
        info_.err = jpeg_std_error(&errors_.pub);
        errors_.pub.error_exit = &OnError;
        errors_.pub.output_message = &OnMessage;
        errors_.message[0] = '\0';
        errors_.readError[0] = '\0';
        source_.pub.init_source = &OnInitSource;
        source_.pub.fill_input_buffer = &OnFillInput;
        source_.pub.skip_input_data = &OnSkipInput;
        source_.pub.resync_to_restart = &jpeg_resync_to_restart;
        source_.pub.term_source = &OnTermSource;
        source_.pub.next_input_byte = nullptr;
        source_.pub.bytes_in_buffer = 0;
        source_.input = input_.get();
    }

    ~JpegDecoder() override {
        if (created_) jpeg_destroy_decompress(&info_);
    }

    bool Open(const Request& request, std::string* error) {
        if (!Start(request)) return Fail(error);
        width_ = static_cast<int>(info_.output_width);
        height_ = static_cast<int>(info_.output_height);
        switch (info_.out_color_space) {
            case JCS_GRAYSCALE:
                colorSpace_ = RENDER_GRAY8;
                break;
            case JCS_CMYK:
                colorSpace_ = RENDER_CMYK8;
                break;
            default:
                colorSpace_ = RENDER_RGB8;
                break;
        }
        if (info_.output_components != CountChannels(colorSpace_)) {
            *error = "JPEG: unexpected component count " + std::to_string(info_.output_components);
            return false;
        }
        return true;
    }

    bool ReadRow(std::uint8_t* row, std::string* error) override {
        if (!ReadScanline(row)) return Fail(error);
        // Files marked by an Adobe segment store CMYK inverted (0 is full ink).
        if (invertInk_) {
            const std::size_t bytes = static_cast<std::size_t>(width_) * 4;
            for (std::size_t i = 0; i < bytes; ++i)
                row[i] = static_cast<std::uint8_t>(255 - row[i]);
        }
        return true;
    }

    bool Finish(std::string* error) override {
        if (!FinishDecompress()) return Fail(error);
        return true;
    }

private:
    // Each of these holds one setjmp and nothing with a destructor.
    bool Start(const Request& request) {
        if (setjmp(errors_.jump)) return false;
        jpeg_create_decompress(&info_);
        created_ = true;
        info_.src = &source_.pub;
        jpeg_read_header(&info_, TRUE);
        const auto width = static_cast<int>(info_.image_width);
        const auto height = static_cast<int>(info_.image_height);
        // A picture over the limit stays whole, so that the reader refuses it as before.
        if (request.pageWidth > 0 && request.pageHeight > 0 &&
            static_cast<long long>(width) * height <= kMaxPicturePixels) {
            const Placement placed =
                PlacePicture(width, height, request.pageWidth, request.pageHeight);
            info_.scale_num = static_cast<unsigned>(
                ChooseDecodeEighths(width, height, placed.width, placed.height));
            info_.scale_denom = 8;
        }
        switch (info_.jpeg_color_space) {
            case JCS_GRAYSCALE:
                info_.out_color_space = JCS_GRAYSCALE;
                break;
            case JCS_CMYK:
            case JCS_YCCK:
                info_.out_color_space = JCS_CMYK;
                invertInk_ = info_.saw_Adobe_marker != 0;
                break;
            default:
                info_.out_color_space = JCS_RGB;
                break;
        }
        jpeg_start_decompress(&info_);
        return true;
    }

    bool ReadScanline(std::uint8_t* row) {
        if (setjmp(errors_.jump)) return false;
        JSAMPROW rows[1] = {row};
        return jpeg_read_scanlines(&info_, rows, 1) == 1;
    }

    bool FinishDecompress() {
        if (setjmp(errors_.jump)) return false;
        jpeg_finish_decompress(&info_);
        return true;
    }

    bool Fail(std::string* error) const {
        *error = std::string("JPEG: ") +
                 (errors_.message[0] != '\0' ? errors_.message : "cannot decode");
        return false;
    }

    std::unique_ptr<Input> input_;
    jpeg_decompress_struct info_{};
    ErrorManager errors_{};
    SourceManager source_{};
    bool created_ = false;
    bool invertInk_ = false;
};

}  // namespace

std::unique_ptr<Reader> OpenJpeg(std::unique_ptr<Input> input, const Request& request,
                                 std::string* error, int* status) {
    auto decoder = std::make_unique<JpegDecoder>(std::move(input));
    if (!decoder->Open(request, error)) {
        *status = RENDER_BAD_ARGUMENT;
        return nullptr;
    }
    return MakePictureReader(std::move(decoder), request, error, status);
}

}  // namespace inkrow::source
