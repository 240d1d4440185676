#include "halftone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace inkrow::render {
namespace {

constexpr int kCells = kMatrixSize * kMatrixSize;
constexpr int kMask = kMatrixSize - 1;
// The energy kernel: a Gaussian of sigma 1.5 pixels, cut at 6 pixels (where it is below
// 0.0004 of its peak), in integers so that every machine builds the same matrix.
constexpr int kRadius = 6;
constexpr int kKernelSide = 2 * kRadius + 1;

struct Field {
    std::vector<std::uint8_t> on;
    std::vector<std::int64_t> energy;
    std::int32_t kernel[kKernelSide * kKernelSide];
};

void AddEnergy(Field* field, int cell, int sign) {
    const int cx = cell & kMask;
    const int cy = cell >> kMatrixBits;
    for (int dy = -kRadius; dy <= kRadius; ++dy) {
        const int row = ((cy + dy) & kMask) << kMatrixBits;
        const std::int32_t* weights = &field->kernel[(dy + kRadius) * kKernelSide + kRadius];
        for (int dx = -kRadius; dx <= kRadius; ++dx)
            field->energy[static_cast<std::size_t>(row | ((cx + dx) & kMask))] +=
                sign * weights[dx];
    }
}

void SetCell(Field* field, int cell, bool on) {
    field->on[static_cast<std::size_t>(cell)] = on ? 1 : 0;
    AddEnergy(field, cell, on ? 1 : -1);
}

// The "on" cell with the most energy around it (the tightest cluster), or the "off"
// cell with the least (the largest void). Ties go to the lowest index.
int FindExtreme(const Field& field, bool onCells) {
    int best = -1;
    for (int cell = 0; cell < kCells; ++cell) {
        if ((field.on[static_cast<std::size_t>(cell)] != 0) != onCells) continue;
        const std::int64_t e = field.energy[static_cast<std::size_t>(cell)];
        if (best < 0 || (onCells ? e > field.energy[static_cast<std::size_t>(best)]
                                 : e < field.energy[static_cast<std::size_t>(best)]))
            best = cell;
    }
    return best;
}

Field MakeField() {
    Field field{};
    field.on.assign(kCells, 0);
    field.energy.assign(kCells, 0);
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx)
            field.kernel[(dy + kRadius) * kKernelSide + dx + kRadius] = static_cast<std::int32_t>(
                std::lround(65536.0 * std::exp(-(dx * dx + dy * dy) / 4.5)));
    return field;
}

}  // namespace

ThresholdMatrix BuildBlueNoiseMatrix() {
    Field field = MakeField();
    // A fixed pseudo-random start of one cell in ten.
    std::uint32_t seed = 0x2545F491u;
    const int startCount = kCells / 10;
    for (int placed = 0; placed < startCount;) {
        seed = seed * 1664525u + 1013904223u;
        const int cell = static_cast<int>(seed >> 20) & (kCells - 1);
        if (field.on[static_cast<std::size_t>(cell)] != 0) continue;
        SetCell(&field, cell, true);
        ++placed;
    }
    // Move the tightest cluster's cell into the largest void until that changes nothing.
    for (int guard = 0; guard < kCells; ++guard) {
        const int cluster = FindExtreme(field, true);
        SetCell(&field, cluster, false);
        const int gap = FindExtreme(field, false);
        SetCell(&field, gap, true);
        if (gap == cluster) break;
    }
    ThresholdMatrix matrix;
    matrix.values.assign(kCells, 0);
    const Field prototype = field;
    // Ranks below the start: take clusters away, the tightest first.
    for (int rank = startCount - 1; rank >= 0; --rank) {
        const int cluster = FindExtreme(field, true);
        SetCell(&field, cluster, false);
        matrix.values[static_cast<std::size_t>(cluster)] = static_cast<std::uint16_t>(rank);
    }
    // Ranks from the start up: fill the largest void.
    field = prototype;
    for (int rank = startCount; rank < kCells; ++rank) {
        const int gap = FindExtreme(field, false);
        SetCell(&field, gap, true);
        matrix.values[static_cast<std::size_t>(gap)] = static_cast<std::uint16_t>(rank);
    }
    // kCells equals kInkFull, so a rank is a threshold already.
    static_assert(kCells == kInkFull);
    return matrix;
}

void ResetDiffusion(DiffusionState* state, int width) {
    for (auto& row : state->rows)
        row.assign(static_cast<std::size_t>(width) + 2, 0);
    state->dirtyFirst[0] = state->dirtyFirst[1] = 0;
    state->dirtyEnd[0] = state->dirtyEnd[1] = 0;
    state->current = 0;
}

