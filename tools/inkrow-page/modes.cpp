// inkrow-page --modes (modes.h).
#include "modes.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace inkrow::page {

// Each printer plane the split drives carries two bits per pixel.
constexpr int kSplitOutputBits = 2;

// "CMYK"; the split adds the count of inks only it reaches: "CMYcmk+10".
std::string DescribeInks(const RenderMode& mode) {
    std::string inks = mode.inks;
    if (mode.split != 0) {
        inks += '+';
        inks += std::to_string(mode.printerPlanes - mode.planeCount);
    }
    return inks;
}

// "2c 2c 1 1": bits per pixel of each plane, c where the plane is code-converted.
std::string DescribeFormats(const RenderMode& mode) {
    if (mode.split != 0)
        return std::to_string(mode.planeCount) + " inputs x " +
               std::to_string(mode.planes[0].bitsPerPixel) + " -> " +
               std::to_string(mode.printerPlanes) + " x " + std::to_string(kSplitOutputBits) +
               " (split)";
    std::string text;
    for (int plane = 0; plane < mode.planeCount; ++plane) {
        if (!text.empty()) text += ' ';
        text += std::to_string(mode.planes[plane].bitsPerPixel);
        if (mode.planes[plane].codeConverted != 0) text += 'c';
    }
    return text;
}

// The codes probed to find which quality and media codes print alike. The range reaches
// past the codes in use on both sides, so the catch-all group holds a code no job names.
constexpr int kFirstProbe = -5;
constexpr int kLastProbe = 40;
constexpr int kProbes = kLastProbe - kFirstProbe + 1;
// The quality codes jobs use; the media codes in use are 0 .. kLastMediaCode.
constexpr int kNamedQualities[] = {0, 5, 10, 15, 20, 30};
constexpr int kLastMediaCode = 37;

// Everything a print mode asks of a caller but the lines per row, as text to compare;
// "-" for no print mode.
std::string Fingerprint(const RenderModeRequest& request) {
    RenderMode mode{};
    if (!DescribeMode(request, &mode)) return "-";
    std::string text = std::to_string(mode.inkSetId) + ":" + std::to_string(mode.printerPlanes) +
                       ":" + std::to_string(mode.split) + ":";
    for (int i = 0; i < mode.planeCount; ++i) {
        const RenderPlaneInfo& plane = mode.planes[i];
        for (int field : {int{plane.inkCode}, plane.bitsPerPixel, plane.levels, plane.codeConverted,
                          plane.split, plane.splitOutputs})
            text += std::to_string(field) + ",";
        text += ";";
    }
    return text;
}

// What every probed pair of codes does under every combination of the page flags.
class ModeProbe {
public:
    ModeProbe() : cells_(static_cast<std::size_t>(kProbes) * kProbes) {
        for (int q = 0; q < kProbes; ++q) {
            for (int m = 0; m < kProbes; ++m) {
                std::string& cell = cells_[Index(q, m)];
                for (int flags = 0; flags < 8; ++flags) {
                    RenderModeRequest request{};
                    request.qualityCode = kFirstProbe + q;
                    request.mediaCode = kFirstProbe + m;
                    request.blackOnly = flags & 1;
                    request.kForBlack = (flags >> 1) & 1;
                    request.keepColor = (flags >> 2) & 1;
                    request.resolution = 600;
                    cell += Fingerprint(request) + "|";
                }
            }
        }
    }

    // Two quality codes print alike when they do with every media code, and the other
    // way round.
    bool SameQuality(int a, int b) const {
        for (int m = 0; m < kProbes; ++m)
            if (cells_[Index(a - kFirstProbe, m)] != cells_[Index(b - kFirstProbe, m)])
                return false;
        return true;
    }
    bool SameMedia(int a, int b) const {
        for (int q = 0; q < kProbes; ++q)
            if (cells_[Index(q, a - kFirstProbe)] != cells_[Index(q, b - kFirstProbe)])
                return false;
        return true;
    }

private:
    static std::size_t Index(int q, int m) { return static_cast<std::size_t>(q) * kProbes + m; }
    std::vector<std::string> cells_;
};

// Gives every probed code to a representative it prints alike with: a representative is
// its own, any other code goes to the first alike in `representatives`. Returns the
// codes of each representative, in increasing order.
std::vector<std::vector<int>> GroupCodes(const std::vector<int>& representatives,
                                         bool (ModeProbe::*same)(int, int) const,
                                         const ModeProbe& probe) {
    std::vector<std::vector<int>> groups(representatives.size());
    for (int code = kFirstProbe; code <= kLastProbe; ++code) {
        const auto own = std::find(representatives.begin(), representatives.end(), code);
        auto group = own;
        if (own == representatives.end())
            group = std::find_if(representatives.begin(), representatives.end(),
                                 [&](int r) { return (probe.*same)(code, r); });
        if (group != representatives.end())
            groups[static_cast<std::size_t>(group - representatives.begin())].push_back(code);
    }
    return groups;
}

