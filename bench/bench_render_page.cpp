// Times the render stage plus the module on one page image: a PAM file (P7, 8-bit
// CMYK, RGB or GRAY) read line by line, as a driver would receive it from its
// rasteriser, rendered and printed to nowhere. Prints the fastest of several rounds, the
// stream size, the least CPU time a round took (all threads; steadier than the wall
// clock on a shared machine) and the peak memory of the process.
//
//   bench_render_page PAGE.pam [--quality Q] [--media M] [--resolution R]
//                     [--halftone diffusion|ordered] [--threads T] [--rounds N]
//                     [--icc-profile FILE] [--rendering-intent 0..3] [--calibration FILE.cal]
//                     [--stream FILE]
// --stream writes the last round's stream to FILE, to compare builds and thread counts.
// With a profile or a calibration, the colour transform is built once before the rounds,
// as a job does, and its pages (RGB and gray) go through it instead of the formula.
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inkrow/render.h"

namespace {

struct Pam {
    int width = 0, height = 0, depth = 0;
    long dataOffset = 0;
};

bool ReadPamHeader(std::FILE* file, Pam* pam) {
    char line[256];
    if (!std::fgets(line, sizeof line, file) || std::strncmp(line, "P7", 2) != 0) return false;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "ENDHDR", 6) == 0) {
            pam->dataOffset = std::ftell(file);
            return pam->width > 0 && pam->height > 0 &&
                   (pam->depth == 1 || pam->depth == 3 || pam->depth == 4);
        }
        std::sscanf(line, "WIDTH %d", &pam->width);
        std::sscanf(line, "HEIGHT %d", &pam->height);
        std::sscanf(line, "DEPTH %d", &pam->depth);
    }
    return false;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Sink {
    std::uint64_t bytes = 0;
    std::FILE* stream = nullptr;  // the stream's copy, or null
};

int CountBytes(void* context, const std::uint8_t* data, std::size_t length) {
    auto* sink = static_cast<Sink*>(context);
    sink->bytes += length;
    if (sink->stream != nullptr && std::fwrite(data, 1, length, sink->stream) != length) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s PAGE.pam [--quality Q] [--media M] [--resolution R] "
                     "[--halftone diffusion|ordered] [--threads T] [--rounds N] "
                     "[--icc-profile FILE] [--rendering-intent 0..3] [--calibration FILE.cal] "
                     "[--stream FILE]\n",
                     argv[0]);
        return 2;
    }
    RenderJobOptions options;
    RenderJobOptionsInit(&options);
    options.raster.mode.qualityCode = 5;  // CMYKcm, two bits per pixel
    int rounds = 3;
    const char* streamPath = nullptr;
    RenderColorOptions colorOptions;
    RenderColorOptionsInit(&colorOptions);
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--quality")
            options.raster.mode.qualityCode = std::atoi(value);
        else if (flag == "--media")
            options.raster.mode.mediaCode = std::atoi(value);
        else if (flag == "--resolution")
            options.raster.mode.resolution = std::atoi(value);
        else if (flag == "--threads")
            options.raster.threads = std::atoi(value);
        else if (flag == "--icc-profile")
            colorOptions.outputProfile = value;
        else if (flag == "--calibration")
            colorOptions.calibration = value;
        else if (flag == "--rendering-intent")
            colorOptions.intent = std::atoi(value);
        else if (flag == "--stream")
            streamPath = value;
        else if (flag == "--rounds")
            rounds = std::atoi(value);
        else if (flag == "--halftone")
            options.raster.halftone =
                std::strcmp(value, "ordered") == 0 ? RENDER_ORDERED : RENDER_DIFFUSION;
        else {
            std::fprintf(stderr, "unknown flag %s\n", flag.c_str());
            return 2;
        }
    }
    RenderColor* color = nullptr;
    if (colorOptions.outputProfile != nullptr || colorOptions.calibration != nullptr) {
        char words[512];
        if (RenderColorOpen(&colorOptions, &color, words, sizeof words) != RENDER_OK) {
            std::fprintf(stderr, "%s\n", words);
            return 1;
        }
        options.raster.color = color;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    Pam pam;
    if (file == nullptr || !ReadPamHeader(file, &pam)) {
        std::fprintf(stderr, "%s: not a readable 8-bit PAM file\n", argv[1]);
        return 1;
    }
    options.raster.width = pam.width;
    options.raster.colorSpace = pam.depth;  // the depth is the colour space's channel count
    std::vector<std::uint8_t> line(static_cast<std::size_t>(pam.width) *
                                   static_cast<std::size_t>(pam.depth));
    double best = 1e30;
    double bestCpu = 1e30;
    Sink sink;
    for (int round = 0; round < rounds; ++round) {
        std::fseek(file, pam.dataOffset, SEEK_SET);
        sink.bytes = 0;
        if (streamPath != nullptr && round == rounds - 1) {
            sink.stream = std::fopen(streamPath, "wb");
            if (sink.stream == nullptr) {
                std::fprintf(stderr, "%s: cannot write\n", streamPath);
                return 1;
            }
        }
        options.write = CountBytes;
        options.writeContext = &sink;
        const auto started = std::chrono::steady_clock::now();
        const double cpuStarted = CpuSeconds();
        RenderJob* job = nullptr;
        int status = RenderJobOpen(&options, &job);
        if (status == RENDER_OK) status = RenderJobStartPage(job);
        for (int y = 0; y < pam.height && status == RENDER_OK; ++y) {
            if (std::fread(line.data(), 1, line.size(), file) != line.size()) {
                std::fprintf(stderr, "%s: short read at line %d\n", argv[1], y);
                return 1;
            }
            status = RenderJobWriteLine(job, line.data(), line.size());
        }
        if (status == RENDER_OK) status = RenderJobEndPage(job);
        const std::string error = job != nullptr ? RenderJobErrorText(job) : "";
        const int closed = RenderJobClose(job);
        if (status == RENDER_OK) status = closed;
        if (status != RENDER_OK) {
            std::fprintf(stderr, "render failed: %s %s\n", RenderStatusText(status), error.c_str());
            return 1;
        }
        if (sink.stream != nullptr && std::fclose(sink.stream) != 0) {
            std::fprintf(stderr, "%s: cannot write\n", streamPath);
            return 1;
        }
        sink.stream = nullptr;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        best = seconds < best ? seconds : best;
        const double cpu = CpuSeconds() - cpuStarted;
        bestCpu = cpu < bestCpu ? cpu : bestCpu;
    }
    std::fclose(file);
    const bool profiled = color != nullptr;
    RenderColorClose(color);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%dx%d depth %d%s: render+module %.3f s (best of %d), %.0f megapixels/s, stream %.2f MB, "
        "CPU %.3f s, peak memory %.1f MB\n",
        pam.width, pam.height, pam.depth, profiled ? " colour-managed" : "", best, rounds,
        static_cast<double>(pam.width) * pam.height / best / 1e6, sink.bytes / 1e6, bestCpu,
        usage.ru_maxrss / 1024.0);
    return 0;
}
