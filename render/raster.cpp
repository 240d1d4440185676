// RenderRaster: page lines from the caller's pixels to the module's packed planes, each
// with its inked extents, as RasterBands: one line at a time for the public call, a batch
// of lines at a time for the job (raster_batch.h), so that its threads meet once a batch.

#include <cstring>
#include <new>
#include <vector>

#include "halftone.h"
#include "inkrow/render.h"
#include "raster_batch.h"
#include "separation.h"
#include "worker_pool.h"

using inkrow::render::InkedRange;
using inkrow::render::kMaxShares;

struct RenderRaster {
    RenderRasterOptions options{};
    RenderMode mode{};
    int lineNumber = 0;
    inkrow::render::Separation separation{};
    // Per line of a batch, its four process rows, one after the other.
    std::vector<std::uint16_t> process;
    // A batch is shared out between threads twice: its lines for the separation, then
    // its planes, a dark ink always with its light partner (which reads what the dark ink
    // printed), for halftoning and packing, line after line. Each plane's work depends
    // only on its own state, so the stream is the same whatever the number of threads.
    int shares = 1;
    int shareOf[RENDER_MAX_PLANES] = {};
    inkrow::render::WorkerPool pool;
    std::vector<std::uint8_t> levels[kMaxShares];  // per share; zero between lines
    // Per plane, the levels it printed on the current line, kept for its light partner
    // (zero outside what the line printed), and which plane is the partner to avoid.
    std::vector<std::uint8_t> printed[RENDER_MAX_PLANES];
    InkedRange printedRange[RENDER_MAX_PLANES];
    int avoids[RENDER_MAX_PLANES];
    bool avoided[RENDER_MAX_PLANES] = {};  // some plane avoids this one: keep what it printed
    // Per plane, two batches' packed lines: a batch's bands stay valid through the next
    // batch, so that the job can hand one batch to the module while the next is halftoned.
    std::vector<std::uint8_t> lines[RENDER_MAX_PLANES];
    int lineSet = 0;  // which of the two the next batch fills
    std::size_t lineBytes[RENDER_MAX_PLANES] = {};
    inkrow::render::DiffusionState diffusion[RENDER_MAX_PLANES];
    ~RenderRaster() { inkrow::render::StopWorkerPool(&pool); }
};

