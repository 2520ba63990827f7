// SPDX-License-Identifier: MIT
// Frames in both directions, without Qt in the code under test.
#include "protocol/commandframe.h"
#include "protocol/numberentry.h"
#include "protocol/statusframe.h"
#include "protocol/statusstream.h"

#include <QtTest>

using namespace korvale;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A thirty-byte block with a frame at `start` carrying `payload` (offsets 2..14).
Bytes blockWithFrameAt(std::size_t start, const Bytes &payload, std::uint8_t fill = 0x00)
{
    Bytes block(kStatusFrameSize, fill);
    block[start] = 0xEB;
    block[start + 1] = 0x90;
    for (std::size_t i = 0; i < payload.size() && start + 2 + i < block.size(); ++i)
        block[start + 2 + i] = payload[i];
    return block;
}

QString readingsText(const StatusReadings &r)
{
    QStringList texts;
    for (int i = 1; i <= kReadingCount; ++i)
        texts << QString::fromLatin1(r.text(i).data(), static_cast<qsizetype>(r.text(i).size()));
    return texts.join(' ');
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void keyFrames();
    void numberedFramesOverwriteTheBuffer();
    void numberEntry_data();
    void numberEntry();
    void readings_data();
    void readings();
    void syncSearch_data();
    void syncSearch();
    void outOfRangeValuesKeepTheirLength();
    void encoderRoundTrip();
    void streamFraming_data();
    void streamFraming();
};

void TestProtocol::keyFrames()
{
    const std::map<int, std::optional<std::uint8_t>> expected = {
        {1, 0x00},          {4, 0x01},          {7, 0x02},        {2, 0x04},  {5, 0x05},
        {8, 0x06},          {3, 0x08},          {6, 0x09},        {10, 0x0C}, {9, std::nullopt},
        {11, std::nullopt}, {12, std::nullopt}, {0, std::nullopt}};
    for (const auto &[command, code] : expected)
        QCOMPARE(keyCodeOfCommand(command), code);

    CommandFrame tx{};
    fillKeyFrame(tx, 0x05);
    QCOMPARE(tx, (CommandFrame{0xEB, 0x90, 0xAA, 0x05}));
}

void TestProtocol::numberedFramesOverwriteTheBuffer()
{
    CommandFrame tx{};
    fillNumberedFrame(tx, FrameKind::NumberDown, 0x0C);
    QCOMPARE(tx, (CommandFrame{0xEB, 0x90, 0xCC, 0x0C}));
    fillNumberedFrame(tx, FrameKind::NumberUp, 0xFF);
    QCOMPARE(tx, (CommandFrame{0xEB, 0x90, 0x55, 0xFF}));
    // A key frame after a numbered one carries its own kind, not the last one.
    fillKeyFrame(tx, 0x0C);
    QCOMPARE(tx, (CommandFrame{0xEB, 0x90, 0xAA, 0x0C}));
}

void TestProtocol::numberEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: nothing is sent

    QTest::newRow("start text") << "1" << 1;
    QTest::newRow("spaces around") << "  12  " << 12;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("top") << "255" << 255;
    QTest::newRow("fraction down") << "7.2" << 7;
    QTest::newRow("fraction up") << "7.6" << 8;
    QTest::newRow("tie to even 0.5") << "0.5" << 0;
    QTest::newRow("tie to even 1.5") << "1.5" << 2;
    QTest::newRow("tie to even 2.5") << "2.5" << 2;
    QTest::newRow("just above a tie") << "2.5000001" << 3;
    QTest::newRow("tie with trailing zeros") << "3.500" << 4;
    QTest::newRow("254.5 ties down") << "254.5" << 254;
    QTest::newRow("leading zeros") << "000000000000000042" << 42;
    QTest::newRow("no whole part") << ".7" << 1;
    QTest::newRow("no fraction digits") << "9." << 9;
    QTest::newRow("plus sign") << "+3" << 3;
    QTest::newRow("tab around") << "\t5\t" << 5;
    QTest::newRow("small negative rounds to 0") << "-0.4" << 0;

    QTest::newRow("empty") << "" << -1;
    QTest::newRow("only spaces") << "   " << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("trailing letter") << "12a" << -1;
    QTest::newRow("inner space") << "1 2" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("negative rounds to -1") << "-0.6" << -1;
    QTest::newRow("256") << "256" << -1;
    QTest::newRow("255.5 rounds to 256") << "255.5" << -1;
    QTest::newRow("huge") << "99999999999999999999999999" << -1;
    QTest::newRow("two points") << "1.2.3" << -1;
    QTest::newRow("lone point") << "." << -1;
    QTest::newRow("lone sign") << "-" << -1;
    QTest::newRow("exponent") << "1e2" << -1;
    QTest::newRow("hex") << "0x10" << -1;
    QTest::newRow("comma") << "1,5" << -1;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xd9\xa3") << -1;
}

