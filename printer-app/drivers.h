// The printer drivers PAPPL offers: one per ink configuration (mode_map.h), each filled
// in by the driver callback with its media, resolutions, colour modes and the raster
// callbacks of job_render.h.
#pragma once

#include <pappl/pappl.h>

#include <vector>

namespace inkrow::app {

// The driver list for papplSystemSetPrinterDrivers; the strings are static.
std::vector<pappl_pr_driver_t> MakeDriverList();

// pappl_pr_driver_cb_t
bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes,
                    void* context);

// pappl_pr_create_cb_t: settings of a new printer (DNS-SD off when only on loopback).
void PrinterCreated(pappl_printer_t* printer, void* context);

// Whether new and loaded printers keep their DNS-SD names (off for a loopback server,
// which nobody else can reach).
void SetAdvertisePrinters(bool advertise);
bool AdvertisePrinters();

}  // namespace inkrow::app
