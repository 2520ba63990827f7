// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <memory>

namespace CLI {
class App;
}

// The commands and options of korvale-cli as CLI11 reads them, each with its
// help. Every option of a command is also on the tool itself, out of the
// help, so that it may stand before the command too, and so that one given to
// the wrong command is still read with its value and refused by name.
std::unique_ptr<CLI::App> commandLine();

// --help of the tool (empty topic) or of one command. help2man makes the
// manual pages from these texts, so they keep to its forms: "or:" before each
// further usage line, "Options:" and "Examples:" as headings, "$ " before an
// example command and "> " before its continuation lines.
QString helpText(const QString &topic);
