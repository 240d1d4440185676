// Makes the ordered halftone's threshold matrix at build time: a 256 x 256 blue-noise
// matrix by void-and-cluster on a torus (Ulichney 1993) from a fixed seed, written as a
// C++ source file holding every cell's rank, 0 .. 65535.
//
//   make_ordered_matrix OUTPUT.cpp
//
// The energy of a cell is the sum of a Gaussian (sigma 1.5 pixels, cut at 6 pixels, in
// integers so that every machine makes the same matrix) over the "on" cells around it.
// In the sparsest levels the dots lie too far apart for the Gaussian to tell them apart;
// there ties go by a fixed pseudo-random order of the cells, not by their place, so
// that the first dots spread over the whole matrix.
// The tightest cluster and the largest void are found with two tournament trees, so a
// step costs the kernel's area times the trees' depth rather than a scan of the matrix.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kBits = 8;
constexpr int kSize = 1 << kBits;
constexpr int kMask = kSize - 1;
constexpr int kCells = kSize * kSize;
constexpr int kRadius = 6;
constexpr int kSide = 2 * kRadius + 1;

// A fixed pseudo-random key per cell, by which ties are ordered.
std::uint32_t TieOrder(int cell) {
    std::uint32_t x = static_cast<std::uint32_t>(cell) * 40503u + 12345u;
    x = (x ^ (x >> 7)) * 2654435761u;
    return ((x >> 8) ^ x) & 0xFFFFFFu;
}

// The extreme of a key over the cells, kept in a tree of winners.
struct Tournament {
    bool wantMax = false;
    std::vector<std::int64_t> key;  // per cell; cells out of the game hold the worst key
    std::vector<int> winner;        // 2 * kCells nodes, leaves from kCells

    std::int64_t Worst() const { return wantMax ? INT64_MIN : INT64_MAX; }
    bool Better(int a, int b) const {
        const std::int64_t ka = key[static_cast<std::size_t>(a)];
        const std::int64_t kb = key[static_cast<std::size_t>(b)];
        if (ka != kb) return wantMax ? ka > kb : ka < kb;
        return TieOrder(a) < TieOrder(b);
    }
    void Reset(bool max) {
        wantMax = max;
        key.assign(kCells, Worst());
        winner.assign(2 * kCells, 0);
        for (int i = 0; i < kCells; ++i)
            winner[static_cast<std::size_t>(kCells + i)] = i;
        for (int n = kCells - 1; n >= 1; --n)
            Replay(n);
    }
    void Replay(int n) {
        const int a = winner[static_cast<std::size_t>(2 * n)];
        const int b = winner[static_cast<std::size_t>(2 * n + 1)];
        winner[static_cast<std::size_t>(n)] = Better(b, a) ? b : a;
    }
    void Set(int cell, std::int64_t value) {
        key[static_cast<std::size_t>(cell)] = value;
        for (int n = (kCells + cell) / 2; n >= 1; n /= 2)
            Replay(n);
    }
    int Best() const { return winner[1]; }
};

struct Field {
    std::vector<std::uint8_t> on;
    std::vector<std::int64_t> energy;
    std::int32_t kernel[kSide * kSide];
    Tournament clusters;  // on cells by energy, the highest first
    Tournament voids;     // off cells by energy, the lowest first
};

void Toggle(Field* field, int cell, bool on) {
    field->on[static_cast<std::size_t>(cell)] = on ? 1 : 0;
    const int cx = cell & kMask;
    const int cy = cell >> kBits;
    const int sign = on ? 1 : -1;
    for (int dy = -kRadius; dy <= kRadius; ++dy) {
        for (int dx = -kRadius; dx <= kRadius; ++dx) {
            const int at = (((cy + dy) & kMask) << kBits) | ((cx + dx) & kMask);
            const auto i = static_cast<std::size_t>(at);
            field->energy[i] += sign * field->kernel[(dy + kRadius) * kSide + dx + kRadius];
            const bool isOn = field->on[i] != 0;
            field->clusters.Set(at, isOn ? field->energy[i] : field->clusters.Worst());
            field->voids.Set(at, isOn ? field->voids.Worst() : field->energy[i]);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ordered_matrix OUTPUT.cpp\n");
        return 2;
    }
    Field field;
    field.on.assign(kCells, 0);
    field.energy.assign(kCells, 0);
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx)
            field.kernel[(dy + kRadius) * kSide + dx + kRadius] = static_cast<std::int32_t>(
                std::lround(65536.0 * std::exp(-(dx * dx + dy * dy) / 4.5)));
    field.clusters.Reset(true);
    field.voids.Reset(false);
    for (int cell = 0; cell < kCells; ++cell)
        field.voids.Set(cell, 0);
    // A fixed pseudo-random start of one cell in ten.
    std::uint32_t seed = 0x2545F491u;
    const int startCount = kCells / 10;
    for (int placed = 0; placed < startCount;) {
        seed = seed * 1664525u + 1013904223u;
        const int cell = static_cast<int>(seed >> 16) & (kCells - 1);
        if (field.on[static_cast<std::size_t>(cell)] != 0) continue;
        Toggle(&field, cell, true);
        ++placed;
    }
    // Move the tightest cluster's cell into the largest void until that changes nothing.
    for (int guard = 0; guard < kCells; ++guard) {
        const int cluster = field.clusters.Best();
        Toggle(&field, cluster, false);
        const int gap = field.voids.Best();
        Toggle(&field, gap, true);
        if (gap == cluster) break;
    }
    std::vector<int> rank(kCells, 0);
    // Ranks below the start: take clusters away, the tightest first.
    Field down = field;
    for (int r = startCount - 1; r >= 0; --r) {
        const int cluster = down.clusters.Best();
        Toggle(&down, cluster, false);
        rank[static_cast<std::size_t>(cluster)] = r;
    }
    // Ranks from the start up: fill the largest void.
    for (int r = startCount; r < kCells; ++r) {
        const int gap = field.voids.Best();
        Toggle(&field, gap, true);
        rank[static_cast<std::size_t>(gap)] = r;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// Made by render/matrix/make_ordered_matrix.cpp at build time; do not edit.\n"
                 "#include \"halftone.h\"\n\nnamespace inkrow::render {\n\n"
                 "const std::uint16_t kOrderedMatrix[kOrderedSize * kOrderedSize] = {\n");
    for (int i = 0; i < kCells; ++i)
        std::fprintf(out, "%d,%s", rank[static_cast<std::size_t>(i)], (i % 16 == 15) ? "\n" : "");
    std::fprintf(out, "};\n\n}  // namespace inkrow::render\n");
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
