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

// The share of its process ink that a plane prints, before its tone curve: a dark ink
// with a light partner in the mode keeps the dark share, the partner the light share.
double ShareOf(const RenderMode& mode, char ink, double amount) {
    switch (ink) {
        case 'C':
        case 'M':
        case 'K': {
            const char light = static_cast<char>(ink - 'A' + 'a');
            return HasInk(mode, light) ? DarkShare(LightSplitOf(ink), amount) : amount;
        }
        case 'c':
        case 'm':
        case 'k': {
            const char dark = static_cast<char>(ink - 'a' + 'A');
            // Without its dark partner (k for black) the light ink prints it all.
            return HasInk(mode, dark) ? LightShare(LightSplitOf(dark), amount) : amount;
        }
        default:
            return amount;
    }
}

std::uint16_t ToAmount(double value) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(value, 0.0, 1.0) * kInkFull));
}

}  // namespace

void BuildSeparation(const RenderMode& mode, int colorSpace, Separation* separation) {
    separation->colorSpace = colorSpace;
    separation->blackInk = HasInk(mode, 'K') || HasInk(mode, 'k');
    separation->grayOnly = mode.planeCount == 1;
    for (int v = 0; v < 256; ++v)
        separation->byteToAmount[v] = static_cast<std::uint16_t>((v * kInkFull + 127) / 255);
    for (int a = 0; a <= kInkFull; ++a)
        separation->blackGeneration[a] = static_cast<std::uint16_t>(
            (static_cast<std::int64_t>(a) * a + kInkFull / 2) / kInkFull);
    for (int i = 0; i < mode.planeCount; ++i) {
        const char ink = mode.planes[i].ink;
        PlaneRecipe& recipe = separation->recipes[i];
        recipe.source = SourceOf(ink);
        recipe.table.resize(kInkFull + 1);
        for (int a = 0; a <= kInkFull; ++a) {
            const double asked = static_cast<double>(a) / kInkFull;
            const double share = ShareOf(mode, ink, asked);
            // No ink asked, none printed: the curve must not lift white.
            recipe.table[static_cast<std::size_t>(a)] =
                share <= 0.0 ? 0 : std::max<std::uint16_t>(1, ToAmount(ApplyToneCurve(ink, share)));
        }
    }
}

void SeparateLine(const Separation& separation, const std::uint8_t* pixels, int width,
                  std::uint16_t* process[4], int* first, int* end) {
    const std::uint16_t* toAmount = separation.byteToAmount;
    int inkedFirst = width;
    int inkedEnd = 0;
    for (int x = 0; x < width; ++x) {
        int c = 0;
        int m = 0;
        int y = 0;
        int k = 0;
        switch (separation.colorSpace) {
            case RENDER_GRAY8: {
                const int dark = toAmount[255 - pixels[x]];
                if (separation.grayOnly || separation.blackInk)
                    k = dark;
                else
                    c = m = y = dark;
                break;
            }
            case RENDER_RGB8: {
                const std::uint8_t* p = pixels + 3 * static_cast<std::size_t>(x);
                if (separation.grayOnly) {
                    const int luminance = (77 * p[0] + 151 * p[1] + 28 * p[2] + 128) >> 8;
                    k = toAmount[255 - luminance];
                    break;
                }
                c = toAmount[255 - p[0]];
                m = toAmount[255 - p[1]];
                y = toAmount[255 - p[2]];
                if (separation.blackInk) {
                    k = separation.blackGeneration[std::min({c, m, y})];
                    c -= k;
                    m -= k;
                    y -= k;
                }
                break;
            }
            default: {  // RENDER_CMYK8
                const std::uint8_t* p = pixels + 4 * static_cast<std::size_t>(x);
                c = toAmount[p[0]];
                m = toAmount[p[1]];
                y = toAmount[p[2]];
                k = toAmount[p[3]];
                if (separation.grayOnly) {
                    // Darkness of the colour the four inks would make, printed in black.
                    const int white = kInkFull - k;
                    const int r = (kInkFull - c) * white / kInkFull;
                    const int g = (kInkFull - m) * white / kInkFull;
                    const int b = (kInkFull - y) * white / kInkFull;
                    k = kInkFull - ((77 * r + 151 * g + 28 * b + 128) >> 8);
                    c = m = y = 0;
                } else if (!separation.blackInk) {
                    c = std::min(kInkFull, c + k);
                    m = std::min(kInkFull, m + k);
                    y = std::min(kInkFull, y + k);
                    k = 0;
                }
                break;
            }
        }
        process[kProcessCyan][x] = static_cast<std::uint16_t>(c);
        process[kProcessMagenta][x] = static_cast<std::uint16_t>(m);
        process[kProcessYellow][x] = static_cast<std::uint16_t>(y);
        process[kProcessBlack][x] = static_cast<std::uint16_t>(k);
        if ((c | m | y | k) != 0) {
            inkedFirst = std::min(inkedFirst, x);
            inkedEnd = x + 1;
        }
    }
    if (inkedEnd == 0) inkedFirst = 0;
    *first = inkedFirst;
    *end = inkedEnd;
}

}  // namespace inkrow::render
