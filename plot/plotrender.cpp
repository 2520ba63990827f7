// SPDX-License-Identifier: MIT
#include "plot/plotrender.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLeft = 80;
constexpr int kRight = 18;
constexpr int kTop = 52;
constexpr int kBottom = 64;
constexpr int kPaneGap = 14;
constexpr qint64 kDayMs = 86400000;
// A limit further above the readings than this would flatten them: it is
// clipped at the pane's top and its value written there instead.
constexpr double kLimitReach = 6.0;

using namespace PlotColours;
const QColor kGrid(0xee, 0xee, 0xee);
const QColor kText(0x22, 0x22, 0x22);
const char *const kPaneNames[3] = {"Voltage (V)", "Current (A)", "Power (W)"};

struct Pane
{
    QRectF rect;
    double low = 0;
    double high = 1;
    double step = 0.25;
    double limitMax = 0;

    double y(double value) const
    {
        const double y = rect.bottom() - (value - low) / (high - low) * rect.height();
        return std::clamp(y, rect.top(), rect.bottom());
    }
};

QFont font(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

double niceStep(double range)
{
    const double raw = range / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0})
        if (m * magnitude >= raw * 0.999)
            return m * magnitude;
    return 10 * magnitude;
}

int decimalsOf(double step)
{
    int d = 0;
    while (d < 4 &&
           std::abs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6)
        ++d;
    return d;
}

QString wallTime(qint64 ms, int offsetSeconds, const QString &format)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(offsetSeconds)).toString(format);
}

// Runs of neighbouring columns that `is` holds for, as first and last.
template <class Is>
std::vector<std::pair<int, int>> runs(const std::vector<PlotColumn> &columns, Is is)
{
    std::vector<std::pair<int, int>> found;
    for (int i = 0; i < int(columns.size()); ++i) {
        if (!is(columns[std::size_t(i)]))
            continue;
        if (!found.empty() && found.back().second == i - 1)
            found.back().second = i;
        else
            found.emplace_back(i, i);
    }
    return found;
}

Pane scalePane(const std::vector<PlotColumn> &columns, int index, const QRectF &rect)
{
    double readingMax = 0;
    double readingMin = 0;
    double limitMax = 0;
    for (const PlotColumn &c : columns) {
        if (!c.hasData)
            continue;
        readingMax = std::max<double>(readingMax, c.series[std::size_t(index)].max);
        readingMin = std::min<double>(readingMin, c.series[std::size_t(index)].min);
        limitMax = std::max<double>(limitMax, c.series[std::size_t(index) + 3].max);
    }
    double top = readingMax;
    if (readingMax <= 0 || limitMax <= kLimitReach * readingMax)
        top = std::max(readingMax, limitMax);
    if (top <= readingMin)
        top = readingMin + 1;
    Pane pane;
    pane.rect = rect;
    pane.limitMax = limitMax;
    pane.low = readingMin;
    pane.step = niceStep((top - readingMin) * 1.08);
    pane.high = readingMin + std::ceil((top - readingMin) * 1.08 / pane.step) * pane.step;
    return pane;
}

// A curve as polylines, one per stretch of known time. Straight runs are
// kept as their two ends, so a flat week costs as little as a flat minute.
class Trace
{
public:
    explicit Trace(QPainter &painter) : m_painter(painter) {}
    ~Trace() { flush(); }
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    void add(QPointF p)
    {
        const std::size_t n = m_points.size();
        if (n > 0 && m_points.back() == p)
            return;
        if (n >= 2 && m_points[n - 2].y() == p.y() && m_points[n - 1].y() == p.y())
            m_points.back() = p;
        else
            m_points.push_back(p);
    }
    bool empty() const { return m_points.empty(); }
    double lastY() const { return m_points.back().y(); }
    void flush()
    {
        if (m_points.size() == 1)
            m_points.push_back(m_points.front() + QPointF(1, 0)); // a lone frame, seen
        if (!m_points.empty())
            m_painter.drawPolyline(m_points.data(), int(m_points.size()));
        m_points.clear();
    }

private:
    QPainter &m_painter;
    std::vector<QPointF> m_points;
};

// As steps: a display holds its value until the next frame brings another.
void drawSeries(QPainter &painter, const Pane &pane, const PlotPicture &picture, int series)
{
    Trace trace(painter);
    for (std::size_t i = 0; i < picture.columns.size(); ++i) {
        const PlotColumn &c = picture.columns[i];
        if (!c.hasData)
            continue;
        const PlotColumn::Extremes &e = c.series[std::size_t(series)];
        const double x = kLeft + double(i) + 0.5;
        if (c.breakBefore)
            trace.flush();
        if (!trace.empty())
            trace.add({x, trace.lastY()});
        trace.add({x, pane.y(e.first)});
        if (c.breakInside)
            trace.flush();
        trace.add({x, pane.y(e.min)});
        trace.add({x, pane.y(e.max)});
        trace.add({x, pane.y(e.last)});
    }
}

