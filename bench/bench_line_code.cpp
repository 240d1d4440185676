// The line code next to libtiff's PackBits encoder on whole 2-bit pages (4960 pixels,
// 1240 bytes a line, 7016 lines) in three content classes: error-diffused photo,
// ordered-dither photo and sparse text (see bench_pages.h).
//
// Both encoders take the same lines in the same process, in interleaved rounds: in
// every round each class goes through the line code and through libtiff, the order of
// the two alternating from round to round, so that a busy machine slows both alike.
// libtiff encodes the page as one strip of 7016 rows (its encoder works row by row), into
// its own buffer, written to a sink that discards it; the line code encodes line by line
// into one page-sized buffer.
//
//   bench_line_code [--rounds N]            timed rounds, then a table
//   bench_line_code --count CODER CLASS     one page, once, for callgrind (see README.md)
//
// CODER is packbytes, words (the portable run search), or libtiff; CLASS is diffused,
// ordered or text. CODER split (or split-plain, without SSSE3) instead runs the
// sixteen-ink split over a page of six 4-bit inputs of the class; CODER page runs a
// whole five-plane page of the class (or blank) through the entry points, and page-null
// a blank page handed over as null lines, which leaves the per-line framing alone.
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#endif

#include "bench_pages.h"
#include "core/context.h"
#include "inkrow/output.h"
#include "raster/split.h"
#include "stream/line_code.h"

namespace {

using benchpages::Content;
using benchpages::Plane;
using Clock = std::chrono::steady_clock;

constexpr int kBits = 2;

// ---- libtiff through an in-memory handle that discards what it writes ----

tsize_t DiscardRead(thandle_t, tdata_t, tsize_t) {
    return 0;
}
tsize_t DiscardWrite(thandle_t handle, tdata_t, tsize_t size) {
    *static_cast<toff_t*>(handle) += static_cast<toff_t>(size);
    return size;
}
toff_t DiscardSeek(thandle_t handle, toff_t offset, int whence) {
    auto* position = static_cast<toff_t*>(handle);
    if (whence == SEEK_SET) *position = offset;
    if (whence == SEEK_CUR) *position += offset;
    return *position;
}
int DiscardClose(thandle_t) {
    return 0;
}
toff_t DiscardSize(thandle_t handle) {
    return *static_cast<toff_t*>(handle);
}

void QuietTiff(const char*, const char*, va_list) {}

// Encodes the page with libtiff; returns the size of the strip it wrote.
__attribute__((noinline)) std::size_t EncodePageWithLibtiff(const Plane& plane) {
    toff_t position = 0;
    TIFF* tif = TIFFClientOpen("sink", "w", &position, DiscardRead, DiscardWrite, DiscardSeek,
                               DiscardClose, DiscardSize, nullptr, nullptr);
    if (tif == nullptr) return 0;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, benchpages::kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, benchpages::kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, kBits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, benchpages::kHeight);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const tsize_t written =
        TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(plane.raster.data()),
                              static_cast<tsize_t>(plane.raster.size()));
    TIFFClose(tif);
    return written < 0 ? 0 : position;
}

// Encodes the page line by line; returns the size of the code.
__attribute__((noinline)) std::size_t EncodePageWithPackBytes(const Plane& plane,
                                                              std::uint8_t* out) {
    std::size_t at = 0;
    const auto n = static_cast<std::uint16_t>(plane.lineBytes);
    for (int y = 0; y < benchpages::kHeight; ++y)
        at += inkrow::PackBytes(out + at, plane.Line(y), n);
    return at;
}

// The same with the portable run search, for comparison.
__attribute__((noinline)) std::size_t EncodePageWithWords(const Plane& plane, std::uint8_t* out) {
    std::size_t at = 0;
    const auto n = static_cast<std::uint16_t>(plane.lineBytes);
    for (int y = 0; y < benchpages::kHeight; ++y)
        at += inkrow::PackBytesWith(inkrow::RunSearch::kWords, out + at, plane.Line(y), n);
    return at;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t m = values.size() / 2;
    return values.size() % 2 != 0 ? values[m] : (values[m - 1] + values[m]) / 2;
}

