// What the printer says about itself beyond PAPPL's own attributes: the attributes IPP
// Everywhere clients look for (rendering intents, supplies, password support), each
// with what is true of this application today.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <utility>
#include <vector>

#include "mode_map.h"

namespace inkrow::app {

// What a printer's colour files make it say (color_files.h).
struct ColorAdvert {
    std::vector<std::pair<std::string, std::string>> profiles;  // profile-name, profile-url
    std::string intentDefault = "auto";  // kept when still supported, else "auto"
    bool calibrationModeDefault = false;
};

// The capability attributes PAPPL leaves out, for the driver callback's `attributes`
// and for papplPrinterSetDriverData when the printer's colour files change.
ipp_t* MakePrinterAttributes(const DriverInfo& driver, const ColorAdvert& color = {});

// One "printer-supply" a loaded ink of the printer's driver, level unknown: the printer
// reports no ink levels back.
void SetPrinterSupplies(pappl_printer_t* printer, const DriverInfo& driver);

// A job request that carries a job-password gets it back in the unsupported group (the
// printer has no panel to release such a job at), instead of PAPPL ignoring it silently.
void AnswerJobPassword(pappl_client_t* client);

}  // namespace inkrow::app