void TestProtocol::numberEntry()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const QByteArray utf8 = text.toUtf8();
    const auto n = parseFrameNumber(std::string_view(utf8.constData(), utf8.size()));
    QCOMPARE(n ? int(*n) : -1, expected);
}

void TestProtocol::readings_data()
{
    // Payload is frame offsets 2..14 of an aligned frame.
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("texts");
    QTest::addColumn<int>("statusByte");

    auto payload = [](std::initializer_list<int> bytes) {
        QByteArray a;
        for (int b : bytes)
            a.append(char(b));
        return a;
    };
    QTest::newRow("all zero") << payload({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
                              << "00.00 0.000 000.0 00 0.00 000" << 0;
    QTest::newRow("worked examples")
        << payload({0x04, 0xD2, 0x13, 0x88, 0x12, 0x34, 0x00, 0x19, 0x01, 0xF4, 0x20, 0x00, 0x5A})
        << "12.34 5.000 123.4 00 0.50 200" << 0x5A;
    QTest::newRow("small values") << payload({0x00, 0x05, 0x00, 0x7B, 0x01, 0x00, 0x0F, 0xA0, 0x04,
                                              0xD2, 0x00, 0x50, 0xFF})
                                  << "00.05 0.123 010.0 40 1.23 005" << 0xFF;
    QTest::newRow("five digits cut by position")
        << payload({0x30, 0x39, 0x30, 0x39, 0x10, 0x05, 0x30, 0x39, 0x30, 0x39, 0x12, 0x34, 0x01})
        << "12.45 1.345 100.5 12 1.23 123" << 0x01;
    QTest::newRow("top of the format range")
        << payload({0x7F, 0xFF, 0x7F, 0xFF, 0x99, 0x99, 0x7F, 0xFF, 0x7F, 0xFF, 0x99, 0x99, 0x00})
        << "32.67 3.767 999.9 32 3.27 999" << 0x00;
}

void TestProtocol::readings()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, texts);
    QFETCH(int, statusByte);
    const Bytes block = blockWithFrameAt(0, Bytes(payload.begin(), payload.end()), 0x11);
    const auto r = decodeStatusBlock(block);
    QVERIFY(r);
    QCOMPARE(readingsText(*r), texts);
    QCOMPARE(int(r->StatusByte), statusByte);
}

void TestProtocol::syncSearch_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("start"); // -1: the block yields no readings

    auto fromBytes = [](const Bytes &b) {
        return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size()));
    };
    const Bytes payload = {0x04, 0xD2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42};
    QTest::newRow("offset 0") << fromBytes(blockWithFrameAt(0, payload)) << 0;
    QTest::newRow("offset 5") << fromBytes(blockWithFrameAt(5, payload, 0x77)) << 5;
    QTest::newRow("offset 15, the last that fits")
        << fromBytes(blockWithFrameAt(15, payload)) << 15;
    QTest::newRow("offset 16 would read past the block")
        << fromBytes(blockWithFrameAt(16, payload)) << -1;

    Bytes ebeb = blockWithFrameAt(1, payload);
    ebeb[0] = 0xEB;
    QTest::newRow("EB EB 90 starts at 1") << fromBytes(ebeb) << 1;

    Bytes twoPairs = blockWithFrameAt(0, payload);
    twoPairs[10] = 0xEB;
    twoPairs[11] = 0x90;
    QTest::newRow("first of two pairs wins") << fromBytes(twoPairs) << 0;

    QTest::newRow("no sync pair") << fromBytes(Bytes(30, 0xEB)) << -1;
    QTest::newRow("reversed pair") << fromBytes(Bytes{0x90, 0xEB}) << -1;

    Bytes tail(30, 0);
    tail[28] = 0xEB;
    tail[29] = 0x90;
    QTest::newRow("pair at the very end") << fromBytes(tail) << -1;

    QTest::newRow("29 bytes") << fromBytes(Bytes(29, 0)).prepend("\xEB\x90", 2).left(29) << -1;
    QTest::newRow("31 bytes") << fromBytes(blockWithFrameAt(0, payload)).append('\0') << -1;
    QTest::newRow("two frames") << fromBytes(blockWithFrameAt(0, payload)).repeated(2) << -1;
    QTest::newRow("empty") << QByteArray() << -1;
}

