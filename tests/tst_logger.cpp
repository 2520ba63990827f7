// SPDX-License-Identifier: MIT
// korvale-cli watch left running: through device losses, scraped by a real
// Prometheus, and logging one line that an operator uses at the same time
// through the real ser2net.
#include "nettools.h"
#include "simsupply.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// The simulated supply's state before any key, as JSON values without the
// time: any other row is a misread frame.
const QString kOffRow = "00.00,0.000,000.0,12,1.00,100,false,off,false,none,false";
// After "I/O" with the default 10 ohm load: 10 V, current-limited.
const QString kOnRow = "10.00,1.000,010.0,12,1.00,100,true,on,false,I-const,false";

QString withoutTime(const QJsonObject &row)
{
    QStringList values;
    for (const char *name : {"V", "A", "W", "limit_V", "limit_A", "limit_W", "remote", "output",
                             "overtemp", "blinking", "fine"})
        values << row.value(name).toVariant().toString();
    return values.join(',');
}

struct Reply
{
    int status = 0;
    QByteArray body;
};

Reply get(const QString &url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// A value of a series in a scrape, or empty.
QString sampleOf(const QByteArray &scrape, const QString &name)
{
    const QRegularExpression line("^" + name + "\\{[^}]*\\} (\\S+)$",
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(scrape)).captured(1);
}

// korvale-cli watch as a process, its JSON lines gathered as they come.
class Logger
{
public:
    explicit Logger(const QStringList &arguments)
    {
        m_process.start(KORVALE_CLI_EXECUTABLE, arguments);
    }
    ~Logger()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    QList<QJsonObject> records()
    {
        m_out += m_process.readAllStandardOutput();
        QList<QJsonObject> list;
        for (const QByteArray &line : m_out.left(m_out.lastIndexOf('\n')).split('\n'))
            list << QJsonDocument::fromJson(line).object();
        return list;
    }
    QList<QJsonObject> rows()
    {
        QList<QJsonObject> list = records();
        list.removeIf([](const QJsonObject &r) { return r.contains("event") || r.isEmpty(); });
        return list;
    }
    // True once the `n`th event of this name is followed by a row.
    bool rowAfter(const QString &event, int n)
    {
        for (const QJsonObject &record : records()) {
            if (record.value("event") == event)
                --n;
            else if (n <= 0 && !record.contains("event"))
                return true;
        }
        return false;
    }
    int count(const QString &event)
    {
        const auto list = records();
        return int(std::count_if(list.begin(), list.end(),
                                 [&](const QJsonObject &r) { return r.value("event") == event; }));
    }
    QString err()
    {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }
    int openDescriptors() const
    {
        return int(QDir(QString("/proc/%1/fd").arg(m_process.processId()))
                       .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                       .size());
    }
    // SIGTERM, as systemd stops it; the exit status, or -1 for a crash.
    int stop()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(5000))
            return -1;
        records();
        err();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    QProcess m_process;
    QByteArray m_out;
    QString m_err;
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private slots:
    void thirtyLossesOnRecord();
    void prometheusScrapesIt();
    void operatorAndLoggerShareOneLine();

private:
    SimSupply m_supply;
};

