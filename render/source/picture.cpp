#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <utility>

#include "inkrow/render.h"

namespace inkrow::source {

ResampleAxis MakeResampleAxis(int sourceSize, int targetSize) {
    ResampleAxis axis;
    axis.first.resize(static_cast<std::size_t>(targetSize));
    axis.count.resize(static_cast<std::size_t>(targetSize));
    axis.offset.resize(static_cast<std::size_t>(targetSize));
    const double scale = static_cast<double>(sourceSize) / targetSize;
    for (int target = 0; target < targetSize; ++target) {
        const auto t = static_cast<std::size_t>(target);
        axis.offset[t] = axis.weights.size();
        if (scale <= 1.0) {
            // Sample centres line up: target centre (t + 0.5) sits at source (t + 0.5) *
            // scale, between the samples left and right of it.
            double position = (target + 0.5) * scale - 0.5;
            position = std::clamp(position, 0.0, static_cast<double>(sourceSize - 1));
            const int left = static_cast<int>(std::floor(position));
            const double fraction = position - left;
            axis.first[t] = left;
            if (fraction < 1e-9 || left + 1 >= sourceSize) {
                axis.weights.push_back(1.0f);
                axis.count[t] = 1;
            } else {
                axis.weights.push_back(static_cast<float>(1.0 - fraction));
                axis.weights.push_back(static_cast<float>(fraction));
                axis.count[t] = 2;
            }
        } else {
            // Each target sample averages the source interval it covers, partial samples
            // at its edges weighted by their share.
            const double start = target * scale;
            const double end = std::min((target + 1) * scale, static_cast<double>(sourceSize));
            int first = static_cast<int>(std::floor(start));
            const int last = std::min(static_cast<int>(std::ceil(end)), sourceSize) - 1;
            // Skip a sliver of the previous sample left by rounding.
            if (first < last && first + 1 - start < 1e-9) ++first;
            axis.first[t] = first;
            int count = 0;
            for (int source = first; source <= last; ++source) {
                const double covered = std::min(end, source + 1.0) - std::max(start, 1.0 * source);
                axis.weights.push_back(static_cast<float>(std::max(covered, 0.0) / (end - start)));
                ++count;
            }
            axis.count[t] = count;
        }
    }
    return axis;
}

Placement PlacePicture(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight) {
    Placement placement;
    if (pageWidth <= 0 || pageHeight <= 0) {
        placement.pageWidth = placement.width = pictureWidth;
        placement.pageHeight = placement.height = pictureHeight;
        return placement;
    }
    placement.pageWidth = pageWidth;
    placement.pageHeight = pageHeight;
    const double scaleX = static_cast<double>(pageWidth) / pictureWidth;
    const double scaleY = static_cast<double>(pageHeight) / pictureHeight;
    if (scaleX <= scaleY) {
        placement.width = pageWidth;
        placement.height = static_cast<int>(std::lround(pictureHeight * scaleX));
    } else {
        placement.height = pageHeight;
        placement.width = static_cast<int>(std::lround(pictureWidth * scaleY));
    }
    placement.width = std::clamp(placement.width, 1, pageWidth);
    placement.height = std::clamp(placement.height, 1, pageHeight);
    placement.x = (pageWidth - placement.width) / 2;
    placement.y = (pageHeight - placement.height) / 2;
    return placement;
}

int ChooseDecodeEighths(int width, int height, int placedWidth, int placedHeight) {
    const auto reduced = [](int side, int eighths) {
        return (static_cast<long long>(side) * eighths + 7) / 8;
    };
    int eighths = 8;
    while (eighths > 1 && reduced(width, eighths - 1) >= placedWidth &&
           reduced(height, eighths - 1) >= placedHeight)
        --eighths;
    // Between one half and the whole, reducing saves little and costs a second resampling.
    return eighths > 4 ? 8 : eighths;
}

namespace {

class PictureReader final : public Reader {
public:
    PictureReader(std::unique_ptr<PictureDecoder> decoder, const Placement& placement)
        : decoder_(std::move(decoder)),
          placement_(placement),
          channels_(CountChannels(decoder_->colorSpace())),
          // Paper: white for gray and RGB, no ink for CMYK.
          background_(decoder_->colorSpace() == RENDER_CMYK8 ? 0 : 255),
          horizontal_(MakeResampleAxis(decoder_->width(), placement.width)),
          vertical_(MakeResampleAxis(decoder_->height(), placement.height)),
          sourceRow_(static_cast<std::size_t>(decoder_->width()) * channels_),
          unscaled_(placement.width == decoder_->width() &&
                    placement.height == decoder_->height()) {}

