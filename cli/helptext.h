// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// --help of the tool (empty topic) or of one command. The manual page is
// written from these texts: change them with care.
QString helpText(const QString &topic);
