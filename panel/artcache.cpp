// SPDX-License-Identifier: MIT
#include "panel/artcache.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

namespace {

struct ArtKey
{
    QString resource;
    QSize size;
    qreal ratio;
    bool operator==(const ArtKey &) const = default;
};

size_t qHash(const ArtKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.resource, key.size.width(), key.size.height(), key.ratio);
}

} // namespace

QPixmap renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio)
{
    static QHash<ArtKey, QPixmap> cache;
    const ArtKey key{resource, logicalSize, devicePixelRatio};
    if (const auto it = cache.constFind(key); it != cache.cend())
        return *it;

    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    {
        QSvgRenderer renderer(resource);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter); // stretched to the whole pixmap
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}
