// SPDX-License-Identifier: MIT
// Build-time tool: renders a picture of the panel's artwork at a fixed pixel
// size to PNG, with the same renderer the panel uses, so that the panel can
// show its drawing at the usual sizes without rendering vector art (and its
// text) while it starts.
#include "panel/artcache.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: korvale-artbake PICTURE.svg WIDTH HEIGHT OUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QSize pixels(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt());
    const QString out = QString::fromLocal8Bit(argv[4]);
    if (pixels.isEmpty() || !renderArtImage(source, pixels).save(out, "PNG")) {
        std::fprintf(stderr, "korvale-artbake: cannot render %s to %s\n", argv[1], argv[4]);
        return 1;
    }
    return 0;
}
