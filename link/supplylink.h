// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/commandframe.h"
#include "protocol/linkwatchdog.h"
#include "protocol/statusframe.h"
#include "protocol/statusstream.h"
#include "serial/serialchannel.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

// What is known of the supply at the other end of the line.
struct SupplyState
{
    // The device is open and carries bytes, since `deviceSince`.
    bool devicePresent = false;
    QDateTime deviceSince;
    // Bytes arrive (the link watchdog's rule), since `linkSince`.
    bool linkAlive = false;
    QDateTime linkSince;
    // The last status frame accepted, and when its last byte arrived.
    std::optional<korvale::StatusReadings> readings;
    QDateTime frameTime;
};

// The line to one supply, for the programs that run for long: opens the
// device (serial or socket://), reconnects when asked to, finds the status
// frames in the bytes with the shared frame finder, judges silence by the
// panel's watchdog, keeps the state, tells every change by a signal, and
// sends key and numbered frames for every face that drives the supply, within
// one budget.
class SupplyLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 1000;
    // The line carries one command frame (four bytes at 1200 baud) this
    // often, whoever sends it.
    static constexpr int kSendSpacingMs = 33;
    // Frames accepted and waiting for their turn, at most: a face that sends
    // faster is refused rather than queued without bound.
    static constexpr int kSendQueue = 8;

    explicit SupplyLink(QObject *parent = nullptr);

    // Port 1 or 2 through the port map, unless `device` names one. Raises
    // DTR as the panel does.
    void setTarget(int port, const QString &device);
    // After a loss, or a failed opening, try again every second.
    void setReconnect(bool reconnect) { m_reconnect = reconnect; }
    bool reconnects() const { return m_reconnect; }

    // Opens the device; opened() or openFailed() follows, perhaps at once.
    void open();
    void close();
    // Closes once what was sent, waiting frames included, has left for the
    // supply, waiting at most `timeoutMs`; false if some of it may not have.
    bool drainAndClose(int timeoutMs);

    // The device the target leads to now (the port map is read afresh).
    QString device() const;
    // "comm1 (/dev/ttyS0)", or just the device when the target names one.
    QString label(const QString &device) const;
    const SupplyState &state() const { return m_state; }
    // The sentences every face shows for a refused key and a failed opening.
    static QString tooManyKeys();
    QString couldNotOpen(const QString &device, const QString &reason) const;

    // Queues a frame for the line behind those of every other sender, in
    // the order they came. False when it cannot be served; `why` then says
    // why, in one sentence a face can show. Frames waiting when the device
    // closes or goes away are discarded with it, as a port's queue is.
    bool send(const korvale::CommandFrame &frame, QString *why = nullptr);
    // Frames accepted and not yet handed to the device.
    int sendsWaiting() const { return int(m_waiting.size()); }
    // Runs the event loop until the next frame goes to the device, the device
    // goes away or fails to open, or `timeoutMs` have passed.
    void awaitSend(int timeoutMs);

signals:
    // The device carries bytes: at the start, or back after a loss.
    void opened(const QString &device);
    // `reason` says what went wrong, not what to do; with reconnection on,
    // it is raised again at every failed try.
    void openFailed(const QString &device, const QString &reason);
    void deviceLost(const QString &device, const QString &reason);
    // The settings file had nothing usable: the default device is used.
    void settingsIgnored(int port, const QString &problem, const QString &device);
    // An accepted status frame, stamped with the arrival of its last byte.
    void frame(const QDateTime &time, const korvale::StatusReadings &readings);
    // Silence for longer than the watchdog allows, and its end.
    void linkLost();
    void linkBack();
    // A frame accepted by send() went to the device: a waiting one may follow.
    void frameSent();

private:
    void take();
    void onTick();
    void onOpened();
    void onOpenFailed(const QString &device, const QString &reason);
    void onDeviceLost(const QString &device, const QString &reason);
    void emitFrames();
    void setDevicePresent(bool present);
    void sendWaiting();

    SerialChannel m_channel{this};
    korvale::StatusStream m_stream;
    korvale::LinkWatchdog m_watchdog;
    QTimer m_tick;
    QTimer m_retry;
    QTimer m_sendTurn;
    QElapsedTimer m_lastSent;
    std::deque<korvale::CommandFrame> m_waiting;
    SupplyState m_state;
    int m_port = 1;
    QString m_device;
    bool m_reconnect = false;
    bool m_wanted = false;
};
