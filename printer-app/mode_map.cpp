#include "mode_map.h"

namespace inkrow::app {

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
    return PrintDriverOffersMedia(kind, mediaCode) != 0;
}

int QualityOrder(DriverKind driver, Quality quality, int codes[5]) {
    if (PrintQualityOrder(driver, static_cast<int>(quality), codes) == 5) return 5;
    return PrintQualityOrder(driver, PRINT_QUALITY_NORMAL, codes);
}

bool ChooseMode(const JobSettings& settings, ModeChoice* choice) {
    *choice = ModeChoice{};
    PrintModeWish wish{};
    wish.driver = settings.driver;
    wish.quality = static_cast<int>(settings.quality);
    wish.mediaCode = settings.mediaCode;
    wish.monochrome = settings.monochrome ? 1 : 0;
    wish.resolution = settings.resolution;
    PrintModeChoice chosen;
    if (PrintChooseMode(&wish, &chosen) != RENDER_OK) return false;
    choice->request = chosen.request;
    choice->mode = chosen.mode;
    choice->grayInput = chosen.grayInput != 0;
    choice->note = chosen.note;
    return true;
}

}  // namespace inkrow::app
