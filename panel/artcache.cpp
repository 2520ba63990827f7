// SPDX-License-Identifier: MIT
#include "panel/artcache.h"

#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QResource>
#include <QSvgRenderer>

namespace {

constexpr auto kBakedFormat = QImage::Format_ARGB32_Premultiplied;

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

// Null when that size was not baked.
QImage bakedArt(const QString &resource, QSize pixels)
{
    const QResource baked(bakedArtPath(resource, pixels));
    const int stride = pixels.width() * 4;
    if (!baked.isValid() || baked.uncompressedSize() != qint64(stride) * pixels.height())
        return {};
    // Uncompressed pixels are read in place, where QImage can take them: on a
    // 4-byte boundary. They last as long as the program.
    if (baked.compressionAlgorithm() == QResource::NoCompression &&
        reinterpret_cast<quintptr>(baked.data()) % alignof(quint32) == 0)
        return QImage(baked.data(), pixels.width(), pixels.height(), stride, kBakedFormat);
    const QByteArray bytes = baked.uncompressedData();
    return QImage(reinterpret_cast<const uchar *>(bytes.constData()), pixels.width(),
                  pixels.height(), stride, kBakedFormat)
        .copy();
}

} // namespace

QImage renderArtImage(const QString &source, QSize pixels)
{
    QImage image(pixels, kBakedFormat);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(source);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter); // stretched to the whole image
    return image;
}

QString bakedArtPath(const QString &resource, QSize pixels)
{
    return QStringLiteral(":/baked/%1-%2x%3.argb32")
        .arg(QFileInfo(resource).completeBaseName())
        .arg(pixels.width())
        .arg(pixels.height());
}

QImage renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio)
{
    static QHash<ArtKey, QImage> cache;
    const ArtKey key{resource, logicalSize, devicePixelRatio};
    if (const auto it = cache.constFind(key); it != cache.cend())
        return *it;

    const QSize pixels = logicalSize * devicePixelRatio;
    QImage image = bakedArt(resource, pixels);
    if (image.isNull())
        image = renderArtImage(resource, pixels);
    image.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, image);
    return image;
}

QIcon artIcon(const QString &resource, int pixels)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(QPixmap::fromImage(renderedArt(resource, QSize(pixels, pixels), ratio)));
    return icon;
}