std::string JoinCodes(const std::vector<int>& codes) {
    std::string text;
    for (int code : codes) {
        if (!text.empty()) text += ", ";
        text += std::to_string(code);
    }
    return text;
}

// The quality codes jobs use in a group, and "other" when it holds any further code.
std::string QualityLabel(const std::vector<int>& group) {
    std::vector<int> named;
    bool other = false;
    for (int code : group) {
        if (std::find(std::begin(kNamedQualities), std::end(kNamedQualities), code) !=
            std::end(kNamedQualities))
            named.push_back(code);
        else
            other = true;
    }
    std::string text = JoinCodes(named);
    if (other) text += text.empty() ? "other" : ", other";
    return text;
}

// A group's media codes; the catch-all group, which most codes fall into, says "other".
std::string MediaLabel(const std::vector<int>& group) {
    const bool catchAll = std::any_of(group.begin(), group.end(),
                                      [](int code) { return code < 0 || code > kLastMediaCode; });
    return catchAll ? "other" : JoinCodes(group);
}

void PrintModes(const Options& options) {
    std::printf(
        "page flags:%s%s%s%s\n", options.mode.blackOnly ? " --black-only" : "",
        options.mode.kForBlack ? " --k-for-black" : "",
        options.mode.keepColor ? " --keep-color" : "",
        options.mode.blackOnly || options.mode.kForBlack || options.mode.keepColor ? "" : " none");
    std::printf("bits per pixel of the lines handed in, plane 0 first; c: code-converted\n\n");
    std::printf("  %-14s %-12s %-4s %-10s %-6s %-31s %s\n", "quality", "media", "set", "inks",
                "planes", "bits per pixel", "lines/row 300/600");

    // One pair per quality row and media column of the module's tables, lowest quality
    // code first.
    std::vector<RenderModePair> pairs(static_cast<std::size_t>(RenderListModePairs(nullptr, 0)));
    RenderListModePairs(pairs.data(), static_cast<int>(pairs.size()));
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const RenderModePair& a, const RenderModePair& b) {
                         return a.qualityCode < b.qualityCode;
                     });
    std::vector<int> qualities;
    std::vector<int> media;
    for (const RenderModePair& pair : pairs) {
        if (std::find(qualities.begin(), qualities.end(), pair.qualityCode) == qualities.end())
            qualities.push_back(pair.qualityCode);
        if (std::find(media.begin(), media.end(), pair.mediaCode) == media.end())
            media.push_back(pair.mediaCode);
    }
    const ModeProbe probe;
    const std::vector<std::vector<int>> qualityGroups =
        GroupCodes(qualities, &ModeProbe::SameQuality, probe);
    const std::vector<std::vector<int>> mediaGroups =
        GroupCodes(media, &ModeProbe::SameMedia, probe);
    auto label = [](const std::vector<int>& codes, const std::vector<std::vector<int>>& groups,
                    int code, std::string (*describe)(const std::vector<int>&)) {
        const auto at = std::find(codes.begin(), codes.end(), code);
        return describe(groups[static_cast<std::size_t>(at - codes.begin())]);
    };

    for (const RenderModePair& pair : pairs) {
        RenderModeRequest request = MakeRequest(pair.qualityCode, pair.mediaCode, options);
        request.formFeed = 0;
        request.resolution = 300;
        RenderMode mode300{};
        if (!DescribeMode(request, &mode300)) continue;
        request.resolution = 600;
        RenderMode mode{};
        if (!DescribeMode(request, &mode)) continue;
        const bool isDefault =
            pair.qualityCode == Options{}.mode.quality && pair.mediaCode == Options{}.mode.media;
        std::printf("%c %-14s %-12s %-4d %-10s %-6d %-31s %d/%d\n", isDefault ? '*' : ' ',
                    label(qualities, qualityGroups, pair.qualityCode, QualityLabel).c_str(),
                    label(media, mediaGroups, pair.mediaCode, MediaLabel).c_str(), mode.inkSetId,
                    DescribeInks(mode).c_str(), mode.printerPlanes, DescribeFormats(mode).c_str(),
                    mode300.linesPerRow, mode.linesPerRow);
    }
    std::printf(
        "\n* the default mode. A form-feed job always sends 8 lines per row; 360 dpi "
        "sends 1.\n");
}

}  // namespace inkrow::page
