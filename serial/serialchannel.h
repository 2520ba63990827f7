// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

class LingeringClose;
struct NetworkDevice;

// The one serial port to the supply, fixed at 1200 baud, 8N1, no flow control,
// raw bytes. Field and operation names follow the serial control the panel
// was designed around: CommPort, PortOpen, DTREnable, RThreshold, Output,
// Input, OnComm.
//
// The device is a serial port, or `socket://HOST:PORT`: a TCP connection to a
// serial line handed to the network (ser2net), whose far end sets the line.
// Both count, notify and hand over received bytes the same way.
//
// Everything runs on the thread that owns the channel (the window's event
// thread): writes are queued and never wait for the line, nor for a network
// connection, which is made in the background.
class SerialChannel : public QObject
{
    Q_OBJECT
public:
    static constexpr int kNotifyThreshold = 30;
    static constexpr int kReceiveQueue = 1024;
    static constexpr int kTransmitQueue = 512;
    // A line quiet for this long (12 byte times at 1200 baud) with fewer than
    // RThreshold bytes waiting holds only a fragment, such as the tail of a
    // frame that was on the wire when the port opened. It is handed over as a
    // block of its own, so that the next frame starts a fresh count instead of
    // every later block straddling two frames.
    static constexpr int kFragmentQuietMs = 100;
    // A network device that has not answered by then fails its opening.
    static constexpr int kConnectTimeoutMs = 5000;

    explicit SerialChannel(QObject *parent = nullptr);
    ~SerialChannel() override;

    // Device of port 1 or 2: KORVALE_COMM1 / KORVALE_COMM2, else the user's
    // settings file, else /dev/ttyS0 and /dev/ttyS1 (see PortSettings).
    static QString devicePath(int port);

    int CommPort() const { return m_commPort; }
    void setCommPort(int port);
    // A device path that the next openings use instead of the port's own,
    // such as a /dev/serial/by-id/ name; empty returns to the port map.
    void setDevicePath(const QString &device);

    // True from a successful opening on, including while a network device is
    // still connecting: Output() queues meanwhile, and a failure to connect
    // closes the port again and raises openFailed().
    bool PortOpen() const;
    // Opening can fail; the port then stays closed and openFailed() tells why.
    // Closing discards whatever waits in either queue. A network device
    // closes in the background once what it was given can have crossed the
    // line (see LingeringClose), and opening one again waits for that.
    void setPortOpen(bool open);

    // Kept but not applied on a network device, which has no modem lines.
    bool DTREnable() const { return m_dtrEnable; }
    void setDTREnable(bool enable);

    // Bytes waiting that raise OnComm, from 1 to the receive queue's size.
    // Every opening starts again from 30; the receive procedure lowers it to
    // wait for the rest of a cut frame.
    int RThreshold() const { return m_rThreshold; }
    void setRThreshold(int bytes);

    // Queues the block whole or not at all: it is dropped (false) when no port
    // is open or when it would not fit in the transmit queue.
    bool Output(QByteArrayView bytes);

    // Takes the bytes waiting, in arrival order, up to RThreshold: after
    // OnComm for a full count exactly that count, after a quiet line the
    // fragment. Bytes beyond the count stay and start the next one, so how
    // the device lumps its reads never decides where a block ends.
    QByteArray Input();
    // Bytes received and not yet taken; never more than the receive queue.
    qint64 InBufferCount() const;

    // Waits, at most `timeoutMs`, until every byte written has left both our
    // queue and the device's, so that closing cuts nothing off. False if
    // bytes were still waiting when the time ran out, or the port is closed.
    bool drain(int timeoutMs);
    // Drains, then closes without discarding what has left; when the time
    // runs out it closes like setPortOpen(false). True if everything left,
    // for a network device once it can also have crossed the line.
    bool drainAndClose(int timeoutMs);
    // Fetches, without waiting, what the device has received but not yet
    // handed over, so that a quiet line is not mistaken for one.
    void pollLine();
signals:
    // The port carries bytes: at once for a serial port, once connected for
    // a network device.
    void opened();
    // Raised when RThreshold or more bytes are waiting, or when a fragment
    // has waited on a quiet line; never while no port is open.
    void OnComm();
    // `reason` is meant for the operator: what went wrong and what to do.
    void openFailed(int port, const QString &device, const QString &reason);
    // The device went away while open; the port has been closed and released.
    // `reason` says why, not what to do about it, which depends on the program.
    void deviceLost(int port, const QString &device, const QString &reason);
    // The settings file had nothing usable for the port (`problem` says
    // why), so this opening uses `device`, the port's default.
    void settingsIgnored(int port, const QString &problem, const QString &device);
    // The line has been quiet for kFragmentQuietMs and nothing waits to be
    // taken: a frame that ended with the last byte has ended for sure.
    void lineQuiet();

private:
    QTcpSocket *socket();
    void openSocket(const NetworkDevice &address);
    void startSession(QIODevice *device, int port, const QString &deviceName);
    void onConnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void failConnecting();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void markLost();
    void dropLostDevice();
    void onLineQuiet();
    void countReceived();
    void raiseOnComm();
    void recheckThreshold();
    // The connection's close when it still has bytes to deliver, else null.
    LingeringClose *closePort(QSerialPort::Directions discard);
    // Moves the line's clock on by what was handed to the device.
    void noteWritten(qsizetype bytes);
    std::chrono::milliseconds lineBusy() const;
    static QString lossReason(bool network);
    int deviceHandle() const;

    // Children, so that a test can play the errors a real adapter reports,
    // or keep the quiet-line rule out of a case about lumps.
    QSerialPort m_port{this};
    // Made at the first network opening, see socket().
    QTcpSocket *m_socket = nullptr;
    QTimer m_quiet{this};
    // One of the two while the port is open, else null.
    QIODevice *m_device = nullptr;
    QTimer m_connectTimeout;
    // The network device has not answered yet.
    bool m_connecting = false;
    // Connecting waits for the last connection to the device to end, and
    // what is written meanwhile waits here.
    bool m_heldBack = false;
    QByteArray m_heldBytes;
    // Why connecting failed, for the failure handled on the next turn.
    QString m_connectError;
    int m_commPort = 1;
    bool m_dtrEnable = false;
    int m_rThreshold = kNotifyThreshold;
    // Set on the first sign that the device is gone, until the next opening.
    bool m_lost = false;
    // A notification for bytes already waiting is on its way.
    bool m_recheckQueued = false;
    int m_openPort = 0;
    QString m_openDevice;
    // Counts openings, so that a connection delayed by the close of the one
    // before starts only if its opening is still the current one.
    int m_session = 0;
    // When the line will have sent what was written, as far as we know.
    std::chrono::steady_clock::time_point m_lineFreeAt;
    bool m_wrote = false;
    QString m_explicitDevice;
};
