// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// Headers as SCPI writes them, "[SOURce:]VOLTage[:LEVel]": each node in its
// short form (the capitals) or its long form, in any case; nodes in
// brackets may be left out.
namespace korvale::scpi {

class HeaderPattern
{
public:
    // "*IDN?", "MEASure[:SCALar]:VOLTage[:DC]?", "OUTPut[:STATe]"
    explicit HeaderPattern(std::string_view text);

    bool common() const { return m_common; }
    bool query() const { return m_query; }
    // The nodes as typed, without '*' or ':'.
    bool matches(std::span<const std::string> nodes) const;
    // The shortest header that matches: "MEAS:VOLT?".
    std::string shortest() const;

private:
    struct Node
    {
        std::string shortForm; // upper case
        std::string longForm;  // upper case
        bool optional = false;
    };
    bool matchFrom(std::size_t pattern, std::span<const std::string> nodes) const;

    std::vector<Node> m_nodes;
    bool m_common = false;
    bool m_query = false;
};

// Where the header of a unit starts in the tree: a leading ':' or the start
// of a message goes back to the root, a common command leaves the place
// alone, any other header moves it to the node above its last.
class CommandPath
{
public:
    void reset() { m_path.clear(); }
    // The full header of a unit typed here; moves the path for the next one.
    std::vector<std::string> resolve(bool absolute, const std::vector<std::string> &nodes);

private:
    std::vector<std::string> m_path;
};

} // namespace korvale::scpi
