// SPDX-License-Identifier: MIT
// korvale-cli run as a process against the simulated supply: what it logs,
// what it sends, what it refuses, and a stream that lost bytes.
#include "ptypair.h"
#include "simsupply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The simulated supply's two states after "I/O" with a 100 ohm load, as a
// CSV row without its time: any other row would be a misread frame.
const QString kOffRow = "00.00,0.000,000.0,12,1.00,100,1,off,0,none,0";
const QString kOnRow = "12.00,0.120,001.4,12,1.00,100,1,on,0,U-const,0";

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void wireBytes_data();
    void wireBytes();
    void logFollowsKeysAndNumbers();
    void silenceAndReturnAreLogged();
    void lostBytesAndBurstsAreNeverMisread_data();
    void lostBytesAndBurstsAreNeverMisread();

private:
    Run cli(QStringList arguments);
    // The rows of `watch --count n` as maps from the header's names.
    QList<QMap<QString, QString>> watchCsv(int count);

    SimSupply m_supply;
};

Run TestCli::cli(QStringList arguments)
{
    if (!arguments.join(' ').contains(QRegularExpression("--port|--device")))
        arguments.prepend("--device=" + m_supply.link());
    QProcess process;
    process.start(KORVALE_CLI_EXECUTABLE, arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QList<QMap<QString, QString>> TestCli::watchCsv(int count)
{
    const Run run = cli({"watch", "--count", QString::number(count)});
    QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    if (run.status != 0 || lines.size() != count + 1)
        return {};
    const QStringList header = lines.takeFirst().split(',');
    QList<QMap<QString, QString>> rows;
    for (const QString &line : lines) {
        const QStringList values = line.split(',');
        QMap<QString, QString> row;
        for (qsizetype i = 0; i < header.size() && header.size() == values.size(); ++i)
            row[header[i]] = values[i];
        rows << row;
    }
    return rows;
}

void TestCli::wireBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QByteArray>("wire");
    // Each key's code, in a frame of its own; the simulator takes several
    // codes without any effect, so only the bytes tell them apart.
    const std::pair<const char *, char> keys[] = {{"U", 0x00}, {"u", 0x01},   {"N", 0x02},
                                                  {"I", 0x04}, {"ENT", 0x05}, {"F", 0x06},
                                                  {"P", 0x08}, {"CE", 0x09},  {"I/O", 0x0C}};
    for (const auto &[name, code] : keys)
        QTest::newRow(name) << QStringList{"press", name} << 0 << ""
                            << QByteArray("\xEB\x90\xAA") + code;
    QTest::newRow("two keys") << QStringList{"press", "CE", "ENT"} << 0 << ""
                              << QByteArray("\xEB\x90\xAA\x09\xEB\x90\xAA\x05", 8);
    QTest::newRow("L") << QStringList{"press", "L"} << 2 << "sends nothing" << QByteArray();
    QTest::newRow("REM after U") << QStringList{"press", "U", "REM"} << 2 << "sends nothing"
                                 << QByteArray();
    QTest::newRow("lower case") << QStringList{"press", "ent"} << 2 << "no key" << QByteArray();
    QTest::newRow("no key") << QStringList{"press"} << 2 << "at least one" << QByteArray();
    QTest::newRow("256") << QStringList{"up", "256"} << 2 << "0 to 255" << QByteArray();
    QTest::newRow("255.5 rounds up")
        << QStringList{"up", "255.5"} << 2 << "0 to 255" << QByteArray();
    QTest::newRow("negative") << QStringList{"down", "-1"} << 2 << "0 to 255" << QByteArray();
    QTest::newRow("two numbers") << QStringList{"down", "1", "2"} << 2 << "exactly one"
                                 << QByteArray();
    QTest::newRow("watch's option")
        << QStringList{"up", "1", "--count", "2"} << 2 << "watch" << QByteArray();
    QTest::newRow("watch's reconnect")
        << QStringList{"press", "U", "--reconnect"} << 2 << "watch" << QByteArray();
    QTest::newRow("no port") << QStringList{"--port", "3", "press", "U"} << 2 << "1 or 2"
                             << QByteArray();
    QTest::newRow("bad format") << QStringList{"watch", "--format", "xml"} << 2 << "csv"
                                << QByteArray();
    QTest::newRow("bad metrics") << QStringList{"watch", "--metrics", "localhost:80"} << 2
                                 << "[ADDRESS:]PORT" << QByteArray();
    QTest::newRow("metrics port 65536")
        << QStringList{"watch", "--metrics", "65536"} << 2 << "[ADDRESS:]PORT" << QByteArray();
    QTest::newRow("unknown command")
        << QStringList{"ramp"} << 2 << "unknown command" << QByteArray();
    QTest::newRow("no device") << QStringList{"--device", "/nonexistent/tty", "press", "U"} << 1
                               << "no such device" << QByteArray();
    QTest::newRow("help") << QStringList{"--help"} << 0 << "" << QByteArray();
    QTest::newRow("help of up") << QStringList{"help", "up"} << 0 << "" << QByteArray();
}

void TestCli::wireBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QByteArray, wire);
    PtyPair line;
    QVERIFY(line.isValid());
    if (!arguments.join(' ').contains(QRegularExpression("--port|--device")))
        arguments.prepend("--device=" + line.slavePath());
    const Run run = cli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(run.out.startsWith("Usage: korvale-cli"), arguments.join(' ').contains("help"));
    // The tool drains before it ends: whatever it sent is there by now.
    QCOMPARE(line.readFor(50), wire);
}

