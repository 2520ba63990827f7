// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A file of the web front panel, as served.
struct PageAsset
{
    QByteArray body;
    QByteArray mimeType; // "text/html; charset=utf-8", "image/svg+xml", ...
};

// The page at "/" and every file it loads, by URL path ("/", "/panel.js",
// "/art/frontpanel.svg", ...); nothing for a path the page does not use.
std::optional<PageAsset> pageAsset(const QString &path);

// What a path the page does not use gets: a short page saying so, with a
// link to the panel, which a browser shows rather than saves.
PageAsset notFoundPage();
