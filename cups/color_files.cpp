#include "color_files.h"

// libcups marks its whole PPD interface deprecated; it is still how a filter reads a PPD.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cstdlib>
#include <cstring>

namespace inkrow::filter {
namespace {

// The marked choice of a PPD option; "" when the PPD has no such option.
std::string Marked(ppd_file_t* ppd, const char* option) {
    const ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
    return choice != nullptr ? choice->choice : "";
}

std::string InProfilesFolder(const char* name) {
    if (name == nullptr || name[0] == '\0') return "";
    if (name[0] == '/') return name;
    const char* data = std::getenv("CUPS_DATADIR");
    return std::string(data != nullptr ? data : "/usr/share/cups") + "/profiles/" + name;
}

// A PPD attribute's qualifier, its dot-separated parts against the wanted ones; an
// empty part matches any.
bool QualifierMatches(const char* qualifier, const std::string* wanted, int parts) {
    std::string rest = qualifier != nullptr ? qualifier : "";
    for (int i = 0; i < parts; ++i) {
        const std::size_t dot = rest.find('.');
        const std::string part = rest.substr(0, dot);
        if (!part.empty() && part != wanted[i]) return false;
        rest = dot == std::string::npos ? "" : rest.substr(dot + 1);
    }
    return true;
}

}  // namespace

bool ColorFilesOfJob(ppd_file_t* ppd, int count, cups_option_t* options, ColorFiles* files,
                     std::string* why) {
    *files = ColorFiles{};
    if (ppd != nullptr) {
        const std::string wanted[3] = {Marked(ppd, "ColorModel"), Marked(ppd, "MediaType"),
                                       Marked(ppd, "Resolution")};
        for (ppd_attr_t* attr = ppdFindAttr(ppd, "cupsICCProfile", nullptr); attr != nullptr;
             attr = ppdFindNextAttr(ppd, "cupsICCProfile", nullptr)) {
            if (QualifierMatches(attr->spec, wanted, 3)) {
                files->profile = InProfilesFolder(attr->value);
                break;
            }
        }
        for (ppd_attr_t* attr = ppdFindAttr(ppd, "inkrowCalibration", nullptr); attr != nullptr;
             attr = ppdFindNextAttr(ppd, "inkrowCalibration", nullptr)) {
            if (QualifierMatches(attr->spec, &wanted[1], 1)) {
                files->calibration = InProfilesFolder(attr->value);
                break;
            }
        }
    }
    if (const char* profile = cupsGetOption("inkrow-icc-profile", count, options))
        files->profile = InProfilesFolder(profile);
    if (const char* calibration = cupsGetOption("inkrow-calibration", count, options))
        files->calibration = InProfilesFolder(calibration);
    if (const char* intent = cupsGetOption("print-rendering-intent", count, options)) {
        if (std::strcmp(intent, "auto") != 0) {
            files->intent = RenderIntentFromName(intent);
            if (files->intent < 0) {
                *why = std::string("print-rendering-intent ") + intent +
                       " is not perceptual, relative, relative-bpc, saturation or absolute";
                return false;
            }
            // relative-bpc asks for black-point compensation; plain relative does not.
            files->blackPointCompensation = std::strcmp(intent, "relative") != 0;
        }
    }
    if (const char* mode = cupsGetOption("cm-calibration", count, options))
        files->calibrationMode = std::strcmp(mode, "true") == 0 || std::strcmp(mode, "on") == 0;
    return true;
}

void ApplyColorFiles(const ColorFiles& files, RenderColorOptions* options) {
    RenderColorOptionsInit(options);
    options->outputProfile = files.profile.empty() ? nullptr : files.profile.c_str();
    options->calibration = files.calibration.empty() ? nullptr : files.calibration.c_str();
    options->intent = files.intent;
    options->blackPointCompensation = files.blackPointCompensation ? 1 : 0;
    options->calibrationMode = files.calibrationMode ? 1 : 0;
}

}  // namespace inkrow::filter
