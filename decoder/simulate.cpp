#include "simulate.h"

#include <fftw3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <unordered_map>

namespace inkrow::decode {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Pictures beyond this many pixels are refused; a larger scale shrinks them.
constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 25;
// Näsänen's constants and the adapting luminance.
constexpr double kNasanenC = 0.525;
constexpr double kNasanenD = 3.91;
constexpr double kAdaptingLuminance = 11.0;

// How the printer planes add up to inks.
struct InkPlanes {
    ink::InkSet set;
    std::vector<int> slot;      // per plane, its ink in `set`
    std::vector<double> share;  // per plane, the coverage one level adds
};

InkPlanes GroupInkPlanes(std::span<const PictureInk> inks) {
    InkPlanes planes;
    char letters[ink::kMaxInks] = {};
    int count = 0;
    int planesOf[ink::kMaxInks] = {};
    for (const PictureInk& picture : inks) {
        const char letter = InkLetterOf(picture.code);
        int s = 0;
        while (s < count && letters[s] != letter)
            ++s;
        if (s == count && count < ink::kMaxInks) letters[count++] = letter;
        s = std::min(s, ink::kMaxInks - 1);
        planes.slot.push_back(s);
        planesOf[s] += 1;
    }
    ink::MakeInkSet(letters, count, &planes.set);
    for (std::size_t i = 0; i < inks.size(); ++i) {
        const PixelFormat format = inks[i].format;
        const int top = format.baseThree ? 2 : (1 << format.bitsPerPixel) - 1;
        planes.share.push_back(1.0 / (top * planesOf[planes.slot[i]]));
    }
    return planes;
}

// The 1/n-domain colour of a pixel's coverages, kept per combination met, as pages repeat
// a few. Coverage goes in steps of 1/1023 for up to six inks, 1/511 for seven or eight,
// so that a key holds them all.
struct MixCache {
    const ink::InkSet* set = nullptr;
    std::unordered_map<std::uint64_t, ink::Bands> colours;

    const ink::Bands& Mix(const double* coverage) {
        const int bits = set->count <= 6 ? 10 : 9;
        const double top = static_cast<double>((1 << bits) - 1);
        std::uint64_t key = 0;
        double steps[ink::kMaxInks] = {};
        for (int s = 0; s < set->count; ++s) {
            const auto step = static_cast<std::uint64_t>(std::lround(coverage[s] * top));
            steps[s] = static_cast<double>(step) / top;
            key = (key << bits) | step;
        }
        auto found = colours.find(key);
        if (found != colours.end()) return found->second;
        return colours.emplace(key, ink::MixRoot(*set, steps)).first->second;
    }
};

// Reads line y of every plane into per-ink coverage (width entries per ink).
void ReadCoverage(std::span<const PictureInk> inks, const InkPlanes& planes, std::uint32_t y,
                  std::uint32_t width, std::vector<std::uint8_t>* levels, double* coverage) {
    std::fill(coverage, coverage + std::size_t{width} * ink::kMaxInks, 0.0);
    std::uint64_t invalid = 0;
    for (std::size_t i = 0; i < inks.size(); ++i) {
        if (inks[i].raster == nullptr) continue;
        ExpandRasterLine(*inks[i].raster, inks[i].format, y, width, levels->data(), &invalid);
        double* row = coverage + std::size_t{width} * static_cast<std::size_t>(planes.slot[i]);
        for (std::uint32_t x = 0; x < width; ++x)
            row[x] += (*levels)[x] * planes.share[i];
    }
    for (std::size_t i = 0; i < std::size_t{width} * ink::kMaxInks; ++i)
        coverage[i] = std::min(1.0, coverage[i]);
}

}  // namespace

double PixelPitchDegrees(double dotsPerInch, double viewingDistanceMm) {
    return std::atan(25.4 / dotsPerInch / viewingDistanceMm) * 180.0 / kPi;
}

