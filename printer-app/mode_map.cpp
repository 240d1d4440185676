#include "mode_map.h"

#include <cstdio>
#include <cstring>

namespace inkrow::app {

namespace {

// The black-only configuration applies to the media of the first two table columns;
// the render stage tells which by answering a black-only request with an ink set that
// the black driver prints.
bool DescribesBlackOnly(const RenderModeRequest& request, RenderMode* mode) {
    return RenderDescribeMode(&request, mode) == RENDER_OK &&
           DriverAllowsInkSet(DriverKind::kBlack, mode->inkSetId);
}

RenderModeRequest MakeRequest(int quality, int media, bool blackOnly, int resolution) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.blackOnly = blackOnly ? 1 : 0;
    request.resolution = resolution;
    return request;
}

// The first quality in order that prints the media with the driver's inks.
bool ChooseForMedia(const JobSettings& settings, int media, ModeChoice* choice) {
    int order[5];
    const int count = QualityOrder(settings.driver, settings.quality, order);
    const bool wantBlackOnly = settings.driver == DriverKind::kBlack || settings.monochrome;
    if (wantBlackOnly) {
        for (int i = 0; i < count; ++i) {
            const RenderModeRequest request =
                MakeRequest(order[i], media, true, settings.resolution);
            if (DescribesBlackOnly(request, &choice->mode)) {
                choice->request = request;
                choice->grayInput = true;
                return true;
            }
        }
        // Only a colour driver gets here: the media has no black-only configuration,
        // so gray prints through the colour inks.
        if (settings.driver == DriverKind::kBlack) return false;
    }
    for (int i = 0; i < count; ++i) {
        const RenderModeRequest request = MakeRequest(order[i], media, false, settings.resolution);
        RenderMode mode{};
        if (RenderDescribeMode(&request, &mode) != RENDER_OK) continue;
        if (!DriverAllowsInkSet(settings.driver, mode.inkSetId)) continue;
        choice->request = request;
        choice->mode = mode;
        choice->grayInput = settings.monochrome;
        return true;
    }
    return false;
}

}  // namespace

int DriverCount() {
    return PrintDriverCount();
}

const DriverInfo& DriverAt(int index) {
    return *PrintDriverAt(index);
}

const DriverInfo* FindDriver(const char* name) {
    return name == nullptr ? nullptr : PrintFindDriver(name);
}

const char* QualityName(Quality quality) {
    const PrintQualityInfo* info = PrintFindQuality(static_cast<int>(quality));
    return info != nullptr ? info->ippName : "normal";
}

int MediaTypeCount() {
    return PrintMediaTypeCount();
}

const MediaType& MediaTypeAt(int index) {
    return *PrintMediaTypeAt(index);
}

int MediaCodeOf(const char* keyword, bool* known) {
    const PrintMediaType* type = keyword != nullptr ? PrintFindMediaType(keyword) : nullptr;
    if (known != nullptr) *known = type != nullptr;
    // An empty, missing or unknown keyword prints as the catalogue's first type, plain paper.
    return type != nullptr ? type->mediaCode : PrintMediaTypeAt(0)->mediaCode;
}

bool DriverAllowsInkSet(DriverKind kind, int inkSetId) {
    return PrintDriverAllowsInkSet(kind, inkSetId) != 0;
}

bool DriverSupportsMedia(DriverKind kind, int mediaCode) {
    for (Quality quality : {Quality::kDraft, Quality::kNormal, Quality::kHigh}) {
        JobSettings settings;
        settings.driver = kind;
        settings.quality = quality;
        ModeChoice choice;
        if (ChooseForMedia(settings, mediaCode, &choice)) return true;
    }
    return false;
}

int QualityOrder(DriverKind driver, Quality quality, int codes[5]) {
    if (PrintQualityOrder(driver, static_cast<int>(quality), codes) == 5) return 5;
    return PrintQualityOrder(driver, PRINT_QUALITY_NORMAL, codes);
}

bool ChooseMode(const JobSettings& settings, ModeChoice* choice) {
    *choice = ModeChoice{};
    int media = settings.mediaCode;
    if (!ChooseForMedia(settings, media, choice)) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "media code %d cannot be printed with this driver's inks; printing as "
                      "plain paper (media code 0)",
                      media);
        media = PrintMediaTypeAt(0)->mediaCode;
        if (!ChooseForMedia(settings, media, choice)) return false;
        choice->note = note;
    }
    int order[5];
    QualityOrder(settings.driver, settings.quality, order);
    if (choice->request.qualityCode != order[0]) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "print-quality %s (quality code %d) is not available for media code %d "
                      "with this driver; using quality code %d",
                      QualityName(settings.quality), order[0], media, choice->request.qualityCode);
        if (!choice->note.empty()) choice->note += "; ";
        choice->note += note;
    }
    return true;
}

}  // namespace inkrow::app
