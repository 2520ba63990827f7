// SPDX-License-Identifier: MIT
// The network device, socket://HOST:PORT: its addresses; the real window
// against korvale-sim behind the real ser2net (readings, keys, the far end
// closing, a refusal, picking again); a connection that hangs; and
// many connections made and dropped. The receive count and the queues are
// the channel's whatever its device, and proven in tst_form1; only the
// socket's own receive bound is checked here.
#include "app/form1.h"
#include "app/portnotice.h"
#include "nettools.h"
#include "panel/frontpanel.h"
#include "serial/lingeringclose.h"
#include "serial/networkdevice.h"
#include "simsupply.h"

#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

namespace {

QString deviceAt(quint16 port)
{
    return QStringLiteral("socket://127.0.0.1:%1").arg(port);
}

// Command frames the simulated supply has received, by its --command-log.
int received(const QString &log)
{
    return int(fileBytes(log).count('\n'));
}
} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void addresses();
    void throughSer2net();
    void pressesReachTheSupply();
    void hangingConnection();
    void connectAndDrop();

private:
    QLabel *label(int n) { return m_form->panel()->label(n); }
    QString notice() { return m_form->findChild<PortNotice *>()->notice()->text(); }
    // True once `count` frames have been shown since the call.
    bool readingsShown(int count)
    {
        m_readings = 0;
        return QTest::qWaitFor([&] { return m_readings >= count; }, 1000 + 500 * count);
    }

    SimSupply m_supply;
    Ser2net m_ser2net;
    std::unique_ptr<Form1> m_form;
    int m_readings = 0;
};

void TestNetwork::initTestCase()
{
    m_form = std::make_unique<Form1>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    // Runs after the window has drawn each frame the line accepts; Label4
    // ("12", the voltage setting) shows it is the supply's.
    connect(&m_form->MSComm1, &SupplyLink::frame, this, [this] {
        if (label(4)->text() == QStringLiteral("12"))
            ++m_readings;
    });
}

void TestNetwork::addresses()
{
    QVERIFY(!isNetworkDevice("/dev/socket://x:1"));
    // Host and port, or a part of the error.
    const std::pair<const char *, const char *> cases[] = {
        {"socket://supplyhost:3000", "supplyhost 3000"},
        {"socket://[fe80::1]:65535", "fe80::1 65535"},
        {"socket://fe80::1:3000", "needs brackets"},
        {"socket://supplyhost", "no port"},
        {"socket://supplyhost:65536", "not '65536'"},
        {"socket://:3000", "no host"}};
    for (const auto &[device, parsed] : cases) {
        QVERIFY(isNetworkDevice(device));
        const NetworkDevice address = parseNetworkDevice(device);
        if (address.error.isEmpty()) {
            QCOMPARE(address.host + ' ' + QString::number(address.port), QString(parsed));
            continue;
        }
        QVERIFY2(address.error.contains(parsed) && address.error.contains("socket://HOST:PORT"),
                 qPrintable(address.error));
        // It fails the opening at once, with the same reason.
        SerialChannel channel;
        QSignalSpy failed(&channel, &SerialChannel::openFailed);
        channel.setDevicePath(device);
        channel.setPortOpen(true);
        QVERIFY(!channel.PortOpen());
        QCOMPARE(failed.value(0).value(2).toString(), address.error);
    }
}

