#include "locale_paper.h"

#include <cstring>
#include <string>

namespace inkrow::app {

namespace {

// Territories (ISO 3166 codes) where Letter is the usual paper.
constexpr const char* kLetterTerritories[] = {"US", "CA", "MX", "BZ", "CL", "CO", "CR",
                                              "GT", "NI", "PA", "PH", "PR", "SV", "VE"};

}  // namespace

const char* PaperSizeForLocale(const char* (*getenv)(const char* name)) {
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_PAPER", "LANG"}) {
        const char* value = getenv != nullptr ? getenv(variable) : nullptr;
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    const char* underscore = locale != nullptr ? std::strchr(locale, '_') : nullptr;
    if (underscore != nullptr) {
        const std::string name(underscore + 1, std::strcspn(underscore + 1, ".@"));
        for (const char* territory : kLetterTerritories)
            if (name == territory) return "na_letter_8.5x11in";
    }
    return "iso_a4_210x297mm";
}

}  // namespace inkrow::app
