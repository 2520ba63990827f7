// SPDX-License-Identifier: MIT
// The simulated supply: its model, command reader, faults and options as a
// library; the running korvale-sim on its pseudo-terminal; and the whole path
// with the panel, clicks on the real widgets to what the displays show.
#include "app/form1.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "sim/options.h"
#include "sim/supplymodel.h"
#include "simsupply.h"

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
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
    void process();
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

    for (const char *bad : {"--period 0", "--period 5ms", "--period", "--load -1", "--load=0",
                            "--no-pace=1", "--short-every 0", "--bogus", "200"}) {
        const ParsedOptions parsed = parse(bad);
        QVERIFY2(parsed.action == ParsedOptions::Action::Error && !parsed.error.empty(), bad);
    }
    QProcess sim; // and the program says so, and ends with 2
    sim.start(QStringLiteral(KORVALE_SIM_EXECUTABLE), {"--period", "0"});
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardError().contains("--period"));
}

void TestSim::process()
{
    QElapsedTimer running;
    running.start();
    SimSupply sim;
    QVERIFY(sim.start({"--period", "100"}));
    // Nobody reads: an old frame is dropped when the next one is due, so
    // never more than a frame and a bit waits, however late the reader.
    const int fd = ::open(QFile::encodeName(sim.link()).constData(), O_RDONLY | O_NOCTTY);
    int waiting = 0, most = 0, drops = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const int before = std::exchange(waiting, 0);
            ::ioctl(fd, FIONREAD, &waiting);
            most = std::max(most, waiting);
            return (drops += waiting < before) == 3;
        },
        20000));
    ::close(fd);
    QCOMPARE_LT(most, 60);

    sim.process().terminate();
    QVERIFY(sim.process().waitForFinished(10000));
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    // Paced like the line, a block takes 29 byte times of 8.333 ms from its
    // first byte to its last, one after another: a slow machine sends fewer,
    // never more, than fit in the time the simulator ran.
    const auto said = QRegularExpression("sent (\\d+) whole blocks, (\\d+) bytes discarded")
                          .match(sim.process().readAllStandardError());
    QVERIFY(said.hasMatch() && said.captured(2).toInt() > 0);
    QCOMPARE_LE(said.captured(1).toInt() * 29 * 8333 / 1000, running.elapsed());
}

void TestSim::withThePanel()
{
    SimSupply supply;
    qputenv("KORVALE_COMM1", supply.link().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    FrontPanel &panel = *form.panel();
    auto label = [&](int n) { return panel.label(n)->text(); };
    auto shown = [&](int n) { return !panel.label(n)->isHidden(); };
    auto click = [&](int n) { QTest::mouseClick(panel.command(n), Qt::LeftButton); };
    auto alive = [&] { return !panel.image(2)->isHidden() && panel.image(3)->isHidden(); };
    // The second time round the supply has gone away and come back.
    for (int round = 0; round < 2; ++round) {
        // Unpaced frames every 100 ms keep the test quick; at 100 ohm the
        // supply is voltage-limited, so U moves the output voltage directly.
        QVERIFY(supply.start({"--no-pace", "--period", "100", "--load", "100"}));
        QMenuBar *bar = form.menuBar(); // picked as the operator does it
        QMenu *menu = bar->actions().first()->menu();
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(menu->menuAction()).center());
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(form.comm1()).center());
        QTRY_VERIFY_WITH_TIMEOUT(alive(), 10000);
        // The supply's start settings, output off.
        QTRY_COMPARE(label(4) + ' ' + label(5) + ' ' + label(6) + ' ' + label(1),
                     "12 1.00 100 00.00");
        QVERIFY(shown(13) && !shown(14) && !shown(15));
        click(10); // I/O: 12 V across 100 ohm, limited by the voltage setting
        QTRY_COMPARE(label(1) + ' ' + label(2) + ' ' + label(3), "12.00 0.120 001.4");
        QVERIFY(shown(14) && !shown(13) && shown(16) && form.BlinkTarget == 8);
        if (round == 1)
            break;
        click(1); // U, then 5 steps up
        panel.text1()->setText("5");
        click(12);
        QTRY_COMPARE(label(1) + ' ' + label(4), "17.00 17");
        click(8); // F: three fine steps of 10 mV down
        panel.text1()->setText("3");
        click(13);
        QTRY_COMPARE(label(1), "16.97");
        QVERIFY(shown(7));

        // Silence: lost after two seconds, and the next frame brings it back.
        supply.signal(SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(panel.image(2)->isHidden(), 20000);
        supply.signal(SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(alive(), 10000);
        // Gone: the port closes, the panel keeps running.
        supply.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!form.channel().PortOpen(), 10000);
    }
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
