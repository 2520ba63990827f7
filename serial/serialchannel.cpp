// SPDX-License-Identifier: MIT
#include "serial/serialchannel.h"

#include "serial/lingeringclose.h"
#include "serial/networkdevice.h"
#include "serial/portsettings.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QThread>

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <utility>

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

    m_quiet.setObjectName(QStringLiteral("quietLine"));
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kFragmentQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &SerialChannel::onLineQuiet);
    m_connectTimeout.setSingleShot(true);
    m_connectTimeout.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this] {
        m_connectError = QStringLiteral("timed out: no answer within %1 s (is the computer on, "
                                        "and does no firewall drop the connection?)")
                             .arg(kConnectTimeoutMs / 1000);
        failConnecting();
    });

    connect(&m_port, &QSerialPort::readyRead, this, &SerialChannel::countReceived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialChannel::onErrorOccurred);
}

QTcpSocket *SerialChannel::socket()
{
    // Made at the first network opening: a window that never opens one
    // does not pay for it before its first paint.
    if (!m_socket) {
        m_socket = new QTcpSocket(this);
        m_socket->setReadBufferSize(kReceiveQueue);
        connect(m_socket, &QTcpSocket::readyRead, this, &SerialChannel::countReceived);
        connect(m_socket, &QTcpSocket::connected, this, &SerialChannel::onConnected);
        connect(m_socket, &QTcpSocket::errorOccurred, this, &SerialChannel::onSocketError);
        connect(m_socket, &QTcpSocket::disconnected, this, &SerialChannel::markLost);
    }
    return m_socket;
}

SerialChannel::~SerialChannel()
{
    setPortOpen(false);
}

QString SerialChannel::devicePath(int port)
{
    return PortSettings::resolve(port).device;
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
    return m_device != nullptr;
}

void SerialChannel::setPortOpen(bool open)
{
    if (!open) {
        // Flushing first also keeps close() from waiting for the kernel to
        // drain the line at 1200 baud.
        closePort(QSerialPort::AllDirections);
        return;
    }
    if (m_device)
        return;

    const int port = m_commPort;
    // Resolved once per opening, so the settings file is read once.
    const bool named = !m_explicitDevice.isEmpty();
    const PortSettings::Resolved resolved =
        named ? PortSettings::Resolved{m_explicitDevice, PortSettings::Origin::Default, {}}
              : PortSettings::resolve(port);
    const QString device = resolved.device;
    if (!resolved.problem.isEmpty())
        emit settingsIgnored(port, resolved.problem, device);
    // Only a name nobody chose: a device the user assigned is opened as asked.
    if (!named && resolved.origin == PortSettings::Origin::Default) {
        if (const QString dead = PortSettings::missingUart(device); !dead.isEmpty()) {
            emit openFailed(port, device, dead);
            return;
        }
    }

    if (isNetworkDevice(device)) {
        const NetworkDevice address = parseNetworkDevice(device);
        if (address.error.isEmpty()) {
            startSession(socket(), port, device);
            openSocket(address);
        } else {
            emit openFailed(port, device, address.error);
        }
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
    startSession(&m_port, port, device);
    // DTR cannot be set before opening, and a pseudo-terminal has no modem
    // lines at all: it refuses, yet carries bytes fine.
    if (m_dtrEnable && !m_port.setDataTerminalReady(true))
        m_port.clearError();
    // Whatever the device sent before we listened belongs to nobody. The
    // other way, bytes the last program wrote may still be on their way.
    m_port.clear(QSerialPort::Input);
    emit opened();
}

void SerialChannel::startSession(QIODevice *device, int port, const QString &deviceName)
{
    m_device = device;
    m_lost = false;
    m_rThreshold = kNotifyThreshold;
    m_openPort = port;
    m_openDevice = deviceName;
    ++m_session;
    m_wrote = false;
    m_lineFreeAt = {};
}

void SerialChannel::openSocket(const NetworkDevice &address)
{
    m_connecting = true;
    m_connectError.clear();
    m_connectTimeout.start();
    // Both the name lookup and the connection run in the background. A
    // failure may be reported before this returns; it is handled on the next
    // turn of the event loop either way.
    LingeringClose *before = LingeringClose::lingering(m_openDevice);
    if (!before) {
        m_socket->connectToHost(address.host, address.port);
        return;
    }
    // Until then the socket is not open: keys pressed meanwhile wait here.
    m_heldBack = true;
    const int session = m_session;
    connect(before, &LingeringClose::finished, this, [this, session, address] {
        if (session != m_session || !m_connecting || !m_connectError.isEmpty())
            return;
        m_heldBack = false;
        m_socket->connectToHost(address.host, address.port);
        noteWritten(m_heldBytes.size());
        m_socket->write(std::exchange(m_heldBytes, {}));
    });
}

void SerialChannel::onConnected()
{
    if (m_device != m_socket || !m_connecting)
        return;
    m_connecting = false;
    m_connectTimeout.stop();
    // A key frame is four bytes: send each at once rather than gather them.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit opened();
}

void SerialChannel::onSocketError(QAbstractSocket::SocketError error)
{
    // An open connection that fails also ends, which disconnected() tells;
    // a wait for bytes with a time limit ends this way too, and is no fault.
    if (m_device != m_socket || !m_connecting || !m_connectError.isEmpty())
        return;
    const NetworkDevice address = parseNetworkDevice(m_openDevice);
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        m_connectError = QStringLiteral("connection refused: %1 answers, but nothing listens on "
                                        "port %2 (is ser2net running there, with this port in its "
                                        "accepter?)")
                             .arg(address.host)
                             .arg(address.port);
        break;
    case QAbstractSocket::HostNotFoundError:
        m_connectError = QStringLiteral("name unknown: no computer is known as '%1' (check the "
                                        "name, or give its address)")
                             .arg(address.host);
        break;
    case QAbstractSocket::NetworkError:
        m_connectError = QStringLiteral("no route to %1 (%2; is the network up, and the "
                                        "computer on?)")
                             .arg(address.host, m_socket->errorString().toLower());
        break;
    default:
        m_connectError = m_socket->errorString();
        break;
    }
    // The socket is inside its own notification, where closing it is not
    // safe.
    QMetaObject::invokeMethod(this, &SerialChannel::failConnecting, Qt::QueuedConnection);
}

