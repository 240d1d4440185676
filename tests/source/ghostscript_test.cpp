// PDF and PostScript through a Ghostscript process: exact page sizes, plausible pixels,
// several pages, documents from a pipe, Ghostscript's failures in its own words, and no
// process left behind however the reading ends.
#include "ghostscript.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "inkrow/source.h"
#include "test_files.h"

namespace inkrow::source_test {
namespace {

using inkrow::source::FindFirstErrorLine;
using inkrow::source::MakeGhostscriptArguments;

// A 2 x 2 inch page with a cyan square from (0.5, 0.5) to (1.5, 1.5) inches.
constexpr char kCyanSquare[] =
    "%!PS-Adobe-3.0\n"
    "<< /PageSize [144 144] >> setpagedevice\n"
    "1 0 0 0 setcmykcolor 36 36 72 72 rectfill\n"
    "(this goes to standard output) print flush\n"
    "showpage\n";

std::string PageWithGray(double gray) {
    return "<< /PageSize [144 144] >> setpagedevice\n" + std::to_string(gray) +
           " setgray 0 0 144 144 rectfill showpage\n";
}

RenderSourceOptions GsOptions(int width, int height, int resolution,
                              int colorSpace = RENDER_CMYK8) {
    RenderSourceOptions options;
    RenderSourceOptionsInit(&options);
    options.pageWidth = width;
    options.pageHeight = height;
    options.resolution = resolution;
    options.colorSpace = colorSpace;
    return options;
}

// Process ids of this process's children, zombies included.
std::vector<int> ListChildren() {
    std::vector<int> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return children;
    const int self = ::getpid();
    while (dirent* entry = ::readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        // Processes come and go while the list is read: one that is gone is skipped.
        const std::string path = "/proc/" + std::string(entry->d_name) + "/stat";
        std::FILE* file = std::fopen(path.c_str(), "r");
        if (file == nullptr) continue;
        char buffer[1024];
        const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
        std::fclose(file);
        const std::string text(buffer, got);
        // "pid (comm) state ppid ...": the name may hold spaces, so read after the ')'.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == self) {
            children.push_back(pid);
        }
    }
    ::closedir(proc);
    return children;
}

TEST(GhostscriptSource, RendersExactPageSizeAndColours) {
    TempDir dir;
    WriteText(dir.Path("cyan.ps"), kCyanSquare);
    struct Case {
        const char* name;
        int colorSpace;
        Bytes inside;
        Bytes outside;
    };
    const Case cases[] = {
        {"cmyk", RENDER_CMYK8, {255, 0, 0, 0}, {0, 0, 0, 0}},
        // Ghostscript converts colours through its default profiles.
        {"rgb", RENDER_RGB8, {0, 174, 239}, {255, 255, 255}},
        {"gray", RENDER_GRAY8, {0}, {255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result =
            ReadDocument(dir.Path("cyan.ps"), GsOptions(144, 144, 72, c.colorSpace));
        ASSERT_EQ(result.openStatus, RENDER_OK) << result.error;
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 1u);
        EXPECT_EQ(result.pages[0].width, 144);
        EXPECT_EQ(result.pages[0].height, 144);
        EXPECT_EQ(result.pages[0].colorSpace, c.colorSpace);
        // Device space has y down: the square covers rows and columns 36..107.
        const Bytes inside = PixelAt(result, 0, 72, 72);
        const Bytes outside = PixelAt(result, 0, 10, 130);
        ASSERT_EQ(inside.size(), c.inside.size());
        if (c.colorSpace != RENDER_GRAY8) {
            for (std::size_t i = 0; i < inside.size(); ++i) {
                EXPECT_NEAR(inside[i], c.inside[i], 40) << "channel " << i;
            }
        } else {
            EXPECT_LT(inside[0], 200);  // cyan is a middle gray
        }
        EXPECT_EQ(outside, c.outside);
    }
}

TEST(GhostscriptSource, FitsOtherPageSizesIntoTheRequestedOne) {
    TempDir dir;
    WriteText(dir.Path("cyan.ps"), kCyanSquare);
    // A landscape PDF page and a square PostScript page, each asked for portrait sizes.
    WriteText(dir.Path("wide.pdf"), MakePdf({"0 0 0 1 k 0 0 288 144 re f"}, 288, 144));
    for (const auto& [file, width, height] :
         {std::tuple{"cyan.ps", 100, 300}, std::tuple{"wide.pdf", 60, 85},
          std::tuple{"wide.pdf", 333, 101}}) {
        SCOPED_TRACE(std::string(file) + " at " + std::to_string(width) + "x" +
                     std::to_string(height));
        const ReadResult result = ReadDocument(dir.Path(file), GsOptions(width, height, 50));
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 1u);
        EXPECT_EQ(result.pages[0].width, width);
        EXPECT_EQ(result.pages[0].height, height);
        EXPECT_EQ(result.pages[0].lineBytes, static_cast<std::size_t>(width) * 4);
    }
}

TEST(GhostscriptSource, ReadsEveryPageInOrder) {
    TempDir dir;
    const double grays[] = {0.0, 0.5, 1.0, 0.25};
    std::string program = "%!PS\n";
    std::vector<std::string> contents;
    for (double gray : grays) {
        program += PageWithGray(gray);
        contents.push_back(std::to_string(gray) + " g 0 0 144 144 re f");
    }
    WriteText(dir.Path("pages.ps"), program);
    WriteText(dir.Path("pages.pdf"), MakePdf(contents, 144, 144));
    for (const char* file : {"pages.ps", "pages.pdf"}) {
        SCOPED_TRACE(file);
        const ReadResult result = ReadDocument(dir.Path(file), GsOptions(30, 30, 15, RENDER_GRAY8));
        ASSERT_EQ(result.endStatus, 0) << result.error;
        ASSERT_EQ(result.pages.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(PixelAt(result, i, 15, 15)[0], grays[i] * 255, 3) << "page " << i + 1;
        }
    }
}

TEST(GhostscriptSource, ReadsDocumentsFromAPipe) {
    const std::string pdf =
        MakePdf({"1 0 0 0 k 0 0 144 144 re f", "0 1 0 0 k 0 0 144 144 re f"}, 144, 144);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    // Bigger than a pipe's buffer would not matter; the writer runs beside the reader.
    std::thread writer([&]() {
        const char* data = pdf.data();
        std::size_t left = pdf.size();
        while (left > 0) {
            const ssize_t put = ::write(ends[1], data, left);
            if (put <= 0) break;
            data += put;
            left -= static_cast<std::size_t>(put);
        }
        ::close(ends[1]);
    });
    TempDir temporary;
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    const ReadResult result = ReadDocumentFd(ends[0], GsOptions(20, 20, 10));
    writer.join();
    if (saved != nullptr) {
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    ASSERT_EQ(result.endStatus, 0) << result.error;
    ASSERT_EQ(result.pages.size(), 2u);
    EXPECT_NEAR(PixelAt(result, 0, 10, 10)[0], 255, 40);
    EXPECT_NEAR(PixelAt(result, 1, 10, 10)[1], 255, 40);
    // The temporary copy Ghostscript read is gone with the source.
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));
}

