#include "job_preview_image.h"

#include <algorithm>

#include "decode.h"
#include "picture.h"

namespace inkrow::app {

namespace decode = inkrow::decode;

namespace {

// How an ink's bytes hold its pixels: ink i of the mode's full selection is plane i.
decode::PixelFormat FormatOf(const RenderMode& mode, std::uint8_t code) {
    std::uint8_t codes[RENDER_MAX_PLANES];
    const int count = RenderPrinterInks(&mode, codes);
    for (int plane = 0; plane < count; ++plane) {
        if (codes[plane] != code) continue;
        // The split planes carry two bits per pixel whatever their input had.
        if (mode.split != 0) return {2, false};
        if (plane >= mode.planeCount) break;
        if (mode.planes[plane].codeConverted != 0) return {2, true};
        return {mode.planes[plane].bitsPerPixel, false};
    }
    return {1, false};  // not an ink of the mode: the module never writes one
}

int TopLevelOf(decode::PixelFormat format) {
    return format.baseThree ? 2 : (1 << format.bitsPerPixel) - 1;
}

// The levels of the pixels each byte value holds, first pixel first: the decoder's own
// reading of a line holding every byte value once.
std::vector<std::uint8_t> LevelsOfBytes(decode::PixelFormat format, int pixelsPerByte) {
    decode::InkRaster all;
    all.widthBytes = 256;
    all.longestLine = 256;
    all.lineCount = 1;
    for (int value = 0; value < 256; ++value)
        all.bytes.push_back(static_cast<std::uint8_t>(value));
    std::vector<std::uint8_t> levels(std::size_t{256} * pixelsPerByte);
    std::uint64_t invalidCodes = 0;
    decode::ExpandRasterLine(all, format, 0, static_cast<std::uint32_t>(levels.size()),
                             levels.data(), &invalidCodes);
    return levels;
}

// Rows of the picture mixed at a time, and the top level of an ink's share of a
// picture pixel: 51 divides the ink model's scale and gives the model's colour cache
// neighbours that share a mix.
constexpr std::uint32_t kBandRows = 128;
constexpr std::uint64_t kShareTop = 51;

std::string Malformed(const decode::Error& error) {
    return "the stream is malformed at byte " + std::to_string(error.offset) + ": " + error.message;
}

}  // namespace

bool DrawFirstPage(std::span<const std::uint8_t> stream, const PreviewPage& page,
                   const PreviewLimits& limits, RgbPicture* picture, RgbPicture* thumbnail,
                   std::string* why) {
    // A first reading without rasters finds where the first page ends, so that only its
    // rasters are ever held.
    decode::DecodeOptions options;
    options.keepListing = false;
    options.keepRasters = false;
    decode::Decoded scan;
    const decode::Error scanned = decode::DecodeStream(stream, options, &scan);
    if (scan.pages.empty()) {
        *why = scanned.code != decode::ErrorCode::kNone ? Malformed(scanned)
                                                        : "the stream holds no page";
        return false;
    }
    const std::size_t end = scan.pages[0].offset + scan.pages[0].stats.bytes;
    options.keepRasters = true;
    options.maxRasterBytes = limits.maxRasterBytes;
    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream.first(end), options, &decoded);
    if (error.code == decode::ErrorCode::kRasterTooLarge) {
        *why = "the first page is too large to draw (more than " +
               std::to_string(limits.maxRasterBytes >> 20) + " MB of rasters)";
        return false;
    }
    if (error.code != decode::ErrorCode::kNone) {
        *why = Malformed(error);
        return false;
    }
    if (decoded.pages.empty()) {
        *why = "the stream holds no page";
        return false;
    }
    const decode::Page& first = decoded.pages[0];

    std::uint64_t lines = 0;
    for (const decode::InkRaster& ink : first.inks)
        lines = std::max(lines, ink.lineCount);
    const auto width = static_cast<std::uint32_t>(std::max(page.width, 0));
    const std::uint64_t height = page.height > 0 ? static_cast<std::uint64_t>(page.height) : lines;
    if (width == 0 || height == 0) {
        *why = "the page has no pixels";
        return false;
    }
    const int dpi = std::max(limits.pictureDpi, 1);
    const auto factor = static_cast<std::uint32_t>(std::max(1, (page.resolution + dpi / 2) / dpi));
    picture->width = (width + factor - 1) / factor;
    picture->height = static_cast<std::uint32_t>((height + factor - 1) / factor);
    picture->pixels.assign(std::size_t{picture->width} * picture->height * 3, 255);

