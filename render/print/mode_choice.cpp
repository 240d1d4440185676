// The print layer's mode choice (PrintChooseMode in inkrow/print.h): from a driver, a
// print quality, a media code and a colour mode to the module's quality and media codes
// and page flags, by the catalogue's quality orders and the drivers' ink sets, asking
// the render stage (RenderDescribeMode) which pairs exist.
#include <cstdio>
#include <string>

#include "inkrow/print.h"

namespace {

RenderModeRequest MakeRequest(int quality, int media, bool blackOnly, int resolution) {
    RenderModeRequest request{};
    request.qualityCode = quality;
    request.mediaCode = media;
    request.blackOnly = blackOnly ? 1 : 0;
    request.resolution = resolution;
    return request;
}

// The black-only configuration applies to the media of the first two table columns;
// the render stage tells which by answering a black-only request with an ink set that
// the black driver prints.
bool DescribesBlackOnly(const RenderModeRequest& request, RenderMode* mode) {
    return RenderDescribeMode(&request, mode) == RENDER_OK &&
           PrintDriverAllowsInkSet(PRINT_DRIVER_BLACK, mode->inkSetId) != 0;
}

// The first quality in order that prints the media with the driver's inks.
bool ChooseForMedia(const PrintModeWish& wish, int media, PrintModeChoice* choice) {
    int order[5];
    if (PrintQualityOrder(wish.driver, wish.quality, order) != 5) return false;
    const bool wantBlackOnly = wish.driver == PRINT_DRIVER_BLACK || wish.monochrome != 0;
    if (wantBlackOnly) {
        for (int code : order) {
            const RenderModeRequest request = MakeRequest(code, media, true, wish.resolution);
            if (DescribesBlackOnly(request, &choice->mode)) {
                choice->request = request;
                choice->grayInput = 1;
                return true;
            }
        }
        // Only a colour driver gets here: the media has no black-only configuration,
        // so gray prints through the colour inks.
        if (wish.driver == PRINT_DRIVER_BLACK) return false;
    }
    for (int code : order) {
        const RenderModeRequest request = MakeRequest(code, media, false, wish.resolution);
        RenderMode mode{};
        if (RenderDescribeMode(&request, &mode) != RENDER_OK) continue;
        if (PrintDriverAllowsInkSet(wish.driver, mode.inkSetId) == 0) continue;
        choice->request = request;
        choice->mode = mode;
        choice->grayInput = wish.monochrome != 0 ? 1 : 0;
        return true;
    }
    return false;
}

void AddNote(PrintModeChoice* choice, const char* text) {
    const std::size_t used = std::char_traits<char>::length(choice->note);
    std::snprintf(choice->note + used, sizeof choice->note - used, "%s%s", used != 0 ? "; " : "",
                  text);
}

}  // namespace

extern "C" {

int PrintChooseMode(const PrintModeWish* wish, PrintModeChoice* choice) {
    if (wish == nullptr || choice == nullptr) return RENDER_BAD_ARGUMENT;
    *choice = PrintModeChoice{};
    const PrintQualityInfo* quality = PrintFindQuality(wish->quality);
    if (PrintDriverAt(wish->driver) == nullptr || quality == nullptr) return RENDER_BAD_ARGUMENT;
    int media = wish->mediaCode;
    if (!ChooseForMedia(*wish, media, choice)) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "media code %d cannot be printed with this driver's inks; printing as "
                      "plain paper (media code %d)",
                      media, PrintMediaTypeAt(0)->mediaCode);
        media = PrintMediaTypeAt(0)->mediaCode;
        if (!ChooseForMedia(*wish, media, choice)) return RENDER_UNSUPPORTED_MODE;
        AddNote(choice, note);
    }
    int order[5];
    PrintQualityOrder(wish->driver, wish->quality, order);
    if (choice->request.qualityCode != order[0]) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "print-quality %s (quality code %d) is not available for media code %d "
                      "with this driver; using quality code %d",
                      quality->ippName, order[0], media, choice->request.qualityCode);
        AddNote(choice, note);
    }
    return RENDER_OK;
}

int PrintDriverOffersMedia(int driverKind, int mediaCode) {
    for (int i = 0; i < PrintQualityCount(); ++i) {
        PrintModeWish wish{};
        wish.driver = driverKind;
        wish.quality = PrintQualityAt(i)->quality;
        wish.mediaCode = mediaCode;
        wish.resolution = 600;
        PrintModeChoice choice;
        if (ChooseForMedia(wish, mediaCode, &choice)) return 1;
    }
    return 0;
}

}  // extern "C"