namespace {

// The matrix row that line y of a plane reads, the plane's offset taken into account;
// the column of pixel x is (x + (matrixOffset & kMask)) & kMask.
const std::uint16_t* ThresholdRow(int y, int matrixOffset) {
    return kBlueNoiseMatrix + (((y + (matrixOffset >> 8)) & kMask) << kMatrixBits);
}

// Narrows [first, end) to the pixels that got a level; levels are 0 outside the range.
InkedRange TrimToInk(const std::uint8_t* levels, int first, int end) {
    while (first < end && levels[first] == 0)
        ++first;
    while (end > first && levels[end - 1] == 0)
        --end;
    if (end == first) return InkedRange{};
    return InkedRange{first, end};
}

// Weights of the diffusion by the input's place between two levels (0 .. 255, read
// mirrored about the middle so that index 0 is a level and 127 halfway between two),
// fixed point over 256: error to the next pixel ahead, behind-below, below, ahead-below,
// and the strength of the threshold's modulation by the blue-noise matrix.
//
// In the highlights the coefficients are Zhou and Fang's (after Ostromoukhov's): mostly
// ahead and below, which spaces isolated dots evenly and without the diagonal "worms" of
// fixed weights. Towards the middle they turn into Floyd and Steinberg's 7, 3, 5, 1,
// whose checkerboard at one half is the smoothest pattern there is. The modulation
// breaks up the remaining regular structures (strings of dots in the highlights, mazes
// in the quarter tones) and fades to nothing at the middle, where it would only add
// grain.
// Sixteen bytes, so that a fraction's entry sits at its 12-bit fraction with the low four
// bits cleared.
struct alignas(16) DiffusionWeights {
    std::int16_t ahead, behindBelow, below, aheadBelow, strength;
};
static_assert(sizeof(DiffusionWeights) == 16);

struct KeyWeights {
    int index;
    double ahead, behindBelow, below, aheadBelow, strength;
};

constexpr KeyWeights kKeyWeights[] = {
    {0, 13, 0, 5, 0, 0.00},
    {1, 1300249, 0, 499250, 0, 0.04},
    {2, 214114, 287, 99357, 0, 0.08},
    {3, 351854, 0, 199965, 0, 0.08},
    {4, 801100, 0, 490999, 0, 0.08},
    {10, 704075, 297466, 303694, 0, 0.03},
    {22, 46613, 31917, 21469, 0, 0.04},
    {32, 47482, 30617, 21900, 0, 0.10},
    {44, 43024, 42131, 14826, 0, 0.10},
    {64, 36411, 43219, 20369, 0, 0.06},
    {75, 7, 3, 5, 1, 0.00},
    {127, 7, 3, 5, 1, 0.00},
};

// Indexed by the fraction itself (0 .. 255): mirrored here once rather than per pixel.
struct WeightTable {
    DiffusionWeights at[256];
};

constexpr WeightTable MakeWeightTable() {
    WeightTable table{};
    for (int i = 0; i < 128; ++i) {
        std::size_t k = 1;
        while (kKeyWeights[k].index < i)
            ++k;
        const KeyWeights& a = kKeyWeights[k - 1];
        const KeyWeights& b = kKeyWeights[k];
        const double t = static_cast<double>(i - a.index) / (b.index - a.index);
        const double sa = a.ahead + a.behindBelow + a.below + a.aheadBelow;
        const double sb = b.ahead + b.behindBelow + b.below + b.aheadBelow;
        const auto mix = [&](double x, double y) { return (1 - t) * x / sa + t * y / sb; };
        DiffusionWeights& w = table.at[i];
        const auto ahead = static_cast<std::int32_t>(mix(a.ahead, b.ahead) * 256 + 0.5);
        const auto behindBelow =
            static_cast<std::int32_t>(mix(a.behindBelow, b.behindBelow) * 256 + 0.5);
        std::int32_t below = static_cast<std::int32_t>(mix(a.below, b.below) * 256 + 0.5);
        std::int32_t aheadBelow = 256 - ahead - behindBelow - below;
        if (aheadBelow < 0) {
            below += aheadBelow;
            aheadBelow = 0;
        }
        w.ahead = static_cast<std::int16_t>(ahead);
        w.behindBelow = static_cast<std::int16_t>(behindBelow);
        w.below = static_cast<std::int16_t>(below);
        w.aheadBelow = static_cast<std::int16_t>(aheadBelow);
        w.strength = static_cast<std::int16_t>(((1 - t) * a.strength + t * b.strength) * 256 + 0.5);
        table.at[255 - i] = w;
    }
    return table;
}

constexpr WeightTable kWeights = MakeWeightTable();

// How far a light ink's threshold rises where its dark partner printed: a quarter level.
constexpr int kAvoidBias = kInkFull / 4;

// One line of diffusion in one direction. The error still owed to the next pixel of
// this line travels in a register; the three shares for the line below are summed in
// registers too and each cell of the row below is stored once, when no later pixel can
// add to it.
//
// A pixel that receives no error from the line above starts a region of ink below white
// (errors never cross white), where plain diffusion would wait many lines before its
// first highlight dot. Such a pixel (between two levels, on the lighter side) takes the
// blue-noise matrix's value as that error instead, zero on average, so that the region's
// first dots fall at once and evenly spread.
template <int Step, bool Avoids>
void DiffuseRun(const std::uint16_t* __restrict source, const std::uint16_t* __restrict table,
                int x, int count, int top, const std::int32_t* __restrict errors,
                std::int32_t* __restrict below, const std::int32_t* __restrict noiseRow,
                const std::uint8_t* __restrict avoid, std::uint8_t* __restrict levels) {
    int ahead = 0;       // for pixel x, from the pixel before it
    int belowHere = 0;   // row below, at x so far
    int belowAfter = 0;  // row below, at x - Step so far
    const int stop = x + count * Step;
    for (; x != stop; x += Step) {
        const int amount = table[source[x]];
        if (amount == 0) {
            // No ink asked, none printed, and no error passed on; such pixels are common
            // (a dark ink in light tones, black in colours), so they take the short way.
            below[x + 1 - Step] = belowAfter;
            belowAfter = belowHere;
            belowHere = 0;
            ahead = 0;
            continue;
        }
        const int scaled = amount * top;
        const int within = scaled & (kInkFull - 1);
        const DiffusionWeights& w = kWeights.at[within >> (kInkBits - 8)];
        const int noise = noiseRow[x & kMask];
        int incoming = errors[x + 1];
        // Between two levels, on the lighter side: within 1 .. kInkFull / 2 - 1.
        if (incoming == 0 && static_cast<unsigned>(within - 1) < unsigned{kInkFull / 2 - 1})
            incoming = noise;
        // Where the partner ink printed, a raised threshold sends this dot elsewhere.
        int bias = (noise * w.strength) >> 8;
        if constexpr (Avoids) bias += avoid[x] != 0 ? kAvoidBias : 0;
        // Everything but the error from the pixel before is summed first, so that the
        // chain from one pixel's error to the next is an add, a mask, a subtraction and
        // the multiply.
        const int offset = kInkFull / 2 + bias;
        const int rounded = (scaled + incoming + offset) + ahead;
        int level = rounded >> kInkBits;
        // The error is what rounding dropped, less the rounding's offsets; only a level
        // past the ends needs working out from the value.
        int error = (rounded & (kInkFull - 1)) - offset;
        if (static_cast<unsigned>(level) > static_cast<unsigned>(top)) [[unlikely]] {
            level = level < 0 ? 0 : top;
            error = rounded - offset - (level << kInkBits);
        }
        levels[x] = static_cast<std::uint8_t>(level);
        ahead = (error * w.ahead) >> 8;
        const int behindBelow = (error * w.behindBelow) >> 8;
        const int straightBelow = (error * w.below) >> 8;
        const int aheadBelow = error - ahead - behindBelow - straightBelow;
        below[x + 1 - Step] = belowAfter + behindBelow;
        belowAfter = belowHere + straightBelow;
        belowHere = aheadBelow;
    }
    below[x + 1 - Step] = belowAfter;
    below[x + 1] = belowHere;
}

template <int Step>
void DiffuseRunOf(const std::uint16_t* source, const std::uint16_t* table, int x, int count,
                  int top, const std::int32_t* errors, std::int32_t* below,
                  const std::int32_t* noiseRow, const std::uint8_t* avoid, std::uint8_t* levels) {
    if (avoid != nullptr)
        DiffuseRun<Step, true>(source, table, x, count, top, errors, below, noiseRow, avoid,
                               levels);
    else
        DiffuseRun<Step, false>(source, table, x, count, top, errors, below, noiseRow, nullptr,
                                levels);
}

// Zeroes the cells of [first, end) that lie outside [keepFirst, keepEnd).
void ClearOutside(std::int32_t* row, int first, int end, int keepFirst, int keepEnd) {
    const int before = end < keepFirst ? end : keepFirst;
    if (before > first)
        std::memset(row + first, 0,
                    sizeof(std::int32_t) * static_cast<std::size_t>(before - first));
    const int after = first > keepEnd ? first : keepEnd;
    if (end > after)
        std::memset(row + after, 0, sizeof(std::int32_t) * static_cast<std::size_t>(end - after));
}

}  // namespace

