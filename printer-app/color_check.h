// Which colour files may serve a printer, and how a job's rendering intent reads.
//
// A printer keeps, per media type, an output ICC profile and a printcal calibration
// (color_files.h stores them). Whether a file may serve is decided here, with the render
// stage's own reading of the files (RenderColorOpen) plus the one thing only the
// application knows: the printer's inks. Nothing here calls PAPPL, so it is tested on
// its own.
#pragma once

#include <string>

#include "inkrow/render.h"
#include "mode_map.h"

namespace inkrow::app {

enum class ColorFileKind { kProfile, kCalibration };

// The file's name in a printer's colour directory: "MEDIA-TYPE.icc" or "MEDIA-TYPE.cal".
std::string ColorFileName(const char* mediaType, ColorFileKind kind);

// "" when the file at `path` may serve a printer of the driver as the kind of file;
// else why not, with `shownName` in place of the path (an upload's temporary file means
// nothing to the user).
//
// A profile matches the inks when it is a CMYK output (printer) profile: every colour
// driver prints from four process amounts, C, M, Y and K, whose light inks are split off
// their dark ones after the profile, so one four-channel profile describes them all. The
// black driver prints K alone and takes no profile: a CMYK one would describe three inks
// it does not have. A calibration is read as the render stage reads it (CAL, COLOR_REP
// CMYK); the black driver uses its K curve and ink limit.
std::string CheckColorFile(DriverKind driver, ColorFileKind kind, const std::string& path,
                           const std::string& shownName);

// Sets the intent and black-point compensation of a print-rendering-intent keyword:
// "auto" (or none) keeps the render stage's defaults (perceptual with black-point
// compensation), "relative" is relative colorimetric without and "relative-bpc" with it,
// "perceptual", "saturation" and "absolute" keep it on. False for another keyword.
bool ApplyRenderingIntent(const char* keyword, RenderColorOptions* options);

}  // namespace inkrow::app