void drawValueAxis(QPainter &painter, const Pane &pane, int index)
{
    const int decimals = decimalsOf(pane.step);
    painter.setFont(font(11));
    for (double v = pane.low; v <= pane.high + pane.step / 1000; v += pane.step) {
        const double y = pane.y(v);
        painter.setPen(QPen(kGrid, 1));
        painter.drawLine(QPointF(pane.rect.left(), y), QPointF(pane.rect.right(), y));
        painter.setPen(kText);
        painter.drawText(QRectF(kLeft - 56, y - 8, 50, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(v, 'f', decimals));
    }
    if (pane.limitMax > pane.high) {
        painter.setPen(kLimit[index].darker(130));
        painter.drawText(pane.rect.adjusted(0, 3, -6, 0), Qt::AlignRight | Qt::AlignTop,
                         QStringLiteral("limit up to %1 %2, above")
                             .arg(pane.limitMax)
                             .arg(QLatin1Char("VAW"[index])));
    }
    painter.setPen(kText);
    painter.save();
    painter.translate(14, pane.rect.center().y());
    painter.rotate(-90);
    painter.setFont(font(12, true));
    // Only the unit where the pane is too low for its name.
    const QString name = QLatin1String(kPaneNames[index]);
    const bool fits = QFontMetricsF(painter.font()).horizontalAdvance(name) < pane.rect.height();
    painter.drawText(QRectF(-pane.rect.height() / 2, -8, pane.rect.height(), 16), Qt::AlignCenter,
                     fits ? name : name.section(u'(', 1).chopped(1));
    painter.restore();
}

void drawTimeAxis(QPainter &painter, const PlotPicture &picture, const std::vector<Pane> &panes)
{
    const qint64 span = std::max<qint64>(picture.lastMs - picture.firstMs, 1);
    const int width = plotWidth(picture.size);
    static constexpr qint64 kSteps[] = {1000,     2000,     5000,    10000,      15000,
                                        30000,    60000,    120000,  300000,     600000,
                                        900000,   1800000,  3600000, 7200000,    10800000,
                                        21600000, 43200000, kDayMs,  2 * kDayMs, 7 * kDayMs};
    qint64 step = kSteps[std::size(kSteps) - 1];
    for (const qint64 s : kSteps) {
        if (span / s <= std::max(width / 110, 2)) {
            step = s;
            break;
        }
    }
    const qint64 offsetMs = picture.offsetSeconds * 1000LL;
    const qint64 firstLocal = picture.firstMs + offsetMs;
    const QString format = step < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    painter.setFont(font(11));
    const double bottom = panes.back().rect.bottom();
    for (qint64 local = (firstLocal + step - 1) / step * step; local <= picture.lastMs + offsetMs;
         local += step) {
        const double x = kLeft + double(local - firstLocal) * width / double(span);
        painter.setPen(QPen(kGrid, 1));
        for (const Pane &pane : panes)
            painter.drawLine(QPointF(x, pane.rect.top()), QPointF(x, pane.rect.bottom()));
        painter.setPen(kText);
        painter.drawLine(QPointF(x, bottom), QPointF(x, bottom + 4));
        // Midnight, or ticks a day or more apart, show the date.
        const bool date = step >= kDayMs || (local % kDayMs == 0 && span > kDayMs / 2);
        painter.drawText(QRectF(x - 40, bottom + 5, 80, 16), Qt::AlignCenter,
                         wallTime(local - offsetMs, picture.offsetSeconds,
                                  date ? QStringLiteral("MM-dd") : format));
    }
}

void drawShading(QPainter &painter, const PlotPicture &picture, const std::vector<Pane> &panes)
{
    const auto shade = [&](const std::pair<int, int> &run) {
        for (const Pane &pane : panes)
            painter.drawRect(QRectF(kLeft + run.first, pane.rect.top(), run.second - run.first + 1,
                                    pane.rect.height()));
    };
    painter.setPen(Qt::NoPen);
    painter.setBrush(kOutputOff);
    for (const auto &run : runs(picture.columns, [](const PlotColumn &c) { return c.outputOff; }))
        shade(run);
    painter.setBrush(kGap);
    const auto gaps = runs(picture.columns, [](const PlotColumn &c) { return c.gaps != 0; });
    for (const auto &run : gaps)
        shade(run);

    // Each gap gets a mark above the panes, even one narrower than a pixel,
    // and its cause where there is room to write it.
    painter.setBrush(kGapMark);
    const double top = panes.front().rect.top();
    for (const auto &run : gaps) {
        const double x = kLeft + (run.first + run.second + 1) / 2.0;
        const QPointF mark[3] = {{x - 5, top - 9}, {x + 5, top - 9}, {x, top - 1}};
        painter.drawPolygon(mark, 3);
    }
    painter.setFont(font(11));
    painter.setPen(kGapMark);
    for (const auto &run : gaps) {
        quint8 kinds = 0;
        for (int i = run.first; i <= run.second; ++i)
            kinds |= picture.columns[std::size_t(i)].gaps;
        const QString cause = kinds & PlotColumn::DeviceLost ? QStringLiteral("device lost")
                              : kinds & PlotColumn::LinkLost ? QStringLiteral("link lost")
                                                             : QStringLiteral("no frames");
        const QRectF room(kLeft + run.first, top + 2, run.second - run.first + 1, 16);
        if (QFontMetricsF(painter.font()).horizontalAdvance(cause) + 6 < room.width())
            painter.drawText(room, Qt::AlignHCenter | Qt::AlignTop, cause);
    }
}

void drawLegend(QPainter &painter, int width, double y)
{
    QStringList texts = {QStringLiteral("reading"), QStringLiteral("limit (setting)"),
                         QStringLiteral("output off"),
                         QStringLiteral("nothing known: link or device lost")};
    // Under the panes when it fits; smaller and from the edge in a small picture.
    double x = kLeft;
    painter.setFont(font(12));
    if (QFontMetricsF(painter.font()).horizontalAdvance(texts.join(QString(20, u' '))) + 120 >
        width - kLeft - kRight) {
        x = 8;
        painter.setFont(font(10));
        texts = QStringList{QStringLiteral("reading"), QStringLiteral("limit"),
                            QStringLiteral("output off"), QStringLiteral("nothing known")};
    }
    const QFontMetricsF metrics(painter.font());
    for (int i = 0; i < texts.size(); ++i) {
        if (i < 2) {
            painter.setPen(i == 0 ? QPen(kText, 2) : QPen(kText, 1, Qt::DashLine));
            painter.drawLine(QPointF(x, y), QPointF(x + 24, y));
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(i == 2 ? kOutputOff : kGap);
            painter.drawRect(QRectF(x, y - 7, 24, 14));
        }
        painter.setPen(kText);
        painter.drawText(QPointF(x + 30, y + 4), texts[i]);
        x += 30 + metrics.horizontalAdvance(texts[i]) + 20;
    }
}

void drawTitle(QPainter &painter, const PlotPicture &picture)
{
    painter.setPen(kText);
    painter.setFont(font(16, true));
    painter.drawText(QPointF(kLeft, 22), picture.title);
    const int offset = picture.offsetSeconds;
    const QString zone = QStringLiteral("UTC%1%2:%3")
                             .arg(QChar(offset < 0 ? u'-' : u'+'))
                             .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) / 60 % 60, 2, 10, QLatin1Char('0'));
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    painter.setFont(font(12));
    const QString line = QStringLiteral("%1 to %2 (%3), %4 frames")
                             .arg(wallTime(picture.firstMs, offset, format),
                                  wallTime(picture.lastMs, offset, format), zone,
                                  QLocale(QLocale::English).toString(picture.frames));
    painter.drawText(QPointF(kLeft, 40),
                     QFontMetricsF(painter.font())
                         .elidedText(line, Qt::ElideMiddle, picture.size.width() - kLeft - kRight));
}

} // namespace

