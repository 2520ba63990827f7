// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A request of the web panel on its live channel: "ID CONTROL[ TEXT]", such
// as "7 Command5" or "8 Command12 12.5". Plain C++, so it can be fuzzed.
namespace korvale {

inline constexpr std::size_t kLiveRequestMaxBytes = 128;
inline constexpr std::size_t kLiveTextMaxBytes = 64;

struct LiveRequest
{
    std::uint32_t id = 0; // chosen by the page, 1 and up
    int command = 0;      // CommandN, 1 to 13
    std::string text;     // the number box's text, for Command12 and 13 only
};

struct ParsedLiveRequest
{
    std::optional<LiveRequest> request;
    // When there is no request: the id, if one could be read (else 0), and
    // one sentence saying what is wrong.
    std::uint32_t id = 0;
    std::string why;
};

ParsedLiveRequest parseLiveRequest(std::string_view message);

} // namespace korvale
