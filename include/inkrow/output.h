/*
 * inkrow: the output stage of an inkjet printer driver.
 *
 * The rendering stage hands the module a job's print mode, each page's setup and then
 * the page one raster line at a time; the module turns it into the printer's raster
 * command stream. It never writes a file or a port: every producing call hands back a
 * segment list that points into buffers the module owns.
 *
 * The stream's bytes, command by command, with their limits, order rules and a worked
 * example, are described in doc/stream-format.md in the source tree.
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
 * line's span that share a byte with its inked ends are cleared, and code-converted
 * planes are rewritten in place (see OutputProduceTwo). Keep a copy if you need the line
 * again.
 *
 * Code-converted planes (the print mode says which; 2-bit input) take levels 0, 1 and 2
 * only: the module packs five pixels into one byte of three-level code, and a pixel of
 * level 3 makes its whole group of five pixels (pixels 5k .. 5k+4 of the line) print
 * nothing.
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

/* The library's version. The build reads its version from these three lines, so the
 * header and the installed package can never disagree. */
#define INKROW_VERSION_MAJOR 0
#define INKROW_VERSION_MINOR 1
#define INKROW_VERSION_PATCH 0
/* One number for comparisons: major * 10000 + minor * 100 + patch. */
#define INKROW_VERSION \
    (INKROW_VERSION_MAJOR * 10000 + INKROW_VERSION_MINOR * 100 + INKROW_VERSION_PATCH)

/* INKROW_EXPORT marks the entry points. Only the library's own build (which defines
 * INKROW_BUILDING_LIBRARY) exports them; a caller's files see plain declarations, so
 * including this header never makes a caller's program export anything. */
#if defined(_WIN32)
/* Windows: dllexport while building the DLL; a caller linking the DLL defines
 * INKROW_DLL to import the entry points directly (it works without, via thunks). */
#if defined(INKROW_BUILDING_LIBRARY)
#define INKROW_EXPORT __declspec(dllexport)
#elif defined(INKROW_DLL)
#define INKROW_EXPORT __declspec(dllimport)
#else
#define INKROW_EXPORT
#endif
#elif defined(INKROW_BUILDING_LIBRARY) && defined(__GNUC__)
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

/* One plane's line in a band. start, end and trail count PIXELS (not bytes) from the
 * line's first pixel, 0. The inked span is the half-open range [start, end - trail):
 * its first pixel is start, its last end - trail - 1; the trail pixels just before end
 * are outside it. pixels == NULL or end == start means the plane has nothing on this
 * line. The module reads, and may rewrite, the line's bytes up to the one holding pixel
 * end - trail - 1 (from byte 0 on for a code-converted plane). */
typedef struct BandPlane {
    uint8_t* pixels; /* packed line, first pixel in the most significant bits */
    int16_t end;     /* pixels; 0 .. the job's pixelWidth + trail */
    int16_t start;   /* pixels; first pixel of the span */
    int16_t trail;   /* pixels between the span's end and end; >= 0 */
    uint8_t reserved14[2];
} BandPlane;

/* Limits a caller sizes against. */
#define OUTPUT_MAX_BAND_PLANES 7 /* entries of RasterBand.bandPlanes */
/* Lines per row: 1, 8 or 16 (PageParams.resolution 360, 300, 600; 8 in form-feed
 * mode). A row is the unit of packets and of blank-row skips. */
#define OUTPUT_MAX_LINES_PER_ROW 16
/* Largest row a line may fall in: lineNumber / lines per row <= OUTPUT_MAX_ROW. Bounding
 * the rows keeps every list a page end can need within OUTPUT_MAX_SEGMENTS. */
#define OUTPUT_MAX_ROW 3473302
/* Bytes one ink's packet can hold for one row, its 5-byte command header included; the
 * coded lines of a row (each ends in one byte, runs add one byte per 128 bytes at most)
 * share OUTPUT_MAX_PACKET_PAYLOAD bytes. */
#define OUTPUT_PACKET_CAPACITY 62464
#define OUTPUT_MAX_PACKET_PAYLOAD (OUTPUT_PACKET_CAPACITY - 5)
/* Most segments one SegmentList carries. */
#define OUTPUT_MAX_SEGMENTS 126

/* One raster line for every input plane, input of OutputProduceTwo. Direct planes
 * read entries 0 .. planes-1; the sixteen-ink configuration reads entries 0 .. 5. */
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

