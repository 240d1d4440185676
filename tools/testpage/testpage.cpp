// The test page's layout and rendering (testpage.h).
#include "testpage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace testpage {

namespace {

// --- The font -------------------------------------------------------------------------

struct Glyph {
    char character;
    std::uint8_t rows[7];  // bit 4 is the leftmost pixel
};

// clang-format off
constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}}, {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}}, {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}}, {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
};
// clang-format on

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;

// The glyph of a character; lower-case letters without a glyph of their own use the
// capital. Null for a space or an unknown character.
const Glyph* FindGlyph(char character) {
    for (const Glyph& glyph : kGlyphs)
        if (glyph.character == character) return &glyph;
    if (character >= 'a' && character <= 'z') return FindGlyph(static_cast<char>(character - 32));
    return nullptr;
}

// Width in pixels of a text at a glyph scale.
int TextWidth(const std::string& text, int scale) {
    return static_cast<int>(text.size()) * kGlyphAdvance * scale;
}

// --- The layout -----------------------------------------------------------------------

unsigned PlaneMask(const PlaneSetup& setup, char ink) {
    for (int i = 0; i < setup.count; ++i)
        if (setup.planes[i].ink == ink) return 1u << i;
    return 0;
}

// Planes for a set of ink letters; 0 unless every letter is there.
unsigned PlaneMaskOf(const PlaneSetup& setup, const char* inks) {
    unsigned mask = 0;
    for (const char* ink = inks; *ink != 0; ++ink) {
        const unsigned bit = PlaneMask(setup, *ink);
        if (bit == 0) return 0;
        mask |= bit;
    }
    return mask;
}

// Where black goes: the K plane, else the k plane, else composite CMY.
unsigned BlackMask(const PlaneSetup& setup) {
    if (const unsigned k = PlaneMask(setup, 'K')) return k;
    if (const unsigned k = PlaneMask(setup, 'k')) return k;
    if (const unsigned cmy = PlaneMaskOf(setup, "CMY")) return cmy;
    return setup.count > 0 ? 1u : 0u;
}

