// The catalogue's entries for the front ends: drivers, qualities, media types and paper
// sizes, read from the one copy in src/catalog/choices.h.
#include <cstring>
#include <iterator>

#include "catalog/choices.h"
#include "inkrow/print.h"

namespace {

template <typename T, std::size_t N>
const T* EntryAt(const T (&table)[N], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? &table[index] : nullptr;
}

bool Same(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

}  // namespace

extern "C" {

int PrintDriverCount(void) {
    return static_cast<int>(std::size(inkrow::kDrivers));
}

const PrintDriver* PrintDriverAt(int index) {
    return EntryAt(inkrow::kDrivers, index);
}

const PrintDriver* PrintFindDriver(const char* name) {
    for (const PrintDriver& driver : inkrow::kDrivers)
        if (Same(driver.name, name)) return &driver;
    return nullptr;
}

int PrintDriverAllowsInkSet(int driverKind, int inkSetId) {
    const PrintDriver* driver = PrintDriverAt(driverKind);
    if (driver == nullptr || inkSetId <= inkrow::kInkSetNone || inkSetId >= inkrow::kInkSetCount)
        return 0;
    return (driver->inkSets >> inkSetId) & 1u;
}

int PrintQualityCount(void) {
    return static_cast<int>(std::size(inkrow::kQualities));
}

const PrintQualityInfo* PrintQualityAt(int index) {
    return EntryAt(inkrow::kQualities, index);
}

const PrintQualityInfo* PrintFindQuality(int quality) {
    for (const PrintQualityInfo& info : inkrow::kQualities)
        if (info.quality == quality) return &info;
    return nullptr;
}

int PrintQualityOrder(int driverKind, int quality, int codes[5]) {
    const PrintQualityInfo* info = PrintFindQuality(quality);
    if (info == nullptr || codes == nullptr) return 0;
    const int* order = driverKind == PRINT_DRIVER_SIXTEEN ? info->sixteenOrder : info->order;
    for (int i = 0; i < 5; ++i)
        codes[i] = order[i];
    return 5;
}

int PrintMediaTypeCount(void) {
    return static_cast<int>(std::size(inkrow::kMediaTypes));
}

const PrintMediaType* PrintMediaTypeAt(int index) {
    return EntryAt(inkrow::kMediaTypes, index);
}

const PrintMediaType* PrintFindMediaType(const char* ippKeyword) {
    for (const PrintMediaType& type : inkrow::kMediaTypes)
        if (Same(type.ippKeyword, ippKeyword)) return &type;
    return nullptr;
}

int PrintPaperSizeCount(void) {
    return static_cast<int>(std::size(inkrow::kPaperSizes));
}

const PrintPaperSize* PrintPaperSizeAt(int index) {
    return EntryAt(inkrow::kPaperSizes, index);
}

const PrintPaperSize* PrintFindPaperSize(const char* name) {
    for (const PrintPaperSize& paper : inkrow::kPaperSizes)
        if (Same(paper.pwgName, name) || Same(paper.ppdName, name) || Same(paper.cliName, name))
            return &paper;
    return nullptr;
}

void PrintPaperPixels(const PrintPaperSize* paper, int resolution, int* width, int* height) {
    // Whole pixels that fit on the paper, as printing systems count them.
    const double inchesWide = paper->width / 2540.0;
    const double inchesLong = paper->length / 2540.0;
    *width = static_cast<int>(inchesWide * resolution + 1e-6);
    *height = static_cast<int>(inchesLong * resolution + 1e-6);
}

}  // extern "C"
