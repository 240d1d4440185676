// The shared test page (tools/testpage): in every print mode it puts ink on every plane
// the mode has, so that inkrow-page --verify and the page benchmark exercise every ink,
// and its lines pack to the formats the mode asks for.
#include "testpage.h"

#include <gtest/gtest.h>

#include <vector>

#include "inkrow/render.h"

namespace {

TEST(TestPage, EveryModeGetsInkOnEveryPlane) {
    std::vector<RenderModePair> pairs(static_cast<std::size_t>(RenderListModePairs(nullptr, 0)));
    RenderListModePairs(pairs.data(), static_cast<int>(pairs.size()));
    constexpr int kDpi = 72;  // small, the same picture
    for (const RenderModePair& pair : pairs) {
        SCOPED_TRACE(testing::Message()
                     << "quality " << pair.qualityCode << " media " << pair.mediaCode);
        RenderModeRequest request{};
        request.qualityCode = pair.qualityCode;
        request.mediaCode = pair.mediaCode;
        request.resolution = 600;
        RenderMode mode{};
        ASSERT_EQ(RenderDescribeMode(&request, &mode), RENDER_OK);
        const testpage::PlaneSetup setup = testpage::DescribeInputPlanes(mode);
        ASSERT_EQ(setup.count, mode.planeCount);
        const int width = testpage::A4Width(kDpi);
        const int height = testpage::A4Height(kDpi);
        const testpage::Page page = testpage::BuildPage(setup, width, height, kDpi, "T", "S");
        std::vector<std::uint8_t> levels(static_cast<std::size_t>(width));
        for (int plane = 0; plane < setup.count; ++plane) {
            const int bits = setup.planes[plane].bitsPerPixel;
            std::vector<std::uint8_t> line(testpage::LineBytes(width, bits));
            bool inked = false;
            for (int y = 0; y < height && !inked; ++y)
                inked = testpage::RenderLevels(page, y, plane, levels.data()) &&
                        testpage::PackLevels(levels.data(), width, bits, line.data()) >= 0;
            EXPECT_TRUE(inked) << "plane " << plane << " (" << setup.planes[plane].ink << ")";
        }
        EXPECT_EQ(static_cast<int>(testpage::InkCodes(mode).size()), mode.printerPlanes);
    }
}

}  // namespace
