// SPDX-License-Identifier: MIT
#pragma once

#include "scpi/message.h"

#include <cstdint>
#include <string>

// A parameter read as what a command wants: a setting in its unit, an
// integer, a boolean. Each gives a value or the error number that refuses it.
namespace korvale::scpi {

template <typename T> struct Value
{
    T value{};
    int error = 0;
};

// A setting's limits, the suffix of its unit and its resolution in decimals.
struct Quantity
{
    double max = 0;
    char unit = 'V'; // V, A or W; the suffix may carry an m before it
    int decimals = 2;
};

// Volts, amperes or watts, or MIN, MAX, DEF; rounded to the resolution.
Value<double> quantityValue(const Parameter &p, const Quantity &q);
// MIN, MAX or DEF alone (for a query's parameter).
Value<double> quantityLimit(const Parameter &p, const Quantity &q);
// A number rounded to an integer between 0 and `max`, without a suffix.
Value<unsigned> integerValue(const Parameter &p, unsigned max);
// ON, OFF, or a number: any but 0 is on.
Value<bool> booleanValue(const Parameter &p);

// Fixed point with `decimals` places, whatever the locale.
std::string fixed(double value, int decimals);

} // namespace korvale::scpi
