// libFuzzer entry: the stream decoder on untrusted bytes.
//
// The first byte of an input chooses the decoder's options, the rest is the stream. The
// decoder reads files a user hands to the tools, so whatever the bytes, it must stay
// within its bounds (no read past the stream, no raster beyond maxRasterBytes) and give
// one consistent answer:
//   - every command of the listing lies inside the stream, one after the other from
//     byte 0, and the error (if any) sits where the listing stops;
//   - the totals are the sum of the pages' figures;
//   - every kept raster holds exactly lineCount lines of widthBytes bytes;
//   - the same stream read without listing or rasters fails at the same byte with the
//     same code and counts the same rows and packets (keeping rasters only adds the
//     raster budget's error).
// The pixel expansion and the listing's text of every command run too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "decode.h"
#include "picture.h"

namespace {

namespace decode = inkrow::decode;

// Inputs longer than this only repeat what shorter ones reach, at a slower pace.
constexpr std::size_t kMaxInput = 64 * 1024;
// The raster budget of one page: generous for the streams an input can describe, small
// enough that a stream of large skips cannot exhaust the fuzzer's memory or its time.
constexpr std::uint64_t kMaxRasterBytes = std::uint64_t{1} << 20;
// Rasters at most this large are also expanded into pixels, in the format the options
// byte chooses (larger ones only cost time: the expansion's loops do not change).
constexpr std::uint64_t kMaxExpandedBytes = 4 * 1024;

constexpr std::uint32_t kLineWidths[] = {0, 0, 1, 7, 64, 333, 4096, 0};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "decoder: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

decode::DecodeOptions ReadOptions(std::uint8_t choice) {
    decode::DecodeOptions options;
    options.keepListing = true;
    options.keepRasters = (choice & 1) != 0;
    options.continuePageOnHeader = (choice & 2) != 0;
    options.maxLineBytes = kLineWidths[(choice >> 2) & 7];
    options.maxRasterBytes = (choice & 0x20) != 0 ? kMaxRasterBytes : 4096;
    return options;
}

void CheckListing(std::span<const std::uint8_t> stream, const decode::Decoded& decoded,
                  const decode::Error& error) {
    std::size_t next = 0;
    for (const decode::Command& command : decoded.commands) {
        Check(command.offset == next, "the listing skips or repeats bytes");
        Check(command.length != 0 && command.length <= stream.size() - command.offset,
              "a command reaches past the stream");
        next = command.offset + command.length;
        Check(!decode::FormatCommand(command).empty(), "a command has no listing text");
    }
    if (error.code == decode::ErrorCode::kNone) {
        Check(next == stream.size(), "a stream read without error was not listed to its end");
        Check(decoded.totals.bytes == stream.size(), "the totals miss bytes of the stream");
    } else {
        Check(error.offset <= stream.size(), "an error lies past the stream");
        Check(error.offset >= next || error.code == decode::ErrorCode::kRasterTooLarge,
              "an error lies inside a command already listed");
        Check(decode::DescribeErrorCode(error.code) != nullptr, "an error code has no name");
    }
}

void CheckPages(const decode::Decoded& decoded, const decode::DecodeOptions& options) {
    decode::Statistics sum;
    for (const decode::Page& page : decoded.pages) {
        Check(page.linesPerRow == 1 || page.linesPerRow == 8 || page.linesPerRow == 16,
              "a page with an impossible row height");
        Check(page.stats.rows == page.stats.sentRows + page.stats.skippedRows,
              "a page's rows are not its sent and skipped rows");
        sum.packets += page.stats.packets;
        sum.skippedRows += page.stats.skippedRows;
        sum.payloadBytes += page.stats.payloadBytes;
        std::uint64_t rasterBytes = 0;
        for (const decode::InkRaster& raster : page.inks) {
            Check(decode::IsKnownInk(raster.code), "a raster of an unknown ink");
            Check(!decode::FormatInkCode(raster.code).empty(), "an ink without a name");
            Check(raster.lineCount == page.rows * page.linesPerRow,
                  "a raster's lines differ from the page's");
            Check(raster.longestLine <= raster.widthBytes, "a line longer than its raster");
            if (options.maxLineBytes != 0 && raster.widthBytes != 0)
                Check(raster.widthBytes == options.maxLineBytes, "a raster of the wrong width");
            if (options.keepRasters) {
                Check(raster.bytes.size() == raster.lineCount * raster.widthBytes,
                      "a raster's bytes are not its lines times its width");
                rasterBytes += raster.bytes.size();
            } else {
                Check(raster.bytes.empty(), "a raster kept against the options");
            }
            Check(decode::FindInk(page, raster.code) != nullptr, "FindInk misses an ink");
        }
        Check(rasterBytes <= options.maxRasterBytes, "a page's rasters exceed their budget");
    }
    Check(decoded.totals.pages == decoded.pages.size(), "the totals miscount the pages");
    Check(decoded.totals.packets >= sum.packets, "the totals miss packets of the pages");
    Check(decoded.totals.skippedRows >= sum.skippedRows, "the totals miss skipped rows");
    Check(decoded.totals.payloadBytes >= sum.payloadBytes, "the totals miss payload bytes");
}

// Every small raster in two pixel formats the options byte's top bits choose: one of the
// packed depths, and base three or a depth the decoder does not know. The image must
// hold one level per pixel, none above the format's top level.
void ExpandSmallRasters(const decode::Decoded& decoded, std::uint8_t choice) {
    static constexpr decode::PixelFormat kFormats[] = {{1, false}, {2, false}, {4, false},
                                                       {8, false}, {1, true},  {3, false}};
    for (const decode::Page& page : decoded.pages) {
        for (const decode::InkRaster& raster : page.inks) {
            if (raster.bytes.empty() || raster.bytes.size() > kMaxExpandedBytes) continue;
            for (const decode::PixelFormat& format :
                 {kFormats[(choice >> 6) & 3], kFormats[(choice >> 6) % 2 + 4]}) {
                decode::LevelImage image;
                if (!decode::ExpandRaster(raster, format, 0, &image)) {
                    Check(decode::CountPixelsPerByte(format) == 0,
                          "a small raster of a known format did not expand");
                    continue;
                }
                Check(image.levels.size() == std::uint64_t{image.width} * image.height,
                      "an expanded raster of the wrong size");
                for (const std::uint8_t level : image.levels)
                    if (level > image.maxLevel) Fail("a pixel above the format's top level");
                Check(decode::RenderGray(image).size() == image.levels.size(),
                      "a gray picture of the wrong size");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInput) return 0;
    const decode::DecodeOptions options = ReadOptions(data[0]);
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    decode::Decoded decoded;
    const decode::Error error = decode::DecodeStream(stream, options, &decoded);
    CheckListing(stream, decoded, error);
    CheckPages(decoded, options);
    ExpandSmallRasters(decoded, data[0]);

    // Read once more keeping nothing: the same verdict, the same counts.
    decode::DecodeOptions bare = options;
    bare.keepListing = false;
    bare.keepRasters = false;
    decode::Decoded counted;
    const decode::Error bareError = decode::DecodeStream(stream, bare, &counted);
    Check(counted.commands.empty(), "a listing kept against the options");
    if (error.code == decode::ErrorCode::kRasterTooLarge) {
        Check(bareError.code == decode::ErrorCode::kNone || bareError.offset >= error.offset,
              "a stream fails earlier when its rasters are not kept");
        return 0;
    }
    Check(bareError.code == error.code && bareError.offset == error.offset,
          "keeping the listing or the rasters changes the verdict");
    Check(counted.totals.packets == decoded.totals.packets &&
              counted.totals.rows == decoded.totals.rows &&
              counted.totals.pages == decoded.totals.pages &&
              counted.totals.bytes == decoded.totals.bytes,
          "keeping the listing or the rasters changes the counts");
    return 0;
}
