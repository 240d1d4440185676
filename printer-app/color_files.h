// Each printer's colour files: per media type an output ICC profile and a printcal
// calibration, kept in STATE_DIR/color/printer-ID/ as MEDIA-TYPE.icc and MEDIA-TYPE.cal.
//
// They are installed through the printer's "Colour Files" web page (a multipart form,
// PAPPL's form reader) or the `color-files` sub-command (color_command.cpp), which posts
// the same form over the control socket, so one path checks every file: each is copied
// in next to its place, checked there (color_check.h) and only then renamed over the old
// one, so a refused file never replaces a good one. The printer advertises what is
// installed: printer-icc-profiles (each profile served at /PRINTER/color/MEDIA.icc),
// print-rendering-intent-supported (the intents once a profile exists) and its defaults
// for print-rendering-intent and cm-calibration, which are vendor attributes to PAPPL.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "color_check.h"

namespace inkrow::app {

// The job and default attributes PAPPL keeps for the application.
inline constexpr const char* kIntentAttribute = "print-rendering-intent";
inline constexpr const char* kCalibrationModeAttribute = "cm-calibration";

// Where the files live (STATE_DIR/color) and the host name profile URLs use; set once by
// the server before printers are loaded.
void SetColorStorage(const std::string& stateDirectory, bool loopbackOnly);

// The installed file of the printer for the media type; "" when none.
std::string InstalledColorFile(pappl_printer_t* printer, const char* mediaType, ColorFileKind kind);

// The printer's "Colour Files" page and link, and its colour attributes; for every new
// or loaded printer.
void SetUpPrinterColor(pappl_printer_t* printer);

// A job's value of a vendor attribute, else the printer's default; "" when neither.
std::string JobVendorValue(pappl_job_t* job, const pappl_pr_options_t& options, const char* name);

// The `color-files` sub-command (color_command.cpp).
int ColorFilesCommand(int argc, char* argv[], const std::string& controlSocket);

}  // namespace inkrow::app
