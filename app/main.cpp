// SPDX-License-Identifier: MIT
#include "app/form1.h"
#include "app/panelstyle.h"
#include "serial/lingeringclose.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvale-panel"));
    QApplication::setDesktopFileName(QStringLiteral("org.korvale.Panel"));
    usePanelStyle();

    int status = 0;
    {
        Form1 form;
        form.show();
        status = QApplication::exec();
    }
    // The window is gone; a network connection closed with it still passes
    // on the last key pressed before the program ends.
    LingeringClose::finishAll();
    return status;
}
