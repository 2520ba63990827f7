// SPDX-License-Identifier: MIT
#include "app/panelstyle.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

void usePanelStyle()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
}
