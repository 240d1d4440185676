// The module's answers where a caller errs or memory runs out: null addresses, refused
// job parameters, bands out of order or out of their line, rows too long for a packet,
// output too long for the segment list, failed allocations, OutputProduce's completion,
// and the form-feed page cycle from the first page to the job's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/call_state.h"
#include "core/context.h"
#include "job_driver.h"
#include "test_heap.h"

using namespace jobdriver;

namespace {

inkrow::OutputContext* ContextOf(OutputHandle handle) {
    return static_cast<inkrow::OutputContext*>(handle);
}

const inkrow::CallState& StateOf(OutputHandle handle) {
    return *static_cast<const inkrow::CallState*>(ContextOf(handle)->stateHandle);
}

// The context record and what it owns, compared field by field where it matters to
// the next call (pointers into locked blocks are rebuilt by every call).
struct Observed {
    std::int16_t state, mode;
    std::int16_t pendingCompletion, pageHeaderState, lastInkSelection, formFeedMode;
    std::int16_t linesPerRow, planeCount;
    std::int32_t pendingBlankRows, lastLineNumber;
    std::vector<std::int32_t> lines;  // previous and current line of every plane
    Bytes packets;                    // the used bytes of every packet and staging buffer
    std::int64_t liveBlocks;

    bool operator==(const Observed&) const = default;
};

void AppendLine(const inkrow::LineState& line, std::vector<std::int32_t>* out) {
    out->insert(out->end(), {line.firstInkByte, line.lastInkByte, line.subLine, line.lineNumber,
                             line.rowNumber, line.blankFlag});
}

void AppendUsed(const inkrow::BufferNode& node, Bytes* out) {
    if (node.dataHandle == nullptr) return;
    const auto* bytes = static_cast<const std::uint8_t*>(node.dataHandle);
    out->insert(out->end(), bytes, bytes + node.usedLength);
}

Observed Observe(OutputHandle handle) {
    const inkrow::OutputContext* c = ContextOf(handle);
    Observed o{StateOf(handle).state,
               StateOf(handle).mode,
               c->pendingCompletion,
               c->pageHeaderState,
               c->lastInkSelection,
               c->formFeedMode,
               c->linesPerRow,
               c->planeCount,
               c->pendingBlankRows,
               c->lastLineNumber,
               {},
               {},
               testheap::LiveBlocks()};
    for (int plane = 0; plane < c->planeCount; ++plane) {
        AppendLine(c->planes[plane].previousLine, &o.lines);
        AppendLine(c->planes[plane].currentLine, &o.lines);
        AppendUsed(c->planes[plane].packetChain, &o.packets);
        AppendUsed(c->stagingChains[plane], &o.packets);
    }
    return o;
}

void PrintTo(const Observed& o, std::ostream* out) {
    *out << "state " << o.mode << "/" << o.state << ", pendingCompletion " << o.pendingCompletion
         << ", last line " << o.lastLineNumber << ", blank rows " << o.pendingBlankRows
         << ", packet bytes " << o.packets.size() << ", live blocks " << o.liveBlocks;
}

// An open context with a job taken and, unless told otherwise, a page set up.
struct Job {
    OutputHandle handle = nullptr;
    Bytes stream;

