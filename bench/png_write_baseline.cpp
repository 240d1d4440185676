// The yardstick for the previews: reads PNG files into memory (not timed) and writes the
// same pictures again with plain libpng, row by row from memory, at the compression
// level the previews use. Prints the time of the writes alone.
//
//   png_write_baseline OUTDIR FILE.png...
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "picture.h"

namespace {

struct Picture {
    std::string name;
    png_uint_32 width = 0, height = 0;
    int channels = 0;
    std::vector<png_byte> pixels;
};

bool ReadPicture(const char* path, Picture* picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path) == 0) return false;
    picture->channels = (image.format & PNG_FORMAT_FLAG_COLOR) != 0 ? 3 : 1;
    image.format = picture->channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    picture->width = image.width;
    picture->height = image.height;
    picture->pixels.resize(PNG_IMAGE_SIZE(image));
    picture->name = std::filesystem::path(path).filename().string();
    return png_image_finish_read(&image, nullptr, picture->pixels.data(), 0, nullptr) != 0;
}

bool WritePicture(const Picture& picture, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, picture.width, picture.height, 8,
                 picture.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, inkrow::decode::kPngCompressionLevel);
    png_write_info(png, info);
    const std::size_t stride = std::size_t{picture.width} * picture.channels;
    for (png_uint_32 y = 0; y < picture.height; ++y)
        png_write_row(png, picture.pixels.data() + y * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: png_write_baseline OUTDIR FILE.png...\n", stderr);
        return 2;
    }
    std::vector<Picture> pictures(static_cast<std::size_t>(argc - 2));
    for (int i = 2; i < argc; ++i) {
        if (!ReadPicture(argv[i], &pictures[static_cast<std::size_t>(i - 2)])) {
            std::fprintf(stderr, "png_write_baseline: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    const auto started = std::chrono::steady_clock::now();
    for (const Picture& picture : pictures) {
        if (!WritePicture(picture, (std::filesystem::path(argv[1]) / picture.name).string())) {
            std::fprintf(stderr, "png_write_baseline: cannot write %s\n", picture.name.c_str());
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%.3f\n", seconds);
    return 0;
}
