// SPDX-License-Identifier: MIT
// What one blink tick costs the real window: which controls it repaints, how
// much of the panel that is, and (under callgrind) how many instructions the
// tick and its repaint take. A repaint of the whole panel is measured the
// same way, for scale.
//
// Paint events are seen through an application-wide event filter, which
// watches without taking part. Run natively for areas and times; run under
//   valgrind --tool=callgrind --collect-atstart=no
// for instruction counts: each scenario is collected alone and dumped under
// its own name.
#include "app/form1.h"
#include "app/panelstyle.h"
#include "panel/frontpanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QStringList>

#include <valgrind/callgrind.h>

#include <cstdio>
#include <functional>

namespace {

class PaintLog : public QObject
{
public:
    explicit PaintLog(QWidget *window) : m_window(window) {}

    void clear()
    {
        m_area = QRegion();
        m_widgets.clear();
        m_events = 0;
    }
    const QRegion &area() const { return m_area; }
    const QStringList &widgets() const { return m_widgets; }
    int events() const { return m_events; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget == m_window || m_window->isAncestorOf(widget)) {
                ++m_events;
                const QPoint offset = widget->mapTo(m_window, QPoint(0, 0));
                m_area += static_cast<QPaintEvent *>(event)->region().translated(offset);
                const QString name = widget->objectName().isEmpty()
                                         ? QString::fromLatin1(widget->metaObject()->className())
                                         : widget->objectName();
                if (!m_widgets.contains(name))
                    m_widgets << name;
            }
        }
        return false;
    }

private:
    QWidget *m_window;
    QRegion m_area;
    QStringList m_widgets;
    int m_events = 0;
};

qint64 areaOf(const QRegion &region)
{
    qint64 sum = 0;
    for (const QRect &r : region)
        sum += qint64(r.width()) * r.height();
    return sum;
}

// Delivers what the tick posted: the update requests and the paints.
void flushPaints()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void measure(const char *name, int ticks, Form1 &form, PaintLog &log,
             const std::function<void()> &tick)
{
    for (int i = 0; i < 2; ++i) { // caches warm, both phases of the blink seen
        tick();
        flushPaints();
    }
    log.clear();
    QElapsedTimer clock;
    qint64 nanoseconds = 0;
    for (int i = 0; i < ticks; ++i) {
        clock.start();
        CALLGRIND_TOGGLE_COLLECT;
        tick();
        flushPaints();
        CALLGRIND_TOGGLE_COLLECT;
        nanoseconds += clock.nsecsElapsed();
    }
    CALLGRIND_DUMP_STATS_AT(name);
    const qint64 panelArea = qint64(form.panel()->width()) * form.panel()->height();
    const qint64 area = areaOf(log.area());
    std::printf("blink scenario=%s ticks=%d paint_events_per_tick=%.1f area_px=%lld "
                "panel_px=%lld share_pct=%.2f us_per_tick=%.1f widgets=%s\n",
                name, ticks, double(log.events()) / ticks, area, panelArea,
                100.0 * double(area) / double(panelArea), double(nanoseconds) / ticks / 1000.0,
                qPrintable(log.widgets().join(QLatin1Char(','))));
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    usePanelStyle();
    Form1 form;
    form.show();
    // Ticks are driven by hand, one at a time.
    form.Model.stop();
    flushPaints();

    PaintLog log(&form);
    app.installEventFilter(&log);
    constexpr int kTicks = 20;

    // No port, so the link is lost: only the crossed-out picture blinks.
    form.Model.Watchdog.LinkLost = 1;
    form.Model.BlinkTarget = 0;
    measure("idle-link-lost", kTicks, form, log, [&] { form.Model.Timer1_Timer(); });

    // Frames arriving, constant current: "I-const" blinks.
    form.Model.Watchdog.reset();
    form.Model.BlinkTarget = 9;
    measure("link-alive-label9", kTicks, form, log, [&] { form.Model.Timer1_Timer(); });

    // For scale: every control and the panel behind them drawn anew. Opaque
    // controls keep their pixels in the backing store when only the panel
    // is updated, so each widget is asked.
    form.Model.BlinkTarget = 0;
    const QList<QWidget *> everything = form.panel()->findChildren<QWidget *>();
    measure("whole-panel-repaint", kTicks, form, log, [&] {
        form.panel()->update();
        for (QWidget *widget : everything)
            widget->update();
    });
    return 0;
}
