#include "icons.h"

namespace inkrow::app {

void SetPrinterIcons(pappl_pr_driver_data_t* data) {
    for (int i = 0; i < 3; ++i) {
        const IconImage icon = AppIcon(i);
        data->icons[i].filename[0] = '\0';
        data->icons[i].data = icon.data;
        data->icons[i].datalen = icon.size;
    }
}

void AddIconResources(pappl_system_t* system) {
    // PAPPL adds its own under the same paths when the system starts, unless one is there.
    const IconImage medium = AppIcon(1);
    const IconImage small = AppIcon(0);
    papplSystemAddResourceData(system, "/favicon.png", "image/png", medium.data, medium.size);
    papplSystemAddResourceData(system, "/navicon.png", "image/png", small.data, small.size);
}

}  // namespace inkrow::app
