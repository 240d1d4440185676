// From decoded raster bytes to pictures: levels per pixel, gray and colour renderings,
// and the PNG writer.
#include <png.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "decode.h"

namespace inkrow::decode {
namespace {

// Pictures beyond this many pixels are refused rather than allocated.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 32;

struct Absorption {
    float red, green, blue;
};

// How much of each primary an ink at full density takes out of white light. The second
// and further planes of a split ink carry part of the same ink, so they are looked up
// by the letter their code is derived from.
Absorption FindAbsorption(std::uint8_t code) {
    std::uint8_t letter = code;
    if (!((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z')) && IsKnownInk(code)) {
        letter = static_cast<std::uint8_t>((code & 0x3F) | 0x40);
    }
    switch (letter) {
        case 'C':
            return {0.95f, 0.25f, 0.05f};
        case 'M':
            return {0.10f, 0.90f, 0.30f};
        case 'Y':
            return {0.02f, 0.10f, 0.90f};
        case 'K':
            return {1.00f, 1.00f, 1.00f};
        case 'c':
            return {0.45f, 0.12f, 0.02f};
        case 'm':
            return {0.05f, 0.45f, 0.15f};
        case 'k':
            return {0.65f, 0.65f, 0.65f};
        default:
            return {0.50f, 0.50f, 0.50f};
    }
}

}  // namespace

int CountPixelsPerByte(PixelFormat format) {
    if (format.baseThree) return 5;
    switch (format.bitsPerPixel) {
        case 1:
            return 8;
        case 2:
            return 4;
        case 4:
            return 2;
        case 8:
            return 1;
        default:
            return 0;
    }
}

bool ExpandRaster(const InkRaster& raster, PixelFormat format, std::uint32_t widthPixels,
                  LevelImage* image) {
    *image = LevelImage{};
    const int pixelsPerByte = CountPixelsPerByte(format);
    if (pixelsPerByte == 0) return false;
    const std::uint64_t width =
        widthPixels != 0 ? widthPixels : std::uint64_t{raster.widthBytes} * pixelsPerByte;
    const std::uint64_t height = raster.lineCount;
    if (width > std::numeric_limits<std::uint32_t>::max() ||
        height > std::numeric_limits<std::uint32_t>::max() ||
        (width != 0 && height > kMaxPixels / width)) {
        return false;
    }
    image->width = static_cast<std::uint32_t>(width);
    image->height = static_cast<std::uint32_t>(height);
    image->maxLevel =
        format.baseThree ? 2 : static_cast<std::uint8_t>((1 << format.bitsPerPixel) - 1);
    image->levels.assign(width * height, 0);
    if (raster.bytes.empty()) return true;

    const std::uint64_t usedBytes =
        std::min<std::uint64_t>(raster.widthBytes, (width + pixelsPerByte - 1) / pixelsPerByte);
    const unsigned mask = (1u << format.bitsPerPixel) - 1;
    for (std::uint64_t y = 0; y < height; ++y) {
        const std::uint8_t* line = raster.bytes.data() + y * raster.widthBytes;
        std::uint8_t* out = image->levels.data() + y * width;
        for (std::uint64_t b = 0; b < usedBytes; ++b) {
            unsigned value = line[b];
            std::array<std::uint8_t, 8> levels{};
            if (format.baseThree) {
                if (value > 242) image->invalidCodes += 1;
                for (int k = 4; k >= 0; --k) {
                    levels[k] = static_cast<std::uint8_t>(value % 3);
                    value /= 3;
                }
                if (value != 0) levels[0] = 2;  // a byte above 242 has no valid first digit
            } else {
                for (int k = 0; k < pixelsPerByte; ++k) {
                    const int shift = 8 - format.bitsPerPixel * (k + 1);
                    levels[k] = static_cast<std::uint8_t>((value >> shift) & mask);
                }
            }
            for (int k = 0; k < pixelsPerByte; ++k) {
                const std::uint64_t x = b * pixelsPerByte + k;
                if (x < width) out[x] = levels[k];
            }
        }
    }
    return true;
}

std::vector<std::uint8_t> RenderGray(const LevelImage& image) {
    std::vector<std::uint8_t> gray(image.levels.size());
    const unsigned top = image.maxLevel == 0 ? 1 : image.maxLevel;
    for (std::size_t i = 0; i < gray.size(); ++i) {
        const unsigned level = std::min<unsigned>(image.levels[i], top);
        gray[i] = static_cast<std::uint8_t>(255 - (level * 255 + top / 2) / top);
    }
    return gray;
}

std::vector<std::uint8_t> ComposePreview(std::span<const InkLayer> layers, std::uint32_t width,
                                         std::uint32_t height) {
    const std::size_t pixels = std::size_t{width} * height;
    std::vector<float> light(pixels * 3, 1.0f);
    for (const InkLayer& layer : layers) {
        if (layer.image == nullptr) continue;
        const LevelImage& image = *layer.image;
        const Absorption absorption = FindAbsorption(layer.code);
        const float top = image.maxLevel == 0 ? 1.0f : image.maxLevel;
        const std::uint32_t w = std::min(width, image.width);
        const std::uint32_t h = std::min(height, image.height);
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint8_t level = image.levels[std::size_t{y} * image.width + x];
                if (level == 0) continue;
                const float density = std::min(1.0f, level / top);
                float* rgb = &light[(std::size_t{y} * width + x) * 3];
                rgb[0] *= 1.0f - absorption.red * density;
                rgb[1] *= 1.0f - absorption.green * density;
                rgb[2] *= 1.0f - absorption.blue * density;
            }
        }
    }
    std::vector<std::uint8_t> rgb(light.size());
    for (std::size_t i = 0; i < light.size(); ++i) {
        rgb[i] = static_cast<std::uint8_t>(light[i] * 255.0f + 0.5f);
    }
    return rgb;
}

bool WritePng(const std::string& path, std::uint32_t width, std::uint32_t height, int channels,
              const std::uint8_t* pixels, std::string* message) {
    if (channels != 1 && channels != 3) {
        *message = "a PNG here has 1 or 3 channels";
        return false;
    }
    if (width == 0 || height == 0) {
        *message = "an empty picture cannot be written as PNG";
        return false;
    }
    const std::uint64_t stride = std::uint64_t{width} * channels;
    if (stride > static_cast<std::uint64_t>(std::numeric_limits<png_int_32>::max())) {
        *message = "picture too wide for PNG";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    if (png_image_write_to_file(&image, path.c_str(), 0, pixels, static_cast<png_int_32>(stride),
                                nullptr) == 0) {
        *message = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace inkrow::decode
