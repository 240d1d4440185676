// Where PAPPL 1.3 says what is not so of this application, corrected at the libcups
// calls it makes (the application defines them; PAPPL calls them through its symbol
// table, as with ippCreateRequestedArray in request_limits.cpp):
//
// - it claims a "mopria-certified" level nothing here earned: dropped;
// - its "urf-supported" names only the two highest resolutions ("RS360-600"): every
//   resolution the drivers print is listed;
// - it leaves "job-state-reasons" out of a held job's attributes (it lists reasons only
//   up to "warnings-detected", and "job-hold-until-specified" comes after): added;
// - it writes "ipps:" into notifications (notify-printer-uri) also when TLS is off:
//   "ipp:" then;
// - it leaves "notify-subscription-uuid" empty in events: the subscription's UUID;
// - it hands a client's 1-bit raster page to the driver under its own 8-bit header: the
//   client's header of the page being read is kept for the raster callbacks.
#pragma once

#include <cups/raster.h>

namespace inkrow::app {

// Whether the server runs without TLS (set once, before it listens).
void SetTlsOff(bool off);

// The resolutions (dpi) "urf-supported" lists, lowest first; set before any printer.
void SetUrfResolutions(const int* dpi, int count);

// The header of the raster page PAPPL last read on this thread, or null.
const cups_page_header2_t* ClientRasterHeader();

}  // namespace inkrow::app
