// SPDX-License-Identifier: MIT
#include "cli/keynames.h"

#include "protocol/commandframe.h"

#include <array>

namespace {

struct KeyName
{
    const char *caption;
    int command; // the panel's CommandN
};

constexpr std::array<KeyName, 11> kKeys = {{
    {"U", 1},
    {"u", 4},
    {"N", 7},
    {"I", 2},
    {"ENT", 5},
    {"F", 8},
    {"P", 3},
    {"CE", 6},
    {"L", 9},
    {"I/O", 10},
    {"REM", 11},
}};

} // namespace

std::optional<std::uint8_t> keyCodeOfName(const QString &name, QString *why)
{
    for (const KeyName &key : kKeys) {
        if (name != QLatin1String(key.caption))
            continue;
        const auto code = korvale::keyCodeOfCommand(key.command);
        if (!code)
            *why = QStringLiteral("key %1 sends nothing, on the panel as here").arg(name);
        return code;
    }
    *why = QStringLiteral("no key is named '%1' (keys: U u N I ENT F P CE I/O)").arg(name);
    return std::nullopt;
}
