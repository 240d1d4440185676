/*
 * inkrow print layer: the one way a document becomes a command stream, for every front
 * end (the printer application, the CUPS filter, inkrow-print).
 *
 * 1. The catalogue: the drivers, media types, paper sizes and print qualities a user can
 *    choose. The PPD, the IPP attributes and the command line name its entries; a test
 *    checks each of them against it.
 *
 *     for (int i = 0; i < PrintMediaTypeCount(); ++i) {
 *         const PrintMediaType* type = PrintMediaTypeAt(i);
 *         ... type->ippKeyword, type->ppdChoice, type->mediaCode
 *     }
 *
 * 2. The print loop (PrintJob): pages from a page source (inkrow/source.h) or pushed
 *    line by line by the caller, printed through the render stage with one set of rules:
 *
 *    - page changes: a page whose width, colour space or resolution differs from the
 *      page before ends the render job in the stream and starts a new one, so documents
 *      that mix page sizes print whole;
 *    - resolution: a page with its own (a raster page) prints at it, any other at the
 *      job's; 300, 360 and 600 dpi only;
 *    - page ranges and copies: pages outside firstPage .. lastPage are read and dropped;
 *      PrintJobPrintFile prints the document `copies` times, collated;
 *    - cancel: the cancel hook is asked before every page and line; a cancelled job ends
 *      its open page (so the printer ejects the sheet) and the job, and reports
 *      RENDER_CANCELED;
 *    - a page cut short (fewer lines than its height, not cancelled) is an error;
 *    - every failure stops the job for good with one text (PrintJobErrorText), the same
 *      words whichever door the document came through; a failed job never reports
 *      success.
 *
 *     PrintJobOptions options;
 *     PrintJobOptionsInit(&options);
 *     options.mode.qualityCode = 10; options.write = my_write; options.writeContext = f;
 *     PrintJob* job;
 *     if (PrintJobOpen(&options, &job) != RENDER_OK) ...
 *     PrintJobPrintFile(job, "doc.pdf", &sourceOptions);     or, line by line:
 *         PrintJobStartPage(job, &page); PrintJobPushLine(job, line, n) ...; PrintJobEndPage(job);
 *     if (PrintJobClose(job) != RENDER_OK) ... PrintJobErrorText was reported before
 *
 * Records are constant and live as long as the program. No global state; one thread at
 * a time per job.
 */
#ifndef INKROW_PRINT_H
#define INKROW_PRINT_H

#include "inkrow/render.h"
#include "inkrow/source.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The drivers: the inks a printer has loaded. */
typedef enum PrintDriverKind {
    PRINT_DRIVER_BLACK = 0,   /* K only: every page prints as the one-plane K configuration */
    PRINT_DRIVER_CMYK = 1,    /* C, M, Y, K: no light inks */
    PRINT_DRIVER_PHOTO = 2,   /* C, M, Y, K and light c, m, k: all but the sixteen-ink mode */
    PRINT_DRIVER_SIXTEEN = 3, /* every ink: the photo configurations and the sixteen-ink mode */
} PrintDriverKind;
#define PRINT_DRIVER_COUNT 4
/* A set of drivers, one bit per PrintDriverKind. */
#define PRINT_DRIVER_BIT(kind) (1u << (kind))
#define PRINT_ALL_DRIVERS 0xFu

typedef struct PrintDriver {
    const char* name;         /* as the printer application's `add -m NAME` takes it */
    const char* description;  /* printer-make-and-model */
    int kind;                 /* PrintDriverKind */
    const char* inks;         /* the ink letters, for listings */
    const char* mediaDefault; /* IPP media-type default */
    unsigned inkSets;         /* the ink sets it may print with, bit n for RenderMode.inkSetId n */
} PrintDriver;

/* The print qualities, numbered as IPP print-quality numbers them (the PPD's
 * cupsPrintQuality choices set the same numbers into cupsInteger8). */
typedef enum PrintQuality {
    PRINT_QUALITY_DRAFT = 3,
    PRINT_QUALITY_NORMAL = 4,
    PRINT_QUALITY_HIGH = 5,
} PrintQuality;

typedef struct PrintQualityInfo {
    int quality;           /* PrintQuality */
    const char* ippName;   /* "draft", "normal", "high" */
    const char* ppdChoice; /* "Draft", "Normal", "High" */
    /* The module's quality codes in the order this quality prefers them, for the photo
     * drivers and (sixteenOrder) for the sixteen-ink driver: the nearest first, then finer
     * codes (a job asked for at least this quality), then coarser ones. */
    int order[5];
    int sixteenOrder[5];
} PrintQualityInfo;

