#include "color_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "printer_attributes.h"

namespace inkrow::app {

namespace {

struct Storage {
    std::string directory;  // STATE_DIR/color
    bool loopbackOnly = true;
};

Storage storage;

// The most PAPPL reads of a form.
constexpr off_t kMaxFormBytes = 2 * 1024 * 1024;

constexpr const char* kKindWords[2] = {"ICC profile", "calibration"};
constexpr const char* kKindFields[2] = {"profile", "calibration"};

const char* WordsOf(ColorFileKind kind) {
    return kKindWords[static_cast<int>(kind)];
}
const char* FieldOf(ColorFileKind kind) {
    return kKindFields[static_cast<int>(kind)];
}

std::string PrinterDirectory(pappl_printer_t* printer) {
    return storage.directory + "/printer-" + std::to_string(papplPrinterGetID(printer));
}

bool MakePrivateDirectory(const std::string& path) {
    return (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST);
}

// The printer's web path of a profile: /NAME/color/MEDIA.icc.
std::string ProfileResource(pappl_printer_t* printer, const char* mediaType) {
    char path[512];
    papplPrinterGetPath(printer, "color", path, sizeof path);
    return std::string(path) + "/" + ColorFileName(mediaType, ColorFileKind::kProfile);
}

bool DriverOffers(const DriverInfo& driver, const char* mediaType) {
    const PrintMediaType* type = PrintFindMediaType(mediaType);
    return type != nullptr && (type->drivers & PRINT_DRIVER_BIT(driver.kind)) != 0;
}

// Advertises the printer's profiles and intents, serves its profiles, and keeps the
// defaults set so far (papplPrinterSetDriverData makes the attributes anew).
void Advertise(pappl_printer_t* printer) {
    const DriverInfo* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (driver == nullptr) return;
    pappl_system_t* system = papplPrinterGetSystem(printer);
    char host[256] = "localhost";
    if (!storage.loopbackOnly) papplSystemGetHostName(system, host, sizeof host);
    const std::string origin =
        std::string("http://") + host + ":" + std::to_string(papplSystemGetHostPort(system));
    ColorAdvert advert;
    for (int i = 0; i < MediaTypeCount(); ++i) {
        const char* media = MediaTypeAt(i).ippKeyword;
        if (!DriverOffers(*driver, media)) continue;
        const std::string resource = ProfileResource(printer, media);
        const std::string file = InstalledColorFile(printer, media, ColorFileKind::kProfile);
        if (file.empty()) {
            papplSystemRemoveResource(system, resource.c_str());
            continue;
        }
        papplSystemAddResourceFile(system, resource.c_str(), "application/vnd.iccprofile",
                                   file.c_str());
        advert.profiles.emplace_back(media, origin + resource);
    }
    ipp_t* current = papplPrinterGetDriverAttributes(printer);
    if (const char* intent = ippGetString(
            ippFindAttribute(current, "print-rendering-intent-default", IPP_TAG_ZERO), 0, nullptr))
        advert.intentDefault = intent;
    advert.calibrationModeDefault =
        ippGetBoolean(ippFindAttribute(current, "cm-calibration-default", IPP_TAG_BOOLEAN), 0) != 0;
    ippDelete(current);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    ipp_t* attributes = MakePrinterAttributes(*driver, advert);
    if (!papplPrinterSetDriverData(printer, &data, attributes))
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Cannot advertise the colour files.");
    ippDelete(attributes);
}

// Copies `source` in next to the printer's file, checks the copy and renames it into
// place: "" when installed, else why not.
std::string Install(pappl_printer_t* printer, const DriverInfo& driver, const char* mediaType,
                    ColorFileKind kind, const char* source, const std::string& shownName) {
    const std::string directory = PrinterDirectory(printer);
    if (!MakePrivateDirectory(storage.directory) || !MakePrivateDirectory(directory))
        return std::string("cannot create ") + directory + ": " + std::strerror(errno);
    const std::string target = directory + "/" + ColorFileName(mediaType, kind);
    const std::string fresh = target + ".new";
    const int in = open(source, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return shownName + ": cannot be read: " + std::strerror(errno);
    const int out =
        open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        const int error = errno;
        close(in);
        return "cannot create " + fresh + ": " + std::strerror(error);
    }
    std::vector<char> buffer(65536);
    std::string failure;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failure = shownName + ": cannot be read: " + std::strerror(errno);
        if (got <= 0) break;
        if (write(out, buffer.data(), static_cast<std::size_t>(got)) != got) {
            failure = "cannot write " + fresh + ": " + std::strerror(errno != 0 ? errno : ENOSPC);
            break;
        }
    }
    close(in);
    if (close(out) != 0 && failure.empty())
        failure = "cannot write " + fresh + ": " + std::strerror(errno);
    if (failure.empty())
        failure = CheckColorFile(static_cast<DriverKind>(driver.kind), kind, fresh, shownName);
    if (failure.empty() && rename(fresh.c_str(), target.c_str()) != 0)
        failure = "cannot install " + target + ": " + std::strerror(errno);
    if (!failure.empty()) {
        unlink(fresh.c_str());
        return failure;
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Installed the %s of media-type %s from %s.",
                    WordsOf(kind), mediaType, shownName.c_str());
    return "";
}

std::string Remove(pappl_printer_t* printer, const char* mediaType, ColorFileKind kind) {
    const std::string target = PrinterDirectory(printer) + "/" + ColorFileName(mediaType, kind);
    if (unlink(target.c_str()) != 0 && errno != ENOENT)
        return "cannot remove " + target + ": " + std::strerror(errno);
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Removed the %s of media-type %s.", WordsOf(kind),
                    mediaType);
    return "";
}