    int NextPage(PageInfo* page, std::string* /*error*/) override {
        if (pageGiven_) return 0;
        pageGiven_ = true;
        page->width = placement_.pageWidth;
        page->height = placement_.pageHeight;
        page->colorSpace = decoder_->colorSpace();
        page->lineBytes = static_cast<std::size_t>(placement_.pageWidth) * channels_;
        return 1;
    }

    int ReadLine(std::uint8_t* line, std::string* error) override {
        const int y = line_++;
        const std::size_t lineBytes = static_cast<std::size_t>(placement_.pageWidth) * channels_;
        const int row = y - placement_.y;
        if (row < 0 || row >= placement_.height) {
            std::memset(line, background_, lineBytes);
        } else {
            const int status = DrawRow(row, line, error);
            if (status != RENDER_OK) return status;
        }
        if (y == placement_.pageHeight - 1) {
            // Read what the filter did not need and the file's end, so that damage after
            // the last row used still fails the page.
            while (nextSourceRow_ < decoder_->height()) {
                if (!decoder_->ReadRow(sourceRow_.data(), error)) return RENDER_BAD_ARGUMENT;
                ++nextSourceRow_;
            }
            if (!decoder_->Finish(error)) return RENDER_BAD_ARGUMENT;
        }
        return RENDER_OK;
    }

private:
    int DrawRow(int row, std::uint8_t* line, std::string* error) {
        if (unscaled_) return CopyRow(line, error);
        const auto r = static_cast<std::size_t>(row);
        const int first = vertical_.first[r];
        const int count = vertical_.count[r];
        while (!window_.empty() && windowFirst_ < first) {
            spare_ = std::move(window_.front());
            window_.pop_front();
            ++windowFirst_;
        }
        while (nextSourceRow_ < first + count) {
            if (!decoder_->ReadRow(sourceRow_.data(), error)) return RENDER_BAD_ARGUMENT;
            const int index = nextSourceRow_++;
            if (index < first) continue;
            if (window_.empty()) windowFirst_ = index;
            std::vector<float> scaled = std::move(spare_);
            spare_.clear();
            scaled.resize(static_cast<std::size_t>(placement_.width) * channels_);
            ScaleRow(scaled.data());
            window_.push_back(std::move(scaled));
        }

        const std::size_t width = static_cast<std::size_t>(placement_.width) * channels_;
        const std::size_t lineBytes = static_cast<std::size_t>(placement_.pageWidth) * channels_;
        const std::size_t left = static_cast<std::size_t>(placement_.x) * channels_;
        std::memset(line, background_, left);
        std::memset(line + left + width, background_, lineBytes - left - width);
        const float* weights = vertical_.weights.data() + vertical_.offset[r];
        std::uint8_t* out = line + left;
        // The common cases (one or two rows) in one pass with plain pointers: this loop
        // runs for every byte of the page.
        const float* a = window_[static_cast<std::size_t>(first - windowFirst_)].data();
        if (count == 1) {
            const float wa = weights[0];
            for (std::size_t i = 0; i < width; ++i)
                out[i] = ToByte(a[i] * wa);
            return RENDER_OK;
        }
        if (count == 2) {
            const float* b = window_[static_cast<std::size_t>(first + 1 - windowFirst_)].data();
            const float wa = weights[0];
            const float wb = weights[1];
            for (std::size_t i = 0; i < width; ++i)
                out[i] = ToByte(a[i] * wa + b[i] * wb);
            return RENDER_OK;
        }
        accumulator_.assign(width, 0.0f);
        float* sum = accumulator_.data();
        for (int k = 0; k < count; ++k) {
            const float* source =
                window_[static_cast<std::size_t>(first + k - windowFirst_)].data();
            const float weight = weights[k];
            for (std::size_t i = 0; i < width; ++i)
                sum[i] += source[i] * weight;
        }
        for (std::size_t i = 0; i < width; ++i)
            out[i] = ToByte(sum[i]);
        return RENDER_OK;
    }

