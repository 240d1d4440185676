#include "printer_attributes.h"

#include <cstring>
#include <iterator>

namespace inkrow::app {

namespace {

// "auto" is always there: without a profile for the job's media colours go through the
// render stage's separation formula, and with one through the profile's perceptual
// intent with black-point compensation. The four ICC intents ("relative" without
// black-point compensation, "relative-bpc" with it) are offered only while the printer
// has a profile for some media type: without one nothing would tell them apart.
constexpr const char* kRenderingIntents[] = {"auto",         "perceptual", "relative",
                                             "relative-bpc", "saturation", "absolute"};

struct Ink {
    char letter;  // as PrintDriver.inks writes it
    pappl_supply_color_t color;
    const char* description;
};

constexpr Ink kInks[] = {
    {'C', PAPPL_SUPPLY_COLOR_CYAN, "Cyan Ink"},
    {'M', PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Ink"},
    {'Y', PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Ink"},
    {'K', PAPPL_SUPPLY_COLOR_BLACK, "Black Ink"},
    {'c', PAPPL_SUPPLY_COLOR_LIGHT_CYAN, "Light Cyan Ink"},
    {'m', PAPPL_SUPPLY_COLOR_LIGHT_MAGENTA, "Light Magenta Ink"},
    {'k', PAPPL_SUPPLY_COLOR_GRAY, "Light Black Ink"},
};

// "level=-2": unknown, as the printer MIB counts it.
constexpr int kLevelUnknown = -2;

}  // namespace

ipp_t* MakePrinterAttributes(const DriverInfo& driver, const ColorAdvert& color) {
    (void)driver;
    ipp_t* attributes = ippNew();
    // Validate-Job answers no preferred attributes.
    ippAddBoolean(attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    // Pages of a job can be named, but no job attribute is changed for some pages only:
    // the selectors are all there is.
    static const char* const overrides[] = {"document-number", "pages"};
    ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                  "overrides-supported", static_cast<int>(std::size(overrides)), nullptr,
                  overrides);
    const int intents = color.profiles.empty() ? 1 : static_cast<int>(std::size(kRenderingIntents));
    const char* intentDefault = "auto";
    for (int i = 0; i < intents; ++i)
        if (color.intentDefault == kRenderingIntents[i]) intentDefault = kRenderingIntents[i];
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "print-rendering-intent-default", nullptr, intentDefault);
    ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                  "print-rendering-intent-supported", intents, nullptr, kRenderingIntents);
    // Calibration mode: the raw inks, without profile or calibration, to print a target.
    ippAddBoolean(attributes, IPP_TAG_PRINTER, "cm-calibration-supported", 1);
    ippAddBoolean(attributes, IPP_TAG_PRINTER, "cm-calibration-default",
                  color.calibrationModeDefault ? 1 : 0);
    if (!color.profiles.empty()) {
        ipp_attribute_t* list = nullptr;
        for (const auto& [name, url] : color.profiles) {
            ipp_t* profile = ippNew();
            ippAddString(profile, IPP_TAG_ZERO, IPP_TAG_NAME, "profile-name", nullptr,
                         name.c_str());
            ippAddString(profile, IPP_TAG_ZERO, IPP_TAG_URI, "profile-url", nullptr, url.c_str());
            if (list == nullptr)
                list =
                    ippAddCollection(attributes, IPP_TAG_PRINTER, "printer-icc-profiles", profile);
            else
                ippSetCollection(attributes, &list, ippGetCount(list), profile);
            ippDelete(profile);
        }
    }
    // One-sided only: a back side is never printed, so it is never turned either.
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "pwg-raster-document-sheet-back", nullptr, "normal");
    // Encrypted PDF is not opened: no password is taken.
    ippAddInteger(attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "document-password-supported", 0);
    return attributes;
}

void SetPrinterSupplies(pappl_printer_t* printer, const DriverInfo& driver) {
    pappl_supply_t supplies[std::size(kInks)] = {};
    int count = 0;
    for (const Ink& ink : kInks) {
        if (std::strchr(driver.inks, ink.letter) == nullptr) continue;
        pappl_supply_t& supply = supplies[count++];
        supply.color = ink.color;
        papplCopyString(supply.description, ink.description, sizeof supply.description);
        supply.is_consumed = true;
        supply.level = kLevelUnknown;
        supply.type = PAPPL_SUPPLY_TYPE_INK;
    }
    papplPrinterSetSupplies(printer, count, supplies);
}

void AnswerJobPassword(pappl_client_t* client) {
    ipp_t* request = papplClientGetRequest(client);
    if (request == nullptr) return;
    const ipp_op_t operation = ippGetOperation(request);
    if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_CREATE_JOB &&
        operation != IPP_OP_VALIDATE_JOB && operation != IPP_OP_PRINT_URI)
        return;
    ipp_attribute_t* password = ippFindAttribute(request, "job-password", IPP_TAG_ZERO);
    if (password == nullptr) return;
    ipp_t* response = papplClientGetResponse(client);
    if (response == nullptr || ippFindAttribute(response, "job-password", IPP_TAG_ZERO) != nullptr)
        return;
    // The job prints at once: there is no panel where a password could release it.
    papplClientRespondIPP(client, IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
                          "job-password is not supported: the job prints without one.");
    ipp_attribute_t* copy = ippCopyAttribute(response, password, 0);
    ippSetGroupTag(response, &copy, IPP_TAG_UNSUPPORTED_GROUP);
}

}  // namespace inkrow::app
