// SPDX-License-Identifier: MIT
// Faults on the line, through real pseudo-terminals and the real window:
// a flood of noise, the device hanging up again and again, a line nobody
// reads, and a long run of frames. The figures go to the test log.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "wiredform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KORVALE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVALE_ASAN 1
#endif
#endif
#ifdef KORVALE_ASAN
// From the sanitizer runtime; GCC installs no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

qint64 rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// What the program holds, in kB. AddressSanitizer keeps freed memory in
// quarantine (up to 256 MB), so there the resident size says nothing about
// leaks and the allocator's count of live bytes is used instead.
qint64 heldKb()
{
#ifdef KORVALE_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return rssKb();
#endif
}

int openFds()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

// The key codes by command number; Command9 ("L") and Command11 ("REM")
// send nothing.
int keyCode(int command)
{
    static const QHash<int, int> codes = {{1, 0x00}, {4, 0x01}, {7, 0x02}, {2, 0x04}, {5, 0x05},
                                          {8, 0x06}, {3, 0x08}, {6, 0x09}, {10, 0x0C}};
    return codes.value(command, -1);
}

struct Readings
{
    quint16 r1, r2, r3, r4, r5, r6; // r3 and r6 at most 9999, sent packed
    quint8 status;
};

QByteArray statusBlock(const Readings &r, int start)
{
    auto two = [](int high, int low) { return QByteArray().append(char(high)).append(char(low)); };
    auto bigEndian = [&](quint16 v) { return two(v >> 8, v & 0xFF); };
    auto packed = [&](quint16 v) {
        auto pair = [](int d) { return (d / 10) << 4 | (d % 10); };
        return two(pair(v / 100), pair(v % 100));
    };
    QByteArray block(start, '\x11');
    block += QByteArray("\xEB\x90", 2) + bigEndian(r.r1) + bigEndian(r.r2) + packed(r.r3) +
             bigEndian(r.r4) + bigEndian(r.r5) + packed(r.r6) + char(r.status);
    block += QByteArray(30 - block.size(), '\x5A');
    return block;
}

QStringList expectedTexts(const Readings &r)
{
    auto t = [](int n) { return QString::number(n).rightJustified(4, u'0'); };
    const QString t1 = t(r.r1), t2 = t(r.r2), t3 = t(r.r3), t4 = t(r.r4), t5 = t(r.r5),
                  t6 = t(r.r6);
    return {t1.left(2) + u'.' + t1.right(2),  t2.left(1) + u'.' + t2.right(3),
            t3.left(3) + u'.' + t3.right(1),  t4.left(2),
            t5.left(1) + u'.' + t5.mid(1, 2), t6.left(3)};
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void floodOfRandomBytes();
    void hangUpsWhileOpen();
    void keyPressesWhileNobodyReads_data();
    void keyPressesWhileNobodyReads();
    void soakOfFrames();
};

void TestFaults::floodOfRandomBytes()
{
    WiredForm w;
    QVERIFY(w.pty.isValid());
    QVERIFY(w.form->channel().PortOpen());
    const Readings settled{1234, 5000, 1234, 25, 500, 2000, 0x7E};
    QVERIFY(w.deliver(statusBlock(settled, 0)));
    QCOMPARE(w.readings(), expectedTexts(settled));

    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapMs = qMax(longestGapMs, sinceTick.restart());
        ++ticks;
    });

    const qint64 heldBefore = heldKb();
    const qint64 rssBefore = rssKb();
    constexpr qsizetype kFlood = 10 * 1024 * 1024;
    constexpr qsizetype kChunk = 64 * 1024;
    QRandomGenerator random(0x6b6f7276);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    const int handledBefore = w.handled;
    QElapsedTimer elapsed;
    elapsed.start();
    sinceTick.start();
    ticker.start();
    for (qsizetype sent = 0; sent < kFlood; sent += kChunk) {
        random.fillRange(reinterpret_cast<quint32 *>(chunk.data()), kChunk / 4);
        // Waits with the event loop turning while the line is full.
        QVERIFY2(w.pty.write(chunk), qPrintable(QStringLiteral("stuck after %1 bytes").arg(sent)));
    }
    QTest::qWait(300); // the tail drains
    ticker.stop();
    const qint64 floodMs = elapsed.elapsed();
    const qint64 heldAfter = heldKb();
    const qint64 rssAfter = rssKb();

    qInfo("flood: %lld bytes in %lld ms, %d takes, %d timer ticks, longest gap %lld ms; "
          "held %lld -> %lld kB, VmRSS %lld -> %lld kB",
          qlonglong(kFlood), qlonglong(floodMs), w.handled - handledBefore, ticks,
          qlonglong(longestGapMs), qlonglong(heldBefore), qlonglong(heldAfter),
          qlonglong(rssBefore), qlonglong(rssAfter));
    QVERIFY(ticks > 0);
    QVERIFY2(longestGapMs < 1000, qPrintable(QString::number(longestGapMs)));
    QVERIFY2(heldAfter - heldBefore < 20 * 1024, qPrintable(QString::number(heldAfter)));

    // Fewer than 30 bytes of noise may still wait; a frame joining them is
    // dropped with them, and the one after it stands alone.
    QTest::qWait(100);
    const Readings first{4321, 123, 9876, 4000, 1234, 50, 0x36};
    const Readings second{5, 4999, 100, 3000, 65535, 1005, 0xFE};
    QVERIFY(w.deliver(statusBlock(first, 0)));
    QTest::qWait(50);
    QVERIFY(w.deliver(statusBlock(second, 3)));
    QCOMPARE(w.readings(), expectedTexts(second));
    QCOMPARE(w.form->BlinkTarget, 0);
}

