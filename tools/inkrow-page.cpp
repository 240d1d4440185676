// inkrow-page: prints the built-in test page. It draws the page in code, hands it to the
// module one raster line at a time through the public entry points, exactly as a
// driver's rendering stage would, writes the command stream to a file and sums it up.
// On request it reads the stream back with the independent decoder, checks every pixel
// of every ink against the page it drew, and writes a colour preview.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "cli.h"
#include "inkrow/output.h"
#include "inkrow/render.h"
#include "picture.h"
#include "testpage.h"

namespace {

namespace decode = inkrow::decode;
using Clock = std::chrono::steady_clock;

// "1 page header", "2 page headers".
std::string Count(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

constexpr char kUsage[] =
    "usage: inkrow-page [options]\n"
    "\n"
    "Renders the built-in test page (A4: gradients and solid patches in every ink,\n"
    "overprints, fine lines, text-like areas and blank bands), drives the output module\n"
    "through it line by line and writes the printer command stream to a file.\n"
    "\n"
    "options:\n"
    "  --quality Q        quality code of the job (default 10)\n"
    "  --media M          media code of the job (default 0, plain paper)\n"
    "  --resolution R     300, 600 or 360 dpi (default 600; 360 sends one line per row)\n"
    "  --black-only       page flag: ask for the one-plane black configuration\n"
    "  --k-for-black      page flag: prefer configurations with a k plane\n"
    "  --keep-color       page flag: never fall back to black only\n"
    "  --form-feed        run a form-feed job: each page ends with a form-feed page end\n"
    "                     and the job with a final flush; eight lines per row\n"
    "  --pages N          number of pages (default 1)\n"
    "  --output PATH      where the stream goes (default inkrow-page.prn)\n"
    "  --verify           read the stream back with the decoder and compare every pixel\n"
    "                     of every ink with the page as drawn\n"
    "  --png PATH         write a colour preview of the printed page (page N > 1 goes\n"
    "                     to PATH with -N before the extension). A form-feed job's pages\n"
    "                     run down one sheet that only its final form feed ejects, and\n"
    "                     the stream marks no page's end: its preview is that one sheet\n"
    "  --modes            list the page configuration of every supported print mode\n"
    "                     (with the page flags given) and exit\n"
    "  --help             show this text\n";

struct Options {
    int quality = 10;
    int media = 0;
    int resolution = 600;
    bool blackOnly = false;
    bool kForBlack = false;
    bool keepColor = false;
    bool formFeed = false;
    int pages = 1;
    std::string output = "inkrow-page.prn";
    std::string png;
    bool verify = false;
    bool modes = false;
};

bool ParseNumber(const char* text, long low, long high, int* value) {
    long parsed = 0;
    if (!inkrow::cli::ParseNumber(text, low, high, &parsed)) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// 0 to go on, -1 to exit successfully (help), otherwise the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&](long low, long high, int* out) {
            if (value == nullptr || !ParseNumber(value, low, high, out)) {
                std::fprintf(stderr, "inkrow-page: %s needs a number from %ld to %ld\n",
                             argument.c_str(), low, high);
                return false;
            }
            ++i;
            return true;
        };
        auto text = [&](std::string* out) {
            if (value == nullptr) {
                std::fprintf(stderr, "inkrow-page: %s needs a path\n", argument.c_str());
                return false;
            }
            *out = value;
            ++i;
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (argument == "--quality") {
            if (!number(-32768, 32767, &options->quality)) return 2;
        } else if (argument == "--media") {
            if (!number(-32768, 32767, &options->media)) return 2;
        } else if (argument == "--resolution") {
            if (!number(1, 32767, &options->resolution)) return 2;
            if (options->resolution != 300 && options->resolution != 600 &&
                options->resolution != 360) {
                std::fputs("inkrow-page: --resolution takes 300, 600 or 360\n", stderr);
                return 2;
            }
        } else if (argument == "--black-only") {
            options->blackOnly = true;
        } else if (argument == "--k-for-black") {
            options->kForBlack = true;
        } else if (argument == "--keep-color") {
            options->keepColor = true;
        } else if (argument == "--form-feed") {
            options->formFeed = true;
        } else if (argument == "--pages") {
            if (!number(1, 1000, &options->pages)) return 2;
        } else if (argument == "--output") {
            if (!text(&options->output)) return 2;
        } else if (argument == "--png") {
            if (!text(&options->png)) return 2;
        } else if (argument == "--verify") {
            options->verify = true;
        } else if (argument == "--modes") {
            options->modes = true;
        } else {
            std::fprintf(stderr, "inkrow-page: unknown argument %s\n%s", argument.c_str(), kUsage);
            return 2;
        }
    }
    return 0;
}

// --- Print modes ----------------------------------------------------------------------

std::int16_t PageFlag(bool flag) {
    return flag ? 1 : 0;
}

RenderModeRequest MakeRequest(int quality, int media, const Options& options) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.blackOnly = PageFlag(options.blackOnly);
    request.kForBlack = PageFlag(options.kForBlack);
    request.keepColor = PageFlag(options.keepColor);
    request.formFeed = PageFlag(options.formFeed);
    request.resolution = options.resolution;
    return request;
}

