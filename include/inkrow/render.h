/*
 * inkrow render stage: from page images to the output module's ink planes.
 *
 * The output module (inkrow/output.h) prints only what it is handed: per ink, one packed
 * line of 1, 2 or 4 bits per pixel. This library turns ordinary page lines (8-bit gray,
 * 8-bit sRGB or 8-bit device CMYK) into those planes and drives the module with them.
 *
 * Three layers, each usable on its own:
 *
 *   1. RenderDescribeMode: what a print mode (quality code, media code, page flags)
 *      asks of a caller: which inks, how many planes, and per plane its bits per pixel
 *      and usable levels. It reads the very tables the module uses.
 *
 *   2. RenderRaster: colour separation, light-ink split, tone curves and halftoning of one
 *      line at a time into packed planes with their inked extents filled in, as a
 *      RasterBand ready for OutputProduceTwo. No module calls.
 *
 *   3. RenderJob: a whole job. It opens a module context, renders every line, hands every
 *      byte of the command stream to the caller's write callback, and ends pages and the
 *      job. Blank lines cost nothing.
 *
 *     RenderJob* job;
 *     RenderJobOptions options;
 *     RenderJobOptionsInit(&options);             defaults: quality 10, media 0, 600 dpi
 *     options.width = 4960; options.colorSpace = RENDER_RGB8;
 *     options.write = my_write; options.writeContext = my_file;
 *     if (RenderJobOpen(&options, &job) != RENDER_OK) ...
 *     per page:
 *         RenderJobStartPage(job);
 *         per line, top to bottom: RenderJobWriteLine(job, line, width * 3);
 *         RenderJobEndPage(job);
 *     RenderJobClose(job);                        ends the job; frees everything
 *
 * Every call returns RENDER_OK (0) or a negative RenderStatus. After a failure of a job
 * call, RenderJobErrorText says what failed in words; the job then refuses everything but
 * RenderJobClose, so that no half-written stream is ever reported as complete.
 *
 * Output is deterministic: the same input and options give the same bytes, whatever the
 * number of threads. Objects are independent; one thread at a time per object (a raster
 * shares its own work with threads of its own). No global state.
 */
#ifndef INKROW_RENDER_H
#define INKROW_RENDER_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "inkrow/output.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
typedef enum RenderStatus {
    RENDER_OK = 0,
    RENDER_BAD_ARGUMENT = -1,     /* a null pointer or an option out of range */
    RENDER_UNSUPPORTED_MODE = -2, /* the quality and media pair has no ink set */
    RENDER_BAD_WIDTH = -3,        /* width 0, above RENDER_MAX_WIDTH, or not the job's */
    RENDER_BAD_LINE = -4,         /* a line of the wrong length, or past the page's end */
    RENDER_NO_MEMORY = -5,
    RENDER_MODULE_REFUSED = -6,  /* the output module refused a call (see the error text) */
    RENDER_WRITE_FAILED = -7,    /* the caller's write callback reported a failure */
    RENDER_CALL_ORDER = -8,      /* e.g. a line outside a page, or a job that failed before */
    RENDER_CANCELED = -9,        /* the print layer's job was cancelled (inkrow/print.h) */
    RENDER_BAD_COLOR_FILE = -10, /* an ICC profile or calibration file was refused */
} RenderStatus;

/* A short English description of a status ("bad line length", ...). */
const char* RenderStatusText(int status);

/* The one text of each of the output module's result codes (inkrow/output.h), its name
 * and its meaning: "OUTPUT_NO_MEMORY (out of memory)". Every program and library of the
 * project words a module result with this; "an unknown result" for any other value. */
const char* RenderOutputResultText(int16_t result);

/* The one formatter of error messages: printf-style into text (size bytes, always
 * terminated, cut short rather than overrun), the way every part of the project words
 * them. Returns text. */
const char* RenderFormatErrorV(char* text, size_t size, const char* format, va_list arguments)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 0)))
#endif
    ;

#define RENDER_MAX_PLANES 16
#define RENDER_MAX_WIDTH 32767 /* pixels per line the module can address */

/* ---- 1. Print modes ------------------------------------------------------------------ */

/* A print mode as the module sees it: the job's codes and the page's flags. */
typedef struct RenderModeRequest {
    int qualityCode; /* 0, 5, 10, 15, 20, 30 */
    int mediaCode;   /* 0 .. 37 */
    int blackOnly;   /* 1: one black plane where the media allows it */
    int kForBlack;   /* 1: prefer configurations that print black with the k ink */
    int keepColor;   /* non-zero: never fall back to black only */
    int formFeed;    /* 1: pages end with a form feed (8 lines per row) */
    int resolution;  /* 300 (8 lines per row), 600 (16), anything else (1) */
} RenderModeRequest;

