// SPDX-License-Identifier: MIT
// The simulated supply: its model, command reader, faults and options as a
// library; the running korvale-sim on its pseudo-terminal; and the whole path
// with the panel, clicks on the real widgets to what the displays show.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "sim/options.h"
#include "sim/simulator.h"
#include "sim/supplymodel.h"
#include "simsupply.h"

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace korvale;
using namespace korvale::sim;

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), std::size_t(a.size())};
}

QString texts(const StatusReadings &r)
{
    QStringList list;
    for (int i = 1; i <= kReadingCount; ++i)
        list << QString::fromStdString(std::string(r.text(i)));
    return list.join(' ');
}

// After commands given as kind and data, "aa0c 5505" for EB 90 AA 0C, EB 90 55 05.
SupplyModel modelAfter(const char *commands, double load = 10.0, bool overtemp = false)
{
    SupplyModel model(load);
    model.setOvertemp(overtemp);
    CommandReader reader;
    for (const QByteArray &command : QByteArray(commands).split(' '))
        for (const ReceivedCommand &c :
             reader.feed(bytesOf("\xEB\x90" + QByteArray::fromHex(command))))
            model.apply(c);
    return model;
}

ParsedOptions parse(const char *arguments)
{
    std::vector<std::string> storage;
    for (const QString &a : QString(arguments).split(' ', Qt::SkipEmptyParts))
        storage.push_back(a.toStdString());
    return parseOptions(std::vector<std::string_view>(storage.begin(), storage.end()));
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void model();
    void commandReader();
    void faultsAndOptions();
    void lineTiming();
    void withThePanel();
};

void TestSim::model()
{
    // Commands, load and overtemp; what the panel would show (the settings
    // are the last three readings) and the status byte.
    struct Row
    {
        const char *wire;
        double load;
        bool overtemp;
        const char *texts;
        int status;
    };
    const Row rows[] = {
        {"", 10, false, "00.00 0.000 000.0 12 1.00 100", 0x70},
        {"5505 cc03", 10, false, "00.00 0.000 000.0 14 1.00 100", 0x72},
        {"aa04 5502 aa08 cc01", 10, false, "00.00 0.000 000.0 12 1.20 090", 0x72},
        {"aa06 5507", 10, false, "00.00 0.000 000.0 12 1.00 100", 0xF2},
        {"aa04 aa06 cc01", 10, false, "00.00 0.000 000.0 12 0.99 100", 0xF2},
        {"aa08 aa06 aa02 5501", 10, false, "00.00 0.000 000.0 12 1.00 110", 0x72},
        {"55ff aa04 5528 5501 aa08 550b", 10, false, "00.00 0.000 000.0 40 5.00 200", 0x72},
        {"ccff aa04 ccff aa08 cc0b aa06 aa00 5503", 10, false, "00.00 0.000 000.0 00 0.00 000",
         0xF2},
        {"5500 cc00 aa01 aa05 aa09 aa0d aaff", 10, false, "00.00 0.000 000.0 12 1.00 100", 0x72},
        {"aa0c", 10, false, "10.00 1.000 010.0 12 1.00 100", 0x56},
        {"aa0c aa0c", 10, false, "00.00 0.000 000.0 12 1.00 100", 0x72},
        {"aa0c", 100, false, "12.00 0.120 001.4 12 1.00 100", 0x36},
        {"aa0c", 12, false, "12.00 1.000 012.0 12 1.00 100", 0x36}, // tie: U
        {"551c aa04 5528 aa0c", 10, false, "31.62 3.162 100.0 40 5.00 100", 0x66},
        {"aa0c", 10, true, "10.00 1.000 010.0 12 1.00 100", 0x5E},
    };
    for (const Row &row : rows) {
        const StatusFrame frame =
            encodeStatusFrame(modelAfter(row.wire, row.load, row.overtemp).statusValues());
        QCOMPARE(texts(*decodeStatusBlock(frame)), QString(row.texts));
        QCOMPARE(frame[kStatusByteOffset], std::uint8_t(row.status));
    }
}