// False when the quality and media pair is no print mode.
bool DescribeMode(const RenderModeRequest& request, RenderMode* mode) {
    return RenderDescribeMode(&request, mode) == RENDER_OK;
}

// Each printer plane the split drives carries two bits per pixel.
constexpr int kSplitOutputBits = 2;

// "CMYK"; the split adds the count of inks only it reaches: "CMYcmk+10".
std::string DescribeInks(const RenderMode& mode) {
    std::string inks = mode.inks;
    if (mode.split != 0) inks += "+" + std::to_string(mode.printerPlanes - mode.planeCount);
    return inks;
}

// "2c 2c 1 1": bits per pixel of each plane, c where the plane is code-converted.
std::string DescribeFormats(const RenderMode& mode) {
    if (mode.split != 0)
        return std::to_string(mode.planeCount) + " inputs x " +
               std::to_string(mode.planes[0].bitsPerPixel) + " -> " +
               std::to_string(mode.printerPlanes) + " x " + std::to_string(kSplitOutputBits) +
               " (split)";
    std::string text;
    for (int plane = 0; plane < mode.planeCount; ++plane) {
        if (!text.empty()) text += ' ';
        text += std::to_string(mode.planes[plane].bitsPerPixel);
        if (mode.planes[plane].codeConverted != 0) text += 'c';
    }
    return text;
}

// The codes probed to find which quality and media codes print alike. The range reaches
// past the codes in use on both sides, so the catch-all group holds a code no job names.
constexpr int kFirstProbe = -5;
constexpr int kLastProbe = 40;
constexpr int kProbes = kLastProbe - kFirstProbe + 1;
// The quality codes jobs use; the media codes in use are 0 .. kLastMediaCode.
constexpr int kNamedQualities[] = {0, 5, 10, 15, 20, 30};
constexpr int kLastMediaCode = 37;

// Everything a print mode asks of a caller but the lines per row, as text to compare;
// "-" for no print mode.
std::string Fingerprint(const RenderModeRequest& request) {
    RenderMode mode{};
    if (!DescribeMode(request, &mode)) return "-";
    std::string text = std::to_string(mode.inkSetId) + ":" + std::to_string(mode.printerPlanes) +
                       ":" + std::to_string(mode.split) + ":";
    for (int i = 0; i < mode.planeCount; ++i) {
        const RenderPlaneInfo& plane = mode.planes[i];
        for (int field : {int{plane.inkCode}, plane.bitsPerPixel, plane.levels, plane.codeConverted,
                          plane.split, plane.splitOutputs})
            text += std::to_string(field) + ",";
        text += ";";
    }
    return text;
}

// What every probed pair of codes does under every combination of the page flags.
class ModeProbe {
public:
    ModeProbe() : cells_(static_cast<std::size_t>(kProbes) * kProbes) {
        for (int q = 0; q < kProbes; ++q) {
            for (int m = 0; m < kProbes; ++m) {
                std::string& cell = cells_[Index(q, m)];
                for (int flags = 0; flags < 8; ++flags) {
                    RenderModeRequest request{};
                    request.qualityCode = kFirstProbe + q;
                    request.mediaCode = kFirstProbe + m;
                    request.blackOnly = flags & 1;
                    request.kForBlack = (flags >> 1) & 1;
                    request.keepColor = (flags >> 2) & 1;
                    request.resolution = 600;
                    cell += Fingerprint(request) + "|";
                }
            }
        }
    }

    // Two quality codes print alike when they do with every media code, and the other
    // way round.
    bool SameQuality(int a, int b) const {
        for (int m = 0; m < kProbes; ++m)
            if (cells_[Index(a - kFirstProbe, m)] != cells_[Index(b - kFirstProbe, m)])
                return false;
        return true;
    }
    bool SameMedia(int a, int b) const {
        for (int q = 0; q < kProbes; ++q)
            if (cells_[Index(q, a - kFirstProbe)] != cells_[Index(q, b - kFirstProbe)])
                return false;
        return true;
    }

private:
    static std::size_t Index(int q, int m) { return static_cast<std::size_t>(q) * kProbes + m; }
    std::vector<std::string> cells_;
};

// Gives every probed code to a representative it prints alike with: a representative is
// its own, any other code goes to the first alike in `representatives`. Returns the
// codes of each representative, in increasing order.
std::vector<std::vector<int>> GroupCodes(const std::vector<int>& representatives,
                                         bool (ModeProbe::*same)(int, int) const,
                                         const ModeProbe& probe) {
    std::vector<std::vector<int>> groups(representatives.size());
    for (int code = kFirstProbe; code <= kLastProbe; ++code) {
        const auto own = std::find(representatives.begin(), representatives.end(), code);
        auto group = own;
        if (own == representatives.end())
            group = std::find_if(representatives.begin(), representatives.end(),
                                 [&](int r) { return (probe.*same)(code, r); });
        if (group != representatives.end())
            groups[static_cast<std::size_t>(group - representatives.begin())].push_back(code);
    }
    return groups;
}

