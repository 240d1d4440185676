// From decoded raster bytes to pictures: levels per pixel, gray and colour renderings,
// and the PNG writer.
#include "picture.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "ink_model.h"

namespace inkrow::decode {
namespace {

// Pictures beyond this many pixels are refused rather than allocated.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 32;

// The inks of a picture, drawn with the ink model: each printer plane adds its share of
// its ink's coverage at a pixel (a split ink's planes share it), and the pixel shows the
// model's mix of the inks there, with the paper as display white. Pixels repeat a few
// ink combinations, so their colours are kept once worked out.
struct PreviewInks {
    ink::InkSet set;
    std::vector<int> slot;         // per plane, its ink in `set`
    std::vector<unsigned> weight;  // per plane, a level's share of its ink, over kScale
    unsigned denominator[ink::kMaxInks] = {};
    std::unordered_map<std::uint64_t, std::array<std::uint8_t, 3>> colours;
};

void SetUpPreviewInks(std::span<const std::uint8_t> codes, std::span<const std::uint8_t> tops,
                      PreviewInks* preview) {
    char letters[ink::kMaxInks] = {};
    int count = 0;
    int planesOf[ink::kMaxInks] = {};
    preview->slot.assign(codes.size(), 0);
    preview->weight.assign(codes.size(), 0);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const char letter = InkLetterOf(codes[i]);
        int s = 0;
        while (s < count && letters[s] != letter)
            ++s;
        if (s == count && count < ink::kMaxInks) letters[count++] = letter;
        preview->slot[i] = std::min(s, ink::kMaxInks - 1);
        planesOf[preview->slot[i]] += 1;
    }
    ink::MakeInkSet(letters, count, &preview->set);
    // A pixel's coverage of an ink is the sum of level * weight over its planes divided
    // by the ink's denominator; kScale is a multiple of every top level (1, 2, 3, 15, 255),
    // so that it adds up in integers.
    constexpr unsigned kScale = 3060;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int s = preview->slot[i];
        preview->denominator[s] = kScale * static_cast<unsigned>(planesOf[s]);
        preview->weight[i] = kScale / std::max<unsigned>(1, tops[i]);
    }
}

// The colour of a pixel whose inks add up to sums[slot] (out of the denominators).
const std::array<std::uint8_t, 3>& PreviewColour(PreviewInks* preview, const unsigned* sums) {
    // Coverage in steps of 1/255 per ink, eight inks to a key.
    std::uint64_t key = 0;
    unsigned steps[ink::kMaxInks] = {};
    for (int s = 0; s < preview->set.count; ++s) {
        const unsigned d = preview->denominator[s];
        steps[s] = std::min(255u, (sums[s] * 255u + d / 2) / d);
        key = (key << 8) | steps[s];
    }
    auto found = preview->colours.find(key);
    if (found != preview->colours.end()) return found->second;
    double coverage[ink::kMaxInks] = {};
    for (int s = 0; s < preview->set.count; ++s)
        coverage[s] = steps[s] / 255.0;
    std::array<std::uint8_t, 3> rgb{};
    ink::ToSrgb(ink::FromRoot(ink::MixRoot(preview->set, coverage)), true, rgb.data());
    return preview->colours.emplace(key, rgb).first->second;
}

// Splits one byte into its pixels' levels, first pixel first; returns the pixel count.
int SplitByte(unsigned value, PixelFormat format, std::uint8_t* levels, std::uint64_t* invalid) {
    if (format.baseThree) {
        if (value > 242) *invalid += 1;
        for (int k = 4; k >= 0; --k) {
            levels[k] = static_cast<std::uint8_t>(value % 3);
            value /= 3;
        }
        if (value != 0) levels[0] = 2;  // a byte above 242 has no valid first digit
        return 5;
    }
    const int perByte = 8 / format.bitsPerPixel;
    const unsigned mask = (1u << format.bitsPerPixel) - 1;
    for (int k = 0; k < perByte; ++k) {
        levels[k] =
            static_cast<std::uint8_t>((value >> (8 - format.bitsPerPixel * (k + 1))) & mask);
    }
    return perByte;
}

std::uint8_t TopLevel(PixelFormat format) {
    return format.baseThree ? 2 : static_cast<std::uint8_t>((1 << format.bitsPerPixel) - 1);
}

}  // namespace

