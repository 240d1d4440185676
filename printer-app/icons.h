// The application's own icons: drawn in icons/inkrow-printer-app.svg, rendered at build
// time to the three sizes PAPPL serves (printer-icons, the web interface), and compiled
// into the program.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

namespace inkrow::app {

struct IconImage {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// The PNG of one size: 0 is 48x48, 1 is 128x128, 2 is 512x512 (the order of the driver
// data's icons); an empty image for any other index.
IconImage AppIcon(int index);

// A printer's icons (printer-icons and its web pages), in place of PAPPL's.
void SetPrinterIcons(pappl_pr_driver_data_t* data);

// The web interface's favicon and navigation bar icon; call before the system runs, so
// that they take the place of PAPPL's.
void AddIconResources(pappl_system_t* system);

}  // namespace inkrow::app