std::string JoinCodes(const std::vector<int>& codes) {
    std::string text;
    for (int code : codes) {
        if (!text.empty()) text += ", ";
        text += std::to_string(code);
    }
    return text;
}

// The quality codes jobs use in a group, and "other" when it holds any further code.
std::string QualityLabel(const std::vector<int>& group) {
    std::vector<int> named;
    bool other = false;
    for (int code : group) {
        if (std::find(std::begin(kNamedQualities), std::end(kNamedQualities), code) !=
            std::end(kNamedQualities))
            named.push_back(code);
        else
            other = true;
    }
    std::string text = JoinCodes(named);
    if (other) text += text.empty() ? "other" : ", other";
    return text;
}

// A group's media codes; the catch-all group, which most codes fall into, says "other".
std::string MediaLabel(const std::vector<int>& group) {
    const bool catchAll = std::any_of(group.begin(), group.end(),
                                      [](int code) { return code < 0 || code > kLastMediaCode; });
    return catchAll ? "other" : JoinCodes(group);
}

void PrintModes(const Options& options) {
    std::printf("page flags:%s%s%s%s\n", options.blackOnly ? " --black-only" : "",
                options.kForBlack ? " --k-for-black" : "", options.keepColor ? " --keep-color" : "",
                options.blackOnly || options.kForBlack || options.keepColor ? "" : " none");
    std::printf("bits per pixel of the lines handed in, plane 0 first; c: code-converted\n\n");
    std::printf("  %-14s %-12s %-4s %-10s %-6s %-31s %s\n", "quality", "media", "set", "inks",
                "planes", "bits per pixel", "lines/row 300/600");

    // One pair per quality row and media column of the module's tables, lowest quality
    // code first.
    std::vector<RenderModePair> pairs(static_cast<std::size_t>(RenderListModePairs(nullptr, 0)));
    RenderListModePairs(pairs.data(), static_cast<int>(pairs.size()));
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const RenderModePair& a, const RenderModePair& b) {
                         return a.qualityCode < b.qualityCode;
                     });
    std::vector<int> qualities;
    std::vector<int> media;
    for (const RenderModePair& pair : pairs) {
        if (std::find(qualities.begin(), qualities.end(), pair.qualityCode) == qualities.end())
            qualities.push_back(pair.qualityCode);
        if (std::find(media.begin(), media.end(), pair.mediaCode) == media.end())
            media.push_back(pair.mediaCode);
    }
    const ModeProbe probe;
    const std::vector<std::vector<int>> qualityGroups =
        GroupCodes(qualities, &ModeProbe::SameQuality, probe);
    const std::vector<std::vector<int>> mediaGroups =
        GroupCodes(media, &ModeProbe::SameMedia, probe);
    auto label = [](const std::vector<int>& codes, const std::vector<std::vector<int>>& groups,
                    int code, std::string (*describe)(const std::vector<int>&)) {
        const auto at = std::find(codes.begin(), codes.end(), code);
        return describe(groups[static_cast<std::size_t>(at - codes.begin())]);
    };

    for (const RenderModePair& pair : pairs) {
        RenderModeRequest request = MakeRequest(pair.qualityCode, pair.mediaCode, options);
        request.formFeed = 0;
        request.resolution = 300;
        RenderMode mode300{};
        if (!DescribeMode(request, &mode300)) continue;
        request.resolution = 600;
        RenderMode mode{};
        if (!DescribeMode(request, &mode)) continue;
        const bool isDefault =
            pair.qualityCode == Options{}.quality && pair.mediaCode == Options{}.media;
        std::printf("%c %-14s %-12s %-4d %-10s %-6d %-31s %d/%d\n", isDefault ? '*' : ' ',
                    label(qualities, qualityGroups, pair.qualityCode, QualityLabel).c_str(),
                    label(media, mediaGroups, pair.mediaCode, MediaLabel).c_str(), mode.inkSetId,
                    DescribeInks(mode).c_str(), mode.printerPlanes, DescribeFormats(mode).c_str(),
                    mode300.linesPerRow, mode.linesPerRow);
    }
    std::printf(
        "\n* the default mode. A form-feed job always sends 8 lines per row; 360 dpi "
        "sends 1.\n");
}

// --- The command stream ---------------------------------------------------------------

struct StreamCounts {
    std::uint64_t bytes = 0;
    std::uint64_t segments = 0;
    std::uint64_t pageHeaders = 0;
    std::uint64_t packets = 0;
    std::uint64_t emptyPackets = 0;
    std::uint64_t payloadBytes = 0;
    std::uint64_t skips = 0;
    std::uint64_t skippedRows = 0;
    std::uint64_t selections = 0;
    std::uint64_t formFeeds = 0;
};

