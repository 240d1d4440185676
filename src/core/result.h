// Result codes as the module uses them internally; the public header gives the same
// values to callers.
#pragma once

#include <cstdint>

namespace inkrow {

inline constexpr std::int16_t kOk = 0;
inline constexpr std::int16_t kOpened = 0x0106;
inline constexpr std::int16_t kOpenFailed = static_cast<std::int16_t>(0x8106);
inline constexpr std::int16_t kFailed = static_cast<std::int16_t>(0xFF80);
inline constexpr std::int16_t kNoMemory = static_cast<std::int16_t>(0xFF94);
inline constexpr std::int16_t kNotNow = static_cast<std::int16_t>(0xFF00);
inline constexpr std::int16_t kNever = static_cast<std::int16_t>(0xFFFF);

}  // namespace inkrow