// A form's file field is a file PAPPL saved from the upload: a plain file of ours in
// the temporary directory. Anything else (a text field naming some path) is refused.
bool IsUpload(const char* path) {
    const char* directory = std::getenv("TMPDIR");
    const std::string folder = std::string(directory != nullptr ? directory : "/tmp") + "/";
    struct stat info {};
    return std::strncmp(path, folder.c_str(), folder.size()) == 0 &&
           std::strchr(path + folder.size(), '/') == nullptr && lstat(path, &info) == 0 &&
           S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

struct PageResult {
    std::vector<std::string> done;     // what was installed or removed
    std::vector<std::string> refused;  // why a file was not
};

// Applies a posted form: a media type, and per kind a file or a removal.
PageResult TakeForm(pappl_printer_t* printer, const DriverInfo& driver, int count,
                    cups_option_t* form) {
    PageResult result;
    const char* media = cupsGetOption("media-type", count, form);
    if (media == nullptr || !DriverOffers(driver, media)) {
        result.refused.push_back(std::string("media-type ") +
                                 (media != nullptr ? media : "(none)") +
                                 " is not one of the printer's media types");
        return result;
    }
    for (const ColorFileKind kind : {ColorFileKind::kProfile, ColorFileKind::kCalibration}) {
        const std::string field = FieldOf(kind);
        const char* removal = cupsGetOption(("remove-" + field).c_str(), count, form);
        const char* upload = cupsGetOption(field.c_str(), count, form);
        std::string why;
        if (removal != nullptr && std::strcmp(removal, "false") != 0) {
            why = Remove(printer, media, kind);
            if (why.empty()) result.done.push_back(std::string("removed the ") + WordsOf(kind));
        } else if (upload != nullptr && upload[0] != '\0') {
            // The file's own name when the sender gives it (the sub-command does).
            const char* named = cupsGetOption((field + "-name").c_str(), count, form);
            const std::string shown = named != nullptr && named[0] != '\0'
                                          ? std::string(named)
                                          : "(uploaded as the " + field + " of " + media + ")";
            why = IsUpload(upload) ? Install(printer, driver, media, kind, upload, shown)
                                   : shown + ": not an uploaded file";
            if (why.empty()) result.done.push_back(std::string("installed the ") + WordsOf(kind));
        }
        if (!why.empty()) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Refused the %s of media-type %s: %s",
                            WordsOf(kind), media, why.c_str());
            result.refused.push_back(why);
        }
    }
    if (!result.done.empty()) Advertise(printer);
    return result;
}

// "MEDIA-TYPE profile|- calibration|-" a line, for the sub-command.
std::string Listing(pappl_printer_t* printer, const DriverInfo& driver) {
    std::string text;
    for (int i = 0; i < MediaTypeCount(); ++i) {
        const char* media = MediaTypeAt(i).ippKeyword;
        if (!DriverOffers(driver, media)) continue;
        text += media;
        for (const ColorFileKind kind : {ColorFileKind::kProfile, ColorFileKind::kCalibration})
            text += InstalledColorFile(printer, media, kind).empty()
                        ? " -"
                        : std::string(" ") + FieldOf(kind);
        text += "\n";
    }
    return text;
}

void RespondText(pappl_client_t* client, http_status_t code, const std::string& text) {
    if (papplClientRespond(client, code, nullptr, "text/plain", 0, text.size()))
        httpWrite2(papplClientGetHTTP(client), text.data(), text.size());
}

