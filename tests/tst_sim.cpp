// SPDX-License-Identifier: MIT
// The simulated supply: its model, command reader and faults as a library, and
// the running korvale-sim over its real pseudo-terminal.
#include "protocol/statusframe.h"
#include "sim/commandreader.h"
#include "sim/faults.h"
#include "sim/options.h"
#include "sim/supplymodel.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace korvale;
using namespace korvale::sim;

namespace {

// "aa0c 5505": the frames 0xEB 0x90 0xAA 0x0C and 0xEB 0x90 0x55 0x05.
QByteArray frames(const char *kindsAndData)
{
    QByteArray wire;
    const QByteArray pairs = QByteArray::fromHex(kindsAndData);
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
        wire += QByteArray("\xEB\x90", 2) + pairs.mid(i, 2);
    return wire;
}

std::span<const std::uint8_t> bytesOf(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), std::size_t(a.size())};
}

void applyAll(SupplyModel &model, const QByteArray &wire)
{
    CommandReader reader;
    for (const ReceivedCommand &command : reader.feed(bytesOf(wire)))
        model.apply(command);
}

QString texts(const StatusReadings &r)
{
    QStringList list;
    for (int i = 1; i <= kReadingCount; ++i)
        list << QString::fromLatin1(r.text(i).data(), qsizetype(r.text(i).size()));
    return list.join(' ');
}

QString decodedTexts(const SupplyModel &model)
{
    const StatusFrame frame = encodeStatusFrame(model.statusValues());
    const auto readings = decodeStatusBlock(frame);
    return readings ? texts(*readings) : QStringLiteral("(not decodable)");
}

ParsedOptions parse(const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    for (const QString &a : arguments)
        storage.push_back(a.toUtf8());
    std::vector<std::string_view> views;
    for (const QByteArray &a : storage)
        views.emplace_back(a.constData(), std::size_t(a.size()));
    return parseOptions(views);
}

// The client's side of the simulator's line, opened the way a panel would.
class SerialEnd
{
public:
    ~SerialEnd() { close(); }

    bool open(const QString &path)
    {
        close();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios t{};
        ::tcgetattr(m_fd, &t);
        ::cfmakeraw(&t);
        return ::tcsetattr(m_fd, TCSANOW, &t) == 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_buffer.clear();
    }
    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    }

    // Waits for bytes; false at EOF or a read error, or when the time is up.
    bool readMore(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char chunk[256];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, n);
        return true;
    }

    // The next thirty bytes that start with a sync pair, decoded.
    std::optional<StatusReadings> nextFrame(int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const qsizetype start = m_buffer.indexOf("\xEB\x90");
            if (start >= 0 && m_buffer.size() - start >= qsizetype(kStatusFrameSize)) {
                const QByteArray block = m_buffer.mid(start, kStatusFrameSize);
                m_buffer.remove(0, start + kStatusFrameSize);
                return decodeStatusBlock(bytesOf(block));
            }
            if (deadline.hasExpired() || !readMore(int(deadline.remainingTime())))
                return std::nullopt;
        }
    }

    // Frames until one whose status byte has `bit` set (or clear).
    std::optional<StatusReadings> frameWithBit(std::uint8_t bit, bool set, int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            const auto r = nextFrame(int(deadline.remainingTime()));
            if (r && bool(r->StatusByte & bit) == set)
                return r;
        }
        return std::nullopt;
    }

    int fd() const { return m_fd; }
    qsizetype buffered() const { return m_buffer.size(); }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

class SimProcess
{
public:
    ~SimProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    bool start(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(KORVALE_SIM_EXECUTABLE), arguments);
        return m_process.waitForStarted(3000);
    }
    QString nextLine(int timeoutMs = 3000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(int(deadline.remainingTime()));
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    bool terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(3000);
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void model_data();
    void model();
    void output_data();
    void output();
    void commandReader_data();
    void commandReader();
    void faults_data();
    void faults();
    void options_data();
    void options();

    void runningSimulator();
    void pacedLikeTheLine();
    void idleWithoutAClient();
    void hangupAndReturn();
    void invalidOptionExitsWithTwo();
};

