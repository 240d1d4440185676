// Microbenchmarks of the per-line raster work: the line code, the inked-span search, the
// direct intake (span search, edge masking and byte search), the code conversion and
// the two-bit split. Every line is one A4 line at 600 dpi, 4960 pixels, in three kinds
// of content:
//
//   dither  halftoned area: random pixels of a mid-grey, ink in almost every byte;
//   text    a line through text: short dense strokes between gaps, wide margins;
//   blank   no ink at all (most lines of most pages).
//
// Throughput is given in bytes of the input line per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/context.h"
#include "raster/intake.h"
#include "raster/span.h"
#include "raster/split.h"
#include "stream/line_code.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kLinePixels = 4960;  // 210 mm at 600 dpi
constexpr int kDither = 0;
constexpr int kText = 1;
constexpr int kBlank = 2;

const char* ContentName(int content) {
    return content == kDither ? "dither" : content == kText ? "text" : "blank";
}

// Pixel levels (0 .. levels - 1, 0 is no ink) of one line of the given content.
std::vector<unsigned> MakeLevels(int content, unsigned levels, std::uint32_t seed) {
    std::vector<unsigned> pixels(kLinePixels, 0);
    std::mt19937 random(seed);
    std::uniform_int_distribution<unsigned> level(1, levels - 1);
    if (content == kDither) {
        std::bernoulli_distribution ink(0.45);
        for (auto& p : pixels)
            p = ink(random) ? level(random) : 0;
    } else if (content == kText) {
        // 25 mm margins; words of 40..160 pixels with strokes of 3..8 pixels, 30..60
        // pixels between words.
        std::uniform_int_distribution<int> word(40, 160), gap(30, 60), stroke(3, 8);
        int x = 590;
        while (x < kLinePixels - 590) {
            const int end = std::min(x + word(random), kLinePixels - 590);
            while (x < end) {
                const int s = stroke(random);
                for (int k = 0; k < s && x < end; ++k)
                    pixels[x++] = level(random);
                x += stroke(random);
            }
            x += gap(random);
        }
    }
    return pixels;
}

Bytes PackLevels(const std::vector<unsigned>& levels, int bits) {
    const int ppb = 8 / bits;
    Bytes line((levels.size() + ppb - 1) / ppb, 0);
    for (std::size_t p = 0; p < levels.size(); ++p) {
        line[p / ppb] |= static_cast<std::uint8_t>(levels[p] << (8 - bits * (p % ppb + 1)));
    }
    return line;
}

void SetLabel(benchmark::State& state, int content, std::size_t bytes) {
    state.SetLabel(ContentName(content));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
}

// The whole two-bit line through the line code (the emission encodes only the inked
// bytes; the whole line is the upper bound).
void BM_PackBytes(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    const Bytes line = PackLevels(MakeLevels(content, 4, 1), 2);
    Bytes out(2 * line.size());
    for (auto _ : state) {
        const std::uint16_t n =
            inkrow::PackBytes(out.data(), line.data(), static_cast<std::uint16_t>(line.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    SetLabel(state, content, line.size());
}
BENCHMARK(BM_PackBytes)->Arg(kDither)->Arg(kText)->Arg(kBlank);

void BM_MeasurePackedBytes(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    const Bytes line = PackLevels(MakeLevels(content, 4, 1), 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            inkrow::MeasurePackedBytes(line.data(), static_cast<std::uint16_t>(line.size())));
    }
    SetLabel(state, content, line.size());
}
BENCHMARK(BM_MeasurePackedBytes)->Arg(kDither)->Arg(kText)->Arg(kBlank);

// The span search over a whole one-bit line, starting a few pixels into the line so
// that both ends are partial bytes.
void BM_InkedByteSpan(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    const Bytes line = PackLevels(MakeLevels(content, 2, 2), 1);
    for (auto _ : state) {
        std::int16_t first = 3;
        std::int16_t count = kLinePixels - 6;
        std::uint8_t edges[2];
        benchmark::DoNotOptimize(inkrow::InkedByteSpan(line.data(), 1, &first, &count, edges));
        benchmark::DoNotOptimize(first);
        benchmark::DoNotOptimize(count);
    }
    SetLabel(state, content, line.size());
}
BENCHMARK(BM_InkedByteSpan)->Arg(kDither)->Arg(kText)->Arg(kBlank);

// One one-bit plane through the direct intake: span search, masking, byte search and
// line stamps. The masking leaves the line as it is from the second call on.
void BM_IntakeDirectRows(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    Bytes line = PackLevels(MakeLevels(content, 2, 3), 1);
    auto context = std::make_unique<inkrow::OutputContext>();
    context->planeCount = 1;
    context->linesPerRow = 16;
    context->planes[0].pixelShift = 3;
    RasterBand band{};
    band.bandPlanes[0] = BandPlane{line.data(), kLinePixels, 0, 0, {}};
    for (auto _ : state) {
        inkrow::IntakeDirectRows(context.get(), &band);
        benchmark::DoNotOptimize(context->planes[0].currentLine);
        ++band.lineNumber;
    }
    SetLabel(state, content, line.size());
}
BENCHMARK(BM_IntakeDirectRows)->Arg(kDither)->Arg(kText)->Arg(kBlank);

// The conversion works in place, so every run starts from a fresh copy of the line;
// the copy (1240 bytes) is part of the time.
void BM_ConvertRowCodes(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    const Bytes line = PackLevels(MakeLevels(content, 3, 4), 2);
    Bytes work(line.size());
    for (auto _ : state) {
        std::memcpy(work.data(), line.data(), line.size());
        benchmark::DoNotOptimize(
            inkrow::ConvertRowCodes(work.data(), static_cast<std::uint16_t>(work.size())));
        benchmark::ClobberMemory();
    }
    SetLabel(state, content, line.size());
}
BENCHMARK(BM_ConvertRowCodes)->Arg(kDither)->Arg(kText)->Arg(kBlank);

// Six four-bit input lines into sixteen two-bit planes. The masking and clearing leave
// the inputs as they are from the second call on.
void BM_SplitTwoBitPlanes(benchmark::State& state) {
    const int content = static_cast<int>(state.range(0));
    std::vector<Bytes> inputs;
    for (int i = 0; i < 6; ++i) {
        inputs.push_back(PackLevels(MakeLevels(content, 16, 10 + static_cast<unsigned>(i)), 4));
    }
    std::vector<Bytes> rowBuffers(16, Bytes(inputs[0].size()));
    auto context = std::make_unique<inkrow::OutputContext>();
    context->planeCount = 16;
    context->linesPerRow = 16;
    for (int k = 0; k < 16; ++k) {
        context->planes[k].pixelShift = 2;
        context->planes[k].twoBitSplit = 1;
        context->rows[k].rowData = rowBuffers[k].data();
    }
    RasterBand band{};
    for (int i = 0; i < 6; ++i)
        band.bandPlanes[i] = BandPlane{inputs[i].data(), kLinePixels, 0, 0, {}};
    for (auto _ : state) {
        inkrow::SplitTwoBitPlanes(context.get(), &band);
        benchmark::ClobberMemory();
        ++band.lineNumber;
    }
    SetLabel(state, content, 6 * inputs[0].size());
}
BENCHMARK(BM_SplitTwoBitPlanes)->Arg(kDither)->Arg(kText)->Arg(kBlank);

}  // namespace

BENCHMARK_MAIN();
