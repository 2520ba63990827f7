// SPDX-License-Identifier: MIT
// The window end to end over a pseudo-terminal: its start state, every key
// and arrow as bytes on the line, status blocks proving the readings, the
// indicators, "Locked", the blink and the watchdog together as the panel's
// model gives them, failures and hang-ups of the port, picking ports, and
// QUIT; and the serial channel's bounds and timing, which the window cannot
// pin down exactly.
#include "app/portchooser.h"
#include "app/portnotice.h"
#include "panel/artcache.h"
#include "panel/picturebox.h"
#include "wiredform.h"

#include <QToolTip>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>

namespace {

// Readings 12.34 5.000 123.4 40 0.50 200, then `status`, in thirty bytes.
QByteArray frame(int status)
{
    return QByteArray::fromHex("eb9004d2138812340fa001f42000") + char(status) +
           QByteArray(15, '\x5a');
}

// Which of Label7..Label16 are shown, by number.
QString shownIndicators(const FrontPanel &panel)
{
    QStringList shown;
    for (int n = 7; n <= 16; ++n)
        if (!panel.label(n)->isHidden())
            shown << QString::number(n);
    return shown.join(',');
}

QByteArray pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i + seed) * 7 + 1);
    return bytes;
}

QByteArray numbered(int sequence)
{
    return QByteArray("\xEB\x90", 2) + char(sequence >> 8) + char(sequence & 0xFF);
}

// Keeps the quiet-line rule out of a case about lumps.
constexpr int kForever = 3600 * 1000;

// The serial channel alone on port 1, taking every block as the window does.
struct Channel
{
    PtyPair pty;
    SerialChannel channel;
    QList<QByteArray> takes;

    Channel()
    {
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        channel.setCommPort(1);
        QObject::connect(&channel, &SerialChannel::OnComm, &channel,
                         [this] { takes << channel.Input(); });
    }
    QTimer *quietLine() { return channel.findChild<QTimer *>(QStringLiteral("quietLine")); }
};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
    void startState();
    void receiveNotification();
    void queuesAreBounded();
    void keysAndArrows();
    void statusBlocks();
    void portsNoticeAndQuit();
};

