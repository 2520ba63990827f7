// SPDX-License-Identifier: MIT
#include "serial/serialchannel.h"

#include "serial/portsettings.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QThread>

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>

SerialChannel::SerialChannel(QObject *parent) : QObject(parent)
{
    // Qt keeps these and applies them at every open(); nothing here ever
    // changes them again.
    m_port.setBaudRate(QSerialPort::Baud1200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Bytes beyond this wait in the kernel until the next take makes room.
    m_port.setReadBufferSize(kReceiveQueue);

    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kFragmentQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &SerialChannel::onLineQuiet);

    connect(&m_port, &QSerialPort::readyRead, this, &SerialChannel::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialChannel::onErrorOccurred);
}

SerialChannel::~SerialChannel()
{
    setPortOpen(false);
}

QString SerialChannel::devicePath(int port)
{
    return PortSettings::resolveForOpening(port).device;
}

QString SerialChannel::deadDefault(int port, const QString &device) const
{
    // Only a name nobody chose: a device the user assigned is opened as asked.
    if (!m_explicitDevice.isEmpty() ||
        PortSettings::resolve(port).origin != PortSettings::Origin::Default)
        return {};
    return PortSettings::missingUart(device);
}

void SerialChannel::setCommPort(int port)
{
    m_commPort = port;
}

void SerialChannel::setDevicePath(const QString &device)
{
    m_explicitDevice = device;
}

bool SerialChannel::PortOpen() const
{
    return m_port.isOpen();
}

void SerialChannel::setPortOpen(bool open)
{
    if (!open) {
        // Flushing first also keeps close() from waiting for the kernel to
        // drain the line at 1200 baud.
        closePort(QSerialPort::AllDirections);
        return;
    }
    if (m_port.isOpen())
        return;

    const int port = m_commPort;
    const QString device = m_explicitDevice.isEmpty() ? devicePath(port) : m_explicitDevice;
    if (const QString dead = deadDefault(port, device); !dead.isEmpty()) {
        emit openFailed(port, device, dead);
        return;
    }
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        QString reason;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            reason = m_explicitDevice.isEmpty()
                         ? QStringLiteral("no such device (connect the adapter, or assign "
                                          "its device to comm%1)")
                               .arg(port)
                         : QStringLiteral("no such device (connect the adapter, or check the "
                                          "path with ls -l /dev/serial/by-id/)");
            break;
        case QSerialPort::PermissionError:
            // Qt reports a busy port (EBUSY or its lock file) this way too.
            reason = QStringLiteral("permission denied, or another program holds the port (is your "
                                    "user in the dialout group? log in again after adding it)");
            break;
        default:
            reason = m_port.errorString();
            break;
        }
        m_port.clearError();
        emit openFailed(port, device, reason);
        return;
    }
    m_lost = false;
    m_rThreshold = kNotifyThreshold;
    m_openPort = port;
    m_openDevice = device;
    // DTR cannot be set before opening, and a pseudo-terminal has no modem
    // lines at all: it refuses, yet carries bytes fine.
    if (m_dtrEnable && !m_port.setDataTerminalReady(true))
        m_port.clearError();
    // Whatever the device sent before we listened belongs to nobody.
    m_port.clear(QSerialPort::AllDirections);
}

void SerialChannel::setDTREnable(bool enable)
{
    m_dtrEnable = enable;
    if (m_port.isOpen() && !m_lost && !m_port.setDataTerminalReady(enable))
        m_port.clearError();
}

void SerialChannel::setRThreshold(int bytes)
{
    m_rThreshold = std::clamp(bytes, 1, kReceiveQueue);
}

bool SerialChannel::Output(QByteArrayView bytes)
{
    if (!m_port.isOpen() || m_lost)
        return false;
    if (m_port.bytesToWrite() + bytes.size() > kTransmitQueue)
        return false;
    // QSerialPort only appends to its buffer here; the event loop sends it.
    return m_port.write(bytes.data(), bytes.size()) == bytes.size();
}

QByteArray SerialChannel::Input()
{
    if (!m_port.isOpen())
        return {};
    return m_port.read(m_rThreshold);
}