void TestSim::model_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("voltage"); // 10 mV
    QTest::addColumn<int>("current"); // mA
    QTest::addColumn<int>("power");   // 0.1 W
    QTest::addColumn<int>("status");

    QTest::newRow("start") << QByteArray() << 1200 << 1000 << 1000 << 0x70;
    QTest::newRow("any command means remote") << frames("aa05") << 1200 << 1000 << 1000 << 0x72;
    QTest::newRow("U selected at start, up 5 V") << frames("5505") << 1700 << 1000 << 1000 << 0x72;
    QTest::newRow("down 3 V") << frames("cc03") << 900 << 1000 << 1000 << 0x72;
    QTest::newRow("I up 0.2 A") << frames("aa04 5502") << 1200 << 1200 << 1000 << 0x72;
    QTest::newRow("P down 10 W") << frames("aa08 cc01") << 1200 << 1000 << 900 << 0x72;
    QTest::newRow("fine U up 70 mV") << frames("aa06 5507") << 1207 << 1000 << 1000 << 0xF2;
    QTest::newRow("fine I down 1 mA") << frames("aa04 aa06 cc01") << 1200 << 999 << 1000 << 0xF2;
    QTest::newRow("fine P up 0.5 W") << frames("aa08 aa06 5505") << 1200 << 1000 << 1005 << 0xF2;
    QTest::newRow("N ends fine") << frames("aa06 aa02 5501") << 1300 << 1000 << 1000 << 0x72;
    QTest::newRow("U clamps at 40 V") << frames("55ff") << 4000 << 1000 << 1000 << 0x72;
    QTest::newRow("U clamps at 0, fine from 0")
        << frames("ccff aa06 5503") << 3 << 1000 << 1000 << 0xF2;
    QTest::newRow("I clamps at 5 A") << frames("aa04 5528 5501") << 1200 << 5000 << 1000 << 0x72;
    QTest::newRow("I clamps at 0") << frames("aa04 ccff") << 1200 << 0 << 1000 << 0x72;
    QTest::newRow("P clamps at 200 W") << frames("aa08 550b") << 1200 << 1000 << 2000 << 0x72;
    QTest::newRow("P clamps at 0") << frames("aa08 cc0b") << 1200 << 1000 << 0 << 0x72;
    QTest::newRow("selection survives fine")
        << frames("aa08 aa06 aa02 5501") << 1200 << 1000 << 1100 << 0x72;
    QTest::newRow("up by 0 moves nothing") << frames("5500 cc00") << 1200 << 1000 << 1000 << 0x72;
    QTest::newRow("I/O on") << frames("aa0c") << 1200 << 1000 << 1000 << 0x56;
    QTest::newRow("I/O twice is off") << frames("aa0c aa0c") << 1200 << 1000 << 1000 << 0x72;
    QTest::newRow("other keys do nothing")
        << frames("aa01 aa05 aa09 aa03 aa07 aa0a aa0b aa0d aaff") << 1200 << 1000 << 1000 << 0x72;
}

void TestSim::model()
{
    QFETCH(QByteArray, wire);
    SupplyModel model;
    applyAll(model, wire);
    QFETCH(int, voltage);
    QFETCH(int, current);
    QFETCH(int, power);
    QFETCH(int, status);
    QCOMPARE(model.voltageSetting(), voltage);
    QCOMPARE(model.currentSetting(), current);
    QCOMPARE(model.powerSetting(), power);
    QCOMPARE(int(model.statusByte()), status);
}

