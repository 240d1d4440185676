// The print-mode description: what a quality and media pair and the page flags ask of a
// caller. It is answered by the module's own page-configuration rules and tables, the
// catalogue linked into both, so the two cannot drift apart.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "catalog/print_modes.h"
#include "catalog/split_tables.h"
#include "inkrow/render.h"

namespace {

bool FitsInt16(int value) {
    return value >= std::numeric_limits<std::int16_t>::min() &&
           value <= std::numeric_limits<std::int16_t>::max();
}

// In the split, the two-way inputs (C, M, Y, k) take values 0..7 and the four-way ones
// (c, m) values 0..15; a higher value on a two-way input prints nothing at all. Each
// value becomes two or four printer pixels of 0..3; some values add up to the same
// amount of ink (4 and 5 on a two-way input), so the levels use one value per total,
// in increasing order: every level one printer pixel step more than the one before.
int SplitLevelValues(int input, std::uint8_t* values) {
    const int inputLevels = inkrow::IsFourWayInput(input) ? 16 : 8;
    int count = 0;
    for (int value = 0; value < inputLevels; ++value) {
        int total = 0;
        for (int k = 0; k < inkrow::kSplitOutputs; ++k)
            if (inkrow::kSplitSource[k] == input) total += inkrow::SplitLevel(k, value);
        if (total == count) values[count++] = static_cast<std::uint8_t>(value);
    }
    return count;
}

void DescribeSplitInputs(RenderMode* mode) {
    mode->printerPlanes = inkrow::kSplitOutputs;
    mode->planeCount = inkrow::kSplitInputs;
    mode->split = 1;
    for (int i = 0; i < inkrow::kSplitInputs; ++i) {
        RenderPlaneInfo& plane = mode->planes[i];
        plane.ink = inkrow::kInkSets[inkrow::kInkSetSixteen].inks[i];
        plane.inkCode = static_cast<std::uint8_t>(plane.ink);
        plane.bitsPerPixel = 4;
        plane.split = 1;
        plane.splitOutputs = inkrow::IsFourWayInput(i) ? 4 : 2;
        plane.levels = SplitLevelValues(i, plane.levelValues);
    }
}

void DescribeDirectPlanes(const inkrow::PageConfiguration& configuration, RenderMode* mode) {
    mode->printerPlanes = configuration.planeCount;
    mode->planeCount = configuration.planeCount;
    const char* inks = inkrow::InkSetOf(configuration.inkSetId).inks;
    for (int i = 0; i < configuration.planeCount; ++i) {
        RenderPlaneInfo& plane = mode->planes[i];
        plane.ink = inks[i];
        plane.inkCode = static_cast<std::uint8_t>(plane.ink);
        plane.bitsPerPixel = 8 >> configuration.pixelShift[i];
        plane.codeConverted = configuration.codeConversion[i] != 0 ? 1 : 0;
        // A converted plane packs five pixels of three levels in a byte: a level 3
        // anywhere in the five turns all of them into nothing.
        plane.levels = plane.codeConverted ? 3 : 1 << plane.bitsPerPixel;
        plane.splitOutputs = 1;
        for (int level = 0; level < plane.levels; ++level)
            plane.levelValues[level] = static_cast<std::uint8_t>(level);
    }
}

}  // namespace

