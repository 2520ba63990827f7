// SPDX-License-Identifier: MIT
// The channel's bounds and timing rules over a real pseudo-terminal, where
// the window cannot pin them down exactly.
#include "ptypair.h"
#include "serial/serialchannel.h"

namespace {

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

// A channel on port 1, the slave end of its own pseudo-terminal, that takes
// every block as the window does.
struct Wired
{
    PtyPair pty;
    SerialChannel channel;
    QList<QByteArray> takes;

    Wired()
    {
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        channel.setCommPort(1);
        QObject::connect(&channel, &SerialChannel::OnComm, &channel,
                         [this] { takes << channel.Input(); });
    }
};

} // namespace

class TestSerialChannel : public QObject
{
    Q_OBJECT
private slots:
    void devicePath()
    {
        QCOMPARE(SerialChannel::devicePath(1), QString("/dev/ttyS0"));
        qputenv("KORVALE_COMM2", "");
        QCOMPARE(SerialChannel::devicePath(2), QString("/dev/ttyS1"));
        qputenv("KORVALE_COMM2", "/dev/ttyUSB1");
        QCOMPARE(SerialChannel::devicePath(2), QString("/dev/ttyUSB1"));
        qunsetenv("KORVALE_COMM2");
    }

    void receiveNotification()
    {
        // Bursts written (negative: then a quiet line), and the takes.
        const std::pair<QList<int>, QList<int>> cases[] = {{{30}, {30}},
                                                           {{29}, {29}},
                                                           {{-12, 30}, {12, 30}},
                                                           {{20, 40}, {60}},
                                                           {QList<int>(30, 1), {30}},
                                                           {{10, 10, 9, 2}, {31}}};
        for (const auto &[bursts, takes] : cases) {
            Wired w;
            w.channel.setPortOpen(true);
            QByteArray sent;
            for (int size : bursts) {
                sent += pattern(std::abs(size), int(sent.size()));
                QVERIFY(w.pty.write(sent.right(std::abs(size))));
                QTest::qWait(size < 0 ? SerialChannel::kFragmentQuietMs + 100 : 20);
            }
            QTest::qWait(150);
            QList<int> sizes;
            for (const QByteArray &take : w.takes)
                sizes << int(take.size());
            QCOMPARE(sizes, takes);
            QCOMPARE(w.takes.join() + w.channel.Input(), sent);
        }
    }

    void queuesAreBounded()
    {
        Wired w;
        w.channel.setPortOpen(true);
        // Every byte value passes both ways untouched.
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        QVERIFY(w.channel.Output(all));
        QCOMPARE(w.pty.readExactly(256), all);

        // Receiving: the rest waits in the kernel until a take makes room.
        w.channel.blockSignals(true);
        const QByteArray sent = all.repeated(8);
        QVERIFY(w.pty.write(sent));
        QTest::qWait(200);
        const QByteArray first = w.channel.Input();
        QCOMPARE(first.size(), SerialChannel::kReceiveQueue);
        QTest::qWait(200);
        QCOMPARE(first + w.channel.Input(), sent);

        // Sending: without an event-loop turn nothing leaves, so the bound is
        // exact, and a refused frame is refused whole.
        QByteArray accepted;
        for (int i = 0; i < 200; ++i)
            if (w.channel.Output(frame(i)))
                accepted += frame(i);
        QCOMPARE(accepted.size(), SerialChannel::kTransmitQueue);
        QCOMPARE(w.pty.readExactly(accepted.size(), 10000), accepted);
    }

    void reopeningDiscardsWaitingBytes()
    {
        Wired w;
        QVERIFY(w.pty.write(pattern(60))); // before any opening
        w.channel.setPortOpen(true);
        QVERIFY(w.pty.write(pattern(10, 100))); // read into the channel's queue
        QTest::qWait(50);
        QVERIFY(w.pty.write(pattern(15, 200))); // still in the kernel
        for (int i = 0; i < 3; ++i)             // still in the transmit queue
            QVERIFY(w.channel.Output(frame(i)));
        w.channel.setPortOpen(false);
        QVERIFY(!w.channel.Output(frame(9)));
        QCOMPARE(w.pty.readFor(100), QByteArray());

        w.channel.setPortOpen(true);
        QTest::qWait(150);
        QVERIFY(w.takes.isEmpty());
        QVERIFY(w.channel.Input().isEmpty());
        QVERIFY(w.pty.write(pattern(30, 50)));
        QTRY_COMPARE(w.takes, QList<QByteArray>{pattern(30, 50)});
    }
};

QTEST_GUILESS_MAIN(TestSerialChannel)
#include "tst_serialchannel.moc"
