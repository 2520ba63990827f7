// SPDX-License-Identifier: MIT
#include "serve/livemessage.h"

#include <algorithm>

namespace korvale {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal without sign or leading zero, up to `max`; nothing otherwise.
std::optional<std::uint64_t> decimal(std::string_view digits, std::uint64_t max)
{
    if (digits.empty() || digits.size() > 10 || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits)
        value = value * 10 + std::uint64_t(c - '0');
    if (value > max)
        return std::nullopt;
    return value;
}

ParsedLiveRequest refused(std::uint32_t id, std::string why)
{
    return {std::nullopt, id, std::move(why)};
}

} // namespace

ParsedLiveRequest parseLiveRequest(std::string_view message)
{
    if (message.size() > kLiveRequestMaxBytes)
        return refused(0, "A request is at most 128 bytes.");
    const std::size_t space = message.find(' ');
    const auto id = decimal(message.substr(0, space), 0xFFFFFFFFu);
    if (!id || space == std::string_view::npos)
        return refused(0, "A request starts with its number from 1 to 4294967295 and a space.");
    const auto requestId = std::uint32_t(*id);
    // Printable ASCII only: no control bytes, nothing beyond 0x7E.
    if (!std::all_of(message.begin(), message.end(), [](char c) { return c >= 0x20 && c <= 0x7E; }))
        return refused(requestId, "A request is plain printable ASCII.");

    const std::string_view rest = message.substr(space + 1);
    const std::size_t textSpace = rest.find(' ');
    const std::string_view control = rest.substr(0, textSpace);
    constexpr std::string_view kPrefix = "Command";
    std::optional<std::uint64_t> command;
    if (control.substr(0, kPrefix.size()) == kPrefix)
        command = decimal(control.substr(kPrefix.size()), 13);
    if (!command)
        return refused(requestId, "The control is one of Command1 to Command13.");

    LiveRequest request{requestId, int(*command), {}};
    if (textSpace != std::string_view::npos) {
        if (request.command != 12 && request.command != 13)
            return refused(requestId, "Only the arrows (Command12, Command13) take a text.");
        const std::string_view text = rest.substr(textSpace + 1);
        if (text.size() > kLiveTextMaxBytes)
            return refused(requestId, "The number box's text is at most 64 bytes.");
        request.text = std::string(text);
    }
    return {std::move(request), requestId, {}};
}

} // namespace korvale