// A small deterministic generator, so every run draws the same page.
std::uint32_t NextRandom(std::uint32_t* state) {
    std::uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

// Lines of pseudo-text filling a column: words of random capitals, ragged right, and
// paragraphs ending early now and then. Returns the y below the last line.
int AddTextColumn(Page* page, unsigned mask, unsigned headingMask, int x0, int x1, int y0, int y1,
                  int scale, std::uint32_t seed) {
    const int lineHeight = kGlyphHeight * scale;
    const int pitch = lineHeight * 12 / 7;
    const int columnChars = (x1 - x0) / (kGlyphAdvance * scale);
    std::uint32_t random = seed;
    int y = y0;
    bool heading = true;
    while (y + lineHeight <= y1) {
        if (heading) {
            Element element;
            element.fill = Fill::kText;
            element.inkMask = headingMask;
            element.scale = scale;
            element.text = "SECTION " + std::to_string(NextRandom(&random) % 90 + 10);
            element.x0 = x0;
            element.x1 = x1;
            element.y0 = y;
            element.y1 = y + lineHeight;
            page->elements.push_back(element);
            y += pitch;
            heading = false;
            continue;
        }
        const bool lastOfParagraph = NextRandom(&random) % 6 == 0;
        const int wanted =
            lastOfParagraph
                ? columnChars / 3 + static_cast<int>(NextRandom(&random) % (columnChars / 2 + 1))
                : columnChars;
        std::string line;
        while (true) {
            const int length = 1 + static_cast<int>(NextRandom(&random) % 9);
            if (static_cast<int>(line.size()) + length > wanted) break;
            for (int i = 0; i < length; ++i)
                line.push_back(static_cast<char>('A' + NextRandom(&random) % 26));
            if (static_cast<int>(line.size()) + 1 < wanted) line.push_back(' ');
        }
        if (!line.empty()) {
            Element element;
            element.fill = Fill::kText;
            element.inkMask = mask;
            element.scale = scale;
            element.text = line;
            element.x0 = x0;
            element.x1 = x1;
            element.y0 = y;
            element.y1 = y + lineHeight;
            page->elements.push_back(element);
        }
        y += pitch;
        if (lastOfParagraph) {
            y += pitch;  // a blank line between paragraphs
            heading = NextRandom(&random) % 3 == 0;
        }
    }
    return y;
}

void AddElement(Page* page, Fill fill, unsigned mask, int x0, int y0, int x1, int y1,
                unsigned coverage = kFullCoverage, int period = 1, int thickness = 1) {
    if (mask == 0 || x1 <= x0 || y1 <= y0) return;
    Element element;
    element.fill = fill;
    element.inkMask = mask;
    element.x0 = x0;
    element.y0 = y0;
    element.x1 = x1;
    element.y1 = y1;
    element.coverage = coverage;
    element.period = period;
    element.thickness = thickness;
    page->elements.push_back(element);
}

void AddText(Page* page, unsigned mask, int x0, int y0, int scale, const std::string& text,
             int xLimit) {
    if (mask == 0 || text.empty()) return;
    Element element;
    element.fill = Fill::kText;
    element.inkMask = mask;
    element.scale = scale;
    element.text = text;
    element.x0 = x0;
    element.x1 = std::min(xLimit, x0 + TextWidth(text, scale));
    element.y0 = y0;
    element.y1 = y0 + kGlyphHeight * scale;
    if (element.x1 > element.x0) page->elements.push_back(element);
}

// --- Rendering ------------------------------------------------------------------------

constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

// Coverage to a level 0..maxLevel, ordered-dithered between neighbouring levels.
std::uint8_t Quantize(unsigned coverage, int maxLevel, int x, int y) {
    const unsigned scaled = coverage * static_cast<unsigned>(maxLevel);
    const unsigned base = scaled >> 16;
    const unsigned fraction = scaled & 0xFFFFu;
    const unsigned threshold = kBayer[y & 7][x & 7] * 1024u + 512u;
    return static_cast<std::uint8_t>(base + (fraction > threshold ? 1 : 0));
}

void FillSpan(std::uint8_t* levels, int from, int to, unsigned coverage, int maxLevel, int y) {
    if (coverage >= kFullCoverage) {
        std::memset(levels + from, maxLevel, static_cast<std::size_t>(to - from));
        return;
    }
    for (int x = from; x < to; ++x)
        levels[x] = Quantize(coverage, maxLevel, x, y);
}

void RenderElement(const Element& e, int y, int maxLevel, std::uint8_t* levels) {
    const auto level = static_cast<std::uint8_t>(maxLevel);
    switch (e.fill) {
        case Fill::kSolid:
            FillSpan(levels, e.x0, e.x1, e.coverage, maxLevel, y);
            break;
        case Fill::kRamp: {
            const auto span = static_cast<unsigned>(std::max(1, e.x1 - e.x0 - 1));
            for (int x = e.x0; x < e.x1; ++x) {
                const unsigned coverage = static_cast<unsigned>(x - e.x0) * kFullCoverage / span;
                levels[x] = Quantize(coverage, maxLevel, x, y);
            }
            break;
        }
        case Fill::kText: {
            const int row = (y - e.y0) / e.scale;
            for (std::size_t i = 0; i < e.text.size(); ++i) {
                const Glyph* glyph = FindGlyph(e.text[i]);
                if (glyph == nullptr) continue;
                const std::uint8_t bits = glyph->rows[row];
                for (int column = 0; column < kGlyphWidth; ++column) {
                    if ((bits & (0x10 >> column)) == 0) continue;
                    const int from =
                        e.x0 + (static_cast<int>(i) * kGlyphAdvance + column) * e.scale;
                    const int to = std::min(from + e.scale, e.x1);
                    if (from < to) FillSpan(levels, from, to, e.coverage, maxLevel, y);
                }
            }
            break;
        }
        case Fill::kVerticalLines:
            for (int x = e.x0; x < e.x1; x += e.period)
                for (int t = 0; t < e.thickness && x + t < e.x1; ++t)
                    levels[x + t] = level;
            break;
        case Fill::kHorizontalLines:
            if ((y - e.y0) % e.period < e.thickness)
                FillSpan(levels, e.x0, e.x1, e.coverage, maxLevel, y);
            break;
        case Fill::kFan: {
            const int centre = (e.x0 + e.x1) / 2;
            const long long reach =
                static_cast<long long>(y - e.y0) * (e.x1 - e.x0) / 2 / std::max(1, e.y1 - e.y0);
            for (int j = -e.period; j <= e.period; ++j) {
                const long long x = centre + reach * j / e.period;
                if (x >= e.x0 && x < e.x1) levels[x] = level;
            }
            break;
        }
        case Fill::kDots:
            if ((y - e.y0) % e.period == 0)
                for (int x = e.x0; x < e.x1; x += e.period)
                    levels[x] = level;
            break;
        case Fill::kChecker:
            for (int x = e.x0 + ((e.x0 + y) & 1); x < e.x1; x += 2)
                levels[x] = level;
            break;
    }
}

}  // namespace

