// SPDX-License-Identifier: MIT
#include "scpi/commandtree.h"

#include <algorithm>
#include <cctype>

namespace korvale::scpi {

namespace {

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

HeaderPattern::HeaderPattern(std::string_view text)
{
    if (!text.empty() && text.back() == '?') {
        m_query = true;
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '*') {
        m_common = true;
        text.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < text.size()) {
        Node node;
        std::size_t end;
        if (text[i] == '[') {
            node.optional = true;
            end = text.find(']', i);
        } else {
            end = std::min(text.find_first_of(":[", i + 1), text.size());
        }
        std::string_view name = text.substr(i, end - i);
        i = end + (node.optional ? 1 : 0);
        while (!name.empty() && (name.front() == '[' || name.front() == ':'))
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ':')
            name.remove_suffix(1);
        if (name.empty())
            continue;
        for (const char c : name) {
            if (!std::islower(static_cast<unsigned char>(c)))
                node.shortForm += c;
        }
        node.longForm = upper(name);
        m_nodes.push_back(std::move(node));
    }
}

bool HeaderPattern::matches(std::span<const std::string> nodes) const
{
    return matchFrom(0, nodes);
}

bool HeaderPattern::matchFrom(std::size_t pattern, std::span<const std::string> nodes) const
{
    if (pattern == m_nodes.size())
        return nodes.empty();
    const Node &node = m_nodes[pattern];
    if (!nodes.empty()) {
        const std::string typed = upper(nodes.front());
        if ((typed == node.shortForm || typed == node.longForm) &&
            matchFrom(pattern + 1, nodes.subspan(1)))
            return true;
    }
    return node.optional && matchFrom(pattern + 1, nodes);
}

std::string HeaderPattern::shortest() const
{
    std::string out = m_common ? "*" : "";
    for (const Node &node : m_nodes) {
        if (node.optional)
            continue;
        if (!out.empty() && out != "*")
            out += ':';
        out += node.shortForm;
    }
    return m_query ? out + '?' : out;
}

std::vector<std::string> CommandPath::resolve(bool absolute, const std::vector<std::string> &nodes)
{
    if (absolute)
        m_path.clear();
    if (nodes.empty())
        return m_path;
    std::vector<std::string> full = m_path;
    full.insert(full.end(), nodes.begin(), nodes.end());
    m_path.assign(full.begin(), full.end() - 1);
    return full;
}

} // namespace korvale::scpi