void TestSim::commandReader()
{
    // Chunks as read, separated by '|'; the kind and data of each command.
    const std::pair<const char *, const char *> cases[] = {
        {"eb|90|aa|0c", "aa0c"},
        {"eb90aa|0ceb9055|05", "aa0c5505"},
        {"00ff90aa|eb90cc03ffee90|eb90aa06", "cc03aa06"},
        {"eb|eb90aa00", "aa00"},
        {"eb00eb905501", "5501"},
        {"eb901122eb9000eb90aa02", "aa02"},
        {"eb90|eb90aa04", "aa04"},
        {"eb9055eb|eb90cc90", "55ebcc90"},
        {"90ebaa0c|eb9003e803e8", ""},
    };
    for (const auto &[chunks, expected] : cases) {
        CommandReader reader;
        QByteArray got;
        for (const QByteArray &chunk : QByteArray(chunks).split('|'))
            for (const ReceivedCommand &c : reader.feed(bytesOf(QByteArray::fromHex(chunk))))
                got += char(c.kind) + QByteArray(1, char(c.data));
        QVERIFY2(got.toHex() == expected, chunks);
    }
}

void TestSim::faultsAndOptions()
{
    // Options, then per block its size and 'F' when it decodes to the frame's
    // own readings, 'O' to other readings, 'X' not at all, '-' silence.
    const std::tuple<const char *, QList<int>, const char *> cases[] = {
        {"", {30, 30, 30, 30}, "FFFF"},
        {"--short-every 2", {30, 29, 30, 29}, "FXFX"},
        {"--long-every 1", {31, 60, 31, 60}, "XXXX"},
        {"--midblock-every=1", {30, 30, 30, 30}, "FXFX"},
        {"--garbage-every 3", {30, 30, 30, 30}, "FFXF"},
        {"--out-of-range-every 2", {30, 30, 30, 30}, "FOFO"},
        {"--silence-every 2", {30, 0, 30, 0}, "F-F-"},
        {"--short-every 1 --garbage-every 2 --silence-every 4", {29, 30, 29, 0}, "XXX-"}};
    const StatusFrame frame = encodeStatusFrame(modelAfter("aa0c").statusValues());
    for (const auto &[arguments, sizes, outcomes] : cases) {
        const ParsedOptions parsed = parse(arguments);
        QCOMPARE(parsed.action, ParsedOptions::Action::Run);
        FaultInjector injector(parsed.options.faults);
        QString got;
        for (int size : sizes) {
            const Block block = injector.next(frame);
            QCOMPARE(int(block.bytes.size()), size);
            const auto r = decodeStatusBlock(block.bytes);
            got += block.kind == BlockKind::Silence                ? '-'
                   : !r                                            ? 'X'
                   : texts(*r) == texts(*decodeStatusBlock(frame)) ? 'F'
                                                                   : 'O';
            if (got.endsWith('O')) // lengths kept, hex letters shown
                QCOMPARE(texts(*r), "33.68 3.768 ABC.D 33 3.37 EFF");
        }
        QCOMPARE(got, QString(outcomes));
    }

    for (const char *bad :
         {"--period 0", "--period 5ms", "--period", "--load -1", "--load=0", "--no-pace=1",
          "--short-every 0", "--bogus", "200", "--knob-steps 1,2,3,4,5", "--knob-steps 1,2,3,4,5,0",
          "--knob-steps 1,2,3,4,5,6,"}) {
        const ParsedOptions parsed = parse(bad);
        QVERIFY2(parsed.action == ParsedOptions::Action::Error && !parsed.error.empty(), bad);
    }
    QProcess sim; // and the program says so, and ends with 2
    sim.start(QStringLiteral(KORVALE_SIM_EXECUTABLE), {"--period", "0"});
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardError().contains("--period"));
}

