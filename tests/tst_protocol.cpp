// SPDX-License-Identifier: MIT
// The edges of the frame codecs that the window cannot reach one by one:
// every rounding and refusal of the typed number, every cut of a reading,
// every position of the sync pair.
#include "protocol/keypad.h"
#include "protocol/numberentry.h"
#include "protocol/statusframe.h"
#include "protocol/statusstream.h"

#include <QtTest>

using namespace korvale;

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), std::size_t(a.size())};
}

// The six texts, then the numbers and the limiting mode the other faces report.
QString texts(const StatusReadings &r)
{
    QStringList list;
    for (int i = 1; i <= kReadingCount; ++i)
        list << QString::fromLatin1(r.text(i).data(), qsizetype(r.text(i).size()));
    list << "|";
    for (const double v : r.numbers)
        list << QString::number(v);
    const std::string_view mode = r.indicators.blinking;
    return (list << QString::fromLatin1(mode.data(), qsizetype(mode.size()))).join(' ');
}

// Thirty bytes of `fill` with a frame at `start` carrying `payload` (offsets 2..14).
QByteArray blockAt(int start, const char *payloadHex, char fill = '\0')
{
    QByteArray block(30, fill);
    const QByteArray frame = "\xEB\x90" + QByteArray::fromHex(payloadHex);
    block.replace(start, std::min(frame.size(), 30 - qsizetype(start)), frame.left(30 - start));
    return block;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void numberEntry();
    void keypad();
    void readings();
    void syncSearch();
    void streamFraming_data();
    void streamFraming();
};

void TestProtocol::numberEntry()
{
    const std::pair<const char *, int> accepted[] = {
        {"1", 1},    {"  12  ", 12}, {"\t5\t", 5},     {"0", 0},       {"255", 255},
        {"7.2", 7},  {"7.6", 8},     {"0.5", 0},       {"1.5", 2},     {"2.5", 2},
        {"2.51", 3}, {"3.500", 4},   {"2.5000001", 3}, {"254.5", 254}, {".7", 1},
        {"9.", 9},   {"+3", 3},      {"-0.4", 0},      {"0042", 42}};
    for (const auto &[text, expected] : accepted)
        QVERIFY2(parseFrameNumber(text) == std::optional<std::uint8_t>(expected), text);
    for (const char *text : {"", "   ", "abc", "12a", "1 2", "-1", "-0.6", "256", "255.5", "1.2.3",
                             ".", "-", "1e2", "0x10", "1,5", "\xd9\xa3", "99999999999999999999"})
        QVERIFY2(!parseFrameNumber(text), text);
}

// Every control of the keypad once: what the window, the page and `press`
// all send, or the one sentence they all show.
void TestProtocol::keypad()
{
    struct Row
    {
        int command;
        const char *text;
        const char *frameHex; // "" for none
        const char *why;
        int mark;
    };
    const Row rows[] = {{1, "", "eb90aa00", "", 0},
                        {2, "", "eb90aa04", "", 0},
                        {3, "", "eb90aa08", "", 0},
                        {4, "", "eb90aa01", "", 0},
                        {5, "", "eb90aa05", "", 0},
                        {6, "", "eb90aa09", "", 0},
                        {7, "", "eb90aa02", "", 0},
                        {8, "", "eb90aa06", "", 0},
                        {10, "7", "eb90aa0c", "", 0},
                        {9, "", "", "L has no key code", 0},
                        {11, "", "", "REM has no key code", 0},
                        {12, " 12 ", "eb90550c", "", 4},
                        {13, "7.2", "eb90cc07", "", 5},
                        {12, "256", "", "'256' is not a number from 0 to 255", 4},
                        {13, "", "", "'' is not a number from 0 to 255", 5},
                        {14, "", "", "Command14 is no key", 0}};
    for (const Row &row : rows) {
        const KeyPress press = pressControl(row.command, row.text);
        const QByteArray sent =
            press.frame ? QByteArray(reinterpret_cast<const char *>(press.frame->data()), 4).toHex()
                        : QByteArray();
        const QString at = QStringLiteral("Command%1 '%2'").arg(row.command).arg(row.text);
        QVERIFY2(sent == row.frameHex, qPrintable(at));
        QVERIFY2(press.why == row.why, qPrintable(at));
        QVERIFY2(press.markShown == row.mark, qPrintable(at));
    }
    for (int command = 1; command <= 11; ++command)
        QCOMPARE(commandOfCaption(keyCaptionOfCommand(command)), command);
    QVERIFY(!commandOfCaption("ent"));
    QVERIFY(!commandOfCaption(""));
}

