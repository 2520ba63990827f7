// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// --help of the tool (empty topic) or of one command. help2man makes the
// manual pages from these texts, so they keep to its forms: "or:" before each
// further usage line, "Options:" and "Examples:" as headings, "$ " before an
// example command and "> " before its continuation lines.
QString helpText(const QString &topic);