void TestForm1::startState()
{
    Form1 form;
    FrontPanel *panel = form.panel();
    QCOMPARE(form.windowTitle(), QStringLiteral("Remote operation interface of Korvale"));
    QCOMPARE(form.menuBar()->actions().first()->menu()->actions(),
             (QList<QAction *>{form.comm1(), form.comm2()}));
    QVERIFY(!form.comm1()->isChecked() && form.comm2()->isChecked());
    QVERIFY(!form.channel().PortOpen() && form.channel().DTREnable());
    QCOMPARE(QPair(form.Model.Timer1.interval(), form.Model.Timer2.interval()), QPair(500, 100));
    QVERIFY(form.Model.Timer1.isActive() && form.Model.Timer2.isActive());

    // Only the direction marks start hidden. Controls stack in front of the
    // pictures, the pictures in front of the labels, all before the drawing.
    const QList<QWidget *> children = panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    auto depth = [&](QWidget *c) {
        const QString name = c->objectName();
        return c == panel->image(1)       ? 0
               : name.startsWith("Label") ? 1
               : name.startsWith("Image") ? 2
                                          : 3;
    };
    for (qsizetype i = 0; i < children.size(); ++i) {
        QWidget *child = children[i];
        QCOMPARE(child->isHidden(), child == panel->image(4) || child == panel->image(5));
        QVERIFY2(i == 0 || depth(children[i - 1]) <= depth(child), qPrintable(child->objectName()));
    }
    // Twips round to the nearest pixel: 7980, 3980, 852, 372.
    QCOMPARE(panel->command(14)->geometry(), QRect(532, 265, 57, 25));

    // Keyboard order: the keys, the arrows, the number box, QUIT.
    QList<QWidget *> expected, chain;
    for (int n = 1; n <= 13; ++n)
        expected << panel->command(n);
    expected << panel->text1() << panel->command(14);
    QWidget *w = form.focusWidget();
    QCOMPARE(w, panel->command(1));
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->parentWidget() == panel)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != panel->command(1));
    QCOMPARE(chain, expected);

    // No port is silence from the start: lost after the 21st tick, not the
    // 20th, and then the crossed-out picture blinks in place of the steady
    // one.
    form.Model.stop(); // ticked by hand
    for (int i = 0; i < 20; ++i)
        form.Model.Timer2_Timer();
    QCOMPARE(form.Model.Watchdog.LinkLost, 0);
    form.Model.Timer2_Timer();
    QCOMPARE(form.Model.Watchdog.LinkLost, 1);
    for (bool lostHidden : {true, false}) {
        form.Model.Timer1_Timer();
        QVERIFY(panel->image(2)->isHidden());
        QCOMPARE(panel->image(3)->isHidden(), lostHidden);
    }

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.channel().findChildren<QIODevice *>().size(), 1); // the port; no socket yet
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.centralWidget()->size(), QSize(701, 331));
    // Screen readers get a name for every picture and the number box.
    auto name = [](QWidget *w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    QCOMPARE(name(panel->image(3)) + '/' + name(panel->text1()) + '/' + name(panel->command(12)),
             "Link lost/Number/Right arrow");

    // The pictures at 100 % and 200 % are baked when the program is built:
    // read back, each must be its artwork as rendered now.
    for (const PictureBox *picture : panel->findChildren<PictureBox *>()) {
        for (const qreal ratio : {1.0, 2.0}) {
            const QString art = picture->artResource();
            QVERIFY2(QResource(bakedArtPath(art, picture->size() * ratio)).isValid(),
                     qPrintable(art));
            QImage fresh = renderArtImage(art, picture->size() * ratio);
            fresh.setDevicePixelRatio(ratio);
            QCOMPARE(renderedArt(art, picture->size(), ratio), fresh);
        }
    }
}

void TestForm1::keysAndArrows()
{
    WiredForm w;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QByteArray expected;
    for (int command = 1; command <= 11; ++command) {
        w.click(command);
        // "L" (9) and "REM" (11) send nothing.
        const char codes[] = "\x00\x04\x08\x01\x05\x09\x02\x06-\x0C-";
        if (codes[command - 1] != '-')
            expected += QByteArray("\xEB\x90\xAA", 3) + codes[command - 1];
        // The line takes a frame per 33 ms: a hand is slower than this loop.
        QTRY_COMPARE(w.form->MSComm1.sendsWaiting(), 0);
    }

    // Text typed, arrow (12 right, 13 left), number sent or -1: refused. The
    // number's every rounding and refusal is tst_protocol's.
    const std::tuple<const char *, int, int> entries[] = {
        {"1", 12, 1},    {" 2.5 ", 13, 2}, {"255", 12, 255}, {"", 13, -1},
        {"ten", 12, -1}, {"256", 13, -1},  {"200", 13, 200}};
    QLineEdit *box = w.panel().text1();
    for (const auto &[text, arrow, number] : entries) {
        box->setText(text);
        w.click(arrow);
        QCOMPARE(w.panel().image(4)->isHidden(), arrow == 13);
        QCOMPARE(w.panel().image(5)->isHidden(), arrow == 12);
        QCOMPARE(box->text(), QString(text)); // never rewritten
        QTRY_COMPARE(w.form->MSComm1.sendsWaiting(), 0);
        if (number >= 0) {
            expected += QByteArray("\xEB\x90", 2) + char(arrow == 12 ? 0x55 : 0xCC) + char(number);
        } else {
            // The cue: the box has the focus with its text selected.
            QCOMPARE(QApplication::focusWidget(), box);
            QCOMPARE(box->selectedText(), QString(text));
        }
    }
    w.click(10); // a key after numbered frames is a key frame
    expected += QByteArray("\xEB\x90\xAA\x0C", 4);
    QCOMPARE(w.pty.readExactly(expected.size()).toHex(' '), expected.toHex(' '));
    QVERIFY(w.form->channel().drain(10000));
    QCOMPARE(w.pty.readFor(0), QByteArray()); // and nothing after it
    QVERIFY(w.form->findChildren<QMessageBox *>().isEmpty());
    // More keys at once than the line may hold: the one refused says so.
    for (int i = 0; i <= SupplyLink::kSendQueue; ++i)
        w.click(10);
    QTRY_VERIFY(QToolTip::text().startsWith("Too many keys at once"));
}

