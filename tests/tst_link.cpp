// SPDX-License-Identifier: MIT
// The line service against the simulated supply: its state follows the
// frames, a key reaches the supply, and silence and a lost device are told
// in the order they happened, then their ends.
#include "link/supplylink.h"
#include "simsupply.h"

#include <QtTest>

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void followsTheSupply();
};

void TestLink::followsTheSupply()
{
    SimSupply supply;
    // Frame 12 is 2.6 s of silence: longer than the watchdog allows.
    const QStringList arguments{"--period", "250", "--silence-every", "12", "--silence-ms", "2600"};
    QVERIFY(supply.start(arguments));

    SupplyLink link;
    link.setTarget(1, supply.link());
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
    korvale::CommandFrame io{};
    korvale::fillKeyFrame(io, *korvale::keyCodeOfCommand(10));
    QVERIFY(link.send(io));
    QTRY_VERIFY_WITH_TIMEOUT(state.indicators.outputOn, 5000);
    QCOMPARE(state.readings->text(1), std::string_view("10.00"));
    QCOMPARE(state.indicators.blinking, std::string_view("I-const"));

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

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