    Job(std::int16_t quality, std::int16_t media, std::int16_t width, PageParams page,
        std::int16_t jobFormFeed = 0, bool setUpPage = true) {
        EXPECT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
        JobParams job = MakeJob(quality, media, width, jobFormFeed);
        EXPECT_EQ(OutputInitTwo(&handle, &job, OUTPUT_JOB_PARAMS_VERSION), OUTPUT_OK);
        if (setUpPage) {
            EXPECT_EQ(OutputInitPart(&handle, &page), OUTPUT_OK);
        }
    }
    ~Job() {
        OutputClose(&handle);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
};

// One plane's line with ink in every byte.
PlaneLine Inked(int bytes, std::uint8_t value = 0xF0) {
    PlaneLine line;
    line.pixels.assign(bytes, value);
    line.end = static_cast<std::int16_t>(bytes * 8);
    return line;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Header(std::uint8_t linesPerRow) {
    return {0x1B, 0x28, 0x49, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, linesPerRow};
}

Bytes Packet(Bytes payload) {
    Bytes out = {0x1B, 0x28, 0x46, static_cast<std::uint8_t>(payload.size() & 0xFF),
                 static_cast<std::uint8_t>(payload.size() >> 8)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes Empties(int n) {
    return Bytes(n, 0x80);
}

const Bytes kSelectK = {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x4B};
const Bytes kSelectCmyk = {0x1B, 0x28, 0x4C, 0x04, 0x00, 0x43, 0x4D, 0x59, 0x4B};
const Bytes kEmptyPacket = {0x1B, 0x28, 0x46, 0x00, 0x00};

// --- Null addresses ---------------------------------------------------------------------

TEST(NullAddresses, EveryEntryPointRefusesAndChangesNothing) {
    Job job(20, 3, 16, MakePage(300));
    OutputHandle none = nullptr;
    JobParams params = MakeJob(20, 3, 16);
    PageParams page = MakePage(300);
    std::vector<PlaneLine> planes(4);
    RasterBand band = MakeBand(0, planes);
    void* list = nullptr;
    OutputHandle* h = &job.handle;
    const std::vector<std::pair<std::string, std::function<int16_t()>>> calls = {
        {"InitTwo, no handle address", [&] { return OutputInitTwo(nullptr, &params, 219); }},
        {"InitTwo, null handle", [&] { return OutputInitTwo(&none, &params, 219); }},
        {"InitTwo, no JobParams", [&] { return OutputInitTwo(h, nullptr, 219); }},
        {"InitPart, no handle address", [&] { return OutputInitPart(nullptr, &page); }},
        {"InitPart, null handle", [&] { return OutputInitPart(&none, &page); }},
        {"InitPart, no PageParams", [&] { return OutputInitPart(h, nullptr); }},
        {"ProduceTwo, no handle address", [&] { return OutputProduceTwo(nullptr, &band, &list); }},
        {"ProduceTwo, no band", [&] { return OutputProduceTwo(h, nullptr, &list); }},
        {"ProduceTwo, no list variable", [&] { return OutputProduceTwo(h, &band, nullptr); }},
        {"Produce, no handle address", [&] { return OutputProduce(nullptr); }},
        {"Produce, null handle", [&] { return OutputProduce(&none); }},
        {"Complete, no handle address", [&] { return OutputComplete(nullptr); }},
        {"Complete, null handle", [&] { return OutputComplete(&none); }},
        {"Flush, null handle", [&] { return OutputFlush(&none, &list); }},
        {"FormFeed, null handle", [&] { return OutputFormFeed(&none, &list, 8); }},
        {"ProduceTwo, null handle", [&] { return OutputProduceTwo(&none, &band, &list); }},
        {"Flush, no handle address", [&] { return OutputFlush(nullptr, &list); }},
        {"Flush, no list variable", [&] { return OutputFlush(h, nullptr); }},
        {"FormFeed, no handle address", [&] { return OutputFormFeed(nullptr, &list, 8); }},
        {"FormFeed, no list variable", [&] { return OutputFormFeed(h, nullptr, 8); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        const Observed before = Observe(job.handle);
        EXPECT_EQ(call(), OUTPUT_FAILED);
        EXPECT_EQ(Observe(job.handle), before);
        EXPECT_EQ(list, nullptr);
    }
    OutputClose(nullptr);
    OutputClose(&none);
    EXPECT_EQ(OutputOpen(nullptr), OUTPUT_OPEN_FAILED);
    // The context still works.
    planes[0] = Inked(2);
    EXPECT_EQ(SendLine(&job.handle, 0, planes, &job.stream), OUTPUT_OK);
}

// --- Job parameters ---------------------------------------------------------------------

TEST(JobParameters, AFailedFormFeedJobIsUndoneSoTheCallerCanRetry) {
    struct Case {
        const char* name;
        JobParams job;
        std::int16_t version;
    };
    const Case cases[] = {
        {"wrong version", MakeJob(20, 3, 16, 1), 218},
        {"no ink set", MakeJob(20, 7, 16, 1), 219},
        {"negative width", MakeJob(20, 3, -1, 1), 219},
        {"negative width, normal mode", MakeJob(20, 3, -300, 0), 219},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputHandle handle = nullptr;
        ASSERT_EQ(OutputOpen(&handle), OUTPUT_OPENED);
        EXPECT_EQ(OutputInitTwo(&handle, &c.job, c.version), OUTPUT_FAILED);
        EXPECT_EQ(StateOf(handle).mode, inkrow::kModeNormal);
        EXPECT_EQ(StateOf(handle).state, inkrow::kStateOpened);
        EXPECT_EQ(ContextOf(handle)->formFeedMode, 0);
        EXPECT_EQ(ContextOf(handle)->pixelWidth, 0);
        // The retry takes the corrected job, in either mode.
        JobParams retry = MakeJob(20, 3, 16, c.job.formFeedFlag);
        EXPECT_EQ(OutputInitTwo(&handle, &retry, 219), OUTPUT_OK);
        EXPECT_EQ(StateOf(handle).mode,
                  c.job.formFeedFlag == 1 ? inkrow::kModeFormFeed : inkrow::kModeNormal);
        EXPECT_EQ(StateOf(handle).state, c.job.formFeedFlag == 1 ? inkrow::kStateFormFeedJobReady
                                                                 : inkrow::kStateJobReady);
        // Taken once: a second job is never allowed.
        EXPECT_EQ(OutputInitTwo(&handle, &retry, 219), OUTPUT_NEVER);
        OutputClose(&handle);
    }
}

// --- Line order and extents -------------------------------------------------------------

TEST(BandRules, BandsOutOfOrderOrOutOfTheirLineAreRefusedUntouched) {
    struct Case {
        const char* name;
        std::int16_t quality, media;
        std::int32_t lineNumber;
        int plane;  // the entry given the extents below
        std::int16_t end, start, trail;
        bool refused;
    };
    // Width 16; line 5 was the last one taken.
    const Case cases[] = {
        {"negative line", 20, 3, -1, 0, 16, 0, 0, true},
        {"repeated line", 20, 3, 5, 0, 16, 0, 0, true},
        {"earlier line", 20, 3, 4, 0, 16, 0, 0, true},
        {"negative start", 20, 3, 6, 1, 16, -1, 0, true},
        {"negative trail", 20, 3, 6, 2, 8, 0, -1, true},
        {"span ends before it starts", 20, 3, 6, 3, 10, 8, 4, true},
        {"span past the line", 20, 3, 6, 0, 17, 0, 0, true},
        {"span past the line, trail inside", 20, 3, 6, 0, 20, 2, 3, true},
        {"empty span at the line's end", 20, 3, 6, 0, 18, 16, 2, false},
        {"a plane the job does not read", 20, 3, 6, 4, 999, -7, -3, false},
        {"sixteen planes: input 5 is read", 0, 26, 6, 5, 17, 0, 0, true},
        {"sixteen planes: entry 6 is not", 0, 26, 6, 6, 999, -7, -3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Job job(c.quality, c.media, 16, MakePage(300));
        const int planeCount = c.quality == 0 ? 6 : 4;
        const int bytes = c.quality == 0 ? 8 : 2;
        std::vector<PlaneLine> planes(7);
        for (int i = 0; i < planeCount; ++i)
            planes[i] = Inked(bytes, 0x5A);
        if (c.quality == 0)
            for (int i = 0; i < planeCount; ++i)
                planes[i].end = 16;
        ASSERT_EQ(SendLine(&job.handle, 5, planes, &job.stream), OUTPUT_OK);

        for (int i = 0; i < 7; ++i)
            planes[i] = Inked(bytes, 0xA5);
        for (int i = 0; i < 7; ++i)
            planes[i].end = 16;
        planes[c.plane].end = c.end;
        planes[c.plane].start = c.start;
        planes[c.plane].trail = c.trail;
        const std::vector<PlaneLine> original = planes;
        RasterBand band = MakeBand(c.lineNumber, planes);
        void* list = reinterpret_cast<void*>(0x1);
        const Observed before = Observe(job.handle);
        const int16_t result = OutputProduceTwo(&job.handle, &band, &list);
        if (!c.refused) {
            EXPECT_EQ(result, OUTPUT_OK);
            continue;
        }
        EXPECT_EQ(result, OUTPUT_FAILED);
        EXPECT_EQ(list, reinterpret_cast<void*>(0x1));
        EXPECT_EQ(Observe(job.handle), before);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(planes[i].pixels, original[i].pixels) << "plane " << i;
        // The page goes on with the next good line.
        for (int i = 0; i < 7; ++i)
            planes[i] = Inked(bytes, 0x3C);
        if (c.quality == 0)
            for (int i = 0; i < 7; ++i)
                planes[i].end = 16;
        EXPECT_EQ(SendLine(&job.handle, 6, planes, &job.stream), OUTPUT_OK);
    }
}

// --- Room in a packet -------------------------------------------------------------------

TEST(PacketRoom, ARowTooLongForItsPacketIsRefusedLineByLine) {
    // 32,767 one-bit pixels of noise: about 4,130 bytes a line, sixteen lines a row,
    // more than the packet holds.
    Job job(20, 3, 32767, MakePage(600));
    std::uint32_t random = 1;
    std::int32_t refusedAt = -1;
    for (std::int32_t line = 0; line < 16; ++line) {
        std::vector<PlaneLine> planes(4);
        planes[1].pixels.resize(4096);
        for (std::uint8_t& byte : planes[1].pixels) {
            random = random * 1103515245u + 12345u;
            byte = static_cast<std::uint8_t>(random >> 16);
        }
        planes[1].end = 32767;
        const std::vector<PlaneLine> original = planes;
        const Observed before = Observe(job.handle);
        RasterBand band = MakeBand(line, planes);
        void* list = reinterpret_cast<void*>(0x1);
        const int16_t result = OutputProduceTwo(&job.handle, &band, &list);
        if (result == OUTPUT_OK) {
            AppendSegments(list, &job.stream);
            ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
            continue;
        }
        EXPECT_EQ(result, OUTPUT_FAILED);
        EXPECT_EQ(list, reinterpret_cast<void*>(0x1));
        EXPECT_EQ(Observe(job.handle), before);
        refusedAt = line;
        break;
    }
    ASSERT_GT(refusedAt, 10) << "refused although the packet still had room";
    const auto* packet = &ContextOf(job.handle)->planes[1].packetChain;
    EXPECT_LE(static_cast<std::uint32_t>(packet->usedLength), packet->capacity);
    // The row can still be finished and the page ended: its packet goes out whole.
    std::vector<PlaneLine> blank(4);
    EXPECT_EQ(SendLine(&job.handle, refusedAt, blank, &job.stream), OUTPUT_OK);
    ASSERT_EQ(EndPage(&job.handle, &job.stream), OUTPUT_OK);
    const std::size_t packetStart = 12 + kSelectCmyk.size() + kEmptyPacket.size();
    ASSERT_GT(job.stream.size(), packetStart + 5);
    const std::size_t length = job.stream[packetStart + 3] | (job.stream[packetStart + 4] << 8);
    EXPECT_EQ(job.stream.size(), packetStart + 5 + length + 2 * kEmptyPacket.size());
}

// --- Room in the segment list -----------------------------------------------------------

TEST(SegmentRoom, RowsSoFarBelowThatTheirSkipsWouldNotFitAreRefused) {
    Job job(20, 3, 8, MakePage(360));  // one line a row
    std::vector<PlaneLine> planes(4);
    planes[3] = Inked(1);
    ASSERT_EQ(SendLine(&job.handle, 0, planes, &job.stream), OUTPUT_OK);
    // 126 skip commands alone would fill the list.
    for (std::int32_t line : {1 + 126 * 32767, INT32_MAX}) {
        SCOPED_TRACE(line);
        const Observed before = Observe(job.handle);
        RasterBand band = MakeBand(line, planes);
        void* list = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(OutputProduceTwo(&job.handle, &band, &list), OUTPUT_FAILED);
        EXPECT_EQ(list, reinterpret_cast<void*>(0x1));
        EXPECT_EQ(Observe(job.handle), before);
    }
    // A hundred full skips and one of 4 rows still fit, after row 0's selection and
    // packet.
    const std::int32_t line = 1 + 100 * 32767 + 4;
    RasterBand band = MakeBand(line, planes);
    void* list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.handle, &band, &list), OUTPUT_OK);
    const auto* segments = static_cast<const SegmentList*>(list);
    ASSERT_EQ(segments->count, 2 + 101);
    Bytes listed;
    AppendSegments(list, &listed);
    Bytes expected = Concat({kSelectK, Packet({0x00, 0xF0, 0x80})});
    for (int i = 0; i < 100; ++i)
        expected.insert(expected.end(), {0x1B, 0x28, 0x65, 0x02, 0x00, 0x7F, 0xFF});
    expected.insert(expected.end(), {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x04});
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(EndPage(&job.handle, &job.stream), OUTPUT_OK);
}

// --- Out of memory ----------------------------------------------------------------------

TEST(OutOfMemory, AFailedPageSetupReleasesItsBlocksAndARetrySucceeds) {
    Job job(0, 26, 40, MakePage(300), 0, false);  // sixteen planes: 48 blocks
    PageParams page = MakePage(300);
    const std::int64_t live = testheap::LiveBlocks();
    for (std::int64_t k = 1; k <= 48; ++k) {
        SCOPED_TRACE(k);
        const Observed before = Observe(job.handle);
        testheap::FailAllocation(k);
        EXPECT_EQ(OutputInitPart(&job.handle, &page), OUTPUT_NO_MEMORY);
        testheap::Reset();
        EXPECT_EQ(testheap::LiveBlocks(), live);
        EXPECT_EQ(Observe(job.handle), before);
        EXPECT_EQ(ContextOf(job.handle)->planeCount, 0);
    }
    EXPECT_EQ(OutputInitPart(&job.handle, &page), OUTPUT_OK);
    EXPECT_EQ(testheap::LiveBlocks(), live + 48);
}

TEST(OutOfMemory, ARowChangeReservesOnlyTheCommandsItWrites) {
    // Rows 0, 2 and 4 inked in the same plane. The change to row 4 commits row 2, which
    // keeps row 0's selection and owes no skips: its only command is the skip over
    // row 3, which the chain's first node holds, so no allocation may be asked for.
    Job job(20, 3, 8, MakePage(300));
    std::vector<PlaneLine> planes(4);
    planes[0] = Inked(1, 0x81);
    ASSERT_EQ(SendLine(&job.handle, 0, planes, &job.stream), OUTPUT_OK);
    ASSERT_EQ(SendLine(&job.handle, 17, planes, &job.stream), OUTPUT_OK);
    RasterBand band = MakeBand(33, planes);
    void* list = nullptr;
    testheap::FailAllocation(1);
    const int16_t result = OutputProduceTwo(&job.handle, &band, &list);
    testheap::Reset();
    ASSERT_EQ(result, OUTPUT_OK);
    AppendSegments(list, &job.stream);
    EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    // The row change listed row 2's packets, no second selection, and the skip last.
    const Bytes skip = {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x01};
    const auto at =
        std::search(job.stream.begin(), job.stream.end(), kSelectCmyk.begin(), kSelectCmyk.end());
    ASSERT_NE(at, job.stream.end());
    EXPECT_EQ(std::search(at + 1, job.stream.end(), kSelectCmyk.begin(), kSelectCmyk.end()),
              job.stream.end());
    ASSERT_GE(job.stream.size(), skip.size());
    EXPECT_TRUE(std::equal(skip.begin(), skip.end(),
                           job.stream.end() - static_cast<std::ptrdiff_t>(skip.size())));
}

TEST(OutOfMemory, AProducingCallThatRunsOutRetriesAsIfNothingFailed) {
    // Line 0, then line 9: the row change lists a selection and a packet and needs a
    // second control node for the skip of the untouched row.
    const auto run = [](std::int64_t failAt, int16_t* failedWith) {
        Job job(20, 3, 8, MakePage(300));
        std::vector<PlaneLine> planes(4);
        planes[0] = Inked(1, 0x81);
        EXPECT_EQ(SendLine(&job.handle, 0, planes, &job.stream), OUTPUT_OK);
        planes[0] = Inked(1, 0x18);
        const std::vector<PlaneLine> original = planes;
        RasterBand band = MakeBand(17, planes);
        void* list = nullptr;
        const Observed before = Observe(job.handle);
        testheap::FailAllocation(failAt);
        *failedWith = OutputProduceTwo(&job.handle, &band, &list);
        testheap::Reset();
        if (*failedWith == OUTPUT_NO_MEMORY) {
            EXPECT_EQ(Observe(job.handle), before);
            EXPECT_EQ(planes[0].pixels, original[0].pixels);
            EXPECT_EQ(OutputProduceTwo(&job.handle, &band, &list), OUTPUT_OK);
        }
        AppendSegments(list, &job.stream);
        EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
        // The page end finds the node it needs already there: nothing to fail.
        testheap::FailAllocation(failAt);
        int16_t flushed = OutputFlush(&job.handle, &list);
        testheap::Reset();
        if (flushed == OUTPUT_NO_MEMORY) {
            EXPECT_EQ(StateOf(job.handle).state, inkrow::kStatePageOpen);
            flushed = OutputFlush(&job.handle, &list);
        }
        EXPECT_EQ(flushed, OUTPUT_OK);
        AppendSegments(list, &job.stream);
        EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
        return job.stream;
    };
    int16_t result = 0;
    const Bytes clean = run(0, &result);
    EXPECT_EQ(result, OUTPUT_OK);
    const Bytes failed = run(1, &result);
    EXPECT_EQ(result, OUTPUT_NO_MEMORY);
    EXPECT_EQ(failed, clean);
    // Line 0 of row 0, then row 2: row 1 skipped.
    const Bytes expected = Concat({Header(8),
                                   kSelectCmyk,
                                   Packet(Concat({{0x00, 0x81}, Empties(8)})),
                                   kEmptyPacket,
                                   kEmptyPacket,
                                   kEmptyPacket,
                                   {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x01},
                                   Packet(Concat({Empties(1), {0x00, 0x18, 0x80}, Empties(6)})),
                                   kEmptyPacket,
                                   kEmptyPacket,
                                   kEmptyPacket});
    EXPECT_EQ(clean, expected);
}

TEST(OutOfMemory, AFailedOpenLeavesNothing) {
    for (std::int64_t k = 1; k <= 5; ++k) {
        OutputHandle handle = reinterpret_cast<OutputHandle>(0x1);
        testheap::FailAllocation(k);
        EXPECT_EQ(OutputOpen(&handle), OUTPUT_OPEN_FAILED) << k;
        testheap::Reset();
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(testheap::LiveBlocks(), 0);
    }
}

// --- OutputProduce ----------------------------------------------------------------------

TEST(ProduceWithoutLine, ItsCompletionDoesNoCompletionWork) {
    const auto run = [](bool withProduce) {
        Job job(20, 3, 8, MakePage(300));
        std::vector<PlaneLine> planes(4);
        for (std::int32_t line = 0; line < 12; ++line) {
            planes[3] = Inked(1, static_cast<std::uint8_t>(0x10 + line));
            EXPECT_EQ(SendLine(&job.handle, line, planes, &job.stream), OUTPUT_OK);
            // Right after the row change of line 8, a band step that takes no line.
            if (line == 8 && withProduce) {
                EXPECT_EQ(OutputProduce(&job.handle), OUTPUT_OK);
                EXPECT_EQ(ContextOf(job.handle)->pendingCompletion, inkrow::kCompletionNone);
                EXPECT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
            }
        }
        EXPECT_EQ(EndPage(&job.handle, &job.stream), OUTPUT_OK);
        return job.stream;
    };
    const Bytes plain = run(false);
    EXPECT_EQ(run(true), plain);
    // Row 1 keeps lines 8 to 11.
    Bytes row1;
    for (int line = 8; line < 12; ++line)
        row1.insert(row1.end(), {0x00, static_cast<std::uint8_t>(0x10 + line), 0x80});
    const Bytes tail = Concat({Packet(Concat({row1, Empties(4)}))});
    ASSERT_GE(plain.size(), tail.size());
    EXPECT_EQ(Bytes(plain.end() - static_cast<std::ptrdiff_t>(tail.size()), plain.end()), tail);
}

// --- Form-feed mode ---------------------------------------------------------------------

// Produce + complete, checking the states on the way.
void Send(OutputHandle* handle, std::int32_t line, std::vector<PlaneLine>& planes, Bytes* stream,
          inkrow::CallStateId stateAfterProduce) {
    RasterBand band = MakeBand(line, planes);
    void* list = nullptr;
    ASSERT_EQ(OutputProduceTwo(handle, &band, &list), OUTPUT_OK);
    EXPECT_EQ(StateOf(*handle).state, stateAfterProduce);
    AppendSegments(list, stream);
    ASSERT_EQ(OutputComplete(handle), OUTPUT_OK);
}

TEST(FormFeedMode, PagesEndWithFormFeedAndTheJobWithFlush) {
    // CMYK, one byte a line; the K plane is plane 3.
    Job job(20, 3, 8, MakePage(600), 1, false);
    ASSERT_EQ(StateOf(job.handle).mode, inkrow::kModeFormFeed);
    ASSERT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedJobReady);
    PageParams page = MakePage(600);
    Bytes stream;
    void* list = nullptr;

    // Page 1: a full setup at 8 lines a row whatever the resolution.
    ASSERT_EQ(OutputInitPart(&job.handle, &page), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedPageOpen);
    EXPECT_EQ(ContextOf(job.handle)->linesPerRow, 8);
    EXPECT_EQ(ContextOf(job.handle)->planeCount, 4);
    EXPECT_EQ(ContextOf(job.handle)->formFeedMode, 1);
    std::vector<PlaneLine> planes(4);
    planes[3] = Inked(1, 0xF0);
    Send(&job.handle, 0, planes, &stream, inkrow::kStateFormFeedBandSent);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedPageOpen);
    planes[3] = Inked(1, 0x0F);
    Send(&job.handle, 9, planes, &stream, inkrow::kStateFormFeedBandSent);
    ASSERT_EQ(OutputFormFeed(&job.handle, &list, 16), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedSent);
    AppendSegments(list, &stream);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedJobReady);

    // Page 2: re-armed; its lines start again from 0. Line 30 lies below the form
    // feed's limit and is dropped with the page.
    const std::int64_t blocks = testheap::LiveBlocks();
    ASSERT_EQ(OutputInitPart(&job.handle, &page), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedPageOpen);
    EXPECT_EQ(testheap::LiveBlocks(), blocks);
    EXPECT_EQ(ContextOf(job.handle)->pendingBlankRows, 0);
    for (int plane = 0; plane < 4; ++plane) {
        EXPECT_EQ(ContextOf(job.handle)->planes[plane].previousLine.subLine, -1);
        EXPECT_EQ(ContextOf(job.handle)->planes[plane].packetChain.usedLength, 5);
        EXPECT_EQ(ContextOf(job.handle)->stagingChains[plane].usedLength, 5);
    }
    planes[3] = PlaneLine{};
    planes[0] = Inked(1, 0x80);
    Send(&job.handle, 3, planes, &stream, inkrow::kStateFormFeedBandSent);
    planes[0] = PlaneLine{};
    planes[3] = Inked(1, 0xFF);
    Send(&job.handle, 30, planes, &stream, inkrow::kStateFormFeedBandSent);
    ASSERT_EQ(OutputFormFeed(&job.handle, &list, 16), OUTPUT_OK);
    AppendSegments(list, &stream);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedJobReady);

    // The job's end: page header, the (empty) last row, form feed.
    ASSERT_EQ(OutputFlush(&job.handle, &list), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedFlushSent);
    AppendSegments(list, &stream);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedJobEnded);
    EXPECT_EQ(ContextOf(job.handle)->planes[0].packetChain.dataHandle, nullptr);
    EXPECT_EQ(OutputInitPart(&job.handle, &page), OUTPUT_NOT_NOW);

