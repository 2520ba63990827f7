// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvale {

// The data byte of a numbered frame from the text the operator typed: spaces
// around it are ignored, the rest must be a plain decimal number ("12",
// "7.2", "+3", ".5"); a fraction is rounded to the nearest whole number with
// ties to even, and the result must lie in 0..255. Anything else (empty text,
// letters, exponents, a second point, out of range) gives nothing.
std::optional<std::uint8_t> parseFrameNumber(std::string_view text);

} // namespace korvale