void TestForm1::statusBlocks()
{
    WiredForm w;
    FrontPanel &panel = w.panel();
    PanelModel &model = w.form->Model;
    model.stop(); // ticked by hand

    // The line's own silence: lost once it says so, and any block, even one
    // that holds no frame, brings it back. "Locked" waits for a frame.
    QTRY_VERIFY_WITH_TIMEOUT(!w.form->MSComm1.state().linkAlive, 10000);
    model.Timer2_Timer();
    QCOMPARE(model.Watchdog.LinkLost, 1);
    QVERIFY(w.deliver(QByteArray(30, '\x11')));
    model.Timer2_Timer();
    QCOMPARE(QPair(model.Watchdog.SilenceCount, model.Watchdog.LinkLost), QPair(0, 0));
    QVERIFY(!panel.label(15)->isHidden());

    const QString usual = "12.34 5.000 123.4 40 0.50 200";
    // One byte lost from a frame of other readings (12.05, status 0x56).
    QByteArray lossy = frame(0x56);
    lossy[3] = char(0xB5);
    lossy.remove(20, 1);
    // Whole frames come from the table the web page is checked against too.
    // Clear constant-mode bits keep their labels' visibility; a block that
    // holds no whole frame changes nothing.
    std::vector<std::tuple<QByteArray, QString, QString, int>> rows = {
        {frame(0x7E).mid(10), "00.00 0.000 000.0 00 0.00 000", "7,8,9,10,11,12,13,14,15,16",
         0}, // a cut frame's tail
    };
    QFile table(QStringLiteral(KORVALE_STATUS_FRAMES));
    QVERIFY(table.open(QIODevice::ReadOnly));
    const QJsonArray shared = QJsonDocument::fromJson(table.readAll()).array();
    QVERIFY(!shared.isEmpty());
    for (const QJsonValue row : shared) {
        QStringList texts, visible;
        for (const QJsonValue text : row[u"texts"].toArray())
            texts << text.toString();
        for (const QJsonValue label : row[u"visible"].toArray())
            visible << QString::number(label.toInt());
        rows.emplace_back(QByteArray::fromHex(row[u"frame"].toString().toLatin1()), texts.join(' '),
                          visible.join(','), row[u"blinkTarget"].toInt());
    }
    rows.insert(rows.end(), {
                                // Shown: a frame with a stray byte after it, two frames
                                // in one lump in turn, a frame after junk. Not shown:
                                // one that lost a byte (which costs the next nothing).
                                {frame(0x36) + '\0', usual, "8,9,10,12,14,16", 8},
                                {frame(0x36) + frame(0x88), usual, "7,8,9,10,11,12,13", 8},
                                {QByteArray(30, '\x11'), usual, "7,8,9,10,11,12,13", 8},
                                {QByteArray(16, '\0') + frame(0x36), usual, "8,9,10,12,14,16", 8},
                                {lossy + frame(0x88), usual, "7,8,9,10,11,12,13", 8},
                                {lossy, usual, "7,8,9,10,11,12,13", 8},
                            });
    for (const auto &[block, readings, indicators, target] : rows) {
        QVERIFY(w.deliver(block));
        QCOMPARE(w.readings().join(' '), readings);
        QCOMPARE(shownIndicators(panel), indicators);
        QCOMPARE(model.BlinkTarget, target);
        // Two blink ticks: the target label goes and comes back, and the
        // steady link picture stands alone.
        for (int tick = 0; tick < 2; ++tick) {
            model.Timer1_Timer();
            QVERIFY(!panel.image(2)->isHidden() && panel.image(3)->isHidden());
            for (int n = 8; n <= 10; ++n)
                QCOMPARE(panel.label(n)->isHidden(), n == target && tick == 0);
        }
    } // Half a frame before a new pick never joins the bytes after it.
    QVERIFY(w.deliver(frame(0x36).left(12)));
    w.form->comm1()->trigger();
    QVERIFY(w.deliver(QByteArray(18, '\x01')));
    QCOMPARE(w.readings().join(' '), usual);
}

