// Small command-line helpers shared by the tools.
#pragma once

#include <cerrno>
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

}  // namespace inkrow::cli
