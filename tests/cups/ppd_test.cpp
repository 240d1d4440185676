// The PPD built from cups/inkrow.drv: it offers the choices the README lists, and every
// combination of them, turned into a page header by libcups exactly as the raster
// filters before ours do, maps to a print mode the module supports.
//
// libcups marks its whole PPD interface deprecated; it is still the only reader of the
// PPDs that the classic CUPS path runs on.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "page_mode.h"

#ifndef INKROW_PPD
#error "INKROW_PPD must name the built PPD"
#endif

namespace inkrow::filter {
namespace {

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

PpdFile OpenPpd() {
    PpdFile ppd(ppdOpenFile(INKROW_PPD));
    if (ppd == nullptr) {
        int line = 0;
        const ppd_status_t status = ppdLastError(&line);
        ADD_FAILURE() << INKROW_PPD << ": " << ppdErrorString(status) << " on line " << line;
    }
    return ppd;
}

std::vector<std::string> Choices(ppd_file_t* ppd, const char* keyword) {
    std::vector<std::string> names;
    ppd_option_t* option = ppdFindOption(ppd, keyword);
    if (option == nullptr) return names;
    for (int i = 0; i < option->num_choices; ++i)
        names.push_back(option->choices[i].choice);
    return names;
}

TEST(Ppd, OffersTheDocumentedChoices) {
    PpdFile ppd = OpenPpd();
    ASSERT_NE(ppd, nullptr);
    const std::map<std::string, std::vector<std::string>> expected = {
        {"PageSize", {"A4", "Letter", "4x6", "5x7", "8x10"}},
        {"ColorModel", {"CMYK", "Gray"}},
        {"Resolution", {"300dpi", "600dpi", "360dpi"}},
        {"MediaType",
         {"Plain", "Inkjet", "Matte", "Photo", "Glossy", "SemiGloss", "HighGloss", "Transparency"}},
        {"cupsPrintQuality", {"Draft", "Normal", "High"}},
    };
    for (const auto& [keyword, choices] : expected)
        EXPECT_EQ(Choices(ppd.get(), keyword.c_str()), choices) << keyword;
    // CUPS raster, and the documents the page sources read, all to the one filter.
    ASSERT_EQ(ppd->num_filters, 6);
    for (int i = 0; i < ppd->num_filters; ++i)
        EXPECT_NE(std::string(ppd->filters[i]).find(" 0 rastertoinkrow"), std::string::npos);
    EXPECT_STREQ(ppd->filters[0], "application/vnd.cups-raster 0 rastertoinkrow");
}

// What each choice must turn into.
const std::map<std::string, int> kMediaCodes = {
    {"Plain", 0},   {"Inkjet", 8},     {"Matte", 7},      {"Photo", 26},
    {"Glossy", 27}, {"SemiGloss", 29}, {"HighGloss", 26}, {"Transparency", 1}};
// The first code of the quality's order with a print mode on the media's column.
const std::map<std::string, std::map<std::string, int>> kQualityCodes = {
    {"Draft",
     {{"Plain", 20},
      {"Inkjet", 10},
      {"Matte", 10},
      {"Photo", 10},
      {"Glossy", 15},
      {"SemiGloss", 15},
      {"HighGloss", 10},
      {"Transparency", 10}}},
    {"Normal",
     {{"Plain", 10},
      {"Inkjet", 10},
      {"Matte", 10},
      {"Photo", 10},
      {"Glossy", 10},
      {"SemiGloss", 10},
      {"HighGloss", 10},
      {"Transparency", 10}}},
    {"High",
     {{"Plain", 5},
      {"Inkjet", 5},
      {"Matte", 5},
      {"Photo", 5},
      {"Glossy", 5},
      {"SemiGloss", 5},
      {"HighGloss", 5},
      {"Transparency", 5}}},
};

TEST(Ppd, EveryCombinationMapsToASupportedMode) {
    PpdFile ppd = OpenPpd();
    ASSERT_NE(ppd, nullptr);
    int combinations = 0;
    std::set<std::pair<int, int>> pairs;
    for (const std::string& size : Choices(ppd.get(), "PageSize"))
        for (const std::string& color : Choices(ppd.get(), "ColorModel"))
            for (const std::string& resolution : Choices(ppd.get(), "Resolution"))
                for (const std::string& media : Choices(ppd.get(), "MediaType"))
                    for (const std::string& quality : Choices(ppd.get(), "cupsPrintQuality")) {
                        const std::string name =
                            size + "/" + color + "/" + resolution + "/" + media + "/" + quality;
                        ppdMarkDefaults(ppd.get());
                        ppdMarkOption(ppd.get(), "PageSize", size.c_str());
                        ppdMarkOption(ppd.get(), "ColorModel", color.c_str());
                        ppdMarkOption(ppd.get(), "Resolution", resolution.c_str());
                        ppdMarkOption(ppd.get(), "MediaType", media.c_str());
                        ppdMarkOption(ppd.get(), "cupsPrintQuality", quality.c_str());
                        // No constraints: every combination is printable.
                        EXPECT_EQ(ppdConflicts(ppd.get()), 0) << name;

                        cups_page_header2_t header;
                        ASSERT_EQ(cupsRasterInterpretPPD(&header, ppd.get(), 0, nullptr, nullptr),
                                  0)
                            << name << ": " << cupsRasterErrorString();
                        PageSettings settings;
                        std::string error;
                        ASSERT_TRUE(SettingsFromHeader(header, &settings, &error))
                            << name << ": " << error;
                        RenderMode mode;
                        ASSERT_EQ(RenderDescribeMode(&settings.mode, &mode), RENDER_OK) << name;

                        EXPECT_EQ(settings.mode.mediaCode, kMediaCodes.at(media)) << name;
                        EXPECT_EQ(settings.mode.qualityCode, kQualityCodes.at(quality).at(media))
                            << name;
                        EXPECT_EQ(settings.mode.blackOnly, color == "Gray" ? 1 : 0) << name;
                        EXPECT_EQ(settings.page.colorSpace,
                                  color == "Gray" ? RENDER_GRAY8 : RENDER_CMYK8)
                            << name;
                        EXPECT_EQ(std::to_string(settings.mode.resolution) + "dpi", resolution)
                            << name;
                        // Black only prints with the black ink alone on plain and matte.
                        if (color == "Gray" &&
                            (media == "Plain" || media == "Matte" || media == "Inkjet")) {
                            EXPECT_STREQ(mode.inks, "K") << name;
                        }
                        pairs.insert({settings.mode.qualityCode, settings.mode.mediaCode});
                        ++combinations;
                    }
    EXPECT_EQ(combinations, 5 * 2 * 3 * 8 * 3);
    EXPECT_EQ(pairs.size(), 17u);  // every (quality, media) pair the choices can reach
}

}  // namespace
}  // namespace inkrow::filter