/* One plane the caller hands the module, in the module's plane order. */
typedef struct RenderPlaneInfo {
    char ink;          /* 'C', 'M', 'Y', 'K', 'c', 'm' or 'k' */
    uint8_t inkCode;   /* the printer's code for the ink (the letter for these seven) */
    int bitsPerPixel;  /* 1, 2 or 4: the packing of the plane's lines */
    int levels;        /* levels the plane can print: 2, 3, 4, 7 or 13 */
    int codeConverted; /* 1: levels 0..2 only; a level 3 would print nothing */
    int split;         /* 1: an input of the sixteen-ink split (4 bits per pixel) */
    int splitOutputs;  /* split inputs: printer planes it drives (2 or 4); else 1 */
    /* The value to pack for each level, lightest first: the level itself on direct
     * planes. A split input's value becomes two or four printer pixels of 0..3 each;
     * levelValues[i] is the value whose printer pixels add up to i, so that equal steps
     * of level are equal steps of ink (2-way inputs: values 0-4, 6, 7; 4-way: 0-8,
     * 11, 12, 14, 15). */
    uint8_t levelValues[16];
} RenderPlaneInfo;

typedef struct RenderMode {
    int inkSetId;      /* 1 .. 9 */
    int printerPlanes; /* planes the printer receives: planeCount, or 16 when split */
    int planeCount;    /* planes the caller hands the module on each line */
    int linesPerRow;   /* 1, 8 or 16 */
    int split;         /* 1: the sixteen-ink mode (six 4-bit inputs) */
    char inks[RENDER_MAX_PLANES + 1]; /* ink letters of the caller's planes, "CMYK" */
    RenderPlaneInfo planes[RENDER_MAX_PLANES];
} RenderMode;

/* Describes the page configuration the module will choose for a request.
 * RENDER_OK, RENDER_BAD_ARGUMENT (null pointer) or RENDER_UNSUPPORTED_MODE. */
int RenderDescribeMode(const RenderModeRequest* request, RenderMode* mode);

/* The printer's ink codes of a mode's planes, in the order of its full ink selection:
 * one per plane handed in, or the sixteen planes the split drives. Writes up to
 * RENDER_MAX_PLANES codes and returns their count. */
int RenderPrinterInks(const RenderMode* mode, uint8_t* codes);

/* The sixteen-ink split: the 2-bit level printer plane `printerPlane` (0 .. 15, in the
 * order of RenderPrinterInks) prints for a level of its input plane, which it stores in
 * *inputPlane (may be NULL). -1 for a plane number out of range. */
int RenderSplitLevel(int printerPlane, int inputLevel, int* inputPlane);

typedef struct RenderModePair {
    int qualityCode;
    int mediaCode;
    int inkSetId;
} RenderModePair;

/* Lists the quality and media pairs the module supports (one representative media code
 * per media column), writing at most `capacity` entries. Returns the total count. */
int RenderListModePairs(RenderModePair* pairs, int capacity);

/* ---- 2. Raster: colour, light inks, halftoning, packing ------------------------------- */

typedef enum RenderColorSpace {
    RENDER_GRAY8 = 1, /* one byte a pixel, 0 black .. 255 white */
    RENDER_RGB8 = 3,  /* sRGB, three bytes a pixel */
    RENDER_CMYK8 = 4, /* device CMYK, four bytes a pixel, 255 full ink */
} RenderColorSpace;

typedef enum RenderHalftone {
    RENDER_DIFFUSION = 0, /* serpentine error diffusion: the quality default */
    RENDER_ORDERED = 1,   /* blue-noise threshold matrix: fast, no line-to-line state */
} RenderHalftone;

/* Colour management. Without it (a NULL RenderColor) colour is the formula described in
 * the README. With it:
 *   - an output ICC profile (CMYK device space: the printer's inks as the process inks,
 *     light inks shared out from their dark ink as always) turns gray and sRGB pages, or
 *     pages in the colour space of a given input profile, into ink amounts with lcms2,
 *     in one of the four rendering intents, with or without black-point compensation;
 *     device CMYK pages without an input profile print their values as they are;
 *   - a calibration file (CGATS as ArgyllCMS's printcal writes it: CMYK_I against
 *     CMYK_C, CMYK_M, CMYK_Y, CMYK_K, 0 .. 1, optionally TOTAL_INK_LIMIT in percent)
 *     maps each process ink's amount after the transform, light inks following their
 *     dark ink, and caps the sum of the four amounts;
 *   - in either case the built-in tone curves are left out: the profile and the
 *     calibration were measured on prints without them (calibration mode);
 *   - calibration mode prints the raw inks: no profile, no calibration, no tone curves,
 *     device CMYK as it is (gray and sRGB pages by the formula without tone curves).
 * One RenderColor serves every page and raster of a job (its transforms are built once,
 * when it opens); it may be shared by rasters on several threads, read-only. */
typedef enum RenderIntent {
    RENDER_INTENT_PERCEPTUAL = 0, /* numbered as ICC numbers them */
    RENDER_INTENT_RELATIVE = 1,   /* relative colorimetric */
    RENDER_INTENT_SATURATION = 2,
    RENDER_INTENT_ABSOLUTE = 3, /* absolute colorimetric */
} RenderIntent;