    // A picture at its own size (a page-sized picture, or no page given): each row goes
    // from the decoder straight into its line, with the same bytes the filter would give.
    int CopyRow(std::uint8_t* line, std::string* error) {
        const std::size_t width = static_cast<std::size_t>(placement_.width) * channels_;
        const std::size_t lineBytes = static_cast<std::size_t>(placement_.pageWidth) * channels_;
        const std::size_t left = static_cast<std::size_t>(placement_.x) * channels_;
        std::memset(line, background_, left);
        std::memset(line + left + width, background_, lineBytes - left - width);
        if (!decoder_->ReadRow(line + left, error)) return RENDER_BAD_ARGUMENT;
        ++nextSourceRow_;
        return RENDER_OK;
    }

    void ScaleRow(float* out) const {
        switch (channels_) {
            case 1:
                ScaleRowOf<1>(out);
                break;
            case 3:
                ScaleRowOf<3>(out);
                break;
            default:
                ScaleRowOf<4>(out);
                break;
        }
    }

    // The horizontal filter, with the channel count known and the common one- and
    // two-sample cases apart; every sum adds its terms in the same order as the general
    // loop, so the samples are the same to the bit.
    template <int Channels>
    void ScaleRowOf(float* out) const {
        const std::uint8_t* source = sourceRow_.data();
        for (int x = 0; x < placement_.width; ++x) {
            const auto t = static_cast<std::size_t>(x);
            const int count = horizontal_.count[t];
            const float* weights = horizontal_.weights.data() + horizontal_.offset[t];
            const std::uint8_t* s =
                source + static_cast<std::size_t>(horizontal_.first[t]) * Channels;
            float* o = out + t * Channels;
            if (count == 1) {
                for (int c = 0; c < Channels; ++c)
                    o[c] = 0.0f + weights[0] * s[c];
            } else if (count == 2) {
                for (int c = 0; c < Channels; ++c)
                    o[c] = (0.0f + weights[0] * s[c]) + weights[1] * s[Channels + c];
            } else {
                for (int c = 0; c < Channels; ++c) {
                    float sum = 0.0f;
                    for (int k = 0; k < count; ++k)
                        sum += weights[k] * s[static_cast<std::size_t>(k) * Channels + c];
                    o[c] = sum;
                }
            }
        }
    }

    // Rounds a filtered sample (a weighted mean of bytes, so never far outside 0..255).
    static std::uint8_t ToByte(float value) {
        const int rounded = static_cast<int>(value + 0.5f);
        return static_cast<std::uint8_t>(rounded < 0 ? 0 : rounded > 255 ? 255 : rounded);
    }

    std::unique_ptr<PictureDecoder> decoder_;
    Placement placement_;
    int channels_;
    std::uint8_t background_;
    ResampleAxis horizontal_;
    ResampleAxis vertical_;
    std::vector<std::uint8_t> sourceRow_;
    bool unscaled_;
    // Horizontally scaled source rows windowFirst_, windowFirst_ + 1, ...: the rows the
    // current page line's vertical filter reads. Rows only ever leave from the front.
    std::deque<std::vector<float>> window_;
    std::vector<float> spare_;
    std::vector<float> accumulator_;
    int windowFirst_ = 0;
    int nextSourceRow_ = 0;
    int line_ = 0;
    bool pageGiven_ = false;
};

}  // namespace

std::unique_ptr<Reader> MakePictureReader(std::unique_ptr<PictureDecoder> decoder,
                                          const Request& request, std::string* error, int* status) {
    const long long pixels = static_cast<long long>(decoder->width()) * decoder->height();
    if (pixels > kMaxPicturePixels) {
        *error = "a picture of " + std::to_string(decoder->width()) + "x" +
                 std::to_string(decoder->height()) + " pixels is too large to print (at most " +
                 std::to_string(kMaxPicturePixels) + " pixels)";
        *status = RENDER_BAD_ARGUMENT;
        return nullptr;
    }
    const Placement placement =
        PlacePicture(decoder->width(), decoder->height(), request.pageWidth, request.pageHeight);
    if (placement.pageWidth > RENDER_MAX_WIDTH) {
        *error = "the picture is " + std::to_string(placement.pageWidth) +
                 " pixels wide, more than a line can hold (" + std::to_string(RENDER_MAX_WIDTH) +
                 "); give a page size to scale it";
        *status = RENDER_BAD_WIDTH;
        return nullptr;
    }
    return std::make_unique<PictureReader>(std::move(decoder), placement);
}

}  // namespace inkrow::source
