// inkrow-page: prints the built-in test page. It draws the page in code (the test page
// library, tools/testpage), hands it to the module one raster line at a time through the
// public entry points, exactly as a driver's rendering stage would, writes the command
// stream to a file and sums it up. On request it reads the stream back with the
// independent decoder, checks every pixel of every ink against the page it drew, and
// writes a colour preview.
//
//   arguments   the command line            statistics  counts of the stream, timings
//   modes       --modes, words for a mode   verify      --verify
//   job         driving the module          previews    --png
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"
#include "job.h"
#include "modes.h"
#include "previews.h"
#include "statistics.h"
#include "verify.h"

using namespace inkrow::page;
namespace decode = inkrow::decode;

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (options.modes) {
        PrintModes(options);
        return 0;
    }

    Job job;
    if (!DescribeMode(MakeRequest(options.mode.quality, options.mode.media, options), &job.mode)) {
        std::fprintf(stderr,
                     "inkrow-page: quality %ld with media %ld is not a supported print mode "
                     "(see --modes)\n",
                     options.mode.quality, options.mode.media);
        return 2;
    }
    job.setup = testpage::DescribeInputPlanes(job.mode);
    job.width = testpage::A4Width(options.resolution);
    job.height = testpage::A4Height(options.resolution);
    // The request carries the resolution and the form-feed flag: a form-feed job
    // sends 8 lines per row whatever the resolution.
    job.linesPerRow = job.mode.linesPerRow;
    job.subtitle = "QUALITY " + std::to_string(options.mode.quality) + "  MEDIA " +
                   std::to_string(options.mode.media) + "  " + DescribeInks(job.mode) + "  " +
                   std::to_string(options.resolution) + " DPI  " + std::to_string(job.width) +
                   " x " + std::to_string(job.height);
    PrintConfiguration(job, options);

    Sink sink;
    sink.file = std::fopen(options.output.c_str(), "wb");
    if (sink.file == nullptr) {
        std::fprintf(stderr, "inkrow-page: cannot open %s: %s\n", options.output.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::vector<decode::PngFile*> previews;
    if (!options.png.empty() && !OpenPreviews(options, &previews)) {
        DiscardPreviews(&previews);
        std::fclose(sink.file);
        return 2;
    }
    std::vector<std::uint8_t> stream;
    const bool readBack = options.verify || !options.png.empty();
    if (readBack) sink.memory = &stream;

    JobResult result;
    const Clock::time_point started = Clock::now();
    const bool ran = RunJob(job, options, &sink, &result);
    const bool closed = std::fclose(sink.file) == 0;
    const double totalSeconds = SecondsSince(started);
    bool ok = ran;
    if (ran && !closed) {
        std::fprintf(stderr, "inkrow-page: cannot write %s\n", options.output.c_str());
        ok = false;
    }
    if (ok) PrintSummary(options, sink, result, totalSeconds);

    if (ok && readBack) {
        decode::Decoded decoded;
        ok = DecodeJob(stream, &decoded);
        if (ok && options.verify) ok = VerifyJob(job, options, result, decoded);
        if (ok && !previews.empty()) ok = WritePreviews(job, options, decoded, &previews);
    }
    DiscardPreviews(&previews);
    return ok ? 0 : 1;
}
