// The colour files of a CUPS job: which ICC profile, calibration, rendering intent and
// whether calibration mode, from the job's options and the PPD.
//
// The PPD names profiles the way CUPS does, per colour model, media type and resolution
// (an empty part matches any):
//   *cupsICCProfile CMYK.Glossy./Glossy photo paper: "inkrow-glossy.icc"
// and calibrations per media type with the driver's own keyword:
//   *inkrowCalibration Glossy/Glossy photo paper: "inkrow-glossy.cal"
// A relative file name is in CUPS's profiles folder ($CUPS_DATADIR/profiles, by default
// /usr/share/cups/profiles). The job's options win: inkrow-icc-profile=FILE,
// inkrow-calibration=FILE, print-rendering-intent=perceptual|relative|relative-bpc|
// saturation|absolute, and cm-calibration=true for calibration mode.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <string>

#include "inkrow/render.h"

namespace inkrow::filter {

struct ColorFiles {
    std::string profile;      // "" for none
    std::string calibration;  // "" for none
    int intent = RENDER_INTENT_PERCEPTUAL;
    bool blackPointCompensation = true;
    bool calibrationMode = false;
};

// Fills *files from the PPD (its options marked for the job; may be NULL) and the job's
// options. False with words in *why for an unknown rendering intent.
bool ColorFilesOfJob(ppd_file_t* ppd, int count, cups_option_t* options, ColorFiles* files,
                     std::string* why);

// The render stage's colour options naming the files (valid while *files lives).
void ApplyColorFiles(const ColorFiles& files, RenderColorOptions* options);

}  // namespace inkrow::filter
