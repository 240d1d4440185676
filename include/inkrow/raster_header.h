/*
 * inkrow raster headers: the one reading of a CUPS or PWG raster page header.
 *
 * The page sources (PWG and CUPS raster files, Ghostscript's output), the printer
 * application's raster callbacks and the CUPS filter all take a raster page by this one
 * policy, so a raster that one of them prints, all of them print the same way, and a
 * raster that one refuses, all refuse with the same words:
 *
 *   cupsBitsPerColor   8
 *   cupsColorSpace     sGray (18) and W (0): gray, 0 black .. 255 white
 *                      K (3): gray with 255 full ink; lines are inverted to gray
 *                      sRGB (19) and RGB (1): sRGB
 *                      CMYK (6): device CMYK
 *                      anything else is refused (AdobeRGB too: printing it as sRGB
 *                      would change its colours)
 *   cupsColorOrder     chunky (0); with one channel any order, the bytes being the same
 *   cupsBitsPerPixel   8 per channel
 *   cupsWidth          1 .. RENDER_MAX_WIDTH; cupsHeight 1 .. 2^24
 *   cupsBytesPerLine   cupsWidth x channels
 *   HWResolution       the same both ways, at least 1 dpi (the print layer then takes
 *                      300, 360 or 600 dpi, the printer's resolutions)
 *
 * Needs libcups's header. RenderReadRasterHeader is the page sources' (inkrow_source);
 * PrintJobStartRasterPage the print layer's (inkrow_print, which links them).
 */
#ifndef INKROW_RASTER_HEADER_H
#define INKROW_RASTER_HEADER_H

#include <cups/raster.h>
#include <stddef.h>

#include "inkrow/print.h"
#include "inkrow/render.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RENDER_MAX_RASTER_HEIGHT (1 << 24)

typedef struct RenderRasterPage {
    int width;        /* pixels a line */
    int height;       /* lines */
    int colorSpace;   /* RenderColorSpace of the lines once read */
    int invert;       /* 1: each byte becomes 255 - byte (K rasters) */
    int resolution;   /* dots per inch, both ways */
    size_t lineBytes; /* bytes of one raster line */
} RenderRasterPage;

/* Reads a page header by the policy above. RENDER_OK and *page filled, or
 * RENDER_BAD_ARGUMENT with words naming the field and its value in error (at most
 * errorSize bytes, no page number; may be NULL). */
int RenderReadRasterHeader(const cups_page_header2_t* header, RenderRasterPage* page, char* error,
                           size_t errorSize);

/* Starts the job's next page from its raster header: PrintJobStartPage with the page the
 * header describes, or a failure of the job worded "page N: <why>" when the header is
 * refused. Results as PrintJobStartPage. */
int PrintJobStartRasterPage(PrintJob* job, const cups_page_header2_t* header);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* INKROW_RASTER_HEADER_H */