const Content kClasses[] = {Content::kDiffused, Content::kOrdered, Content::kText};

// Six 4-bit inputs of a page (one drawing, six copies) through the sixteen-ink split,
// line by line; returns the input bytes.
__attribute__((noinline)) std::size_t SplitPage(std::vector<std::uint8_t>* inputs, int lineBytes,
                                                bool vector) {
    auto context = std::make_unique<inkrow::OutputContext>();
    std::vector<std::vector<std::uint8_t>> rows(
        16, std::vector<std::uint8_t>(static_cast<std::size_t>(lineBytes)));
    context->planeCount = 16;
    context->linesPerRow = 16;
    for (int k = 0; k < 16; ++k) {
        context->planes[k].pixelShift = 2;
        context->planes[k].twoBitSplit = 1;
        context->rows[k].rowData = rows[static_cast<std::size_t>(k)].data();
    }
    std::size_t bytes = 0;
    for (int y = 0; y < benchpages::kHeight; ++y) {
        RasterBand band{};
        band.lineNumber = y;
        for (int i = 0; i < 6; ++i) {
            band.bandPlanes[i] =
                BandPlane{inputs[i].data() +
                              static_cast<std::size_t>(y) * static_cast<std::size_t>(lineBytes),
                          benchpages::kWidth,
                          0,
                          0,
                          {}};
        }
        inkrow::SplitTwoBitPlanesWith(context.get(), &band, vector);
        bytes += 6 * static_cast<std::size_t>(lineBytes);
    }
    return bytes;
}

// The five planes of mode q10 m1 (CMYKk): bits per pixel; K (index 3) is 1-bit.
constexpr int kPageBits[5] = {2, 2, 2, 1, 2};
constexpr int kPageK = 3;

// One page from OutputOpen to OutputClose, every line through OutputProduceTwo and
// OutputComplete; returns the bytes of the stream, 0 on a failed call.
__attribute__((noinline)) std::size_t RunPage(std::vector<RasterBand>& bands) {
    std::uint64_t bytes = 0;
    const bool ok = benchpages::RunBands(10, 1, benchpages::kWidth, 600, bands, &bytes);
    return ok ? static_cast<std::size_t>(bytes) : 0;
}

int CountPage(const std::string& coder, Content content) {
    const bool null = coder == "page-null";
    std::vector<Plane> planes;
    for (int i = 0; i < 5; ++i) {
        const Content drawn = content == Content::kText && i != kPageK ? Content::kBlank : content;
        planes.push_back(benchpages::MakePlane(drawn, kPageBits[i], i));
    }
    std::vector<RasterBand> bands(benchpages::kHeight);
    for (int y = 0; y < benchpages::kHeight; ++y) {
        bands[y].lineNumber = y;
        for (int i = 0; i < 5; ++i) {
            bands[y].bandPlanes[i] =
                BandPlane{null ? nullptr : const_cast<std::uint8_t*>(planes[i].Line(y)),
                          static_cast<std::int16_t>(benchpages::kWidth),
                          static_cast<std::int16_t>(null ? benchpages::kWidth : 0),
                          0,
                          {}};
        }
    }
    std::size_t raster = 0;
    for (const Plane& plane : planes)
        raster += plane.raster.size();
    CALLGRIND_START_INSTRUMENTATION;
    const std::size_t out = RunPage(bands);
    std::printf("%s %s: %zu raster bytes, %d lines, %zu bytes out\n", coder.c_str(),
                benchpages::ContentName(content), raster, benchpages::kHeight, out);
    return out > 0 ? 0 : 1;
}

