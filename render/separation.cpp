#include "separation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace inkrow::render {
namespace {

bool HasInk(const RenderMode& mode, char ink) {
    for (int i = 0; i < mode.planeCount; ++i)
        if (mode.planes[i].ink == ink) return true;
    return false;
}

int SourceOf(char ink) {
    switch (ink) {
        case 'C':
        case 'c':
            return kProcessCyan;
        case 'M':
        case 'm':
            return kProcessMagenta;
        case 'Y':
            return kProcessYellow;
        default:
            return kProcessBlack;
    }
}

std::uint16_t ToAmount(double value) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(value, 0.0, 1.0) * kInkFull));
}

}  // namespace

void BuildSeparation(const RenderMode& mode, int colorSpace, const RenderColor* color,
                     Separation* separation) {
    separation->colorSpace = colorSpace;
    separation->color = color;
    const bool raw = ColorRawInks(color);
    separation->grayOnly = mode.planeCount == 1;
    separation->compositeBlack = !separation->grayOnly && !HasInk(mode, 'K');
    for (auto& table : separation->composite)
        table.clear();
    for (int v = 0; v < 256; ++v)
        separation->byteToAmount[v] = static_cast<std::uint16_t>((v * kInkFull + 127) / 255);
    for (int a = 0; a <= kInkFull; ++a)
        separation->blackGeneration[a] = static_cast<std::uint16_t>(
            (static_cast<std::int64_t>(a) * a + kInkFull / 2) / kInkFull);
    LightSplit splits[3];  // cyan, magenta, black; built when a pair needs them
    const auto splitOf = [&](char dark) -> const LightSplit& {
        LightSplit& split = splits[dark == 'C' ? 0 : (dark == 'M' ? 1 : 2)];
        if (split.dark.empty()) BuildLightSplit(dark, raw, &split);
        return split;
    };
    int lightBlackPlane = -1;
    for (int i = 0; i < mode.planeCount; ++i) {
        const char ink = mode.planes[i].ink;
        PlaneRecipe& recipe = separation->recipes[i];
        recipe.source = SourceOf(ink);
        const bool dark = ink == 'C' || ink == 'M' || ink == 'K';
        const bool light = ink == 'c' || ink == 'm' || ink == 'k';
        const char partner = static_cast<char>(dark ? ink - 'A' + 'a' : ink - 'a' + 'A');
        if ((dark || light) && HasInk(mode, partner)) {
            const LightSplit& split = splitOf(dark ? ink : partner);
            recipe.table = dark ? split.dark : split.light;
            continue;
        }
        if (ink == 'k') {
            lightBlackPlane = i;  // no K: the composite black sets its share below
            recipe.table.assign(kInkFull + 1, 0);
            continue;
        }
        recipe.table.resize(kInkFull + 1);
        for (int a = 0; a <= kInkFull; ++a) {
            const double asked = static_cast<double>(a) / kInkFull;
            // No ink asked, none printed: the curve must not lift white.
            recipe.table[static_cast<std::size_t>(a)] =
                a == 0 ? 0
                       : std::max<std::uint16_t>(
                             1, ToAmount(raw ? asked : ApplyToneCurve(ink, asked)));
        }
    }
    // Colour management serves colour inks; the black-only configuration keeps its
    // luminance.
    separation->transforms = !separation->grayOnly && ColorTransforms(color, colorSpace);
    // A transform carries the calibration in it.
    separation->calibrates =
        !separation->grayOnly && !separation->transforms && ColorCalibrates(color);
    if (separation->compositeBlack) {
        std::vector<std::uint16_t> lightBlack;
        BuildCompositeBlack(mode, *separation, separation->composite, &lightBlack);
        if (lightBlackPlane >= 0) separation->recipes[lightBlackPlane].table = lightBlack;
    }
}

