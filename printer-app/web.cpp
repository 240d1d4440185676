#include "web.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "icons.h"
#include "mode_map.h"
#include "output_dirs.h"

namespace inkrow::app {

namespace {

struct PageState {
    bool loopbackOnly = true;
};

PageState pageState;

struct DeviceListing {
    pappl_client_t* client;
    const char* selected;
};

bool PrintDeviceOption(const char* info, const char* uri, const char* id, void* data) {
    auto* listing = static_cast<DeviceListing*>(data);
    papplClientHTMLPrintf(listing->client, "<option value=\"%s|%s\"%s>", uri,
                          id != nullptr ? id : "",
                          std::strcmp(uri, listing->selected) == 0 ? " selected" : "");
    papplClientHTMLEscape(listing->client, info, 0);
    papplClientHTMLPuts(listing->client, "</option>");
    return false;  // go on listing
}

bool PrintDeviceLine(const char* info, const char* uri, const char* id, void* data) {
    (void)data;
    std::printf("%s \"%s\" \"%s\"\n", uri, info, id != nullptr ? id : "");
    return false;
}

void ReportDeviceError(const char* message, void* data) {
    (void)data;
    std::fprintf(stderr, "inkrow-printer-app: %s\n", message);
}

// Why papplPrinterCreate failed, from its errno.
const char* CreateFailure(int error) {
    switch (error) {
        case EEXIST:
            return "A printer with that name already exists.";
        case EIO:
            return "The driver could not be set up for that printer.";
        case EINVAL:
            return "Printer names must start with a letter or underscore and cannot contain "
                   "special characters.";
        default:
            return std::strerror(error);
    }
}

bool AddPrinterPage(pappl_client_t* client, void* data) {
    (void)data;
    if (!papplClientHTMLAuthorize(client)) return true;
    pappl_system_t* system = papplClientGetSystem(client);
    std::string status;
    std::string name;
    std::string driver;
    std::string uri;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t* form = nullptr;
        const int count = papplClientGetForm(client, &form);
        if (count == 0) {
            status = "Invalid form data.";
        } else if (!papplClientIsValidForm(client, count, form)) {
            status = "Invalid form submission.";
        } else {
            const char* value = cupsGetOption("printer_name", count, form);
            name = value != nullptr ? value : "";
            value = cupsGetOption("driver_name", count, form);
            driver = value != nullptr ? value : "";
            value = cupsGetOption("device_uri", count, form);
            std::string device = value != nullptr ? value : "";
            value = cupsGetOption("device_uri_text", count, form);
            if (device.empty() && value != nullptr) device = value;
            std::string id;
            const std::size_t bar = device.find('|');
            if (bar != std::string::npos) {
                id = device.substr(bar + 1);
                device.erase(bar);
            }
            uri = device;
            std::string why;
            if (name.empty()) {
                status = "Please enter a printer name.";
            } else if (FindDriver(driver.c_str()) == nullptr) {
                status = "Please select a driver.";
            } else if (uri.empty()) {
                status = "Please select a device or enter its URI.";
            } else if (!IsAllowedDeviceUri(uri.c_str(), &why)) {
                status = "That device is refused: " + why + ".";
            } else if (!papplDeviceIsSupported(uri.c_str())) {
                status =
                    "That device URI is not supported (use file:///DIRECTORY?ext=prn, "
                    "socket://HOST:9100 or a listed device).";
            } else {
                pappl_printer_t* printer =
                    papplPrinterCreate(system, 0, name.c_str(), driver.c_str(),
                                       id.empty() ? nullptr : id.c_str(), uri.c_str());
                if (printer != nullptr) {
                    char path[256];
                    papplPrinterGetPath(printer, nullptr, path, sizeof path);
                    cupsFreeOptions(count, form);
                    papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
                    return true;
                }
                status = CreateFailure(errno);
            }
        }
        cupsFreeOptions(count, form);
    }

    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return true;
    papplClientHTMLHeader(client, "Add Printer", 0);
    papplClientHTMLPuts(client,
                        "    <div class=\"content\">\n      <div class=\"row\">\n"
                        "        <div class=\"col-12\">\n"
                        "          <h1 class=\"title\">Add Printer</h1>\n");
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client,
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th><label for=\"printer_name\">Name:</label></th>"
                        "<td><input type=\"text\" name=\"printer_name\" id=\"printer_name\" "
                        "placeholder=\"Name of printer\" required value=\"");
    papplClientHTMLEscape(client, name.c_str(), 0);
    papplClientHTMLPuts(client,
                        "\"></td></tr>\n"
                        "              <tr><th><label for=\"device_uri\">Device:</label></th>"
                        "<td><select name=\"device_uri\" id=\"device_uri\">"
                        "<option value=\"\">The device URI below</option>");
    DeviceListing listing{client, uri.c_str()};
    papplDeviceList(DeviceTypesToList(pageState.loopbackOnly), PrintDeviceOption, &listing,
                    papplLogDevice, system);
    papplClientHTMLPuts(client,
                        "</select></td></tr>\n"
                        "              <tr><th><label for=\"device_uri_text\">Device URI:</label>"
                        "</th><td><input type=\"text\" name=\"device_uri_text\" "
                        "id=\"device_uri_text\" placeholder=\"file:///DIRECTORY?ext=prn or "
                        "socket://HOST:9100\" value=\"");
    papplClientHTMLEscape(client, uri.c_str(), 0);
    papplClientHTMLPuts(client,
                        "\"></td></tr>\n"
                        "              <tr><th><label for=\"driver_name\">Driver:</label></th>"
                        "<td><select name=\"driver_name\" id=\"driver_name\">");
    for (int i = 0; i < DriverCount(); ++i) {
        const DriverInfo& info = DriverAt(i);
        papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", info.name,
                              driver == info.name ? " selected" : "", info.description);
    }
    papplClientHTMLPuts(client,
                        "</select></td></tr>\n"
                        "              <tr><th></th><td><input type=\"submit\" "
                        "value=\"Add Printer\"></td></tr>\n"
                        "            </tbody>\n          </table>\n        </form>\n"
                        "        </div>\n      </div>\n    </div>\n");
    papplClientHTMLFooter(client);
    return true;
}

}  // namespace

bool AvahiDaemonRunning() {
    for (const char* path : {"/run/avahi-daemon/socket", "/var/run/avahi-daemon/socket"}) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
        const bool answered =
            connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (answered) return true;
    }
    return false;
}

pappl_devtype_t DeviceTypesToList(bool loopbackOnly) {
    pappl_devtype_t types = PAPPL_DEVTYPE_LOCAL;
    if (AvahiDaemonRunning()) types |= PAPPL_DEVTYPE_DNS_SD;
    if (!loopbackOnly) types |= PAPPL_DEVTYPE_SNMP;
    return types;
}

void AddWebPages(pappl_system_t* system, bool loopbackOnly) {
    pageState.loopbackOnly = loopbackOnly;
    papplSystemAddResourceCallback(system, "/addprinter", "text/html", AddPrinterPage, nullptr);
    AddIconResources(system);
}

int ListDevices() {
    // The sub-command asks for discovery, so the network is searched too; DNS-SD only
    // when it cannot bring the process down.
    papplDeviceList(DeviceTypesToList(false), PrintDeviceLine, nullptr, ReportDeviceError, nullptr);
    return 0;
}

}  // namespace inkrow::app