// Counts the commands of one segment, framed by the decoder's parser. Each segment
// holds whole commands; false, with a message, when it does not.
bool ScanSegment(const std::uint8_t* data, std::size_t length, StreamCounts* counts,
                 std::string* message) {
    const std::span<const std::uint8_t> bytes(data, length);
    std::size_t at = 0;
    while (at < length) {
        decode::RawCommand command;
        const decode::Error error = decode::FrameCommand(bytes, at, &command);
        if (error.code != decode::ErrorCode::kNone) {
            *message = "a segment does not hold whole commands: " + error.message;
            return false;
        }
        switch (command.kind) {
            case decode::CommandKind::kFormFeed:
                ++counts->formFeeds;
                break;
            case decode::CommandKind::kPageStart:
                ++counts->pageHeaders;
                break;
            case decode::CommandKind::kLinesPerRow:
                break;
            case decode::CommandKind::kPacket:
                ++counts->packets;
                if (command.parameters.empty()) ++counts->emptyPackets;
                counts->payloadBytes += command.parameters.size();
                break;
            case decode::CommandKind::kSkip:
                ++counts->skips;
                counts->skippedRows +=
                    (static_cast<unsigned>(command.parameters[0]) << 8) | command.parameters[1];
                break;
            case decode::CommandKind::kSelect:
                ++counts->selections;
                break;
        }
        at += command.length;
    }
    return true;
}

// Where the produced bytes go: the file, and a copy in memory when the stream is to be
// read back.
struct Sink {
    std::FILE* file = nullptr;
    std::vector<std::uint8_t>* memory = nullptr;
    StreamCounts counts;
    double seconds = 0;
};

bool SendSegments(void* listHandle, Sink* sink) {
    const Clock::time_point started = Clock::now();
    const auto* list = static_cast<const SegmentList*>(listHandle);
    for (int i = 0; i < list->count; ++i) {
        const Segment& segment = list->items[i];
        std::string message;
        if (!ScanSegment(segment.data, segment.length, &sink->counts, &message)) {
            std::fprintf(stderr, "inkrow-page: segment %d of a list: %s\n", i, message.c_str());
            return false;
        }
        if (std::fwrite(segment.data, 1, segment.length, sink->file) != segment.length) {
            std::fprintf(stderr, "inkrow-page: cannot write the stream: %s\n",
                         std::strerror(errno));
            return false;
        }
        if (sink->memory != nullptr)
            sink->memory->insert(sink->memory->end(), segment.data, segment.data + segment.length);
        sink->counts.bytes += segment.length;
        ++sink->counts.segments;
    }
    sink->seconds += std::chrono::duration<double>(Clock::now() - started).count();
    return true;
}

// --- The job --------------------------------------------------------------------------

struct Job {
    int width = 0;
    int height = 0;
    int linesPerRow = 0;
    RenderMode mode{};
    testpage::PlaneSetup setup;
    std::string subtitle;
};

struct JobResult {
    double moduleSeconds = 0;
    double renderSeconds = 0;
    std::uint64_t lines = 0;
    std::uint64_t rasterBytes = 0;   // bytes of the lines handed in (null lines excluded)
    std::vector<int> lastInkedLine;  // per page, -1 for a page without ink
};

std::string PageTitle(int page, int pages) {
    std::string title = "INKROW TEST PAGE";
    if (pages > 1) title += "  " + std::to_string(page + 1) + " OF " + std::to_string(pages);
    return title;
}

testpage::Page BuildJobPage(const Job& job, const Options& options, int page) {
    return testpage::BuildPage(job.setup, job.width, job.height, options.resolution,
                               PageTitle(page, options.pages), job.subtitle);
}

bool Expect(int16_t result, int16_t wanted, const char* call, int page, int line) {
    if (result == wanted) return true;
    if (line >= 0)
        std::fprintf(stderr, "inkrow-page: %s on page %d, line %d returned %s (0x%04X)\n", call,
                     page + 1, line, RenderOutputResultText(result),
                     static_cast<unsigned>(result) & 0xFFFFu);
    else if (page >= 0)
        std::fprintf(stderr, "inkrow-page: %s on page %d returned %s (0x%04X)\n", call, page + 1,
                     RenderOutputResultText(result), static_cast<unsigned>(result) & 0xFFFFu);
    else
        std::fprintf(stderr, "inkrow-page: %s returned %s (0x%04X)\n", call,
                     RenderOutputResultText(result), static_cast<unsigned>(result) & 0xFFFFu);
    return false;
}

double SecondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// A producing call and its completion, with the list sent in between.
bool ProduceAndComplete(OutputHandle* handle, int16_t produced, void* list, const char* call,
                        int page, int line, Sink* sink, JobResult* result,
                        Clock::time_point started) {
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(produced, OUTPUT_OK, call, page, line)) return false;
    if (!SendSegments(list, sink)) return false;
    const Clock::time_point completing = Clock::now();
    const int16_t completed = OutputComplete(handle);
    result->moduleSeconds += SecondsSince(completing);
    return Expect(completed, OUTPUT_OK, "OutputComplete", page, line);
}

bool RunPages(OutputHandle* handle, const Job& job, const Options& options, Sink* sink,
              JobResult* result) {
    const int16_t formFeed = PageFlag(options.formFeed);
    JobParams jobParams{};
    jobParams.mediaCode = static_cast<int16_t>(options.media);
    jobParams.qualityCode = static_cast<int16_t>(options.quality);
    jobParams.pixelWidth = static_cast<int16_t>(job.width);
    jobParams.formFeedFlag = formFeed;
    Clock::time_point started = Clock::now();
    int16_t code = OutputInitTwo(handle, &jobParams, OUTPUT_JOB_PARAMS_VERSION);
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(code, OUTPUT_OK, "OutputInitTwo", -1, -1)) return false;

    PageParams pageParams{};
    pageParams.blackOnly = PageFlag(options.blackOnly);
    pageParams.resolution = static_cast<int16_t>(options.resolution);
    pageParams.formFeedFlag = formFeed;
    pageParams.kForBlack = PageFlag(options.kForBlack);
    pageParams.keepColor = PageFlag(options.keepColor);

    const testpage::PlaneSetup& setup = job.setup;
    std::vector<std::vector<std::uint8_t>> lines(static_cast<std::size_t>(setup.count));
    for (int i = 0; i < setup.count; ++i)
        lines[i].resize(testpage::LineBytes(job.width, setup.planes[i].bitsPerPixel));
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(job.width));

    for (int page = 0; page < options.pages; ++page) {
        const testpage::Page drawing = BuildJobPage(job, options, page);
        started = Clock::now();
        code = OutputInitPart(handle, &pageParams);
        result->moduleSeconds += SecondsSince(started);
        if (!Expect(code, OUTPUT_OK, "OutputInitPart", page, -1)) return false;

        int lastInked = -1;
        for (int y = 0; y < job.height; ++y) {
            // The module works on the lines in place, so each is drawn afresh.
            const Clock::time_point drawing0 = Clock::now();
            RasterBand band{};
            band.lineNumber = y;
            for (int i = 0; i < setup.count; ++i) {
                BandPlane& plane = band.bandPlanes[i];
                plane.end = static_cast<int16_t>(job.width);
                if (!testpage::RenderLevels(drawing, y, i, levels.data())) {
                    plane.start = plane.end;  // and pixels stays null: nothing on this line
                    continue;
                }
                const int first = testpage::PackLevels(
                    levels.data(), job.width, setup.planes[i].bitsPerPixel, lines[i].data());
                plane.pixels = lines[i].data();
                plane.start = static_cast<int16_t>(first);
                plane.trail = 0;
                result->rasterBytes += lines[i].size();
                lastInked = y;
            }
            result->renderSeconds += SecondsSince(drawing0);

            void* list = nullptr;
            started = Clock::now();
            code = OutputProduceTwo(handle, &band, &list);
            if (!ProduceAndComplete(handle, code, list, "OutputProduceTwo", page, y, sink, result,
                                    started))
                return false;
            ++result->lines;
        }
        result->lastInkedLine.push_back(lastInked);

        void* list = nullptr;
        started = Clock::now();
        if (options.formFeed) {
            // Rows at and after the limit are dropped: give the whole last row.
            const int limit =
                (job.height + job.linesPerRow - 1) / job.linesPerRow * job.linesPerRow;
            code = OutputFormFeed(handle, &list, limit);
            if (!ProduceAndComplete(handle, code, list, "OutputFormFeed", page, -1, sink, result,
                                    started))
                return false;
        } else {
            code = OutputFlush(handle, &list);
            if (!ProduceAndComplete(handle, code, list, "OutputFlush", page, -1, sink, result,
                                    started))
                return false;
        }
    }
    if (options.formFeed) {
        void* list = nullptr;
        started = Clock::now();
        code = OutputFlush(handle, &list);
        if (!ProduceAndComplete(handle, code, list, "OutputFlush (end of job)", -1, -1, sink,
                                result, started))
            return false;
    }
    return true;
}

bool RunJob(const Job& job, const Options& options, Sink* sink, JobResult* result) {
    OutputHandle handle = nullptr;
    const Clock::time_point started = Clock::now();
    const int16_t opened = OutputOpen(&handle);
    result->moduleSeconds += SecondsSince(started);
    if (!Expect(opened, OUTPUT_OPENED, "OutputOpen", -1, -1)) return false;
    const bool ok = RunPages(&handle, job, options, sink, result);
    const Clock::time_point closing = Clock::now();
    OutputClose(&handle);
    result->moduleSeconds += SecondsSince(closing);
    if (ok && handle != nullptr) {
        std::fputs("inkrow-page: OutputClose left the handle set\n", stderr);
        return false;
    }
    return ok;
}

