// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A program message (one line without its terminator) split into its units
// by the IEEE 488.2 syntax, before any header is looked up.
namespace korvale::scpi {

struct Parameter
{
    enum class Type
    {
        Numeric,
        Character,
        String
    };
    Type type = Type::Numeric;
    // As typed; a string's contents without its quotes, doubled quotes single.
    std::string text;
    double number = 0;  // Numeric
    std::string suffix; // Numeric: as typed, "" for none
};

struct Unit
{
    bool common = false;   // *IDN?
    bool absolute = false; // a leading ':' starts from the root
    bool query = false;
    std::vector<std::string> nodes; // as typed, without '*' or ':'
    std::vector<Parameter> parameters;
};

struct Message
{
    std::vector<Unit> units;
    // When not 0, the unit after the last one could not be read and the rest
    // of the message is lost.
    int error = 0;
};

Message parseMessage(std::string_view line);

} // namespace korvale::scpi