typedef struct RenderColorOptions {
    const char* outputProfile;  /* ICC profile of the media and ink set; NULL: none */
    const char* inputProfile;   /* ICC profile of the document's pixels; NULL: sRGB, gray
                                   of gamma 2.2, device CMYK */
    int intent;                 /* RenderIntent */
    int blackPointCompensation; /* 1: map the document's black point to the printer's */
    const char* calibration;    /* printcal calibration (.cal); NULL: none */
    int calibrationMode;        /* 1: the raw inks; every file above is ignored */
} RenderColorOptions;

/* Defaults: no files, perceptual, black-point compensation on, not calibration mode. */
void RenderColorOptionsInit(RenderColorOptions* options);

typedef struct RenderColor RenderColor;

/* Reads and checks the files and builds the transforms. RENDER_OK, RENDER_BAD_ARGUMENT,
 * RENDER_NO_MEMORY, or RENDER_BAD_COLOR_FILE with words naming the file and the reason
 * in error (errorSize bytes, always terminated; may be NULL). */
int RenderColorOpen(const RenderColorOptions* options, RenderColor** color, char* error,
                    size_t errorSize);
void RenderColorClose(RenderColor* color);
/* 1 when the colour changes anything (a file or calibration mode), else 0. */
int RenderColorActive(const RenderColor* color);

/* "perceptual", "relative", "saturation", "absolute"; NULL for another number. */
const char* RenderIntentName(int intent);
/* The intent of a name above (also IPP's "relative-bpc" as relative); -1 when unknown. */
int RenderIntentFromName(const char* name);

typedef struct RenderRasterOptions {
    RenderModeRequest mode;
    int width;      /* pixels per line, 1 .. RENDER_MAX_WIDTH */
    int colorSpace; /* RenderColorSpace */
    int halftone;   /* RenderHalftone */
    /* Threads that share each line's work: 0 one per core, 1 the caller's alone, at most
     * 4 used (and no more than the mode has independent planes; a light ink goes with its
     * dark one). They live as long as the raster (or the job). The stream is the same
     * whatever the count. */
    int threads;
    const RenderColor* color; /* NULL: the formula; else must outlive the raster */
} RenderRasterOptions;

/* Defaults: quality 10, media 0, 600 dpi, no flags, width 0 (must be set), sRGB,
 * error diffusion, one thread per core, no colour management. */
void RenderRasterOptionsInit(RenderRasterOptions* options);

typedef struct RenderRaster RenderRaster;

int RenderRasterOpen(const RenderRasterOptions* options, RenderRaster** raster);
void RenderRasterClose(RenderRaster* raster);
const RenderMode* RenderRasterMode(const RenderRaster* raster);
/* Starts a page: line numbers from 0, halftone state cleared. */
int RenderRasterStartPage(RenderRaster* raster);
/* Renders the page's next line: `length` must be width * channels. Fills *band with the
 * line's number and, per plane, the packed line and its inked extents (start, end,
 * trail 0); a plane without ink on the line has pixels NULL and start == end == 0.
 * *inked is set to 1 when any plane has ink. The band's lines belong to the raster and
 * stay valid until its next call; the module may change them in place. */
int RenderRasterLine(RenderRaster* raster, const uint8_t* pixels, size_t length, RasterBand* band,
                     int* inked);

/* ---- 3. Jobs: driving the module ----------------------------------------------------- */

/* Receives the command stream in order. Return 0 on success; anything else fails the job
 * with RENDER_WRITE_FAILED. */
typedef int (*RenderWriteFn)(void* writeContext, const uint8_t* bytes, size_t length);

typedef struct RenderJobOptions {
    RenderRasterOptions raster;
    RenderWriteFn write;
    void* writeContext;
} RenderJobOptions;

void RenderJobOptionsInit(RenderJobOptions* options);

typedef struct RenderJob RenderJob;

int RenderJobOpen(const RenderJobOptions* options, RenderJob** job);
const RenderMode* RenderJobMode(const RenderJob* job);
int RenderJobStartPage(RenderJob* job);
/* One line of the page, top to bottom; `length` must be width * channels. */
int RenderJobWriteLine(RenderJob* job, const uint8_t* pixels, size_t length);
/* Ends the page and sends its end (and a form feed in form-feed mode). */
int RenderJobEndPage(RenderJob* job);
/* Ends the job (an open page is ended first), releases everything. The result is that
 * of the job's end: RENDER_OK only when the whole stream was handed to the callback. */
int RenderJobClose(RenderJob* job);
/* Words for the job's last failure; "" when none. Valid until the job's next call. */
const char* RenderJobErrorText(const RenderJob* job);
/* Bytes handed to the callback so far. */
uint64_t RenderJobBytesWritten(const RenderJob* job);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* INKROW_RENDER_H */
