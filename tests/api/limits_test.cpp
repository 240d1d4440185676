// The limits the public header names for callers are the ones the module enforces.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/context.h"
#include "inkrow/output.h"
#include "mode/page_setup.h"
#include "stream/buffer_chain.h"
#include "stream/row_commit.h"

namespace inkrow {
namespace {

static_assert(OUTPUT_MAX_SEGMENTS == kSegmentCapacity);
static_assert(OUTPUT_PACKET_CAPACITY == kPacketCapacity);
static_assert(OUTPUT_MAX_PACKET_PAYLOAD == kPacketCapacity - kPacketHeaderSize);
// A page end lists at most a header, a selection, sixteen packets and a form feed besides
// its skips, one per kMaxSkipRows rows: the last row is what keeps that within the list.
static_assert(OUTPUT_MAX_ROW == (kSegmentCapacity - 20) * kMaxSkipRows);
static_assert(OUTPUT_MAX_LINES_PER_ROW == 16);

struct Page {
    OutputHandle handle = nullptr;
    ~Page() { OutputClose(&handle); }
};

// Opens a one-plane black page (quality 10, media 0, black only) of the given width.
void OpenBlackPage(Page* page, std::int16_t width, std::int16_t resolution) {
    ASSERT_EQ(OutputOpen(&page->handle), OUTPUT_OPENED);
    JobParams job{};
    job.qualityCode = 10;
    job.pixelWidth = width;
    ASSERT_EQ(OutputInitTwo(&page->handle, &job, OUTPUT_JOB_PARAMS_VERSION), OUTPUT_OK);
    PageParams params{};
    params.resolution = resolution;
    params.blackOnly = 1;
    ASSERT_EQ(OutputInitPart(&page->handle, &params), OUTPUT_OK);
}

std::int16_t ProduceLine(Page* page, std::int32_t lineNumber, std::uint8_t* pixels,
                         std::int16_t width) {
    RasterBand band{};
    band.lineNumber = lineNumber;
    band.bandPlanes[0].pixels = pixels;
    band.bandPlanes[0].end = width;
    void* list = nullptr;
    const std::int16_t result = OutputProduceTwo(&page->handle, &band, &list);
    if (result == OUTPUT_OK) {
        EXPECT_EQ(OutputComplete(&page->handle), OUTPUT_OK);
    }
    return result;
}

TEST(PublicLimits, LastRowIsTheLastAccepted) {
    for (const std::int32_t linesPerRow : {8, 16}) {
        SCOPED_TRACE(linesPerRow);
        Page page;
        OpenBlackPage(&page, 64, linesPerRow == 8 ? 300 : 600);
        std::uint8_t pixels[8];
        std::memset(pixels, 0xFF, sizeof pixels);
        EXPECT_EQ(ProduceLine(&page, (OUTPUT_MAX_ROW + 1) * linesPerRow, pixels, 64),
                  OUTPUT_FAILED);
        EXPECT_EQ(ProduceLine(&page, OUTPUT_MAX_ROW * linesPerRow + linesPerRow - 1, pixels, 64),
                  OUTPUT_OK);
    }
}

// Lines that no run shortens code to their bytes plus one control byte per 128 and the
// line end: 4096 + 32 + 1 bytes for 32,768 pixels. Fifteen such lines and the empty line
// that would finish the row fit the payload; a sixteenth does not, and is refused.
TEST(PublicLimits, RowPayloadIsTheLastAccepted) {
    constexpr std::int16_t kWidth = 32760;
    constexpr std::size_t kBytes = kWidth / 8;
    constexpr std::size_t kCoded = kBytes + (kBytes + 127) / 128 + 1;
    static_assert(15 * kCoded + 1 <= OUTPUT_MAX_PACKET_PAYLOAD);
    static_assert(16 * kCoded > OUTPUT_MAX_PACKET_PAYLOAD);
    Page page;
    OpenBlackPage(&page, kWidth, 600);
    std::vector<std::uint8_t> line(kBytes);
    for (int y = 0; y < 16; ++y) {
        for (std::size_t i = 0; i < kBytes; ++i)
            line[i] = (i + y) % 2 == 0 ? 0xAA : 0x55;
        EXPECT_EQ(ProduceLine(&page, y, line.data(), kWidth), y < 15 ? OUTPUT_OK : OUTPUT_FAILED)
            << "line " << y;
    }
}

}  // namespace
}  // namespace inkrow