    // Each output pixel takes the mean level of each ink over the page pixels it
    // covers, as a share of kShareTop (a top level the ink model mixes exactly), and
    // the ink model mixes the shares, a band of rows at a time: it remembers the
    // colours of the mixes it made within one call.
    struct Ink {
        const decode::InkRaster* raster;
        int top;
        int pixelsPerByte;
        std::vector<std::uint8_t> levelsOfBytes;
        std::vector<std::uint32_t> sums;
        decode::LevelImage shares;
    };
    std::vector<Ink> inks;
    inks.reserve(first.inks.size());
    for (const decode::InkRaster& raster : first.inks) {
        const decode::PixelFormat format = FormatOf(page.mode, raster.code);
        Ink ink{&raster, TopLevelOf(format), decode::CountPixelsPerByte(format), {}, {}, {}};
        if (ink.pixelsPerByte == 0) continue;  // no format the module writes
        ink.levelsOfBytes = LevelsOfBytes(format, ink.pixelsPerByte);
        ink.sums.resize(picture->width);
        ink.shares.width = picture->width;
        ink.shares.maxLevel = kShareTop;
        ink.shares.levels.resize(std::size_t{picture->width} * kBandRows);
        inks.push_back(std::move(ink));
    }
    std::vector<decode::InkLayer> layers;
    for (const Ink& ink : inks)
        layers.push_back({ink.raster->code, &ink.shares});
    // The output column of each page pixel (a division per pixel costs more than the
    // rest of the sum).
    std::vector<std::uint32_t> columnOf(width);
    for (std::uint32_t x = 0; x < width; ++x)
        columnOf[x] = x / factor;
    for (std::uint32_t row = 0; row < picture->height; ++row) {
        const std::uint32_t inBand = row % kBandRows;
        const std::uint64_t top = std::uint64_t{row} * factor;
        const std::uint64_t bottom = std::min<std::uint64_t>(top + factor, height);
        for (Ink& ink : inks) {
            std::fill(ink.sums.begin(), ink.sums.end(), 0u);
            const decode::InkRaster& raster = *ink.raster;
            const auto perByte = static_cast<std::uint32_t>(ink.pixelsPerByte);
            const std::uint64_t usedBytes =
                std::min<std::uint64_t>(raster.widthBytes, (width + perByte - 1) / perByte);
            for (std::uint64_t y = top; y < bottom && y < raster.lineCount; ++y) {
                if (raster.bytes.empty()) break;
                const std::uint8_t* bytes = raster.bytes.data() + y * raster.widthBytes;
                // Plain pointers: the loop runs once per byte of the page's rasters.
                std::uint32_t* sums = ink.sums.data();
                const std::uint32_t* columns = columnOf.data();
                const std::uint8_t* table = ink.levelsOfBytes.data();
                for (std::uint64_t b = 0; b < usedBytes; ++b) {
                    if (bytes[b] == 0) continue;  // most of a page: no ink
                    const std::uint8_t* levels = table + std::size_t{bytes[b]} * perByte;
                    const auto start = static_cast<std::uint32_t>(b * perByte);
                    const std::uint32_t stop = std::min(start + perByte, width);
                    for (std::uint32_t x = start; x < stop; ++x)
                        sums[columns[x]] += levels[x - start];
                }
            }
            for (std::uint32_t x = 0; x < picture->width; ++x) {
                const std::uint64_t columns = std::min<std::uint64_t>(factor, width - x * factor);
                const std::uint64_t most = columns * (bottom - top) * ink.top;
                ink.shares.levels[std::size_t{inBand} * picture->width + x] =
                    static_cast<std::uint8_t>((ink.sums[x] * kShareTop + most / 2) / most);
            }
        }
        const bool bandEnds = inBand == kBandRows - 1 || row + 1 == picture->height;
        if (!bandEnds || layers.empty()) continue;  // no ink at all: paper white
        for (Ink& ink : inks)
            ink.shares.height = inBand + 1;
        const std::vector<std::uint8_t> rgb =
            decode::ComposePreview(layers, picture->width, inBand + 1);
        std::copy(rgb.begin(), rgb.end(),
                  picture->pixels.begin() + std::size_t{row - inBand} * picture->width * 3);
    }
    *thumbnail =
        ShrinkPicture(*picture, static_cast<std::uint32_t>(std::max(limits.thumbnailWidth, 1)));
    return true;
}

RgbPicture ShrinkPicture(const RgbPicture& picture, std::uint32_t width) {
    if (picture.width <= width) return picture;
    RgbPicture small;
    small.width = width;
    small.height = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        1, (std::uint64_t{picture.height} * width + picture.width / 2) / picture.width));
    small.pixels.resize(std::size_t{small.width} * small.height * 3);
    for (std::uint32_t y = 0; y < small.height; ++y) {
        const std::uint64_t y0 = std::uint64_t{y} * picture.height / small.height;
        const std::uint64_t y1 =
            std::max(y0 + 1, std::uint64_t{y + 1} * picture.height / small.height);
        for (std::uint32_t x = 0; x < small.width; ++x) {
            const std::uint64_t x0 = std::uint64_t{x} * picture.width / small.width;
            const std::uint64_t x1 =
                std::max(x0 + 1, std::uint64_t{x + 1} * picture.width / small.width);
            std::uint64_t sums[3] = {0, 0, 0};
            for (std::uint64_t sy = y0; sy < y1; ++sy)
                for (std::uint64_t sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sums[c] += picture.pixels[(sy * picture.width + sx) * 3 + c];
            const std::uint64_t count = (y1 - y0) * (x1 - x0);
            for (int c = 0; c < 3; ++c)
                small.pixels[(std::size_t{y} * small.width + x) * 3 + c] =
                    static_cast<std::uint8_t>((sums[c] + count / 2) / count);
        }
    }
    return small;
}

}  // namespace inkrow::app