typedef struct PrintMediaType {
    const char* ippKeyword; /* IPP media-type */
    const char* ppdChoice;  /* the PPD's MediaType choice; NULL: not offered in the PPD */
    const char* ppdText;    /* the choice's text */
    int mediaCode;          /* the module's media code */
    unsigned drivers;       /* PRINT_DRIVER_BIT of each driver that offers it */
} PrintMediaType;

typedef struct PrintPaperSize {
    const char* pwgName; /* IPP media, PWG self-describing name */
    const char* ppdName; /* the PPD's PageSize */
    const char* cliName; /* inkrow-print --paper */
    int width;           /* hundredths of a millimetre */
    int length;
} PrintPaperSize;

int PrintDriverCount(void);
const PrintDriver* PrintDriverAt(int index);
/* NULL when no driver has the name. */
const PrintDriver* PrintFindDriver(const char* name);
/* 1 when the driver's inks may print the ink set, else 0. */
int PrintDriverAllowsInkSet(int driverKind, int inkSetId);

int PrintQualityCount(void);
const PrintQualityInfo* PrintQualityAt(int index);
/* NULL for a number that is no PrintQuality. */
const PrintQualityInfo* PrintFindQuality(int quality);
/* The module's quality codes in the order the driver prefers them for the quality;
 * writes 5 codes and returns 5, or 0 for an unknown quality. */
int PrintQualityOrder(int driverKind, int quality, int codes[5]);

int PrintMediaTypeCount(void);
const PrintMediaType* PrintMediaTypeAt(int index);
/* NULL for a keyword the catalogue does not have. */
const PrintMediaType* PrintFindMediaType(const char* ippKeyword);

int PrintPaperSizeCount(void);
const PrintPaperSize* PrintPaperSizeAt(int index);
/* By PWG, PPD or command-line name; NULL when none matches. */
const PrintPaperSize* PrintFindPaperSize(const char* name);
/* Whole pixels that fit on the paper at `resolution` dots per inch. */
void PrintPaperPixels(const PrintPaperSize* paper, int resolution, int* width, int* height);

/* How a job's wishes become a print mode. */
typedef struct PrintModeWish {
    int driver;     /* PrintDriverKind: the inks the printer has */
    int quality;    /* PrintQuality */
    int mediaCode;  /* the module's media code of the wished media type */
    int monochrome; /* 1: print gray (black only where the media allows it) */
    int resolution; /* dots per inch */
} PrintModeWish;

typedef struct PrintModeChoice {
    RenderModeRequest request; /* what the render stage is opened with */
    RenderMode mode;           /* what the module will print with */
    int grayInput;             /* 1: feed gray lines (monochrome through colour inks) */
    char note[400];            /* words on any fallback taken; "" when none */
} PrintModeChoice;

/* Chooses the print mode of a job:
 *   1. the quality codes are tried in the catalogue's order for the quality and driver,
 *      keeping the first pair the module supports whose inks the driver has;
 *   2. monochrome first looks for the black-only configuration (one K plane) in that
 *      order; where the media has none it prints gray through the driver's inks;
 *   3. a media code no quality prints with the driver's inks falls back to plain paper.
 * Every fallback is worded in choice->note. RENDER_OK, RENDER_BAD_ARGUMENT (an unknown
 * driver or quality) or RENDER_UNSUPPORTED_MODE (nothing could be chosen). */
int PrintChooseMode(const PrintModeWish* wish, PrintModeChoice* choice);

/* 1 when some print quality prints the media code with the driver's inks. */
int PrintDriverOffersMedia(int driverKind, int mediaCode);

/* ---- 2. The print loop ---------------------------------------------------------------- */

/* Non-zero once the job is to stop. */
typedef int (*PrintCancelFn)(void* context);

typedef enum PrintEvent {
    PRINT_PAGE_STARTED = 1, /* a page of the range starts printing */
    PRINT_PAGE_DONE = 2,    /* it is whole in the stream */
    PRINT_PAGE_SKIPPED = 3, /* a page outside the page range was read and dropped */
    PRINT_NEW_MODE = 4,     /* a render job starts: the first page, or a page change */
} PrintEvent;