bool ColorPage(pappl_client_t* client, void* data) {
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    const DriverInfo* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (driver == nullptr) return false;
    // PAPPL reads at most 2 MB of a form and drops the rest: a larger upload would reach
    // the checks cut short and be refused for the wrong reason.
    const bool tooLarge = papplClientGetMethod(client) == HTTP_STATE_POST &&
                          httpGetLength2(papplClientGetHTTP(client)) >= kMaxFormBytes;
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    const char* reply = cupsGetOption("reply", count, form);
    const bool text = reply != nullptr && std::strcmp(reply, "text") == 0;
    PageResult result;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        if (tooLarge)
            result.refused.push_back("the submission is larger than the 2 MB the page takes");
        else if (count == 0)
            result.refused.push_back("Invalid form data.");
        else if (!papplClientIsValidForm(client, count, form))
            result.refused.push_back("Invalid form submission.");
        else
            result = TakeForm(printer, *driver, count, form);
    }
    cupsFreeOptions(count, form);
    std::string status;
    for (const std::string& line : result.refused)
        status += "Refused: " + line + "\n";
    if (!result.done.empty()) {
        status += "Done:";
        for (const std::string& line : result.done)
            status += " " + line + (&line == &result.done.back() ? "." : ",");
        status += "\n";
    }
    if (text) {
        RespondText(client, result.refused.empty() ? HTTP_STATUS_OK : HTTP_STATUS_BAD_REQUEST,
                    status + Listing(printer, *driver));
        return true;
    }
    // The printer's header answers 200 itself.
    papplClientHTMLPrinterHeader(client, printer, "Colour Files", 0, nullptr, nullptr);
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPuts(client,
                        "<p>Per media type, an output ICC profile (CMYK, printer class) and a "
                        "printcal calibration (.cal). Each file is checked before it replaces "
                        "the one installed; uploads are limited to 2 MB.</p>\n"
                        "<table class=\"list\"><thead><tr><th>Media type</th><th>ICC "
                        "profile</th><th>Calibration</th></tr></thead><tbody>\n");
    char path[512];
    for (int i = 0; i < MediaTypeCount(); ++i) {
        const char* media = MediaTypeAt(i).ippKeyword;
        if (!DriverOffers(*driver, media)) continue;
        papplClientHTMLPrintf(client, "<tr><td>%s</td><td>", media);
        if (InstalledColorFile(printer, media, ColorFileKind::kProfile).empty())
            papplClientHTMLPuts(client, "none");
        else
            papplClientHTMLPrintf(client, "<a href=\"%s\">%s</a>",
                                  ProfileResource(printer, media).c_str(),
                                  ColorFileName(media, ColorFileKind::kProfile).c_str());
        papplClientHTMLPrintf(
            client, "</td><td>%s</td></tr>\n",
            InstalledColorFile(printer, media, ColorFileKind::kCalibration).empty() ? "none"
                                                                                    : "installed");
    }
    papplClientHTMLPuts(client, "</tbody></table>\n");
    papplPrinterGetPath(printer, "color", path, sizeof path);
    papplClientHTMLStartForm(client, path, true);
    papplClientHTMLPuts(client,
                        "<table class=\"form\"><tbody>\n"
                        "<tr><th><label for=\"media-type\">Media type:</label></th><td><select "
                        "name=\"media-type\" id=\"media-type\">");
    for (int i = 0; i < MediaTypeCount(); ++i) {
        const char* media = MediaTypeAt(i).ippKeyword;
        if (DriverOffers(*driver, media))
            papplClientHTMLPrintf(client, "<option value=\"%s\">%s</option>", media, media);
    }
    papplClientHTMLPuts(
        client,
        "</select></td></tr>\n"
        "<tr><th><label for=\"profile\">ICC profile:</label></th><td><input type=\"file\" "
        "name=\"profile\" id=\"profile\" accept=\".icc,.icm\"> <label><input type=\"checkbox\" "
        "name=\"remove-profile\"> remove</label></td></tr>\n"
        "<tr><th><label for=\"calibration\">Calibration:</label></th><td><input type=\"file\" "
        "name=\"calibration\" id=\"calibration\" accept=\".cal\"> <label><input "
        "type=\"checkbox\" name=\"remove-calibration\"> remove</label></td></tr>\n"
        "<tr><th></th><td><input type=\"submit\" value=\"Install\"></td></tr>\n"
        "</tbody></table></form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void SetColorStorage(const std::string& stateDirectory, bool loopbackOnly) {
    storage.directory = stateDirectory + "/color";
    storage.loopbackOnly = loopbackOnly;
}

std::string InstalledColorFile(pappl_printer_t* printer, const char* mediaType,
                               ColorFileKind kind) {
    if (storage.directory.empty() || mediaType == nullptr || mediaType[0] == '\0' ||
        PrintFindMediaType(mediaType) == nullptr)
        return "";
    const std::string path = PrinterDirectory(printer) + "/" + ColorFileName(mediaType, kind);
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? path : "";
}

void SetUpPrinterColor(pappl_printer_t* printer) {
    char path[512];
    papplPrinterGetPath(printer, "color", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", ColorPage,
                                   printer);
    papplPrinterAddLink(
        printer, "Colour Files", path,
        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
    Advertise(printer);
}

std::string JobVendorValue(pappl_job_t* job, const pappl_pr_options_t& options, const char* name) {
    if (const char* value = cupsGetOption(name, options.num_vendor, options.vendor)) return value;
    ipp_t* defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    char value[256] = "";
    ipp_attribute_t* found =
        ippFindAttribute(defaults, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO);
    if (found != nullptr) ippAttributeString(found, value, sizeof value);
    ippDelete(defaults);
    return value;
}

}  // namespace inkrow::app
