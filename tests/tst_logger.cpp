// SPDX-License-Identifier: MIT
// korvale-cli watch left running: through device losses and silences, and
// scraped by a real Prometheus while it logs one line that an operator uses
// at the same time through the real ser2net.
#include "nettools.h"
#include "protocol/statusframe.h"
#include "ptypair.h"
#include "simsupply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/inotify.h>

namespace {

// The simulated supply before any key, and after "I/O" with its 10 ohm load
// (10 V, current-limited); as JSON values without the time.
const QString kOffRow = "00.00,0.000,000.0,12.00,1.000,100.0,false,off,false,none,false";
const QString kOnRow = "10.00,1.000,010.0,12.00,1.000,100.0,true,on,false,I-const,false";

struct Reply
{
    int status = 0;
    QByteArray body;
};

Reply get(const QString &url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 20000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// The value of a series in a scrape, or empty.
QString sampleOf(const QByteArray &scrape, const QString &name)
{
    return QRegularExpression("^" + name + "\\{[^}]*\\} (\\S+)$",
                              QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(scrape))
        .captured(1);
}

// korvale-cli watch --format jsonl as a process, its lines gathered as they come.
class Logger : public QProcess
{
public:
    explicit Logger(const QStringList &arguments)
    {
        start(KORVALE_CLI_EXECUTABLE, arguments + QStringList{"--format=jsonl"});
    }
    ~Logger() override { kill(), waitForFinished(); }

    QList<QJsonObject> rows(bool withEvents = false)
    {
        m_out += readAllStandardOutput();
        QList<QJsonObject> list;
        for (const QByteArray &line : m_out.left(m_out.lastIndexOf('\n')).split('\n')) {
            if (const QJsonObject r = QJsonDocument::fromJson(line).object();
                !r.isEmpty() && (withEvents || !r.contains("event")))
                list << r;
        }
        return list;
    }
    // The log in short: L a loss with its reason, B a return, S a silence, H
    // the supply heard again, r a run of rows off, o a run of rows on, ?
    // anything else.
    QString summary()
    {
        QString letters;
        for (const QJsonObject &r : rows(true)) {
            QStringList values;
            for (const char *name : {"V", "A", "W", "limit_V", "limit_A", "limit_W", "remote",
                                     "output", "overtemp", "blinking", "fine"})
                values << r.value(name).toVariant().toString();
            const QChar letter = r["event"] == "device-back" ? 'B'
                                 : r["event"] == "device-lost" && !r["reason"].toString().isEmpty()
                                     ? 'L'
                                 : r["event"] == "link-lost"   ? 'S'
                                 : r["event"] == "link-back"   ? 'H'
                                 : values.join(',') == kOffRow ? 'r'
                                 : values.join(',') == kOnRow  ? 'o'
                                                               : '?';
            if (!letters.endsWith(letter) || letter.isUpper())
                letters += letter;
        }
        return letters;
    }
    QString err() { return m_err += readAllStandardError(); }
    int descriptors() const { return openFiles(processId()); }
    // SIGTERM, as systemd stops it: the exit status, or -1 for a crash.
    int stop()
    {
        ::kill(pid_t(processId()), SIGTERM);
        return waitForFinished() && exitStatus() == NormalExit ? exitCode() : -1;
    }

private:
    QByteArray m_out;
    QString m_err;
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private slots:
    void thirtyLossesOnRecord();
    void noRowAcrossAGap();
    void prometheusScrapesIt();

private:
    SimSupply m_supply;
};

void TestLogger::thirtyLossesOnRecord()
{
    constexpr int kLosses = 30;
    // No device at the start either: a few failed tries, said once. Each try
    // opens (and refuses) a plain file in its place, which the test counts.
    QVERIFY(QFile(m_supply.link()).open(QIODevice::WriteOnly));
    const int tries = ::inotify_init1(IN_NONBLOCK);
    QVERIFY(::inotify_add_watch(tries, qPrintable(m_supply.link()), IN_OPEN) >= 0);
    Logger logger({"--device", m_supply.link(), "watch", "--reconnect"});
    inotify_event opens[3]; // one per try
    const auto tried = [&, got = ssize_t(0)]() mutable {
        return (got += std::max<ssize_t>(::read(tries, opens, sizeof opens), 0)) >=
               ssize_t(sizeof opens);
    };
    QVERIFY(QTest::qWaitFor(tried, 20000));
    ::close(tries);
    QVERIFY(QFile::remove(m_supply.link()));
    int descriptors = -1;
    for (int back = 1; back <= kLosses + 1; ++back) {
        // Paced back to back, so that most losses cut a frame in two.
        QVERIFY(m_supply.start({"--period", "250"}));
        QTRY_VERIFY_WITH_TIMEOUT(
            logger.summary().endsWith("Br") && logger.summary().count('B') == back, 20000);
        descriptors = back == 2 ? logger.descriptors() : descriptors;
        if (back <= kLosses)
            m_supply.stop();
        QTRY_COMPARE_WITH_TIMEOUT(logger.summary().count('L'), std::min(back + 1, kLosses + 1),
                                  20000);
    }
    QCOMPARE(logger.descriptors(), descriptors);
    QCOMPARE(logger.stop(), 0);
    // Every gap on record once, every row right.
    QCOMPARE(logger.summary(), QString("LBr").repeated(kLosses + 1));
    const QStringList said = logger.err().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(said.filter("went away").size(), kLosses);
    QCOMPARE(said.filter("is back").size(), kLosses + 1);
    for (qsizetype i = 1; i < said.size(); ++i)
        QVERIFY2(said[i] != said[i - 1], qPrintable(said[i]));
}

void TestLogger::noRowAcrossAGap()
{
    // The test plays two supplies in turn behind one name: the device goes
    // away 12 bytes into a frame and comes back 12 bytes into another, so the
    // two parts would make 30 bytes that a sync pair follows.
    auto frame = [](std::uint16_t n) {
        const auto bytes = korvale::encodeStatusFrame({n, n, n, n, n, n, 0x70});
        return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    };
    const QByteArray before = frame(1111), after = frame(2222);
    // Started first, so that it holds no copy of the lines' descriptors.
    QTemporaryDir dir;
    Logger logger({"--device", dir.filePath("supply"), "watch", "--reconnect"});
    QTRY_COMPARE_WITH_TIMEOUT(logger.summary(), QString("L"), 20000);
    auto line = std::make_unique<PtyPair>();
    QVERIFY(QFile::link(line->slavePath(), dir.filePath("supply")));
    QTRY_VERIFY_WITH_TIMEOUT(logger.summary().endsWith('B'), 20000);
    QVERIFY(line->write(before)); // ended by the quiet line: nothing held
    QTRY_COMPARE_WITH_TIMEOUT(logger.rows().size(), 1, 20000);
    // One take that ends 12 bytes into a frame, as after a start mid-stream
    // (the logger held until all are there); the device goes before quiet.
    ::kill(pid_t(logger.processId()), SIGSTOP);
    QVERIFY(line->write(before.mid(12) + before.left(12)));
    const int slave = ::open(line->slavePathBytes().constData(), O_RDONLY | O_NOCTTY);
    const auto arrived = [&, n = 0]() mutable {
        return ::ioctl(slave, FIONREAD, &n) == 0 && n == before.size();
    };
    QVERIFY(QTest::qWaitFor(arrived, 10000));
    ::close(slave);
    ::kill(pid_t(logger.processId()), SIGCONT);
    QVERIFY(line->playedBytesTaken(10000));
    line = std::make_unique<PtyPair>();
    QVERIFY(QFile::remove(dir.filePath("supply")) &&
            QFile::link(line->slavePath(), dir.filePath("supply")));
    QTRY_VERIFY_WITH_TIMEOUT(logger.summary().endsWith('B'), 20000);
    // The last of these ends only with the quiet line.
    line->write(after.mid(12) + after + after);
    QTRY_COMPARE_WITH_TIMEOUT(logger.rows().size(), 3, 20000);
    QSet<QString> rows;
    for (QJsonObject row : logger.rows())
        row.remove("time"), rows << QJsonDocument(row).toJson();
    QCOMPARE(rows.size(), 2);
}

void TestLogger::prometheusScrapesIt()
{
    const QString prometheus = debianTool("prometheus"), promtool = debianTool("promtool");
    QVERIFY2(!prometheus.isEmpty() && !promtool.isEmpty(),
             "scripts/install-deps installs prometheus");
    // The logger shares the line through ser2net with an operator, whose
    // press reaches the supply meanwhile.
    QVERIFY(m_supply.start({"--no-pace", "--period", "100"}));
    Ser2net ser2net;
    QVERIFY2(ser2net.start(m_supply.link(), "max-connections: 2"),
             "scripts/install-deps installs ser2net");
    const QString line = QString("socket://127.0.0.1:%1").arg(ser2net.port());
    Logger logger({"--device", line, "watch", "--metrics", "0"});
    QTRY_VERIFY_WITH_TIMEOUT(logger.err().endsWith("/metrics\n") && logger.summary() == "r", 20000);
    const QString metrics = logger.err().section("metrics on ", 1).trimmed();
    const quint16 port = QUrl(metrics).port();
    QCOMPARE(QProcess::execute(KORVALE_CLI_EXECUTABLE, {"--device", line, "press", "I/O"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(logger.summary().endsWith('o'), 20000);
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    check.write(get(metrics).body);
    check.closeWriteChannel();
    QVERIFY2(check.waitForFinished() && check.exitCode() == 0,
             check.readAllStandardError().constData());

    QTemporaryDir dir;
    QFile config(dir.filePath("prometheus.yml"));
    QVERIFY(config.open(QIODevice::WriteOnly) &&
            config.write(QString("global: {scrape_interval: 200ms, scrape_timeout: 150ms}\n"
                                 "scrape_configs: [{job_name: supply, static_configs: "
                                 "[{targets: ['127.0.0.1:%1']}]}]\n")
                             .arg(port)
                             .toUtf8()) > 0);
    config.close();
    QProcess server;
    server.start(prometheus,
                 {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("db"),
                  "--web.listen-address=127.0.0.1:0"});
    quint16 web = 0;
    QTRY_VERIFY_WITH_TIMEOUT((web = listeningPort(server.processId())) != 0, 30000);
    auto query = [web](const QString &expression) {
        const QByteArray answer =
            get(QString("http://127.0.0.1:%1/api/v1/query?query=%2").arg(web).arg(expression)).body;
        return QJsonDocument::fromJson(answer)["data"]["result"][0]["value"][1].toString();
    };
    // Each series names its line, so that loggers can be scraped side by side.
    const QString up = QString("korvale_up{device=\"%1\"}").arg(line);
    QTRY_COMPARE_WITH_TIMEOUT(query(up), QString("1"), 20000);
    QCOMPARE(query("korvale_output_voltage_volts"), QString("10"));
    QCOMPARE(query("korvale_constant_mode{mode=\"I-const\"}"), QString("1"));

    // Scrapes gone wrong never hold up the log: a wrong path, a client that
    // never ends its request, and many at once.
    QCOMPARE(get(metrics + "x").status, 404);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, port);
        clients.back()->write(i < 25 ? "GET /metrics HTTP/1.1\r\nHost: x\r\n"
                                     : "GET /metrics HTTP/1.0\r\n\r\n");
    }
    const qsizetype rows = logger.rows().size();
    QTRY_VERIFY_WITH_TIMEOUT(logger.rows().size() >= rows + 10, 20000);
    for (std::size_t i = 25; i < clients.size(); ++i)
        QTRY_VERIFY_WITH_TIMEOUT(clients[i]->peek(20).startsWith("HTTP/1.1 200"), 20000);

    // Fallen silent: up is 0, and no reading passes for a current one.
    m_supply.signal(SIGSTOP);
    QTRY_COMPARE_WITH_TIMEOUT(sampleOf(get(metrics).body, "korvale_up"), QString("0"), 20000);
    const QByteArray scrape = get(metrics).body;
    QVERIFY(!scrape.contains("korvale_output_voltage_volts"));
    // The log says so at once, not when a buffer fills, and agrees with the
    // scrape on every frame.
    QTRY_VERIFY_WITH_TIMEOUT(logger.summary().endsWith("oS"), 20000);
    const QList<QJsonObject> logged = logger.rows();
    QCOMPARE(sampleOf(scrape, "korvale_frames_total").toLongLong(), logged.size());
    QCOMPARE(sampleOf(scrape, "korvale_last_frame_timestamp_seconds").toDouble() * 1000,
             double(QDateTime::fromString(logged.last()["time"].toString(), Qt::ISODateWithMs)
                        .toMSecsSinceEpoch()));
    QTRY_COMPARE_WITH_TIMEOUT(query(up), QString("0"), 20000);
    m_supply.signal(SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(logger.summary().endsWith("oSHo"), 20000);
    QVERIFY2(logger.err().contains("nothing heard from the supply for more than 2 s\n") &&
                 logger.err().contains("heard again\n"),
             qPrintable(logger.err()));
    server.terminate();
    server.waitForFinished();
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