void TestFaults::hangUpsWhileOpen()
{
    Form1 form;
    form.show();
    SerialChannel &channel = form.channel();
    QSignalSpy lost(&channel, &SerialChannel::deviceLost);
    int handled = 0;
    QObject::connect(&channel, &SerialChannel::OnComm, [&] { ++handled; });

    // The first notice starts two threads of Qt's global pool, each with its
    // own wake-up descriptor, once; the count starts after that hang-up.
    int fdsBefore = 0;
    constexpr int kHangUps = 100;
    for (int i = 0; i <= kHangUps; ++i) {
        if (i == 1)
            fdsBefore = openFds();
        PtyPair pty;
        QVERIFY(pty.isValid());
        qputenv("KORVALE_COMM1", pty.slavePathBytes());
        form.comm1()->trigger();
        QVERIFY2(channel.PortOpen(), qPrintable(QString::number(i)));
        // Every other time the device goes while a frame is on its way.
        if (i % 2 == 1)
            QVERIFY(pty.write(statusBlock({1, 2, 3, 4, 5, 6, 0}, 0)));
        pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), i + 1, 2000);
        QVERIFY(!channel.PortOpen());
    }
    QCoreApplication::processEvents();
    const int fdsAfter = openFds();
    qInfo("hang-ups: %d survived, open descriptors %d before, %d after", kHangUps + 1, fdsBefore,
          fdsAfter);
    QCOMPARE(fdsAfter, fdsBefore);
    // One notice on screen, replaced each time, not a pile of them.
    QCOMPARE(form.findChildren<QMessageBox *>().size(), 1);

    // Picking the port again on a device that stays works both ways.
    PtyPair fresh;
    qputenv("KORVALE_COMM1", fresh.slavePathBytes());
    form.comm1()->trigger();
    QVERIFY(channel.PortOpen());
    QTest::mouseClick(form.panel()->command(10), Qt::LeftButton);
    QCOMPARE(fresh.readExactly(4), QByteArray("\xEB\x90\xAA\x0C", 4));
    const Readings readings{4660, 4660, 4660, 4660, 4660, 4660, 0x70};
    const int before = handled;
    QVERIFY(fresh.write(statusBlock(readings, 0)));
    QTRY_VERIFY_WITH_TIMEOUT(handled > before, 2000);
    QStringList shown;
    for (int n = 1; n <= 6; ++n)
        shown << form.panel()->label(n)->text();
    QCOMPARE(shown, expectedTexts(readings));
    QCOMPARE(lost.size(), kHangUps + 1);
}

void TestFaults::keyPressesWhileNobodyReads_data()
{
    QTest::addColumn<bool>("lineFull");
    QTest::newRow("line empty") << false;
    QTest::newRow("line already full") << true;
}

