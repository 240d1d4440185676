/*
 * inkrow print layer: what a user can choose, and how a choice becomes a print mode.
 *
 * Every front end (the printer application, the CUPS filter, inkrow-print) offers the
 * same drivers, media types, paper sizes and print qualities, read from one catalogue.
 * The PPD, the IPP attributes and the command line name its entries; a test checks each
 * of them against it.
 *
 *     for (int i = 0; i < PrintMediaTypeCount(); ++i) {
 *         const PrintMediaType* type = PrintMediaTypeAt(i);
 *         ... type->ippKeyword, type->ppdChoice, type->mediaCode
 *     }
 *
 * Records are constant and live as long as the program. No global state.
 */
#ifndef INKROW_PRINT_H
#define INKROW_PRINT_H

#include "inkrow/render.h"

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

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* INKROW_PRINT_H */
