/*
 * inkrow page sources: read documents as pages of 8-bit lines for the render stage.
 *
 *   PNG and JPEG        decoded with libpng / libjpeg; one page
 *   PWG and CUPS raster decoded with libcups (8-bit gray, sRGB/RGB or CMYK); any pages
 *   PDF / PostScript    rendered by Ghostscript, run as a separate process, to 8-bit
 *                       CMYK (or gray) CUPS raster at exactly the requested page size
 *
 * Pictures are placed on a page of the requested size: scaled to fit and centred, never
 * cropped; a request of pageWidth 0 keeps the picture's own pixel size.
 *
 *     RenderSource* source;
 *     RenderSourceOptions options;
 *     RenderSourceOptionsInit(&options);
 *     options.pageWidth = 4960; options.pageHeight = 7016; options.resolution = 600;
 *     if (RenderSourceOpen("doc.pdf", &options, &source) != RENDER_OK)
 *         fprintf(stderr, "%s\n", RenderSourceErrorText(source));  (source may be NULL)
 *     RenderSourcePage page;
 *     while (RenderSourceNextPage(source, &page) == 1)
 *         for each of page.height lines: RenderSourceReadLine(source, line, page.lineBytes);
 *     RenderSourceClose(source);
 *
 * Errors use the RenderStatus codes of render.h and come with words naming the cause
 * ("not a PNG file", "PNG: CRC error", "Ghostscript failed: ..."); a failure in the
 * middle of a page arrives with the line it hit. Closing a source that is still running
 * Ghostscript stops it.
 *
 * A document opened from a file (and every PDF or PostScript one) is read ahead of the
 * caller by a thread of the source's own, into a queue of at most 8 MB of lines, so that
 * decoding or Ghostscript's rendering runs while the caller renders the lines before.
 */
#ifndef INKROW_SOURCE_H
#define INKROW_SOURCE_H

#include <stddef.h>
#include <stdint.h>

#include "inkrow/render.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum RenderSourceKind {
    RENDER_SOURCE_AUTO = 0, /* decided by the file's first bytes */
    RENDER_SOURCE_PNG,
    RENDER_SOURCE_JPEG,
    RENDER_SOURCE_RASTER, /* PWG raster or CUPS raster */
    RENDER_SOURCE_PDF,    /* PDF or PostScript, through Ghostscript */
} RenderSourceKind;

typedef struct RenderSourceOptions {
    int kind;                /* RenderSourceKind */
    int pageWidth;           /* pixels; 0 keeps a picture's size (required for PDF) */
    int pageHeight;          /* pixels; 0 keeps a picture's size (required for PDF) */
    int resolution;          /* dots per inch of the page (PDF rendering), e.g. 600 */
    int colorSpace;          /* wanted RenderColorSpace for PDF: RENDER_CMYK8 or RENDER_GRAY8;
                                pictures and rasters deliver their own (gray, RGB or CMYK) */
    const char* ghostscript; /* program to run; NULL for "gs" on the PATH */
    /* Bounds on Ghostscript (PDF and PostScript): seconds it may take for one page
       (0: no limit), megabytes of address space it may use (0: no limit), and a
       callback asked several times a second while it renders that returns non-zero to
       stop it. A page over time, a cancel or an error Ghostscript prints stops the
       process (SIGTERM, then SIGKILL) and fails the read with words saying which.
       The callback is asked from the source's own reading thread (documents are read
       ahead of the caller, at most 8 MB of lines), so it must be safe to call from
       another thread than the caller's. */
    int pageSeconds;
    int memoryMegabytes;
    int (*canceled)(void* context);
    void* cancelContext;
} RenderSourceOptions;

void RenderSourceOptionsInit(RenderSourceOptions* options);

typedef struct RenderSourcePage {
    int width;      /* pixels per line */
    int height;     /* lines */
    int colorSpace; /* RenderColorSpace of the lines */
    size_t lineBytes;
    int resolution; /* dots per inch: a raster page's own, else the requested resolution */
} RenderSourcePage;

typedef struct RenderSource RenderSource;

/* Opens `path` ("-" reads standard input). On failure *source may still be set so that
 * RenderSourceErrorText can say why; RenderSourceClose it either way. */
int RenderSourceOpen(const char* path, const RenderSourceOptions* options, RenderSource** source);
/* The same on an open file descriptor, which the source then owns. */
int RenderSourceOpenFd(int fd, const RenderSourceOptions* options, RenderSource** source);
/* 1 and *page filled when there is another page, 0 at the end, or a negative status. */
int RenderSourceNextPage(RenderSource* source, RenderSourcePage* page);
/* The page's next line into `line` (lineBytes bytes). */
int RenderSourceReadLine(RenderSource* source, uint8_t* line, size_t length);
const char* RenderSourceErrorText(const RenderSource* source);
void RenderSourceClose(RenderSource* source);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* INKROW_SOURCE_H */
