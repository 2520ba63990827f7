// SPDX-License-Identifier: MIT
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <unistd.h>

#include "ptypair.h"
#include "serial/serialchannel.h"

namespace {

// Takes on every notification, as the window's receive procedure does.
struct Receiver
{
    explicit Receiver(SerialChannel &channel)
    {
        QObject::connect(&channel, &SerialChannel::OnComm, &context,
                         [this, &channel] { takes << channel.Input(); });
    }
    QByteArray all() const { return takes.join(); }

    QObject context;
    QList<QByteArray> takes;
};

QByteArray pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i + seed) * 7 + 1);
    return bytes;
}

QByteArray frame(int sequence)
{
    return QByteArray("\xEB\x90", 2) + char(sequence >> 8) + char(sequence & 0xFF);
}

// Port 1 of the channel is the slave end of the pseudo-terminal.
void wire(SerialChannel &channel, const PtyPair &pty)
{
    QVERIFY(pty.isValid());
    qputenv("KORVALE_COMM1", pty.slavePathBytes());
    channel.setCommPort(1);
}

qint64 processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

class TestSerialChannel : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        qunsetenv("KORVALE_COMM1");
        qunsetenv("KORVALE_COMM2");
    }

    void devicePath_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("comm1");
        QTest::addColumn<QByteArray>("comm2");
        QTest::addColumn<QString>("expected");
        QTest::newRow("port 1 default") << 1 << QByteArray() << QByteArray() << "/dev/ttyS0";
        QTest::newRow("port 2 default") << 2 << QByteArray() << QByteArray() << "/dev/ttyS1";
        QTest::newRow("empty means default") << 2 << QByteArray() << QByteArray("") << "/dev/ttyS1";
        QTest::newRow("port 1 adapter")
            << 1 << QByteArray("/dev/ttyUSB0") << QByteArray("/dev/ttyUSB1") << "/dev/ttyUSB0";
        QTest::newRow("port 2 adapter")
            << 2 << QByteArray("/dev/ttyUSB0") << QByteArray("/dev/ttyUSB1") << "/dev/ttyUSB1";
    }
    void devicePath()
    {
        QFETCH(int, port);
        QFETCH(QByteArray, comm1);
        QFETCH(QByteArray, comm2);
        QFETCH(QString, expected);
        if (!comm1.isNull())
            qputenv("KORVALE_COMM1", comm1);
        if (!comm2.isNull())
            qputenv("KORVALE_COMM2", comm2);
        QCOMPARE(SerialChannel::devicePath(port), expected);
    }

    void everyByteValuePassesBothWays_data()
    {
        QTest::addColumn<bool>("dtr");
        // A pseudo-terminal refuses DTR; the port must work regardless.
        QTest::newRow("DTR on") << true;
        QTest::newRow("DTR off") << false;
    }
    void everyByteValuePassesBothWays()
    {
        QFETCH(bool, dtr);
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        channel.setDTREnable(dtr);
        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());

        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);

        QVERIFY(channel.Output(all));
        QCOMPARE(pty.readExactly(256), all);

        QVERIFY(pty.write(all));
        QByteArray received;
        QTRY_VERIFY((received += channel.Input()).size() >= all.size());
        QCOMPARE(received, all);
    }

    void receiveNotification_data()
    {
        QTest::addColumn<QList<int>>("bursts");
        QTest::addColumn<QList<int>>("takes");
        QTest::newRow("30 on an idle line") << QList<int>{30} << QList<int>{30};
        QTest::newRow("29 handed over once the line is quiet") << QList<int>{29} << QList<int>{29};
        QTest::newRow("a fragment, then a frame on its own")
            << QList<int>{-12, 30} << QList<int>{12, 30};
        QTest::newRow("20 then 40, one take") << QList<int>{20, 40} << QList<int>{60};
        QTest::newRow("30 trickled byte by byte") << QList<int>(30, 1) << QList<int>{30};
        QTest::newRow("10, 10, 9, then 2") << QList<int>{10, 10, 9, 2} << QList<int>{31};
    }
    void receiveNotification()
    {
        QFETCH(QList<int>, bursts);
        QFETCH(QList<int>, takes);
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        Receiver receiver(channel);
        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());

        QByteArray sent;
        // A negative size is a burst followed by a pause on the line.
        for (int size : bursts) {
            const QByteArray burst = pattern(std::abs(size), int(sent.size()));
            QVERIFY(pty.write(burst));
            sent += burst;
            QTest::qWait(size < 0 ? SerialChannel::kFragmentQuietMs + 100 : 20);
        }
        QTest::qWait(150);

        QList<int> takeSizes;
        for (const QByteArray &take : receiver.takes)
            takeSizes << int(take.size());
        QCOMPARE(takeSizes, takes);
        QCOMPARE(receiver.all() + channel.Input(), sent);
    }

    void receiveQueueIsBounded()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        channel.setPortOpen(true);
        const QByteArray sent = pattern(2000);
        QVERIFY(pty.write(sent));
        QTest::qWait(200);
        // The rest waits in the kernel, not lost, until the take makes room.
        const QByteArray first = channel.Input();
        QCOMPARE(first.size(), SerialChannel::kReceiveQueue);
        QTest::qWait(200);
        QCOMPARE(first + channel.Input(), sent);
    }

    void inputWithNothingWaiting()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        QVERIFY(channel.Input().isEmpty());
        channel.setPortOpen(true);
        QTest::qWait(20);
        QVERIFY(channel.Input().isEmpty());
    }

    void reopeningDiscardsWaitingBytes()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        Receiver receiver(channel);
        channel.setPortOpen(true);

        QVERIFY(pty.write(pattern(10, 100))); // read into the channel's queue
        QTest::qWait(50);
        QVERIFY(pty.write(pattern(15, 200))); // still in the kernel
        for (int i = 0; i < 3; ++i)           // still in the transmit queue
            QVERIFY(channel.Output(frame(i)));
        channel.setPortOpen(false);
        QVERIFY(!channel.PortOpen());
        QCOMPARE(pty.readFor(100), QByteArray());

        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());
        QTest::qWait(50);
        QVERIFY(channel.Input().isEmpty());

        const QByteArray fresh = pattern(30, 50);
        QVERIFY(pty.write(fresh));
        QTRY_COMPARE(receiver.takes.size(), 1);
        QCOMPARE(receiver.takes.first(), fresh);
    }

    void commPortChoosesTheNextOpening()
    {
        PtyPair one, two;
        QVERIFY(one.isValid() && two.isValid());
        qputenv("KORVALE_COMM1", one.slavePathBytes());
        qputenv("KORVALE_COMM2", two.slavePathBytes());
        SerialChannel channel;
        channel.setCommPort(1);
        channel.setPortOpen(true);
        channel.setCommPort(2); // the open port stays where it is
        QVERIFY(channel.Output(frame(1)));
        QCOMPARE(one.readExactly(4), frame(1));
        QCOMPARE(two.readFor(50), QByteArray());

        channel.setPortOpen(false);
        channel.setPortOpen(true);
        QCOMPARE(channel.CommPort(), 2);
        QVERIFY(channel.Output(frame(2)));
        QCOMPARE(two.readExactly(4), frame(2));
        QCOMPARE(one.readFor(50), QByteArray());
    }

    void failedOpening_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("missing device") << false << "no such device";
        QTest::newRow("held by another") << true << "another program holds the port";
    }
    void failedOpening()
    {
        QFETCH(bool, busy);
        QFETCH(QString, reasonPart);
        PtyPair held;
        QVERIFY(held.isValid());
        SerialChannel holder;
        // Qt takes a lock file named after the device even before finding it
        // missing, so the name is per process for parallel runs.
        QString device = QStringLiteral("/dev/korvale-no-such-tty-%1").arg(getpid());
        if (busy) {
            device = held.slavePath();
            qputenv("KORVALE_COMM2", held.slavePathBytes());
            holder.setCommPort(2);
            holder.setPortOpen(true);
            QVERIFY(holder.PortOpen());
        }
        qputenv("KORVALE_COMM1", device.toLocal8Bit());

        SerialChannel channel;
        QSignalSpy failed(&channel, &SerialChannel::openFailed);
        channel.setCommPort(1);
        channel.setPortOpen(true);
        QVERIFY(!channel.PortOpen());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toInt(), 1);
        QCOMPARE(failed.at(0).at(1).toString(), device);
        const QString reason = failed.at(0).at(2).toString();
        QVERIFY2(reason.contains(reasonPart), qPrintable(reason));
        QVERIFY(!channel.Output(frame(0)));

        // The operator picks again once the device is there.
        PtyPair good;
        QVERIFY(good.isValid());
        qputenv("KORVALE_COMM1", good.slavePathBytes());
        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());
        QCOMPARE(failed.size(), 1);
        QVERIFY(channel.Output(frame(7)));
        QCOMPARE(good.readExactly(4), frame(7));
    }

    void outputWhileClosedIsDropped()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        QVERIFY(!channel.Output(frame(1)));
        channel.setPortOpen(true);
        channel.setPortOpen(false);
        channel.setPortOpen(false); // harmless twice
        QVERIFY(!channel.Output(frame(2)));
        QCOMPARE(pty.readFor(100), QByteArray());
    }

    void transmitQueueFull()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        channel.setPortOpen(true);

        // Without an event-loop turn nothing leaves, so the bound is exact.
        QByteArray accepted;
        int sequence = 0;
        for (; sequence < 200; ++sequence) {
            if (channel.Output(frame(sequence)))
                accepted += frame(sequence);
        }
        QCOMPARE(accepted.size(), SerialChannel::kTransmitQueue);
        QCOMPARE(accepted.right(4), frame(SerialChannel::kTransmitQueue / 4 - 1));

        // Nobody reads the line: the kernel absorbs what it can, then the
        // queue fills. Writes keep returning at once and frames stay whole.
        qint64 slowestNs = 0;
        int refused = 0;
        QElapsedTimer call;
        for (; sequence < 40000 && refused < 50; ++sequence) {
            call.start();
            const bool ok = channel.Output(frame(sequence));
            slowestNs = qMax(slowestNs, call.nsecsElapsed());
            if (ok)
                accepted += frame(sequence);
            else
                ++refused;
            if (sequence % 16 == 0)
                QCoreApplication::processEvents();
        }
        QCOMPARE(refused, 50);
        QVERIFY2(slowestNs < 20'000'000, qPrintable(QString::number(slowestNs)));

        const QByteArray received = pty.readExactly(accepted.size(), 10000);
        QCOMPARE(received.size(), accepted.size());
        QVERIFY(received == accepted);
    }

    void deviceGoneWhileOpen()
    {
        auto pty = std::make_unique<PtyPair>();
        QVERIFY(pty->isValid());
        const QString device = pty->slavePath();
        qputenv("KORVALE_COMM1", pty->slavePathBytes());
        SerialChannel channel;
        Receiver receiver(channel);
        QSignalSpy lost(&channel, &SerialChannel::deviceLost);
        channel.setDTREnable(true);
        channel.setCommPort(1);
        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());

        pty->closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 2000);
        QVERIFY(!channel.PortOpen());
        QCOMPARE(lost.at(0).at(0).toInt(), 1);
        QCOMPARE(lost.at(0).at(1).toString(), device);

        // A port left open on a dead device spins at a full core.
        const qint64 cpuBefore = processCpuMs();
        QTest::qWait(300);
        const qint64 cpuUsed = processCpuMs() - cpuBefore;
        QVERIFY2(cpuUsed < 150, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpuUsed)));
        QCOMPARE(lost.size(), 1);
        QVERIFY(receiver.takes.isEmpty());
        QVERIFY(!channel.Output(frame(0)));
        pty.reset();

        PtyPair fresh;
        QVERIFY(fresh.isValid());
        qputenv("KORVALE_COMM1", fresh.slavePathBytes());
        channel.setPortOpen(true);
        QVERIFY(channel.PortOpen());
        QVERIFY(channel.Output(frame(3)));
        QCOMPARE(fresh.readExactly(4), frame(3));
        const QByteArray status = pattern(30);
        QVERIFY(fresh.write(status));
        QTRY_COMPARE(receiver.takes.size(), 1);
        QCOMPARE(receiver.takes.first(), status);
    }

    void noNotificationWhileClosed()
    {
        PtyPair pty;
        SerialChannel channel;
        wire(channel, pty);
        QSignalSpy notified(&channel, &SerialChannel::OnComm);

        QVERIFY(pty.write(pattern(60))); // before any opening
        QTest::qWait(100);
        QCOMPARE(notified.size(), 0);

        channel.setPortOpen(true); // stale bytes are discarded, not notified
        QTest::qWait(100);
        QCOMPARE(notified.size(), 0);
        QVERIFY(channel.Input().isEmpty());

        QVERIFY(pty.write(pattern(40))); // arrives, but closed before it is read
        channel.setPortOpen(false);
        QTest::qWait(100);
        QCOMPARE(notified.size(), 0);
        QVERIFY(channel.Input().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSerialChannel)
#include "tst_serialchannel.moc"
