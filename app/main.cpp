// SPDX-License-Identifier: MIT
#include "app/form1.h"
#include "app/panelstyle.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvale-panel"));
    QApplication::setDesktopFileName(QStringLiteral("org.korvale.Panel"));
    usePanelStyle();

    Form1 form;
    form.show();
    return QApplication::exec();
}