std::vector<std::uint8_t> InkCodes(const RenderMode& mode) {
    std::uint8_t codes[RENDER_MAX_PLANES];
    const int count = RenderPrinterInks(&mode, codes);
    return {codes, codes + count};
}

PlaneSetup DescribeInputPlanes(const RenderMode& mode) {
    PlaneSetup setup;
    setup.split = mode.split != 0;
    setup.count = std::clamp(mode.planeCount, 0, kMaxInputPlanes);
    for (int i = 0; i < setup.count; ++i) {
        const RenderPlaneInfo& info = mode.planes[i];
        // The highest value worth drawing: split inputs take raw values up to 7 or 15.
        setup.planes[i] = {info.ink, info.bitsPerPixel, info.levelValues[info.levels - 1]};
    }
    return setup;
}

std::size_t LineBytes(int width, int bitsPerPixel) {
    return (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
}

int A4Width(int dpi) {
    return static_cast<int>(210.0 * dpi / 25.4);
}

int A4Height(int dpi) {
    return static_cast<int>(std::lround(297.0 * dpi / 25.4));
}

Page BuildPage(const PlaneSetup& setup, int width, int height, int dpi, const std::string& title,
               const std::string& subtitle) {
    Page page;
    page.width = width;
    page.height = height;
    page.dpi = dpi;
    page.setup = setup;
    const double sx = width / 210.0;
    const double sy = height / 297.0;
    auto X = [&](double mm) {
        return std::clamp(static_cast<int>(std::lround(mm * sx)), 0, width);
    };
    auto Y = [&](double mm) {
        return std::clamp(static_cast<int>(std::lround(mm * sy)), 0, height);
    };
    const unsigned black = BlackMask(setup);
    const unsigned all = setup.count >= 32 ? ~0u : (1u << setup.count) - 1u;
    const int bodyScale = std::max(1, X(0.35));
    const int labelScale = std::max(1, X(0.5));

    // Top margin 0-12 mm stays blank. Title and subtitle.
    AddText(&page, black, X(10), Y(12), std::max(1, X(1.0)), title, X(200));
    AddText(&page, black, X(10), Y(21), labelScale, subtitle, X(200));

    // Gradient strips, one per input plane, 32-102 mm.
    const int planes = std::max(1, setup.count);
    const double strip = std::min(12.0, 70.0 / planes);
    for (int i = 0; i < setup.count; ++i) {
        const double top = 32.0 + i * strip;
        const std::string label = std::to_string(i) + " " + std::string(1, setup.planes[i].ink);
        AddText(&page, 1u << i, X(10), Y(top + (strip - 1.5) / 2) - 3 * labelScale, labelScale,
                label, X(26));
        AddElement(&page, Fill::kRamp, 1u << i, X(28), Y(top), X(200), Y(top + strip - 1.5));
    }

    // 102-114 mm blank. Solid patches per plane, 114-128 mm.
    for (int i = 0; i < setup.count; ++i) {
        const double w = 190.0 / planes;
        AddElement(&page, Fill::kSolid, 1u << i, X(10 + i * w), Y(114), X(10 + (i + 1) * w - 2),
                   Y(128));
    }
    // Overprints and half tones, 130-144 mm.
    struct Patch {
        const char* inks;
        unsigned coverage;
    };
    const Patch patches[] = {{"CM", kFullCoverage},      {"MY", kFullCoverage},
                             {"CY", kFullCoverage},      {"CMY", kFullCoverage},
                             {"CMY", kFullCoverage / 2}, {"cm", kFullCoverage},
                             {"Kk", kFullCoverage},      {"C", kFullCoverage / 4},
                             {"M", kFullCoverage / 4},   {"", kFullCoverage / 2}};
    std::vector<std::pair<unsigned, unsigned>> overprints;
    for (const Patch& patch : patches) {
        const unsigned mask = patch.inks[0] == 0 ? all : PlaneMaskOf(setup, patch.inks);
        if (mask != 0) overprints.emplace_back(mask, patch.coverage);
    }
    for (std::size_t i = 0; i < overprints.size(); ++i) {
        const double w = 190.0 / static_cast<double>(overprints.size());
        AddElement(&page, Fill::kSolid, overprints[i].first, X(10 + i * w), Y(130),
                   X(10 + (i + 1) * w - 2), Y(144), overprints[i].second);
    }

    // Fine lines in black, 150-192 mm: vertical lines of growing period, hairlines, a
    // checkerboard, a dot grid and a fan of one-pixel diagonals.
    for (int period = 2; period <= 10; ++period) {
        const double left = 10.0 + (period - 2) * 21.0;
        AddElement(&page, Fill::kVerticalLines, black, X(left), Y(150), X(left + 19), Y(160),
                   kFullCoverage, period, 1);
    }
    AddElement(&page, Fill::kHorizontalLines, black, X(10), Y(162), X(70), Y(172), kFullCoverage, 4,
               1);
    AddElement(&page, Fill::kChecker, black, X(74), Y(162), X(134), Y(172));
    AddElement(&page, Fill::kDots, black, X(138), Y(162), X(200), Y(172), kFullCoverage, 16);
    AddElement(&page, Fill::kFan, black, X(10), Y(174), X(120), Y(192), kFullCoverage, 8);
    // Fine lines in every ink.
    for (int i = 0; i < setup.count; ++i) {
        const double w = 76.0 / planes;
        AddElement(&page, Fill::kVerticalLines, 1u << i, X(124 + i * w), Y(174),
                   X(124 + (i + 1) * w - 1), Y(192), kFullCoverage, 6, 1);
    }

    // Text-like sparse areas in two columns, 198-280 mm; 280-297 mm stays blank.
    unsigned heading = PlaneMaskOf(setup, "CM");
    if (heading == 0) heading = black;
    AddTextColumn(&page, black, heading, X(10), X(102), Y(198), Y(280), bodyScale, 0x2545F491u);
    AddTextColumn(&page, black, heading, X(108), X(200), Y(198), Y(280), bodyScale, 0x9E3779B9u);

    std::stable_sort(page.elements.begin(), page.elements.end(),
                     [](const Element& a, const Element& b) { return a.y0 < b.y0; });
    return page;
}

bool RenderLevels(const Page& page, int y, int plane, std::uint8_t* levels) {
    std::memset(levels, 0, static_cast<std::size_t>(page.width));
    const int maxLevel = page.setup.planes[plane].maxLevel;
    const unsigned bit = 1u << plane;
    bool inked = false;
    for (const Element& element : page.elements) {
        if (element.y0 > y) break;  // sorted by y0
        if (y >= element.y1 || (element.inkMask & bit) == 0) continue;
        RenderElement(element, y, maxLevel, levels);
        inked = true;
    }
    if (!inked) return false;
    for (int x = 0; x < page.width; ++x)
        if (levels[x] != 0) return true;
    return false;
}

int PackLevels(const std::uint8_t* levels, int width, int bitsPerPixel, std::uint8_t* line) {
    const int perByte = 8 / bitsPerPixel;
    const int fullBytes = width / perByte;
    for (int b = 0; b < fullBytes; ++b) {
        const std::uint8_t* pixel = levels + b * perByte;
        unsigned value = 0;
        for (int k = 0; k < perByte; ++k)
            value = (value << bitsPerPixel) | pixel[k];
        line[b] = static_cast<std::uint8_t>(value);
    }
    if (fullBytes * perByte < width) {
        unsigned value = 0;
        for (int k = 0; k < perByte; ++k) {
            const int x = fullBytes * perByte + k;
            value = (value << bitsPerPixel) | (x < width ? levels[x] : 0u);
        }
        line[fullBytes] = static_cast<std::uint8_t>(value);
    }
    const std::uint8_t* end = levels + width;
    const std::uint8_t* found = std::find_if(levels, end, [](std::uint8_t v) { return v != 0; });
    return found == end ? -1 : static_cast<int>(found - levels);
}

}  // namespace testpage
