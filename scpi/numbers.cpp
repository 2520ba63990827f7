// SPDX-License-Identifier: MIT
#include "scpi/numbers.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <strings.h>

namespace korvale::scpi {

namespace {

bool named(const Parameter &p, const char *shortForm, const char *longForm)
{
    return p.type == Parameter::Type::Character && (strcasecmp(p.text.c_str(), shortForm) == 0 ||
                                                    strcasecmp(p.text.c_str(), longForm) == 0);
}

// A number too large for an integer is out of any range here.
constexpr double kHuge = 1e15;

} // namespace

Value<double> quantityLimit(const Parameter &p, const Quantity &q)
{
    if (named(p, "MIN", "MINIMUM") || named(p, "DEF", "DEFAULT"))
        return {0, 0};
    if (named(p, "MAX", "MAXIMUM"))
        return {q.max, 0};
    return {0, p.type == Parameter::Type::String ? -104 : -224};
}

Value<double> quantityValue(const Parameter &p, const Quantity &q)
{
    if (p.type != Parameter::Type::Numeric)
        return quantityLimit(p, q);
    double scale = 1;
    const std::string &s = p.suffix;
    // Suffixes have no case, so "MA" is read as milliamperes, as scripts
    // mean it, never as the mega multiplier alone.
    if (s.size() == 2 && (s[0] == 'm' || s[0] == 'M'))
        scale = 1e-3;
    else if (s.size() > 1)
        return {0, -131};
    if (!s.empty() && std::toupper(static_cast<unsigned char>(s.back())) != q.unit)
        return {0, -131};
    const double unitsPerStep = std::pow(10.0, q.decimals);
    const double steps = p.number * scale * unitsPerStep;
    if (!(std::fabs(steps) < kHuge))
        return {0, -222};
    const double rounded = double(std::llround(steps));
    if (rounded < 0 || rounded > std::llround(q.max * unitsPerStep))
        return {0, -222};
    return {rounded / unitsPerStep, 0};
}

Value<unsigned> integerValue(const Parameter &p, unsigned max)
{
    if (p.type != Parameter::Type::Numeric)
        return {0, -104};
    if (!p.suffix.empty())
        return {0, -138};
    if (!(std::fabs(p.number) < kHuge))
        return {0, -222};
    const long long n = std::llround(p.number);
    if (n < 0 || n > static_cast<long long>(max))
        return {0, -222};
    return {unsigned(n), 0};
}

Value<bool> booleanValue(const Parameter &p)
{
    if (named(p, "ON", "ON"))
        return {true, 0};
    if (named(p, "OFF", "OFF"))
        return {false, 0};
    if (p.type == Parameter::Type::Character)
        return {false, -224};
    if (p.type == Parameter::Type::String)
        return {false, -104};
    if (!p.suffix.empty())
        return {false, -138};
    return {std::fabs(p.number) >= 0.5, 0};
}

std::string fixed(double value, int decimals)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

} // namespace korvale::scpi