void FilterForEye(std::vector<double>* picture, std::uint32_t width, std::uint32_t height,
                  double pitchDegrees) {
    if (width == 0 || height == 0) return;
    // Padded by a quarter on each side with the mean, so that the filter's wide tail
    // does not wrap one edge onto the other.
    double mean = 0.0;
    for (double v : *picture)
        mean += v;
    mean /= static_cast<double>(picture->size());
    const int padX = static_cast<int>(width / 4 + 8);
    const int padY = static_cast<int>(height / 4 + 8);
    const int w = static_cast<int>(width) + 2 * padX;
    const int h = static_cast<int>(height) + 2 * padY;
    const int half = w / 2 + 1;
    double* space = fftw_alloc_real(static_cast<std::size_t>(w) * h);
    fftw_complex* frequency = fftw_alloc_complex(static_cast<std::size_t>(half) * h);
    fftw_plan forward = fftw_plan_dft_r2c_2d(h, w, space, frequency, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_c2r_2d(h, w, frequency, space, FFTW_ESTIMATE);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int px = x - padX;
            const int py = y - padY;
            const bool inside =
                px >= 0 && py >= 0 && px < static_cast<int>(width) && py < static_cast<int>(height);
            space[static_cast<std::size_t>(y) * w + x] =
                inside ? (*picture)[static_cast<std::size_t>(py) * width +
                                    static_cast<std::size_t>(px)] -
                             mean
                       : 0.0;
        }
    }
    fftw_execute(forward);
    const double f0 = kNasanenC * std::log(kAdaptingLuminance) + kNasanenD;
    const double norm = 1.0 / (static_cast<double>(w) * h);
    for (int v = 0; v < h; ++v) {
        const double fy = (v <= h / 2 ? v : v - h) / static_cast<double>(h);
        for (int u = 0; u < half; ++u) {
            const double fx = u / static_cast<double>(w);
            // Cycles per pixel to cycles per degree.
            const double f = std::hypot(fx, fy) / pitchDegrees;
            const double gain = std::exp(-f / f0) * norm;
            fftw_complex& c = frequency[static_cast<std::size_t>(v) * half + u];
            c[0] *= gain;
            c[1] *= gain;
        }
    }
    fftw_execute(backward);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            (*picture)[std::size_t{y} * width + x] =
                space[(static_cast<std::size_t>(y) + padY) * w + x + padX] + mean;
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(space);
    fftw_free(frequency);
}

