// How rastertoinkrow reads a print mode from a CUPS page header. The PPD's choices set
// only page header fields, so this mapping is the whole contract between the PPD and the
// filter; the filter and the tests that check every PPD combination share it.
//
//   HWResolution      [x, y], equal, 300, 360 or 600   -> RenderModeRequest.resolution
//   cupsMediaType     the module's media code 0 .. 37  -> RenderModeRequest.mediaCode
//   cupsInteger[8]    print quality, IPP numbering (the slot PWG raster uses for it):
//                     3 draft, 4 normal (or 0, unset), 5 high; the quality code is the
//                     first of the catalogue's order for it (inkrow/print.h) that the
//                     media supports with the photo driver's inks
//   cupsColorSpace    6 CMYK -> RENDER_CMYK8; 18 sw or 0 w -> RENDER_GRAY8;
//                     3 k -> RENDER_GRAY8 inverted (255 is full ink in k);
//                     19 sRGB or 1 RGB -> RENDER_RGB8.
//                     Gray spaces ask for black only (the module honours it on the media
//                     that have a black-only configuration and prints composite gray
//                     on the others).
//   cupsBitsPerColor  8, chunky pixels (any order for one channel)
//   cupsWidth         1 .. RENDER_MAX_WIDTH; cupsBytesPerLine must be width * channels
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <string>

#include "inkrow/print.h"
#include "inkrow/render.h"

namespace inkrow::filter {

// IPP print-quality values, as cupsInteger[8] carries them.
inline constexpr unsigned kQualityUnset = 0;
inline constexpr unsigned kQualityDraft = 3;
inline constexpr unsigned kQualityNormal = 4;
inline constexpr unsigned kQualityHigh = 5;
inline constexpr int kPrintQualitySlot = 8;

// What a page asks of the render stage.
struct PageSettings {
    RenderModeRequest mode{};
    int width = 0;
    int colorSpace = RENDER_CMYK8;  // RenderColorSpace of the lines handed to RenderJob
    bool invertGray = false;        // the raster's gray is ink (k): 255 - value
    std::size_t lineBytes = 0;      // bytes of one raster line, cupsBytesPerLine
};

// Reads the page header. On failure returns false and sets *error to words naming the
// field and its value (no "ERROR:" prefix).
bool SettingsFromHeader(const cups_page_header2_t& header, PageSettings* settings,
                        std::string* error);

// True when a page of `next` can continue the RenderJob opened for `job`: same width,
// colour space and print mode.
bool SameJob(const PageSettings& job, const PageSettings& next);

// The RenderJob options for pages of these settings; the write callback is left unset.
void JobOptionsFor(const PageSettings& settings, RenderJobOptions* options);

}  // namespace inkrow::filter
