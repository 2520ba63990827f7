// SPDX-License-Identifier: MIT
// Frames found from their content, in the real window on a real pty: a stream
// with no gaps, handed on in the lumps of real links, opened at any phase and
// with lost bytes, and frames cut short between gaps. Every frame carries its
// number, so each one shown is counted. (The real ser2net is in the network
// device's test.)
#include "app/form1.h"
#include "panel/frontpanel.h"
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
    void everyWholeFrameShown_data();
    void everyWholeFrameShown();

private:
    QLabel *label(int n) { return m_form->panel()->label(n); }
    // Picks comm1, then waits for `count` frames shown, each within
    // `patienceMs` of the pick or of the one before.
    void pickAndRead(int count, int patienceMs);
    // The frames shown since the pick follow each other, but for a frame
    // that arrived damaged (every `dropEvery`th): that one, and the one
    // before it when the byte lost was the sync pair that ends it. None is
    // ever shown from the wrong bytes.
    void checkNoneMissed(int dropEvery);

    SimSupply m_supply; // outlives the window, whose port closes first
    std::unique_ptr<Form1> m_form;
    QList<int> m_shown; // frame numbers, as Label1 showed them
    QElapsedTimer m_lastReading;
    QEventLoop *m_waiting = nullptr;
};

void TestAlignment::initTestCase()
{
    m_form = std::make_unique<Form1>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    // Runs after the window has drawn the frame: Label1 shows its number.
    connect(&m_form->MSComm1, &SupplyLink::frame, this, [this] {
        const QString text = label(1)->text();
        m_shown << QString(text).remove('.').toInt();
        m_lastReading.start();
        if (m_waiting)
            m_waiting->quit();
    });
}

void TestAlignment::pickAndRead(int count, int patienceMs)
{
    m_form->comm1()->trigger();
    m_shown.clear(); // what the closing port still brought was of the last pick
    QVERIFY(m_form->channel().PortOpen());
    while (m_shown.size() < count) {
        // A real event loop: QTest::qWait looks at events only every 10 ms,
        // so it would take two bytes at once where the line brings one every
        // 8.3 ms, and overshoot the end of a frame.
        const qsizetype seen = m_shown.size();
        QEventLoop loop;
        m_waiting = &loop;
        QTimer::singleShot(patienceMs, &loop, &QEventLoop::quit);
        loop.exec();
        m_waiting = nullptr;
        QVERIFY2(m_shown.size() > seen, qPrintable(QString("frame %1 never shown").arg(seen + 1)));
    }
}

void TestAlignment::checkNoneMissed(int dropEvery)
{
    auto damaged = [dropEvery](int n) { return dropEvery > 0 && n % dropEvery == 0; };
    for (qsizetype i = 1; i < m_shown.size(); ++i) {
        const int previous = m_shown[i - 1];
        const int number = m_shown[i];
        QVERIFY2(number > previous, qPrintable(QStringLiteral("frame %1 shown after %2, a reading "
                                                              "that no frame carried")
                                                   .arg(number)
                                                   .arg(previous)));
        for (int n = previous + 1; n < number; ++n) {
            QVERIFY2(damaged(n) || damaged(n + 1),
                     qPrintable(QStringLiteral("frame %1 missed").arg(n)));
        }
    }
}

void TestAlignment::everyWholeFrameShown_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("picks");
    QTest::addColumn<int>("frames"); // to be shown after each pick
    QTest::addColumn<int>("dropEvery");

    // A lump that carries past a frame's end, or a port opened inside a
    // frame, must cost no whole frame.
    const QStringList backToBack{"--period", QString::number(kFrameMs), "--numbered"};
    for (const char *lumps : {"none", "usb", "fifo", "network"}) {
        const QStringList stream = backToBack + QStringList{"--lumps", lumps};
        QTest::addRow("%s, opened at 6 phases", lumps) << stream << 6 << 3 << 0;
        QTest::addRow("%s, a byte lost every 4th frame", lumps)
            << stream + QStringList{"--drop-every", "4", "--seed", "7"} << 1 << 14 << 4;
    }
    // With gaps every other block holds a frame cut short, after junk: it
    // never shows, and the whole one after it does.
    QTest::newRow("gaps, every other frame cut short")
        << QStringList{"--period", "400", "--numbered", "--midblock-every", "2"} << 1 << 3 << 2;
}

void TestAlignment::everyWholeFrameShown()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, picks);
    QFETCH(int, frames);
    QFETCH(int, dropEvery);
    QVERIFY(m_supply.start(arguments));
    qputenv("KORVALE_COMM1", m_supply.link().toLocal8Bit());
    const bool numbered = arguments.contains("--numbered");
    for (int i = 0; i < picks && !QTest::currentTestFailed(); ++i) {
        // A frame is shown as it ends; picking a little later each time opens
        // the port at a later phase of the next one.
        if (i > 0)
            QTest::qWait(int(std::max<qint64>(0, kFrameMs * i / picks - m_lastReading.elapsed())));
        pickAndRead(frames, 1500);
        if (numbered && !QTest::currentTestFailed())
            checkNoneMissed(dropEvery);
    }
    m_form->MSComm1.close();
}

QTEST_MAIN(TestAlignment)
#include "tst_alignment.moc"
