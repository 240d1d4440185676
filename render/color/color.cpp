// RenderColor: ICC profiles through lcms2 and printcal calibrations through lcms2's CGATS
// reader, checked and built once per job.
//
// Each page colour space gets one transform: a device link sampled once per job from
// the input profile, the output profile (with cmsFLAGS_BLACKPOINTCOMPENSATION when asked
// for) and the calibration's curves and ink limit, whose nodes hold process amounts
// (see BuildTransform). A transform keeps nothing between calls, so rasters on several
// threads share it.
// Every lcms2 call goes through the RenderColor's own context, whose error handler keeps
// the last message for the words of a refusal; nothing is global.
#include "color.h"

#include <lcms2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "halftone.h"

namespace {

// Where the context's error handler leaves lcms2's last message.
struct ErrorSink {
    char text[256] = "";
};

void KeepError(cmsContext context, cmsUInt32Number /*code*/, const char* text) {
    auto* sink = static_cast<ErrorSink*>(cmsGetContextUserData(context));
    if (sink != nullptr && text != nullptr)
        std::snprintf(sink->text, sizeof sink->text, "%s", text);
}

}  // namespace

struct RenderColor {
    ErrorSink sink;
    cmsContext context = nullptr;
    bool calibrationMode = false;
    bool raw = false;
    cmsHTRANSFORM transforms[5] = {};  // by RenderColorSpace (1, 3, 4)
    bool calibrates = false;
    std::vector<std::uint16_t> curves[4];  // per process ink, 0 .. kInkFull
    int inkLimit = 0;                      // sum of the four amounts; 0: none
};