int Count(const std::string& coder, const std::string& name) {
    if (coder == "page" || coder == "page-null") {
        for (Content content :
             {Content::kDiffused, Content::kOrdered, Content::kText, Content::kBlank}) {
            if (name == benchpages::ContentName(content)) return CountPage(coder, content);
        }
    }
    for (Content content : kClasses) {
        if (name != benchpages::ContentName(content)) continue;
        if (coder == "split" || coder == "split-plain") {
            const Plane plane = benchpages::MakePlane(content, 4, 0);
            std::vector<std::uint8_t> inputs[6];
            for (auto& input : inputs)
                input = plane.raster;
            CALLGRIND_START_INSTRUMENTATION;
            const std::size_t bytes = SplitPage(inputs, plane.lineBytes, coder == "split");
            std::printf("%s %s: %zu bytes in\n", coder.c_str(), name.c_str(), bytes);
            return 0;
        }
        const Plane plane = benchpages::MakePlane(content, kBits, 0);
        std::vector<std::uint8_t> out(2 * plane.raster.size() + 16);
        // Under callgrind --instr-atstart=no the page is drawn at full speed.
        CALLGRIND_START_INSTRUMENTATION;
        std::size_t size = 0;
        if (coder == "packbytes") size = EncodePageWithPackBytes(plane, out.data());
        if (coder == "words") size = EncodePageWithWords(plane, out.data());
        if (coder == "libtiff") size = EncodePageWithLibtiff(plane);
        std::printf("%s %s: %zu bytes in, %zu out\n", coder.c_str(), name.c_str(),
                    plane.raster.size(), size);
        return size > 0 ? 0 : 1;
    }
    std::fprintf(stderr, "unknown class %s\n", name.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TIFFSetWarningHandler(QuietTiff);
    int rounds = 9;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--rounds" && a + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++a]));
        } else if (arg == "--count" && a + 2 < argc) {
            return Count(argv[a + 1], argv[a + 2]);
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N] | --count CODER CLASS\n", argv[0]);
            return 2;
        }
    }

    struct Result {
        Content content;
        Plane plane;
        std::vector<double> pack, words, tiff, ratio;
        std::size_t packSize = 0, tiffSize = 0;
    };
    std::vector<Result> results;
    for (Content content : kClasses)
        results.push_back({content, benchpages::MakePlane(content, kBits, 0), {}, {}, {}, {}});
    std::vector<std::uint8_t> out(2 * results[0].plane.raster.size() + 16);

    for (int r = 0; r < rounds; ++r) {
        for (Result& result : results) {
            double pack = 0, tiff = 0;
            auto runPack = [&] {
                const auto t0 = Clock::now();
                result.packSize = EncodePageWithPackBytes(result.plane, out.data());
                pack = Seconds(Clock::now() - t0);
            };
            auto runTiff = [&] {
                const auto t0 = Clock::now();
                result.tiffSize = EncodePageWithLibtiff(result.plane);
                tiff = Seconds(Clock::now() - t0);
            };
            if (r % 2 == 0) {
                runPack();
                runTiff();
            } else {
                runTiff();
                runPack();
            }
            const auto t0 = Clock::now();
            EncodePageWithWords(result.plane, out.data());
            result.words.push_back(Seconds(Clock::now() - t0));
            result.pack.push_back(pack);
            result.tiff.push_back(tiff);
            result.ratio.push_back(tiff / pack);
        }
    }

    std::printf("%d rounds, one 2-bit A4 page at 600 dpi (%d x %d pixels, %.2f MB) per class\n",
                rounds, benchpages::kWidth, benchpages::kHeight,
                static_cast<double>(results[0].plane.raster.size()) / 1e6);
    std::printf("%-9s %12s %12s %12s %16s %12s %12s\n", "class", "PackBytes", "words", "libtiff",
                "x libtiff", "code MB", "libtiff MB");
    for (const Result& result : results) {
        const double bytes = static_cast<double>(result.plane.raster.size());
        const auto [low, high] = std::minmax_element(result.ratio.begin(), result.ratio.end());
        std::printf("%-9s %8.2f GB/s %7.2f GB/s %7.2f GB/s %5.2fx (%.2f-%.2f) %12.3f %12.3f\n",
                    benchpages::ContentName(result.content), bytes / Median(result.pack) / 1e9,
                    bytes / Median(result.words) / 1e9, bytes / Median(result.tiff) / 1e9,
                    Median(result.ratio), *low, *high, static_cast<double>(result.packSize) / 1e6,
                    static_cast<double>(result.tiffSize) / 1e6);
    }
    return 0;
}