bool SimulatePage(std::span<const PictureInk> inks, std::uint32_t width, std::uint32_t height,
                  std::span<const PatchRect> patches, const SimulateOptions& options,
                  Simulation* simulation, std::string* message, SimulateProgress progress,
                  void* progressContext) {
    *simulation = Simulation{};
    const int scale = std::max(1, options.scale);
    if (width == 0 || height == 0) {
        *message = "the page is empty";
        return false;
    }
    const std::uint32_t outWidth = (width + scale - 1) / scale;
    const std::uint32_t outHeight = (height + scale - 1) / scale;
    if (std::uint64_t{outWidth} * outHeight > kMaxPicturePixels) {
        *message = "the picture of " + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels is too large; choose a larger scale";
        return false;
    }
    for (const PatchRect& patch : patches) {
        if (patch.x0 < 0 || patch.y0 < 0 || patch.x1 <= patch.x0 || patch.y1 <= patch.y0 ||
            static_cast<std::uint32_t>(patch.x1) > width ||
            static_cast<std::uint32_t>(patch.y1) > height) {
            *message = "patch " + patch.id + " is empty or outside the page of " +
                       std::to_string(width) + " x " + std::to_string(height) + " pixels";
            return false;
        }
    }
    const InkPlanes planes = GroupInkPlanes(inks);
    MixCache cache;
    cache.set = &planes.set;
    double gain[ink::kMaxInks] = {};
    for (int s = 0; s < planes.set.count; ++s)
        gain[s] = ink::FindInk(planes.set.inks[s])->dotGain;

    const std::size_t rowSize = std::size_t{width} * ink::kMaxInks;
    std::vector<double> rows[3];  // coverage of lines y - 1, y, y + 1
    for (auto& row : rows)
        row.assign(rowSize, 0.0);
    std::vector<std::uint8_t> levels(width + 8);
    ReadCoverage(inks, planes, 0, width, &levels, rows[2].data());
    std::vector<double> picture(std::size_t{outWidth} * outHeight * 3, 0.0);
    std::vector<ink::Bands> patchSums(patches.size());
    double spread[ink::kMaxInks];
    for (std::uint32_t y = 0; y < height; ++y) {
        std::swap(rows[0], rows[1]);
        std::swap(rows[1], rows[2]);
        if (y + 1 < height)
            ReadCoverage(inks, planes, y + 1, width, &levels, rows[2].data());
        else
            std::fill(rows[2].begin(), rows[2].end(), 0.0);
        if (y == 0) std::fill(rows[0].begin(), rows[0].end(), 0.0);
        double* out = picture.data() + std::size_t{y / scale} * outWidth * 3;
        for (std::uint32_t x = 0; x < width; ++x) {
            for (int s = 0; s < planes.set.count; ++s) {
                const std::size_t at = std::size_t{width} * s + x;
                const double own = rows[1][at];
                const double around = rows[0][at] + rows[2][at] + (x > 0 ? rows[1][at - 1] : 0.0) +
                                      (x + 1 < width ? rows[1][at + 1] : 0.0);
                spread[s] = std::min(1.0, own + gain[s] * (1.0 - own) * around / 4.0);
            }
            const ink::Bands& root = cache.Mix(spread);
            double* pixel = out + std::size_t{x / scale} * 3;
            for (int b = 0; b < 3; ++b)
                pixel[b] += root.v[b];
            for (std::size_t p = 0; p < patches.size(); ++p) {
                const PatchRect& patch = patches[p];
                if (static_cast<int>(y) < patch.y0 || static_cast<int>(y) >= patch.y1 ||
                    static_cast<int>(x) < patch.x0 || static_cast<int>(x) >= patch.x1)
                    continue;
                for (int b = 0; b < 3; ++b)
                    patchSums[p].v[b] += root.v[b];
            }
        }
        if (progress != nullptr && (y % 256 == 255 || y + 1 == height))
            progress(progressContext, y + 1, height);
    }
    // Picture pixels: the mean of their print pixels (the edge ones may have fewer).
    for (std::uint32_t oy = 0; oy < outHeight; ++oy) {
        const std::uint32_t rowsIn = std::min<std::uint32_t>(scale, height - oy * scale);
        for (std::uint32_t ox = 0; ox < outWidth; ++ox) {
            const std::uint32_t columns = std::min<std::uint32_t>(scale, width - ox * scale);
            double* pixel = picture.data() + (std::size_t{oy} * outWidth + ox) * 3;
            ink::Bands root;
            for (int b = 0; b < 3; ++b)
                root.v[b] = pixel[b] / (rowsIn * columns);
            const ink::Bands r = ink::FromRoot(root);
            for (int b = 0; b < 3; ++b)
                pixel[b] = r.v[b];
        }
    }
    if (options.viewingDistanceMm > 0.0) {
        const double pitch =
            PixelPitchDegrees(options.dotsPerInch / scale, options.viewingDistanceMm);
        std::vector<double> channel(std::size_t{outWidth} * outHeight);
        for (int b = 0; b < 3; ++b) {
            for (std::size_t i = 0; i < channel.size(); ++i)
                channel[i] = picture[i * 3 + static_cast<std::size_t>(b)];
            FilterForEye(&channel, outWidth, outHeight, pitch);
            for (std::size_t i = 0; i < channel.size(); ++i)
                picture[i * 3 + static_cast<std::size_t>(b)] = channel[i];
        }
    }
    simulation->width = outWidth;
    simulation->height = outHeight;
    simulation->reflectance.assign(picture.begin(), picture.end());
    for (std::size_t p = 0; p < patches.size(); ++p) {
        const PatchRect& patch = patches[p];
        const double count = static_cast<double>(patch.x1 - patch.x0) * (patch.y1 - patch.y0);
        ink::Bands root;
        for (int b = 0; b < 3; ++b)
            root.v[b] = patchSums[p].v[b] / count;
        const ink::Bands r = ink::FromRoot(root);
        PatchReading reading;
        reading.lab = ink::ToLab(r);
        ink::ToXyz(r, reading.xyz);
        for (double& v : reading.xyz)
            v *= 100.0;
        simulation->patches.push_back(reading);
    }
    return true;
}