char InkLetterOf(std::uint8_t code) {
    std::uint8_t letter = code;
    if (!((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z')) && IsKnownInk(code))
        letter = static_cast<std::uint8_t>((code & 0x3F) | 0x40);
    const char ink = static_cast<char>(letter);
    return ink::FindInk(ink) != nullptr ? ink : 'k';
}

struct PngFile {
    std::FILE* stream = nullptr;
    char path[4096] = {};
    char error[256] = {};
};

namespace {

void ReportPngError(png_structp png, png_const_charp text) {
    auto* file = static_cast<PngFile*>(png_get_error_ptr(png));
    std::snprintf(file->error, sizeof file->error, "%s", text);
    png_longjmp(png, 1);
}

void IgnorePngWarning(png_structp, png_const_charp) {}

std::string DescribeFailure(const PngFile* file, const char* what) {
    return std::string(file->path) + ": " + what;
}

// Produces row y of the picture into `row`.
using RowSource = void (*)(const void* context, std::uint32_t y, std::uint8_t* row);

// The one place that drives libpng. It keeps nothing with a destructor between its
// setjmp and libpng's calls, so an error's longjmp skips no clean-up.
bool WriteRows(PngFile* file, std::uint32_t width, std::uint32_t height, int channels,
               RowSource source, const void* context, std::uint8_t* row) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, file, ReportPngError, IgnorePngWarning);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(file->error, sizeof file->error, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file->stream);
    png_set_IHDR(png, info, width, height, 8,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, kPngCompressionLevel);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        source(context, y, row);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PreviewSource {
    std::span<const PictureInk> inks;
    std::uint32_t width = 0;
    PreviewInks* model = nullptr;
    std::uint8_t* levels = nullptr;
    unsigned* sums = nullptr;  // width * kMaxInks
    std::uint64_t* invalidCodes = nullptr;
};

void ProducePreviewRow(const void* context, std::uint32_t y, std::uint8_t* row) {
    const auto& source = *static_cast<const PreviewSource*>(context);
    const std::uint32_t width = source.width;
    unsigned* sums = source.sums;
    std::fill(sums, sums + std::size_t{width} * ink::kMaxInks, 0u);
    for (std::size_t i = 0; i < source.inks.size(); ++i) {
        const PictureInk& ink = source.inks[i];
        if (ink.raster == nullptr || y >= ink.raster->lineCount || ink.raster->bytes.empty())
            continue;
        ExpandRasterLine(*ink.raster, ink.format, y, width, source.levels, source.invalidCodes);
        const int slot = source.model->slot[i];
        const unsigned weight = source.model->weight[i];
        const unsigned top = TopLevel(ink.format);
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned level = std::min<unsigned>(source.levels[x], top);
            sums[std::size_t{x} * ink::kMaxInks + static_cast<std::size_t>(slot)] += level * weight;
        }
    }
    for (std::uint32_t x = 0; x < width; ++x) {
        const auto& rgb = PreviewColour(source.model, sums + std::size_t{x} * ink::kMaxInks);
        std::copy(rgb.begin(), rgb.end(), row + std::size_t{x} * 3);
    }
}

struct GraySource {
    const PictureInk* ink = nullptr;
    std::uint32_t width = 0;
    std::array<std::uint8_t, 256> gray{};
    std::uint64_t* invalidCodes = nullptr;
};

void ProduceGrayRow(const void* context, std::uint32_t y, std::uint8_t* row) {
    const auto& source = *static_cast<const GraySource*>(context);
    const InkRaster* raster = source.ink->raster;
    if (raster == nullptr || y >= raster->lineCount || raster->bytes.empty()) {
        std::fill(row, row + source.width, std::uint8_t{255});
        return;
    }
    ExpandRasterLine(*raster, source.ink->format, y, source.width, row, source.invalidCodes);
    for (std::uint32_t x = 0; x < source.width; ++x)
        row[x] = source.gray[row[x]];
}

bool CheckPictureSize(PngFile* file, std::uint32_t width, std::uint32_t height, int channels,
                      std::string* message) {
    if (width == 0 || height == 0) {
        *message = DescribeFailure(file, "an empty picture cannot be written as PNG");
        return false;
    }
    if (std::uint64_t{width} * channels > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX) {
        *message = DescribeFailure(file, "picture too large for PNG");
        return false;
    }
    return true;
}

// Closes the file after a picture; false with the reason when anything failed.
bool FinishPngFile(PngFile* file, bool written, std::string* message) {
    if (written && std::fflush(file->stream) != 0) {
        std::snprintf(file->error, sizeof file->error, "%s", std::strerror(errno));
        written = false;
    }
    if (std::fclose(file->stream) != 0 && written) {
        std::snprintf(file->error, sizeof file->error, "%s", std::strerror(errno));
        written = false;
    }
    if (!written) {
        if (message->empty()) *message = DescribeFailure(file, file->error);
        std::remove(file->path);
    }
    delete file;
    return written;
}

}  // namespace

PngFile* OpenPngFile(const std::string& path, std::string* message) {
    if (path.size() >= sizeof PngFile::path) {
        *message = path + ": path too long";
        return nullptr;
    }
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        *message = path + ": " + std::strerror(errno);
        return nullptr;
    }
    auto* file = new PngFile;
    file->stream = stream;
    std::memcpy(file->path, path.c_str(), path.size() + 1);
    return file;
}

void DiscardPngFile(PngFile* file) {
    if (file == nullptr) return;
    std::fclose(file->stream);
    std::remove(file->path);
    delete file;
}

