// What a user can choose: drivers, print qualities, media types and paper sizes.
//
// The one list every front end offers. The printer application's drivers and IPP
// attributes, the PPD (cups/inkrow.drv), inkrow-print's options and the READMEs name
// these entries and nothing else; tests/catalog/choices_test.cpp checks each of them
// against this file. Add a media type or a paper size here first.
//
// Drivers (kDrivers)
//   name, description   the PAPPL driver name and its printer-make-and-model
//   kind                PrintDriverKind
//   inks                the ink letters, for listings
//   mediaDefault        the media-type a new printer starts with
//   inkSets             bit n set: the driver's inks print ink set n (ink_sets.h)
//
// Print qualities (kQualities), by their IPP numbers. order is the module's quality
// codes in the order the quality prefers them, nearest first, then finer codes, then
// coarser ones; the sixteen-ink driver's high quality starts at its own mode (code 0).
// A front end takes the first code whose print mode exists for the media and whose ink
// set the driver has.
//
// Media types (kMediaTypes)
//   ippKeyword          IPP media-type
//   ppdChoice, ppdText  the PPD's MediaType choice (none for "other")
//   mediaCode           the module's media code (print_modes.h groups them in columns)
//   drivers             the drivers that offer it: those whose inks print the media's
//                       column at some quality ("other" is always offered and prints as
//                       plain paper)
//   "photographic" is media code 26, the photo paper of the PPD's "Photo" choice: the
//   column whose finest quality is the sixteen-ink mode. Glossy paper (27) keeps its own
//   keyword, photographic-glossy.
//
// Paper sizes (kPaperSizes): the PWG name IPP uses, the PPD name, the command-line name
// and the size in hundredths of a millimetre.
#pragma once

#include <initializer_list>

#include "catalog/ink_sets.h"
#include "inkrow/print.h"

namespace inkrow {

constexpr unsigned InkSetBits(std::initializer_list<InkSet> sets) {
    unsigned bits = 0;
    for (InkSet set : sets)
        bits |= 1u << set;
    return bits;
}

inline constexpr unsigned kBlackInkSets = InkSetBits({kInkSetBlack});
inline constexpr unsigned kCmykInkSets = InkSetBits({kInkSetBlack, kInkSetCmy, kInkSetCmyk});
inline constexpr unsigned kPhotoInkSets =
    InkSetBits({kInkSetBlack, kInkSetCmy, kInkSetCmyk, kInkSetCmyLightK, kInkSetCmykLightK,
                kInkSetCmykLightCm, kInkSetCmyLightCmk, kInkSetSeven});
inline constexpr unsigned kSixteenInkSets = kPhotoInkSets | InkSetBits({kInkSetSixteen});

// clang-format off
inline constexpr PrintDriver kDrivers[PRINT_DRIVER_COUNT] = {
//   name              description                  kind                  inks                     media default              ink sets
    {"inkrow-black",   "inkrow Black (K)",          PRINT_DRIVER_BLACK,   "K",                     "stationery",              kBlackInkSets},
    {"inkrow-cmyk",    "inkrow Color (CMYK)",       PRINT_DRIVER_CMYK,    "CMYK",                  "stationery",              kCmykInkSets},
    {"inkrow-photo",   "inkrow Photo (CMYKcmk)",    PRINT_DRIVER_PHOTO,   "CMYKcmk",               "stationery",              kPhotoInkSets},
    {"inkrow-sixteen", "inkrow Photo Sixteen-Ink",  PRINT_DRIVER_SIXTEEN, "CMYKcmk (16 channels)", "photographic-high-gloss", kSixteenInkSets},
};

inline constexpr PrintQualityInfo kQualities[] = {
//   IPP number            IPP name  PPD choice  order              sixteen-ink order
    {PRINT_QUALITY_DRAFT,  "draft",  "Draft",    {20, 15, 10, 5, 0}, {20, 15, 10, 5, 0}},
    {PRINT_QUALITY_NORMAL, "normal", "Normal",   {10, 5, 0, 15, 20}, {10, 5, 0, 15, 20}},
    {PRINT_QUALITY_HIGH,   "high",   "High",     {5, 0, 10, 15, 20}, {0, 5, 10, 15, 20}},
};

inline constexpr unsigned kBlackPhotoSixteen = PRINT_DRIVER_BIT(PRINT_DRIVER_BLACK) |
    PRINT_DRIVER_BIT(PRINT_DRIVER_PHOTO) | PRINT_DRIVER_BIT(PRINT_DRIVER_SIXTEEN);
inline constexpr unsigned kPhotoSixteen =
    PRINT_DRIVER_BIT(PRINT_DRIVER_PHOTO) | PRINT_DRIVER_BIT(PRINT_DRIVER_SIXTEEN);

inline constexpr PrintMediaType kMediaTypes[] = {
//   IPP media-type             PPD choice      PPD text                   code  drivers
    {"stationery",              "Plain",        "Plain Paper",             0,    PRINT_ALL_DRIVERS},
    {"stationery-inkjet",       "Inkjet",       "Inkjet Paper",            8,    kBlackPhotoSixteen},
    {"photographic-matte",      "Matte",        "Matte Paper",             7,    kBlackPhotoSixteen},
    {"photographic",            "Photo",        "Photo Paper",             26,   kPhotoSixteen},
    {"photographic-glossy",     "Glossy",       "Glossy Paper",            27,   kPhotoSixteen},
    {"photographic-semi-gloss", "SemiGloss",    "Semi-Gloss Photo Paper",  29,   kPhotoSixteen},
    {"photographic-high-gloss", "HighGloss",    "High-Gloss Photo Paper",  26,   kPhotoSixteen},
    {"transparency",            "Transparency", "Transparency Film",       1,    kPhotoSixteen},
    {"other",                   nullptr,        nullptr,                   0,    PRINT_ALL_DRIVERS},
};

inline constexpr PrintPaperSize kPaperSizes[] = {
//   PWG name                  PPD name  CLI name  width  length (1/100 mm)
    {"iso_a4_210x297mm",       "A4",     "a4",     21000, 29700},
    {"na_letter_8.5x11in",     "Letter", "letter", 21590, 27940},
    {"na_index-4x6_4x6in",     "4x6",    "4x6",    10160, 15240},
    {"na_5x7_5x7in",           "5x7",    "5x7",    12700, 17780},
    {"na_govt-letter_8x10in",  "8x10",   "8x10",   20320, 25400},
};
// clang-format on

}  // namespace inkrow