// --- Reading the stream back ----------------------------------------------------------

// Bytes per input level of the split: outputs 0, 1 (and 2, 3) in bits 7-6, 5-4, ...
constexpr std::uint8_t kTwoWaySplit[8] = {0x00, 0x40, 0x80, 0x90, 0xA0, 0xD0, 0xE0, 0xF0};
constexpr std::uint8_t kFourWaySplit[16] = {0x00, 0x01, 0x02, 0x06, 0x16, 0x56, 0x5A, 0x6A,
                                            0xAA, 0x9B, 0x5F, 0x6F, 0xAF, 0x7F, 0xBF, 0xFF};
constexpr int kSplitSource[16] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 3, 4, 3, 4};

// How the printer plane's level at a pixel follows from its input plane's level.
struct PrinterPlane {
    std::uint8_t code = 0;
    int input = 0;
    int splitOutput = -1;  // -1: the input's level itself
    decode::PixelFormat format;
};

std::vector<PrinterPlane> DescribePrinterPlanes(const Job& job) {
    const std::vector<std::uint8_t> codes = testpage::InkCodes(job.mode);
    std::vector<PrinterPlane> planes;
    for (int k = 0; k < job.mode.printerPlanes && k < static_cast<int>(codes.size()); ++k) {
        PrinterPlane plane;
        plane.code = codes[k];
        if (job.setup.split) {
            plane.input = kSplitSource[k];
            plane.splitOutput = 0;
            for (int j = 0; j < k; ++j)
                if (kSplitSource[j] == plane.input) ++plane.splitOutput;
            plane.format = {2, false};
        } else {
            plane.input = k;
            plane.format = {job.mode.planes[k].bitsPerPixel, job.mode.planes[k].codeConverted != 0};
        }
        planes.push_back(plane);
    }
    return planes;
}

std::uint8_t ExpectedLevel(const PrinterPlane& plane, std::uint8_t inputLevel) {
    if (plane.splitOutput < 0) return inputLevel;
    const bool fourWay = plane.input == 3 || plane.input == 4;
    const std::uint8_t entry = fourWay ? (inputLevel < 16 ? kFourWaySplit[inputLevel] : 0)
                                       : (inputLevel < 8 ? kTwoWaySplit[inputLevel] : 0);
    return static_cast<std::uint8_t>((entry >> (6 - 2 * plane.splitOutput)) & 3);
}

// Levels of one decoded line; a line the raster does not reach is blank.
void ExpandLine(const decode::InkRaster* raster, decode::PixelFormat format, std::uint64_t line,
                int width, std::uint8_t* levels) {
    std::memset(levels, 0, static_cast<std::size_t>(width));
    if (raster == nullptr || line >= raster->lineCount || raster->bytes.empty()) return;
    const std::uint8_t* bytes = raster->bytes.data() + line * raster->widthBytes;
    const int perByte = decode::CountPixelsPerByte(format);
    for (std::uint32_t b = 0; b < raster->widthBytes; ++b) {
        unsigned value = bytes[b];
        if (value == 0) continue;
        std::uint8_t digits[8] = {};
        if (format.baseThree) {
            for (int k = 4; k >= 0; --k) {
                digits[k] = static_cast<std::uint8_t>(value % 3);
                value /= 3;
            }
            if (value != 0) digits[0] = 0xFF;  // no valid code: never matches a level
        } else {
            const unsigned mask = (1u << format.bitsPerPixel) - 1;
            for (int k = 0; k < perByte; ++k)
                digits[k] = static_cast<std::uint8_t>(
                    (value >> (8 - format.bitsPerPixel * (k + 1))) & mask);
        }
        for (int k = 0; k < perByte; ++k) {
            const std::uint64_t x = std::uint64_t{b} * perByte + k;
            if (x < static_cast<std::uint64_t>(width))
                levels[x] = digits[k];
            else if (digits[k] != 0)
                levels[width - 1] = 0xFE;  // ink beyond the page: report at its edge
        }
    }
}

// Reads the stream back with the decoder's defaults: a form-feed job is found by its
// form feed, like any stream of the module.
bool DecodeJob(const std::vector<std::uint8_t>& stream, decode::Decoded* decoded) {
    decode::DecodeOptions decodeOptions;
    decodeOptions.keepListing = false;
    decodeOptions.keepRasters = true;
    decodeOptions.maxRasterBytes = std::uint64_t{1} << 34;
    const decode::Error error = decode::DecodeStream(stream, decodeOptions, decoded);
    if (error.code != decode::ErrorCode::kNone) {
        std::fprintf(stderr, "inkrow-page: the decoder rejects the stream at byte %zu: %s: %s\n",
                     error.offset, decode::DescribeErrorCode(error.code), error.message.c_str());
        return false;
    }
    return true;
}

