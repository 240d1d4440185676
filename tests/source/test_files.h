// Writers of small test documents (PNG, JPEG, PWG and CUPS raster, PDF, PostScript) and
// a reader that pulls a whole document through the public source interface. The
// documents are made here from code, so every expected pixel is known.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "inkrow/source.h"

namespace inkrow::source_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, const std::string& text);
Bytes ReadBytes(const std::string& path);

// A PNG of any colour type and bit depth. `samples` holds width * height * channels
// sample values (channels as the colour type has them; palette indexes for palettes).
struct PngRecipe {
    int width = 1;
    int height = 1;
    int colorType = 0;  // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<unsigned> samples;
    std::vector<std::uint8_t> palette;  // RGB triplets
    std::vector<std::uint8_t> paletteAlpha;
    int grayKey = -1;  // tRNS colour key for gray pictures
};
Bytes MakePng(const PngRecipe& recipe);

// A baseline JPEG: `components` 1 (gray), 3 (RGB in, YCbCr stored) or 4 (CMYK stored
// as given, with or without the Adobe segment).
Bytes MakeJpeg(int width, int height, int components, const Bytes& pixels, int quality = 95,
               bool adobeMarker = true);

// One page of a raster stream.
struct RasterPage {
    int width = 1;
    int height = 1;
    cups_cspace_t colorSpace = CUPS_CSPACE_SW;
    int bitsPerColor = 8;
    cups_order_t order = CUPS_ORDER_CHUNKED;
    Bytes pixels;  // bytesPerLine * height
};
// Writes the pages with libcups in the given mode (CUPS_RASTER_WRITE_PWG, ..._COMPRESSED,
// CUPS_RASTER_WRITE for version 3).
Bytes MakeRaster(const std::vector<RasterPage>& pages, cups_mode_t mode);
std::size_t RasterBytesPerLine(const RasterPage& page);

// A minimal PDF: one page per content stream, each `width` x `height` points.
std::string MakePdf(const std::vector<std::string>& contents, double width, double height);

// Everything a document gave through the public interface.
struct ReadResult {
    int openStatus = 0;
    int endStatus = 0;  // the last RenderSourceNextPage result (0 at a clean end)
    std::string error;
    std::vector<RenderSourcePage> pages;
    std::vector<Bytes> pixels;  // per page, lineBytes * height
};
ReadResult ReadDocument(const std::string& path, const RenderSourceOptions& options);
ReadResult ReadDocumentFd(int fd, const RenderSourceOptions& options);

// The pixel at (x, y) of a page: channels bytes.
Bytes PixelAt(const ReadResult& result, std::size_t page, int x, int y);

}  // namespace inkrow::source_test
