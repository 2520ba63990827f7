// SPDX-License-Identifier: MIT
#pragma once

#include "app/form1.h"
#include "panel/frontpanel.h"
#include "ptypair.h"

#include <QLabel>
#include <QPushButton>

#include <memory>

// The window with comm1 opened on a fresh pseudo-terminal whose other end the
// test plays; `quiets` counts the line falling quiet.
struct WiredForm
{
    PtyPair pty;
    std::unique_ptr<Form1> form;
    int quiets = 0;

    WiredForm()
    {
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        form = std::make_unique<Form1>();
        QObject::connect(&form->channel(), &SerialChannel::lineQuiet, [this] { ++quiets; });
        form->comm1()->trigger();
    }
    FrontPanel &panel() { return *form->panel(); }

    // By the control's name, so that a button numbered wrongly is caught.
    void click(int command)
    {
        QTest::mouseClick(
            panel().findChild<QPushButton *>(QStringLiteral("Command%1").arg(command)),
            Qt::LeftButton);
    }

    // Writes one block and waits until the window has taken all of it and
    // the line has fallen quiet after it, which settles its last frame.
    bool deliver(const QByteArray &block)
    {
        const int before = quiets;
        return pty.write(block) &&
               QTest::qWaitFor(
                   [&] { return quiets > before && form->channel().InBufferCount() == 0; }, 10000);
    }

    // Label1..Label6 as shown.
    QStringList readings()
    {
        QStringList texts;
        for (int n = 1; n <= 6; ++n)
            texts << panel().label(n)->text();
        return texts;
    }
};
