/*
 * inkrow: the output stage of an inkjet printer driver.
 *
 * The rendering stage hands the module a job's print mode, each page's setup and then
 * the page one raster line at a time; the module turns it into the printer's raster
 * command stream. It never writes a file or a port: every producing call hands back a
 * segment list that points into buffers the module owns.
 *
 * Call order of a job (anything else is refused with OUTPUT_NOT_NOW or OUTPUT_NEVER):
 *
 *     OutputOpen(&h)                              -> OUTPUT_OPENED
 *     OutputInitTwo(&h, &job, OUTPUT_JOB_PARAMS_VERSION)
 *     per page:
 *         OutputInitPart(&h, &page)
 *         per raster line, in increasing line number:
 *             OutputProduceTwo(&h, &band, &list)  send the list, then
 *             OutputComplete(&h)
 *         OutputFlush(&h, &list)                  send the list, then
 *         OutputComplete(&h)                      releases the page's buffers
 *     OutputClose(&h)                             in any state; releases everything
 *
 * A job whose JobParams.formFeedFlag is 1 runs in form-feed mode: pages end with
 * OutputFormFeed + OutputComplete, and the job ends with OutputFlush + OutputComplete.
 *
 * Ownership of output: after a producing call (OutputProduceTwo, OutputFlush,
 * OutputFormFeed) returns OUTPUT_OK, the variable at segmentListOut holds a handle that
 * is the address of a SegmentList. Its entries point into the module's own blocks; the
 * bytes and the list stay valid and unchanged until the next call on the same context,
 * which must be OutputComplete (or OutputClose). Send the segments in list order.
 *
 * The caller's pixel lines are working memory during OutputProduceTwo: pixels outside a
 * line's span that share a byte with its inked ends are cleared, and converted planes
 * are rewritten in place.
 *
 * Contexts are independent; one thread at a time per context. No global state.
 */
#ifndef INKROW_OUTPUT_H
#define INKROW_OUTPUT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
/* inkrow.dll exports its entry points; a caller may define INKROW_DLL to import them
 * directly rather than through the import library's stubs. */
#if defined(INKROW_BUILDING_LIBRARY)
#define INKROW_EXPORT __declspec(dllexport)
#elif defined(INKROW_DLL)
#define INKROW_EXPORT __declspec(dllimport)
#else
#define INKROW_EXPORT
#endif
#elif defined(__GNUC__)
#define INKROW_EXPORT __attribute__((visibility("default")))
#else
#define INKROW_EXPORT
#endif

/* A context handle: the caller keeps it in a variable and passes that variable's
 * address to every entry point. */
typedef void* OutputHandle;

/* Result codes, 16-bit; bit 15 set means failure. */
#define OUTPUT_OK ((int16_t)0x0000)
#define OUTPUT_OPENED ((int16_t)0x0106)      /* OutputOpen: context created */
#define OUTPUT_OPEN_FAILED ((int16_t)0x8106) /* OutputOpen: null out or no memory */
#define OUTPUT_FAILED ((int16_t)0xFF80)      /* bad argument, unsupported mode, ... */
#define OUTPUT_NO_MEMORY ((int16_t)0xFF94)   /* an allocation failed; nothing changed */
#define OUTPUT_NOT_NOW ((int16_t)0xFF00)     /* call not allowed in the current state */
#define OUTPUT_NEVER ((int16_t)0xFFFF)       /* call never allowed in this mode */

#define OUTPUT_JOB_PARAMS_VERSION 219

/* Job parameters, input of OutputInitTwo. Only the named fields are read. */
typedef struct JobParams {
    uint8_t reserved0[2];
    int16_t mediaCode; /* offset 2 */
    uint8_t reserved4[22];
    int16_t formFeedFlag; /* offset 26: 1 runs the job in form-feed mode */
    uint8_t reserved28[66];
    int16_t qualityCode; /* offset 94 */
    uint8_t reserved96[32];
    int16_t pixelWidth; /* offset 128: pixels in one raster line, 0..32767 */
} JobParams;

/* Page parameters, input of OutputInitPart. Only the named fields are read. */
typedef struct PageParams {
    uint8_t reserved0[16];
    int16_t blackOnly;  /* offset 16: 1 asks for the one-plane black configuration */
    int16_t resolution; /* offset 18: 300 or 600 chooses 8 or 16 lines per row */
    uint8_t reserved20[6];
    int16_t formFeedFlag; /* offset 26: 1 forces 8 lines per row */
    uint8_t reserved28[78];
    int16_t kForBlack; /* offset 106: 1 prefers configurations with a k plane */
    int16_t keepColor; /* offset 108: non-zero keeps black-only from being used */
} PageParams;

/* One plane's line in a band. The span runs from start to end - trail - 1;
 * pixels == NULL or end == start means the plane has nothing on this line. */
typedef struct BandPlane {
    uint8_t* pixels; /* packed line, first pixel in the most significant bits */
    int16_t end;
    int16_t start;
    int16_t trail;
    uint8_t reserved14[2];
} BandPlane;

#define OUTPUT_MAX_BAND_PLANES 7

/* One raster line for every input plane, input of OutputProduceTwo. Direct planes
 * read entries 0 .. planes-1; the sixteen-ink configuration reads entries 0 .. 5.
 * OutputProduceTwo refuses with OUTPUT_FAILED, changing nothing, a band whose line number
 * is negative, not above the page's previous one, or in a row (lineNumber / lines per
 * row) beyond 3,473,302; a plane whose span is invalid (start < 0, trail < 0,
 * end - trail < start, or end - trail > the job's pixelWidth); and a line whose code
 * would not fit in its row's packet (at most 65,535 bytes per row and ink). */
