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

#include <limits>

namespace {

// Command frames the simulated supply has received, by its --command-log.
QStringList received(const QString &log)
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? QString(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

// A network between the link and ser2net: the bytes towards the link are
// held and let out in order, whatever has come, every 20 to 80 ms at random.
class HoldingRelay : public QTcpServer
{
public:
    explicit HoldingRelay(quint16 target) : m_target(target)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *near = nextPendingConnection())
                relay(near);
        });
    }

private:
    void relay(QTcpSocket *near)
    {
        auto *far = new QTcpSocket(near);
        auto *hold = new QTimer(near);
        hold->setSingleShot(true);
        auto held = std::make_shared<QByteArray>();
        connect(far, &QTcpSocket::readyRead, near, [=] {
            *held += far->readAll();
            if (!hold->isActive())
                hold->start(QRandomGenerator::global()->bounded(20, 81));
        });
        connect(hold, &QTimer::timeout, near, [=] { near->write(std::exchange(*held, {})); });
        connect(near, &QTcpSocket::readyRead, far, [=] { far->write(near->readAll()); });
        connect(near, &QTcpSocket::disconnected, near, &QObject::deleteLater);
        connect(far, &QTcpSocket::disconnected, near, &QTcpSocket::disconnectFromHost);
        far->connectToHost(QHostAddress::LocalHost, m_target);
    }

    quint16 m_target;
};

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
    QVERIFY(!state.indicators.outputOn);

    // I/O: the output goes on, current-limited, so "I-const" blinks.
    QVERIFY(link.send(io));
    QTRY_VERIFY_WITH_TIMEOUT(state.indicators.outputOn, 5000);
    QCOMPARE(state.readings->text(1), std::string_view("10.00"));
    QCOMPARE(state.indicators.blinking, std::string_view("I-const"));

    // Faces sending at once share the line's budget: what waits is bounded,
    // the rest refused with the reason, and room comes back one frame per
    // turn. Every frame accepted reaches the supply, in order, a turn apart.
    QStringList sent{"eb 90 aa 0c"};
    bool refused = false;
    QElapsedTimer sinceSent;
    qint64 closest = std::numeric_limits<qint64>::max();
    connect(&link, &SupplyLink::frameSent, this, [&] {
        if (sinceSent.isValid())
            closest = std::min(closest, sinceSent.elapsed());
        sinceSent.start();
    });
    for (int n = 1; sent.size() < 20; ++n) {
        // Raising U by n volts leaves the output current-limited at 10 V.
        korvale::CommandFrame raise{0xEB, 0x90, 0x55, std::uint8_t(n)};
        if (link.send(raise, &why)) {
            sent << QStringLiteral("eb 90 55 %1").arg(n, 2, 16, QChar('0'));
            continue;
        }
        QVERIFY2(why.startsWith("Too many keys at once") && n > SupplyLink::kSendQueue,
                 qPrintable(why));
        refused = true;
        QCOMPARE(link.sendsWaiting(), SupplyLink::kSendQueue);
        QSignalSpy room(&link, &SupplyLink::frameSent);
        QVERIFY(room.wait(5000));
    }
    QVERIFY(refused);
    QTRY_COMPARE_WITH_TIMEOUT(received(log), sent, 5000);
    QVERIFY2(closest >= SupplyLink::kSendSpacingMs - 1, qPrintable(QString::number(closest)));

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
    // and a network that holds them up to 80 ms more: the line falls quiet
    // inside frames. Every frame sent is logged but those that lost a byte
    // (every 7th), and none is shown shifted.
    SimSupply supply;
    QVERIFY(supply.start(
        {"--period", "250", "--numbered", "--lumps", "fifo", "--drop-every", "7", "--seed", "5"}));
    Ser2net ser2net;
    QVERIFY2(ser2net.start(supply.link()), "ser2net is needed; scripts/install-deps has it");
    HoldingRelay relay(ser2net.port());
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
