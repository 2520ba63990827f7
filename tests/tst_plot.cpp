// SPDX-License-Identifier: MIT
// korvale-cli plot: what its pictures show, read back from the SVG's
// structure (rectangles and polylines told apart by their colours), and
// what it makes of logs it cannot wholly read.
#include "plot/plotrender.h"
#include "simsupply.h"

#include <QBuffer>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <QtTest>

using namespace PlotColours;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(12, 0), QTimeZone(3600));
const QByteArray kHeader = "time,V,A,W,limit_V,limit_A,limit_W,remote,output,overtemp,blinking,"
                           "fine\n";

QByteArray when(qint64 ms)
{
    return kStart.addMSecs(ms).toString(Qt::ISODateWithMs).toLatin1();
}

QByteArray csvRow(qint64 ms, const char *volts = "12.00", bool on = true)
{
    return when(ms) + ',' + volts + ",0.120,001.4,12.00,1.000,100.0,1," + (on ? "on" : "off") +
           ",0,none,0\n";
}

// With the settings as logs written before had them: the window's texts.
QByteArray jsonRow(qint64 ms, bool on = true)
{
    return R"({"time":")" + when(ms) + R"(","V":")" + (on ? "12.00" : "00.00") +
           R"(","A":"0.120","W":"001.4","limit_V":"12","limit_A":"1.00","limit_W":"100",)"
           R"("remote":true,"output":")" +
           (on ? "on" : "off") + R"(","overtemp":false,"blinking":"none","fine":false})" + '\n';
}

QByteArray jsonEvent(qint64 ms, const char *event)
{
    return R"({"time":")" + when(ms) + R"(","event":")" + event + "\"}\n";
}

struct Mark
{
    QColor fill, stroke;
    QRectF rect;
    QList<QPointF> points;
};

// The rectangles and polylines of an SVG with the colours of their group.
struct Svg
{
    QList<Mark> marks;
    QString desc;

    QList<Mark> with(QColor Mark::*part, const QColor &colour) const
    {
        QList<Mark> found;
        std::copy_if(marks.begin(), marks.end(), std::back_inserter(found),
                     [&](const Mark &m) { return m.*part == colour; });
        return found;
    }
    QList<Mark> filled(const QColor &colour) const { return with(&Mark::fill, colour); }
    QList<Mark> stroked(const QColor &colour) const { return with(&Mark::stroke, colour); }
};

Svg readSvg(const QByteArray &xml)
{
    Svg svg;
    QXmlStreamReader r(xml);
    QColor fill, stroke;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = r.attributes();
        const auto number = [&a](const char *name) { return a.value(name).toDouble(); };
        if (r.name() == u"g") {
            fill = QColor(a.value("fill").toString());
            stroke = QColor(a.value("stroke").toString());
        } else if (r.name() == u"rect") {
            svg.marks << Mark{fill,
                              stroke,
                              QRectF(number("x"), number("y"), number("width"), number("height")),
                              {}};
        } else if (r.name() == u"polyline") {
            Mark line{fill, stroke, {}, {}};
            for (const auto &xy : a.value("points").toString().split(' ', Qt::SkipEmptyParts))
                line.points << QPointF(xy.section(',', 0, 0).toDouble(),
                                       xy.section(',', 1).toDouble());
            svg.marks << line;
        } else if (r.name() == u"desc") {
            svg.desc = r.readElementText();
        }
    }
    return svg;
}

} // namespace

class TestPlot : public QObject
{
    Q_OBJECT
private slots:
    void gapsAndOutputOffAreDrawnWhereTheyHappen_data();
    void gapsAndOutputOffAreDrawnWhereTheyHappen();
    void aWeekStaysSmallAndKeepsItsExtremes();
    void badLogsAreToldNotFatal_data();
    void badLogsAreToldNotFatal();
    void watchIntoPlot();
};

