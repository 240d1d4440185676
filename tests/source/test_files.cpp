#include "test_files.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace inkrow::source_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "inkrow-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

void OnPngWrite(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void OnPngFlush(png_structp) {}

int PngChannels(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

}  // namespace

Bytes MakePng(const PngRecipe& recipe) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the test picture");
    }
    png_set_write_fn(png, &out, &OnPngWrite, &OnPngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(recipe.width),
                 static_cast<png_uint_32>(recipe.height), recipe.bitDepth, recipe.colorType,
                 recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < recipe.palette.size(); i += 3) {
        palette.push_back({recipe.palette[i], recipe.palette[i + 1], recipe.palette[i + 2]});
    }
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!recipe.paletteAlpha.empty()) {
        png_set_tRNS(png, info, recipe.paletteAlpha.data(),
                     static_cast<int>(recipe.paletteAlpha.size()), nullptr);
    }
    png_color_16 key{};
    if (recipe.grayKey >= 0) {
        key.gray = static_cast<png_uint_16>(recipe.grayKey);
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);

    const int channels = PngChannels(recipe.colorType);
    const std::size_t samplesPerRow = static_cast<std::size_t>(recipe.width) * channels;
    const std::size_t rowBytes = (samplesPerRow * recipe.bitDepth + 7) / 8;
    std::vector<Bytes> rows(static_cast<std::size_t>(recipe.height), Bytes(rowBytes, 0));
    for (int y = 0; y < recipe.height; ++y) {
        Bytes& row = rows[static_cast<std::size_t>(y)];
        for (std::size_t s = 0; s < samplesPerRow; ++s) {
            const unsigned value = recipe.samples[static_cast<std::size_t>(y) * samplesPerRow + s];
            if (recipe.bitDepth == 16) {
                row[s * 2] = static_cast<std::uint8_t>(value >> 8);
                row[s * 2 + 1] = static_cast<std::uint8_t>(value);
            } else if (recipe.bitDepth == 8) {
                row[s] = static_cast<std::uint8_t>(value);
            } else {
                const std::size_t bit = s * recipe.bitDepth;
                row[bit / 8] |= static_cast<std::uint8_t>(value << (8 - recipe.bitDepth - bit % 8));
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes MakeJpeg(int width, int height, int components, const Bytes& pixels, int quality,
               bool adobeMarker) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (components == 4) info.write_Adobe_marker = adobeMarker ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            pixels.data() + static_cast<std::size_t>(info.next_scanline) * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

namespace {

unsigned CountColours(cups_cspace_t space) {
    switch (space) {
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_CMY:
        case CUPS_CSPACE_CIELab:
            return 3;
        case CUPS_CSPACE_CMYK:
            return 4;
        default:
            return 1;
    }
}

}  // namespace

// Chunky and banded lines hold every colour; a planar line holds one.
std::size_t RasterBytesPerLine(const RasterPage& page) {
    const unsigned colours = page.order == CUPS_ORDER_PLANAR ? 1 : CountColours(page.colorSpace);
    return (static_cast<std::size_t>(page.width) * colours * page.bitsPerColor + 7) / 8;
}

Bytes MakeRaster(const std::vector<RasterPage>& pages, cups_mode_t mode) {
    char path[] = "/tmp/inkrow-raster-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    cups_raster_t* raster = cupsRasterOpen(fd, mode);
    for (const RasterPage& page : pages) {
        cups_page_header2_t header{};
        std::strcpy(header.MediaClass, "PwgRaster");
        header.HWResolution[0] = header.HWResolution[1] = 300;
        header.PageSize[0] = static_cast<unsigned>(page.width * 72 / 300);
        header.PageSize[1] = static_cast<unsigned>(page.height * 72 / 300);
        header.cupsWidth = static_cast<unsigned>(page.width);
        header.cupsHeight = static_cast<unsigned>(page.height);
        header.cupsBitsPerColor = static_cast<unsigned>(page.bitsPerColor);
        const std::size_t bytesPerLine = RasterBytesPerLine(page);
        header.cupsBytesPerLine = static_cast<unsigned>(bytesPerLine);
        header.cupsColorOrder = page.order;
        header.cupsColorSpace = page.colorSpace;
        header.cupsNumColors = CountColours(page.colorSpace);
        header.cupsBitsPerPixel = page.order == CUPS_ORDER_CHUNKED
                                      ? header.cupsNumColors * header.cupsBitsPerColor
                                      : header.cupsBitsPerColor;
        if (cupsRasterWriteHeader2(raster, &header) == 0) {
            throw std::runtime_error("libcups refused the test raster header");
        }
        Bytes pixels = page.pixels;
        const std::size_t lines = page.order == CUPS_ORDER_PLANAR
                                      ? page.height * std::size_t{header.cupsNumColors}
                                      : static_cast<std::size_t>(page.height);
        pixels.resize(bytesPerLine * lines);
        cupsRasterWritePixels(raster, pixels.data(), static_cast<unsigned>(pixels.size()));
    }
    cupsRasterClose(raster);
    ::close(fd);
    Bytes bytes = ReadBytes(path);
    ::unlink(path);
    return bytes;
}

std::string MakePdf(const std::vector<std::string>& contents, double width, double height) {
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::ostringstream kids;
    for (std::size_t i = 0; i < contents.size(); ++i)
        kids << (3 + 2 * i) << " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids.str() + "] /Count " +
                      std::to_string(contents.size()) + " >>");
    for (std::size_t i = 0; i < contents.size(); ++i) {
        std::ostringstream page;
        page << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " << width << " " << height
             << "] /Contents " << (4 + 2 * i) << " 0 R /Resources << >> >>";
        objects.push_back(page.str());
        objects.push_back("<< /Length " + std::to_string(contents[i].size()) + " >>\nstream\n" +
                          contents[i] + "\nendstream");
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

namespace {

ReadResult ReadAll(RenderSource* source, int openStatus) {
    ReadResult result;
    result.openStatus = openStatus;
    if (openStatus != RENDER_OK) {
        result.error = RenderSourceErrorText(source);
        RenderSourceClose(source);
        return result;
    }
    RenderSourcePage page;
    int status = 0;
    while ((status = RenderSourceNextPage(source, &page)) == 1) {
        Bytes pixels(page.lineBytes * static_cast<std::size_t>(page.height));
        for (int y = 0; y < page.height && status == 1; ++y) {
            const int read = RenderSourceReadLine(
                source, pixels.data() + page.lineBytes * static_cast<std::size_t>(y),
                page.lineBytes);
            if (read != RENDER_OK) status = read;
        }
        if (status != 1) break;
        result.pages.push_back(page);
        result.pixels.push_back(std::move(pixels));
    }
    result.endStatus = status;
    result.error = RenderSourceErrorText(source);
    RenderSourceClose(source);
    return result;
}

}  // namespace

ReadResult ReadDocument(const std::string& path, const RenderSourceOptions& options) {
    RenderSource* source = nullptr;
    const int status = RenderSourceOpen(path.c_str(), &options, &source);
    return ReadAll(source, status);
}

ReadResult ReadDocumentFd(int fd, const RenderSourceOptions& options) {
    RenderSource* source = nullptr;
    const int status = RenderSourceOpenFd(fd, &options, &source);
    return ReadAll(source, status);
}

Bytes PixelAt(const ReadResult& result, std::size_t page, int x, int y) {
    const RenderSourcePage& info = result.pages.at(page);
    const std::size_t channels = info.lineBytes / static_cast<std::size_t>(info.width);
    const std::size_t offset = info.lineBytes * static_cast<std::size_t>(y) + channels * x;
    const Bytes& pixels = result.pixels.at(page);
    return Bytes(pixels.begin() + static_cast<std::ptrdiff_t>(offset),
                 pixels.begin() + static_cast<std::ptrdiff_t>(offset + channels));
}

}  // namespace inkrow::source_test
