#include "mode_map.h"

#include <cstdio>
#include <cstring>

namespace inkrow::app {

namespace {

constexpr DriverInfo kDrivers[] = {
    {"inkrow-black", "inkrow Black (K)", DriverKind::kBlack, "K", "stationery"},
    {"inkrow-cmyk", "inkrow Color (CMYK)", DriverKind::kCmyk, "CMYK", "stationery"},
    {"inkrow-photo", "inkrow Photo (CMYKcmk)", DriverKind::kPhoto, "CMYKcmk", "stationery"},
    {"inkrow-sixteen", "inkrow Photo Sixteen-Ink", DriverKind::kSixteen, "CMYKcmk (16 channels)",
     "photographic-high-gloss"},
};

// The keywords a user meets in print dialogs, each on the module's media code of the
// paper it names. Codes of one table column print alike.
constexpr MediaType kMediaTypes[] = {
    {"stationery", 0},                // plain paper
    {"stationery-inkjet", 8},         // coated inkjet paper: the matte column
    {"photographic-matte", 7},        // matte photo paper
    {"photographic", 27},             // photo paper: glossy
    {"photographic-glossy", 27},      // glossy photo paper
    {"photographic-semi-gloss", 29},  // semi-gloss photo paper
    {"photographic-high-gloss", 26},  // premium glossy: the sixteen-ink column
    {"transparency", 1},              // transparency film
    {"other", 0},                     // anything else prints as plain paper
};

constexpr int kInkSetBlack = 1;
constexpr int kInkSetSixteen = 9;

// The black-only configuration applies to the media of the first two table columns;
// the render stage tells which by answering a black-only request with ink set 1.
bool DescribesBlackOnly(const RenderModeRequest& request, RenderMode* mode) {
    return RenderDescribeMode(&request, mode) == RENDER_OK && mode->inkSetId == kInkSetBlack;
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
    return static_cast<int>(sizeof kDrivers / sizeof kDrivers[0]);
}

const DriverInfo& DriverAt(int index) {
    return kDrivers[index];
}

const DriverInfo* FindDriver(const char* name) {
    if (name == nullptr) return nullptr;
    for (const DriverInfo& driver : kDrivers)
        if (std::strcmp(driver.name, name) == 0) return &driver;
    return nullptr;
}

const char* QualityName(Quality quality) {
    switch (quality) {
        case Quality::kDraft:
            return "draft";
        case Quality::kHigh:
            return "high";
        case Quality::kNormal:
            break;
    }
    return "normal";
}

int MediaTypeCount() {
    return static_cast<int>(sizeof kMediaTypes / sizeof kMediaTypes[0]);
}

const MediaType& MediaTypeAt(int index) {
    return kMediaTypes[index];
}

int MediaCodeOf(const char* keyword, bool* known) {
    if (known != nullptr) *known = false;
    if (keyword == nullptr || *keyword == '\0') return 0;
    for (const MediaType& type : kMediaTypes) {
        if (std::strcmp(type.keyword, keyword) == 0) {
            if (known != nullptr) *known = true;
            return type.mediaCode;
        }
    }
    return 0;
}

bool DriverAllowsInkSet(DriverKind kind, int inkSetId) {
    switch (kind) {
        case DriverKind::kBlack:
            return inkSetId == kInkSetBlack;
        case DriverKind::kCmyk:
            return inkSetId >= 1 && inkSetId <= 3;  // K, CMY, CMYK
        case DriverKind::kPhoto:
            return inkSetId >= 1 && inkSetId < kInkSetSixteen;
        case DriverKind::kSixteen:
            return inkSetId >= 1 && inkSetId <= kInkSetSixteen;
    }
    return false;
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
    // Lower codes print finer and slower. Each order starts at the requested quality,
    // moves towards finer codes first (a job asked for at least this quality) and
    // only then to coarser ones.
    static constexpr int kDraft[5] = {20, 15, 10, 5, 0};
    static constexpr int kNormal[5] = {10, 5, 0, 15, 20};
    static constexpr int kHigh[5] = {5, 0, 10, 15, 20};
    static constexpr int kHighSixteen[5] = {0, 5, 10, 15, 20};
    const int* order = kNormal;
    if (quality == Quality::kDraft) order = kDraft;
    if (quality == Quality::kHigh) order = driver == DriverKind::kSixteen ? kHighSixteen : kHigh;
    for (int i = 0; i < 5; ++i)
        codes[i] = order[i];
    return 5;
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
        media = 0;
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
