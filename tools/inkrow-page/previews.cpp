// inkrow-page --png (previews.h).
#include "previews.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "verify.h"

namespace inkrow::page {

namespace decode = inkrow::decode;

namespace {

std::string PreviewPath(const std::string& path, std::size_t page) {
    if (page == 0) return path;
    const std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(page + 1) + path.substr(dot);
}

}  // namespace

bool OpenPreviews(const Options& options, std::vector<decode::PngFile*>* files) {
    const int count = options.formFeed ? 1 : options.pages;
    for (int p = 0; p < count; ++p) {
        std::string message;
        decode::PngFile* file = decode::OpenPngFile(PreviewPath(options.png, p), &message);
        if (file == nullptr) {
            std::fprintf(stderr, "inkrow-page: cannot write the preview %s\n", message.c_str());
            return false;
        }
        files->push_back(file);
    }
    return true;
}

void DiscardPreviews(std::vector<decode::PngFile*>* files) {
    for (decode::PngFile* file : *files)
        decode::DiscardPngFile(file);
    files->clear();
}

bool WritePreviews(const Job& job, const Options& options, const decode::Decoded& decoded,
                   std::vector<decode::PngFile*>* files) {
    const std::vector<PrinterPlane> planes = DescribePrinterPlanes(job);
    for (std::size_t p = 0; p < files->size(); ++p) {
        decode::PngFile* file = (*files)[p];
        (*files)[p] = nullptr;
        const std::string path = PreviewPath(options.png, p);
        if (p >= decoded.pages.size()) {
            decode::DiscardPngFile(file);
            std::fprintf(stderr, "inkrow-page: %s: the stream has no page %zu\n", path.c_str(),
                         p + 1);
            return false;
        }
        const decode::Page& page = decoded.pages[p];
        std::vector<decode::PictureInk> inks;
        auto height = static_cast<std::uint64_t>(job.height);
        for (const decode::InkRaster& raster : page.inks) {
            decode::PictureInk ink;
            ink.code = raster.code;
            ink.raster = &raster;
            for (const PrinterPlane& plane : planes)
                if (plane.code == raster.code) ink.format = plane.format;
            inks.push_back(ink);
            height = std::max(height, raster.lineCount);
        }
        std::string message;
        std::uint64_t invalid = 0;
        if (height > std::numeric_limits<std::uint32_t>::max()) {
            decode::DiscardPngFile(file);
            std::fprintf(stderr, "inkrow-page: %s: the preview is too large\n", path.c_str());
            return false;
        }
        if (!decode::WritePreviewPng(file, inks, static_cast<std::uint32_t>(job.width),
                                     static_cast<std::uint32_t>(height), &invalid, &message)) {
            std::fprintf(stderr, "inkrow-page: %s\n", message.c_str());
            return false;
        }
        std::printf("wrote preview %s (%d x %llu)\n", path.c_str(), job.width,
                    static_cast<unsigned long long>(height));
    }
    return true;
}

}  // namespace inkrow::page