void TestLogger::thirtyLossesOnRecord()
{
    constexpr int kLosses = 30;
    Logger logger({"--device", m_supply.link(), "watch", "--reconnect", "--format=jsonl"});
    // Missing at the start as well: a few failed tries, said once.
    QTRY_VERIFY(logger.count("device-lost") == 1);
    QTest::qWait(2500);
    int descriptors = -1;
    for (int back = 1; back <= kLosses + 1; ++back) {
        // Paced back to back, so that most losses cut a frame in two.
        QVERIFY(m_supply.start({"--period", "250"}));
        QVERIFY2(QTest::qWaitFor([&] { return logger.rowAfter("device-back", back); }, 5000),
                 qPrintable(logger.err()));
        if (back == 2)
            descriptors = logger.openDescriptors();
        if (back > kLosses)
            break;
        m_supply.stop();
        QTRY_COMPARE(logger.count("device-lost"), back + 1);
    }
    QCOMPARE(logger.openDescriptors(), descriptors);
    QCOMPARE(logger.stop(), 0);

    // Every gap on record once, with its time and reason, and every row right.
    QString sequence;
    for (const QJsonObject &record : logger.records()) {
        QVERIFY(
            QDateTime::fromString(record.value("time").toString(), Qt::ISODateWithMs).isValid());
        const QString event = record.value("event").toString();
        if (event == "device-lost" && !record.value("reason").toString().isEmpty())
            sequence += 'L';
        else if (event == "device-back")
            sequence += 'B';
        else if (!event.isEmpty() || withoutTime(record) != kOffRow)
            sequence += '?';
        else if (!sequence.endsWith('r'))
            sequence += 'r';
    }
    QCOMPARE(sequence, QString("LBr").repeated(kLosses + 1));
    const QStringList said = logger.err().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(said.filter("went away").size(), kLosses);
    QCOMPARE(said.filter("is back").size(), kLosses + 1);
    for (qsizetype i = 1; i < said.size(); ++i)
        QVERIFY2(said[i] != said[i - 1], qPrintable(said[i]));
}

void TestLogger::prometheusScrapesIt()
{
    const QString prometheus = debianTool("prometheus");
    const QString promtool = debianTool("promtool");
    QVERIFY2(!prometheus.isEmpty() && !promtool.isEmpty(),
             "prometheus and promtool are needed; scripts/install-deps installs them");
    QVERIFY(m_supply.start({"--no-pace", "--period", "100"}));
    QCOMPARE(
        QProcess::execute(KORVALE_CLI_EXECUTABLE, {"--device", m_supply.link(), "press", "I/O"}),
        0);
    const quint16 port = freeLoopbackPort();
    const QString metrics = QString("http://127.0.0.1:%1/metrics").arg(port);
    Logger logger({"--device", m_supply.link(), "watch", "--format=jsonl", "--metrics",
                   QString::number(port)});
    QTRY_VERIFY(!logger.rows().isEmpty());

    Reply scrape = get(metrics);
    QCOMPARE(scrape.status, 200);
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    check.write(scrape.body);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished());
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());

    QTemporaryDir dir;
    QFile config(dir.filePath("prometheus.yml"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QString("global: {scrape_interval: 200ms, scrape_timeout: 150ms}\n"
                         "scrape_configs:\n  - job_name: supply\n"
                         "    static_configs: [{targets: ['127.0.0.1:%1']}]\n")
                     .arg(port)
                     .toUtf8());
    config.close();
    const quint16 web = freeLoopbackPort();
    QProcess server;
    server.start(prometheus,
                 {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("db"),
                  QString("--web.listen-address=127.0.0.1:%1").arg(web)});
    auto query = [web](const QString &expression) {
        const QJsonArray result =
            QJsonDocument::fromJson(
                get(QString("http://127.0.0.1:%1/api/v1/query?query=%2").arg(web).arg(expression))
                    .body)["data"]["result"]
                .toArray();
        return result.isEmpty() ? QString() : result[0]["value"][1].toString();
    };
    // Each series names its line, so that loggers can be scraped side by side.
    const QString up = QString("korvale_up{device=\"%1\"}").arg(m_supply.link());
    QTRY_COMPARE_WITH_TIMEOUT(query(up), QString("1"), 20000);
    // "I/O" with the default 10 ohm load: 10 V, current-limited.
    QCOMPARE(query("korvale_output_voltage_volts"), QString("10"));
    QCOMPARE(query("korvale_constant_mode{mode=\"I-const\"}"), QString("1"));

    // Scrapes gone wrong never hold up the log: a wrong path, a client that
    // never ends its request, and many at once.
    QCOMPARE(get(metrics + "x").status, 404);
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(slow.waitForConnected());
    slow.write("GET /metrics HTTP/1.1\r\nHost: x\r\n");
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 50; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, port);
        crowd.back()->write("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    }
    const qsizetype rows = logger.rows().size();
    QTRY_VERIFY(logger.rows().size() >= rows + 10);
    for (const auto &client : crowd)
        QTRY_VERIFY(client->peek(20).startsWith("HTTP/1.1 200"));

    // Fallen silent: up is 0 and no reading passes for a current one.
    m_supply.signal(SIGSTOP);
    QTRY_COMPARE_WITH_TIMEOUT(sampleOf(get(metrics).body, "korvale_up"), QString("0"), 6000);
    scrape = get(metrics);
    QVERIFY(!scrape.body.contains("korvale_output_voltage_volts"));
    // The scrape and the log agree on every frame.
    const QList<QJsonObject> logged = logger.rows();
    QCOMPARE(sampleOf(scrape.body, "korvale_frames_total").toLongLong(), logged.size());
    QCOMPARE(sampleOf(scrape.body, "korvale_last_frame_timestamp_seconds").toDouble() * 1000,
             double(QDateTime::fromString(logged.last()["time"].toString(), Qt::ISODateWithMs)
                        .toMSecsSinceEpoch()));
    QTRY_COMPARE_WITH_TIMEOUT(query(up), QString("0"), 10000);
    QTRY_COMPARE(query("korvale_output_voltage_volts"), QString());
    m_supply.signal(SIGCONT);
    server.terminate();
    server.waitForFinished();
    QCOMPARE(logger.stop(), 0);
}