void TestForm1::portsNoticeAndQuit()
{
    // comm2 held by another program: the notice names the device and the
    // cause (the notice itself is tst_ports'); the window keeps working.
    PtyPair one, two;
    SerialChannel holder;
    qputenv("KORVALE_COMM2", two.slavePathBytes());
    holder.setCommPort(2);
    holder.setPortOpen(true);
    Form1 form;
    form.show();
    form.comm2()->trigger();
    QVERIFY(!form.channel().PortOpen());
    PortChooser *notice = form.findChild<PortNotice *>()->notice();
    QVERIFY(notice->text().contains(two.slavePath() + ") could not be opened: permission denied, "
                                                      "or another program holds the port"));
    holder.setPortOpen(false);

    // Hang-ups over and over, with and without a frame on its way: no
    // descriptor leaks, and one notice on screen, replaced each time.
    QSignalSpy lost(&form.channel(), &SerialChannel::deviceLost);
    // Not counted: the wake-up descriptors of threads Qt's painting may start.
    auto openFds = [] {
        const QFileInfoList fds = QDir("/proc/self/fd").entryInfoList(QDir::System);
        return std::count_if(fds.begin(), fds.end(), [](const QFileInfo &fd) {
            return !fd.symLinkTarget().endsWith(QLatin1String("[eventfd]"));
        });
    };
    const auto fdsBefore = openFds();
    for (int i = 0; i < 20; ++i) {
        PtyPair pty;
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        form.comm1()->trigger();
        QVERIFY(i % 2 == 0 || pty.write(frame(0)));
        // A pty ends with end-of-file; an adapter pulled fails its reads
        // with EIO, which QSerialPort reports as a resource error.
        if (i % 5 == 4)
            emit form.channel().findChild<QSerialPort *>()->errorOccurred(
                QSerialPort::ResourceError);
        else
            pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), i + 1, 10000);
        QVERIFY(!form.channel().PortOpen());
    }
    QCOMPARE(openFds(), fdsBefore);
    QCOMPARE(form.findChildren<PortChooser *>().size(), 1);

    // Picking a port closes the one open before it.
    qputenv("KORVALE_COMM1", one.slavePathBytes());
    const QByteArray io("\xEB\x90\xAA\x0C", 4);
    const std::tuple<int, PtyPair *, PtyPair *> picks[] = {
        {1, &one, &two}, {2, &two, &one}, {1, &one, &two}};
    for (auto [port, pty, other] : picks) {
        (port == 1 ? form.comm1() : form.comm2())->trigger();
        QCOMPARE(form.comm1()->isChecked(), port == 1);
        QCOMPARE(form.comm2()->isChecked(), port == 2);
        QTest::mouseClick(form.panel()->command(10), Qt::LeftButton);
        QCOMPARE(pty->readExactly(4), io);
        QCOMPARE(other->readFor(0), QByteArray());
    }

    // QUIT closes the port and ends the event loop with 0; nothing due runs.
    int ticks = 0;
    connect(&form.Model.Timer2, &QTimer::timeout, this, [&] { ++ticks; });
    QTimer::singleShot(0, &form,
                       [&] { QTest::mouseClick(form.panel()->command(14), Qt::LeftButton); });
    QObject guard;
    QTimer::singleShot(30000, &guard, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!form.channel().PortOpen() && !form.Model.Timer1.isActive() &&
            !form.Model.Timer2.isActive());
    QCOMPARE(ticks, 0);
    qunsetenv("KORVALE_COMM2");
}