namespace {

int ChannelsOf(int colorSpace) {
    switch (colorSpace) {
        case RENDER_GRAY8:
        case RENDER_RGB8:
        case RENDER_CMYK8:
            return colorSpace;
        default:
            return 0;
    }
}

// Each plane reads the threshold matrices at its own offset, so that inks laid over each
// other do not put their dots in the same places: steps that share no factor with the
// matrices' sides, so that no two of sixteen planes meet.
int MatrixOffsetOf(int plane) {
    return inkrow::render::MakeMatrixOffset(plane * 105, plane * 167);
}

// RENDER_OK and *mode filled, or the status that opening with these options returns.
int ValidateRasterOptions(const RenderRasterOptions* options, RenderMode* mode) {
    if (options == nullptr) return RENDER_BAD_ARGUMENT;
    if (ChannelsOf(options->colorSpace) == 0) return RENDER_BAD_ARGUMENT;
    if (options->halftone != RENDER_DIFFUSION && options->halftone != RENDER_ORDERED)
        return RENDER_BAD_ARGUMENT;
    if (options->width <= 0 || options->width > RENDER_MAX_WIDTH) return RENDER_BAD_WIDTH;
    if (options->threads < 0) return RENDER_BAD_ARGUMENT;
    return RenderDescribeMode(&options->mode, mode);
}

// Gives each plane a share (thread) for its halftoning: a light ink goes with its dark
// partner, and the pairs and single planes go, largest first, to the least loaded share.
void ShareOutPlanes(RenderRaster* raster, int wanted) {
    const int count = raster->mode.planeCount;
    int root[RENDER_MAX_PLANES];
    int size[RENDER_MAX_PLANES] = {};
    int groups = 0;
    for (int i = 0; i < count; ++i) {
        root[i] = raster->avoids[i] >= 0 ? root[raster->avoids[i]] : i;
        if (size[root[i]]++ == 0) ++groups;
    }
    raster->shares = wanted < groups ? wanted : groups;
    if (raster->shares < 1) raster->shares = 1;
    int load[kMaxShares] = {};
    for (int want = RENDER_MAX_PLANES; want > 0; --want) {
        for (int i = 0; i < count; ++i) {
            if (root[i] != i || size[i] != want) continue;
            int least = 0;
            for (int share = 1; share < raster->shares; ++share)
                if (load[share] < load[least]) least = share;
            load[least] += want;
            raster->shareOf[i] = least;
        }
    }
    for (int i = 0; i < count; ++i)
        raster->shareOf[i] = raster->shareOf[root[i]];
}

// One batch's work, as the shares see it.
struct BatchWork {
    RenderRaster* raster = nullptr;
    const std::uint8_t* pixels = nullptr;  // count lines, one after the other
    int count = 0;
    RasterBand* bands = nullptr;
    int first[kRenderBatchLines] = {};  // each line's separated range
    int end[kRenderBatchLines] = {};
    int anyInk[kMaxShares][kRenderBatchLines] = {};  // per share, so shares never share a word
};

std::uint16_t* ProcessRow(RenderRaster* raster, int line, int ink) {
    return raster->process.data() + static_cast<std::size_t>(line * 4 + ink) *
                                        static_cast<std::size_t>(raster->options.width);
}

// Lines share, share + shares, ... of the batch.
void SeparateLines(void* context, int share) {
    auto* work = static_cast<BatchWork*>(context);
    RenderRaster* raster = work->raster;
    const std::size_t lineLength = static_cast<std::size_t>(raster->options.width) *
                                   static_cast<std::size_t>(ChannelsOf(raster->options.colorSpace));
    for (int j = share; j < work->count; j += raster->shares) {
        std::uint16_t* process[4] = {ProcessRow(raster, j, 0), ProcessRow(raster, j, 1),
                                     ProcessRow(raster, j, 2), ProcessRow(raster, j, 3)};
        inkrow::render::SeparateLine(
            raster->separation, work->pixels + static_cast<std::size_t>(j) * lineLength,
            raster->options.width, process, &work->first[j], &work->end[j]);
    }
}

// The share's planes, line after line of the batch.
void HalftonePlanes(void* context, int share) {
    auto* work = static_cast<BatchWork*>(context);
    RenderRaster* raster = work->raster;
    const int width = raster->options.width;
    std::uint8_t* levels = raster->levels[share].data();
    for (int j = 0; j < work->count; ++j) {
        const int y = raster->lineNumber + j;
        const int first = work->first[j];
        const int end = work->end[j];
        // In plane order, so that a dark ink is halftoned before its light partner reads it.
        for (int i = 0; i < raster->mode.planeCount; ++i) {
            if (raster->shareOf[i] != share) continue;
            // What the plane printed on the line before is no longer wanted.
            const bool keeps = raster->avoided[i];
            InkedRange& kept = raster->printedRange[i];
            if (keeps && kept.end > kept.first)
                std::memset(raster->printed[i].data() + kept.first, 0,
                            static_cast<std::size_t>(kept.end - kept.first));
            kept = InkedRange{};
            const RenderPlaneInfo& plane = raster->mode.planes[i];
            const inkrow::render::PlaneRecipe& recipe = raster->separation.recipes[i];
            const std::uint16_t* source = ProcessRow(raster, j, recipe.source);
            const std::uint16_t* table = recipe.table.data();
            const InkedRange range =
                raster->options.halftone == RENDER_ORDERED
                    ? inkrow::render::OrderLine(source, table, first, end, plane.levels, y,
                                                MatrixOffsetOf(i), levels)
                    : inkrow::render::DiffuseLine(&raster->diffusion[i], source, table, first, end,
                                                  plane.levels, y, MatrixOffsetOf(i),
                                                  raster->avoids[i] >= 0
                                                      ? raster->printed[raster->avoids[i]].data()
                                                      : nullptr,
                                                  levels);
            if (range.end <= range.first) {
                // No ink: pixels stays null, start == end. Levels may hold zeros only.
                continue;
            }
            if (keeps) {
                std::memcpy(raster->printed[i].data() + range.first, levels + range.first,
                            static_cast<std::size_t>(range.end - range.first));
                kept = range;
            }
            if (plane.split != 0) {
                for (int x = range.first; x < range.end; ++x)
                    levels[x] = plane.levelValues[levels[x]];
            }
            std::uint8_t* line = raster->lines[i].data() +
                                 static_cast<std::size_t>(raster->lineSet * kRenderBatchLines + j) *
                                     raster->lineBytes[i];
            inkrow::render::PackLevels(levels, range.first, range.end, width, plane.bitsPerPixel,
                                       line);
            std::memset(levels + range.first, 0, static_cast<std::size_t>(range.end - range.first));
            BandPlane& entry = work->bands[j].bandPlanes[i];  // at most 7 planes
            entry.pixels = line;
            entry.start = static_cast<int16_t>(range.first);
            entry.end = static_cast<int16_t>(range.end);
            entry.trail = 0;
            work->anyInk[share][j] = 1;
        }
    }
}

}  // namespace

