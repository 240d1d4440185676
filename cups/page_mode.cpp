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

const char* NameColorSpace(unsigned space) {
    switch (space) {
        case CUPS_CSPACE_W:
            return "w";
        case CUPS_CSPACE_RGB:
            return "RGB";
        case CUPS_CSPACE_K:
            return "k";
        case CUPS_CSPACE_CMYK:
            return "CMYK";
        case CUPS_CSPACE_SW:
            return "sw";
        case CUPS_CSPACE_SRGB:
            return "sRGB";
        case CUPS_CSPACE_RGBA:
            return "RGBA";
        case CUPS_CSPACE_CMY:
            return "CMY";
        case CUPS_CSPACE_KCMY:
            return "KCMY";
        case CUPS_CSPACE_YMCK:
            return "YMCK";
        case CUPS_CSPACE_ADOBERGB:
            return "AdobeRGB";
        case CUPS_CSPACE_CIELab:
            return "CIELab";
        default:
            return "other";
    }
}

// The render colour space of a raster colour space, or 0 when there is none.
int RenderSpaceOf(unsigned space, bool* invert) {
    *invert = false;
    switch (space) {
        case CUPS_CSPACE_CMYK:
            return RENDER_CMYK8;
        case CUPS_CSPACE_SW:
        case CUPS_CSPACE_W:
            return RENDER_GRAY8;
        case CUPS_CSPACE_K:
            *invert = true;
            return RENDER_GRAY8;
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_RGB:
            return RENDER_RGB8;
        default:
            return 0;
    }
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
    bool invert = false;
    const int space = RenderSpaceOf(header.cupsColorSpace, &invert);
    if (space == 0) {
        *error = Format(
            "colour space %u (%s) is not supported: use CMYK (6), a gray space "
            "(sw 18, w 0, k 3) or sRGB/RGB (19, 1)",
            header.cupsColorSpace, NameColorSpace(header.cupsColorSpace));
        return false;
    }
    if (header.cupsBitsPerColor != 8) {
        *error = Format("%u-bit colour is not supported: the filter reads 8 bits per colour",
                        header.cupsBitsPerColor);
        return false;
    }
    const unsigned channels = static_cast<unsigned>(space);
    if (channels > 1 && header.cupsColorOrder != CUPS_ORDER_CHUNKED) {
        *error = Format("colour order %u is not supported: the filter reads chunky pixels (0)",
                        header.cupsColorOrder);
        return false;
    }
    if (header.cupsBitsPerPixel != 8 * channels) {
        *error = Format("%u bits per pixel do not match %u channels of 8 bits",
                        header.cupsBitsPerPixel, channels);
        return false;
    }
    if (header.cupsWidth == 0 || header.cupsWidth > RENDER_MAX_WIDTH) {
        *error = Format("a page width of %u pixels is out of range (1 .. %d)", header.cupsWidth,
                        RENDER_MAX_WIDTH);
        return false;
    }
    if (static_cast<unsigned long long>(header.cupsBytesPerLine) !=
        static_cast<unsigned long long>(header.cupsWidth) * channels) {
        *error = Format("%u bytes per line do not match %u pixels of %u bytes",
                        header.cupsBytesPerLine, header.cupsWidth, channels);
        return false;
    }
    const unsigned xdpi = header.HWResolution[0];
    const unsigned ydpi = header.HWResolution[1];
    if (xdpi != ydpi || (ydpi != 300 && ydpi != 360 && ydpi != 600)) {
        *error = Format("a resolution of %ux%u dpi is not supported: use 300, 360 or 600 dpi", xdpi,
                        ydpi);
        return false;
    }
    if (header.cupsMediaType > kHighestMediaCode) {
        *error = Format("media type %u (cupsMediaType) is not a media code (0 .. %u)",
                        header.cupsMediaType, kHighestMediaCode);
        return false;
    }

    RenderModeRequest& request = settings->mode;
    request.mediaCode = static_cast<int>(header.cupsMediaType);
    request.resolution = static_cast<int>(ydpi);
    request.blackOnly = space == RENDER_GRAY8 ? 1 : 0;
    if (!ChooseQuality(header.cupsInteger[kPrintQualitySlot], &request, error)) return false;

    settings->width = static_cast<int>(header.cupsWidth);
    settings->colorSpace = space;
    settings->invertGray = invert;
    settings->lineBytes = header.cupsBytesPerLine;
    return true;
}

bool SameJob(const PageSettings& job, const PageSettings& next) {
    const RenderModeRequest& a = job.mode;
    const RenderModeRequest& b = next.mode;
    return job.width == next.width && job.colorSpace == next.colorSpace &&
           a.qualityCode == b.qualityCode && a.mediaCode == b.mediaCode &&
           a.blackOnly == b.blackOnly && a.kForBlack == b.kForBlack && a.keepColor == b.keepColor &&
           a.formFeed == b.formFeed && a.resolution == b.resolution;
}

void JobOptionsFor(const PageSettings& settings, RenderJobOptions* options) {
    RenderJobOptionsInit(options);
    options->raster.mode = settings.mode;
    options->raster.width = settings.width;
    options->raster.colorSpace = settings.colorSpace;
}

}  // namespace inkrow::filter