void TestNetwork::throughSer2net()
{
    QVERIFY(m_supply.start({"--period", "250"}));
    QVERIFY2(m_ser2net.start(m_supply.link()), "ser2net is needed; scripts/install-deps has it");
    qputenv("KORVALE_COMM1", deviceAt(m_ser2net.port()).toLatin1());
    SerialChannel &channel = m_form->channel();
    QSignalSpy lost(&channel, &SerialChannel::deviceLost);
    QSignalSpy failed(&channel, &SerialChannel::openFailed);

    // Readings shown (keys are counted by the supply in the next case).
    m_form->comm1()->trigger();
    QVERIFY(channel.PortOpen());
    QVERIFY(readingsShown(3));

    // korvale-cli takes the line, in the middle of a frame as nearly always
    // with frames back to back: the window's port is closed, said once, the
    // link picture blinks. Picked again, it connects again and reads.
    QProcess cli;
    cli.start(KORVALE_CLI_EXECUTABLE,
              {"--device", qEnvironmentVariable("KORVALE_COMM1"), "watch", "--count", "1"});
    QVERIFY(cli.waitForFinished(10000) && cli.exitCode() == 0);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QVERIFY(!channel.PortOpen());
    QVERIFY2(notice().contains("connection ended"), qPrintable(notice()));
    QTRY_COMPARE_WITH_TIMEOUT(m_form->Model.Watchdog.LinkLost, 1, 4000);
    QCOMPARE(lost.size(), 1);
    m_form->comm1()->trigger();
    QVERIFY(readingsShown(1));

    // ser2net ends: the connection with it. Picked then, it is refused at
    // once, saying so; picked once ser2net is back, it reads again.
    m_ser2net.stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 2, 3000);
    m_form->comm1()->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 1000);
    QVERIFY(!channel.PortOpen());
    QVERIFY2(notice().contains("connection refused"), qPrintable(notice()));
    QVERIFY(m_ser2net.start(m_supply.link()));
    m_form->comm1()->trigger();
    QVERIFY(readingsShown(2));
    QCOMPARE(lost.size() + failed.size(), 3);
    channel.setPortOpen(false);
}

void TestNetwork::pressesReachTheSupply()
{
    // Each press ends only once its frame can have crossed ser2net and the
    // line, which the simulated supply takes at the line's pace, losing what
    // ser2net flushes as it closes the device behind a connection.
    QTemporaryDir dir;
    const QString log = dir.filePath("commands");
    QVERIFY(m_supply.start({"--period", "250", "--command-log", log}));
    const auto press = [](const QString &device, int keys = 1) {
        return QProcess::execute(KORVALE_CLI_EXECUTABLE, QStringList{"--device", device, "press"} +
                                                             QStringList(keys, "I/O"));
    };
    // Straight on the line too: an opening leaves alone what the last press
    // is still sending.
    for (int i = 0; i < 20; ++i)
        QCOMPARE(press(m_supply.link()), 0);
    QTRY_COMPARE(received(log), 20);
    QVERIFY(m_ser2net.start(m_supply.link()));
    const QString device = deviceAt(m_ser2net.port());
    for (int i = 0; i < 200; ++i)
        QCOMPARE(press(device), 0);
    QTRY_COMPARE(received(log), 220);
    // Twenty keys in one press wait for their turns on the line. Written at
    // once, they take longer on the line than ser2net's own part: the
    // connection must last as long as the line needs for them.
    QCOMPARE(press(device, 20), 0);
    SerialChannel direct;
    QSignalSpy connected(&direct, &SerialChannel::opened);
    direct.setDevicePath(device);
    direct.setPortOpen(true);
    QVERIFY(connected.wait(5000));
    QVERIFY(direct.Output(QByteArray("\xEB\x90\xAA\x0C").repeated(20)));
    QVERIFY(direct.drainAndClose(6000));
    QTRY_COMPARE(received(log), 260);

    // The window: a key pressed as a port is picked again, or the other one,
    // so that it goes out the moment the connection stands, which must wait
    // until the last one has passed its key on and ser2net let the device go.
    qputenv("KORVALE_COMM1", device.toLatin1());
    qputenv("KORVALE_COMM2", device.toLatin1());
    SerialChannel &channel = m_form->channel();
    QSignalSpy opened(&channel, &SerialChannel::opened);
    for (int i = 0; i < 6; ++i) {
        (i % 2 ? m_form->comm2() : m_form->comm1())->trigger();
        QTest::mouseClick(m_form->panel()->command(10), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), i + 1, 5000);
    }
    m_form->comm1()->trigger();
    QTRY_COMPARE(received(log), 266);
    QVERIFY(readingsShown(1));
    channel.setPortOpen(false);
    LingeringClose::finishAll();
}

