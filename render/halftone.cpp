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
    return kBlueNoiseMatrix + (((y + (matrixOffset >> kMatrixBits)) & kMask) << kMatrixBits);
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

// One line of diffusion in one direction. The error still owed to the next pixel of
// this line travels in a register; the three shares for the line below are summed in
// registers too and each cell of the row below is stored once, when no later pixel can
// add to it.
template <int Step>
void DiffuseRun(const std::uint16_t* source, const std::uint16_t* table, int x, int count, int top,
                const std::int32_t* errors, std::int32_t* below, const std::uint16_t* thresholds,
                int shift, std::uint8_t* levels) {
    int ahead = 0;       // for pixel x, from the pixel before it
    int belowHere = 0;   // row below, at x so far
    int belowAfter = 0;  // row below, at x - Step so far
    for (; count > 0; --count, x += Step) {
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
        const int value = amount * top + errors[x + 1] + ahead;
        const int bias = (thresholds[(x + shift) & kMask] - kInkFull / 2) >> 2;
        int level = (value + kInkFull / 2 + bias) >> kInkBits;
        level = level < 0 ? 0 : (level > top ? top : level);
        const int error = value - (level << kInkBits);
        levels[x] = static_cast<std::uint8_t>(level);
        ahead = (error * 7) >> 4;
        const int behindBelow = (error * 3) >> 4;
        const int straightBelow = (error * 5) >> 4;
        const int aheadBelow = error - ahead - behindBelow - straightBelow;
        below[x + 1 - Step] = belowAfter + behindBelow;
        belowAfter = belowHere + straightBelow;
        belowHere = aheadBelow;
    }
    below[x + 1 - Step] = belowAfter;
    below[x + 1] = belowHere;
}

}  // namespace

InkedRange DiffuseLine(DiffusionState* state, const std::uint16_t* source,
                       const std::uint16_t* table, int first, int end, int levelCount, int y,
                       int matrixOffset, std::uint8_t* levels) {
    const int now = state->current;
    const int later = now ^ 1;
    const std::int32_t* errors = state->rows[now].data();
    std::int32_t* below = state->rows[later].data();
    // The row for the next line still holds what the line before this one left there.
    if (state->dirtyEnd[later] > state->dirtyFirst[later])
        std::memset(below + state->dirtyFirst[later], 0,
                    sizeof(std::int32_t) * static_cast<std::size_t>(state->dirtyEnd[later] -
                                                                    state->dirtyFirst[later]));
    const std::uint16_t* thresholds = ThresholdRow(y, matrixOffset);
    const int shift = matrixOffset & kMask;
    if (end > first) {
        if ((y & 1) == 0)
            DiffuseRun<1>(source, table, first, end - first, levelCount - 1, errors, below,
                          thresholds, shift, levels);
        else
            DiffuseRun<-1>(source, table, end - 1, end - first, levelCount - 1, errors, below,
                           thresholds, shift, levels);
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
    const std::uint16_t* thresholds = ThresholdRow(y, matrixOffset);
    const int shift = matrixOffset & kMask;
    for (int x = first; x < end; ++x) {
        const int value = table[source[x]] * top;
        const int level = (value >> kInkBits) +
                          ((value & (kInkFull - 1)) > thresholds[(x + shift) & kMask] ? 1 : 0);
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