typedef struct PrintProgress {
    int event;        /* PrintEvent */
    int page;         /* the page's number in its copy of the document, from 1 */
    int copy;         /* from 1 */
    int pagesPrinted; /* pages whole in the stream so far */
    int width;        /* the page: pixels a line, lines, RenderColorSpace, dpi */
    int height;
    int colorSpace;
    int resolution;
    uint64_t bytes;         /* stream bytes handed to the write hook so far */
    const RenderMode* mode; /* the print mode of the page (NULL for a skipped page) */
} PrintProgress;

typedef void (*PrintProgressFn)(void* context, const PrintProgress* progress);

typedef struct PrintJobOptions {
    RenderModeRequest mode; /* the job's quality, media and page flags; its resolution is
                               that of pages without their own */
    int halftone;           /* RenderHalftone */
    int firstPage;          /* the page range, from 1; 0: from the first page */
    int lastPage;           /* 0: to the last page */
    int copies;             /* PrintJobPrintFile: collated copies, 1 .. PRINT_MAX_COPIES */
    RenderWriteFn write;    /* the device: receives the stream in order */
    void* writeContext;
    PrintCancelFn cancel; /* may be NULL */
    void* cancelContext;
    PrintProgressFn progress; /* may be NULL */
    void* progressContext;
    /* Colour management (inkrow/render.h): profiles, intent, calibration, calibration
     * mode. The files are read and checked when the job opens; a refusal fails the job
     * before its first page (PrintJobErrorText names the file and the reason). */
    RenderColorOptions color;
} PrintJobOptions;

#define PRINT_MAX_COPIES 1000

/* Defaults: the render stage's mode defaults (quality 10, media 0, 600 dpi), error
 * diffusion, every page, one copy, no hooks (write must be set), no colour management. */
void PrintJobOptionsInit(PrintJobOptions* options);

/* A page whose lines the caller pushes. */
typedef struct PrintPage {
    int width;        /* pixels a line, 1 .. RENDER_MAX_WIDTH */
    int height;       /* lines */
    int colorSpace;   /* RenderColorSpace */
    int resolution;   /* dots per inch; 0: the job's */
    int invert;       /* 1: 255 - each byte (a K raster's ink values) */
    size_t lineBytes; /* width x channels */
} PrintPage;

typedef struct PrintJob PrintJob;

int PrintJobOpen(const PrintJobOptions* options, PrintJob** job);
/* The next page of the document. 1: it prints; 0: it is outside the page range (its
 * lines are taken and dropped); a negative RenderStatus on failure. */
int PrintJobStartPage(PrintJob* job, const PrintPage* page);
/* The print mode of the pages that follow (its resolution is ignored: a page's own, or
 * the job's). A page after a change starts a new render job, as a page change does. */
int PrintJobSetMode(PrintJob* job, const RenderModeRequest* mode);
/* The page's next line, lineBytes bytes. The page appears in the stream with its first
 * line: a page that gets none leaves nothing behind. */
int PrintJobPushLine(PrintJob* job, const uint8_t* line, size_t length);
/* Ends the page: it must have had all its lines, unless the job was cancelled. */
int PrintJobEndPage(PrintJob* job);
/* Every page of an open source, in order (the copy's pages); RENDER_OK at its end. */
int PrintJobPrintSource(PrintJob* job, RenderSource* source);
/* Opens the document at `path` with the source options (their resolution is replaced by
 * the job's) and prints it `copies` times; "the document has no pages" is an error. */
int PrintJobPrintFile(PrintJob* job, const char* path, const RenderSourceOptions* options);
/* Ends the stream (an open page first) and frees the job. RENDER_OK only when the whole
 * stream reached the write hook; RENDER_CANCELED after a cancel. */
int PrintJobClose(PrintJob* job);
/* Ends the stream like PrintJobClose but keeps the job for its error text and counts;
 * PrintJobClose then only frees it. */
int PrintJobFinish(PrintJob* job);
/* Words for the job's failure ("page 2: ..."); "" when none. */
const char* PrintJobErrorText(const PrintJob* job);
int PrintJobPagesPrinted(const PrintJob* job);
uint64_t PrintJobBytesWritten(const PrintJob* job);
/* The print mode of the current render job; NULL before the first printed page. */
const RenderMode* PrintJobMode(const PrintJob* job);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* INKROW_PRINT_H */
