// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Tells the operator why a port could not be used: one line on stderr and a
// non-modal notice window that leaves the panel working. A new failure
// replaces the notice on screen instead of stacking another one.
class PortNotice : public QObject
{
    Q_OBJECT
public:
    explicit PortNotice(QWidget *window);

    // The notice on screen, if any.
    QMessageBox *notice() const { return m_box; }

    void openFailed(int port, const QString &device, const QString &reason);
    void deviceLost(int port, const QString &device, const QString &reason);

private:
    void tell(const QString &title, const QString &message);

    QWidget *m_window;
    QPointer<QMessageBox> m_box;
};