/*
 * Entry points. Every one that takes a handle wants the ADDRESS of the caller's handle
 * variable. Common to all of them:
 *   - OUTPUT_FAILED for a null handle variable (or one that holds no context) and for
 *     null record or list pointers; nothing happens.
 *   - OUTPUT_NOT_NOW when the call is out of order (see the call order above), and
 *     OUTPUT_NEVER when it is never allowed in the job's mode or the context's call-order
 *     record is missing. A refused call does no work: the context, the caller's records
 *     and *segmentListOut are left as they were.
 * A failed call never hands out a list: only after OUTPUT_OK does *segmentListOut hold
 * one, and only then must OutputComplete follow.
 */

/* OutputOpen: creates a context and stores its handle in *out.
 *   out  where the handle goes; set to NULL first, then to the new context.
 * Returns OUTPUT_OPENED: *out holds a context ready for OutputInitTwo; the caller owns it
 *         and must release it with OutputClose.
 *         OUTPUT_OPEN_FAILED: out is NULL (nothing written), or memory ran out (*out is
 *         NULL and nothing stays allocated). */
INKROW_EXPORT int16_t OutputOpen(OutputHandle* out);

/* OutputInit: an initialisation this module does not support. Takes nothing, changes
 * nothing. Returns OUTPUT_FAILED, always. */
INKROW_EXPORT int16_t OutputInit(void);

/* OutputClose: releases everything the context owns (the context, its page buffers,
 * every segment list and the bytes it pointed at) and sets *handle to NULL. Allowed in
 * any state, also between a producing call and its OutputComplete.
 *   handle  address of the handle variable; NULL, or a variable holding NULL, is
 *           ignored, so closing twice is harmless.
 * Returns nothing. Afterwards no list or segment of the context may be read. */
INKROW_EXPORT void OutputClose(OutputHandle* handle);

/* OutputInitTwo: takes the job's print mode (quality, media, line width, form-feed
 * flag). Only right after OutputOpen.
 *   handle            the context.
 *   job               the job record; read during the call only (the caller keeps it).
 *   jobParamsVersion  must be OUTPUT_JOB_PARAMS_VERSION.
 * Returns OUTPUT_OK: the job is taken; next comes OutputInitPart (or, in form-feed mode,
 *         OutputFlush to end an empty job).
 *         OUTPUT_FAILED: null handle or job, wrong version, negative pixelWidth, or no
 *         ink set for the quality and media codes. The context stays as OutputOpen left
 *         it (form-feed mode undone), so the call may be repeated with a corrected record.
 *         OUTPUT_NEVER: the context has already taken a job; nothing changes. */
INKROW_EXPORT int16_t OutputInitTwo(OutputHandle* handle, const JobParams* job,
                                    int16_t jobParamsVersion);

/* OutputInitPart: sets up one page: chooses its planes from the job's print mode and
 * the page flags, and allocates the page's buffers (the module owns them; the page end's
 * OutputComplete releases them). Later pages of a form-feed job keep the first page's
 * planes and buffers and only start over (page is then not read).
 *   handle  the context.
 *   page    the page record; read during the call only.
 * Returns OUTPUT_OK: the page is ready for OutputProduceTwo.
 *         OUTPUT_FAILED: null handle or page, or the print mode has no plane format the
 *         module supports; nothing changes.
 *         OUTPUT_NO_MEMORY: a page buffer could not be allocated; every buffer of this
 *         call is released again and the context is as before, so the call may be
 *         repeated.
 *         OUTPUT_NOT_NOW, OUTPUT_NEVER: out of order; nothing changes. */
INKROW_EXPORT int16_t OutputInitPart(OutputHandle* handle, const PageParams* page);

