// inkrow-page's counts of the stream (statistics.h).
#include "statistics.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <span>

#include "inkrow/output.h"
#include "picture.h"

namespace inkrow::page {

namespace decode = inkrow::decode;

std::string Count(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

double SecondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

namespace {

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

}  // namespace

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

}  // namespace inkrow::page
