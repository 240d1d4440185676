// What every kind of document reader offers the public source object: pages, one at a
// time, and their lines top to bottom. The source object keeps the call order (a line
// only inside a page, no more lines than the page has) and turns a failure into a sticky
// state, so readers only decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "input.h"

namespace inkrow::source {

struct PageInfo {
    int width = 0;
    int height = 0;
    int colorSpace = 0;  // RenderColorSpace
    int resolution = 0;  // dots per inch of a raster page; 0: the requested one
    std::size_t lineBytes = 0;
};

class Reader {
public:
    virtual ~Reader() = default;
    // 1 and *page filled for another page, 0 at the end, or a negative RenderStatus with
    // *error saying why.
    virtual int NextPage(PageInfo* page, std::string* error) = 0;
    // The current page's next line, page->lineBytes bytes. Called exactly page->height
    // times per page; RENDER_OK or a negative RenderStatus with *error.
    virtual int ReadLine(std::uint8_t* line, std::string* error) = 0;
};

// The requested placement of pictures and rendering of PDF pages.
struct Request {
    int pageWidth = 0;
    int pageHeight = 0;
    int resolution = 0;
    int colorSpace = 0;
    std::string ghostscript;
    Watch watch;              // bounds the wait for Ghostscript's output
    int memoryMegabytes = 0;  // Ghostscript's address space; 0 for no limit
};

// Readers by format. Each returns null with *error and *status set when the document
// cannot be read at all.
std::unique_ptr<Reader> OpenPng(std::unique_ptr<Input> input, const Request& request,
                                std::string* error, int* status);
std::unique_ptr<Reader> OpenJpeg(std::unique_ptr<Input> input, const Request& request,
                                 std::string* error, int* status);
std::unique_ptr<Reader> OpenRaster(std::unique_ptr<Input> input, std::string* error, int* status);
// `path` names the input for Ghostscript when it is a regular file opened by name; empty
// to have the input copied to a temporary file first.
std::unique_ptr<Reader> OpenGhostscript(std::unique_ptr<Input> input, const std::string& path,
                                        const Request& request, std::string* error, int* status);

// Channels of a RenderColorSpace (1, 3 or 4), 0 for anything else.
constexpr int CountChannels(int colorSpace) {
    return colorSpace == 1 ? 1 : colorSpace == 3 ? 3 : colorSpace == 4 ? 4 : 0;
}

}  // namespace inkrow::source