void TestSim::output_data()
{
    // What the panel will show: the sim's frame run through the decoder.
    QTest::addColumn<double>("load");
    QTest::addColumn<bool>("overtemp");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("texts");
    QTest::addColumn<int>("status");

    QTest::newRow("off gives zeros")
        << 10.0 << false << QByteArray() << "00.00 0.000 000.0 12 1.00 100" << 0x70;
    QTest::newRow("10 ohm: current limits")
        << 10.0 << false << frames("aa0c") << "10.00 1.000 010.0 12 1.00 100" << 0x56;
    QTest::newRow("100 ohm: voltage limits")
        << 100.0 << false << frames("aa0c") << "12.00 0.120 001.4 12 1.00 100" << 0x36;
    QTest::newRow("12 ohm: tie of U and I named U")
        << 12.0 << false << frames("aa0c") << "12.00 1.000 012.0 12 1.00 100" << 0x36;
    QTest::newRow("40 V, 5 A: power limits") << 10.0 << false << frames("551c aa04 5528 aa0c")
                                             << "31.62 3.162 100.0 40 5.00 100" << 0x66;
    QTest::newRow("fine settings reach the small displays")
        << 10.0 << false << frames("aa06 5505 aa04 5507 aa08 cc03")
        << "00.00 0.000 000.0 12 1.00 099" << 0xF2;
    QTest::newRow("all at the top, 1 kohm")
        << 1000.0 << false << frames("55ff aa04 55ff aa08 55ff aa0c")
        << "40.00 0.040 001.6 40 5.00 200" << 0x36;
    QTest::newRow("overtemp, fine, output off")
        << 10.0 << true << frames("aa06") << "00.00 0.000 000.0 12 1.00 100" << 0xFA;
    QTest::newRow("overtemp with output on")
        << 10.0 << true << frames("aa0c") << "10.00 1.000 010.0 12 1.00 100" << 0x5E;
}

void TestSim::output()
{
    QFETCH(double, load);
    QFETCH(bool, overtemp);
    QFETCH(QByteArray, wire);
    QFETCH(QString, texts);
    QFETCH(int, status);
    SupplyModel model(load);
    model.setOvertemp(overtemp);
    applyAll(model, wire);
    QCOMPARE(decodedTexts(model), texts);
    QCOMPARE(int(model.statusByte()), status);
    QCOMPARE(int(encodeStatusFrame(model.statusValues())[kStatusByteOffset]), status);
}

void TestSim::commandReader_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArray>("expected"); // kind and data of each command

    auto hex = [](std::initializer_list<const char *> parts) {
        QByteArrayList list;
        for (const char *p : parts)
            list << QByteArray::fromHex(p);
        return list;
    };
    QTest::newRow("one frame") << hex({"eb90aa0c"}) << QByteArray::fromHex("aa0c");
    QTest::newRow("split at every byte")
        << hex({"eb", "90", "aa", "0c"}) << QByteArray::fromHex("aa0c");
    QTest::newRow("two frames across three reads")
        << hex({"eb90aa", "0ceb9055", "05"}) << QByteArray::fromHex("aa0c5505");
    QTest::newRow("garbage before and between")
        << hex({"00ff90aa", "eb90cc03ffee90", "eb90aa06"}) << QByteArray::fromHex("cc03aa06");
    QTest::newRow("lone EB before EB 90") << hex({"eb", "eb90aa00"}) << QByteArray::fromHex("aa00");
    QTest::newRow("EB, other byte, then a frame")
        << hex({"eb00eb905501"}) << QByteArray::fromHex("5501");
    QTest::newRow("unknown kinds ignored")
        << hex({"eb901122eb9000eb90aa02"}) << QByteArray::fromHex("aa02");
    QTest::newRow("cut-off frame, then a new one")
        << hex({"eb90", "eb90aa04"}) << QByteArray::fromHex("aa04");
    QTest::newRow("data byte may be EB or 90")
        << hex({"eb9055eb", "eb90cc90"}) << QByteArray::fromHex("55ebcc90");
    QTest::newRow("reversed sync pair") << hex({"90ebaa0c"}) << QByteArray();
    QTest::newRow("status frame echoed back") << hex({"eb9003e803e8"}) << QByteArray();
}

void TestSim::commandReader()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, expected);
    CommandReader reader;
    QByteArray got;
    for (const QByteArray &chunk : chunks) {
        for (const ReceivedCommand &c : reader.feed(bytesOf(chunk)))
            got += char(c.kind) + QByteArray(1, char(c.data));
    }
    QCOMPARE(got.toHex(), expected.toHex());
}

