// SPDX-License-Identifier: MIT
// Status frames into readings and indicators, the blink tick and the link
// watchdog; frames arrive through a real pseudo-terminal.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "panel/indicators.h"
#include "panel/picturebox.h"
#include "wiredform.h"

#include <QLabel>
#include <QtTest>

namespace {

// A thirty-byte aligned frame: readings 12.34 5.000 123.4 40 0.50 200.
QByteArray frame(int statusByte)
{
    QByteArray f = QByteArray::fromHex("eb9004d2138812340fa001f42000");
    f.append(char(statusByte));
    f.append(15, '\x5a');
    return f;
}

// Which of Label7..Label16 are shown, as a string of their numbers.
QString shownIndicators(const FrontPanel &panel)
{
    QStringList shown;
    for (int n = 7; n <= 16; ++n)
        if (!panel.label(n)->isHidden())
            shown << QString::number(n);
    return shown.join(',');
}

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT
private slots:
    void statusByte_data();
    void statusByte();
    void blinkingStopsWhenItsBitIsSet();
    void lowerRankKeepsItsLastVisibility();
    void acceptedFrameThroughTheLine();
    void aFrameCutByTheOpeningDoesNotMisalignTheNext();
    void rejectedBlocksOnlyHideLockedAndResetTheWatchdog_data();
    void rejectedBlocksOnlyHideLockedAndResetTheWatchdog();
    void watchdogCountsTicks();
    void blinkTickWithLinkLost();
    void linkPictureFollowsTheLineInRealTime();
    void renderedPanelShowsAFrame();
};

void TestStatus::statusByte_data()
{
    // Starting from the load state (every indicator shown), one byte.
    QTest::addColumn<int>("statusByte");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("blinkTarget");
    // Label12 "Output" is fixed and Label15 "Locked" is not the byte's; the
    // constant-mode labels whose bits are clear keep their start visibility.
    QTest::newRow("0x00") << 0x00 << "8,9,10,12,13,15" << 8;
    QTest::newRow("0x01 as 0x00") << 0x01 << "8,9,10,12,13,15" << 8;
    QTest::newRow("0xFE") << 0xFE << "7,8,9,10,11,12,14,15,16" << 0;
    QTest::newRow("0xFF as 0xFE") << 0xFF << "7,8,9,10,11,12,14,15,16" << 0;
    QTest::newRow("0x50: I-const blinks") << 0x50 << "8,9,10,12,13,15" << 9;
    QTest::newRow("0x60: P-const blinks") << 0x60 << "8,9,10,12,13,15" << 10;
    QTest::newRow("0x30: U-const blinks") << 0x30 << "8,9,10,12,13,15" << 8;
    QTest::newRow("remote and on") << 0x76 << "8,9,10,12,14,15,16" << 0;
    QTest::newRow("overtemp and fine") << 0x88 << "7,8,9,10,11,12,13,15" << 8;
}

void TestStatus::statusByte()
{
    QFETCH(int, statusByte);
    QFETCH(QString, shown);
    QFETCH(int, blinkTarget);
    Form1 form;
    int target = -1;
    ApplyStatusByte(*form.panel(), std::uint8_t(statusByte), target);
    QCOMPARE(shownIndicators(*form.panel()), shown);
    QCOMPARE(target, blinkTarget);
}

void TestStatus::blinkingStopsWhenItsBitIsSet()
{
    Form1 form;
    FrontPanel &panel = *form.panel();
    ApplyStatusByte(panel, 0x30, form.BlinkTarget);
    QCOMPARE(form.BlinkTarget, 8);
    form.Timer1_Timer();
    QVERIFY(panel.label(8)->isHidden());
    form.Timer1_Timer();
    QVERIFY(!panel.label(8)->isHidden());
    form.Timer1_Timer();
    QVERIFY(panel.label(8)->isHidden());

    // Bit 0x40 set: shown at once, in whichever phase it was, and left alone.
    ApplyStatusByte(panel, 0x70, form.BlinkTarget);
    QCOMPARE(form.BlinkTarget, 0);
    QVERIFY(!panel.label(8)->isHidden());
    for (int i = 0; i < 3; ++i) {
        form.Timer1_Timer();
        QCOMPARE(shownIndicators(panel), QString("8,9,10,12,13,15"));
    }
}

void TestStatus::lowerRankKeepsItsLastVisibility()
{
    Form1 form;
    FrontPanel &panel = *form.panel();
    // I-const blinks into its hidden phase...
    ApplyStatusByte(panel, 0x50, form.BlinkTarget);
    form.Timer1_Timer();
    QVERIFY(panel.label(9)->isHidden());
    // ...then U-const outranks it: I-const stays hidden while U-const blinks.
    for (int i = 0; i < 4; ++i) {
        ApplyStatusByte(panel, 0x10, form.BlinkTarget);
        QCOMPARE(form.BlinkTarget, 8);
        form.Timer1_Timer();
        QVERIFY(panel.label(9)->isHidden());
        QCOMPARE(panel.label(8)->isHidden(), i % 2 == 0);
    }
    // Visibility is the control's own flag: it blinks while the window is hidden.
    QVERIFY(!form.isVisible());
}

void TestStatus::acceptedFrameThroughTheLine()
{
    WiredForm w;
    QByteArray shifted = QByteArray(5, '\x33') + frame(0x56).left(25);
    QVERIFY(w.deliver(frame(0x56)));
    QCOMPARE(w.readings().join(' '), QString("12.34 5.000 123.4 40 0.50 200"));
    QCOMPARE(shownIndicators(w.panel()), QString("8,9,10,12,14,16"));
    QCOMPARE(w.form->BlinkTarget, 9);

    // A frame starting at position 5 of its block decodes from there.
    shifted[5 + 3] = char(0xB5); // 0x04B5 = 1205
    QVERIFY(w.deliver(shifted));
    QCOMPARE(w.panel().label(1)->text(), QString("12.05"));
    QCOMPARE(w.panel().label(1)->size(), QSize(88, 33)); // labels keep their size
}

