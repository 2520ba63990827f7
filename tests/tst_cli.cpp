// SPDX-License-Identifier: MIT
// korvale-cli run as a process: what it sends and what it refuses on a line
// the test reads, and the rows watch prints from the simulated supply. The
// log over losses and silences is tst_logger's; frames through lumps and lost
// bytes are the line service's, which watch reads through (tst_link).
#include "ptypair.h"
#include "simsupply.h"

#include <QtTest>

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void wireBytes_data();
    void wireBytes();
    void watchRows();

private:
    SimSupply m_supply;
};

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
    // Numbers are read as the window's box reads them.
    QTest::newRow("up") << QStringList{"up", " 5 "} << 0 << "" << QByteArray("\xEB\x90\x55\x05");
    QTest::newRow("down") << QStringList{"down", "2.5"} << 0 << ""
                          << QByteArray("\xEB\x90\xCC\x02");
    // Usage errors: nothing is sent.
    const auto refused = [](const char *name, const QStringList &arguments, const char *said) {
        QTest::newRow(name) << arguments << 2 << QString(said) << QByteArray();
    };
    refused("L", {"press", "L"}, "L has no key code");
    refused("REM after U", {"press", "U", "REM"}, "REM has no key code");
    refused("lower case", {"press", "ent"}, "no key");
    refused("no key", {"press"}, "at least one");
    refused("256", {"up", "256"}, "0 to 255");
    refused("two numbers", {"down", "1", "2"}, "exactly one");
    refused("watch's option", {"up", "1", "--count", "2"}, "watch");
    refused("twice", {"--count", "1", "watch", "--count=2"}, "--count is given twice");
    refused("no port", {"--port", "3", "press", "U"}, "1 or 2");
    refused("bad format", {"watch", "--format", "xml"}, "csv");
    refused("bad metrics", {"watch", "--metrics", "localhost:80"}, "[ADDRESS:]PORT");
    refused("metrics port 65536", {"watch", "--metrics", "65536"}, "[ADDRESS:]PORT");
    refused("bad scpi", {"serve", "--scpi", "5025x"}, "--scpi needs [ADDRESS:]PORT");
    refused("announce without scpi", {"serve", "--no-announce"}, "needs --scpi");
    refused("unknown command", {"ramp"}, "unknown command");
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
    // On this line, unless the arguments name another.
    if (!arguments.join(' ').contains(QRegularExpression("--port|--device")))
        arguments.prepend("--device=" + line.slavePath());
    const CliRun run = runCli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(run.out.startsWith("Usage: korvale-cli"), arguments.join(' ').contains("help"));
    // All it sent, and no more, comes before a mark written once it ended.
    const int slave = ::open(line.slavePathBytes().constData(), O_WRONLY | O_NOCTTY);
    QVERIFY(slave >= 0 && ::write(slave, "end.", 4) == 4);
    ::close(slave);
    QCOMPARE(line.readExactly(wire.size() + 4, 10000), wire + "end.");
}

void TestCli::watchRows()
{
    // The simulated supply at its start, in CSV after the header: leading
    // zeros kept, flags as 0 and 1; --count rows, no more; and three seconds
    // of a steady stream are no silence.
    QVERIFY(m_supply.start({"--no-pace", "--period", "100"}));
    const CliRun run = runCli({"--device", m_supply.link(), "watch", "--count", "30"});
    const QStringList rows = run.out.split('\n');
    QCOMPARE(rows.size(), 32); // the header, thirty rows, the last line's end
    QVERIFY(rows[0].startsWith("time,V,A,W,"));
    QCOMPARE(rows[2].section(',', 1), "00.00,0.000,000.0,12.00,1.000,100.0,0,off,0,none,0");
    QCOMPARE(run.err, QString());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
