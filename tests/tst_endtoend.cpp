// SPDX-License-Identifier: MIT
// The whole path with the simulated supply on a pseudo-terminal: clicks on
// the real widgets, bytes on the line, the supply reacting, status frames
// back, and what the panel shows.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "simsupply.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pickingComm1BringsTheLinkAlive();
    void outputFollowsTheLoad();
    void rightArrowRaisesTheVoltage();
    void fineShows();
    void silenceLosesTheLinkAndAFrameBringsItBack();
    void hangUpLeavesThePanelRunning();
    void cleanupTestCase();

private:
    void startSupply();
    void click(int command) { QTest::mouseClick(panel().command(command), Qt::LeftButton); }
    void pickComm1();
    FrontPanel &panel() { return *m_form->panel(); }
    QString label(int n) { return panel().label(n)->text(); }
    bool linkAlive() { return !panel().image(2)->isHidden() && panel().image(3)->isHidden(); }

    SimSupply m_supply;
    std::unique_ptr<Form1> m_form;
};

void TestEndToEnd::startSupply()
{
    // Unpaced frames every 100 ms keep the test quick; a 100 ohm load makes
    // the supply voltage-limited, so U moves the output voltage directly.
    QVERIFY(m_supply.start({"--no-pace", "--period", "100", "--load", "100"}));
}

void TestEndToEnd::pickComm1()
{
    // Through the menu bar, as the operator does it.
    QMenuBar *bar = m_form->menuBar();
    QAction *title = bar->actions().first();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(title).center());
    QMenu *menu = title->menu();
    QTRY_VERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(m_form->comm1()).center());
    QTRY_VERIFY(!menu->isVisible());
}

void TestEndToEnd::initTestCase()
{
    startSupply();
    qputenv("KORVALE_COMM1", m_supply.link().toLocal8Bit());
    m_form = std::make_unique<Form1>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestEndToEnd::pickingComm1BringsTheLinkAlive()
{
    // Before any pick the watchdog declares the link lost.
    QTRY_VERIFY_WITH_TIMEOUT(panel().image(2)->isHidden(), 4000);
    pickComm1();
    QVERIFY(m_form->comm1()->isChecked());
    QVERIFY(!m_form->comm2()->isChecked());
    QVERIFY(m_form->channel().PortOpen());
    QTRY_VERIFY_WITH_TIMEOUT(linkAlive(), 2000);
    QVERIFY(panel().label(15)->isHidden()); // "Locked"
    // The supply's start settings, output off.
    QTRY_COMPARE(label(4), QString("12"));
    QCOMPARE(label(5), QString("1.00"));
    QCOMPARE(label(6), QString("100"));
    QCOMPARE(label(1), QString("00.00"));
    QVERIFY(!panel().label(13)->isHidden()); // "Off"
    QVERIFY(panel().label(14)->isHidden());  // "On"
}

void TestEndToEnd::outputFollowsTheLoad()
{
    click(10); // I/O
    // 12 V across 100 ohm: 0.120 A, 1.44 W, limited by the voltage setting.
    QTRY_COMPARE(label(1), QString("12.00"));
    QCOMPARE(label(2), QString("0.120"));
    QCOMPARE(label(3), QString("001.4"));
    QVERIFY(!panel().label(14)->isHidden());
    QVERIFY(panel().label(13)->isHidden());
    QVERIFY(!panel().label(16)->isHidden()); // "remote" once commands arrive
    QCOMPARE(m_form->BlinkTarget, 8);        // U-const blinks
}

void TestEndToEnd::rightArrowRaisesTheVoltage()
{
    click(1); // U selects the voltage setting
    panel().text1()->setText("5");
    click(12);
    QVERIFY(!panel().image(4)->isHidden());
    QTRY_COMPARE(label(4), QString("17"));
    QTRY_COMPARE(label(1), QString("17.00"));
    QCOMPARE(label(2), QString("0.170"));
}

void TestEndToEnd::fineShows()
{
    QTRY_VERIFY(panel().label(7)->isHidden());
    click(8); // F
    QTRY_VERIFY(!panel().label(7)->isHidden());
    // In fine steps the left arrow lowers U by 10 mV a step.
    panel().text1()->setText("3");
    click(13);
    QTRY_COMPARE(label(1), QString("16.97"));
    click(7); // N: back to normal steps
    QTRY_VERIFY(panel().label(7)->isHidden());
}

void TestEndToEnd::silenceLosesTheLinkAndAFrameBringsItBack()
{
    QVERIFY(linkAlive());
    m_supply.signal(SIGSTOP);
    QTRY_VERIFY_WITH_TIMEOUT(panel().image(2)->isHidden(), 4000);
    // Lost: the crossed-out picture blinks.
    QTRY_VERIFY_WITH_TIMEOUT(!panel().image(3)->isHidden(), 1500);
    QTRY_VERIFY_WITH_TIMEOUT(panel().image(3)->isHidden(), 1500);
    m_supply.signal(SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(linkAlive(), 2000);
}

void TestEndToEnd::hangUpLeavesThePanelRunning()
{
    // The supply goes away, as if its adapter were pulled.
    m_supply.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->channel().PortOpen(), 2000);
    QVERIFY(m_form->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(panel().image(2)->isHidden(), 4000);

    // Back again on the same path: picking the port again works.
    startSupply();
    pickComm1();
    QVERIFY(m_form->channel().PortOpen());
    QTRY_VERIFY_WITH_TIMEOUT(linkAlive(), 2000);
    QTRY_COMPARE(label(4), QString("12"));
    click(10);
    QTRY_COMPARE(label(1), QString("12.00"));
}

void TestEndToEnd::cleanupTestCase()
{
    m_form.reset();
    m_supply.stop();
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
