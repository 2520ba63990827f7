// SPDX-License-Identifier: MIT
#include "app/form1.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvale-panel"));
    QApplication::setDesktopFileName(QStringLiteral("org.korvale.Panel"));
    // The panel is a fixed drawing with black captions on a light ground:
    // one style and its light palette, whatever the desktop's theme.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());

    Form1 form;
    form.show();
    return QApplication::exec();
}
