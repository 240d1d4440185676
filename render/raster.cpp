// RenderRaster: one page line at a time from the caller's pixels to the module's packed
// planes, each with its inked extents, as a RasterBand.

#include <cstring>
#include <new>
#include <vector>

#include "halftone.h"
#include "inkrow/render.h"
#include "separation.h"

using inkrow::render::InkedRange;

struct RenderRaster {
    RenderRasterOptions options{};
    RenderMode mode{};
    int lineNumber = 0;
    inkrow::render::Separation separation{};
    std::vector<std::uint16_t> process[4];
    std::vector<std::uint8_t> levels;  // zero between lines
    // Per plane, the levels it printed on the current line, kept for its light partner
    // (zero outside what the line printed), and which plane is the partner to avoid.
    std::vector<std::uint8_t> printed[RENDER_MAX_PLANES];
    InkedRange printedRange[RENDER_MAX_PLANES];
    int avoids[RENDER_MAX_PLANES];
    std::vector<std::uint8_t> lines[RENDER_MAX_PLANES];
    inkrow::render::DiffusionState diffusion[RENDER_MAX_PLANES];
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
    return RenderDescribeMode(&options->mode, mode);
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
    for (auto& row : made->process)
        row.assign(width, 0);
    made->levels.assign(width + 8, 0);  // packing reads whole bytes past the end
    for (int i = 0; i < mode.planeCount; ++i) {
        made->avoids[i] = -1;
        const char ink = mode.planes[i].ink;
        if (ink == 'c' || ink == 'm' || ink == 'k') {
            for (int d = 0; d < i; ++d)
                if (mode.planes[d].ink == ink - 'a' + 'A') made->avoids[i] = d;
        }
        made->printed[i].assign(width, 0);
        made->lines[i].assign(
            (width * static_cast<std::size_t>(mode.planes[i].bitsPerPixel) + 7) / 8, 0);
        inkrow::render::ResetDiffusion(&made->diffusion[i], options->width);
    }
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
    std::uint16_t* process[4] = {raster->process[0].data(), raster->process[1].data(),
                                 raster->process[2].data(), raster->process[3].data()};
    int first = 0;
    int end = 0;
    inkrow::render::SeparateLine(raster->separation, pixels, width, process, &first, &end);

    std::memset(band, 0, sizeof *band);
    band->lineNumber = raster->lineNumber;
    int anyInk = 0;
    const int y = raster->lineNumber;
    std::uint8_t* levels = raster->levels.data();
    for (int i = 0; i < raster->mode.planeCount; ++i) {
        // What the plane printed on the line before is no longer wanted.
        InkedRange& kept = raster->printedRange[i];
        if (kept.end > kept.first)
            std::memset(raster->printed[i].data() + kept.first, 0,
                        static_cast<std::size_t>(kept.end - kept.first));
        kept = InkedRange{};
    }
    for (int i = 0; i < raster->mode.planeCount; ++i) {
        const RenderPlaneInfo& plane = raster->mode.planes[i];
        const inkrow::render::PlaneRecipe& recipe = raster->separation.recipes[i];
        const std::uint16_t* source = process[recipe.source];
        const std::uint16_t* table = recipe.table.data();
        const InkedRange range =
            raster->options.halftone == RENDER_ORDERED
                ? inkrow::render::OrderLine(source, table, first, end, plane.levels, y,
                                            MatrixOffsetOf(i), levels)
                : inkrow::render::DiffuseLine(
                      &raster->diffusion[i], source, table, first, end, plane.levels, y,
                      MatrixOffsetOf(i),
                      raster->avoids[i] >= 0 ? raster->printed[raster->avoids[i]].data() : nullptr,
                      levels);
        BandPlane& entry = band->bandPlanes[i];  // at most 7 planes: 6 split inputs, 7 direct
        if (range.end <= range.first) {
            // No ink: pixels stays null, start == end. Levels may hold zeros only.
            continue;
        }
        std::memcpy(raster->printed[i].data() + range.first, levels + range.first,
                    static_cast<std::size_t>(range.end - range.first));
        raster->printedRange[i] = range;
        if (plane.split != 0) {
            for (int x = range.first; x < range.end; ++x)
                levels[x] = plane.levelValues[levels[x]];
        }
        std::uint8_t* line = raster->lines[i].data();
        inkrow::render::PackLevels(levels, range.first, range.end, width, plane.bitsPerPixel, line);
        std::memset(levels + range.first, 0, static_cast<std::size_t>(range.end - range.first));
        entry.pixels = line;
        entry.start = static_cast<int16_t>(range.first);
        entry.end = static_cast<int16_t>(range.end);
        entry.trail = 0;
        anyInk = 1;
    }
    ++raster->lineNumber;
    if (inked != nullptr) *inked = anyInk;
    return RENDER_OK;
}

}  // extern "C"