/* OutputProduceTwo: takes one raster line of every plane and codes it. The output of
 * a row is handed out when the next row starts (and the last row at the page end), so
 * the list is often empty or holds the previous rows' commands.
 *   handle          the context.
 *   band            the line: lineNumber and one BandPlane per input plane. The module
 *                   reads and MODIFIES the planes' pixels (see the top of this file):
 *                   edge bytes of the span are masked, code-converted planes are
 *                   rewritten with their three-level code. It keeps no pointer to them
 *                   after the call.
 *   segmentListOut  receives the list's address (a SegmentList*) on OUTPUT_OK.
 * Returns OUTPUT_OK: *segmentListOut holds the list to send; the bytes and the list are
 *         the module's and stay valid until the next call, which must be OutputComplete
 *         (or OutputClose).
 *         OUTPUT_FAILED, and the CONTEXT is unchanged (the line may be given again,
 *         corrected), when: handle, band or segmentListOut is null; lineNumber is
 *         negative or not above the page's previous line; the line's row
 *         (lineNumber / lines per row) is beyond OUTPUT_MAX_ROW; a plane's span is
 *         invalid (start < 0, trail < 0, end - trail < start, or end - trail above the
 *         job's pixelWidth); or the line's code would not fit its row's packet
 *         (OUTPUT_MAX_PACKET_PAYLOAD bytes per row and ink) or the list
 *         (OUTPUT_MAX_SEGMENTS). A line refused for SIZE has already been through
 *         intake: its edge bytes may be masked and code-converted planes rewritten in
 *         place, so re-send it from the caller's own copy, not from this buffer.
 *         OUTPUT_NO_MEMORY: a control block could not be allocated; the line is not
 *         taken and may be given again.
 *         OUTPUT_NOT_NOW, OUTPUT_NEVER: out of order; nothing changes. */
INKROW_EXPORT int16_t OutputProduceTwo(OutputHandle* handle, RasterBand* band,
                                       void** segmentListOut);

/* OutputProduce: a band step that takes no line and produces nothing; it is followed by
 * OutputComplete like a band.
 *   handle  the context.
 * Returns OUTPUT_OK (the next OutputComplete does no completion work), OUTPUT_FAILED
 *         (null handle), OUTPUT_NOT_NOW or OUTPUT_NEVER (out of order; nothing changes). */
INKROW_EXPORT int16_t OutputProduce(OutputHandle* handle);

/* OutputComplete: tells the module that the last list has been sent. It finishes the
 * producing call's work (keeps the line as the previous one, moves a new row's packet
 * in, or after a page end releases the page's buffers) and makes the list's bytes the
 * module's again: no segment of that list may be read afterwards.
 *   handle  the context.
 * Returns OUTPUT_OK, OUTPUT_FAILED (null handle; nothing changes), OUTPUT_NOT_NOW or
 *         OUTPUT_NEVER (no producing call is waiting for completion; nothing changes). */
INKROW_EXPORT int16_t OutputComplete(OutputHandle* handle);

/* OutputFlush: ends a page in the normal mode, or the whole job in form-feed mode. It
 * finishes and commits the last row; a form-feed job's end adds a page header and the
 * form feed.
 *   handle          the context.
 *   segmentListOut  receives the list's address on OUTPUT_OK, as for OutputProduceTwo.
 * Returns OUTPUT_OK: send the list, then OutputComplete (which releases the page's
 *         buffers); the next page starts with OutputInitPart.
 *         OUTPUT_FAILED: null handle or segmentListOut, or the page end would not fit
 *         the packet or the list; nothing changes.
 *         OUTPUT_NO_MEMORY: a control block could not be allocated; nothing changes.
 *         OUTPUT_NOT_NOW, OUTPUT_NEVER: out of order; nothing changes. */
INKROW_EXPORT int16_t OutputFlush(OutputHandle* handle, void** segmentListOut);

/* OutputFormFeed: ends a page of a form-feed job. It sends a page header, then commits
 * the page's last row unless that row lies at or after lineLimit; the job's pages run
 * on down the same sheet, which the job's final OutputFlush ejects with a form feed.
 *   handle          the context.
 *   segmentListOut  receives the list's address on OUTPUT_OK.
 *   lineLimit       a count of raster lines: rows at and after lineLimit / lines per
 *                   row are dropped. Give the page's height rounded up to whole rows to
 *                   keep everything.
 * Returns OUTPUT_OK: send the list, then OutputComplete; the next page starts with
 *         OutputInitPart.
 *         OUTPUT_FAILED: null handle or segmentListOut, or the page end would not fit
 *         the packet or the list; nothing changes.
 *         OUTPUT_NO_MEMORY: a control block could not be allocated; nothing changes.
 *         OUTPUT_NOT_NOW: out of order in a form-feed job; OUTPUT_NEVER: a job of the
 *         normal mode (never allowed there). Nothing changes. */
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
