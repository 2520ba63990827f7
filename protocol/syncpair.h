// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace korvale {

// Opens every frame in both directions.
inline constexpr std::uint8_t kSyncFirst = 0xEB;
inline constexpr std::uint8_t kSyncSecond = 0x90;

} // namespace korvale
