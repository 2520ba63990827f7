// SPDX-License-Identifier: MIT
// The line service against the simulated supply: its state follows the
// frames, keys reach the supply within one budget, silence and a lost device
// are told in the order they happened, then their ends; and every frame
// arrives whatever the road's lumps and holds.
#include "link/supplylink.h"
#include "nettools.h"
#include "simsupply.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Command frames the simulated supply has received, by its --command-log.
QStringList received(const QString &log)
{
    return QString::fromLatin1(fileBytes(log)).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void followsTheSupply();
    void everyFrameThroughHeldLumps();
};

void TestLink::followsTheSupply()
{
    SimSupply supply;
    QTemporaryDir dir;
    const QString log = dir.filePath("commands");
    // Frame 12 is 2.6 s of silence: longer than the watchdog allows.
    const QStringList arguments{"--period",     "250",  "--silence-every", "12",
                                "--silence-ms", "2600", "--command-log",   log};
    QVERIFY(supply.start(arguments));

    SupplyLink link;
    link.setTarget(1, supply.link());
    korvale::CommandFrame io{};
    korvale::fillKeyFrame(io, *korvale::keyCodeOfCommand(10));
    QString why;
    QVERIFY(!link.send(io, &why));
    QCOMPARE(why, "The line is not open.");
    link.setReconnect(true);
    QStringList told;
    const SupplyState &state = link.state();
    connect(&link, &SupplyLink::opened, this, [&] { told << "opened"; });
    connect(&link, &SupplyLink::deviceLost, this, [&] { told << "deviceLost"; });
    connect(&link, &SupplyLink::linkLost, this, [&] { told << "linkLost"; });
    connect(&link, &SupplyLink::linkBack, this, [&] { told << "linkBack"; });
    int frames = 0;
    connect(&link, &SupplyLink::frame, this,
            [&](const QDateTime &time, const korvale::StatusReadings &readings) {
                ++frames;
                QCOMPARE(time, state.frameTime);
                QCOMPARE(readings.StatusByte, state.readings->StatusByte);
            });
    link.open();
    QVERIFY(state.devicePresent && state.linkAlive);
    QTRY_VERIFY_WITH_TIMEOUT(frames > 0, 5000);
    QVERIFY(!state.readings->indicators.outputOn);

    // I/O: the output goes on, current-limited, so "I-const" blinks.
    QVERIFY(link.send(io));
    QTRY_VERIFY_WITH_TIMEOUT(state.readings->indicators.outputOn, 5000);
    QCOMPARE(state.readings->text(1), std::string_view("10.00"));
    QCOMPARE(state.readings->indicators.blinking, std::string_view("I-const"));

    // Faces sending at once share the line's budget: a bounded wait, then
    // refusals with the reason until a turn makes room. Every frame accepted
    // reaches the supply, in order (raising U keeps it current-limited).
    QStringList sent{"eb 90 aa 0c"};
    int refused = 0;
    for (int n = 1; sent.size() < 20; ++n) {
        if (link.send({0xEB, 0x90, 0x55, std::uint8_t(n)}, &why)) {
            sent << QStringLiteral("eb 90 55 %1").arg(n, 2, 16, QChar('0'));
            continue;
        }
        QVERIFY2(why.startsWith("Too many keys at once"), qPrintable(why));
        QCOMPARE(link.sendsWaiting(), SupplyLink::kSendQueue);
        ++refused;
        QSignalSpy room(&link, &SupplyLink::frameSent);
        QVERIFY(room.wait(5000));
    }
    QVERIFY(refused > 0);
    QTRY_COMPARE_WITH_TIMEOUT(received(log), sent, 5000);

    QTRY_VERIFY_WITH_TIMEOUT(told.contains("linkBack"), 15000);
    QVERIFY(state.linkAlive && state.linkSince >= state.deviceSince);

    // The supply goes away and comes back on the same path.
    supply.stop();
    QTRY_VERIFY_WITH_TIMEOUT(told.contains("deviceLost"), 5000);
    QVERIFY(!state.devicePresent);
    QVERIFY(supply.start(arguments));
    QTRY_VERIFY_WITH_TIMEOUT(told.count("opened") == 2 && state.devicePresent, 10000);
    const int before = frames;
    QTRY_VERIFY_WITH_TIMEOUT(frames > before, 5000);
    QCOMPARE(told.mid(0, 5),
             QStringList({"opened", "linkLost", "linkBack", "deviceLost", "opened"}));
}

void TestLink::everyFrameThroughHeldLumps()
{
    // An adapter that hands the bytes on 8 at a time (every 66 ms), ser2net,
    // and a relay for a network that holds them, in order, 20 to 80 ms more:
    // the line falls quiet inside frames. Every frame sent is logged but those
    // that lost a byte (every 7th), and none is shown shifted.
    SimSupply supply;
    QVERIFY(
        supply.start({"--period", "250", "--numbered", "--lumps", "fifo", "--drop-every", "7"}));
    Ser2net ser2net;
    QVERIFY2(ser2net.start(supply.link()), "ser2net is needed; scripts/install-deps has it");
    QTcpServer relay;
    QTcpSocket far;
    QTimer hold;
    QByteArray held;
    hold.setSingleShot(true);
    connect(&relay, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *near = relay.nextPendingConnection();
        connect(&hold, &QTimer::timeout, near, [&, near] { near->write(std::exchange(held, {})); });
        far.connectToHost(QHostAddress::LocalHost, ser2net.port());
    });
    connect(&far, &QTcpSocket::readyRead, this, [&] {
        held += far.readAll();
        if (!hold.isActive())
            hold.start(QRandomGenerator::global()->bounded(20, 81));
    });
    QVERIFY(relay.listen(QHostAddress::LocalHost));

    SupplyLink link;
    link.setTarget(1, QStringLiteral("socket://127.0.0.1:%1").arg(relay.serverPort()));
    QList<int> numbers;
    connect(&link, &SupplyLink::frame, this,
            [&](const QDateTime &, const korvale::StatusReadings &readings) {
                numbers << QString::fromLatin1(readings.text(1).data(), 5).remove('.').toInt();
            });
    link.open();
    // Frames sent from the first logged on, each intact one logged once.
    QTRY_VERIFY_WITH_TIMEOUT(numbers.size() > 1 && numbers.back() - numbers.front() >= 48, 30000);
    link.close();
    QList<int> intact;
    for (int n = numbers.front(); n <= numbers.back(); ++n)
        if (n % 7 != 0)
            intact << n;
    qInfo("intact frames logged: %lld of %lld sent", qlonglong(numbers.size()),
          qlonglong(intact.size()));
    QCOMPARE(numbers, intact);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