void TestProtocol::readings()
{
    // Offsets 2..14 of an aligned frame, its texts | its uncut numbers, limiting mode.
    const std::pair<const char *, const char *> cases[] = {
        {"0000 0000 0000 0000 0000 0000 00", "00.00 0.000 000.0 00 0.00 000 | 0 0 0 0 0 0 U-const"},
        {"04d2 1388 1234 0019 01f4 2000 5a",
         "12.34 5.000 123.4 00 0.50 200 | 12.34 5 123.4 0.25 0.5 200 I-const"},
        {"0005 007b 0100 0fa0 04d2 0050 ff",
         "00.05 0.123 010.0 40 1.23 005 | 0.05 0.123 10 40 1.234 5 none"},
        // Five digits are cut by position: the middle ones give way.
        {"3039 3039 1005 2710 3039 1234 01",
         "12.45 1.345 100.5 10 1.23 123 | 123.45 12.345 100.5 100 12.345 123.4 U-const"},
        {"7fff 7fff 9999 7fff 7fff 9999 00",
         "32.67 3.767 999.9 32 3.27 999 | 327.67 32.767 999.9 327.67 32.767 999.9 U-const"},
        // Out of range: unsigned, hex digits (no number), every text keeps its length.
        {"ffff 8000 abcd 8000 ffff f00f 64",
         "65.35 3.768 ABC.D 32 6.55 F00 | 655.35 32.768 nan 327.68 65.535 nan P-const"},
    };
    for (const auto &[payload, expected] : cases) {
        const QByteArray block = blockAt(0, payload, '\x11');
        const auto r = decodeStatusBlock(bytesOf(block));
        QVERIFY2(r, payload);
        QCOMPARE(texts(*r), QString(expected));
    }
}

void TestProtocol::syncSearch()
{
    const char *payload = "04d2 0000 0000 0000 0000 0000 42";
    QByteArray ebeb = blockAt(1, payload);
    ebeb[0] = '\xEB';
    QByteArray twoPairs = blockAt(0, payload);
    twoPairs.replace(10, 2, "\xEB\x90");
    // -1: the block yields nothing.
    QList<std::pair<QByteArray, int>> cases = {{ebeb, 1},
                                               {twoPairs, 0},
                                               {QByteArray(30, '\xEB'), -1},
                                               {blockAt(0, payload).left(29), -1},
                                               {blockAt(0, payload) + '\0', -1},
                                               {blockAt(0, payload).repeated(2), -1},
                                               {{}, -1}};
    for (int start : {0, 5, 15, 16, 28})
        cases.append({blockAt(start, payload, '\x77'), start <= 15 ? start : -1});
    for (const auto &[block, start] : cases) {
        const auto r = decodeStatusBlock(bytesOf(block));
        QVERIFY2(bool(r) == (start >= 0), block.toHex().constData());
        if (r) {
            QCOMPARE(r->text(1), std::string_view("12.34"));
            QCOMPARE(r->StatusByte, std::uint8_t(0x42));
            QCOMPARE(findSyncPair(bytesOf(block)), std::optional<std::size_t>(start));
        }
    }
}

void TestProtocol::streamFraming_data()
{
    // Each piece is fed as one block, whatever time may pass between them.
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QStringList>("shown"); // Reading1 of every frame taken
    QTest::addColumn<int>("wanted");        // bytes the stream waits for then
    auto f = [](std::uint16_t n) {
        StatusValues v;
        v.reading1 = n;
        const StatusFrame frame = encodeStatusFrame(v);
        return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
    };
    using L = QByteArrayList;
    QTest::newRow("back to back") << L{f(1) + f(2)} << QStringList{"00.01", "00.02"} << 30;
    QTest::newRow("one byte short") << L{f(1).remove(3, 1) + f(2)} << QStringList{"00.02"} << 30;
    QTest::newRow("short") << L{f(1).left(29)} << QStringList{} << 1;
    QTest::newRow("stray byte after")
        << L{f(1) + '\0' + f(2)} << QStringList{"00.01", "00.02"} << 30;
    QTest::newRow("pair in noise")
        << L{QByteArray("\xEB\x90\x01", 3) + f(1) + f(2)} << QStringList{"00.01", "00.02"} << 30;
    // A link that holds bytes back makes the line look quiet inside a frame.
    QTest::newRow("held inside") << L{f(1).left(12), f(1).mid(12) + f(2).left(1), f(2).mid(1)}
                                 << QStringList{"00.01", "00.02"} << 30;
    // Thirty bytes that hold the start of the next frame are a frame that
    // lost bytes, not one to show shifted; the next one still shows.
    QTest::newRow("one lost") << L{f(1).remove(3, 1) + f(2).left(1), f(2).mid(1)}
                              << QStringList{"00.02"} << 30;
    QTest::newRow("two lost") << L{f(1).remove(3, 2) + f(2).left(2), f(2).mid(2)}
                              << QStringList{"00.02"} << 30;
    QTest::newRow("first byte of the next lost")
        << L{f(1) + f(2).mid(1) + f(3)} << QStringList{"00.01", "00.03"} << 30;
    // A frame whose unread bytes look like a sync pair waits for the next one.
    const QByteArray odd = f(1).replace(20, 2, "\xEB\x90");
    QTest::newRow("pair inside, alone") << L{odd} << QStringList{} << 2;
    QTest::newRow("pair inside, vouched") << L{odd + f(2).left(2)} << QStringList{"00.01"} << 28;
}

void TestProtocol::streamFraming()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QStringList, shown);
    QFETCH(int, wanted);
    StatusStream framer;
    for (const QByteArray &piece : pieces) {
        framer.feed(std::span(reinterpret_cast<const std::uint8_t *>(piece.constData()),
                              std::size_t(piece.size())),
                    7);
    }
    QCOMPARE(int(framer.wanted()), wanted);
    QStringList taken;
    while (const auto frame = framer.next())
        taken << QString::fromLatin1(frame->readings.text(1).data(), 5);
    QCOMPARE(taken, shown);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
