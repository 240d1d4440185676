// Small command-line helpers shared by the tools.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inkrow/render.h"

namespace inkrow::cli {

// Reads a whole decimal argument within [low, high]; false for anything else.
inline bool ParseNumber(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

// Reads the number that follows the flag at argv[*i], within [low, high], and steps *i
// past it; otherwise says "TOOL: FLAG needs a number from LOW to HIGH" and returns false.
inline bool TakeNumber(const char* tool, int argc, char** argv, int* i, long low, long high,
                       long* value) {
    if (*i + 1 >= argc || !ParseNumber(argv[*i + 1], low, high, value)) {
        std::fprintf(stderr, "%s: %s needs a number from %ld to %ld\n", tool, argv[*i], low, high);
        return false;
    }
    ++*i;
    return true;
}

// Reads a whole file into *bytes; otherwise says "TOOL: cannot open/read PATH" and
// returns false.
inline bool ReadWholeFile(const char* tool, const std::string& path,
                          std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", tool, path.c_str(), std::strerror(errno));
        return false;
    }
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) std::fprintf(stderr, "%s: cannot read %s\n", tool, path.c_str());
    return !failed;
}

// The print mode as the tools take it: --quality Q, --media M and the three page flags.
struct ModeFlags {
    long quality = 0;
    long media = 0;
    bool haveQuality = false;
    bool haveMedia = false;
    bool blackOnly = false;
    bool kForBlack = false;
    bool keepColor = false;
};

inline bool HasPageFlag(const ModeFlags& flags) {
    return flags.blackOnly || flags.kForBlack || flags.keepColor;
}

// Describes the print mode the flags ask for; false when the pair has no ink set.
inline bool DescribeMode(const ModeFlags& flags, RenderMode* mode) {
    RenderModeRequest request{};
    request.qualityCode = static_cast<int>(flags.quality);
    request.mediaCode = static_cast<int>(flags.media);
    request.blackOnly = flags.blackOnly ? 1 : 0;
    request.kForBlack = flags.kForBlack ? 1 : 0;
    request.keepColor = flags.keepColor ? 1 : 0;
    return RenderDescribeMode(&request, mode) == RENDER_OK;
}

enum class Taken { kNotMine, kTaken, kBad };

// Takes argv[*i] into *flags when it is one of the print-mode flags, stepping *i past its
// value. kBad means the value was wrong and the message has been written.
inline Taken TakeModeFlag(const char* tool, int argc, char** argv, int* i, ModeFlags* flags) {
    const char* argument = argv[*i];
    long* number = nullptr;
    bool* have = nullptr;
    if (std::strcmp(argument, "--quality") == 0) {
        number = &flags->quality;
        have = &flags->haveQuality;
    } else if (std::strcmp(argument, "--media") == 0) {
        number = &flags->media;
        have = &flags->haveMedia;
    } else if (std::strcmp(argument, "--black-only") == 0) {
        flags->blackOnly = true;
        return Taken::kTaken;
    } else if (std::strcmp(argument, "--k-for-black") == 0) {
        flags->kForBlack = true;
        return Taken::kTaken;
    } else if (std::strcmp(argument, "--keep-color") == 0) {
        flags->keepColor = true;
        return Taken::kTaken;
    } else {
        return Taken::kNotMine;
    }
    if (!TakeNumber(tool, argc, argv, i, -32768, 32767, number)) return Taken::kBad;
    *have = true;
    return Taken::kTaken;
}

}  // namespace inkrow::cli
