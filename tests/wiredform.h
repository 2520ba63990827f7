// SPDX-License-Identifier: MIT
#pragma once

#include "app/form1.h"
#include "panel/frontpanel.h"
#include "ptypair.h"

#include <QLabel>
#include <QPushButton>

#include <memory>

// The window with comm1 opened on a fresh pseudo-terminal whose other end the
// test plays. `handled` counts receive notifications and `quietAfter` says
// the line fell quiet after the last; both are connected after the line's
// own handlers, so they move once those have run.
struct WiredForm
{
    PtyPair pty;
    std::unique_ptr<Form1> form;
    int handled = 0;
    bool quietAfter = false;

    WiredForm()
    {
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        form = std::make_unique<Form1>();
        QObject::connect(&form->channel(), &SerialChannel::OnComm, [this] {
            ++handled;
            quietAfter = false;
        });
        QObject::connect(&form->channel(), &SerialChannel::lineQuiet,
                         [this] { quietAfter = true; });
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

    // Writes one block and sleeps in the event loop until the window has
    // taken all of it and the line has fallen quiet after it, which settles
    // its last frame; false if that did not happen within ten seconds.
    bool deliver(const QByteArray &block)
    {
        const int before = handled;
        QDeadlineTimer deadline(10000);
        if (!pty.write(block))
            return false;
        auto done = [&] {
            return handled > before && quietAfter && form->channel().InBufferCount() == 0;
        };
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return done();
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
