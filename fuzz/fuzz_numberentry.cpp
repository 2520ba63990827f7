// SPDX-License-Identifier: MIT
// The number typed in Text1: parseFrameNumber against a slow reference that
// reads the text as a long double and rounds half to even.
#include "protocol/numberentry.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char *what, std::string_view text)
{
    std::fprintf(stderr, "invariant broken: %s for \"%.*s\"\n", what, int(text.size()),
                 text.data());
    std::abort();
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The accepted shape: blanks, an optional sign, digits with at most one
// point and at least one digit, blanks. Returns the number without blanks,
// and how many fraction digits matter (trailing zeros do not).
struct Shape
{
    std::string number;
    std::size_t significantFraction = 0;
};

std::optional<Shape> shapeOf(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    const std::string_view core = text.substr(b, e - b);
    std::size_t i = 0;
    if (i < core.size() && (core[i] == '+' || core[i] == '-'))
        ++i;
    std::size_t digits = 0, point = std::string_view::npos;
    for (; i < core.size(); ++i) {
        if (core[i] >= '0' && core[i] <= '9')
            ++digits;
        else if (core[i] == '.' && point == std::string_view::npos)
            point = i;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    Shape shape{std::string(core), 0};
    if (point != std::string_view::npos) {
        std::size_t last = core.size();
        while (last > point + 1 && core[last - 1] == '0')
            --last;
        shape.significantFraction = last - point - 1;
    }
    return shape;
}

// Whole-part digits beyond this put the value far above 255, where the
// precision of a long double no longer decides anything.
std::size_t significantWholeDigits(const std::string &number)
{
    std::size_t i = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    while (i < number.size() && number[i] == '0')
        ++i;
    std::size_t n = 0;
    while (i + n < number.size() && number[i + n] != '.')
        ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<std::uint8_t> got = korvale::parseFrameNumber(text);

    const std::optional<Shape> shape = shapeOf(text);
    if (!shape) {
        if (got)
            fail("a text of the wrong shape gave a number", text);
        return 0;
    }

    // Blanks around the text never change the result.
    if (korvale::parseFrameNumber(" " + shape->number + "\t") != got)
        fail("blanks changed the result", text);
    // Nor do zeros after the point.
    if (shape->number.find('.') != std::string::npos &&
        korvale::parseFrameNumber(shape->number + "000") != got)
        fail("trailing fraction zeros changed the result", text);

    // A long double holds about 19 significant digits: with at most four
    // below 256 and twelve after the point, its nearest value lies on the
    // same side of every half-way point as the exact one.
    const bool referenceExact =
        shape->significantFraction <= 12 || significantWholeDigits(shape->number) > 4;
    if (!referenceExact)
        return 0;

    char *end = nullptr;
    const long double value = std::strtold(shape->number.c_str(), &end);
    if (end != shape->number.c_str() + shape->number.size())
        fail("reference could not read a valid text", text);
    std::fesetround(FE_TONEAREST);
    const long double rounded = std::nearbyint(value);
    std::optional<std::uint8_t> expected;
    if (rounded >= 0.0L && rounded <= 255.0L)
        expected = static_cast<std::uint8_t>(rounded);
    if (got != expected)
        fail("differs from the reference", text);
    return 0;
}