void TestForm1::receiveNotification()
{
    // Bursts written (negative: then a quiet line), and the takes.
    // Counted byte by byte whatever lumps the line brings: a lump past the
    // count leaves its rest for the next one, announced without new bytes.
    const std::pair<QList<int>, QList<int>> cases[] = {{{30}, {30}},
                                                       {{29}, {29}},
                                                       {{-12, 30}, {12, 30}},
                                                       {{20, 40}, {30, 30}},
                                                       {{60}, {30, 30}},
                                                       {QList<int>(30, 1), {30}},
                                                       {{10, 10, 9, 2}, {30, 1}},
                                                       {{1000}, QList<int>(33, 30) << 10}};
    for (const auto &[bursts, takes] : cases) {
        Channel w;
        w.channel.setPortOpen(true);
        // Each burst is in before the next is written, and the line is quiet
        // only where a case says so, however slowly the test runs.
        QByteArray sent;
        for (int size : bursts) {
            w.quietLine()->setInterval(size < 0 ? SerialChannel::kFragmentQuietMs : kForever);
            sent += pattern(std::abs(size), int(sent.size()));
            QVERIFY(w.pty.write(sent.right(std::abs(size))));
            QTRY_COMPARE(w.takes.join().size() + (size < 0 ? 0 : w.channel.InBufferCount()),
                         sent.size());
        }
        w.quietLine()->setInterval(SerialChannel::kFragmentQuietMs);
        QTRY_COMPARE(w.takes.join(), sent);
        QList<int> sizes;
        for (const QByteArray &take : w.takes)
            sizes << int(take.size());
        QCOMPARE(sizes, takes);
    }
}

void TestForm1::queuesAreBounded()
{
    Channel w;
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
    QTRY_COMPARE_WITH_TIMEOUT(w.channel.InBufferCount(), SerialChannel::kReceiveQueue, 10000);
    w.channel.pollLine(); // all it would take, taken now
    QCOMPARE(w.channel.InBufferCount(), SerialChannel::kReceiveQueue);
    QByteArray taken;
    while (taken.size() < sent.size() &&
           QTest::qWaitFor([&] { return w.channel.InBufferCount() > 0; }))
        taken += w.channel.Input();
    QCOMPARE(taken, sent);

    // Sending: without an event-loop turn nothing leaves, so the bound is
    // exact, and a refused frame is refused whole.
    QByteArray accepted;
    for (int i = 0; i < 200; ++i)
        if (w.channel.Output(numbered(i)))
            accepted += numbered(i);
    QCOMPARE(accepted.size(), SerialChannel::kTransmitQueue);
    QCOMPARE(w.pty.readExactly(accepted.size()), accepted);

    // Closing and opening discard what waits either way, wherever it waits.
    Channel r;
    r.quietLine()->setInterval(kForever); // bytes wait until the port closes
    QVERIFY(r.pty.write(pattern(60)));    // before any opening
    r.channel.setPortOpen(true);
    QVERIFY(r.pty.write(pattern(10, 100))); // read into the channel's queue
    QTRY_COMPARE(r.channel.InBufferCount(), 10);
    QVERIFY(r.pty.write(pattern(15, 200))); // still in the kernel
    for (int i = 0; i < 3; ++i)             // still in the transmit queue
        QVERIFY(r.channel.Output(numbered(i)));
    r.channel.setPortOpen(false);
    QVERIFY(!r.channel.Output(numbered(9)));
    r.channel.setPortOpen(true);
    QVERIFY(r.channel.Output(numbered(7)));
    QCOMPARE(r.pty.readExactly(4), numbered(7));
    QVERIFY(r.pty.write(pattern(30, 50)));
    QTRY_COMPARE(r.takes, QList<QByteArray>{pattern(30, 50)});
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
