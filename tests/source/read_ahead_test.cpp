// Reading ahead: the lines, pages and errors of the reader inside arrive in their order,
// no more than the budget ahead, and closing early does not wait for the whole document.
#include "read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "inkrow/render.h"

namespace {

using inkrow::source::PageInfo;
using inkrow::source::Reader;

// Pages of `height` 10-byte lines, each line filled with its number; fails with a
// module-like error at line `failAt` of the last page (-1: never).
class CountingReader final : public Reader {
public:
    CountingReader(int pages, int height, int failAt, std::atomic<int>* produced)
        : pages_(pages), height_(height), failAt_(failAt), produced_(produced) {}
    int NextPage(PageInfo* page, std::string*) override {
        if (page_ == pages_) return 0;
        ++page_;
        line_ = 0;
        *page = PageInfo{10, height_, RENDER_GRAY8, 600, 10};
        return 1;
    }
    int ReadLine(std::uint8_t* line, std::string* error) override {
        if (page_ == pages_ && line_ == failAt_) {
            *error = "broken at line " + std::to_string(line_);
            return RENDER_BAD_LINE;
        }
        for (int i = 0; i < 10; ++i)
            line[i] = static_cast<std::uint8_t>(line_);
        ++line_;
        produced_->fetch_add(1);
        return RENDER_OK;
    }

private:
    int pages_, height_, failAt_;
    int page_ = 0, line_ = 0;
    std::atomic<int>* produced_;
};

TEST(ReadAhead, LinesPagesAndErrorsKeepTheirOrderWithinTheBudget) {
    std::atomic<int> produced{0};
    std::atomic<bool> closing{false};
    // A budget of five lines.
    auto reader = inkrow::source::ReadAhead(std::make_unique<CountingReader>(2, 40, 17, &produced),
                                            50, &closing);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it run ahead
    PageInfo page;
    std::string error;
    std::uint8_t line[10];
    int consumed = 0;
    for (int p = 0; p < 2; ++p) {
        ASSERT_EQ(reader->NextPage(&page, &error), 1);
        EXPECT_EQ(page.height, 40);
        const int lines = p == 0 ? 40 : 17;
        for (int y = 0; y < lines; ++y) {
            // The reader inside is at most the budget and the line in its hands ahead.
            EXPECT_LE(produced.load() - consumed, 6);
            ASSERT_EQ(reader->ReadLine(line, &error), RENDER_OK) << error;
            ++consumed;
            EXPECT_EQ(line[9], y);
        }
    }
    EXPECT_EQ(reader->ReadLine(line, &error), RENDER_BAD_LINE);
    EXPECT_EQ(error, "broken at line 17");
    EXPECT_EQ(reader->NextPage(&page, &error), RENDER_BAD_LINE);  // the failure stays
    EXPECT_FALSE(closing.load());
}

TEST(ReadAhead, ClosingEarlyStopsTheReaderInside) {
    std::atomic<int> produced{0};
    std::atomic<bool> closing{false};
    {
        auto reader = inkrow::source::ReadAhead(
            std::make_unique<CountingReader>(1000, 1000, -1, &produced), 100, &closing);
        PageInfo page;
        std::string error;
        ASSERT_EQ(reader->NextPage(&page, &error), 1);
    }
    EXPECT_TRUE(closing.load());  // reads waiting on another process see this
    EXPECT_LE(produced.load(), 12);
}

}  // namespace