void TestSim::faults_data()
{
    // Per block: 'F' decodes to the frame's own readings, 'O' decodes to other
    // readings, 'X' is not decodable, '-' is silence.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QString>("outcomes");

    QTest::newRow("no faults") << QStringList() << QList<int>{30, 30, 30, 30} << "FFFF";
    QTest::newRow("short every 2")
        << QStringList{"--short-every", "2"} << QList<int>{30, 29, 30, 29} << "FXFX";
    QTest::newRow("long: 31, then 60")
        << QStringList{"--long-every", "1"} << QList<int>{31, 60, 31, 60} << "XXXX";
    QTest::newRow("midblock: inside, then past the end")
        << QStringList{"--midblock-every=1"} << QList<int>{30, 30, 30, 30} << "FXFX";
    QTest::newRow("garbage every 3")
        << QStringList{"--garbage-every", "3"} << QList<int>{30, 30, 30, 30} << "FFXF";
    QTest::newRow("out of range") << QStringList{"--out-of-range-every", "2"}
                                  << QList<int>{30, 30, 30, 30} << "FOFO";
    QTest::newRow("silence every 2")
        << QStringList{"--silence-every", "2"} << QList<int>{30, 0, 30, 0} << "F-F-";
    QTest::newRow("silence beats garbage beats short")
        << QStringList{"--short-every", "1", "--garbage-every", "2", "--silence-every", "4"}
        << QList<int>{29, 30, 29, 0} << "XXX-";
}

void TestSim::faults()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, sizes);
    QFETCH(QString, outcomes);
    const ParsedOptions parsed = parse(arguments);
    QCOMPARE(parsed.action, ParsedOptions::Action::Run);

    SupplyModel model;
    applyAll(model, frames("aa0c"));
    const StatusFrame frame = encodeStatusFrame(model.statusValues());
    const QString own = texts(*decodeStatusBlock(frame));
    FaultInjector injector(parsed.options.faults);
    for (int i = 0; i < sizes.size(); ++i) {
        const Block block = injector.next(frame);
        QCOMPARE(int(block.bytes.size()), sizes[i]);
        const auto readings = decodeStatusBlock(block.bytes);
        QChar outcome = 'X';
        if (block.kind == BlockKind::Silence)
            outcome = '-';
        else if (readings)
            outcome = texts(*readings) == own ? 'F' : 'O';
        QCOMPARE(outcome, outcomes.at(i));
        if (outcome == 'O') {
            // Out-of-range readings keep their lengths; hex letters show.
            QCOMPARE(texts(*readings), "33.68 3.768 ABC.D 33 3.37 EFF");
            QCOMPARE(readings->StatusByte, frame[kStatusByteOffset]);
        }
    }
}

void TestSim::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");

    QTest::newRow("none") << QStringList() << true;
    QTest::newRow("all kinds")
        << QStringList{"--period=200", "--no-pace",    "--load",     "2.5",
                       "--link",       "/tmp/x",       "--overtemp", "--hangup-after",
                       "100",          "--hangup-for", "0"}
        << true;
    QTest::newRow("period 0") << QStringList{"--period", "0"} << false;
    QTest::newRow("period with unit") << QStringList{"--period", "5ms"} << false;
    QTest::newRow("period without value") << QStringList{"--period"} << false;
    QTest::newRow("negative load") << QStringList{"--load", "-1"} << false;
    QTest::newRow("zero load") << QStringList{"--load=0"} << false;
    QTest::newRow("flag with a value") << QStringList{"--no-pace=1"} << false;
    QTest::newRow("count of 0") << QStringList{"--short-every", "0"} << false;
    QTest::newRow("unknown") << QStringList{"--bogus"} << false;
    QTest::newRow("stray word") << QStringList{"200"} << false;
}

void TestSim::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    const ParsedOptions parsed = parse(arguments);
    QCOMPARE(parsed.action == ParsedOptions::Action::Run, valid);
    QCOMPARE(parsed.error.empty(), valid);
    if (valid && !arguments.isEmpty()) {
        QCOMPARE(parsed.options.periodMs, 200);
        QVERIFY(!parsed.options.pace);
        QCOMPARE(parsed.options.loadOhms, 2.5);
        QCOMPARE(parsed.options.linkPath, "/tmp/x");
        QVERIFY(parsed.options.overtemp);
        QCOMPARE(parsed.options.hangupAfterMs, 100);
        QCOMPARE(parsed.options.hangupForMs, 0);
    }
}

