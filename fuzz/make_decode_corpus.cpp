// Writes the seed corpus of the decoder fuzzer: short jobs printed by the module itself,
// in every print mode, both page ends, both row heights and with blank gaps that become
// skips, each behind the byte that picks the decoder's options (see fuzz_decode.cpp).
// Narrow lines keep every seed to a few kilobytes.
//
//   inkrow_make_decode_corpus FOLDER
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job_driver.h"

using namespace jobdriver;

namespace {

struct Seed {
    const char* name;
    std::int16_t quality, media, width;
    std::int16_t formFeed;  // 1: form-feed job
    std::int16_t resolution;
    std::int16_t blackOnly;
    int pages, lines;
    std::uint8_t options;  // the decoder's options byte
};

// Options bytes: 0x21 keeps rasters with the large budget; 0x23 also reads repeated page
// headers as one page (form-feed jobs); 0x01 keeps rasters with the small budget; 0x10
// fixes the line width at 64 bytes; 0x00 keeps nothing.
constexpr Seed kSeeds[] = {
    {"normal-photo-300", 20, 3, 48, 0, 300, 0, 1, 24, 0x21},
    {"normal-photo-600", 20, 3, 48, 0, 600, 0, 1, 40, 0x21},
    {"normal-cmyk-360", 10, 7, 33, 0, 360, 0, 2, 20, 0x21},
    {"sixteen-inks", 0, 26, 40, 0, 300, 0, 1, 20, 0x21},
    {"draft", 5, 7, 64, 0, 300, 0, 1, 30, 0x00},
    {"black-only", 10, 1, 100, 0, 300, 1, 2, 24, 0x21},
    {"fine", 15, 27, 31, 0, 600, 0, 1, 36, 0x10},
    {"glossy", 10, 18, 17, 0, 300, 0, 1, 18, 0x01},
    {"matte", 15, 29, 29, 0, 300, 0, 1, 18, 0x21},
    {"plain-fast", 30, 2, 56, 0, 300, 0, 1, 16, 0x21},
    {"form-feed", 10, 7, 40, 1, 300, 0, 3, 12, 0x23},
    {"form-feed-black", 5, 1, 64, 1, 600, 1, 2, 20, 0x23},
    {"one-pixel", 10, 0, 1, 0, 300, 0, 1, 9, 0x21},
};

// Line `line` of plane `plane`: bands of ink, runs, singles and blank lines, so that the
// stream holds skips, literal and repeated runs and rows left empty.
void FillLine(std::vector<std::uint8_t>* bytes, int line, int plane) {
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        std::uint8_t value = 0;
        switch ((line / 4 + plane) % 5) {
            case 0:
                value = 0;
                break;
            case 1:
                value = 0xFF;
                break;
            case 2:
                value = static_cast<std::uint8_t>(i * 37 + line * 11 + plane);
                break;
            case 3:
                value = i % 7 == 0 ? 0x81 : 0;
                break;
            default:
                value = static_cast<std::uint8_t>((i / 3) & 1 ? 0x55 : 0);
                break;
        }
        (*bytes)[i] = value;
    }
}

bool PrintJob(const Seed& seed, Bytes* stream) {
    OutputHandle handle = nullptr;
    if (OutputOpen(&handle) != OUTPUT_OPENED) return false;
    const JobParams job = MakeJob(seed.quality, seed.media, seed.width, seed.formFeed);
    bool ok = OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION) == OUTPUT_OK;
    // Every entry gets a line long enough for four bits per pixel, the most any plane reads.
    const std::size_t lineBytes = (static_cast<std::size_t>(seed.width) * 4 + 7) / 8;
    for (int page = 0; ok && page < seed.pages; ++page) {
        const PageParams setup =
            MakePage(seed.resolution, seed.blackOnly, 0, 0, seed.formFeed != 0 ? 1 : 0);
        ok = OutputInitPart(&handle, &setup) == OUTPUT_OK;
        for (int line = 0; ok && line < seed.lines; ++line) {
            // A gap of blank lines in the middle of the page becomes a skip.
            const int lineNumber = line < seed.lines / 2 ? line : line + 40;
            std::vector<PlaneLine> planes(OUTPUT_MAX_BAND_PLANES);
            for (int plane = 0; plane < OUTPUT_MAX_BAND_PLANES; ++plane) {
                planes[plane].pixels.assign(lineBytes, 0);
                FillLine(&planes[plane].pixels, line + page, plane);
                planes[plane].end = seed.width;
            }
            ok = SendLine(&handle, lineNumber, planes, stream) == OUTPUT_OK;
        }
        if (ok)
            ok = (seed.formFeed != 0 ? FeedPage(&handle, seed.lines + 40, stream)
                                     : EndPage(&handle, stream)) == OUTPUT_OK;
    }
    if (ok && seed.formFeed != 0) ok = EndPage(&handle, stream) == OUTPUT_OK;
    OutputClose(&handle);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (const Seed& seed : kSeeds) {
        Bytes stream{seed.options};
        if (!PrintJob(seed, &stream)) {
            std::fprintf(stderr, "%s: the module refused the job\n", seed.name);
            ++failures;
            continue;
        }
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr ||
            std::fwrite(stream.data(), 1, stream.size(), file) != stream.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), stream.size());
    }
    return failures == 0 ? 0 : 1;
}
