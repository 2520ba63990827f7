// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The key code of a key named as printed on the panel ("U", "ENT", "I/O"...),
// case as printed. Nothing for "L" and "REM", which send nothing on the
// panel either, and for names that are no key; `why` then says which.
std::optional<std::uint8_t> keyCodeOfName(const QString &name, QString *why);