extern "C" {

void RenderRasterOptionsInit(RenderRasterOptions* options) {
    if (options == nullptr) return;
    *options = RenderRasterOptions{};
    options->mode.qualityCode = 10;
    options->mode.resolution = 600;
    options->colorSpace = RENDER_RGB8;
    options->halftone = RENDER_DIFFUSION;
}

int RenderRasterOpen(const RenderRasterOptions* options, RenderRaster** raster) {
    if (raster == nullptr) return RENDER_BAD_ARGUMENT;
    *raster = nullptr;
    RenderMode mode{};
    const int status = ValidateRasterOptions(options, &mode);
    if (status != RENDER_OK) return status;
    auto* made = new (std::nothrow) RenderRaster;
    if (made == nullptr) return RENDER_NO_MEMORY;
    made->options = *options;
    made->mode = mode;
    const auto width = static_cast<std::size_t>(options->width);
    inkrow::render::BuildSeparation(mode, options->colorSpace, options->color, &made->separation);
    made->process.assign(width * 4 * kRenderBatchLines, 0);
    for (int i = 0; i < mode.planeCount; ++i) {
        made->avoids[i] = -1;
        const char ink = mode.planes[i].ink;
        if (ink == 'c' || ink == 'm' || ink == 'k') {
            for (int d = 0; d < i; ++d)
                if (mode.planes[d].ink == ink - 'a' + 'A') made->avoids[i] = d;
            if (made->avoids[i] >= 0) made->avoided[made->avoids[i]] = true;
        }
        made->printed[i].assign(width, 0);
        made->lineBytes[i] =
            (width * static_cast<std::size_t>(mode.planes[i].bitsPerPixel) + 7) / 8;
        made->lines[i].assign(made->lineBytes[i] * 2 * kRenderBatchLines, 0);
        inkrow::render::ResetDiffusion(&made->diffusion[i], options->width);
    }
    ShareOutPlanes(made, inkrow::render::ChooseThreadCount(options->threads));
    if (!inkrow::render::StartWorkerPool(&made->pool, made->shares))
        ShareOutPlanes(made, 1);  // no thread to be had: the same stream on this one
    for (int share = 0; share < made->shares; ++share)
        made->levels[share].assign(width + 8, 0);  // packing reads whole bytes past the end
    *raster = made;
    return RENDER_OK;
}

void RenderRasterClose(RenderRaster* raster) {
    delete raster;
}

const RenderMode* RenderRasterMode(const RenderRaster* raster) {
    return raster == nullptr ? nullptr : &raster->mode;
}

int RenderRasterStartPage(RenderRaster* raster) {
    if (raster == nullptr) return RENDER_BAD_ARGUMENT;
    raster->lineNumber = 0;
    for (int i = 0; i < raster->mode.planeCount; ++i)
        inkrow::render::ResetDiffusion(&raster->diffusion[i], raster->options.width);
    return RENDER_OK;
}

int RenderRasterLine(RenderRaster* raster, const uint8_t* pixels, size_t length, RasterBand* band,
                     int* inked) {
    if (raster == nullptr || pixels == nullptr || band == nullptr) return RENDER_BAD_ARGUMENT;
    const int width = raster->options.width;
    if (length != static_cast<std::size_t>(width) *
                      static_cast<std::size_t>(ChannelsOf(raster->options.colorSpace)))
        return RENDER_BAD_LINE;
    int anyInk = 0;
    const int status = RenderRasterLines(raster, pixels, 1, band, &anyInk);
    if (inked != nullptr) *inked = anyInk;
    return status;
}

}  // extern "C"

int RenderRasterLines(RenderRaster* raster, const std::uint8_t* pixels, int count,
                      RasterBand* bands, int* inked, BatchAsideFn aside, void* asideContext) {
    if (count < 1 || count > kRenderBatchLines) return RENDER_BAD_ARGUMENT;
    BatchWork work;
    work.raster = raster;
    work.pixels = pixels;
    work.count = count;
    work.bands = bands;
    inkrow::render::RunShares(&raster->pool, SeparateLines, &work);
    std::memset(bands, 0, sizeof *bands * static_cast<std::size_t>(count));
    for (int j = 0; j < count; ++j)
        bands[j].lineNumber = raster->lineNumber + j;
    inkrow::render::RunShares(&raster->pool, HalftonePlanes, &work, aside, asideContext);
    for (int j = 0; j < count; ++j) {
        inked[j] = 0;
        for (int share = 0; share < raster->shares; ++share)
            inked[j] |= work.anyInk[share][j];
    }
    raster->lineNumber += count;
    raster->lineSet ^= 1;
    return RENDER_OK;
}
