// How rastertoinkrow reads a print mode from a CUPS page header. The PPD's choices set
// only page header fields, so this mapping is the whole contract between the PPD and the
// filter; the filter and the tests that check every PPD combination share it. The page's
// layout (colour space, bits, order, size, resolution) is read by the one raster header
// reader every door uses (inkrow/raster_header.h); the print mode comes from:
//
//   HWResolution      -> RenderModeRequest.resolution (the print layer takes 300, 360
//                        and 600 dpi)
//   cupsMediaType     the module's media code 0 .. 37  -> RenderModeRequest.mediaCode
//   cupsInteger[8]    print quality, IPP numbering (the slot PWG raster uses for it):
//                     3 draft, 4 normal (or 0, unset), 5 high; the quality code is the
//                     first of the catalogue's order for it (inkrow/print.h) that the
//                     media supports with the photo driver's inks
//   cupsColorSpace    gray spaces ask for black only (the module honours it on the media
//                     that have a black-only configuration and prints composite gray on
//                     the others)
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <string>

#include "inkrow/print.h"
#include "inkrow/raster_header.h"
#include "inkrow/render.h"

namespace inkrow::filter {

// IPP print-quality values, as cupsInteger[8] carries them.
inline constexpr unsigned kQualityUnset = 0;
inline constexpr unsigned kQualityDraft = PRINT_QUALITY_DRAFT;
inline constexpr unsigned kQualityNormal = PRINT_QUALITY_NORMAL;
inline constexpr unsigned kQualityHigh = PRINT_QUALITY_HIGH;
inline constexpr int kPrintQualitySlot = 8;

// What a page asks of the print layer.
struct PageSettings {
    RenderModeRequest mode{};
    RenderRasterPage page{};  // the layout, as the one header reader reads it
};

// Reads the page header. On failure returns false and sets *error to words naming the
// field and its value (no "ERROR:" prefix).
bool SettingsFromHeader(const cups_page_header2_t& header, PageSettings* settings,
                        std::string* error);

}  // namespace inkrow::filter