typedef struct RasterBand {
    int32_t lineNumber; /* from 0 at the top of the page, increasing within a page */
    uint8_t reserved4[4];
    BandPlane bandPlanes[OUTPUT_MAX_BAND_PLANES];
} RasterBand;

/* One piece of output: send length bytes from data. */
typedef struct Segment {
    uint8_t* data;
    uint16_t length;
    uint8_t reserved10[6];
} Segment;

/* The output of a producing call: count segments at items, to be sent in order. */
typedef struct SegmentList {
    int16_t count;
    uint8_t reserved2[6];
    void* itemsHandle;
    Segment* items;
} SegmentList;

/* Creates a context into *out. OUTPUT_OPENED, or OUTPUT_OPEN_FAILED. */
INKROW_EXPORT int16_t OutputOpen(OutputHandle* out);
/* Unsupported initialisation: always OUTPUT_FAILED. */
INKROW_EXPORT int16_t OutputInit(void);
/* Releases everything the context owns and nulls *handle. Any state; NULL is ignored. */
INKROW_EXPORT void OutputClose(OutputHandle* handle);
/* Takes the job's print mode; jobParamsVersion must be OUTPUT_JOB_PARAMS_VERSION. */
INKROW_EXPORT int16_t OutputInitTwo(OutputHandle* handle, const JobParams* job,
                                    int16_t jobParamsVersion);
/* Sets up one page: chooses its planes and allocates their buffers. */
INKROW_EXPORT int16_t OutputInitPart(OutputHandle* handle, const PageParams* page);
/* Takes one raster line; *segmentListOut receives the output ready to send. */
INKROW_EXPORT int16_t OutputProduceTwo(OutputHandle* handle, RasterBand* band,
                                       void** segmentListOut);
/* A band step that takes no line and produces nothing. */
INKROW_EXPORT int16_t OutputProduce(OutputHandle* handle);
/* Tells the module that the last list was sent; its buffers may be reused. */
INKROW_EXPORT int16_t OutputComplete(OutputHandle* handle);
/* Ends a page (form-feed mode: ends the job). */
INKROW_EXPORT int16_t OutputFlush(OutputHandle* handle, void** segmentListOut);
/* Ends a page in form-feed mode; rows at and after lineLimit are dropped. */
INKROW_EXPORT int16_t OutputFormFeed(OutputHandle* handle, void** segmentListOut,
                                     int32_t lineLimit);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The record layouts are part of the interface. */
#if defined(__cplusplus)
#define INKROW_STATIC_ASSERT static_assert
#else
#define INKROW_STATIC_ASSERT _Static_assert
#endif
INKROW_STATIC_ASSERT(sizeof(void*) == 8, "inkrow's records are laid out for 64-bit callers");
INKROW_STATIC_ASSERT(offsetof(JobParams, mediaCode) == 2, "JobParams.mediaCode");
INKROW_STATIC_ASSERT(offsetof(JobParams, formFeedFlag) == 26, "JobParams.formFeedFlag");
INKROW_STATIC_ASSERT(offsetof(JobParams, qualityCode) == 94, "JobParams.qualityCode");
INKROW_STATIC_ASSERT(offsetof(JobParams, pixelWidth) == 128, "JobParams.pixelWidth");
INKROW_STATIC_ASSERT(sizeof(JobParams) == 130, "JobParams size");
INKROW_STATIC_ASSERT(offsetof(PageParams, blackOnly) == 16, "PageParams.blackOnly");
INKROW_STATIC_ASSERT(offsetof(PageParams, resolution) == 18, "PageParams.resolution");
INKROW_STATIC_ASSERT(offsetof(PageParams, formFeedFlag) == 26, "PageParams.formFeedFlag");
INKROW_STATIC_ASSERT(offsetof(PageParams, kForBlack) == 106, "PageParams.kForBlack");
INKROW_STATIC_ASSERT(offsetof(PageParams, keepColor) == 108, "PageParams.keepColor");
INKROW_STATIC_ASSERT(sizeof(PageParams) == 110, "PageParams size");
INKROW_STATIC_ASSERT(offsetof(BandPlane, pixels) == 0, "BandPlane.pixels");
INKROW_STATIC_ASSERT(offsetof(BandPlane, end) == 8, "BandPlane.end");
INKROW_STATIC_ASSERT(offsetof(BandPlane, start) == 10, "BandPlane.start");
INKROW_STATIC_ASSERT(offsetof(BandPlane, trail) == 12, "BandPlane.trail");
INKROW_STATIC_ASSERT(sizeof(BandPlane) == 16, "BandPlane size");
INKROW_STATIC_ASSERT(offsetof(RasterBand, lineNumber) == 0, "RasterBand.lineNumber");
INKROW_STATIC_ASSERT(offsetof(RasterBand, bandPlanes) == 8, "RasterBand.bandPlanes");
INKROW_STATIC_ASSERT(sizeof(RasterBand) == 8 + 16 * OUTPUT_MAX_BAND_PLANES, "RasterBand size");
INKROW_STATIC_ASSERT(offsetof(Segment, data) == 0, "Segment.data");
INKROW_STATIC_ASSERT(offsetof(Segment, length) == 8, "Segment.length");
INKROW_STATIC_ASSERT(sizeof(Segment) == 16, "Segment size");
INKROW_STATIC_ASSERT(offsetof(SegmentList, count) == 0, "SegmentList.count");
INKROW_STATIC_ASSERT(offsetof(SegmentList, itemsHandle) == 8, "SegmentList.itemsHandle");
INKROW_STATIC_ASSERT(offsetof(SegmentList, items) == 16, "SegmentList.items");
INKROW_STATIC_ASSERT(sizeof(SegmentList) == 24, "SegmentList size");

#endif /* INKROW_OUTPUT_H */