void TestProtocol::syncSearch()
{
    QFETCH(QByteArray, block);
    QFETCH(int, start);
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(block.constData()),
                                 std::size_t(block.size()));
    const auto r = decodeStatusBlock(bytes);
    QCOMPARE(bool(r), start >= 0);
    if (r) {
        QCOMPARE(r->text(1), std::string_view("12.34"));
        QCOMPARE(int(r->StatusByte), 0x42);
        QCOMPARE(findSyncPair(bytes), std::optional<std::size_t>(start));
    }
}

void TestProtocol::outOfRangeValuesKeepTheirLength()
{
    // High bytes of 0x80 and more read as unsigned; nibbles above 9 show as
    // their hex digit. Every text keeps the length of its display.
    const Bytes payload = {0xFF, 0xFF, 0x80, 0x00, 0xAB, 0xCD, 0x80,
                           0x00, 0xFF, 0xFF, 0xF0, 0x0F, 0x00};
    const auto r = decodeStatusBlock(blockWithFrameAt(0, payload));
    QVERIFY(r);
    QCOMPARE(readingsText(*r), QString("65.35 3.768 ABC.D 32 6.55 F00"));
}

void TestProtocol::encoderRoundTrip()
{
    StatusValues v;
    v.reading1 = 1234;
    v.reading2 = 5000;
    v.reading3 = 1234;
    v.reading4 = 4000;
    v.reading5 = 500;
    v.reading6 = 50;
    v.statusByte = 0x5A;
    const StatusFrame frame = encodeStatusFrame(v);
    QCOMPARE(frame[6], std::uint8_t(0x12));
    QCOMPARE(frame[7], std::uint8_t(0x34));
    const auto r = decodeStatusBlock(frame);
    QVERIFY(r);
    QCOMPARE(readingsText(*r), QString("12.34 5.000 123.4 40 0.50 005"));
    QCOMPARE(int(r->StatusByte), 0x5A);

    // Packed decimal cannot carry more than four digits: clamped, not wrapped.
    v.reading3 = 12345;
    const auto clamped = decodeStatusBlock(encodeStatusFrame(v));
    QVERIFY(clamped);
    QCOMPARE(clamped->text(3), std::string_view("999.9"));

    // Every value the supply can send decodes back to its own digits.
    for (unsigned n = 0; n <= 9999; ++n) {
        v.reading1 = std::uint16_t(n);
        v.reading6 = std::uint16_t(n);
        const auto back = decodeStatusBlock(encodeStatusFrame(v));
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04u", n);
        QCOMPARE(back->text(1), std::string_view(std::string(digits, 2) + "." + (digits + 2)));
        QCOMPARE(back->text(6), std::string_view(digits, 3));
    }
}

void TestProtocol::streamFraming_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("quiet");        // the line falls quiet after the stream
    QTest::addColumn<QStringList>("shown"); // Reading1 of every frame taken
    auto f = [](std::uint16_t n) {
        StatusValues v;
        v.reading1 = n;
        const StatusFrame frame = encodeStatusFrame(v);
        return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
    };
    QTest::newRow("last waits") << f(1) + f(2) << false << QStringList{"00.01"};
    QTest::newRow("quiet ends it") << f(1) + f(2) << true << QStringList{"00.01", "00.02"};
    QTest::newRow("one byte short") << f(1).remove(3, 1) + f(2) << true << QStringList{"00.02"};
    QTest::newRow("short, quiet") << f(1).left(29) << true << QStringList{};
    QTest::newRow("long, quiet") << f(1) + '\0' << true << QStringList{};
    QTest::newRow("pair in noise")
        << QByteArray("\xEB\x90\x01", 3) + f(1) + f(2) << true << QStringList{"00.01", "00.02"};
}

void TestProtocol::streamFraming()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, quiet);
    QFETCH(QStringList, shown);
    StatusStream framer;
    framer.feed(std::span(reinterpret_cast<const std::uint8_t *>(stream.constData()),
                          std::size_t(stream.size())),
                7);
    if (quiet)
        framer.lineQuiet();
    QStringList taken;
    while (const auto frame = framer.next())
        taken << QString::fromLatin1(frame->readings.text(1).data(), 5);
    QCOMPARE(taken, shown);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
