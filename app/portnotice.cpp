// SPDX-License-Identifier: MIT
#include "app/portnotice.h"

#include <QMessageBox>

#include <cstdio>

PortNotice::PortNotice(QWidget *window) : QObject(window), m_window(window) {}

void PortNotice::openFailed(int port, const QString &device, const QString &reason)
{
    tell(QStringLiteral("Cannot open comm%1").arg(port),
         QStringLiteral("comm%1 (%2) could not be opened: %3.").arg(port).arg(device, reason));
}

void PortNotice::deviceLost(int port, const QString &device, const QString &reason)
{
    tell(QStringLiteral("comm%1 lost").arg(port),
         QStringLiteral("comm%1 (%2) stopped working and was closed: %3.")
             .arg(port)
             .arg(device, reason));
}

void PortNotice::tell(const QString &title, const QString &message)
{
    std::fprintf(stderr, "korvale-panel: %s\n", qPrintable(message));
    std::fflush(stderr);

    if (!m_box) {
        m_box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok, m_window);
        m_box->setWindowModality(Qt::NonModal);
        m_box->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_box->setWindowTitle(title);
    m_box->setText(message);
    m_box->show();
    m_box->raise();
}