void SerialChannel::failConnecting()
{
    // The operator may have closed (or closed and reopened) the port meanwhile.
    if (!m_connecting || m_connectError.isEmpty())
        return;
    const int port = m_openPort;
    const QString device = m_openDevice;
    const QString reason = m_connectError;
    closePort(QSerialPort::AllDirections);
    emit openFailed(port, device, reason);
}

void SerialChannel::setDTREnable(bool enable)
{
    m_dtrEnable = enable;
    if (m_device == &m_port && !m_lost && !m_port.setDataTerminalReady(enable))
        m_port.clearError();
}

void SerialChannel::setRThreshold(int bytes)
{
    m_rThreshold = std::clamp(bytes, 1, kReceiveQueue);
}

bool SerialChannel::Output(QByteArrayView bytes)
{
    if (!m_device || m_lost)
        return false;
    if (m_device->bytesToWrite() + m_heldBytes.size() + bytes.size() > kTransmitQueue)
        return false;
    // Either device only appends to its buffer here; the event loop sends
    // it, on a network device once connected.
    if (m_heldBack) {
        m_heldBytes.append(bytes);
        return true;
    }
    if (m_device->write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    noteWritten(bytes.size());
    return true;
}

void SerialChannel::noteWritten(qsizetype bytes)
{
    using namespace std::chrono;
    m_lineFreeAt = std::max(m_lineFreeAt, steady_clock::now()) +
                   duration_cast<steady_clock::duration>(LingeringClose::kByteTime * bytes);
    m_wrote = true;
}

QByteArray SerialChannel::Input()
{
    if (!m_device)
        return {};
    return m_device->read(m_rThreshold);
}

qint64 SerialChannel::InBufferCount() const
{
    return m_device ? m_device->bytesAvailable() : 0;
}

bool SerialChannel::drain(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Waiting here for a connection would block on its name lookup.
    if (m_connecting)
        return false;
    while (m_device && !m_lost && m_device->bytesToWrite() > 0 && !deadline.hasExpired())
        m_device->waitForBytesWritten(int(deadline.remainingTime()));
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
    if (!m_device || m_lost || m_device->bytesToWrite() > 0)
        return false;
    // The kernel's queue drains at the line's pace, or for a socket as the
    // far end acknowledges (TIOCOUTQ is SIOCOUTQ on Linux). Polled rather
    // than tcdrain(), which would wait for ever on a stuck line.
    for (;;) {
        int queued = 0;
        if (::ioctl(deviceHandle(), TIOCOUTQ, &queued) != 0 || queued == 0)
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
    LingeringClose *closing = closePort(drained ? QSerialPort::Input : QSerialPort::AllDirections);
    return drained && LingeringClose::await(closing);
}

LingeringClose *SerialChannel::closePort(QSerialPort::Directions discard)
{
    // Cleared first: closing a socket reports its disconnection at once.
    QIODevice *const device = std::exchange(m_device, nullptr);
    if (!device)
        return nullptr;
    LingeringClose *closing = nullptr;
    if (device == m_socket) {
        // A key pressed just before the port closes still reaches the
        // supply: what waits here is handed to the kernel, and the
        // connection ends once it can have crossed the line.
        if (m_wrote && !m_connecting && !m_lost &&
            m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->flush();
            closing =
                LingeringClose::start(int(m_socket->socketDescriptor()), m_openDevice, lineBusy());
        }
        m_socket->abort();
    } else {
        m_port.clear(discard);
        m_port.close();
    }
    m_quiet.stop();
    m_connectTimeout.stop();
    m_connecting = false;
    m_heldBack = false;
    m_heldBytes.clear();
    m_openDevice.clear();
    return closing;
}

std::chrono::milliseconds SerialChannel::lineBusy() const
{
    using namespace std::chrono;
    return std::max(ceil<milliseconds>(m_lineFreeAt - steady_clock::now()), milliseconds(0));
}

int SerialChannel::deviceHandle() const
{
    return m_device == m_socket ? int(m_socket->socketDescriptor()) : int(m_port.handle());
}

void SerialChannel::pollLine()
{
    // Nothing waiting counts as a timeout: not an error worth keeping.
    if (m_device && !m_lost && !m_connecting && !m_device->waitForReadyRead(0) &&
        m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
}

void SerialChannel::countReceived()
{
    if (m_lost || !m_device)
        return;
    // Timed from every byte, and from every notification too: the line may
    // fall quiet right after one that lowered the threshold.
    m_quiet.start();
    // readyRead comes once per byte on a slow line and once per lump on a
    // fast one, so the count is of everything waiting, not of what arrived.
    if (m_device->bytesAvailable() >= m_rThreshold)
        raiseOnComm();
}

void SerialChannel::raiseOnComm()
{
    emit OnComm();
    // One read of the device may bring several counts at once (a USB packet,
    // a UART FIFO, a network burst, a late handler); no new bytes need come
    // for the next count to be announced. Queued, so that the handler has
    // set the threshold it wants and other events get their turn.
    if (!m_recheckQueued && m_device && !m_lost && m_device->bytesAvailable() >= m_rThreshold) {
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
    if (m_lost || !m_device)
        return;
    // A busy event loop may not have fetched what the device already holds;
    // bytes found now start the quiet time again.
    pollLine();
    if (m_lost || !m_device || m_quiet.isActive())
        return;
    // The threshold stays the reader's: a frame held up on its way still
    // wants the rest it asked for.
    const qint64 waiting = m_device->bytesAvailable();
    if (waiting > 0 && waiting < m_rThreshold)
        raiseOnComm();
    if (m_device && !m_lost && m_device->bytesAvailable() == 0)
        emit lineQuiet();
}

void SerialChannel::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (m_device == &m_port)
        markLost();
}

void SerialChannel::markLost()
{
    if (m_lost || !m_device)
        return;
    // A vanished device makes QSerialPort repeat its error at full speed
    // until close(); closing a device from inside its own notifier is not
    // safe, so close on the next turn of the event loop.
    m_lost = true;
    QMetaObject::invokeMethod(this, &SerialChannel::dropLostDevice, Qt::QueuedConnection);
}

void SerialChannel::dropLostDevice()
{
    // The operator may have closed (or closed and reopened) the port meanwhile.
    if (!m_lost || !m_device)
        return;
    const int port = m_openPort;
    const QString device = m_openDevice;
    const bool network = m_device == m_socket;
    setPortOpen(false);
    m_port.clearError();
    // Qt's errorString() is no help here: a hung-up device reads as end of
    // file and the text is whatever errno held before.
    emit deviceLost(port, device, lossReason(network));
}

QString SerialChannel::lossReason(bool network)
{
    return network ? QStringLiteral("the connection ended (the far end closed it or restarted, "
                                    "or another client took the line)")
                   : QStringLiteral("the device went away (unplugged, switched off or its other "
                                    "end closed)");
}
