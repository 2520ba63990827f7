// SPDX-License-Identifier: MIT
#include "protocol/numberentry.h"

namespace korvale {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::uint8_t> parseFrameNumber(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }

    // Exact decimal rounding without floating point: only the whole part,
    // the first fraction digit and whether anything non-zero follows it
    // decide the result. The whole part saturates well above 255 so that
    // any length of digits is safe.
    constexpr unsigned kSaturated = 1000;
    unsigned whole = 0;
    std::size_t digits = 0;
    std::size_t i = 0;
    for (; i < text.size() && isDigit(text[i]); ++i, ++digits) {
        whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
        if (whole > kSaturated)
            whole = kSaturated;
    }
    int firstFraction = 0;
    bool restNonZero = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (std::size_t k = 0; i < text.size() && isDigit(text[i]); ++i, ++k, ++digits) {
            if (k == 0)
                firstFraction = text[i] - '0';
            else if (text[i] != '0')
                restNonZero = true;
        }
    }
    if (digits == 0 || i != text.size())
        return std::nullopt;

    const bool roundUp =
        firstFraction > 5 || (firstFraction == 5 && (restNonZero || whole % 2 == 1));
    const unsigned rounded = whole + (roundUp ? 1 : 0);
    if (negative && rounded != 0)
        return std::nullopt;
    if (rounded > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(rounded);
}

} // namespace korvale
