// The application's own pages and device discovery.
//
// PAPPL 1.3.1 aborts the whole process when it browses DNS-SD while no avahi-daemon is
// running (it hands a null client to avahi_service_browser_new), and its "Add Printer"
// page browses every kind of device: DNS-SD, and SNMP broadcasts on every network. The
// application therefore serves its own "Add Printer" page, which asks only for the kinds
// of devices that are safe to look for (DeviceTypesToList), and lists devices for the
// "devices" sub-command the same way.
#pragma once

#include <pappl/pappl.h>

namespace inkrow::app {

// Whether an avahi-daemon answers on its socket.
bool AvahiDaemonRunning();

// Local devices (USB), DNS-SD printers when the avahi-daemon runs, and SNMP printers
// only when the server is reachable from the network as well.
pappl_devtype_t DeviceTypesToList(bool loopbackOnly);

// Registers the application's "Add Printer" page at /addprinter and its icons (icons.h);
// call before the system runs, so that they take the place of PAPPL's.
void AddWebPages(pappl_system_t* system, bool loopbackOnly);

// The "devices" sub-command: prints "URI" "description" "device id" per device found.
int ListDevices();

}  // namespace inkrow::app