// Compares every pixel of every printer plane with the page as drawn. A form-feed job
// reads back as one page on which each page follows the last inked row of the one before.
bool VerifyJob(const Job& job, const Options& options, const JobResult& result,
               const decode::Decoded& decoded) {
    const std::size_t wantedPages = options.formFeed ? 1 : static_cast<std::size_t>(options.pages);
    if (decoded.pages.size() != wantedPages) {
        std::fprintf(stderr, "verify: the stream holds %zu pages, expected %zu\n",
                     decoded.pages.size(), wantedPages);
        return false;
    }
    const std::vector<PrinterPlane> planes = DescribePrinterPlanes(job);
    bool ok = true;
    for (const decode::Page& page : decoded.pages) {
        for (const decode::InkRaster& ink : page.inks) {
            const bool known =
                std::any_of(planes.begin(), planes.end(),
                            [&](const PrinterPlane& p) { return p.code == ink.code; });
            if (!known) {
                std::fprintf(stderr, "verify: ink %s is not an ink of the print mode\n",
                             decode::FormatInkCode(ink.code).c_str());
                ok = false;
            }
        }
        if (page.linesPerRow != job.linesPerRow) {
            std::fprintf(stderr, "verify: page sends %u lines per row, expected %d\n",
                         page.linesPerRow, job.linesPerRow);
            ok = false;
        }
    }
    if (!ok) return false;

    std::vector<std::vector<std::uint8_t>> input(static_cast<std::size_t>(job.setup.count),
                                                 std::vector<std::uint8_t>(job.width));
    std::vector<std::uint8_t> got(static_cast<std::size_t>(job.width));
    std::uint64_t badLines = 0;
    std::uint64_t offset = 0;  // lines, in a form-feed job
    for (int p = 0; p < options.pages; ++p) {
        const decode::Page& page = decoded.pages[options.formFeed ? 0 : p];
        const testpage::Page drawing = BuildJobPage(job, options, p);
        // In a form-feed job the next page covers what lies below this page's last
        // inked row.
        int checkedLines = job.height;
        if (options.formFeed && p + 1 < options.pages && result.lastInkedLine[p] >= 0)
            checkedLines = std::min(
                job.height, (result.lastInkedLine[p] / job.linesPerRow + 1) * job.linesPerRow);
        for (int y = 0; y < checkedLines; ++y) {
            for (int i = 0; i < job.setup.count; ++i)
                testpage::RenderLevels(drawing, y, i, input[i].data());
            for (const PrinterPlane& plane : planes) {
                ExpandLine(decode::FindInk(page, plane.code), plane.format, offset + y, job.width,
                           got.data());
                for (int x = 0; x < job.width; ++x) {
                    const std::uint8_t wanted = ExpectedLevel(plane, input[plane.input][x]);
                    if (got[x] == wanted) continue;
                    if (badLines < 5)
                        std::fprintf(stderr,
                                     "verify: page %d line %d ink %s pixel %d: level %u, "
                                     "expected %u\n",
                                     p + 1, y, decode::FormatInkCode(plane.code).c_str(), x, got[x],
                                     wanted);
                    ++badLines;
                    break;
                }
            }
        }
        if (options.formFeed && result.lastInkedLine[p] >= 0) {
            // The rows below the last inked one are never sent; the next page goes on there.
            offset += static_cast<std::uint64_t>(result.lastInkedLine[p] / job.linesPerRow + 1) *
                      job.linesPerRow;
        }
    }
    if (badLines != 0) {
        std::fprintf(stderr, "verify: %" PRIu64 " ink lines differ from the page as drawn\n",
                     badLines);
        return false;
    }
    std::printf("verify: every pixel of %s on %s matches the page as drawn\n",
                Count(planes.size(), "ink").c_str(),
                Count(static_cast<std::uint64_t>(options.pages), "page").c_str());
    return true;
}

std::string PreviewPath(const std::string& path, std::size_t page) {
    if (page == 0) return path;
    const std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(page + 1) + path.substr(dot);
}

// Opens every preview file before anything is drawn, so that a bad path fails at once:
// one per page, or one for a form-feed job, whose pages run down a single sheet.
bool OpenPreviews(const Options& options, std::vector<decode::PngFile*>* files) {
    const int count = options.formFeed ? 1 : options.pages;
    for (int p = 0; p < count; ++p) {
        std::string message;
        decode::PngFile* file = decode::OpenPngFile(PreviewPath(options.png, p), &message);
        if (file == nullptr) {
            std::fprintf(stderr, "inkrow-page: cannot write the preview %s\n", message.c_str());
            return false;
        }
        files->push_back(file);
    }
    return true;
}

void DiscardPreviews(std::vector<decode::PngFile*>* files) {
    for (decode::PngFile* file : *files)
        decode::DiscardPngFile(file);
    files->clear();
}