    const Bytes expected = Concat({
        // page 1
        Header(8),
        kSelectK,
        Packet(Concat({{0x00, 0xF0}, Empties(8)})),
        Header(8),
        Packet(Concat({Empties(1), {0x00, 0x0F}, Empties(7)})),
        // page 2: row 0 in every ink, rows 1 and 2 skipped, row 3 dropped
        kSelectCmyk,
        Packet(Concat({Empties(3), {0x00, 0x80}, Empties(5)})),
        kEmptyPacket,
        kEmptyPacket,
        kEmptyPacket,
        {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x02},
        Header(8),
        // the job's end
        Header(8),
        {0x0C},
    });
    EXPECT_EQ(stream, expected);
}

TEST(FormFeedMode, AJobWithoutPagesEndsWithHeaderAndFormFeed) {
    Job job(10, 7, 16, MakePage(300), 1, false);
    void* list = nullptr;
    ASSERT_EQ(OutputFlush(&job.handle, &list), OUTPUT_OK);
    AppendSegments(list, &job.stream);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateFormFeedJobEnded);
    EXPECT_EQ(job.stream, Concat({Header(8), {0x0C}}));
}

TEST(FormFeedMode, ANormalPageAskingForFormFeedEndsLikeAnyPage) {
    Job job(20, 3, 8, MakePage(600, 0, 0, 0, 1));
    EXPECT_EQ(ContextOf(job.handle)->linesPerRow, 8);
    std::vector<PlaneLine> planes(4);
    planes[3] = Inked(1, 0xF0);
    ASSERT_EQ(SendLine(&job.handle, 0, planes, &job.stream), OUTPUT_OK);
    void* list = nullptr;
    EXPECT_EQ(OutputFormFeed(&job.handle, &list, 8), OUTPUT_NEVER);
    ASSERT_EQ(OutputFlush(&job.handle, &list), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStatePageEndSent);
    AppendSegments(list, &job.stream);
    ASSERT_EQ(OutputComplete(&job.handle), OUTPUT_OK);
    EXPECT_EQ(StateOf(job.handle).state, inkrow::kStateJobReady);
    EXPECT_EQ(job.stream,
              Concat({Header(8), kSelectK, Packet(Concat({{0x00, 0xF0}, Empties(8)}))}));

    // The next page is set up in full, with its own lines per row.
    PageParams next = MakePage(600);
    ASSERT_EQ(OutputInitPart(&job.handle, &next), OUTPUT_OK);
    EXPECT_EQ(ContextOf(job.handle)->linesPerRow, 16);
    EXPECT_EQ(ContextOf(job.handle)->formFeedMode, 0);
    Bytes page2;
    ASSERT_EQ(SendLine(&job.handle, 0, planes, &page2), OUTPUT_OK);
    EXPECT_EQ(page2, Header(16));
}

}  // namespace
