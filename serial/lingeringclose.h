// SPDX-License-Identifier: MIT
#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// Ends a connection to a serial line on the network (ser2net) only once the
// bytes written can have crossed it and the line. ser2net flushes the device
// as it closes it, and it closes it as soon as the connection ends, so a
// connection ended right after a write loses what the line has not sent yet.
// The supply acknowledges nothing, so no answer can prove that a frame
// arrived; the rule is the line's own pace instead: wait until the far end
// has acknowledged every byte, hold on while the line sends them and ser2net
// does its part, then say that nothing more comes and wait for the far end to
// close in turn, and for it to let the device go.
//
// It works on its own copy of the descriptor, in the background, so the
// channel is free at once and the window never waits.
class LingeringClose : public QObject
{
    Q_OBJECT
public:
    // ser2net's part: reading the connection and writing the device, which
    // it may first have to open; a loaded machine takes tens of ms for it.
    static constexpr std::chrono::milliseconds kSettle{100};
    // One byte at 1200 baud, with its start and stop bits.
    static constexpr std::chrono::microseconds kByteTime{8333};
    // ser2net closes the device about 10 ms after the connection, flushing
    // it: a new connection to it must wait so long, or lose its first bytes.
    static constexpr std::chrono::milliseconds kRelease{100};
    // Bounds for a far end that never acknowledges, or never closes.
    static constexpr std::chrono::milliseconds kAcknowledgeLimit{5000};
    static constexpr std::chrono::milliseconds kFarEndLimit{2000};

    // Takes over a copy of `descriptor`, whose bytes have all been handed to
    // the kernel, for the device named `device`; the line may need `lineBusy`
    // more to send them. Deletes itself once done.
    static LingeringClose *start(int descriptor, const QString &device,
                                 std::chrono::milliseconds lineBusy);

    // True while a connection to `device` still lingers, which a new one
    // must wait for: ser2net would refuse it, or push the old one out.
    static LingeringClose *lingering(const QString &device);
    // Runs the event loop until `closing` has finished; whether its bytes
    // can have reached the line. Null counts as done.
    static bool await(LingeringClose *closing);
    // Runs the event loop until every connection still lingering has
    // finished, as a program does before it ends.
    static void finishAll();

signals:
    // `delivered` is false when the far end never acknowledged the bytes,
    // or ended the connection before the line could have sent them.
    void finished(bool delivered);

private:
    LingeringClose(int descriptor, const QString &device, std::chrono::milliseconds lineBusy);
    ~LingeringClose() override;
    void step();
    // Reads and drops what the far end still sends; false once it has closed.
    bool farEndOpen();
    void finish(bool delivered);

    enum class Stage
    {
        Acknowledge,
        Hold,
        FarEnd,
        Release
    };
    int m_descriptor;
    QString m_device;
    std::chrono::milliseconds m_lineBusy;
    Stage m_stage = Stage::Acknowledge;
    QDeadlineTimer m_deadline;
    QTimer m_poll;
    bool m_done = false;
};