namespace {

using inkrow::render::kInkFull;

const char* SpaceName(cmsColorSpaceSignature space) {
    switch (space) {
        case cmsSigGrayData:
            return "gray";
        case cmsSigRgbData:
            return "RGB";
        case cmsSigCmykData:
            return "CMYK";
        case cmsSigLabData:
            return "Lab";
        case cmsSigXYZData:
            return "XYZ";
        default:
            return "another colour space";
    }
}

struct Refusal {
    char* text;
    std::size_t size;
};

int Refuse(const Refusal& refusal, const char* format, ...) __attribute__((format(printf, 2, 3)));
int Refuse(const Refusal& refusal, const char* format, ...) {
    if (refusal.text != nullptr && refusal.size > 0) {
        va_list arguments;
        va_start(arguments, format);
        RenderFormatErrorV(refusal.text, refusal.size, format, arguments);
        va_end(arguments);
    }
    return RENDER_BAD_COLOR_FILE;
}

// The file must be there and readable, so that the words say so rather than lcms2's.
bool Readable(const char* path, std::string* why) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

// Opens an ICC profile and checks it can serve in `direction` (LCMS_USED_AS_INPUT or
// _OUTPUT) for some intent.
int OpenProfile(RenderColor* color, const char* role, const char* path, int direction,
                const Refusal& refusal, cmsHPROFILE* profile) {
    std::string why;
    if (!Readable(path, &why))
        return Refuse(refusal, "%s %s: cannot be read: %s", role, path, why.c_str());
    color->sink.text[0] = '\0';
    *profile = cmsOpenProfileFromFileTHR(color->context, path, "r");
    if (*profile == nullptr)
        return Refuse(refusal, "%s %s: not an ICC profile, or cut short (%s)", role, path,
                      color->sink.text[0] != '\0' ? color->sink.text : "unreadable header");
    bool usable = false;
    for (cmsUInt32Number intent = 0; intent < 4; ++intent)
        usable = usable ||
                 cmsIsIntentSupported(*profile, intent, static_cast<cmsUInt32Number>(direction));
    if (!usable) {
        cmsCloseProfile(*profile);
        *profile = nullptr;
        return Refuse(refusal, "%s %s: cannot serve as an %s profile", role, path,
                      direction == LCMS_USED_AS_OUTPUT ? "output" : "input");
    }
    return RENDER_OK;
}

int OpenOutputProfile(RenderColor* color, const char* path, const Refusal& refusal,
                      cmsHPROFILE* profile) {
    const int opened =
        OpenProfile(color, "output profile", path, LCMS_USED_AS_OUTPUT, refusal, profile);
    if (opened != RENDER_OK) return opened;
    const cmsColorSpaceSignature space = cmsGetColorSpace(*profile);
    const cmsProfileClassSignature kind = cmsGetDeviceClass(*profile);
    if (space != cmsSigCmykData || kind != cmsSigOutputClass) {
        cmsCloseProfile(*profile);
        *profile = nullptr;
        if (space != cmsSigCmykData)
            return Refuse(refusal,
                          "output profile %s: its device space is %s; the printer's inks "
                          "need a CMYK printer profile",
                          path, SpaceName(space));
        return Refuse(refusal, "output profile %s: not a printer (output class) profile", path);
    }
    return RENDER_OK;
}

int OpenInputProfile(RenderColor* color, const char* path, const Refusal& refusal,
                     cmsHPROFILE* profile) {
    const int opened =
        OpenProfile(color, "input profile", path, LCMS_USED_AS_INPUT, refusal, profile);
    if (opened != RENDER_OK) return opened;
    const cmsColorSpaceSignature space = cmsGetColorSpace(*profile);
    if (space != cmsSigGrayData && space != cmsSigRgbData && space != cmsSigCmykData) {
        cmsCloseProfile(*profile);
        *profile = nullptr;
        return Refuse(refusal, "input profile %s: its colour space is %s, not gray, RGB or CMYK",
                      path, SpaceName(space));
    }
    return RENDER_OK;
}

// Grid points a side of a page colour space's device link: what lcms2 itself samples a
// transform at by default (33 for gray and RGB, 17 for four channels).
int GridPoints(int colorSpace) {
    return colorSpace == RENDER_CMYK8 ? 17 : 33;
}

// A node of the device link: the colour through the profiles, then through the
// calibration's curves and ink limit, as process amounts (0 .. kInkFull).
struct LinkSampling {
    const RenderColor* color;
    cmsHTRANSFORM profiles;  // the page's colour to the output profile's CMYK, 16 bits
};

cmsInt32Number SampleLinkNode(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const auto* sampling = static_cast<const LinkSampling*>(cargo);
    cmsUInt16Number cmyk[4];
    cmsDoTransform(sampling->profiles, in, cmyk, 1);
    int amounts[4];
    for (int ink = 0; ink < 4; ++ink)
        amounts[ink] = (cmyk[ink] * kInkFull + 32767) / 65535;
    if (sampling->color->calibrates)
        inkrow::render::Calibrate(sampling->color, &amounts[0], &amounts[1], &amounts[2],
                                  &amounts[3]);
    for (int ink = 0; ink < 4; ++ink)
        out[ink] = static_cast<cmsUInt16Number>(amounts[ink]);
    return TRUE;
}

// The pixels' transform of a page colour space: one lcms2 device link, sampled once per
// job, that takes the page's 8-bit pixels straight to calibrated, ink-limited process
// amounts. Per pixel that is lcms2's 8-bit optimised path (tetrahedral interpolation
// over the link's grid, indexed through tables of the 256 input values); nothing of ours
// follows it. Its one-pixel cache is off: TransformRuns hands it no two alike in a row.
// The profiles and curves are evaluated exactly at the grid's nodes only, the same nodes
// lcms2's default optimisation of the profiles alone would sample.
int BuildTransform(RenderColor* color, int colorSpace, cmsHPROFILE input, cmsHPROFILE output,
                   const RenderColorOptions& options, const char* inputName,
                   const Refusal& refusal) {
    const bool gray = colorSpace == RENDER_GRAY8;
    const bool rgb = colorSpace == RENDER_RGB8;
    const cmsUInt32Number exact = gray ? TYPE_GRAY_16 : rgb ? TYPE_RGB_16 : TYPE_CMYK_16;
    const cmsUInt32Number pixels = gray ? TYPE_GRAY_8 : rgb ? TYPE_RGB_8 : TYPE_CMYK_8;
    const cmsColorSpaceSignature space = gray  ? cmsSigGrayData
                                         : rgb ? cmsSigRgbData
                                               : cmsSigCmykData;
    cmsUInt32Number flags = cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE;
    if (options.blackPointCompensation != 0) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
    color->sink.text[0] = '\0';
    const cmsHTRANSFORM profiles =
        cmsCreateTransformTHR(color->context, input, exact, output, TYPE_CMYK_16,
                              static_cast<cmsUInt32Number>(options.intent), flags);
    if (profiles == nullptr)
        return Refuse(refusal, "output profile %s: no %s transform from %s (%s)",
                      options.outputProfile, RenderIntentName(options.intent), inputName,
                      color->sink.text[0] != '\0' ? color->sink.text : "damaged or cut short");
    const auto points = static_cast<cmsUInt32Number>(GridPoints(colorSpace));
    const auto channels = static_cast<cmsUInt32Number>(colorSpace);
    LinkSampling sampling{color, profiles};
    cmsStage* grid = cmsStageAllocCLut16bit(color->context, points, channels, 4, nullptr);
    cmsPipeline* pipeline = cmsPipelineAlloc(color->context, channels, 4);
    cmsHPROFILE link = cmsCreateProfilePlaceholder(color->context);
    bool made = grid != nullptr && pipeline != nullptr && link != nullptr &&
                cmsStageSampleCLut16bit(grid, SampleLinkNode, &sampling, 0) &&
                cmsPipelineInsertStage(pipeline, cmsAT_BEGIN, grid);
    if (made) {
        grid = nullptr;  // the pipeline holds it
        cmsSetProfileVersion(link, 4.3);
        cmsSetDeviceClass(link, cmsSigLinkClass);
        cmsSetColorSpace(link, space);
        cmsSetPCS(link, cmsSigCmykData);
        cmsSetHeaderRenderingIntent(link, INTENT_PERCEPTUAL);
        made = cmsWriteTag(link, cmsSigAToB0Tag, pipeline) != 0;
    }
    if (made)
        color->transforms[colorSpace] = cmsCreateTransformTHR(
            color->context, link, pixels, nullptr, TYPE_CMYK_16, INTENT_PERCEPTUAL,
            cmsFLAGS_GRIDPOINTS(points) | cmsFLAGS_NOCACHE);
    if (grid != nullptr) cmsStageFree(grid);
    if (pipeline != nullptr) cmsPipelineFree(pipeline);
    if (link != nullptr) cmsCloseProfile(link);
    cmsDeleteTransform(profiles);
    return color->transforms[colorSpace] != nullptr ? RENDER_OK : RENDER_NO_MEMORY;
}

int BuildTransforms(RenderColor* color, const RenderColorOptions& options, const Refusal& refusal) {
    cmsHPROFILE output = nullptr;
    cmsHPROFILE input = nullptr;
    int status = OpenOutputProfile(color, options.outputProfile, refusal, &output);
    if (status == RENDER_OK && options.inputProfile != nullptr)
        status = OpenInputProfile(color, options.inputProfile, refusal, &input);
    const cmsColorSpaceSignature inputSpace =
        input != nullptr ? cmsGetColorSpace(input) : cmsSigCmykData;
    // The page colour spaces the given input profile does not describe take the
    // ordinary ones: sRGB and gray of gamma 2.2; device CMYK prints as it is.
    if (status == RENDER_OK) {
        const bool given = input != nullptr && inputSpace == cmsSigRgbData;
        cmsHPROFILE rgb = given ? input : cmsCreate_sRGBProfileTHR(color->context);
        status = rgb == nullptr ? RENDER_NO_MEMORY
                                : BuildTransform(color, RENDER_RGB8, rgb, output, options,
                                                 given ? options.inputProfile : "sRGB", refusal);
        if (!given && rgb != nullptr) cmsCloseProfile(rgb);
    }
    if (status == RENDER_OK) {
        const bool given = input != nullptr && inputSpace == cmsSigGrayData;
        cmsHPROFILE gray = input;
        if (!given) {
            cmsToneCurve* gamma = cmsBuildGamma(color->context, 2.2);
            gray = gamma == nullptr ? nullptr
                                    : cmsCreateGrayProfileTHR(color->context, cmsD50_xyY(), gamma);
            if (gamma != nullptr) cmsFreeToneCurve(gamma);
        }
        status = gray == nullptr ? RENDER_NO_MEMORY
                                 : BuildTransform(color, RENDER_GRAY8, gray, output, options,
                                                  given ? options.inputProfile : "gray", refusal);
        if (!given && gray != nullptr) cmsCloseProfile(gray);
    }
    if (status == RENDER_OK && input != nullptr && inputSpace == cmsSigCmykData)
        status = BuildTransform(color, RENDER_CMYK8, input, output, options, options.inputProfile,
                                refusal);
    if (input != nullptr) cmsCloseProfile(input);
    if (output != nullptr) cmsCloseProfile(output);
    return status;
}

// ---- Calibration -------------------------------------------------------------------------

constexpr const char* kCalFields[5] = {"CMYK_I", "CMYK_C", "CMYK_M", "CMYK_Y", "CMYK_K"};

int ReadCalibration(RenderColor* color, const char* path, const Refusal& refusal) {
    std::string why;
    if (!Readable(path, &why))
        return Refuse(refusal, "calibration %s: cannot be read: %s", path, why.c_str());
    color->sink.text[0] = '\0';
    cmsHANDLE sheet = cmsIT8LoadFromFile(color->context, path);
    if (sheet == nullptr)
        return Refuse(refusal, "calibration %s: not a CGATS file, or cut short (%s)", path,
                      color->sink.text[0] != '\0' ? color->sink.text : "unreadable");
    const auto refuse = [&](const char* reason) {
        cmsIT8Free(sheet);
        return Refuse(refusal, "calibration %s: %s", path, reason);
    };
    const char* type = cmsIT8GetSheetType(sheet);
    if (type == nullptr || std::strncmp(type, "CAL", 3) != 0)
        return refuse("not a calibration (its CGATS type is not CAL)");
    const char* represents = cmsIT8GetProperty(sheet, "COLOR_REP");
    if (represents == nullptr || std::strcmp(represents, "CMYK") != 0)
        return refuse(
            "it calibrates other channels than the four CMYK inks (COLOR_REP is not CMYK)");
    int columns[5];
    for (int f = 0; f < 5; ++f) {
        columns[f] = cmsIT8FindDataFormat(sheet, kCalFields[f]);
        if (columns[f] < 0)
            return refuse("a field of CMYK_I, CMYK_C, CMYK_M, CMYK_Y, CMYK_K is missing");
    }
    const double rowsFound = cmsIT8GetPropertyDbl(sheet, "NUMBER_OF_SETS");
    if (!(rowsFound >= 2 && rowsFound <= 65536)) return refuse("fewer than two rows");
    const int rows = static_cast<int>(rowsFound);
    std::vector<double> points[5];
    for (int f = 0; f < 5; ++f) {
        points[f].resize(static_cast<std::size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            const char* cell = cmsIT8GetDataRowCol(sheet, r, columns[f]);
            char* end = nullptr;
            const double value = cell == nullptr ? -1.0 : std::strtod(cell, &end);
            if (cell == nullptr || end == cell || !(value >= 0.0 && value <= 1.0))
                return refuse("a value is missing or outside 0 .. 1 (cut short?)");
            points[f][static_cast<std::size_t>(r)] = value;
        }
    }
    const std::vector<double>& in = points[0];
    if (in.front() != 0.0 || in.back() != 1.0) return refuse("CMYK_I does not run from 0 to 1");
    for (std::size_t r = 1; r < in.size(); ++r)
        if (!(in[r] > in[r - 1])) return refuse("CMYK_I does not rise row by row");
    const char* limit = cmsIT8GetProperty(sheet, "TOTAL_INK_LIMIT");
    if (limit != nullptr) {
        char* end = nullptr;
        const double percent = std::strtod(limit, &end);
        if (end == limit || !(percent > 0.0 && percent <= 400.0))
            return refuse("TOTAL_INK_LIMIT is not a percentage of 0 .. 400");
        color->inkLimit =
            percent >= 400.0 ? 0 : static_cast<int>(std::lround(percent / 100.0 * kInkFull));
    }
    cmsIT8Free(sheet);
    for (int ink = 0; ink < 4; ++ink) {
        const std::vector<double>& out = points[ink + 1];
        std::vector<std::uint16_t>& curve = color->curves[ink];
        curve.resize(kInkFull + 1);
        std::size_t r = 1;
        for (int a = 0; a <= kInkFull; ++a) {
            const double x = static_cast<double>(a) / kInkFull;
            while (r + 1 < in.size() && in[r] < x)
                ++r;
            const double t = (x - in[r - 1]) / (in[r] - in[r - 1]);
            const double y = out[r - 1] + std::clamp(t, 0.0, 1.0) * (out[r] - out[r - 1]);
            // No ink asked, none printed: a curve must not lift white.
            curve[static_cast<std::size_t>(a)] =
                a == 0 ? 0 : static_cast<std::uint16_t>(std::lround(y * kInkFull));
        }
    }
    color->calibrates = true;
    return RENDER_OK;
}

// Hands lcms2 each run of one colour once and repeats its amounts over the run.
// Pictures scaled up to the page (a 300 ppi photograph printed at 600 dpi repeats every
// pixel) and flat fills are made of such runs. lcms2's own one-pixel cache does the same
// for the interpolation, but still unpacks, compares and packs every pixel; on the photo
// page that costs 9.7 ns a pixel, against 4.1 ns this way (and about 25 ns either way
// where no two neighbours are alike). Channels is the colour space's byte count.
template <int Channels>
void TransformRuns(cmsHTRANSFORM transform, const std::uint8_t* pixels, int count,
                   std::uint16_t* cmyk) {
    constexpr int kBlock = 256;
    std::uint8_t heads[kBlock * Channels];
    std::uint16_t lengths[kBlock];
    std::uint16_t amounts[kBlock * 4];
    for (int done = 0; done < count; done += kBlock) {
        const int block = std::min(kBlock, count - done);
        const std::uint8_t* in = pixels + static_cast<std::size_t>(done) * Channels;
        int runs = 0;
        for (int at = 0; at < block;) {
            int next = at + 1;
            while (next < block &&
                   std::memcmp(in + next * Channels, in + at * Channels, Channels) == 0)
                ++next;
            std::memcpy(heads + runs * Channels, in + at * Channels, Channels);
            lengths[runs++] = static_cast<std::uint16_t>(next - at);
            at = next;
        }
        cmsDoTransform(transform, heads, amounts, static_cast<cmsUInt32Number>(runs));
        std::uint16_t* out = cmyk + static_cast<std::size_t>(done) * 4;
        for (int run = 0; run < runs; ++run)
            for (int repeat = 0; repeat < lengths[run]; ++repeat, out += 4)
                std::memcpy(out, amounts + run * 4, 4 * sizeof *out);
    }
}

void Release(RenderColor* color) {
    for (cmsHTRANSFORM transform : color->transforms)
        if (transform != nullptr) cmsDeleteTransform(transform);
    if (color->context != nullptr) cmsDeleteContext(color->context);
    delete color;
}

}  // namespace