void TestSim::runningSimulator()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("link");
    SimProcess sim;
    QVERIFY(sim.start({"--no-pace", "--period", "50", "--link", link}));
    const QString path = sim.nextLine();
    QVERIFY(path.startsWith("/dev/pts/"));
    QCOMPARE(QFile::symLinkTarget(link), path);

    SerialEnd line;
    QVERIFY(line.open(link));
    auto r = line.nextFrame();
    QVERIFY(r);
    QCOMPARE(texts(*r), "00.00 0.000 000.0 12 1.00 100");
    QCOMPARE(int(r->StatusByte), 0x70);

    QVERIFY(line.write(frames("aa0c")));
    r = line.frameWithBit(SupplyModel::kOutputBit, true);
    QVERIFY(r);
    QCOMPARE(texts(*r), "10.00 1.000 010.0 12 1.00 100");
    QCOMPARE(int(r->StatusByte), 0x56);

    // A frame split over two writes, with noise before it.
    QVERIFY(line.write(QByteArray::fromHex("00eb") + frames("5505").left(2)));
    QVERIFY(line.write(frames("5505").mid(2)));
    QTRY_COMPARE_WITH_TIMEOUT(line.nextFrame().value_or(StatusReadings{}).text(4), "17", 2000);

    // The panel closes the port for a while: unread frames are discarded, so
    // it comes back to at most one old frame, and the supply kept its state.
    line.close();
    QTest::qWait(300);
    QVERIFY(line.open(link));
    int waiting = 0;
    QCOMPARE(::ioctl(line.fd(), FIONREAD, &waiting), 0);
    QCOMPARE_LT(waiting, 2 * int(kStatusFrameSize));
    r = line.frameWithBit(SupplyModel::kOutputBit, true);
    QVERIFY(r);
    QCOMPARE(texts(*r), "10.00 1.000 010.0 17 1.00 100");

    QVERIFY(sim.terminate());
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::pacedLikeTheLine()
{
    SimProcess sim;
    QVERIFY(sim.start({"--period", "400"}));
    SerialEnd line;
    QVERIFY(line.open(sim.nextLine()));
    // Skip whatever is under way, then time one whole frame: first byte to last.
    QVERIFY(line.nextFrame());
    QVERIFY(line.readMore(1000));
    QElapsedTimer clock;
    clock.start();
    while (line.buffered() < qsizetype(kStatusFrameSize))
        QVERIFY(line.readMore(1000));
    // 29 more bytes at 8.3 ms each: about 240 ms, not all at once.
    QVERIFY2(clock.elapsed() >= 200, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(sim.terminate());
}

void TestSim::idleWithoutAClient()
{
    SimProcess sim;
    QVERIFY(sim.start({"--period", "100"}));
    QVERIFY(!sim.nextLine().isEmpty());
    const qint64 pid = sim.process().processId();
    const long before = cpuTicks(pid);
    QVERIFY(before >= 0);
    QTest::qWait(1000);
    // A loop that spins burns about 100 ticks a second; a sleeping one none.
    QCOMPARE_LE(cpuTicks(pid) - before, 5);
    QVERIFY(sim.terminate());
    QCOMPARE(sim.process().exitCode(), 0);
}

void TestSim::hangupAndReturn()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("link");
    SimProcess sim;
    QVERIFY(sim.start({"--no-pace", "--period", "50", "--link", link, "--hangup-after", "300",
                       "--hangup-for", "300"}));
    const QString first = sim.nextLine();
    SerialEnd line;
    QVERIFY(line.open(link));
    QVERIFY(line.nextFrame());

    // The adapter is pulled: reads end in EOF or an error, not in silence.
    QDeadlineTimer deadline(2000);
    bool ended = false;
    while (!ended && !deadline.hasExpired()) {
        pollfd p{line.fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) == 1) {
            char chunk[64];
            ended = ::read(line.fd(), chunk, sizeof chunk) <= 0;
        }
    }
    QVERIFY(ended);

    // Still holding the old device, so the new one has a new name.
    const QString second = sim.nextLine();
    QVERIFY(second.startsWith("/dev/pts/"));
    QVERIFY(second != first);
    QCOMPARE(QFile::symLinkTarget(link), second);
    line.close();
    QVERIFY(line.open(link));
    QVERIFY(line.nextFrame());
    QVERIFY(sim.terminate());
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::invalidOptionExitsWithTwo()
{
    QProcess sim;
    sim.start(QStringLiteral(KORVALE_SIM_EXECUTABLE), {"--period", "0"});
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    QVERIFY(sim.readAllStandardError().contains("--period"));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