namespace {

struct Inks {
    int c, m, y, k;
};

// Without a K ink, black also becomes cyan, magenta and yellow; the black amount stays
// for the light black plane, whose table holds its share.
void AddCompositeBlack(const Separation& separation, Inks* inks) {
    const auto k = static_cast<std::size_t>(inks->k);
    inks->c = std::min(kInkFull, inks->c + separation.composite[0][k]);
    inks->m = std::min(kInkFull, inks->m + separation.composite[1][k]);
    inks->y = std::min(kInkFull, inks->y + separation.composite[2][k]);
}

// One pixel's process amounts by the formula, before black is made composite; Space is
// fixed per line, so each case compiles to its own loop.
template <int Space>
Inks SeparatePixel(const Separation& separation, const std::uint8_t* p) {
    const std::uint16_t* toAmount = separation.byteToAmount;
    Inks inks{0, 0, 0, 0};
    if constexpr (Space == RENDER_GRAY8) {
        inks.k = toAmount[255 - p[0]];
    } else if constexpr (Space == RENDER_RGB8) {
        if (separation.grayOnly) {
            const int luminance = (77 * p[0] + 151 * p[1] + 28 * p[2] + 128) >> 8;
            inks.k = toAmount[255 - luminance];
            return inks;
        }
        inks.c = toAmount[255 - p[0]];
        inks.m = toAmount[255 - p[1]];
        inks.y = toAmount[255 - p[2]];
        inks.k = separation.blackGeneration[std::min({inks.c, inks.m, inks.y})];
        inks.c -= inks.k;
        inks.m -= inks.k;
        inks.y -= inks.k;
    } else {
        inks.c = toAmount[p[0]];
        inks.m = toAmount[p[1]];
        inks.y = toAmount[p[2]];
        inks.k = toAmount[p[3]];
        if (separation.grayOnly) {
            // Darkness of the colour the four inks would make, printed in black.
            const int white = kInkFull - inks.k;
            const int r = (kInkFull - inks.c) * white / kInkFull;
            const int g = (kInkFull - inks.m) * white / kInkFull;
            const int b = (kInkFull - inks.y) * white / kInkFull;
            inks = {0, 0, 0, kInkFull - ((77 * r + 151 * g + 28 * b + 128) >> 8)};
        }
    }
    return inks;
}

template <int Space>
void SeparateRun(const Separation& separation, const std::uint8_t* pixels, int width,
                 std::uint16_t* process[4], int* first, int* end) {
    // White margins are common and cost one comparison a pixel.
    int x = 0;
    const auto isWhite = [&](int at) {
        const std::uint8_t* p = pixels + static_cast<std::size_t>(at) * Space;
        if constexpr (Space == RENDER_CMYK8)
            return (p[0] | p[1] | p[2] | p[3]) == 0;
        else if constexpr (Space == RENDER_RGB8)
            return (p[0] & p[1] & p[2]) == 255;
        else
            return p[0] == 255;
    };
    while (x < width && isWhite(x))
        ++x;
    int last = width - 1;
    while (last >= x && isWhite(last))
        --last;
    std::uint16_t* c = process[kProcessCyan];
    std::uint16_t* m = process[kProcessMagenta];
    std::uint16_t* y = process[kProcessYellow];
    std::uint16_t* k = process[kProcessBlack];
    // Under colour management a transform makes the amounts of a chunk of pixels first.
    constexpr int kChunk = 256;
    std::uint16_t corrected[kChunk * 4];
    int chunkStart = x;
    for (int at = x; at <= last; ++at) {
        const std::uint8_t* pixel = pixels + static_cast<std::size_t>(at) * Space;
        Inks inks;
        if (separation.transforms) {
            if (at == x || at - chunkStart == kChunk) {
                chunkStart = at;
                CorrectRun(separation.color, Space, pixel, std::min(kChunk, last + 1 - at),
                           corrected);
            }
            const std::uint16_t* amounts = corrected + (at - chunkStart) * 4;
            inks = {amounts[0], amounts[1], amounts[2], amounts[3]};
        } else {
            inks = SeparatePixel<Space>(separation, pixel);
        }
        if (separation.calibrates) Calibrate(separation.color, &inks.c, &inks.m, &inks.y, &inks.k);
        if (separation.compositeBlack) AddCompositeBlack(separation, &inks);
        c[at] = static_cast<std::uint16_t>(inks.c);
        m[at] = static_cast<std::uint16_t>(inks.m);
        y[at] = static_cast<std::uint16_t>(inks.y);
        k[at] = static_cast<std::uint16_t>(inks.k);
    }
    if (last < x) {
        *first = *end = 0;
        return;
    }
    *first = x;
    *end = last + 1;
}

}  // namespace

void SeparateLine(const Separation& separation, const std::uint8_t* pixels, int width,
                  std::uint16_t* process[4], int* first, int* end) {
    switch (separation.colorSpace) {
        case RENDER_GRAY8:
            SeparateRun<RENDER_GRAY8>(separation, pixels, width, process, first, end);
            break;
        case RENDER_RGB8:
            SeparateRun<RENDER_RGB8>(separation, pixels, width, process, first, end);
            break;
        default:
            SeparateRun<RENDER_CMYK8>(separation, pixels, width, process, first, end);
            break;
    }
}

}  // namespace inkrow::render
