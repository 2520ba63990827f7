// SPDX-License-Identifier: MIT
// Key and arrow presses, clicked on the real widgets, read back as bytes on
// the other end of a pseudo-terminal.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "wiredform.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Shown, since the bad-entry cue moves the keyboard focus.
struct Wired : WiredForm
{
    Wired() { form->show(); }
    QByteArray sent() { return pty.readFor(150); }
};

} // namespace

class TestKeypad : public QObject
{
    Q_OBJECT
private slots:
    void keyFrames_data();
    void keyFrames();
    void numberedFrames_data();
    void numberedFrames();
    void badEntriesSendNothing_data();
    void badEntriesSendNothing();
    void keyAfterNumberedFrameIsAKeyFrame();
    void pressesWithoutAPortAreHarmless();
};

void TestKeypad::keyFrames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("expected");
    const std::pair<int, int> keys[] = {{1, 0x00}, {4, 0x01}, {7, 0x02}, {2, 0x04}, {5, 0x05},
                                        {8, 0x06}, {3, 0x08}, {6, 0x09}, {10, 0x0C}};
    for (auto [command, code] : keys)
        QTest::addRow("Command%d", command) << command << bytes({0xEB, 0x90, 0xAA, code});
    QTest::newRow("Command9 L is silent") << 9 << QByteArray();
    QTest::newRow("Command11 REM is silent") << 11 << QByteArray();
}

void TestKeypad::keyFrames()
{
    QFETCH(int, command);
    QFETCH(QByteArray, expected);
    Wired w;
    QVERIFY(w.form->channel().PortOpen());
    w.click(command);
    QCOMPARE(w.sent().toHex(' '), expected.toHex(' '));
    // A second press sends the same frame again, and never a fifth byte.
    w.click(command);
    QCOMPARE(w.sent().toHex(' '), expected.toHex(' '));
}

void TestKeypad::numberedFrames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("button");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("start text, right") << "1" << 12 << bytes({0xEB, 0x90, 0x55, 0x01});
    QTest::newRow("12 between spaces, left") << " 12 " << 13 << bytes({0xEB, 0x90, 0xCC, 0x0C});
    QTest::newRow("255") << "255" << 12 << bytes({0xEB, 0x90, 0x55, 0xFF});
    QTest::newRow("0") << "0" << 13 << bytes({0xEB, 0x90, 0xCC, 0x00});
    QTest::newRow("7.2") << "7.2" << 12 << bytes({0xEB, 0x90, 0x55, 0x07});
    QTest::newRow("0.5 ties to 0") << "0.5" << 12 << bytes({0xEB, 0x90, 0x55, 0x00});
    QTest::newRow("1.5 ties to 2") << "1.5" << 13 << bytes({0xEB, 0x90, 0xCC, 0x02});
    QTest::newRow("2.5 ties to 2") << "2.5" << 12 << bytes({0xEB, 0x90, 0x55, 0x02});
    QTest::newRow("0x11 XON passes") << "17" << 12 << bytes({0xEB, 0x90, 0x55, 0x11});
}

void TestKeypad::numberedFrames()
{
    QFETCH(QString, text);
    QFETCH(int, button);
    QFETCH(QByteArray, expected);
    Wired w;
    w.form->panel()->text1()->setText(text);
    w.click(button);
    QCOMPARE(w.sent().toHex(' '), expected.toHex(' '));
    const bool up = button == 12;
    QCOMPARE(w.form->panel()->image(4)->isHidden(), !up);
    QCOMPARE(w.form->panel()->image(5)->isHidden(), up);
    QCOMPARE(w.form->panel()->text1()->text(), text); // never rewritten
}

void TestKeypad::badEntriesSendNothing_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("spaces") << "   ";
    QTest::newRow("word") << "ten";
    QTest::newRow("negative") << "-3";
    QTest::newRow("256") << "256";
    QTest::newRow("255.5 rounds to 256") << "255.5";
    QTest::newRow("exponent") << "1e1";
}

void TestKeypad::badEntriesSendNothing()
{
    QFETCH(QString, text);
    Wired w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QLineEdit *box = w.form->panel()->text1();
    box->setText(text);

    w.click(13);
    QCOMPARE(w.sent(), QByteArray());
    // The marks switch before the entry is read, as for a good entry.
    QVERIFY(w.form->panel()->image(4)->isHidden());
    QVERIFY(!w.form->panel()->image(5)->isHidden());
    // The cue: the box has the focus with its text selected, unchanged.
    QCOMPARE(QApplication::focusWidget(), box);
    QCOMPARE(box->selectedText(), text);
    QCOMPARE(box->text(), text);
    QVERIFY(w.form->findChildren<QMessageBox *>().isEmpty());

    // Still fully usable: a key works, and a corrected entry goes out.
    w.click(5);
    QCOMPARE(w.sent(), bytes({0xEB, 0x90, 0xAA, 0x05}));
    box->setText("9");
    w.click(12);
    QCOMPARE(w.sent(), bytes({0xEB, 0x90, 0x55, 0x09}));
}

void TestKeypad::keyAfterNumberedFrameIsAKeyFrame()
{
    Wired w;
    w.form->panel()->text1()->setText("200");
    w.click(12);
    w.click(13);
    w.click(10);
    w.click(12);
    QCOMPARE(w.sent().toHex(' '), bytes({0xEB, 0x90, 0x55, 0xC8, 0xEB, 0x90, 0xCC, 0xC8, 0xEB, 0x90,
                                         0xAA, 0x0C, 0xEB, 0x90, 0x55, 0xC8})
                                      .toHex(' '));
    QVERIFY(w.form->panel()->image(5)->isHidden());
    QVERIFY(!w.form->panel()->image(4)->isHidden());
}

void TestKeypad::pressesWithoutAPortAreHarmless()
{
    PtyPair pty;
    qputenv("KORVALE_COMM1", pty.slavePathBytes());
    Form1 form;
    form.show();
    for (int n = 1; n <= 13; ++n)
        QTest::mouseClick(form.panel()->command(n), Qt::LeftButton);
    QVERIFY(!form.channel().PortOpen());
    QVERIFY(form.findChildren<QMessageBox *>().isEmpty());
    // Nothing was queued for later either: opening the port sends nothing.
    form.comm1()->trigger();
    QVERIFY(form.channel().PortOpen());
    QCOMPARE(pty.readFor(150), QByteArray());
}

QTEST_MAIN(TestKeypad)
#include "tst_keypad.moc"