TEST(GhostscriptSource, FailuresComeInGhostscriptsWords) {
    TempDir dir;
    WriteText(dir.Path("garbage.pdf"), "%PDF-1.7\nthis is no PDF at all\n\x01\x02\x03 garbage\n");
    WriteText(dir.Path("error.ps"), "%!PS\n/undefined-thing-here cvx exec\n");
    struct Case {
        const char* name;
        const char* file;
        const char* ghostscript;
        RenderSourceOptions options;
        const char* words;
    };
    RenderSourceOptions noSize = GsOptions(0, 0, 72);
    RenderSourceOptions noResolution = GsOptions(10, 10, 0);
    const Case cases[] = {
        {"unreadable PDF", "garbage.pdf", nullptr, GsOptions(50, 50, 36), "Ghostscript failed: "},
        {"PostScript error", "error.ps", nullptr, GsOptions(50, 50, 36),
         "Ghostscript failed: /undefined in"},
        {"no Ghostscript", "error.ps", "/nonexistent/gs", GsOptions(50, 50, 36),
         "Ghostscript not found: cannot run /nonexistent/gs: No such file or directory"},
        {"not on the PATH", "error.ps", "no-such-ghostscript-here", GsOptions(50, 50, 36),
         "Ghostscript not found: no no-such-ghostscript-here on the PATH"},
        {"not a program", "error.ps", "/", GsOptions(50, 50, 36), "Ghostscript not found"},
        {"no page size", "error.ps", nullptr, noSize, "needs a page size"},
        {"no resolution", "error.ps", nullptr, noResolution, "needs a page size and a resolution"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderSourceOptions options = c.options;
        options.ghostscript = c.ghostscript;
        const ReadResult result = ReadDocument(dir.Path(c.file), options);
        EXPECT_EQ(result.openStatus, RENDER_BAD_ARGUMENT) << result.error;
        EXPECT_TRUE(result.pages.empty());
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
        EXPECT_TRUE(ListChildren().empty());
    }
}

TEST(GhostscriptSource, AFailureAfterSomePagesFailsTheNextPage) {
    TempDir dir;
    WriteText(dir.Path("late.ps"), "%!PS\n" + PageWithGray(0.5) + PageWithGray(0.2) +
                                       "/no-such-operator-at-all cvx exec\n");
    const ReadResult result = ReadDocument(dir.Path("late.ps"), GsOptions(20, 20, 10));
    EXPECT_EQ(result.openStatus, RENDER_OK);
    // The error stops the document as soon as it is seen: after the pages rendered
    // before it, or earlier when Ghostscript printed it before they were read.
    EXPECT_LE(result.pages.size(), 2u);
    EXPECT_EQ(result.endStatus, RENDER_BAD_ARGUMENT);
    EXPECT_NE(result.error.find("Ghostscript failed: /undefined in"), std::string::npos)
        << result.error;
}

int CancelAfterAFewLooks(void* context) {
    return ++*static_cast<int*>(context) > 5 ? 1 : 0;
}

TEST(GhostscriptSource, BoundedByTimeCancelAndItsOwnErrors) {
    TempDir dir;
    WriteText(dir.Path("loop.ps"), "%!PS\n{} loop\n");
    // Ghostscript may exit 0 after printing an error (a damaged PDF's blank page).
    WriteText(dir.Path("said.ps"), "%!PS\n" + PageWithGray(0.5) +
                                       "(   **** Error: Page drawing error occurred.\n) print "
                                       "flush\n" +
                                       PageWithGray(0.2));
    int looks = 0;
    RenderSourceOptions timed = GsOptions(20, 20, 10);
    timed.pageSeconds = 1;
    timed.memoryMegabytes = 1024;
    RenderSourceOptions canceled = GsOptions(20, 20, 10);
    canceled.canceled = CancelAfterAFewLooks;
    canceled.cancelContext = &looks;
    const struct {
        const char* file;
        RenderSourceOptions options;
        std::size_t pages;  // at most
        const char* words;
    } cases[] = {
        {"loop.ps", timed, 0, "no page within the time limit of 1 s"},
        {"loop.ps", canceled, 0, "canceled"},
        // Seen at the next page or at the end, however far Ghostscript got by then.
        {"said.ps", GsOptions(20, 20, 10), 2, "Ghostscript failed: Page drawing error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        const auto started = std::chrono::steady_clock::now();
        const ReadResult result = ReadDocument(dir.Path(c.file), c.options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_LE(result.pages.size(), c.pages);
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
        EXPECT_TRUE(ListChildren().empty());
    }
}

TEST(GhostscriptSource, ClosingEarlyLeavesNoProcess) {
    TempDir dir;
    std::string program = "%!PS\n";
    for (int i = 0; i < 6; ++i)
        program += PageWithGray(i / 6.0);
    WriteText(dir.Path("six.ps"), program);
    ASSERT_TRUE(ListChildren().empty());
    // Large pages, so that Ghostscript is still writing when the source is closed: once
    // after a few lines, once right after opening.
    for (int linesToRead : {5, 0}) {
        SCOPED_TRACE(linesToRead);
        const RenderSourceOptions options = GsOptions(1200, 1200, 600);
        RenderSource* source = nullptr;
        ASSERT_EQ(RenderSourceOpen(dir.Path("six.ps").c_str(), &options, &source), RENDER_OK)
            << RenderSourceErrorText(source);
        EXPECT_EQ(ListChildren().size(), 1u);
        RenderSourcePage page;
        if (linesToRead > 0) {
            ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
            Bytes line(page.lineBytes);
            for (int y = 0; y < linesToRead; ++y) {
                ASSERT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_OK);
            }
        }
        RenderSourceClose(source);
        EXPECT_TRUE(ListChildren().empty());
    }
}

TEST(GhostscriptArguments, NameTheDeviceSizeAndInput) {
    const std::vector<std::string> cmyk =
        MakeGhostscriptArguments("doc.pdf", 4960, 7016, 600, RENDER_CMYK8);
    const std::vector<std::string> expected = {"-q",
                                               "-dSAFER",
                                               "-dBATCH",
                                               "-dNOPAUSE",
                                               "-sstdout=%stderr",
                                               "-sDEVICE=cups",
                                               "-dcupsColorSpace=6",
                                               "-dcupsBitsPerColor=8",
                                               "-r600",
                                               "-g4960x7016",
                                               "-dFIXEDMEDIA",
                                               "-dPDFFitPage",
                                               "-dPSFitPage",
                                               "-sOutputFile=%stdout",
                                               "doc.pdf"};
    EXPECT_EQ(cmyk, expected);
    EXPECT_EQ(MakeGhostscriptArguments("a", 1, 1, 72, RENDER_GRAY8)[6], "-dcupsColorSpace=18");
    EXPECT_EQ(MakeGhostscriptArguments("a", 1, 1, 72, RENDER_RGB8)[6], "-dcupsColorSpace=19");
    // Names Ghostscript would take for an option or an argument file.
    EXPECT_EQ(MakeGhostscriptArguments("-q.pdf", 1, 1, 72, RENDER_CMYK8).back(), "./-q.pdf");
    EXPECT_EQ(MakeGhostscriptArguments("@list", 1, 1, 72, RENDER_CMYK8).back(), "./@list");
}

TEST(GhostscriptArguments, FirstErrorLineSkipsProgress) {
    struct Case {
        const char* messages;
        const char* expected;
    };
    const Case cases[] = {
        {"INFO: Start rendering...\nINFO: Processing page 1...\n   **** Error: Couldn't "
         "initialise file.\n               Output may be incorrect.\n",
         "Couldn't initialise file."},
        {"INFO: Processing page 1...\nError: /undefined in foo\nOperand stack:\n",
         "/undefined in foo"},
        {"DEBUG: x\nsomething odd happened\nGPL Ghostscript 10: Unrecoverable error\n",
         "something odd happened"},
        {"INFO: Rendering completed\n", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindFirstErrorLine(c.messages), c.expected);
}

}  // namespace
}  // namespace inkrow::source_test
