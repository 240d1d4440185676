// Many random jobs in every configuration, checked for the stream's structural
// invariants rather than exact bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "catalog/print_modes.h"
#include "core/context.h"
#include "decode.h"
#include "job_driver.h"
#include "test_heap.h"
#include "test_seed.h"

using namespace jobdriver;

namespace inkrow {
namespace {

// Every segment must start at a node's first byte and cover exactly what it holds.
void ExpectSegmentsCoverWholeNodes(const OutputContext* context, const void* listHandle) {
    const auto* list = static_cast<const SegmentList*>(listHandle);
    for (int i = 0; i < list->count; ++i) {
        const Segment& segment = list->items[i];
        bool found = false;
        for (const BufferNode* node = &context->controlChain; node != nullptr && !found;
             node = node->next) {
            if (node->dataHandle == segment.data) {
                found = true;
                EXPECT_EQ(segment.length, node->usedLength);
            }
        }
        for (int plane = 0; plane < context->planeCount && !found; ++plane) {
            const BufferNode& packet = context->planes[plane].packetChain;
            if (packet.dataHandle == segment.data) {
                found = true;
                EXPECT_EQ(segment.length, packet.usedLength);
            }
        }
        EXPECT_TRUE(found) << "segment " << i << " points into no node";
    }
}

// Walks a stream and checks its structure; returns the number of packets.
int CheckStream(const Bytes& stream, int planeCount, std::string* error) {
    std::size_t at = 0;
    int linesPerRow = 0, owedPackets = 0, selected = 0, packets = 0;
    auto fail = [&](const std::string& what) {
        *error = what + " at " + std::to_string(at);
        return -1;
    };
    while (at < stream.size()) {
        // The decoder's parser frames the commands; the checks below are the ones a
        // random job must meet on top of framing.
        decode::RawCommand command;
        const decode::Error framing = decode::FrameCommand(stream, at, &command);
        if (framing.code != decode::ErrorCode::kNone) return fail(framing.message);
        const std::span<const std::uint8_t> parameters = command.parameters;
        const std::size_t length = parameters.size();
        const std::size_t body = at + command.length - length;
        if (command.kind == decode::CommandKind::kFormFeed) {
            at += command.length;
            continue;
        }
        if (owedPackets > 0 && command.kind != decode::CommandKind::kPacket)
            return fail("selection short of packets");
        switch (command.kind) {
            case decode::CommandKind::kFormFeed:
            case decode::CommandKind::kPageStart:
                break;
            case decode::CommandKind::kLinesPerRow:
                linesPerRow = parameters[0];
                if (linesPerRow != 1 && linesPerRow != 8 && linesPerRow != 16)
                    return fail("bad lines per row");
                break;
            case decode::CommandKind::kSkip:
                if (parameters[0] > 0x7F || (parameters[0] | parameters[1]) == 0)
                    return fail("bad skip");
                break;
            case decode::CommandKind::kSelect:
                selected = static_cast<int>(length);
                if (selected < 1 || selected > planeCount) return fail("bad selection");
                owedPackets = selected;
                break;
            case decode::CommandKind::kPacket: {
                if (selected == 0) return fail("packet without selection");
                if (owedPackets == 0) owedPackets = selected;  // same selection, next row
                --owedPackets;
                ++packets;
                if (length == 0) break;
                int lines = 0;
                std::size_t p = body;
                const std::size_t end = body + length;
                while (p < end) {
                    const std::uint8_t control = stream[p++];
                    if (control == 0x80) {
                        ++lines;
                    } else if (control < 0x80) {
                        p += control + 1u;
                    } else {
                        p += 1;
                    }
                    if (p > end) return fail("run past the packet");
                }
                if (lines != linesPerRow) return fail("packet line count");
                break;
            }
            default:
                return fail("unknown command");
        }
        at = body + length;
    }
    if (owedPackets != 0) return fail("selection short of packets at end");
    return packets;
}

struct Mode {
    std::int16_t quality, media;
};

TEST(RandomJobs, StreamsKeepTheirStructure) {
    const Mode modes[] = {{20, 0}, {15, 27}, {10, 0}, {10, 7}, {10, 1}, {10, 18},
                          {5, 0},  {5, 7},   {5, 37}, {0, 26}, {0, 31}, {15, 29}};
    const std::int16_t resolutions[] = {300, 600, 360};
    const std::uint32_t seed = testseed::TestSeed(12345);
    SCOPED_TRACE(testseed::SeedNote(seed));
    std::mt19937 random(seed);
    int jobs = 0;
    for (int round = 0; round < 40; ++round) {
        for (const Mode& mode : modes) {
            const std::int16_t width = static_cast<std::int16_t>(1 + random() % 300);
            OutputHandle handle = nullptr;
            ASSERT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
            JobParams job = MakeJob(mode.quality, mode.media, width);
            ASSERT_EQ(OutputInitTwo(&handle, &job, 219), OUTPUT_OK);
            Bytes stream;
            const int pages = 1 + static_cast<int>(random() % 2);
            int planeCount = 0;
            for (int page = 0; page < pages; ++page) {
                PageParams params =
                    MakePage(resolutions[random() % 3], static_cast<std::int16_t>(random() % 2),
                             static_cast<std::int16_t>(random() % 2));
                ASSERT_EQ(OutputInitPart(&handle, &params), OUTPUT_OK);
                const auto* context = static_cast<const OutputContext*>(handle);
                planeCount = std::max<int>(planeCount, context->planeCount);
                const bool split = context->planes[0].twoBitSplit == 1;
                const int inputs = split ? 6 : planeCount;
                int32_t line = static_cast<int32_t>(random() % 40);
                const int lines = static_cast<int>(random() % 60);
                for (int i = 0; i < lines; ++i) {
                    std::vector<PlaneLine> planes(static_cast<std::size_t>(inputs));
                    for (int input = 0; input < inputs; ++input) {
                        if (random() % 3 == 0) continue;  // nothing on this plane
                        const int bits = split ? 4 : 8 >> context->planes[input].pixelShift;
                        const int bytes = (width * bits + 7) / 8;
                        PlaneLine& plane = planes[static_cast<std::size_t>(input)];
                        plane.pixels.resize(static_cast<std::size_t>(bytes));
                        for (auto& byte : plane.pixels)
                            byte = random() % 4 == 0 ? static_cast<std::uint8_t>(random()) : 0;
                        plane.start = static_cast<int16_t>(random() % (width + 1));
                        plane.end = static_cast<int16_t>(plane.start +
                                                         random() % (width - plane.start + 1));
                        plane.trail =
                            static_cast<int16_t>(random() % (plane.end - plane.start + 1));
                    }
                    RasterBand band = MakeBand(line, planes);
                    void* list = nullptr;
                    ASSERT_EQ(OutputProduceTwo(&handle, &band, &list), OUTPUT_OK);
                    ExpectSegmentsCoverWholeNodes(context, list);
                    AppendSegments(list, &stream);
                    ASSERT_EQ(OutputComplete(&handle), OUTPUT_OK);
                    line += 1 + static_cast<int32_t>(random() % (random() % 8 == 0 ? 200 : 3));
                }
                void* list = nullptr;
                ASSERT_EQ(OutputFlush(&handle, &list), OUTPUT_OK);
                ExpectSegmentsCoverWholeNodes(context, list);
                AppendSegments(list, &stream);
                ASSERT_EQ(OutputComplete(&handle), OUTPUT_OK);
            }
            OutputClose(&handle);
            ASSERT_EQ(testheap::LiveBlocks(), 0);
            std::string error;
            ASSERT_GE(CheckStream(stream, planeCount, &error), 0)
                << error << " (quality " << mode.quality << ", media " << mode.media << ")";
            ++jobs;
        }
    }
    EXPECT_EQ(jobs, 40 * 12);
}

}  // namespace
}  // namespace inkrow
