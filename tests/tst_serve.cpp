// SPDX-License-Identifier: MIT
// korvale-cli serve as a process against the simulated supply, with pages as
// WebSocket clients: the bytes their keys put on the line, what is refused,
// the bounds that keep one page from harming the others, and the panel and
// the log as the line goes and comes back.
#include "simsupply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

#include <memory>

namespace {

// One page on the live channel, its messages gathered as they come.
class Page
{
public:
    explicit Page(const QUrl &url, const QString &origin = {}) : m_socket(origin)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &m) {
            messages << QJsonDocument::fromJson(m.toUtf8()).object();
        });
        m_socket.open(url);
    }
    // Waits for the hello, or for the refusal.
    bool opened()
    {
        return QTest::qWaitFor([this] { return !messages.isEmpty() || closed(); }, 10000) &&
               !messages.isEmpty() && messages.first()["type"] == "hello";
    }
    bool closed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    QWebSocket &socket() { return m_socket; }

    void send(const QString &text) { m_socket.sendTextMessage(text); }
    // The first message from `from` on that `wanted` accepts, once it came.
    QJsonObject await(const std::function<bool(const QJsonObject &)> &wanted, qsizetype from = 0)
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (qsizetype i = from; i < messages.size() && found.isEmpty(); ++i)
                    found = wanted(messages[i]) ? messages[i] : found;
                return !found.isEmpty();
            },
            10000);
        return found;
    }
    QJsonObject reply(qint64 id)
    {
        return await([id](const QJsonObject &m) {
            return m["type"] == "reply" && m["id"].toInteger() == id;
        });
    }
    bool panel(const std::function<bool(const QJsonObject &)> &wanted, qsizetype from = 0)
    {
        return !await([&](const QJsonObject &m) { return m["type"] == "panel" && wanted(m); }, from)
                    .isEmpty();
    }

    QList<QJsonObject> messages;

private:
    QWebSocket m_socket;
};

bool hides(const QJsonObject &panel, const QString &control)
{
    return panel["hidden"].toArray().contains(control);
}

} // namespace

class TestServe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void churnAndStalledReaderSpareTheOthers();
    void keysReachTheLineOnceInOrderAtABoundedRate();
    void refusedPagesAndMessages();
    void panelFollowsTheLine();

private:
    QUrl url(const QString &path, bool token = true) const;
    QStringList commandLog();
    int openFiles() const { return ::openFiles(m_serve.processId()); }

    qint64 residentKiB() const
    {
        const QByteArray status =
            fileBytes(QStringLiteral("/proc/%1/status").arg(m_serve.processId()));
        return QRegularExpression("VmRSS:\\s*(\\d+)")
            .match(QString::fromLatin1(status))
            .captured(1)
            .toLongLong();
    }

    SimSupply m_supply;
    QTemporaryDir m_dir;
    QProcess m_serve;
    quint16 m_port = 0;
    QString m_token;
};

void TestServe::initTestCase()
{
    QVERIFY(m_supply.start({"--numbered", "--no-pace", "--period", "100", "--command-log",
                            m_dir.filePath("commands")}));
    m_serve.start(KORVALE_CLI_EXECUTABLE,
                  {"--device", m_supply.link(), "serve", "--http", "0", "--output",
                   m_dir.filePath("log.jsonl"), "--format", "jsonl"});
    QVERIFY(QTest::qWaitFor([this] { return m_serve.canReadLine(); }, 10000));
    const QRegularExpressionMatch printed =
        QRegularExpression("^panel on http://127\\.0\\.0\\.1:(\\d+)/\\?token=([0-9a-f]{32})\\n$")
            .match(QString::fromUtf8(m_serve.readLine()));
    QVERIFY(printed.hasMatch());
    m_port = quint16(printed.captured(1).toUInt());
    m_token = printed.captured(2);
}