namespace inkrow::render {

bool ColorTransforms(const RenderColor* color, int colorSpace) {
    return color != nullptr && colorSpace >= 0 && colorSpace < 5 &&
           color->transforms[colorSpace] != nullptr;
}

bool ColorRawInks(const RenderColor* color) {
    return color != nullptr && color->raw;
}

bool ColorCalibrates(const RenderColor* color) {
    return color != nullptr && color->calibrates;
}

void CorrectRun(const RenderColor* color, int colorSpace, const std::uint8_t* pixels, int count,
                std::uint16_t* cmyk) {
    const cmsHTRANSFORM transform = color->transforms[colorSpace];
    if (colorSpace == RENDER_RGB8)
        TransformRuns<RENDER_RGB8>(transform, pixels, count, cmyk);
    else if (colorSpace == RENDER_GRAY8)
        TransformRuns<RENDER_GRAY8>(transform, pixels, count, cmyk);
    else
        TransformRuns<RENDER_CMYK8>(transform, pixels, count, cmyk);
}

void Calibrate(const RenderColor* color, int* cyan, int* magenta, int* yellow, int* black) {
    int* amounts[4] = {cyan, magenta, yellow, black};
    int sum = 0;
    for (int ink = 0; ink < 4; ++ink) {
        *amounts[ink] = color->curves[ink][static_cast<std::size_t>(*amounts[ink])];
        sum += *amounts[ink];
    }
    if (color->inkLimit > 0 && sum > color->inkLimit) {
        // Over the limit every ink gives up the same share, which keeps the hue.
        for (int* amount : amounts)
            *amount = static_cast<int>(static_cast<std::int64_t>(*amount) * color->inkLimit / sum);
    }
}

}  // namespace inkrow::render

