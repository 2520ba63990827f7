// SPDX-License-Identifier: MIT
// Frames found from their content, in the real window on a real pty: a stream
// with no gaps opened at any phase, with lost bytes, in bursts, and across the
// real ser2net and socat.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "ser2net.h"
#include "simsupply.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

constexpr int kFrameMs = 250;

} // namespace

class TestAlignment : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readingsFollow_data();
    void readingsFollow();
    void acrossTheNetwork();

private:
    QLabel *label(int n) { return m_form->panel()->label(n); }
    // Picks comm1, then waits for `count` frames shown, each within
    // `patienceMs` of the pick or of the one before.
    void pickAndRead(int count, int patienceMs);

    SimSupply m_supply; // outlives the window, whose port closes first
    std::unique_ptr<Form1> m_form;
    int m_readings = 0;
    QElapsedTimer m_lastReading;
    qint64 m_worstMs = 0;
    QEventLoop *m_waiting = nullptr;
};

void TestAlignment::initTestCase()
{
    m_form = std::make_unique<Form1>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    // Runs after the window's own handler. The readings never change here, so
    // Label4 ("12", the voltage setting) is blanked after each frame shown.
    connect(&m_form->channel(), &SerialChannel::OnComm, this, [this] {
        if (label(4)->text() != QStringLiteral("12"))
            return;
        ++m_readings;
        m_lastReading.start();
        label(4)->setText(QStringLiteral("--"));
        if (m_waiting)
            m_waiting->quit();
    });
}

void TestAlignment::pickAndRead(int count, int patienceMs)
{
    m_readings = 0;
    QElapsedTimer since;
    since.start();
    m_form->comm1()->trigger();
    QVERIFY(m_form->channel().PortOpen());
    while (m_readings < count) {
        // A real event loop: QTest::qWait looks at events only every 10 ms,
        // so it would take two bytes at once where the line brings one every
        // 8.3 ms, and overshoot the end of a frame.
        const int seen = m_readings;
        QEventLoop loop;
        m_waiting = &loop;
        QTimer::singleShot(patienceMs, &loop, &QEventLoop::quit);
        loop.exec();
        m_waiting = nullptr;
        QVERIFY2(m_readings > seen, qPrintable(QString("frame %1 never shown").arg(seen + 1)));
        m_worstMs = std::max(m_worstMs, since.restart());
    }
}

void TestAlignment::readingsFollow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("picks");
    QTest::addColumn<int>("frames"); // to be shown after each pick
    QTest::addColumn<int>("patienceMs");

    // Without realignment about half of all phases never show a reading,
    // one lost byte freezes the display for good, and in bursts a reading
    // comes only when a burst happens to end where a frame does.
    const QStringList backToBack{"--period", QString::number(kFrameMs)};
    QTest::newRow("opened at 8 phases") << backToBack << 8 << 1 << 1500;
    QTest::newRow("a byte lost every 5th frame")
        << backToBack + QStringList{"--drop-every", "5", "--seed", "7"} << 1 << 8 << 1500;
    // With gaps the quiet line starts every count afresh, so waiting for the
    // rest of a frame cut by an unreadable block must not cut the next one.
    QTest::newRow("gaps, every other block unreadable")
        << QStringList{"--period", "400", "--midblock-every", "1"} << 1 << 3 << 1500;
    // A block that a burst overran is dropped whole, so readings in bursts
    // come less regularly: more patience, fewer phases.
    QTest::newRow("bursts, opened at 4 phases")
        << backToBack + QStringList{"--bursts"} << 4 << 1 << 8000;
}

void TestAlignment::readingsFollow()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, picks);
    QFETCH(int, frames);
    QFETCH(int, patienceMs);
    QVERIFY(m_supply.start(arguments));
    qputenv("KORVALE_COMM1", m_supply.link().toLocal8Bit());
    m_worstMs = 0;
    for (int i = 0; i < picks && !QTest::currentTestFailed(); ++i) {
        // A frame is shown as it ends; picking a little later each time opens
        // the port at a later phase of the next one.
        if (i > 0)
            QTest::qWait(int(std::max<qint64>(0, kFrameMs * i / picks - m_lastReading.elapsed())));
        pickAndRead(frames, patienceMs);
    }
    qInfo("longest wait for a reading: %lld ms", m_worstMs);
    m_form->channel().setPortOpen(false);
}

void TestAlignment::acrossTheNetwork()
{
    const QString socat = Ser2net::find("socat");
    QVERIFY(m_supply.start({"--period", QString::number(kFrameMs)}));
    // ser2net beside the supply, socat on the operator's side.
    Ser2net server;
    QVERIFY2(server.start(m_supply.link()) && !socat.isEmpty(),
             "ser2net and socat are needed; scripts/install-deps installs both");
    QTemporaryDir dir;
    const QString local = dir.filePath("supply-net");
    QProcess client;
    client.start(socat, {"pty,link=" + local + ",raw,echo=0",
                         QStringLiteral("tcp:127.0.0.1:%1").arg(server.port())});
    QVERIFY(client.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(local); }, 5000));

    qputenv("KORVALE_COMM1", local.toLocal8Bit());
    pickAndRead(3, 3000);
    // A key press travels back: I/O turns the output on, current-limited.
    QTest::mouseClick(m_form->panel()->command(10), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(label(1)->text(), QStringLiteral("10.00"), 3000);
    QCOMPARE(label(2)->text(), QStringLiteral("1.000"));

    m_form->channel().setPortOpen(false);
    client.terminate();
    client.waitForFinished(3000);
}

QTEST_MAIN(TestAlignment)
#include "tst_alignment.moc"
