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

ThresholdMatrix LoadBlueNoiseMatrix() {
    ThresholdMatrix matrix;
    matrix.values.assign(kBlueNoiseMatrix, kBlueNoiseMatrix + kCells);
    return matrix;
}

void ResetDiffusion(DiffusionState* state, int width) {
    for (auto& row : state->rows)
        row.assign(static_cast<std::size_t>(width) + 2, 0);
    state->dirtyFirst[0] = state->dirtyFirst[1] = 0;
    state->dirtyEnd[0] = state->dirtyEnd[1] = 0;
    state->current = 0;
}

InkedRange DiffuseLine(DiffusionState* state, const std::uint16_t* amounts, int first, int end,
                       int width, int levelCount, int y, const ThresholdMatrix& matrix,
                       int matrixOffset, std::uint8_t* levels) {
    const int now = state->current;
    const int later = now ^ 1;
    std::int32_t* errors = state->rows[now].data();
    std::int32_t* below = state->rows[later].data();
    // The row for the next line still holds what the line before this one left there.
    if (state->dirtyEnd[later] > state->dirtyFirst[later])
        std::memset(below + state->dirtyFirst[later], 0,
                    sizeof(std::int32_t) * static_cast<std::size_t>(state->dirtyEnd[later] -
                                                                    state->dirtyFirst[later]));
    InkedRange inked{width, 0};
    const int top = levelCount - 1;
    const std::uint16_t* thresholds =
        matrix.values.data() + (((y + (matrixOffset >> kMatrixBits)) & kMask) << kMatrixBits);
    const int shift = matrixOffset & kMask;
    const bool forward = (y & 1) == 0;
    const int step = forward ? 1 : -1;
    int x = forward ? first : end - 1;
    for (int count = end - first; count > 0; --count, x += step) {
        const int amount = amounts[x];
        if (amount == 0) continue;
        const int value = amount * top + errors[x + 1];
        const int bias = (thresholds[(x + shift) & kMask] - kInkFull / 2) >> 2;
        int level = (value + kInkFull / 2 + bias) >> kInkBits;
        level = std::clamp(level, 0, top);
        const int error = value - (level << kInkBits);
        if (level != 0) {
            levels[x] = static_cast<std::uint8_t>(level);
            inked.first = std::min(inked.first, x);
            inked.end = std::max(inked.end, x + 1);
        }
        const int ahead = (error * 7) >> 4;
        const int behindBelow = (error * 3) >> 4;
        const int straightBelow = (error * 5) >> 4;
        const int aheadBelow = error - ahead - behindBelow - straightBelow;
        errors[x + 1 + step] += ahead;
        below[x + 1 - step] += behindBelow;
        below[x + 1] += straightBelow;
        below[x + 1 + step] += aheadBelow;
    }
    if (end > first) {
        state->dirtyFirst[now] = std::min(state->dirtyFirst[now], first);
        state->dirtyEnd[now] = std::max(state->dirtyEnd[now], end + 2);
        state->dirtyFirst[later] = first;
        state->dirtyEnd[later] = end + 2;
    } else {
        state->dirtyFirst[later] = state->dirtyEnd[later] = 0;
    }
    if (state->dirtyEnd[now] <= state->dirtyFirst[now])
        state->dirtyFirst[now] = state->dirtyEnd[now] = 0;
    state->current = later;
    if (inked.end == 0) inked.first = 0;
    return inked;
}

InkedRange OrderLine(const std::uint16_t* amounts, int first, int end, int levelCount, int y,
                     const ThresholdMatrix& matrix, int matrixOffset, std::uint8_t* levels) {
    InkedRange inked{end, 0};
    const int top = levelCount - 1;
    const std::uint16_t* thresholds =
        matrix.values.data() + (((y + (matrixOffset >> kMatrixBits)) & kMask) << kMatrixBits);
    const int shift = matrixOffset & kMask;
    for (int x = first; x < end; ++x) {
        const int amount = amounts[x];
        if (amount == 0) continue;
        const int value = amount * top;
        const int level = (value >> kInkBits) +
                          ((value & (kInkFull - 1)) > thresholds[(x + shift) & kMask] ? 1 : 0);
        if (level == 0) continue;
        levels[x] = static_cast<std::uint8_t>(level);
        inked.first = std::min(inked.first, x);
        inked.end = x + 1;
    }
    if (inked.end == 0) inked.first = 0;
    return inked;
}

void PackLevels(const std::uint8_t* levels, int first, int end, int width, int bitsPerPixel,
                std::uint8_t* line) {
    const int perByte = 8 / bitsPerPixel;
    const std::size_t lineBytes = (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
    std::memset(line, 0, lineBytes);
    if (end <= first) return;
    const int firstByte = first / perByte;
    const int lastByte = (end - 1) / perByte;
    for (int byte = firstByte; byte <= lastByte; ++byte) {
        const int x0 = byte * perByte;
        unsigned packed = 0;
        for (int i = 0; i < perByte; ++i) {
            const int x = x0 + i;
            const unsigned level = x < width ? levels[x] : 0u;
            packed = (packed << bitsPerPixel) | level;
        }
        line[byte] = static_cast<std::uint8_t>(packed);
    }
}

}  // namespace inkrow::render
