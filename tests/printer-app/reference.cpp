// inkrow-app-reference: prints a document with the render library directly, the way the
// printer application does, so that the end-to-end test can compare the application's
// stream with one made without PAPPL in between.
//
//   inkrow-app-reference --quality Q --media M [--black-only] --resolution DPI
//                        [--page WIDTHxHEIGHT] [--gray] --output FILE INPUT
//
// A PDF or PostScript input is rendered at the page size given (pixels), as CMYK or, with
// --gray, as gray; a PWG or CUPS raster keeps its own pages. All pages of one width and
// colour space go into one render job, as in the application.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inkrow/render.h"
#include "inkrow/source.h"

namespace {

struct Arguments {
    RenderModeRequest mode{};
    int pageWidth = 0;
    int pageHeight = 0;
    bool gray = false;
    std::string output;
    std::string input;
};

bool ParseInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < -1000000 || parsed > 1000000)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool Parse(int argc, char** argv, Arguments* arguments) {
    arguments->mode.qualityCode = 10;
    arguments->mode.resolution = 600;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (flag == "--black-only") {
            arguments->mode.blackOnly = 1;
        } else if (flag == "--gray") {
            arguments->gray = true;
        } else if (flag == "--quality" && value != nullptr) {
            if (!ParseInt(value, &arguments->mode.qualityCode)) return false;
            ++i;
        } else if (flag == "--media" && value != nullptr) {
            if (!ParseInt(value, &arguments->mode.mediaCode)) return false;
            ++i;
        } else if (flag == "--resolution" && value != nullptr) {
            if (!ParseInt(value, &arguments->mode.resolution)) return false;
            ++i;
        } else if (flag == "--page" && value != nullptr) {
            if (std::sscanf(value, "%dx%d", &arguments->pageWidth, &arguments->pageHeight) != 2)
                return false;
            ++i;
        } else if (flag == "--output" && value != nullptr) {
            arguments->output = value;
            ++i;
        } else if (flag[0] != '-' && arguments->input.empty()) {
            arguments->input = flag;
        } else {
            return false;
        }
    }
    return !arguments->output.empty() && !arguments->input.empty();
}

int WriteToFile(void* context, const uint8_t* bytes, size_t length) {
    return std::fwrite(bytes, 1, length, static_cast<FILE*>(context)) == length ? 0 : -1;
}

int Fail(const char* what, const char* detail) {
    std::fprintf(stderr, "inkrow-app-reference: %s: %s\n", what, detail);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!Parse(argc, argv, &arguments)) {
        std::fprintf(stderr,
                     "usage: inkrow-app-reference --quality Q --media M [--black-only] "
                     "--resolution DPI [--page WxH] [--gray] --output FILE INPUT\n");
        return 2;
    }
    RenderSourceOptions sourceOptions;
    RenderSourceOptionsInit(&sourceOptions);
    sourceOptions.pageWidth = arguments.pageWidth;
    sourceOptions.pageHeight = arguments.pageHeight;
    sourceOptions.resolution = arguments.mode.resolution;
    sourceOptions.colorSpace = arguments.gray ? RENDER_GRAY8 : RENDER_CMYK8;
    RenderSource* source = nullptr;
    if (RenderSourceOpen(arguments.input.c_str(), &sourceOptions, &source) != RENDER_OK) {
        const int status =
            Fail("cannot open the input", source != nullptr ? RenderSourceErrorText(source) : "?");
        RenderSourceClose(source);
        return status;
    }
    FILE* out = std::fopen(arguments.output.c_str(), "wb");
    if (out == nullptr) {
        RenderSourceClose(source);
        return Fail("cannot create the output", std::strerror(errno));
    }
    RenderJob* job = nullptr;
    int width = 0;
    int colorSpace = 0;
    std::vector<uint8_t> line;
    int status = 0;
    for (;;) {
        RenderSourcePage page{};
        const int next = RenderSourceNextPage(source, &page);
        if (next == 0) break;
        if (next < 0) {
            status = Fail("reading a page", RenderSourceErrorText(source));
            break;
        }
        if (job != nullptr && (page.width != width || page.colorSpace != colorSpace)) {
            if (RenderJobClose(job) != RENDER_OK) status = Fail("ending a job", "failed");
            job = nullptr;
            if (status != 0) break;
        }
        if (job == nullptr) {
            RenderJobOptions options;
            RenderJobOptionsInit(&options);
            options.raster.mode = arguments.mode;
            options.raster.width = page.width;
            options.raster.colorSpace = page.colorSpace;
            options.write = WriteToFile;
            options.writeContext = out;
            const int opened = RenderJobOpen(&options, &job);
            if (opened != RENDER_OK) {
                status = Fail("opening the render job", RenderStatusText(opened));
                break;
            }
            width = page.width;
            colorSpace = page.colorSpace;
        }
        line.resize(page.lineBytes);
        if (RenderJobStartPage(job) != RENDER_OK) {
            status = Fail("starting a page", RenderJobErrorText(job));
            break;
        }
        for (int y = 0; y < page.height && status == 0; ++y) {
            if (RenderSourceReadLine(source, line.data(), line.size()) != RENDER_OK)
                status = Fail("reading a line", RenderSourceErrorText(source));
            else if (RenderJobWriteLine(job, line.data(), line.size()) != RENDER_OK)
                status = Fail("printing a line", RenderJobErrorText(job));
        }
        if (status != 0) break;
        if (RenderJobEndPage(job) != RENDER_OK) {
            status = Fail("ending a page", RenderJobErrorText(job));
            break;
        }
    }
    if (job != nullptr && RenderJobClose(job) != RENDER_OK && status == 0)
        status = Fail("ending the job", "failed");
    RenderSourceClose(source);
    if (std::fclose(out) != 0 && status == 0)
        status = Fail("writing the output", std::strerror(errno));
    return status;
}
