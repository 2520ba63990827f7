// SPDX-License-Identifier: MIT
#include "panel/artcache.h"

#include <QFileInfo>
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

QImage renderArtImage(const QString &source, QSize pixels)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(source);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter); // stretched to the whole image
    return image;
}

QString bakedArtPath(const QString &resource, QSize pixels)
{
    return QStringLiteral(":/baked/%1-%2x%3.png")
        .arg(QFileInfo(resource).completeBaseName())
        .arg(pixels.width())
        .arg(pixels.height());
}

QPixmap renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio)
{
    static QHash<ArtKey, QPixmap> cache;
    const ArtKey key{resource, logicalSize, devicePixelRatio};
    if (const auto it = cache.constFind(key); it != cache.cend())
        return *it;

    const QSize pixels = logicalSize * devicePixelRatio;
    QPixmap pixmap;
    if (!pixmap.load(bakedArtPath(resource, pixels)))
        pixmap = QPixmap::fromImage(renderArtImage(resource, pixels));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}
