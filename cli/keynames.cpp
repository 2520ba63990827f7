// SPDX-License-Identifier: MIT
#include "cli/keynames.h"

#include "protocol/commandframe.h"

std::optional<std::uint8_t> keyCodeOfName(const QString &name, QString *why)
{
    for (int command = 1; command <= 11; ++command) {
        const std::string_view caption = korvale::keyCaptionOfCommand(command);
        if (name != QLatin1String(caption.data(), qsizetype(caption.size())))
            continue;
        const auto code = korvale::keyCodeOfCommand(command);
        if (!code)
            *why = QStringLiteral("key %1 sends nothing, on the panel as here").arg(name);
        return code;
    }
    *why = QStringLiteral("no key is named '%1' (keys: U u N I ENT F P CE I/O)").arg(name);
    return std::nullopt;
}