extern "C" {

void RenderColorOptionsInit(RenderColorOptions* options) {
    if (options == nullptr) return;
    *options = RenderColorOptions{};
    options->intent = RENDER_INTENT_PERCEPTUAL;
    options->blackPointCompensation = 1;
}

int RenderColorOpen(const RenderColorOptions* options, RenderColor** color, char* error,
                    size_t errorSize) {
    if (error != nullptr && errorSize > 0) error[0] = '\0';
    if (color == nullptr) return RENDER_BAD_ARGUMENT;
    *color = nullptr;
    if (options == nullptr || RenderIntentName(options->intent) == nullptr)
        return RENDER_BAD_ARGUMENT;
    auto* made = new (std::nothrow) RenderColor;
    if (made == nullptr) return RENDER_NO_MEMORY;
    made->context = cmsCreateContext(nullptr, &made->sink);
    if (made->context == nullptr) {
        delete made;
        return RENDER_NO_MEMORY;
    }
    cmsSetLogErrorHandlerTHR(made->context, KeepError);
    const Refusal refusal{error, errorSize};
    made->calibrationMode = options->calibrationMode != 0;
    int status = RENDER_OK;
    if (!made->calibrationMode) {
        if (options->outputProfile == nullptr && options->inputProfile != nullptr)
            status = Refuse(refusal, "input profile %s: given without an output profile",
                            options->inputProfile);
        // The calibration goes into the transforms, so it is read first.
        if (status == RENDER_OK && options->calibration != nullptr)
            status = ReadCalibration(made, options->calibration, refusal);
        if (status == RENDER_OK && options->outputProfile != nullptr)
            status = BuildTransforms(made, *options, refusal);
    }
    if (status != RENDER_OK) {
        Release(made);
        return status;
    }
    made->raw =
        made->calibrationMode || made->calibrates || made->transforms[RENDER_RGB8] != nullptr;
    *color = made;
    return RENDER_OK;
}

void RenderColorClose(RenderColor* color) {
    if (color != nullptr) Release(color);
}

int RenderColorActive(const RenderColor* color) {
    return color != nullptr && color->raw ? 1 : 0;
}

const char* RenderIntentName(int intent) {
    switch (intent) {
        case RENDER_INTENT_PERCEPTUAL:
            return "perceptual";
        case RENDER_INTENT_RELATIVE:
            return "relative";
        case RENDER_INTENT_SATURATION:
            return "saturation";
        case RENDER_INTENT_ABSOLUTE:
            return "absolute";
        default:
            return nullptr;
    }
}

int RenderIntentFromName(const char* name) {
    if (name == nullptr) return -1;
    for (int intent = 0; intent < 4; ++intent)
        if (std::strcmp(name, RenderIntentName(intent)) == 0) return intent;
    if (std::strcmp(name, "relative-bpc") == 0) return RENDER_INTENT_RELATIVE;
    return -1;
}

}  // extern "C"