void TestSim::lineTiming()
{
    // Options, the milliseconds the clock runs with nobody reading; then the
    // bytes waiting at the serial end, the blocks sent whole, the bytes
    // discarded, and whether a command written at the start has arrived.
    const std::tuple<const char *, int, int, int, int, int> rows[] = {
        {"", 33, 4, 0, 0, 0}, // a byte each 8.333 ms, the command's 4th in at 33.33 ms
        {"", 34, 5, 0, 0, 1},
        {"", 1900, 30, 4, 90, 1},             // frames at 0, 500, 1000, 1500
        {"--period 100", 1000, 13, 3, 90, 1}, // the line is busy for 250 ms: every third
        {"--no-pace --period 100", 950, 30, 10, 270, 1},
        {"--lumps fifo", 100, 8, 0, 0, 1}, // 13 bytes crossed, 8 handed on
        {"--lumps usb", 100, 12, 0, 0, 1}, // handed on at 16, 32, ... 96 ms
    };
    for (const auto &[options, ms, waiting, blocks, discarded, commands] : rows) {
        Simulator::Clock::time_point now{std::chrono::hours(1)};
        Simulator sim(parse(options).options, [&now] { return now; });
        QVERIFY(sim.start());
        const int fd = ::open(sim.serialPath().c_str(), O_RDWR | O_NOCTTY);
        auto unread = [fd] {
            int n = -1;
            ::ioctl(fd, FIONREAD, &n);
            return n;
        };
        QCOMPARE(::write(fd, "\xEB\x90\xAA\x0C", 4), 4);
        pollfd line{sim.lineWatch()->fd, sim.lineWatch()->events, 0};
        QCOMPARE(::poll(&line, 1, 5000), 1);
        sim.lineEvent(line.revents);
        for (int t = 0; t <= ms; ++t, now += std::chrono::milliseconds(1)) {
            QVERIFY(sim.advance());
            // The kernel hands the bytes to the serial end in its own time.
            const Simulator::Counts &c = sim.counts();
            QTRY_COMPARE(unread(), int(c.bytesWritten - c.bytesDiscarded));
        }
        const Simulator::Counts &c = sim.counts();
        QVERIFY2(unread() == waiting && c.blocksSent == blocks && c.bytesDiscarded == discarded &&
                     c.commandsReceived == commands,
                 options);
        ::close(fd);
    }
}

void TestSim::withThePanel()
{
    // Unpaced frames every 100 ms keep the test quick; at 100 ohm the supply
    // is voltage-limited, so U moves the output voltage directly. Silence and
    // a supply gone and back are the window's in tst_network and tst_form1,
    // fine steps the model's above.
    SimSupply supply;
    QVERIFY(supply.start({"--no-pace", "--period", "100", "--load", "100"}));
    qputenv("KORVALE_COMM1", supply.link().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    FrontPanel &panel = *form.panel();
    auto label = [&](int n) { return panel.label(n)->text(); };
    auto shown = [&](int n) { return !panel.label(n)->isHidden(); };
    auto click = [&](int n) { QTest::mouseClick(panel.command(n), Qt::LeftButton); };
    form.comm1()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!panel.image(2)->isHidden() && panel.image(3)->isHidden(), 10000);
    // The supply's start settings, output off.
    QTRY_COMPARE(label(4) + ' ' + label(5) + ' ' + label(6) + ' ' + label(1), "12 1.00 100 00.00");
    QVERIFY(shown(13) && !shown(14) && !shown(15));
    click(10); // I/O: 12 V across 100 ohm, limited by the voltage setting
    QTRY_COMPARE(label(1) + ' ' + label(2) + ' ' + label(3), "12.00 0.120 001.4");
    QVERIFY(shown(14) && !shown(13) && shown(16) && form.Model.BlinkTarget == 8);
    click(1); // U, then 5 steps up
    panel.text1()->setText("5");
    click(12);
    QTRY_COMPARE(label(1) + ' ' + label(4), "17.00 17");

    // Ended, it says what it did and takes its link along.
    supply.process().terminate();
    QVERIFY(supply.process().waitForFinished(10000));
    QCOMPARE(supply.process().exitCode(), 0);
    QVERIFY(!QFileInfo(supply.link()).isSymLink());
    QVERIFY(QRegularExpression("sent \\d+ whole blocks, \\d+ bytes discarded unread, "
                               "received 3 command frames\n$")
                .match(supply.process().readAllStandardError())
                .hasMatch());
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
