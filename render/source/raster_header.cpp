// The one reading of a raster page header (inkrow/raster_header.h has the policy).
#include "inkrow/raster_header.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* NameColorSpace(unsigned space) {
    switch (space) {
        case CUPS_CSPACE_W:
            return "W";
        case CUPS_CSPACE_RGB:
            return "RGB";
        case CUPS_CSPACE_RGBA:
            return "RGBA";
        case CUPS_CSPACE_K:
            return "K";
        case CUPS_CSPACE_CMY:
            return "CMY";
        case CUPS_CSPACE_YMC:
            return "YMC";
        case CUPS_CSPACE_CMYK:
            return "CMYK";
        case CUPS_CSPACE_YMCK:
            return "YMCK";
        case CUPS_CSPACE_KCMY:
            return "KCMY";
        case CUPS_CSPACE_CIEXYZ:
            return "CIEXYZ";
        case CUPS_CSPACE_CIELab:
            return "CIELab";
        case CUPS_CSPACE_RGBW:
            return "RGBW";
        case CUPS_CSPACE_SW:
            return "sGray";
        case CUPS_CSPACE_SRGB:
            return "sRGB";
        case CUPS_CSPACE_ADOBERGB:
            return "AdobeRGB";
        default:
            return "other";
    }
}

// The render colour space of a raster colour space, or 0 when it has none.
int RenderSpaceOf(unsigned space, int* invert) {
    *invert = 0;
    switch (space) {
        case CUPS_CSPACE_SW:
        case CUPS_CSPACE_W:
            return RENDER_GRAY8;
        case CUPS_CSPACE_K:
            *invert = 1;
            return RENDER_GRAY8;
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_RGB:
            return RENDER_RGB8;
        case CUPS_CSPACE_CMYK:
            return RENDER_CMYK8;
        default:
            return 0;
    }
}

int Refuse(char* error, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

int Refuse(char* error, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    RenderFormatErrorV(error, error != nullptr ? size : 0, format, arguments);
    va_end(arguments);
    return RENDER_BAD_ARGUMENT;
}

}  // namespace

extern "C" int RenderReadRasterHeader(const cups_page_header2_t* header, RenderRasterPage* page,
                                      char* error, size_t errorSize) {
    if (header == nullptr || page == nullptr)
        return Refuse(error, errorSize, "%s", "no page header");
    *page = RenderRasterPage{};
    int invert = 0;
    const int space = RenderSpaceOf(header->cupsColorSpace, &invert);
    if (space == 0)
        return Refuse(error, errorSize,
                      "colour space %u (%s) is not supported: use sGray (18), W (0), K (3), "
                      "sRGB (19), RGB (1) or CMYK (6)",
                      header->cupsColorSpace, NameColorSpace(header->cupsColorSpace));
    if (header->cupsBitsPerColor != 8)
        return Refuse(error, errorSize, "%u-bit colour is not supported: only 8 bits per colour",
                      header->cupsBitsPerColor);
    const auto channels = static_cast<unsigned>(space);  // RenderColorSpace values count them
    if (channels > 1 && header->cupsColorOrder != CUPS_ORDER_CHUNKED)
        return Refuse(error, errorSize,
                      "colour order %u is not supported: only chunky pixels (0) for %u channels",
                      header->cupsColorOrder, channels);
    if (header->cupsBitsPerPixel != 8 * channels)
        return Refuse(error, errorSize, "%u bits per pixel do not match %u channels of 8 bits",
                      header->cupsBitsPerPixel, channels);
    if (header->cupsWidth == 0 || header->cupsWidth > RENDER_MAX_WIDTH)
        return Refuse(error, errorSize, "a page width of %u pixels is out of range (1 .. %d)",
                      header->cupsWidth, RENDER_MAX_WIDTH);
    if (header->cupsHeight == 0 || header->cupsHeight > RENDER_MAX_RASTER_HEIGHT)
        return Refuse(error, errorSize, "a page height of %u lines is out of range (1 .. %d)",
                      header->cupsHeight, RENDER_MAX_RASTER_HEIGHT);
    if (static_cast<unsigned long long>(header->cupsBytesPerLine) !=
        static_cast<unsigned long long>(header->cupsWidth) * channels)
        return Refuse(error, errorSize, "%u bytes per line do not match %u pixels of %u bytes",
                      header->cupsBytesPerLine, header->cupsWidth, channels);
    const unsigned xdpi = header->HWResolution[0];
    const unsigned ydpi = header->HWResolution[1];
    if (xdpi != ydpi || ydpi == 0 || ydpi > 100000)
        return Refuse(error, errorSize,
                      "a resolution of %ux%u dpi is not supported: it must be the same both ways",
                      xdpi, ydpi);
    page->width = static_cast<int>(header->cupsWidth);
    page->height = static_cast<int>(header->cupsHeight);
    page->colorSpace = space;
    page->invert = invert;
    page->resolution = static_cast<int>(ydpi);
    page->lineBytes = header->cupsBytesPerLine;
    return RENDER_OK;
}