InkedRange DiffuseLine(DiffusionState* state, const std::uint16_t* source,
                       const std::uint16_t* table, int first, int end, int levelCount, int y,
                       int matrixOffset, const std::uint8_t* avoid, std::uint8_t* levels) {
    const int now = state->current;
    const int later = now ^ 1;
    const std::int32_t* errors = state->rows[now].data();
    std::int32_t* below = state->rows[later].data();
    // The row for the next line still holds what the line before this one left there. The
    // run below writes every cell from first to end + 1, so only the rest needs clearing.
    const bool inked = end > first;
    ClearOutside(below, state->dirtyFirst[later], state->dirtyEnd[later], inked ? first : 0,
                 inked ? end + 2 : 0);
    if (inked) {
        // The matrix's row for this line, turned by the plane's column offset, as noise
        // around zero: read at x & kMask.
        const std::uint16_t* thresholds = ThresholdRow(y, matrixOffset);
        const int shift = matrixOffset & kMask;
        std::int32_t noiseRow[kMatrixSize];
        for (int i = 0; i < kMatrixSize; ++i)
            noiseRow[i] = thresholds[(i + shift) & kMask] - kInkFull / 2;
        if ((y & 1) == 0)
            DiffuseRunOf<1>(source, table, first, end - first, levelCount - 1, errors, below,
                            noiseRow, avoid, levels);
        else
            DiffuseRunOf<-1>(source, table, end - 1, end - first, levelCount - 1, errors, below,
                             noiseRow, avoid, levels);
        // Cells first - 1 .. end + 1 of the row below (stored at index + 1) now hold errors.
        state->dirtyFirst[later] = first;
        state->dirtyEnd[later] = end + 2;
    } else {
        state->dirtyFirst[later] = state->dirtyEnd[later] = 0;
    }
    state->current = later;
    return TrimToInk(levels, first, end);
}