void TestNetwork::hangingConnection()
{
    // The window keeps its event thread while a connection hangs, keys pressed
    // meanwhile queue, and the attempt ends on its time limit, saying why.
    // A listener that accepts nothing: once its backlog is full, the kernel
    // drops every further attempt unanswered, as from a host switched off.
    QTcpServer hole;
    hole.setListenBacklogSize(0);
    QVERIFY(hole.listen(QHostAddress::LocalHost));
    hole.pauseAccepting();
    QTcpSocket fill[3];
    for (QTcpSocket &socket : fill)
        socket.connectToHost(QHostAddress::LocalHost, hole.serverPort());
    qputenv("KORVALE_COMM1", deviceAt(hole.serverPort()).toLatin1());
    SerialChannel &channel = m_form->channel();
    QSignalSpy failed(&channel, &SerialChannel::openFailed);
    m_form->comm1()->trigger();
    // A connect that waited would hold the thread for the whole time limit:
    // a timer due right after the pick would run only after the failure.
    bool turned = false;
    QTimer::singleShot(1, &failed, [&] { turned = failed.isEmpty(); });
    QVERIFY(channel.PortOpen() && channel.Output(QByteArray(4, '\x5a')));
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, SerialChannel::kConnectTimeoutMs + 3000);
    QVERIFY2(turned, "the event thread stalled while connecting");
    QVERIFY2(notice().contains("timed out"), qPrintable(notice()));
    QVERIFY(!channel.PortOpen());
}

void TestNetwork::connectAndDrop()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    SerialChannel channel;
    channel.setDevicePath(deviceAt(server.serverPort()));
    QSignalSpy lost(&channel, &SerialChannel::deviceLost);
    // Opens the channel, writes `early` while it connects, and plays the far
    // end of the connection.
    std::unique_ptr<QTcpSocket> peer;
    const auto connectPeer = [&](const QByteArray &early) {
        channel.setPortOpen(true);
        if (!channel.Output(early))
            return false;
        if (QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 2000))
            peer.reset(server.nextPendingConnection());
        return peer != nullptr;
    };

    // A socket is held to the serial port's receive bound: the rest waits in
    // the kernel until a take makes room.
    QVERIFY(connectPeer({}));
    const QByteArray sent(3000, '\x33');
    peer->write(sent);
    QTRY_COMPARE(channel.InBufferCount(), SerialChannel::kReceiveQueue);
    QByteArray taken;
    while (taken.size() < sent.size() &&
           QTest::qWaitFor([&] { return channel.InBufferCount() > 0; }))
        taken += channel.Input();
    QCOMPARE(taken, sent);
    // Bytes that reached the device while the event loop was busy make the
    // line not quiet: the fragment before them waits for them.
    QSignalSpy blocks(&channel, &SerialChannel::OnComm);
    peer->write(QByteArray(10, '\x11'));
    QTRY_COMPARE(channel.InBufferCount(), 10);
    auto *const quietTime = channel.findChild<QTimer *>("quietLine");
    quietTime->stop();
    peer->write(QByteArray(5, '\x22'));
    QVERIFY(peer->flush() && peer->bytesToWrite() == 0);
    QMetaObject::invokeMethod(quietTime, "timeout");
    QCOMPARE(blocks.size(), 0);
    QVERIFY(blocks.wait(5000));
    QCOMPARE(channel.Input(), QByteArray(10, '\x11') + QByteArray(5, '\x22'));
    // A close after a frame ends a while after the far end's, which is when
    // ser2net lets the device go: a slow machine can only make it later.
    QElapsedTimer farEndClosed;
    connect(peer.get(), &QTcpSocket::disconnected, this, [&] { farEndClosed.start(); });
    QVERIFY(channel.Output(QByteArray(4, '\x5a')) && channel.drainAndClose(6000));
    QVERIFY(farEndClosed.isValid() && farEndClosed.elapsed() >= LingeringClose::kRelease.count());
    peer.reset();

    // Made and dropped by the far end, over and over: what was written while
    // connecting arrives, each drop is told once, no descriptor is kept.
    const int fdsBefore = openFiles(QCoreApplication::applicationPid());
    for (int i = 0; i < 100; ++i) {
        const QByteArray early(4, char(i));
        QVERIFY(connectPeer(early));
        QTRY_COMPARE(peer->bytesAvailable(), early.size());
        QCOMPARE(peer->readAll(), early);
        // Some cycles drop in the middle of a frame.
        peer->write(QByteArray(i % 40, '\x5a'));
        peer->flush();
        peer.reset();
        QTRY_COMPARE(lost.size(), i + 1);
        QVERIFY(!channel.PortOpen());
    }
    QCOMPARE(openFiles(QCoreApplication::applicationPid()), fdsBefore);
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
