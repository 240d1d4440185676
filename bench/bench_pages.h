// Synthetic A4 pages at 600 dpi (4960 x 7016 pixels) for the line code and page
// benchmarks, one packed plane at a time, in the content classes that decide the line
// code's speed:
//
//   diffused  a smooth gradient, Floyd-Steinberg error diffusion to the plane's levels,
//             25 mm margins, blank top and bottom and a blank band across the middle;
//   ordered   the same gradient through an 8x8 ordered dither (Bayer matrix);
//   text      short strokes in words and lines of text, word, line and paragraph gaps,
//             the same margins;
//   blank     no ink at all.
//
// The variant changes the gradient's direction and the text's random words, so that
// the planes of one page differ.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "inkrow/output.h"

namespace benchpages {

constexpr int kWidth = 4960;   // 210 mm at 600 dpi
constexpr int kHeight = 7016;  // 297 mm at 600 dpi
constexpr int kSideMargin = 590;
constexpr int kTopMargin = 400;

enum class Content { kDiffused, kOrdered, kText, kBlank };

inline const char* ContentName(Content content) {
    switch (content) {
        case Content::kDiffused:
            return "diffused";
        case Content::kOrdered:
            return "ordered";
        case Content::kText:
            return "text";
        case Content::kBlank:
            return "blank";
    }
    return "?";
}

inline int LineBytes(int bits) {
    return (kWidth * bits + 7) / 8;
}

struct Plane {
    int bits = 2;
    int lineBytes = 0;
    std::vector<std::uint8_t> raster;  // kHeight lines of lineBytes, back to back
    const std::uint8_t* Line(int y) const {
        return raster.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(lineBytes);
    }
};

// Whether row y lies in the printed area of a photo page (outside the top and bottom
// margins and the blank band across the middle).
inline bool PhotoRow(int y) {
    const bool band = y >= kHeight * 45 / 100 && y < kHeight * 52 / 100;
    return y >= kTopMargin && y < kHeight - kTopMargin && !band;
}

// The gradient, 0 (no ink) .. 1, smooth in both directions.
inline double Gradient(int x, int y, int variant) {
    const double u = static_cast<double>(x - kSideMargin) / (kWidth - 2 * kSideMargin);
    const double v = static_cast<double>(y) / kHeight;
    const double angle = 0.6 * variant;
    const double t = u * std::cos(angle) + v * std::sin(angle);
    return std::clamp(0.5 + 0.48 * std::sin(3.0 * t + 1.7 * v + 0.4 * variant), 0.0, 1.0);
}

inline void PackLevel(std::uint8_t* line, int x, int bits, int level) {
    const int ppb = 8 / bits;
    line[x / ppb] |= static_cast<std::uint8_t>(level << (8 - bits * (x % ppb + 1)));
}

inline Plane MakePlane(Content content, int bits, int variant) {
    Plane plane;
    plane.bits = bits;
    plane.lineBytes = LineBytes(bits);
    plane.raster.assign(static_cast<std::size_t>(plane.lineBytes) * kHeight, 0);
    const int top = (1 << bits) - 1;  // the highest level
    const int x0 = kSideMargin;
    const int x1 = kWidth - kSideMargin;

    if (content == Content::kDiffused) {
        // Errors in units of one level step, carried to the next row.
        std::vector<double> error(kWidth + 2, 0.0), next(kWidth + 2, 0.0);
        for (int y = 0; y < kHeight; ++y) {
            std::fill(next.begin(), next.end(), 0.0);
            if (!PhotoRow(y)) {
                std::fill(error.begin(), error.end(), 0.0);
                continue;
            }
            std::uint8_t* line =
                plane.raster.data() + static_cast<std::size_t>(y) * plane.lineBytes;
            for (int x = x0; x < x1; ++x) {
                const double want = Gradient(x, y, variant) * top + error[x + 1];
                const int level = std::clamp(static_cast<int>(std::lround(want)), 0, top);
                const double e = want - level;
                error[x + 2] += e * 7 / 16;
                next[x] += e * 3 / 16;
                next[x + 1] += e * 5 / 16;
                next[x + 2] += e * 1 / 16;
                if (level != 0) PackLevel(line, x, bits, level);
            }
            std::swap(error, next);
        }
    } else if (content == Content::kOrdered) {
        static constexpr int kBayer[8][8] = {
            {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
            {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
            {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
            {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
        for (int y = 0; y < kHeight; ++y) {
            if (!PhotoRow(y)) continue;
            std::uint8_t* line =
                plane.raster.data() + static_cast<std::size_t>(y) * plane.lineBytes;
            for (int x = x0; x < x1; ++x) {
                const double want =
                    Gradient(x, y, variant) * top + (kBayer[y % 8][x % 8] + 0.5) / 64;
                const int level = std::clamp(static_cast<int>(want), 0, top);
                if (level != 0) PackLevel(line, x, bits, level);
            }
        }
    } else if (content == Content::kText) {
        // Lines of text 40 pixels high, 30 pixels apart, a paragraph gap of 120 pixels
        // after every eighth line; in each pixel row of a text line, words of 40..160
        // pixels made of strokes of 3..8 pixels, 30..60 pixels between words.
        std::mt19937 random(1234u + static_cast<unsigned>(variant));
        std::uniform_int_distribution<int> word(40, 160), gap(30, 60), stroke(3, 8);
        int y = kTopMargin;
        int textLine = 0;
        while (y + 40 < kHeight - kTopMargin) {
            for (int row = 0; row < 40; ++row) {
                std::uint8_t* line =
                    plane.raster.data() + static_cast<std::size_t>(y + row) * plane.lineBytes;
                int x = x0;
                while (x < x1) {
                    const int end = std::min(x + word(random), x1);
                    while (x < end) {
                        const int s = stroke(random);
                        for (int k = 0; k < s && x < end; ++k)
                            PackLevel(line, x++, bits, top);
                        x += stroke(random);
                    }
                    x += gap(random);
                }
            }
            y += 40 + 30;
            if (++textLine % 8 == 0) y += 120;
        }
    }
    return plane;
}

// One page from OutputOpen to OutputClose in the given print mode, every band through
// OutputProduceTwo and OutputComplete, then the flush. Adds the stream's length to
// *streamBytes; false when any call does not succeed.
inline bool RunBands(int quality, int media, int width, int dpi, std::vector<RasterBand>& bands,
                     std::uint64_t* streamBytes) {
    OutputHandle handle = nullptr;
    if (OutputOpen(&handle) != OUTPUT_OPENED) return false;
    JobParams job{};
    job.qualityCode = static_cast<std::int16_t>(quality);
    job.mediaCode = static_cast<std::int16_t>(media);
    job.pixelWidth = static_cast<std::int16_t>(width);
    PageParams pageParams{};
    pageParams.resolution = static_cast<std::int16_t>(dpi);
    bool ok = OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION) == OUTPUT_OK &&
              OutputInitPart(&handle, &pageParams) == OUTPUT_OK;
    auto sum = [&](void* list) {
        const auto* segments = static_cast<const SegmentList*>(list);
        for (int i = 0; i < segments->count; ++i)
            *streamBytes += segments->items[i].length;
    };
    for (RasterBand& band : bands) {
        if (!ok) break;
        void* list = nullptr;
        ok = OutputProduceTwo(&handle, &band, &list) == OUTPUT_OK;
        if (ok) sum(list);
        ok = ok && OutputComplete(&handle) == OUTPUT_OK;
    }
    void* list = nullptr;
    ok = ok && OutputFlush(&handle, &list) == OUTPUT_OK;
    if (ok) sum(list);
    ok = ok && OutputComplete(&handle) == OUTPUT_OK;
    OutputClose(&handle);
    return ok;
}

}  // namespace benchpages