bool WritePreviewPng(PngFile* file, std::span<const PictureInk> inks, std::uint32_t width,
                     std::uint32_t height, std::uint64_t* invalidCodes, std::string* message) {
    message->clear();
    if (!CheckPictureSize(file, width, height, 3, message))
        return FinishPngFile(file, false, message);
    std::vector<std::uint8_t> codes;
    std::vector<std::uint8_t> tops;
    for (const PictureInk& ink : inks) {
        codes.push_back(ink.code);
        tops.push_back(TopLevel(ink.format));
    }
    PreviewInks model;
    SetUpPreviewInks(codes, tops, &model);
    std::vector<std::uint8_t> levels(width + 8);
    std::vector<unsigned> sums(std::size_t{width} * ink::kMaxInks);
    std::vector<std::uint8_t> row(std::size_t{width} * 3);
    PreviewSource source;
    source.inks = inks;
    source.width = width;
    source.model = &model;
    source.levels = levels.data();
    source.sums = sums.data();
    source.invalidCodes = invalidCodes;
    const bool written = WriteRows(file, width, height, 3, ProducePreviewRow, &source, row.data());
    return FinishPngFile(file, written, message);
}

bool WriteGrayPng(PngFile* file, const PictureInk& ink, std::uint32_t width, std::uint32_t height,
                  std::uint64_t* invalidCodes, std::string* message) {
    message->clear();
    if (!CheckPictureSize(file, width, height, 1, message))
        return FinishPngFile(file, false, message);
    GraySource source;
    source.ink = &ink;
    source.width = width;
    source.invalidCodes = invalidCodes;
    const unsigned top = TopLevel(ink.format);
    for (unsigned level = 0; level < 256; ++level) {
        const unsigned clamped = std::min(level, top);
        source.gray[level] = static_cast<std::uint8_t>(255 - (clamped * 255 + top / 2) / top);
    }
    std::vector<std::uint8_t> row(width + 8);
    const bool written = WriteRows(file, width, height, 1, ProduceGrayRow, &source, row.data());
    return FinishPngFile(file, written, message);
}

void ExpandRasterLine(const InkRaster& raster, PixelFormat format, std::uint64_t y,
                      std::uint32_t width, std::uint8_t* levels, std::uint64_t* invalidCodes) {
    std::fill(levels, levels + width, std::uint8_t{0});
    const int pixelsPerByte = CountPixelsPerByte(format);
    if (pixelsPerByte == 0 || y >= raster.lineCount || raster.bytes.empty()) return;
    const std::uint8_t* line = raster.bytes.data() + y * raster.widthBytes;
    const std::uint64_t usedBytes = std::min<std::uint64_t>(
        raster.widthBytes, (std::uint64_t{width} + pixelsPerByte - 1) / pixelsPerByte);
    std::uint64_t x = 0;
    std::uint8_t split[8];
    for (std::uint64_t b = 0; b < usedBytes; ++b) {
        if (line[b] == 0) {
            x += pixelsPerByte;
            continue;
        }
        const int count = SplitByte(line[b], format, split, invalidCodes);
        for (int k = 0; k < count && x < width; ++k, ++x)
            levels[x] = split[k];
    }
}

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
    std::vector<std::uint8_t> codes;
    std::vector<std::uint8_t> tops;
    for (const InkLayer& layer : layers) {
        codes.push_back(layer.code);
        tops.push_back(
            layer.image == nullptr || layer.image->maxLevel == 0 ? 1 : layer.image->maxLevel);
    }
    PreviewInks model;
    SetUpPreviewInks(codes, tops, &model);
    std::vector<std::uint8_t> rgb(std::size_t{width} * height * 3);
    unsigned sums[ink::kMaxInks];
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::fill(sums, sums + ink::kMaxInks, 0u);
            for (std::size_t i = 0; i < layers.size(); ++i) {
                const LevelImage* image = layers[i].image;
                if (image == nullptr || x >= image->width || y >= image->height) continue;
                const unsigned level =
                    std::min<unsigned>(image->levels[std::size_t{y} * image->width + x], tops[i]);
                sums[model.slot[i]] += level * model.weight[i];
            }
            const auto& colour = PreviewColour(&model, sums);
            std::copy(colour.begin(), colour.end(), rgb.begin() + (std::size_t{y} * width + x) * 3);
        }
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

bool FindInkFormat(const RenderMode& mode, std::uint8_t code, PixelFormat* format) {
    const std::span<const std::uint8_t> codes = ListInkSetCodes(mode.inkSetId);
    for (std::size_t plane = 0; plane < codes.size(); ++plane) {
        if (codes[plane] != code || static_cast<int>(plane) >= mode.printerPlanes) continue;
        if (mode.split != 0) {
            *format = {2, false};
        } else if (mode.planes[plane].codeConverted != 0) {
            *format = {2, true};
        } else {
            *format = {mode.planes[plane].bitsPerPixel, false};
        }
        return true;
    }
    return false;
}

}  // namespace inkrow::decode
