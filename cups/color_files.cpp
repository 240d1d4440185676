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

// The PPD attribute `name` whose qualifier, dot-separated parts, matches the wanted
// ones, an empty part matching any, the most specific first: the way CUPS looks up its
// cupsICCProfile ("CMYK.Glossy.600dpi", then "CMYK.Glossy.", "CMYK..600dpi", ...).
ppd_attr_t* FindQualified(ppd_file_t* ppd, const char* name, const std::string* wanted, int parts) {
    for (int emptied = 0; emptied < (1 << parts); ++emptied) {
        std::string qualifier;
        for (int i = 0; i < parts; ++i) {
            if (i > 0) qualifier += '.';
            if ((emptied & (1 << (parts - 1 - i))) == 0) qualifier += wanted[i];
        }
        if (ppd_attr_t* attr = ppdFindAttr(ppd, name, qualifier.c_str())) return attr;
    }
    return nullptr;
}

}  // namespace

bool ColorFilesOfJob(ppd_file_t* ppd, int count, cups_option_t* options, ColorFiles* files,
                     std::string* why) {
    *files = ColorFiles{};
    if (ppd != nullptr) {
        const std::string wanted[3] = {Marked(ppd, "ColorModel"), Marked(ppd, "MediaType"),
                                       Marked(ppd, "Resolution")};
        if (ppd_attr_t* attr = FindQualified(ppd, "cupsICCProfile", wanted, 3))
            files->profile = InProfilesFolder(attr->value);
        if (ppd_attr_t* attr = FindQualified(ppd, "inkrowCalibration", &wanted[1], 1))
            files->calibration = InProfilesFolder(attr->value);
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