void TestFaults::keyPressesWhileNobodyReads()
{
    QFETCH(bool, lineFull);
    WiredForm w;
    w.form->show();
    QVERIFY(w.form->channel().PortOpen());

    // Fills the line from a second opening of the device until the kernel
    // takes no more, as if the supply had stopped reading long ago.
    QByteArray filler;
    if (lineFull) {
        const int fd = ::open(w.pty.slavePathBytes().constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray block(1024, '\x33');
        for (;;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            if (n <= 0)
                break;
            filler += block.left(n);
        }
        ::close(fd);
        QVERIFY(filler.size() > 0);
    }

    constexpr int kPresses = 1000;
    QList<int> pressedCodes;
    qint64 slowestNs = 0;
    QElapsedTimer press;
    for (int i = 0; i < kPresses; ++i) {
        const int command = i % 11 + 1;
        press.start();
        QTest::mouseClick(w.panel().command(command), Qt::LeftButton);
        slowestNs = qMax(slowestNs, press.nsecsElapsed());
        if (keyCode(command) >= 0)
            pressedCodes << keyCode(command);
        // Lets the port hand what it can to the kernel between presses.
        QCoreApplication::processEvents();
    }
    QVERIFY(w.form->channel().PortOpen());

    // Now somebody reads: everything that is still queued comes out.
    QByteArray line;
    QElapsedTimer quiet;
    quiet.start();
    QDeadlineTimer deadline(20000);
    while (quiet.elapsed() < 300 && !deadline.hasExpired()) {
        const QByteArray more = w.pty.readAvailable();
        if (!more.isEmpty()) {
            line += more;
            quiet.restart();
        }
        QTest::qWait(5);
    }
    QVERIFY(line.startsWith(filler));
    const QByteArray frames = line.mid(filler.size());
    QCOMPARE(frames.size() % 4, 0);
    QList<int> receivedCodes;
    for (qsizetype at = 0; at < frames.size(); at += 4) {
        QCOMPARE(frames.mid(at, 3), QByteArray("\xEB\x90\xAA", 3));
        receivedCodes << quint8(frames[at + 3]);
    }
    qInfo("%d presses (%lld sending a frame), slowest %.3f ms; %lld bytes of filler, %lld frames "
          "reached the line",
          kPresses, qlonglong(pressedCodes.size()), double(slowestNs) / 1e6,
          qlonglong(filler.size()), qlonglong(receivedCodes.size()));
    QVERIFY2(slowestNs < 1'000'000'000, qPrintable(QString::number(slowestNs)));
    // In press order, none lost in the middle: once the queue is full every
    // later frame is refused whole.
    QCOMPARE(receivedCodes, pressedCodes.first(receivedCodes.size()));
    if (lineFull)
        QVERIFY(receivedCodes.size() >= SerialChannel::kTransmitQueue / 4);
    else
        QCOMPARE(receivedCodes.size(), pressedCodes.size());
}

void TestFaults::soakOfFrames()
{
    WiredForm w;
    QVERIFY(w.pty.isValid());
    QVERIFY(w.form->channel().PortOpen());

    // Readings vary with every frame, through five-digit values, high bytes
    // of 0x80 and more, every status byte and every frame start from 0 to 15.
    auto readingsOf = [](quint32 i) {
        return Readings{quint16(i * 7919u), quint16(i * 104729u + 17), quint16(i % 10000),
                        quint16(i * 31u),   quint16(i * 65521u),       quint16(i * 7u % 10000),
                        quint8(i)};
    };
    auto blinkTargetOf = [](quint8 s) {
        return !(s & 0x40) ? 8 : !(s & 0x20) ? 9 : !(s & 0x10) ? 10 : 0;
    };

    constexpr quint32 kWarmUp = 1000;
    constexpr quint32 kFrames = 100000;
    qint64 heldBefore = 0, rssBefore = 0;
    QElapsedTimer elapsed;
    for (quint32 i = 0; i < kWarmUp + kFrames; ++i) {
        if (i == kWarmUp) {
            heldBefore = heldKb();
            rssBefore = rssKb();
            elapsed.start();
        }
        const Readings r = readingsOf(i);
        const QByteArray block = statusBlock(r, int(i % 16));
        if (!w.deliver(block))
            QFAIL(qPrintable(QStringLiteral("frame %1 was not taken").arg(i)));
        if (w.form->RxBlock != block)
            QFAIL(qPrintable(QStringLiteral("frame %1 was taken as %2 bytes")
                                 .arg(i)
                                 .arg(w.form->RxBlock.size())));
        const QStringList shown = w.readings();
        if (shown != expectedTexts(r))
            QFAIL(qPrintable(QStringLiteral("frame %1 shows %2 instead of %3")
                                 .arg(i)
                                 .arg(shown.join(' '), expectedTexts(r).join(' '))));
        if (w.form->BlinkTarget != blinkTargetOf(r.status) ||
            w.panel().label(16)->isHidden() == bool(r.status & 0x02))
            QFAIL(qPrintable(QStringLiteral("frame %1: indicators wrong").arg(i)));
    }
    const qint64 soakMs = elapsed.elapsed();
    const qint64 heldAfter = heldKb();
    const qint64 rssAfter = rssKb();
    qInfo("soak: %u frames in %lld ms, held %lld -> %lld kB, VmRSS %lld -> %lld kB", kFrames,
          qlonglong(soakMs), qlonglong(heldBefore), qlonglong(heldAfter), qlonglong(rssBefore),
          qlonglong(rssAfter));
    // A leak of even 20 bytes a frame would show as 2 MB.
    QVERIFY2(heldAfter - heldBefore < 1024,
             qPrintable(QStringLiteral("%1 kB more").arg(heldAfter - heldBefore)));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