void TestLogger::operatorAndLoggerShareOneLine()
{
    QVERIFY(m_supply.start({"--period", "250"}));
    SupplyOverNetwork network;
    QVERIFY2(network.start(m_supply.link(), "max-connections: 2"),
             "ser2net and socat are needed; scripts/install-deps installs both");
    // The logger's end connects only once the logger holds it, so that no
    // frame passes before anybody logs.
    const QString logEnd = network.end("log", true);
    QVERIFY(!logEnd.isEmpty());
    Logger logger({"--device", logEnd, "watch", "--reconnect", "--format=jsonl"});
    QTRY_VERIFY(logger.rows().size() >= 2);
    // The operator's end, where the panel would be: a press reaches the supply.
    const QString panelEnd = network.end("panel");
    QVERIFY(!panelEnd.isEmpty());
    QCOMPARE(QProcess::execute(KORVALE_CLI_EXECUTABLE, {"--device", panelEnd, "press", "I/O"}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(logger.rows().last()["output"] == "on", 3000);
    const qsizetype pressedAt = logger.rows().size();
    QTRY_VERIFY(logger.rows().size() >= pressedAt + 4);
    m_supply.stop();
    QTest::qWait(1000); // the last frame on its way through
    QCOMPARE(logger.stop(), 0);

    // Every frame the supply sent once somebody listened is logged, right:
    // all but the one cut by ser2net's opening, if it was cut.
    const QString sent = m_supply.process().readAllStandardError();
    const QRegularExpressionMatch counts =
        QRegularExpression("sent (\\d+) whole blocks, (\\d+) bytes").match(sent);
    QVERIFY2(counts.hasMatch(), qPrintable(sent));
    const qsizetype expected = counts.captured(1).toInt() - counts.captured(2).toInt() / 30;
    QString states;
    for (const QJsonObject &row : logger.rows()) {
        const QString state = withoutTime(row) == kOffRow  ? "off"
                              : withoutTime(row) == kOnRow ? "on"
                                                           : withoutTime(row);
        if (!states.endsWith(state))
            states += ' ' + state;
    }
    QCOMPARE(states, QString(" off on"));
    const qsizetype logged = logger.rows().size();
    QVERIFY2(logged == expected || logged == expected - 1,
             qPrintable(QString("%1 logged, %2 sent").arg(logged).arg(expected)));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
