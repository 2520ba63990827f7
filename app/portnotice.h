// SPDX-License-Identifier: MIT
#pragma once

#include "app/portchooser.h"
#include "serial/devicelist.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Tells the operator why a port could not be used: one line on stderr and a
// non-modal notice window that leaves the panel working, where a device can
// be chosen for that port. A new failure replaces the notice on screen
// instead of stacking another one.
class PortNotice : public QObject
{
    Q_OBJECT
public:
    explicit PortNotice(QWidget *window);

    // The notice on screen, if any.
    PortChooser *notice() const { return m_box; }
    // Where the notice's list of devices comes from; the computer's own
    // unless set (before the first notice).
    void setDeviceSource(DeviceSource *source) { m_source = source; }

    void openFailed(int port, const QString &device, const QString &reason);
    void deviceLost(int port, const QString &device, const QString &reason);
    // Only on stderr: the port still opens, on its default device.
    void settingsIgnored(int port, const QString &problem, const QString &device);

signals:
    // A device was chosen for `port` and saved: open the port as a pick would.
    void assigned(int port);

private:
    void tell(int port, const QString &title, const QString &message);
    void use(int port, const QString &device);

    QWidget *m_window;
    QPointer<DeviceSource> m_source;
    QPointer<PortChooser> m_box;
    int m_told = 0;
};