// Writes each page's preview row by row into the files opened before the job ran.
bool WritePreviews(const Job& job, const Options& options, const decode::Decoded& decoded,
                   std::vector<decode::PngFile*>* files) {
    const std::vector<PrinterPlane> planes = DescribePrinterPlanes(job);
    for (std::size_t p = 0; p < files->size(); ++p) {
        decode::PngFile* file = (*files)[p];
        (*files)[p] = nullptr;
        const std::string path = PreviewPath(options.png, p);
        if (p >= decoded.pages.size()) {
            decode::DiscardPngFile(file);
            std::fprintf(stderr, "inkrow-page: %s: the stream has no page %zu\n", path.c_str(),
                         p + 1);
            return false;
        }
        const decode::Page& page = decoded.pages[p];
        std::vector<decode::PictureInk> inks;
        auto height = static_cast<std::uint64_t>(job.height);
        for (const decode::InkRaster& raster : page.inks) {
            decode::PictureInk ink;
            ink.code = raster.code;
            ink.raster = &raster;
            for (const PrinterPlane& plane : planes)
                if (plane.code == raster.code) ink.format = plane.format;
            inks.push_back(ink);
            height = std::max(height, raster.lineCount);
        }
        std::string message;
        std::uint64_t invalid = 0;
        if (height > std::numeric_limits<std::uint32_t>::max()) {
            decode::DiscardPngFile(file);
            std::fprintf(stderr, "inkrow-page: %s: the preview is too large\n", path.c_str());
            return false;
        }
        if (!decode::WritePreviewPng(file, inks, static_cast<std::uint32_t>(job.width),
                                     static_cast<std::uint32_t>(height), &invalid, &message)) {
            std::fprintf(stderr, "inkrow-page: %s\n", message.c_str());
            return false;
        }
        std::printf("wrote preview %s (%d x %llu)\n", path.c_str(), job.width,
                    static_cast<unsigned long long>(height));
    }
    return true;
}

// --- Summary --------------------------------------------------------------------------

void PrintConfiguration(const Job& job, const Options& options) {
    std::printf("print mode: quality %d, media %d: ink set %d (%s), %s: %s\n", options.quality,
                options.media, job.mode.inkSetId, DescribeInks(job.mode).c_str(),
                Count(static_cast<std::uint64_t>(job.mode.printerPlanes), "plane").c_str(),
                DescribeFormats(job.mode).c_str());
    std::printf("page: %d x %d pixels at %d dpi (A4), %d lines per row, %d page%s%s\n", job.width,
                job.height, options.resolution, job.linesPerRow, options.pages,
                options.pages == 1 ? "" : "s", options.formFeed ? ", form-feed job" : "");
}

void PrintSummary(const Options& options, const Sink& sink, const JobResult& result,
                  double totalSeconds) {
    const StreamCounts& c = sink.counts;
    std::printf("wrote %s: %" PRIu64 " bytes in %" PRIu64 " segments\n", options.output.c_str(),
                c.bytes, c.segments);
    std::printf("  %s (%" PRIu64 " empty, %s), %s (%s), %s, %s, %s\n",
                Count(c.packets, "packet").c_str(), c.emptyPackets,
                Count(c.payloadBytes, "payload byte").c_str(), Count(c.skips, "skip").c_str(),
                Count(c.skippedRows, "row").c_str(), Count(c.selections, "selection").c_str(),
                Count(c.pageHeaders, "page header").c_str(),
                Count(c.formFeeds, "form feed").c_str());
    const double module = std::max(result.moduleSeconds, 1e-9);
    std::printf("  module %.3f s: %.0f lines/s, %.1f MB/s of raster in (%.1f MB in, %.2f : 1)\n",
                result.moduleSeconds, static_cast<double>(result.lines) / module,
                static_cast<double>(result.rasterBytes) / module / 1e6,
                static_cast<double>(result.rasterBytes) / 1e6,
                c.bytes == 0
                    ? 0.0
                    : static_cast<double>(result.rasterBytes) / static_cast<double>(c.bytes));
    std::printf("  drawing %.3f s, writing %.3f s, total %.3f s\n", result.renderSeconds,
                sink.seconds, totalSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (options.modes) {
        PrintModes(options);
        return 0;
    }

    Job job;
    if (!DescribeMode(MakeRequest(options.quality, options.media, options), &job.mode)) {
        std::fprintf(stderr,
                     "inkrow-page: quality %d with media %d is not a supported print mode "
                     "(see --modes)\n",
                     options.quality, options.media);
        return 2;
    }
    job.setup = testpage::DescribeInputPlanes(job.mode);
    job.width = testpage::A4Width(options.resolution);
    job.height = testpage::A4Height(options.resolution);
    // The request carries the resolution and the form-feed flag: a form-feed job
    // sends 8 lines per row whatever the resolution.
    job.linesPerRow = job.mode.linesPerRow;
    job.subtitle = "QUALITY " + std::to_string(options.quality) + "  MEDIA " +
                   std::to_string(options.media) + "  " + DescribeInks(job.mode) + "  " +
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