void TestCli::logFollowsKeysAndNumbers()
{
    QVERIFY(m_supply.start({"--no-pace", "--period", "100", "--load", "100"}));
    QCOMPARE(cli({"press", "I/O", "I", "U"}).status, 0);
    QCOMPARE(cli({"up", " 5 "}).status, 0);
    auto row = watchCsv(3).value(2);
    // 17 V across 100 ohm, limited by the voltage setting.
    QCOMPARE(row.value("V"), QString("17.00"));
    QCOMPARE(row.value("A"), QString("0.170"));
    QCOMPARE(row.value("limit_V"), QString("17"));
    QCOMPARE(row.value("output"), QString("on"));
    QCOMPARE(row.value("blinking"), QString("U-const"));
    QCOMPARE(row.value("remote"), QString("1"));
    QVERIFY(QDateTime::fromString(row.value("time"), Qt::ISODateWithMs).isValid());

    // Fine steps are 10 mV; 2.5 rounds to the even 2.
    QCOMPARE(cli({"press", "F"}).status, 0);
    QCOMPARE(cli({"down", "2.5"}).status, 0);
    const Run run = cli({"watch", "--format", "jsonl", "--count", "3"});
    const QJsonObject json =
        QJsonDocument::fromJson(run.out.split('\n').value(2).toUtf8()).object();
    QCOMPARE(json.value("V").toString(), QString("16.98"));
    QCOMPARE(json.value("W").toString(), QString("002.9"));
    QCOMPARE(json.value("fine").toBool(false), true);
    QCOMPARE(json.value("overtemp").toBool(true), false);
    QCOMPARE(json.size(), 12);
}

void TestCli::silenceAndReturnAreLogged()
{
    QVERIFY(m_supply.start({"--no-pace", "--period", "100"}));
    QProcess watch;
    watch.start(KORVALE_CLI_EXECUTABLE, {"--device", m_supply.link(), "watch", "--format=jsonl"});
    QString out, err;
    auto stderrSays = [&](const char *text) {
        return QTest::qWaitFor([&] { return (err += watch.readAllStandardError()).contains(text); },
                               5000);
    };
    QTRY_VERIFY_WITH_TIMEOUT(watch.bytesAvailable() > 0, 3000);
    m_supply.signal(SIGSTOP);
    QVERIFY2(stderrSays("nothing heard from the supply for more than 2 s"), qPrintable(err));
    // Written out at once, not when a buffer happens to fill: nothing comes
    // after this line until the supply is back.
    QTRY_VERIFY((out += watch.readAllStandardOutput()).contains("link-lost"));
    m_supply.signal(SIGCONT);
    QVERIFY2(stderrSays("heard again"), qPrintable(err));
    QTest::qWait(500);
    ::kill(pid_t(watch.processId()), SIGTERM);
    QVERIFY(watch.waitForFinished(3000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);

    QStringList events;
    int frames = 0;
    for (const QString &line : (out + watch.readAllStandardOutput()).split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(!record.isEmpty() && record.contains("time"), qPrintable(line));
        if (record.contains("event"))
            events << QString("%1 %2").arg(record.value("event").toString()).arg(frames);
        else
            ++frames;
    }
    // Frames before the silence and after it, the events between them.
    QCOMPARE(events.size(), 2);
    QVERIFY2(events[0].startsWith("link-lost ") && events[1].startsWith("link-back "),
             qPrintable(events.join(',')));
    QVERIFY(events[0].section(' ', 1).toInt() > 0 && frames > events[1].section(' ', 1).toInt());
}

void TestCli::lostBytesAndBurstsAreNeverMisread_data()
{
    QTest::addColumn<QStringList>("faults");
    // Back to back: only the next sync pair can prove where a frame ends.
    QTest::newRow("network lumps")
        << QStringList{"--period", "250", "--lumps", "network", "--drop-every", "3"};
    // With gaps: the quiet line after a short frame must not pass for its end.
    QTest::newRow("gaps") << QStringList{"--period", "300", "--drop-every", "2"};
}

void TestCli::lostBytesAndBurstsAreNeverMisread()
{
    QFETCH(QStringList, faults);
    QVERIFY(m_supply.start(faults + QStringList{"--load", "100"}));
    QCOMPARE(cli({"press", "I/O"}).status, 0);
    const Run run = cli({"watch", "--no-header", "--count", "10"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString()); // a steady stream is no silence
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const QString row = line.section(',', 1);
        QVERIFY2(row == kOnRow || row == kOffRow, qPrintable(line));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
