#include "color_check.h"

#include <cstring>

namespace inkrow::app {

std::string ColorFileName(const char* mediaType, ColorFileKind kind) {
    return std::string(mediaType) + (kind == ColorFileKind::kProfile ? ".icc" : ".cal");
}

std::string CheckColorFile(DriverKind driver, ColorFileKind kind, const std::string& path,
                           const std::string& shownName) {
    if (kind == ColorFileKind::kProfile && driver == DriverKind::kBlack)
        return "ICC profile " + shownName +
               ": the printer prints black ink only and takes no ICC profile (a calibration "
               "sets its black ink's curve)";
    RenderColorOptions options;
    RenderColorOptionsInit(&options);
    if (kind == ColorFileKind::kProfile)
        options.outputProfile = path.c_str();
    else
        options.calibration = path.c_str();
    RenderColor* color = nullptr;
    char words[512];
    const int status = RenderColorOpen(&options, &color, words, sizeof words);
    RenderColorClose(color);
    if (status == RENDER_OK) return "";
    std::string text = words[0] != '\0' ? words : RenderStatusText(status);
    for (std::size_t at = text.find(path); !path.empty() && at != std::string::npos;
         at = text.find(path, at + shownName.size()))
        text.replace(at, path.size(), shownName);
    return text;
}

bool ApplyRenderingIntent(const char* keyword, RenderColorOptions* options) {
    if (keyword == nullptr || keyword[0] == '\0' || std::strcmp(keyword, "auto") == 0) return true;
    const int intent = RenderIntentFromName(keyword);
    if (intent < 0) return false;
    options->intent = intent;
    options->blackPointCompensation = std::strcmp(keyword, "relative") != 0 ? 1 : 0;
    return true;
}

}  // namespace inkrow::app