void TestPlot::gapsAndOutputOffAreDrawnWhereTheyHappen_data()
{
    // A frame a second for 400 s: output off from 100 s to 160 s, nothing
    // from 240 s to 280 s. A gap as short as 1 s is a gap when an event says so.
    QByteArray csv = kHeader, json;
    for (qint64 s = 0; s < 400; ++s) {
        if (s >= 240 && s < 280)
            continue;
        csv += csvRow(s * 1000, s >= 100 && s < 160 ? "00.00" : "12.00", s < 100 || s >= 160);
        json += jsonRow(s * 1000, s < 100 || s >= 160);
        if (s == 239)
            json += jsonEvent(241500, "link-lost");
        if (s == 320)
            json += jsonEvent(320500, "device-lost") + jsonEvent(320800, "device-back");
    }
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QList<int>>("gapEnds"); // seconds
    QTest::addColumn<int>("segments");
    QTest::newRow("csv, gap told by the times") << csv << QList<int>{239, 280} << 2;
    QTest::newRow("json lines, gaps told by events") << json << QList<int>{239, 280, 320, 321} << 3;
}

void TestPlot::gapsAndOutputOffAreDrawnWhereTheyHappen()
{
    QFETCH(QByteArray, log);
    QFETCH(QList<int>, gapEnds);
    QFETCH(int, segments);
    QTemporaryDir dir;
    QFile file(dir.filePath("run.log"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(log) == log.size());
    file.close();
    const QString out = dir.filePath("run.svg");
    const CliRun run = runCli({"plot", file.fileName(), "-o", out});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    const Svg svg = readSvg(fileBytes(out));
    QCOMPARE(svg.desc, QString("%1 frames").arg(360));

    const QList<Mark> panes = svg.stroked(kFrame);
    QCOMPARE(panes.size(), 3);
    const QRectF area = panes.first().rect;
    const auto x = [&area](int seconds) { return area.left() + seconds * area.width() / 399; };
    const auto spans = [&](const QColor &colour) {
        QList<QPair<int, int>> found;
        for (const Mark &m : svg.filled(colour)) // a shade fills its pane's height
            if (std::abs(m.rect.height() - area.height()) < 0.5)
                found << qMakePair(qRound(m.rect.left()), qRound(m.rect.right()));
        return found;
    };
    const auto near = [](double a, double b) { return std::abs(a - b) <= 2.0; };
    const auto offSpans = spans(kOutputOff);
    QCOMPARE(offSpans.size(), 3); // one span, in each pane
    for (const auto &[left, right] : offSpans)
        QVERIFY2(near(left, x(100)) && near(right, x(160)), qPrintable(QString::number(left)));
    const auto gapSpans = spans(kGap);
    QCOMPARE(gapSpans.size(), 3 * gapEnds.size() / 2);
    for (int i = 0; i < gapSpans.size(); ++i) {
        const int gap = i / 3 * 2;
        QVERIFY2(near(gapSpans[i].first, x(gapEnds[gap])) &&
                     near(gapSpans[i].second, x(gapEnds[gap + 1])),
                 qPrintable(QString("%1 %2").arg(gapSpans[i].first).arg(gapSpans[i].second)));
    }
    // Each reading and each limit is broken there, and nowhere else.
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(svg.stroked(kReading[i]).size(), segments);
        QCOMPARE(svg.stroked(kLimit[i]).size(), segments);
    }
}

