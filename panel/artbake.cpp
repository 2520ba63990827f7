// SPDX-License-Identifier: MIT
// Build-time tool: renders a picture of the panel's artwork at a fixed pixel
// size to raw pixels (see bakedArtPath), with the same renderer the panel
// uses, so that the panel can show its pictures at the usual sizes without
// decoding or rendering anything while it starts.
#include "panel/artcache.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: korvale-artbake PICTURE.svg WIDTH HEIGHT OUT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QSize pixels(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt());
    QFile out(QString::fromLocal8Bit(argv[4]));
    const QImage image = pixels.isEmpty() ? QImage() : renderArtImage(source, pixels);
    const auto bytes = reinterpret_cast<const char *>(image.constBits());
    if (image.isNull() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(bytes, image.sizeInBytes()) != image.sizeInBytes() || !out.flush()) {
        std::fprintf(stderr, "korvale-artbake: cannot render %s to %s\n", argv[1], argv[4]);
        return 1;
    }
    return 0;
}