InkedRange OrderLine(const std::uint16_t* source, const std::uint16_t* table, int first, int end,
                     int levelCount, int y, int matrixOffset, std::uint8_t* levels) {
    const int top = levelCount - 1;
    constexpr int kOrderedMask = kOrderedSize - 1;
    const std::uint16_t* thresholds =
        kOrderedMatrix + (((y + (matrixOffset >> 8)) & kOrderedMask) << kOrderedBits);
    const int shift = matrixOffset & kOrderedMask;
    for (int x = first; x < end; ++x) {
        const int value = table[source[x]] * top;
        // A 12-bit fraction of a level against a 16-bit rank.
        const int fraction = (value & (kInkFull - 1)) << (16 - kInkBits);
        const int level =
            (value >> kInkBits) + (fraction > thresholds[(x + shift) & kOrderedMask] ? 1 : 0);
        levels[x] = static_cast<std::uint8_t>(value == 0 ? 0 : level);
    }
    return TrimToInk(levels, first, end);
}

namespace {

template <int Bits>
void PackBytesOf(const std::uint8_t* levels, int firstByte, int lastByte, std::uint8_t* line) {
    constexpr int kPerByte = 8 / Bits;
    for (int byte = firstByte; byte <= lastByte; ++byte) {
        const std::uint8_t* p = levels + byte * kPerByte;
        unsigned packed = 0;
        for (int i = 0; i < kPerByte; ++i)
            packed = (packed << Bits) | p[i];
        line[byte] = static_cast<std::uint8_t>(packed);
    }
}

}  // namespace

void PackLevels(const std::uint8_t* levels, int first, int end, int width, int bitsPerPixel,
                std::uint8_t* line) {
    const int perByte = 8 / bitsPerPixel;
    const std::size_t lineBytes = (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
    if (end <= first) {
        std::memset(line, 0, lineBytes);
        return;
    }
    const int firstByte = first / perByte;
    const int lastByte = (end - 1) / perByte;
    std::memset(line, 0, static_cast<std::size_t>(firstByte));
    std::memset(line + lastByte + 1, 0, lineBytes - static_cast<std::size_t>(lastByte) - 1);
    switch (bitsPerPixel) {
        case 1:
            PackBytesOf<1>(levels, firstByte, lastByte, line);
            break;
        case 2:
            PackBytesOf<2>(levels, firstByte, lastByte, line);
            break;
        default:
            PackBytesOf<4>(levels, firstByte, lastByte, line);
            break;
    }
}

}  // namespace inkrow::render
