// inkrow-page --verify (verify.h). What the split makes of an input level comes from
// the render stage (RenderSplitLevel), which reads the module's own split tables.
#include "verify.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace inkrow::page {

namespace decode = inkrow::decode;

std::vector<PrinterPlane> DescribePrinterPlanes(const Job& job) {
    const std::vector<std::uint8_t> codes = testpage::InkCodes(job.mode);
    std::vector<PrinterPlane> planes;
    for (int k = 0; k < job.mode.printerPlanes && k < static_cast<int>(codes.size()); ++k) {
        PrinterPlane plane;
        plane.code = codes[k];
        plane.printerPlane = k;
        if (job.setup.split) {
            plane.split = true;
            RenderSplitLevel(k, 0, &plane.input);
            plane.format = {2, false};
        } else {
            plane.input = k;
            plane.format = {job.mode.planes[k].bitsPerPixel, job.mode.planes[k].codeConverted != 0};
        }
        planes.push_back(plane);
    }
    return planes;
}

namespace {

std::uint8_t ExpectedLevel(const PrinterPlane& plane, std::uint8_t inputLevel) {
    if (!plane.split) return inputLevel;
    return static_cast<std::uint8_t>(RenderSplitLevel(plane.printerPlane, inputLevel, nullptr));
}

// Levels of one decoded line; a line the raster does not reach is blank.
void ExpandLine(const decode::InkRaster* raster, decode::PixelFormat format, std::uint64_t line,
                int width, std::uint8_t* levels) {
    std::memset(levels, 0, static_cast<std::size_t>(width));
    if (raster == nullptr || line >= raster->lineCount || raster->bytes.empty()) return;
    const std::uint8_t* bytes = raster->bytes.data() + line * raster->widthBytes;
    const int perByte = decode::CountPixelsPerByte(format);
    for (std::uint32_t b = 0; b < raster->widthBytes; ++b) {
        unsigned value = bytes[b];
        if (value == 0) continue;
        std::uint8_t digits[8] = {};
        if (format.baseThree) {
            for (int k = 4; k >= 0; --k) {
                digits[k] = static_cast<std::uint8_t>(value % 3);
                value /= 3;
            }
            if (value != 0) digits[0] = 0xFF;  // no valid code: never matches a level
        } else {
            const unsigned mask = (1u << format.bitsPerPixel) - 1;
            for (int k = 0; k < perByte; ++k)
                digits[k] = static_cast<std::uint8_t>(
                    (value >> (8 - format.bitsPerPixel * (k + 1))) & mask);
        }
        for (int k = 0; k < perByte; ++k) {
            const std::uint64_t x = std::uint64_t{b} * perByte + k;
            if (x < static_cast<std::uint64_t>(width))
                levels[x] = digits[k];
            else if (digits[k] != 0)
                levels[width - 1] = 0xFE;  // ink beyond the page: report at its edge
        }
    }
}

}  // namespace

bool DecodeJob(const std::vector<std::uint8_t>& stream, decode::Decoded* decoded) {
    decode::DecodeOptions decodeOptions;
    decodeOptions.keepListing = false;
    decodeOptions.keepRasters = true;
    decodeOptions.maxRasterBytes = std::uint64_t{1} << 34;
    const decode::Error error = decode::DecodeStream(stream, decodeOptions, decoded);
    if (error.code != decode::ErrorCode::kNone) {
        std::fprintf(stderr, "inkrow-page: the decoder rejects the stream at byte %zu: %s: %s\n",
                     error.offset, decode::DescribeErrorCode(error.code), error.message.c_str());
        return false;
    }
    return true;
}

bool VerifyJob(const Job& job, const Options& options, const JobResult& result,
               const decode::Decoded& decoded) {
    const std::size_t wantedPages = options.formFeed ? 1 : static_cast<std::size_t>(options.pages);
    if (decoded.pages.size() != wantedPages) {
        std::fprintf(stderr, "verify: the stream holds %zu pages, expected %zu\n",
                     decoded.pages.size(), wantedPages);
        return false;
    }
    const std::vector<PrinterPlane> planes = DescribePrinterPlanes(job);
    bool ok = true;
    for (const decode::Page& page : decoded.pages) {
        for (const decode::InkRaster& ink : page.inks) {
            const bool known =
                std::any_of(planes.begin(), planes.end(),
                            [&](const PrinterPlane& p) { return p.code == ink.code; });
            if (!known) {
                std::fprintf(stderr, "verify: ink %s is not an ink of the print mode\n",
                             decode::FormatInkCode(ink.code).c_str());
                ok = false;
            }
        }
        if (page.linesPerRow != job.linesPerRow) {
            std::fprintf(stderr, "verify: page sends %u lines per row, expected %d\n",
                         page.linesPerRow, job.linesPerRow);
            ok = false;
        }
    }
    if (!ok) return false;

    std::vector<std::vector<std::uint8_t>> input(static_cast<std::size_t>(job.setup.count),
                                                 std::vector<std::uint8_t>(job.width));
    std::vector<std::uint8_t> got(static_cast<std::size_t>(job.width));
    std::uint64_t badLines = 0;
    std::uint64_t offset = 0;  // lines, in a form-feed job
    for (int p = 0; p < options.pages; ++p) {
        const decode::Page& page = decoded.pages[options.formFeed ? 0 : p];
        const testpage::Page drawing = BuildJobPage(job, options, p);
        // In a form-feed job the next page covers what lies below this page's last
        // inked row.
        int checkedLines = job.height;
        if (options.formFeed && p + 1 < options.pages && result.lastInkedLine[p] >= 0)
            checkedLines = std::min(
                job.height, (result.lastInkedLine[p] / job.linesPerRow + 1) * job.linesPerRow);
        for (int y = 0; y < checkedLines; ++y) {
            for (int i = 0; i < job.setup.count; ++i)
                testpage::RenderLevels(drawing, y, i, input[i].data());
            for (const PrinterPlane& plane : planes) {
                ExpandLine(decode::FindInk(page, plane.code), plane.format, offset + y, job.width,
                           got.data());
                for (int x = 0; x < job.width; ++x) {
                    const std::uint8_t wanted = ExpectedLevel(plane, input[plane.input][x]);
                    if (got[x] == wanted) continue;
                    if (badLines < 5)
                        std::fprintf(stderr,
                                     "verify: page %d line %d ink %s pixel %d: level %u, "
                                     "expected %u\n",
                                     p + 1, y, decode::FormatInkCode(plane.code).c_str(), x, got[x],
                                     wanted);
                    ++badLines;
                    break;
                }
            }
        }
        if (options.formFeed && result.lastInkedLine[p] >= 0) {
            // The rows below the last inked one are never sent; the next page goes on there.
            offset += static_cast<std::uint64_t>(result.lastInkedLine[p] / job.linesPerRow + 1) *
                      job.linesPerRow;
        }
    }
    if (badLines != 0) {
        std::fprintf(stderr, "verify: %" PRIu64 " ink lines differ from the page as drawn\n",
                     badLines);
        return false;
    }
    std::printf("verify: every pixel of %s on %s matches the page as drawn\n",
                Count(planes.size(), "ink").c_str(),
                Count(static_cast<std::uint64_t>(options.pages), "page").c_str());
    return true;
}

}  // namespace inkrow::page
