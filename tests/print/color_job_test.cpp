// Colour files at the print layer: a job whose calibration is refused prints nothing and
// says which file and why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "inkrow/print.h"

namespace {

int CountBytes(void* context, const std::uint8_t*, size_t length) {
    *static_cast<size_t*>(context) += length;
    return 0;
}

TEST(ColorFiles, PrintJobRefusesBeforeItsFirstByte) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("inkrow_job_" + std::to_string(::getpid()) + ".cal"))
                                 .string();
    std::ofstream(path) << "CAL\nBEGIN_DATA\n";
    size_t written = 0;
    PrintJobOptions options;
    PrintJobOptionsInit(&options);
    options.write = CountBytes;
    options.writeContext = &written;
    options.color.calibration = path.c_str();
    PrintJob* job = nullptr;
    ASSERT_EQ(PrintJobOpen(&options, &job), RENDER_OK);
    PrintPage page{};
    page.width = 64;
    page.height = 4;
    page.colorSpace = RENDER_RGB8;
    page.lineBytes = 64 * 3;
    EXPECT_EQ(PrintJobStartPage(job, &page), RENDER_BAD_COLOR_FILE);
    EXPECT_NE(std::string(PrintJobErrorText(job)).find(path), std::string::npos);
    EXPECT_EQ(PrintJobClose(job), RENDER_BAD_COLOR_FILE);
    EXPECT_EQ(written, 0u);
    std::filesystem::remove(path);
}

}  // namespace
