// The catalogue of choices against the places that name its entries: the PPD source and
// the print-mode tables. (The printer application's IPP lists and inkrow-print's --help
// are generated from it.)
#include "catalog/choices.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "catalog/print_modes.h"

namespace inkrow {
namespace {

// Every match of the pattern; they point into text, which must outlive them.
std::vector<std::smatch> Matches(const std::string& text, const std::regex& pattern) {
    std::vector<std::smatch> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        found.push_back(*it);
    return found;
}

std::string ReadSource(const char* path) {
    std::ifstream file(std::string(INKROW_SOURCE_DIR "/") + path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string ReadDrv() {
    return ReadSource("cups/inkrow.drv");
}

// The line of a text that starts with `start` (empty when none).
std::string LineStarting(const std::string& text, const std::string& start) {
    const std::size_t at = text.find("\n" + start);
    if (at == std::string::npos) return {};
    const std::size_t end = text.find('\n', at + 1);
    return text.substr(at + 1, end - at - 1);
}

TEST(Choices, ThePpdOffersTheCatalogueMediaTypesInOrder) {
    const std::string drv = ReadDrv();
    ASSERT_FALSE(drv.empty());
    const auto lines = Matches(drv, std::regex(R"(\n\*?MediaType (\d+) "([A-Za-z]+)/([^"]+)\")"));
    std::size_t next = 0;
    for (const PrintMediaType& type : kMediaTypes) {
        if (type.ppdChoice == nullptr) continue;
        ASSERT_LT(next, lines.size()) << type.ippKeyword << " is missing from the PPD";
        EXPECT_EQ(lines[next][1].str(), std::to_string(type.mediaCode)) << type.ppdChoice;
        EXPECT_EQ(lines[next][2].str(), type.ppdChoice);
        EXPECT_EQ(lines[next][3].str(), type.ppdText) << type.ppdChoice;
        ++next;
    }
    EXPECT_EQ(next, lines.size()) << "the PPD has media types the catalogue does not";
}

TEST(Choices, ThePpdOffersTheCataloguePaperSizesInOrder) {
    const std::string drv = ReadDrv();
    const auto sizes = Matches(drv, std::regex(R"(\n\*?MediaSize ([A-Za-z0-9]+))"));
    ASSERT_EQ(sizes.size(), std::size(kPaperSizes));
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i][1].str(), kPaperSizes[i].ppdName);
    // Sizes the PPD defines itself carry the catalogue's size in points.
    const auto defined = Matches(drv, std::regex(R"(#media "([A-Za-z0-9]+)/[^"]*" (\d+) (\d+))"));
    for (const auto& size : defined) {
        const PrintPaperSize* paper = nullptr;
        for (const PrintPaperSize& entry : kPaperSizes)
            if (size[1].str() == entry.ppdName) paper = &entry;
        ASSERT_NE(paper, nullptr) << size[1].str();
        EXPECT_EQ(std::stoi(size[2].str()), paper->width * 72 / 2540) << paper->ppdName;
        EXPECT_EQ(std::stoi(size[3].str()), paper->length * 72 / 2540) << paper->ppdName;
    }
}

TEST(Choices, ThePpdQualityChoicesCarryTheIppNumbers) {
    const std::string drv = ReadDrv();
    const auto choices =
        Matches(drv, std::regex(R"(\*?Choice "([A-Za-z]+)/[^"]*" "<</cupsInteger8 (\d)>>)"));
    ASSERT_EQ(choices.size(), std::size(kQualities));
    for (std::size_t i = 0; i < choices.size(); ++i) {
        EXPECT_EQ(choices[i][1].str(), kQualities[i].ppdChoice);
        EXPECT_EQ(std::stoi(choices[i][2].str()), kQualities[i].quality);
    }
}

// The READMEs' tables of the PPD's and the command line's choices name every entry.
TEST(Choices, TheReadmesNameEveryChoice) {
    const std::string cups = ReadSource("cups/README.md");
    const std::string media = LineStarting(cups, "| `MediaType` |");
    const std::string sizes = LineStarting(cups, "| `PageSize` |");
    ASSERT_FALSE(media.empty());
    ASSERT_FALSE(sizes.empty());
    for (const PrintMediaType& type : kMediaTypes) {
        if (type.ppdChoice == nullptr) continue;
        EXPECT_NE(media.find(std::string("`") + type.ppdChoice + "`"), std::string::npos)
            << type.ppdChoice;
        EXPECT_NE(media.find(std::to_string(type.mediaCode)), std::string::npos) << type.ppdChoice;
    }
    const std::string top = ReadSource("README.md");
    const std::size_t paper = top.find("`--paper ");
    ASSERT_NE(paper, std::string::npos);
    const std::string cli = top.substr(paper, top.find('`', paper + 1) - paper);
    for (const PrintPaperSize& size : kPaperSizes) {
        EXPECT_NE(sizes.find(std::string("`") + size.ppdName + "`"), std::string::npos)
            << size.ppdName;
        EXPECT_NE(cli.find(size.cliName), std::string::npos) << size.cliName;
    }
}

// A driver offers a media type when some quality prints its column with the driver's
// inks; the black driver needs the black-only configuration.
bool Offers(const PrintDriver& driver, int mediaCode) {
    for (std::int16_t quality : kQualityOfRow) {
        const auto media = static_cast<std::int16_t>(mediaCode);
        if (LookupInkSet(quality, media, InkSetTable) == kInkSetNone) continue;
        PageConfiguration configuration{};
        const std::int16_t blackOnly = driver.kind == PRINT_DRIVER_BLACK ? 1 : 0;
        if (!ChoosePageConfiguration(quality, media, blackOnly, 0, 0, &configuration)) continue;
        if ((driver.inkSets >> configuration.inkSetId) & 1u) return true;
    }
    return false;
}

TEST(Choices, EveryMediaTypeIsOfferedWhereItsDriversSay) {
    for (const PrintMediaType& type : kMediaTypes) {
        for (const PrintDriver& driver : kDrivers) {
            const bool listed = (type.drivers & PRINT_DRIVER_BIT(driver.kind)) != 0;
            EXPECT_EQ(listed, Offers(driver, type.mediaCode))
                << type.ippKeyword << " with " << driver.name;
        }
    }
}

TEST(Choices, DriversAndQualitiesAreWhole) {
    for (int kind = 0; kind < PRINT_DRIVER_COUNT; ++kind) {
        const PrintDriver& driver = kDrivers[kind];
        EXPECT_EQ(driver.kind, kind);
        bool defaultOffered = false;
        for (const PrintMediaType& type : kMediaTypes)
            if (std::string(type.ippKeyword) == driver.mediaDefault)
                defaultOffered = (type.drivers & PRINT_DRIVER_BIT(kind)) != 0;
        EXPECT_TRUE(defaultOffered) << driver.name;
        // Every ink set a cell of the tables names is printable by some driver.
        EXPECT_EQ(driver.inkSets & 1u, 0u) << "no driver prints ink set none";
    }
    for (const PrintQualityInfo& quality : kQualities) {
        // Each order names every quality row once, so no fallback is ever missed.
        for (const int* order : {quality.order, quality.sixteenOrder}) {
            int rows = 0;
            for (int i = 0; i < 5; ++i)
                rows |= 1 << QualityRow(static_cast<std::int16_t>(order[i]));
            EXPECT_EQ(rows, (1 << kQualityRows) - 1) << quality.ippName;
        }
    }
}

}  // namespace
}  // namespace inkrow
