// SPDX-License-Identifier: MIT
#include "webpage/pageassets.h"

#include "webpage/panelhtml.h"

#include <QFile>

namespace {

std::optional<PageAsset> resource(const QString &path, const char *mimeType)
{
    QFile file(QStringLiteral(":/webpage") + path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return PageAsset{file.readAll(), mimeType};
}

} // namespace

std::optional<PageAsset> pageAsset(const QString &path)
{
    if (path == u"/")
        return PageAsset{panelHtml(), "text/html; charset=utf-8"};
    if (path == u"/panel.js")
        return resource(path, "text/javascript; charset=utf-8");
    if (path == u"/panel.css")
        return resource(path, "text/css; charset=utf-8");
    if (path.startsWith(u"/art/") && path.endsWith(u".svg") && !path.contains(u".."))
        return resource(path, "image/svg+xml");
    return std::nullopt;
}

PageAsset notFoundPage()
{
    return PageAsset{QByteArrayLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta "
                                       "charset=\"utf-8\"><title>Not found</title></head>\n"
                                       "<body><p>There is nothing at this address. The front "
                                       "panel is at <a href=\"/\">/</a>.</p></body></html>\n"),
                     "text/html; charset=utf-8"};
}