void TestPlot::aWeekStaysSmallAndKeepsItsExtremes()
{
    const QSize size(1200, 800);
    const int width = plotWidth(size);
    PlotReduction reduction(width);
    LogRecord record;
    record.offsetSeconds = 3600;
    record.outputOn = true;
    const qint64 rows = 7LL * 86400 * 4;
    int spikes = 0;
    for (qint64 i = 0; i < rows; ++i) {
        record.timeMs = kStart.toMSecsSinceEpoch() + i * 250;
        // One-row spikes and dips, every seven hours or so, so that they fall
        // early and late in their columns; the current alternates.
        const qint64 phase = i % 100003;
        const float volts = phase == 99999 ? 40 : phase == 49999 ? 3 : 12;
        spikes += phase == 99999;
        record.values = {volts, i % 2 ? 0.119f : 0.121f, volts * 0.12f, 12, 1, 100};
        if (!reduction.add(record))
            QFAIL("a row in order was refused");
    }
    reduction.finish();
    const PlotPicture picture{size,
                              "week",
                              reduction.columns(),
                              reduction.firstMs(),
                              reduction.lastMs(),
                              reduction.offsetSeconds(),
                              reduction.frames()};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeSvg(buffer, picture);
    QVERIFY2(buffer.size() < 400 * 1024, qPrintable(QString::number(buffer.size())));
    const Svg svg = readSvg(buffer.data());

    const QList<Mark> volts = svg.stroked(kReading[0]);
    const QList<Mark> amperes = svg.stroked(kReading[1]);
    QCOMPARE(volts.size(), 1);
    QCOMPARE(amperes.size(), 1);
    QVERIFY(volts[0].points.size() <= 5 * width);
    QVERIFY2(amperes[0].points.size() >= width && amperes[0].points.size() <= 5 * width,
             qPrintable(QString::number(amperes[0].points.size())));
    // A limit that never moved is a line with two ends, not a point a column.
    QVERIFY(svg.stroked(kLimit[0]).value(0).points.size() <= 4);

    // The spikes and the dips at their values, measured from the pane's zero.
    const double zero = svg.stroked(kFrame).value(0).rect.bottom();
    QMap<double, int> heights; // height above zero, how many points
    for (const QPointF &p : volts[0].points)
        ++heights[zero - p.y()];
    QCOMPARE(heights.size(), 3);
    const QList<double> h = heights.keys();
    QCOMPARE(heights.value(h[2]), spikes); // one point each
    QCOMPARE(heights.value(h[0]), spikes);
    QVERIFY2(qAbs(h[0] / h[1] - 3.0 / 12) < 0.01, qPrintable(QString::number(h[0] / h[1])));
    QVERIFY2(qAbs(h[2] / h[1] - 40.0 / 12) < 0.01, qPrintable(QString::number(h[2] / h[1])));
}

void TestPlot::badLogsAreToldNotFatal_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("said"); // "!" before what must not be said
    QTest::addColumn<int>("frames");       // in the picture; -1: no picture at all

    QByteArray four;
    for (int i = 0; i < 4; ++i)
        four += csvRow(i * 250);
    const QByteArray json = jsonRow(0) + jsonRow(250);
    QTest::newRow("empty") << QByteArray() << QStringList() << 1 << QStringList{"no readable frame"}
                           << -1;
    QTest::newRow("header only") << kHeader << QStringList() << 1
                                 << QStringList{"no readable frame"} << -1;
    QTest::newRow("garbage") << QByteArray("\x01\xff\xfe zzz\n{\"time\":\n", 17) << QStringList()
                             << 1 << QStringList{":1: ", ":2: not a JSON object"} << -1;
    QTest::newRow("no header") << four << QStringList() << 0 << QStringList() << 4;
    QTest::newRow("cut short") << kHeader + four + csvRow(1000).left(40) << QStringList() << 0
                               << QStringList{":6: 3 fields, not 12", "1 unreadable line left out"}
                               << 4;
    QTest::newRow("json cut short") << json + jsonRow(500).left(60) << QStringList() << 0
                                    << QStringList{":3: not a JSON object"} << 2;
    QTest::newRow("garbled reading")
        << kHeader + four + csvRow(1000, "1A.00") + csvRow(1250) << QStringList() << 0
        << QStringList{":6: V is not a number"} << 5;
    QTest::newRow("json in csv") << four + json << QStringList() << 0
                                 << QStringList{":5: a JSON line in a CSV log", ":6: "} << 4;
    QTest::newRow("csv in json") << json + four << QStringList() << 0
                                 << QStringList{":3: not a JSON line", ":6: "} << 2;
    QTest::newRow("time goes back") << four + csvRow(100) << QStringList() << 0
                                    << QStringList{":5: earlier than the line before"} << 4;
    QTest::newRow("many bad lines")
        << four + QByteArray("x\n").repeated(9) << QStringList() << 0
        << QStringList{":5: ", ":9: ", "!:10: ", "4 more unreadable lines",
                       "9 unreadable lines left out"}
        << 4;
    QTest::newRow("time cut") << four
                              << QStringList{"--from", "12:00:00.400", "--to", "12:00:00.600"} << 0
                              << QStringList() << 1;
    // Held whole, a file without line ends would fill the memory.
    QTest::newRow("endless line") << QByteArray(200000, 'x') + '\n' + four << QStringList() << 0
                                  << QStringList{":1: ", "!:2: "} << 4;
    // 11:00 has passed on the log's first day: the next day's is meant.
    QTest::newRow("time of day wraps")
        << four << QStringList{"--to", "11:00"} << 0 << QStringList() << 4;
    QTest::newRow("time cut to nothing") << four << QStringList{"--from", "13:00"} << 1
                                         << QStringList{"no frame in the time range"} << -1;
    QTest::newRow("png") << four << QStringList{"-o", "%1/run.png"} << 0 << QStringList() << 4;
    QTest::newRow("unwritable") << four << QStringList{"-o", "%1/missing/run.svg"} << 1
                                << QStringList{"cannot write"} << -1;
    QTest::newRow("not svg or png")
        << four << QStringList{"-o", "%1/run.pdf"} << 2 << QStringList{".svg or .png"} << -1;
}

