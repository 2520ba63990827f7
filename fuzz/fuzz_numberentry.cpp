// SPDX-License-Identifier: MIT
// The number typed in Text1: parseFrameNumber against a slow reference that
// reads the text as a long double and rounds half to even.
#include "fuzz/fuzzcheck.h"
#include "protocol/numberentry.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

// Blanks, a sign or none, digits with at most one point, blanks.
const std::regex kAccepted("[ \t]*([+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+))[ \t]*");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<std::uint8_t> got = korvale::parseFrameNumber(text);
    std::match_results<std::string_view::const_iterator> match;
    const bool shaped = std::regex_match(text.begin(), text.end(), match, kAccepted);
    check(shaped || !got, "a text of the wrong shape gave a number", text);
    if (!shaped)
        return 0;
    const std::string number = match.str(1);
    check(korvale::parseFrameNumber(" " + number + "\t") == got, "blanks changed it", text);

    // A long double holds about 19 significant digits: with at most four
    // below 256 and twelve after the point, its nearest value lies on the
    // same side of every half-way point as the exact one.
    const auto point = number.find('.');
    const auto lastDigit = number.find_last_not_of('0');
    const auto wholeDigits = number.substr(0, point).find_first_not_of("+-0");
    if (point != std::string::npos && lastDigit > point + 12 &&
        (wholeDigits == std::string::npos || point - wholeDigits <= 4))
        return 0;
    std::fesetround(FE_TONEAREST);
    const long double rounded = std::nearbyint(std::strtold(number.c_str(), nullptr));
    const std::optional<std::uint8_t> expected =
        rounded >= 0.0L && rounded <= 255.0L ? std::optional(std::uint8_t(rounded)) : std::nullopt;
    check(got == expected, "differs from the reference", text);
    return 0;
}