qint64 SerialChannel::InBufferCount() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

bool SerialChannel::drain(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_port.isOpen() && !m_lost && m_port.bytesToWrite() > 0 && !deadline.hasExpired())
        m_port.waitForBytesWritten(int(deadline.remainingTime()));
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
    if (!m_port.isOpen() || m_lost || m_port.bytesToWrite() > 0)
        return false;
    // The kernel's queue drains at the line's pace. Polled rather than
    // tcdrain(), which would wait for ever on a stuck line.
    for (;;) {
        int queued = 0;
        if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) != 0 || queued == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
}

bool SerialChannel::drainAndClose(int timeoutMs)
{
    const bool drained = drain(timeoutMs);
    // Discarding the output queue even when it looks empty would cut off
    // bytes a pseudo-terminal has accepted but not yet passed on.
    closePort(drained ? QSerialPort::Input : QSerialPort::AllDirections);
    return drained;
}

void SerialChannel::closePort(QSerialPort::Directions discard)
{
    if (!m_port.isOpen())
        return;
    m_port.clear(discard);
    m_port.close();
    m_quiet.stop();
    m_openDevice.clear();
}

void SerialChannel::pollLine()
{
    // Nothing waiting counts as a timeout: not an error worth keeping.
    if (m_port.isOpen() && !m_lost && !m_port.waitForReadyRead(0) &&
        m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
}

void SerialChannel::onReadyRead()
{
    countReceived();
}

void SerialChannel::countReceived()
{
    if (m_lost || !m_port.isOpen())
        return;
    // Timed from every byte, and from every notification too: the line may
    // fall quiet right after one that lowered the threshold.
    m_quiet.start();
    // readyRead comes once per byte on a slow line and once per lump on a
    // fast one, so the count is of everything waiting, not of what arrived.
    if (m_port.bytesAvailable() >= m_rThreshold)
        raiseOnComm();
}

void SerialChannel::raiseOnComm()
{
    emit OnComm();
    // One read of the device may bring several counts at once (a USB packet,
    // a UART FIFO, a network burst, a late handler); no new bytes need come
    // for the next count to be announced. Queued, so that the handler has
    // set the threshold it wants and other events get their turn.
    if (!m_recheckQueued && m_port.isOpen() && !m_lost && m_port.bytesAvailable() >= m_rThreshold) {
        m_recheckQueued = true;
        QMetaObject::invokeMethod(this, &SerialChannel::recheckThreshold, Qt::QueuedConnection);
    }
}

void SerialChannel::recheckThreshold()
{
    m_recheckQueued = false;
    countReceived();
}

void SerialChannel::onLineQuiet()
{
    if (m_lost || !m_port.isOpen())
        return;
    const qint64 waiting = m_port.bytesAvailable();
    if (waiting == 0) {
        // Nothing came: a frame that a lowered threshold waited for is not
        // on its way after all, and the next one needs a whole count.
        m_rThreshold = kNotifyThreshold;
    } else if (waiting < m_rThreshold) {
        raiseOnComm();
    }
}

void SerialChannel::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (m_lost || !m_port.isOpen())
        return;
    // A vanished device makes QSerialPort repeat this error at full speed
    // until close(); closing from inside its own notifier is not safe, so
    // close on the next turn of the event loop.
    m_lost = true;
    QMetaObject::invokeMethod(this, &SerialChannel::dropLostDevice, Qt::QueuedConnection);
}

void SerialChannel::dropLostDevice()
{
    // The operator may have closed (or closed and reopened) the port meanwhile.
    if (!m_lost || !m_port.isOpen())
        return;
    const int port = m_openPort;
    const QString device = m_openDevice;
    setPortOpen(false);
    m_port.clearError();
    // Qt's errorString() is no help here: a hung-up device reads as end of
    // file and the text is whatever errno held before.
    emit deviceLost(
        port, device,
        QStringLiteral("the device went away (unplugged, switched off or its other end "
                       "closed); reconnect it, then pick the port again from COMMPORT"));
}
