// SPDX-License-Identifier: MIT
#include "app/portnotice.h"

#include "app/portchooser.h"
#include "serial/devicelist.h"
#include "serial/networkdevice.h"
#include "serial/portsettings.h"

#include <cstdio>

namespace {

void toStderr(const QString &message)
{
    std::fprintf(stderr, "korvale-panel: %s\n", qPrintable(message));
    std::fflush(stderr);
}

} // namespace

PortNotice::PortNotice(QWidget *window) : QObject(window), m_window(window) {}

void PortNotice::openFailed(int port, const QString &device, const QString &reason)
{
    tell(port, QStringLiteral("Cannot open comm%1").arg(port),
         QStringLiteral("comm%1 (%2) could not be opened: %3.").arg(port).arg(device, reason));
}

void PortNotice::deviceLost(int port, const QString &device, const QString &reason)
{
    tell(port, QStringLiteral("comm%1 lost").arg(port),
         QStringLiteral("comm%1 (%2) stopped working and was closed: %3; %4.")
             .arg(port)
             .arg(device, reason,
                  isNetworkDevice(device)
                      ? QStringLiteral("pick the port again from COMMPORT to reconnect")
                      : QStringLiteral("reconnect it, then pick the port again from COMMPORT")));
}

void PortNotice::settingsIgnored(int port, const QString &problem, const QString &device)
{
    toStderr(QStringLiteral("%1; comm%2 opens the default %3").arg(problem).arg(port).arg(device));
}

void PortNotice::tell(int port, const QString &title, const QString &message)
{
    toStderr(message);
    ++m_told;

    if (!m_box) {
        if (!m_source)
            m_source = new SystemDevices(this);
        m_box = new PortChooser(m_source, m_window);
        m_box->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_box, &PortChooser::chosen, this, &PortNotice::use);
    }
    m_box->present(port, title, message);
    m_box->show();
    m_box->raise();
}

void PortNotice::use(int port, const QString &device)
{
    if (const QString problem = PortSettings::assign(port, device); !problem.isEmpty()) {
        toStderr(problem);
        m_box->showProblem(problem);
        return;
    }
    // The opening reports its own failure, which replaces this notice; a
    // notice that nothing replaced has done its work.
    const int told = m_told;
    emit assigned(port);
    if (m_told == told && m_box)
        m_box->close();
}