bool WriteSimulationPng(const std::string& path, const Simulation& simulation,
                        std::string* message) {
    std::vector<std::uint8_t> rgb(simulation.reflectance.size());
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
        ink::Bands r;
        for (int b = 0; b < 3; ++b)
            r.v[b] = simulation.reflectance[i + static_cast<std::size_t>(b)];
        ink::ToSrgb(r, false, &rgb[i]);
    }
    return WritePng(path, simulation.width, simulation.height, 3, rgb.data(), message);
}

bool ReadPatchList(const std::string& path, std::vector<PatchRect>* patches, std::string* message) {
    patches->clear();
    std::ifstream file(path);
    if (!file) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream fields(line);
        PatchRect patch;
        if (!(fields >> patch.id)) continue;  // a blank or comment line
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!(fields >> patch.x0 >> patch.y0 >> patch.x1 >> patch.y1)) {
            *message = where + "a patch needs ID X0 Y0 X1 Y1";
            return false;
        }
        double device[4];
        int values = 0;
        while (values < 4 && fields >> device[values])
            ++values;
        std::string rest;
        if ((values != 0 && values != 4) || (fields.clear(), fields >> rest)) {
            *message = where + "after the rectangle come four device values (C M Y K) or none";
            return false;
        }
        patch.hasDevice = values == 4;
        std::copy(device, device + values, patch.device);
        patches->push_back(patch);
    }
    if (patches->empty()) {
        *message = path + ": no patches";
        return false;
    }
    return true;
}

bool WriteTi3(const std::string& path, std::span<const PatchRect> patches,
              std::span<const PatchReading> readings, std::string* message) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    const bool device =
        std::all_of(patches.begin(), patches.end(), [](const PatchRect& p) { return p.hasDevice; });
    const std::time_t now = std::time(nullptr);
    char created[64];
    std::strftime(created, sizeof created, "%a %b %d %H:%M:%S %Y", std::gmtime(&now));
    std::fprintf(file,
                 "CTI3   \n\n"
                 "DESCRIPTOR \"Argyll Calibration Target chart information 3\"\n\n"
                 "ORIGINATOR \"inkrow-simulate\"\n"
                 "CREATED \"%s\"\n"
                 "KEYWORD \"DEVICE_CLASS\"\n"
                 "DEVICE_CLASS \"OUTPUT\"\n"
                 "KEYWORD \"COLOR_REP\"\n"
                 "COLOR_REP \"%s\"\n"
                 "KEYWORD \"TARGET_INSTRUMENT\"\n"
                 "TARGET_INSTRUMENT \"inkrow print simulator (ink model)\"\n\n",
                 created, device ? "CMYK_XYZ" : "XYZ");
    std::fprintf(file, "NUMBER_OF_FIELDS %d\nBEGIN_DATA_FORMAT\nSAMPLE_ID %s", device ? 11 : 7,
                 device ? "CMYK_C CMYK_M CMYK_Y CMYK_K " : "");
    std::fprintf(file, "XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B \nEND_DATA_FORMAT\n\n");
    std::fprintf(file, "NUMBER_OF_SETS %zu\nBEGIN_DATA\n", readings.size());
    for (std::size_t i = 0; i < readings.size() && i < patches.size(); ++i) {
        std::fprintf(file, "%s ", patches[i].id.c_str());
        if (device)
            std::fprintf(file, "%.4f %.4f %.4f %.4f ", patches[i].device[0], patches[i].device[1],
                         patches[i].device[2], patches[i].device[3]);
        const PatchReading& r = readings[i];
        std::fprintf(file, "%.6f %.6f %.6f %.5f %.5f %.5f\n", r.xyz[0], r.xyz[1], r.xyz[2], r.lab.l,
                     r.lab.a, r.lab.b);
    }
    std::fprintf(file, "END_DATA\n");
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
        *message = path + ": write failed";
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace inkrow::decode