extern "C" {

const char* RenderStatusText(int status) {
    switch (status) {
        case RENDER_OK:
            return "success";
        case RENDER_BAD_ARGUMENT:
            return "bad argument";
        case RENDER_UNSUPPORTED_MODE:
            return "unsupported print mode";
        case RENDER_BAD_WIDTH:
            return "bad line width";
        case RENDER_BAD_LINE:
            return "bad line";
        case RENDER_NO_MEMORY:
            return "out of memory";
        case RENDER_MODULE_REFUSED:
            return "the output module refused a call";
        case RENDER_WRITE_FAILED:
            return "writing the stream failed";
        case RENDER_CALL_ORDER:
            return "call out of order";
        case RENDER_CANCELED:
            return "canceled";
        case RENDER_BAD_COLOR_FILE:
            return "a colour profile or calibration file was refused";
        default:
            return "unknown status";
    }
}

const char* RenderOutputResultText(int16_t result) {
    switch (result) {
        case OUTPUT_OK:
            return "OUTPUT_OK (success)";
        case OUTPUT_OPENED:
            return "OUTPUT_OPENED (context created)";
        case OUTPUT_OPEN_FAILED:
            return "OUTPUT_OPEN_FAILED (no context: null argument or out of memory)";
        case OUTPUT_FAILED:
            return "OUTPUT_FAILED (failed)";
        case OUTPUT_NO_MEMORY:
            return "OUTPUT_NO_MEMORY (out of memory)";
        case OUTPUT_NOT_NOW:
            return "OUTPUT_NOT_NOW (not allowed now)";
        case OUTPUT_NEVER:
            return "OUTPUT_NEVER (never allowed in this mode)";
        default:
            return "an unknown result";
    }
}

const char* RenderFormatErrorV(char* text, size_t size, const char* format, va_list arguments) {
    if (text == nullptr || size == 0) return text;
    if (format == nullptr || std::vsnprintf(text, size, format, arguments) < 0) text[0] = '\0';
    return text;
}

int RenderDescribeMode(const RenderModeRequest* request, RenderMode* mode) {
    if (request == nullptr || mode == nullptr) return RENDER_BAD_ARGUMENT;
    *mode = RenderMode{};
    const int fields[] = {request->qualityCode, request->mediaCode, request->blackOnly,
                          request->kForBlack,   request->keepColor, request->formFeed,
                          request->resolution};
    for (int field : fields)
        if (!FitsInt16(field)) return RENDER_BAD_ARGUMENT;
    const auto quality = static_cast<std::int16_t>(request->qualityCode);
    const auto media = static_cast<std::int16_t>(request->mediaCode);
    // The job is refused before any page flag is looked at.
    if (inkrow::LookupInkSet(quality, media, inkrow::InkSetTable) == inkrow::kInkSetNone)
        return RENDER_UNSUPPORTED_MODE;
    inkrow::PageConfiguration configuration{};
    if (!inkrow::ChoosePageConfiguration(
            quality, media, static_cast<std::int16_t>(request->blackOnly),
            static_cast<std::int16_t>(request->kForBlack),
            static_cast<std::int16_t>(request->keepColor), &configuration))
        return RENDER_UNSUPPORTED_MODE;
    mode->inkSetId = configuration.inkSetId;
    mode->linesPerRow = inkrow::ChooseLinesPerRow(static_cast<std::int16_t>(request->resolution),
                                                  static_cast<std::int16_t>(request->formFeed));
    if (configuration.twoBitSplit != 0)
        DescribeSplitInputs(mode);
    else
        DescribeDirectPlanes(configuration, mode);
    for (int i = 0; i < mode->planeCount; ++i)
        mode->inks[i] = mode->planes[i].ink;
    return RENDER_OK;
}

int RenderPrinterInks(const RenderMode* mode, uint8_t* codes) {
    if (mode == nullptr || codes == nullptr) return 0;
    if (mode->split != 0) {
        const inkrow::InkSetEntry& sixteen = inkrow::kInkSets[inkrow::kInkSetSixteen];
        for (int k = 0; k < sixteen.selectionLength; ++k)
            codes[k] = sixteen.selection[k];
        return sixteen.selectionLength;
    }
    for (int i = 0; i < mode->planeCount && i < RENDER_MAX_PLANES; ++i)
        codes[i] = mode->planes[i].inkCode;
    return mode->planeCount;
}

int RenderSplitLevel(int printerPlane, int inputLevel, int* inputPlane) {
    if (printerPlane < 0 || printerPlane >= inkrow::kSplitOutputs) return -1;
    if (inputPlane != nullptr) *inputPlane = inkrow::kSplitSource[printerPlane];
    return inkrow::SplitLevel(printerPlane, inputLevel);
}

int RenderListModePairs(RenderModePair* pairs, int capacity) {
    // One media code per column of the tables, in column order.
    int count = 0;
    for (std::int16_t quality : inkrow::kQualityOfRow) {
        for (const inkrow::MediaColumnEntry& column : inkrow::kMediaColumnsOf) {
            const std::int16_t media = column.codes[0];
            const std::int16_t inkSet = inkrow::LookupInkSet(quality, media, inkrow::InkSetTable);
            if (inkSet == inkrow::kInkSetNone) continue;
            if (pairs != nullptr && count < capacity) pairs[count] = {quality, media, inkSet};
            ++count;
        }
    }
    return count;
}

}  // extern "C"