void TestPlot::badLogsAreToldNotFatal()
{
    QFETCH(QByteArray, log);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QStringList, said);
    QFETCH(int, frames);
    QTemporaryDir dir;
    QFile file(dir.filePath("run.log"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(log) == log.size());
    file.close();
    options.replaceInStrings("%1", dir.path());
    if (!options.contains("-o"))
        options << "-o" << dir.filePath("run.svg");
    const QString out = options[options.indexOf("-o") + 1];
    const CliRun run = runCli(QStringList{"plot", file.fileName()} + options);
    QCOMPARE(run.status, status);
    for (const QString &words : said)
        QVERIFY2(run.err.contains(words.mid(words.startsWith('!'))) != words.startsWith('!'),
                 qPrintable(run.err));
    if (said.isEmpty())
        QCOMPARE(run.err, QString());
    // Nothing but the log is left when there is no picture: no partial file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), frames < 0 ? 1 : 2);
    if (frames < 0)
        return;
    const QByteArray picture = fileBytes(out);
    if (out.endsWith(".png"))
        QVERIFY(picture.startsWith("\x89PNG"));
    else
        QCOMPARE(readSvg(picture).desc, QString("%1 frames").arg(frames));
}

void TestPlot::watchIntoPlot()
{
    // Every tenth frame stays away long enough for the watchdog to tell.
    SimSupply supply;
    QVERIFY(supply.start(
        {"--no-pace", "--period", "100", "--silence-every", "10", "--silence-ms", "4000"}));
    QTemporaryDir dir;
    const QString out = dir.filePath("run.svg");
    QProcess watch;
    const CliRun plot =
        runCli({"plot", "-o", out}, &watch,
               {"--device", supply.link(), "watch", "--format", "jsonl", "--count", "25"});
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(watch.exitCode(), 0);
    QCOMPARE(plot.status, 0);
    QCOMPARE(plot.err, QString());
    const Svg svg = readSvg(fileBytes(out));
    QCOMPARE(svg.desc, QString("25 frames"));
    // Two or three silences, by when watch came in: each one a gap in the
    // three panes (and one box in the legend), and a break in the line.
    const qsizetype gaps = (svg.filled(kGap).size() - 1) / 3;
    QVERIFY(gaps == 2 || gaps == 3);
    QCOMPARE(svg.stroked(kReading[0]).size(), gaps + 1);
}

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