int plotWidth(QSize size)
{
    return std::max(size.width() - kLeft - kRight, 1);
}

void drawPlot(QPainter &painter, const PlotPicture &picture)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(QPoint(0, 0), picture.size), Qt::white);
    const double height = (picture.size.height() - kTop - kBottom - 2.0 * kPaneGap) / 3;
    std::vector<Pane> panes;
    for (int i = 0; i < 3; ++i) {
        const QRectF rect(kLeft, kTop + i * (height + kPaneGap), plotWidth(picture.size), height);
        panes.push_back(scalePane(picture.columns, i, rect));
    }
    drawTitle(painter, picture);
    drawTimeAxis(painter, picture, panes);
    for (int i = 0; i < 3; ++i)
        drawValueAxis(painter, panes[std::size_t(i)], i);
    // Over the grid, so that a shaded span reads as one.
    drawShading(painter, picture, panes);
    // Steps are upright and level: crisp without antialiasing, and cheaper.
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 3; ++i) {
        const Pane &pane = panes[std::size_t(i)];
        painter.setBrush(Qt::NoBrush);
        QPen limit(kLimit[i], 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        limit.setDashPattern({6, 4});
        painter.setPen(limit);
        drawSeries(painter, pane, picture, i + 3);
        painter.setPen(QPen(kReading[i], 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        drawSeries(painter, pane, picture, i);
        painter.setPen(kFrame);
        painter.drawRect(pane.rect);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    drawLegend(painter, picture.size.width(), picture.size.height() - 18);
}

void writeSvg(QIODevice &device, const PlotPicture &picture)
{
    QSvgGenerator svg;
    svg.setOutputDevice(&device);
    svg.setSize(picture.size);
    svg.setResolution(96); // so that its pixels are CSS pixels
    svg.setViewBox(QRect(QPoint(0, 0), picture.size));
    svg.setTitle(picture.title);
    svg.setDescription(QStringLiteral("%1 frames").arg(picture.frames));
    QPainter painter(&svg);
    drawPlot(painter, picture);
}

bool writePlot(const QString &path, const PlotPicture &picture, QString &why)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        why = file.errorString();
        return false;
    }
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        writeSvg(file, picture);
    } else {
        QImage image(picture.size, QImage::Format_RGB32);
        QPainter painter(&image);
        drawPlot(painter, picture);
        painter.end();
        if (!image.save(&file, "PNG"))
            file.cancelWriting();
    }
    if (!file.commit()) {
        why = file.errorString();
        return false;
    }
    return true;
}
