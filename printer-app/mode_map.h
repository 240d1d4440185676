// From IPP job settings to the module's print mode.
//
// A driver stands for the inks a printer has loaded. A job asks for a print-quality, a
// media-type and a print-color-mode; this map names them in IPP's words and hands them
// to the print layer's mode choice (PrintChooseMode, inkrow/print.h), which asks the
// render stage (RenderDescribeMode) which pairs exist and which inks each one prints
// with, so that a job never reaches the module with a pair it would refuse or with inks
// the driver does not have.
//
// Nothing here calls PAPPL, so the whole map can be tested and listed on its own.
#pragma once

#include <string>

#include "inkrow/print.h"
#include "inkrow/render.h"

namespace inkrow::app {

// The drivers and media types are the catalogue's (inkrow/print.h).
enum DriverKind : int {
    kBlack = PRINT_DRIVER_BLACK,
    kCmyk = PRINT_DRIVER_CMYK,
    kPhoto = PRINT_DRIVER_PHOTO,
    kSixteen = PRINT_DRIVER_SIXTEEN,
};

using DriverInfo = PrintDriver;

// The drivers the application offers, in listing order.
int DriverCount();
const DriverInfo& DriverAt(int index);
// nullptr when no driver has the name.
const DriverInfo* FindDriver(const char* name);

// The IPP print-quality values.
enum class Quality {
    kDraft = PRINT_QUALITY_DRAFT,
    kNormal = PRINT_QUALITY_NORMAL,
    kHigh = PRINT_QUALITY_HIGH
};
const char* QualityName(Quality quality);

using MediaType = PrintMediaType;

// The media types the map knows, in listing order.
int MediaTypeCount();
const MediaType& MediaTypeAt(int index);
// The media code of a media-type keyword. An empty, missing or unknown keyword is plain
// paper (code 0); *known (when given) says whether the keyword was one of the map's.
int MediaCodeOf(const char* keyword, bool* known);

// Whether the inks of the driver may print the configuration (RenderMode::inkSetId).
bool DriverAllowsInkSet(DriverKind kind, int inkSetId);

// Whether some print-quality prints the media code with the driver's inks in colour.
bool DriverSupportsMedia(DriverKind kind, int mediaCode);

struct JobSettings {
    DriverKind driver = DriverKind::kPhoto;
    Quality quality = Quality::kNormal;
    int mediaCode = 0;
    bool monochrome = false;  // print-color-mode monochrome (after 'auto' is resolved)
    int resolution = 600;     // dots per inch, vertical
};

struct ModeChoice {
    RenderModeRequest request{};  // what the render stage is opened with
    RenderMode mode{};            // what the module will print with
    bool grayInput = false;       // feed gray lines (monochrome through colour inks)
    std::string note;             // words on any fallback taken; empty when none
};

// Chooses the print mode of a job:
//   1. the quality codes are tried in the order the requested print-quality prefers
//      (QualityOrder), keeping the first pair the module supports whose inks the driver
//      has;
//   2. monochrome first looks for the black-only configuration (one K plane) in that
//      order; where the media has none it prints gray through the driver's inks;
//   3. a media code no quality can print with the driver's inks falls back to plain
//      paper (code 0), and the note says so.
// False only when nothing at all could be chosen (no shipped driver gets there).
bool ChooseMode(const JobSettings& settings, ModeChoice* choice);

// The module's quality codes in the order a print-quality prefers them: the nearest
// first, then those of higher quality, then lower. Returns how many were written.
int QualityOrder(DriverKind driver, Quality quality, int codes[5]);

}  // namespace inkrow::app
