// The public source interface itself: options, format detection, the call order, and
// the errors for files that cannot be read at all.
#include "inkrow/source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace inkrow::source_test {
namespace {

RenderSourceOptions Defaults() {
    RenderSourceOptions options;
    RenderSourceOptionsInit(&options);
    return options;
}

Bytes SmallPng() {
    PngRecipe recipe;
    recipe.width = 2;
    recipe.height = 2;
    recipe.colorType = PNG_COLOR_TYPE_GRAY;
    recipe.samples = {1, 2, 3, 4};
    return MakePng(recipe);
}

TEST(SourceOptions, DefaultsAndRangeChecks) {
    const RenderSourceOptions defaults = Defaults();
    EXPECT_EQ(defaults.kind, RENDER_SOURCE_AUTO);
    EXPECT_EQ(defaults.pageWidth, 0);
    EXPECT_EQ(defaults.pageHeight, 0);
    EXPECT_EQ(defaults.resolution, 600);
    EXPECT_EQ(defaults.colorSpace, RENDER_CMYK8);
    EXPECT_EQ(defaults.ghostscript, nullptr);

    TempDir dir;
    WriteBytes(dir.Path("a.png"), SmallPng());
    struct Case {
        const char* name;
        RenderSourceOptions options;
        const char* words;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, auto change, const char* words) {
        RenderSourceOptions options = Defaults();
        change(options);
        cases.push_back({name, options, words});
    };
    add(
        "negative width", [](auto& o) { o.pageWidth = -1, o.pageHeight = 5; }, "page size");
    add(
        "width alone", [](auto& o) { o.pageWidth = 5; }, "both positive");
    add(
        "too wide", [](auto& o) { o.pageWidth = RENDER_MAX_WIDTH + 1, o.pageHeight = 5; },
        "too large");
    add(
        "colour space", [](auto& o) { o.colorSpace = 2; }, "colour space 2");
    add(
        "kind", [](auto& o) { o.kind = 9; }, "source kind 9");
    add(
        "resolution", [](auto& o) { o.resolution = -600; }, "resolution");
    add(
        "empty program", [](auto& o) { o.ghostscript = ""; }, "program name is empty");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult result = ReadDocument(dir.Path("a.png"), c.options);
        EXPECT_EQ(result.openStatus, RENDER_BAD_ARGUMENT);
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
    }

    // No options at all means the defaults.
    RenderSource* source = nullptr;
    EXPECT_EQ(RenderSourceOpen(dir.Path("a.png").c_str(), nullptr, &source), RENDER_OK);
    RenderSourceClose(source);
}

TEST(SourceOpen, FilesThatCannotBeReadAtAll) {
    TempDir dir;
    WriteBytes(dir.Path("empty"), {});
    WriteText(dir.Path("text.txt"), "hello, this is no picture\n");
    WriteBytes(dir.Path("a.png"), SmallPng());
    struct Case {
        const char* name;
        std::string path;
        int kind;
        const char* words;
    };
    const Case cases[] = {
        {"missing", dir.Path("missing.png"), RENDER_SOURCE_AUTO, "cannot open"},
        {"directory", dir.Path(""), RENDER_SOURCE_AUTO, "cannot read"},
        {"empty", dir.Path("empty"), RENDER_SOURCE_AUTO, "is empty"},
        {"unknown", dir.Path("text.txt"), RENDER_SOURCE_AUTO, "unknown format"},
        {"wrong kind", dir.Path("a.png"), RENDER_SOURCE_JPEG,
         "is not a JPEG file (it looks like a PNG"},
        {"no name", "", RENDER_SOURCE_AUTO, "no file named"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderSourceOptions options = Defaults();
        options.kind = c.kind;
        const ReadResult result = ReadDocument(c.path, options);
        EXPECT_EQ(result.openStatus, RENDER_BAD_ARGUMENT);
        EXPECT_NE(result.error.find(c.words), std::string::npos) << result.error;
    }
    RenderSourceOptions named = Defaults();
    named.kind = RENDER_SOURCE_PNG;
    EXPECT_EQ(ReadDocument(dir.Path("a.png"), named).pages.size(), 1u);
}

TEST(SourceOpen, NullArgumentsAndDescriptors) {
    RenderSourceOptions options = Defaults();
    EXPECT_EQ(RenderSourceOpen("x.png", &options, nullptr), RENDER_BAD_ARGUMENT);
    EXPECT_EQ(RenderSourceOpenFd(-1, &options, nullptr), RENDER_BAD_ARGUMENT);
    RenderSource* source = nullptr;
    EXPECT_EQ(RenderSourceOpenFd(-1, &options, &source), RENDER_BAD_ARGUMENT);
    EXPECT_NE(std::string(RenderSourceErrorText(source)).find("file descriptor"),
              std::string::npos);
    RenderSourceClose(source);
    EXPECT_NE(std::string(RenderSourceErrorText(nullptr)), "");
    RenderSourceClose(nullptr);
    RenderSourcePage page;
    EXPECT_EQ(RenderSourceNextPage(nullptr, &page), RENDER_BAD_ARGUMENT);

    // A descriptor given to the source is the source's: it is closed with it.
    TempDir dir;
    WriteBytes(dir.Path("a.png"), SmallPng());
    const int fd = ::open(dir.Path("a.png").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const ReadResult result = ReadDocumentFd(fd, options);
    ASSERT_EQ(result.pages.size(), 1u) << result.error;
    EXPECT_EQ(result.pixels[0], (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(SourceOpen, DashReadsStandardInput) {
    TempDir dir;
    WriteBytes(dir.Path("a.png"), SmallPng());
    const int saved = ::dup(0);
    const int file = ::open(dir.Path("a.png").c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    ::dup2(file, 0);
    ::close(file);
    const ReadResult result = ReadDocument("-", Defaults());
    ::dup2(saved, 0);
    ::close(saved);
    ASSERT_EQ(result.pages.size(), 1u) << result.error;
    EXPECT_EQ(result.pixels[0], (Bytes{1, 2, 3, 4}));
}

TEST(SourceCalls, CallOrderAndLineLengths) {
    TempDir dir;
    WriteBytes(dir.Path("a.png"), SmallPng());
    const RenderSourceOptions options = Defaults();
    RenderSource* source = nullptr;
    ASSERT_EQ(RenderSourceOpen(dir.Path("a.png").c_str(), &options, &source), RENDER_OK);
    Bytes line(8);
    EXPECT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_CALL_ORDER);
    RenderSourcePage page;
    ASSERT_EQ(RenderSourceNextPage(source, &page), 1);
    EXPECT_EQ(page.lineBytes, 2u);
    EXPECT_EQ(RenderSourceReadLine(source, line.data(), 1), RENDER_BAD_LINE);
    EXPECT_EQ(RenderSourceReadLine(source, nullptr, 2), RENDER_BAD_ARGUMENT);
    // Misuse is reported but does not spoil the document.
    ASSERT_EQ(RenderSourceReadLine(source, line.data(), line.size()), RENDER_OK);
    EXPECT_EQ(line[0], 1);
    ASSERT_EQ(RenderSourceReadLine(source, line.data(), 2), RENDER_OK);
    EXPECT_EQ(line[1], 4);
    EXPECT_EQ(RenderSourceReadLine(source, line.data(), 2), RENDER_BAD_LINE);
    EXPECT_EQ(RenderSourceNextPage(source, &page), 0);
    EXPECT_EQ(RenderSourceReadLine(source, line.data(), 2), RENDER_CALL_ORDER);
    RenderSourceClose(source);
}

}  // namespace
}  // namespace inkrow::source_test
