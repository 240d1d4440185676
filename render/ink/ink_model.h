// The ink model: the colour that inks laid down on the paper make, as an instrument
// would measure it.
//
// Per ink it holds, as data (ink_model.cpp):
//   - its colour at full coverage as CIELAB (D50), the dark inks measured; a light ink as
//     a fraction of its dark ink: at full coverage it prints the colour its dark ink
//     prints at that fraction of coverage (light inks are made to look like a tint of
//     their dark ink, so that the two blend without a hue shift);
//   - its dot gain: a drop spreads into the white around it, so that dots at coverage a
//     placed independently cover a + g * a * (1 - a) of the paper.
// Colours mix by the Yule-Nielsen modified Neugebauer model: every combination of inks
// on a spot of paper (a Neugebauer primary) filters the paper's reflectance by the
// product of the inks' transmittances, in three broad bands (linear sRGB primaries); the
// area weights of the primaries follow from the inks' coverages with the dots placed
// independently (Demichel); the weighted mean is taken over reflectance^(1/n), which
// stands for light scattered in the paper under the dots' edges (optical dot gain).
//
// The simulator applies the same mix per printed pixel and blurs it in the 1/n domain.
#pragma once

#include <cstdint>

namespace inkrow::ink {

struct Lab {
    double l = 0, a = 0, b = 0;
};

// Reflectance in the three bands, 0 .. 1, absolute (the perfect diffuser is 1).
struct Bands {
    double v[3] = {0, 0, 0};
};

inline constexpr int kMaxInks = 8;
// The Yule-Nielsen factor of the paper.
inline constexpr double kYuleNielsen = 1.7;

struct InkData {
    char ink;         // 'C', 'M', 'Y', 'K', 'c', 'm', 'k'
    Lab full;         // colour at full coverage (dark inks); unused for light inks
    char dark;        // light inks: their dark ink; 0 for dark inks
    double fraction;  // light inks: the dark ink's coverage whose colour they print
    double dotGain;   // g in a + g a (1 - a)
};

Lab PaperLab();
Bands PaperBands();
// The ink's data; null for a letter that is no ink.
const InkData* FindInk(char ink);
// The fraction of each band the ink lets through at full coverage.
Bands InkTransmittance(char ink);
// Coverage after dot gain for independently placed dots of nominal coverage a.
double SpreadCoverage(char ink, double coverage);

// A set of inks whose Neugebauer primaries are computed once.
struct InkSet {
    int count = 0;
    char inks[kMaxInks] = {};
    Bands primaries[1 << kMaxInks];      // by bit mask of the inks present; absolute
    Bands rootPrimaries[1 << kMaxInks];  // the same to the power 1 / kYuleNielsen
};
// False for more than kMaxInks inks or an unknown ink.
bool MakeInkSet(const char* inks, int count, InkSet* set);

// The colour of a patch where ink i has nominal coverage coverage[i] (0 .. 1, before
// dot gain), its dots placed independently of the other inks'.
Bands PredictPatch(const InkSet& set, const double* coverage);
// The same without dot gain and in the 1/n domain: the per-pixel mix the simulator
// blurs. Coverage here is the share of the pixel each ink's drop covers.
Bands MixRoot(const InkSet& set, const double* coverage);
Bands FromRoot(const Bands& root);

Lab ToLab(const Bands& bands);
Bands FromLab(const Lab& lab);
// CIE XYZ (D50, Y of the perfect diffuser 1) of a reflectance.
void ToXyz(const Bands& bands, double xyz[3]);
// Encoded sRGB, 0 .. 255, of a reflectance seen as an sRGB display shows it (the paper
// white scaled to display white when relativeToPaper).
void ToSrgb(const Bands& bands, bool relativeToPaper, std::uint8_t rgb[3]);
double DeltaE2000(const Lab& x, const Lab& y);

}  // namespace inkrow::ink