void TestStatus::aFrameCutByTheOpeningDoesNotMisalignTheNext()
{
    // The port opened while a frame was on the wire: only its last 20 bytes
    // arrive, then the line rests until the next frame, as at 1200 baud.
    WiredForm w;
    QVERIFY(w.deliver(frame(0x7E).mid(10)));
    QCOMPARE(w.panel().label(1)->text(), QString("00.00"));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(w.deliver(frame(0x7E)));
        QCOMPARE(w.readings().join(' '), QString("12.34 5.000 123.4 40 0.50 200"));
    }
}

void TestStatus::rejectedBlocksOnlyHideLockedAndResetTheWatchdog_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::newRow("31 bytes") << frame(0x00) + QByteArray(1, '\0');
    QTest::newRow("60 bytes, two frames") << frame(0x00) + frame(0x00);
    QTest::newRow("no sync pair") << QByteArray(30, '\x11');
    QTest::newRow("sync pair after position 15") << QByteArray(16, '\0') + frame(0x00).left(14);
}

void TestStatus::rejectedBlocksOnlyHideLockedAndResetTheWatchdog()
{
    QFETCH(QByteArray, block);
    WiredForm w;
    QVERIFY(w.deliver(frame(0xFE)));
    const QString before = w.readings().join(' ');
    const QString indicators = shownIndicators(w.panel());
    w.panel().label(15)->show(); // so that its hiding is seen again
    for (int i = 0; i < 25; ++i)
        w.form->Timer2_Timer();
    QCOMPARE(w.form->Watchdog.LinkLost, 1);

    QVERIFY(w.deliver(block));
    QVERIFY(w.panel().label(15)->isHidden());
    QCOMPARE(w.readings().join(' '), before);
    QCOMPARE(shownIndicators(w.panel()) + ",15", indicators + ",15");
    QCOMPARE(w.form->BlinkTarget, 0);
    QCOMPARE(w.form->Watchdog.SilenceCount, 0);
    QCOMPARE(w.form->Watchdog.LinkLost, 0);
    QVERIFY(w.form->RxBlock.size() >= 30);
}

void TestStatus::watchdogCountsTicks()
{
    LinkWatchdog dog;
    for (int i = 0; i < 20; ++i)
        dog.tick();
    QCOMPARE(dog.LinkLost, 0);
    dog.tick();
    QCOMPARE(dog.LinkLost, 1);
    // Endless silence never wraps back to alive.
    for (int i = 0; i < 100000; ++i)
        dog.tick();
    QCOMPARE(dog.LinkLost, 1);
    QVERIFY(dog.SilenceCount > 20);
    dog.reset();
    QCOMPARE(dog.SilenceCount, 0);
    QCOMPARE(dog.LinkLost, 0);
}

void TestStatus::blinkTickWithLinkLost()
{
    Form1 form;
    PictureBox *alive = form.panel()->image(2);
    PictureBox *lost = form.panel()->image(3);
    form.Timer1_Timer(); // alive: steady picture, crossed-out one hidden
    QVERIFY(!alive->isHidden() && lost->isHidden());
    for (int i = 0; i < 21; ++i)
        form.Timer2_Timer();
    for (int i = 0; i < 4; ++i) {
        form.Timer1_Timer();
        QVERIFY(alive->isHidden());
        QCOMPARE(lost->isHidden(), i % 2 == 1);
    }
    QCOMPARE(form.BlinkTarget, 0); // and no label blinks meanwhile
    QCOMPARE(shownIndicators(*form.panel()), QString("7,8,9,10,11,12,13,14,15,16"));
}

void TestStatus::linkPictureFollowsTheLineInRealTime()
{
    WiredForm w;
    QVERIFY(w.deliver(frame(0x7E)));
    QElapsedTimer silence; // from the last serial event on
    silence.start();
    PictureBox *alive = w.panel().image(2);
    PictureBox *lost = w.panel().image(3);
    QTRY_VERIFY_WITH_TIMEOUT(!alive->isHidden() && lost->isHidden(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(alive->isHidden(), 4000);
    // Declared lost after a little over two seconds, never before 2.0 s.
    QVERIFY2(silence.elapsed() >= 1900, qPrintable(QString::number(silence.elapsed())));
    QVERIFY(w.deliver(frame(0x7E)));
    QTRY_VERIFY_WITH_TIMEOUT(!alive->isHidden() && lost->isHidden(), 1000);
}

void TestStatus::renderedPanelShowsAFrame()
{
    WiredForm w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QVERIFY(w.deliver(frame(0x36))); // remote, on, U-const blinking
    const QImage image = w.form->grab().toImage();
    image.save(QStringLiteral("panel-with-frame.png")); // to look at, in the build tree

    const QPoint origin = w.form->centralWidget()->mapTo(w.form.get(), QPoint(0, 0));
    auto pixelAt = [&](QPoint p) { return QColor(image.pixel(origin + p)); };
    // The display's green field shows through the transparent labels...
    QCOMPARE(pixelAt(QPoint(150, 80)), QColor(0, 204, 102));
    // ...and the digits are drawn in dark ink inside the first reading label.
    int dark = 0;
    const QRect label1 = w.panel().label(1)->geometry();
    for (int x = label1.left(); x <= label1.right(); ++x)
        for (int y = label1.top(); y <= label1.bottom(); ++y)
            dark += pixelAt(QPoint(x, y)).lightness() < 80;
    QVERIFY2(dark > 150, qPrintable(QString::number(dark)));
}

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
