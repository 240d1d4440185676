// The page header to print mode mapping of rastertoinkrow (see page_mode.h).
#include "page_mode.h"

#include <cstdarg>
#include <cstdio>

namespace inkrow::filter {

namespace {

constexpr unsigned kHighestMediaCode = 37;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// A pair the module prints with inks the filter's printer has: every ink set of the
// photo driver (the sixteen-ink mode is the printer application's alone).
bool Supported(const RenderModeRequest& request) {
    RenderMode mode;
    return RenderDescribeMode(&request, &mode) == RENDER_OK &&
           PrintDriverAllowsInkSet(PRINT_DRIVER_PHOTO, mode.inkSetId);
}

// Picks the module's quality code for the page's print quality: the first of the
// catalogue's order for it that the media supports, so that draft on a photo paper still
// prints (at the next quality up) rather than failing.
bool ChooseQuality(unsigned printQuality, RenderModeRequest* request, std::string* error) {
    const unsigned quality = printQuality == kQualityUnset ? kQualityNormal : printQuality;
    int order[5];
    const PrintQualityInfo* info = PrintFindQuality(static_cast<int>(quality));
    if (info == nullptr || PrintQualityOrder(PRINT_DRIVER_PHOTO, info->quality, order) != 5) {
        *error = Format(
            "print quality %u (cupsInteger%d) is not 3 (draft), 4 (normal) or "
            "5 (high)",
            printQuality, kPrintQualitySlot);
        return false;
    }
    for (int code : order) {
        request->qualityCode = code;
        if (Supported(*request)) return true;
    }
    *error =
        Format("media code %d has no print mode at %s quality", request->mediaCode, info->ippName);
    return false;
}

}  // namespace

bool SettingsFromHeader(const cups_page_header2_t& header, PageSettings* settings,
                        std::string* error) {
    *settings = PageSettings{};
    RenderRasterPage page;
    char why[256];
    if (RenderReadRasterHeader(&header, &page, why, sizeof why) != RENDER_OK) {
        *error = why;
        return false;
    }
    if (header.cupsMediaType > kHighestMediaCode) {
        *error = Format("media type %u (cupsMediaType) is not a media code (0 .. %u)",
                        header.cupsMediaType, kHighestMediaCode);
        return false;
    }

    RenderModeRequest& request = settings->mode;
    request.mediaCode = static_cast<int>(header.cupsMediaType);
    request.resolution = page.resolution;
    request.blackOnly = page.colorSpace == RENDER_GRAY8 ? 1 : 0;
    if (!ChooseQuality(header.cupsInteger[kPrintQualitySlot], &request, error)) return false;

    settings->page = page;
    return true;
}

}  // namespace inkrow::filter