void TestServe::cleanupTestCase()
{
    // Keys told as sent reach the line even when the server stops at once.
    Page page(url("/live"));
    QVERIFY(page.opened());
    const qsizetype before = commandLog().size();
    for (int id = 1; id <= 4; ++id)
        page.send(QString::number(id) + " Command12 1");
    for (int id = 1; id <= 4; ++id)
        QCOMPARE(page.reply(id)["sent"], true);
    m_serve.terminate();
    QVERIFY(m_serve.waitForFinished(10000));
    QCOMPARE(m_serve.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(commandLog().size(), before + 4, 10000);
}

QUrl TestServe::url(const QString &path, bool token) const
{
    QUrl url(QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(path));
    if (token)
        url.setQuery("token=" + m_token);
    return url;
}

QStringList TestServe::commandLog()
{
    return QString::fromLatin1(fileBytes(m_dir.filePath("commands")))
        .split('\n', Qt::SkipEmptyParts);
}

void TestServe::keysReachTheLineOnceInOrderAtABoundedRate()
{
    Page page(url("/live"));
    QVERIFY(page.opened());
    QCOMPARE(page.messages.first()["control"], true);
    Page watcher(url("/live", false));
    QVERIFY(watcher.opened());
    QCOMPARE(watcher.messages.first()["control"], false);

    struct Row
    {
        QString request;
        QString bytes; // on the line, or why it was refused
    };
    const QList<Row> rows = {
        {"1 Command10", "eb 90 aa 0c"},
        {"2 Command12 12.5", "eb 90 55 0c"},
        {"3 Command13  7 ", "eb 90 cc 07"},
        // The keypad's own refusals (all in tst_protocol) come back as said.
        {"4 Command13 abc", "'abc' is not a number from 0 to 255"},
        {"8 Command14", "The control is one of Command1 to Command13."},
        {"9 Command1 x", "Only the arrows (Command12, Command13) take a text."},
        {"12 Command13 \t7", "A request is plain printable ASCII."},
        {"x Command1", "A request starts with its number from 1 to 4294967295 and a space."},
        // I/O again: the output is off as before.
        {"4294967295 Command10", "eb 90 aa 0c"},
    };
    const int before = int(commandLog().size());
    QStringList sent;
    for (const Row &row : rows) {
        page.send(row.request);
        const QJsonObject reply = page.reply(row.request.section(' ', 0, 0).toLongLong());
        QVERIFY2(!reply.isEmpty(), qPrintable(row.request));
        QCOMPARE(reply["sent"].toBool(), row.bytes.startsWith("eb 90"));
        if (reply["sent"].toBool())
            sent << row.bytes;
        else
            QCOMPARE(reply["why"].toString(), row.bytes);
    }
    watcher.send("1 Command5");
    QCOMPARE(watcher.reply(1)["sent"], false);
    QVERIFY(QTest::qWaitFor([&] { return commandLog().size() >= before + sent.size(); }, 10000));
    QCOMPARE(commandLog().mid(before), sent);

    // A flood: the line gets what was replied sent, no more.
    const int flooded = int(commandLog().size());
    for (int id = 100; id < 200; ++id)
        page.send(QString::number(id) + " Command12 0");
    int passed = 0;
    int tooMany = 0;
    for (int id = 100; id < 200; ++id) {
        const QJsonObject reply = page.reply(id);
        QVERIFY(!reply.isEmpty());
        passed += reply["sent"].toBool();
        tooMany += reply["why"].toString().startsWith("Too many keys");
    }
    QVERIFY(tooMany > 0);
    // The bucket fills again: a key sent after one of the next frames (the
    // simulator sends one every 100 ms) goes through.
    for (int id = 200;; ++id) {
        QVERIFY(id < 250 &&
                page.panel([](const QJsonObject &) { return true; }, page.messages.size()));
        page.send(QString::number(id) + " Command12 0");
        const QJsonObject reply = page.reply(id);
        QVERIFY(!reply.isEmpty());
        passed += reply["sent"].toBool();
        if (reply["sent"].toBool())
            break;
    }
    QVERIFY(QTest::qWaitFor([&] { return commandLog().size() >= flooded + passed; }, 10000));
    QCOMPARE(commandLog().size(), flooded + passed);
}

void TestServe::refusedPagesAndMessages()
{
    Page foreign(url("/live"), QStringLiteral("http://elsewhere.example:%1").arg(m_port));
    QVERIFY(!foreign.opened());
    Page own(url("/live"), QStringLiteral("http://127.0.0.1:%1").arg(m_port));
    QVERIFY(own.opened());
    Page nowhere(url("/other"));
    QVERIFY(!nowhere.opened());

    // Each offence closes its own socket with its code, and no other.
    for (const auto &[offence, code] :
         {std::pair{0, QWebSocketProtocol::CloseCodeTooMuchData},
          std::pair{1, QWebSocketProtocol::CloseCodeDatatypeNotSupported}}) {
        Page offender(url("/live"));
        QVERIFY(offender.opened());
        if (offence == 0)
            offender.send("1 Command12 " + QString(117, u'1'));
        else
            offender.socket().sendBinaryMessage("1 Command5");
        QVERIFY(QTest::qWaitFor([&] { return offender.closed(); }, 10000));
        QCOMPARE(offender.socket().closeCode(), code);
        // 128 bytes exactly are still read.
        own.send(QString::number(10 + offence) + " Command12 " + QString(115, u'1'));
        QCOMPARE(own.reply(10 + offence)["why"], "The number box's text is at most 64 bytes.");
    }
}

void TestServe::churnAndStalledReaderSpareTheOthers()
{
    Page steady(url("/live", false));
    QVERIFY(steady.opened());
    const int files = openFiles();

    // Round after round: the heap settles within a few, while a page kept
    // after its close would add over a megabyte each time. AddressSanitizer
    // holds freed memory back, so there only one round runs.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kRounds = 1;
#else
    constexpr int kRounds = 12;
#endif
    qint64 settled = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<Page>> churn;
        for (int i = 0; i < 256; ++i)
            churn.push_back(std::make_unique<Page>(url("/live", i % 2 == 0)));
        // With the steady page that is one too many: one is told to come back.
        int opened = 0;
        for (const auto &page : churn)
            opened += page->opened() ? 1 : page->socket().closeCode() == 1008 ? 1000 : 0;
        QCOMPARE(opened, 1255);
        for (std::size_t i = 0; i < churn.size(); ++i)
            i % 2 ? churn[i]->socket().abort() : churn[i]->socket().close();
        churn.clear();
        QVERIFY(QTest::qWaitFor([&] { return openFiles() == files; }, 20000));
        if (round == 7)
            settled = residentKiB();
    }
    if (kRounds > 8)
        QCOMPARE_LE(residentKiB(), settled + 2048);

    // A page that never reads, made by hand, asking for replies as fast as
    // it can write until the server lets it go.
    QTcpSocket stalled;
    stalled.setReadBufferSize(1);
    stalled.connectToHost(QHostAddress::LocalHost, m_port);
    QVERIFY(stalled.waitForConnected(10000));
    stalled.write(QStringLiteral("GET /live HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nUpgrade: "
                                 "websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                 "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
                      .arg(m_port)
                      .toLatin1());
    QVERIFY(QTest::qWaitFor([&] { return openFiles() > files; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return stalled.bytesAvailable() > 0; }, 10000));
    // A masked text frame "1 Command5" (masked with zeros).
    const QByteArray frame = QByteArray("\x81\x8a\0\0\0\0", 6) + "1 Command5";
    const qsizetype firstSeen = steady.messages.size();
    for (int round = 0; round < 400 && openFiles() > files; ++round) {
        stalled.write(frame.repeated(1000));
        QVERIFY(QTest::qWaitFor([&] { return stalled.bytesToWrite() == 0 || openFiles() == files; },
                                10000));
    }
    QCOMPARE(openFiles(), files);

    // The steady page saw every frame meanwhile: their numbers run on
    // without a gap (Reading1 carries the frame's number).
    QVERIFY(steady.panel([](const QJsonObject &) { return true; }, firstSeen));
    int last = 0;
    for (qsizetype i = firstSeen; i < steady.messages.size(); ++i) {
        const int number = steady.messages[i]["texts"][0].toString().remove('.').toInt();
        QVERIFY2(last == 0 || number == last || number == last + 1,
                 qPrintable(QStringLiteral("%1 after %2").arg(number).arg(last)));
        last = number;
    }
}

void TestServe::panelFollowsTheLine()
{
    // Silence, the marks and the blinking label as the page shows them are
    // web/frames.test.mjs's, and /metrics through a proxy web/nginx.test.mjs's.
    Page page(url("/live"));
    QVERIFY(page.opened());
    // Output on: "On" shown, "Off" and "Locked" hidden.
    page.send("1 Command10");
    QCOMPARE(page.reply(1)["sent"], true);
    QVERIFY(page.panel([](const QJsonObject &m) {
        return !hides(m, "Label14") && hides(m, "Label13") && hides(m, "Label15");
    }));

    // The device gone: a sentence says so, and keys are refused.
    m_supply.stop();
    QVERIFY(page.panel(
        [](const QJsonObject &m) { return m["line"].toString().contains(" was lost: "); }));
    page.send("2 Command5");
    QCOMPARE(page.reply(2)["why"], "The line is not open.");
    // Paced from here on, as a real line is: what the server writes waits
    // in the device for the simulator to read it.
    QVERIFY(m_supply.start(
        {"--numbered", "--period", "100", "--command-log", m_dir.filePath("commands")}));
    const qsizetype from = page.messages.size();
    QVERIFY(page.panel([](const QJsonObject &m) { return m["line"] == ""; }, from));

    // The log ran beside the page all along.
    const QByteArray logged = fileBytes(m_dir.filePath("log.jsonl"));
    QVERIFY(logged.contains("\"event\":\"device-lost\""));
    QVERIFY(logged.contains("\"output\":\"on\""));
}

QTEST_GUILESS_MAIN(TestServe)
#include "tst_serve.moc"
