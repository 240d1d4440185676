// Small command-line helpers shared by the tools.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

}  // namespace inkrow::cli
