// SPDX-License-Identifier: MIT
// Time from picking comm1 to the first reading shown in the real window, with
// korvale-sim as the supply. The port is picked again and again at random
// moments of the supply's stream: after each opening has shown a reading (or
// given up) the port is closed, and the next pick waits a random time spread
// evenly over a second, a whole number of periods of 250 and 500 ms, so that
// every phase of the stream is as likely.
//
// "Shown" is caught as bench-latency catches it: a slot on the line's
// accepted frame, connected after the panel's model, which the window draws
// at once. Only a frame of this opening can follow the pick.
//
// With --follow-ms F the port stays open F ms after the first reading, and
// the frames shown are counted against the frames sent meanwhile; that needs
// korvale-sim --numbered, whose frames carry their number in Label1.
//
//   bench-firstreading [--openings N] [--timeout-ms T] [--seed S] [--follow-ms F]
//                      [-- sim options]
//
// Output: a line per opening, then one summary line, key=value; an opening
// that shows nothing within the timeout counts as never.
#include "app/form1.h"
#include "app/panelstyle.h"
#include "panel/frontpanel.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kNever = std::numeric_limits<double>::infinity();

QString milliseconds(double ms)
{
    return std::isinf(ms) ? QStringLiteral("never") : QString::number(ms, 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    int openings = 20;
    int timeoutMs = 3000;
    unsigned seed = 1;
    int followMs = 0;
    QStringList simArguments;
    for (int i = 1; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (std::strcmp(argv[i], "--") == 0) {
            while (++i < argc)
                simArguments << QString::fromLocal8Bit(argv[i]);
        } else if (valued && std::strcmp(argv[i], "--openings") == 0) {
            openings = std::max(1, std::atoi(argv[++i]));
        } else if (valued && std::strcmp(argv[i], "--timeout-ms") == 0) {
            timeoutMs = std::max(1, std::atoi(argv[++i]));
        } else if (valued && std::strcmp(argv[i], "--seed") == 0) {
            seed = unsigned(std::atoi(argv[++i]));
        } else if (valued && std::strcmp(argv[i], "--follow-ms") == 0) {
            followMs = std::max(0, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench-firstreading [--openings N] [--timeout-ms T] "
                                 "[--seed S] [--follow-ms F] [-- korvale-sim options]\n");
            return 2;
        }
    }

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    usePanelStyle();

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("supply"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(KORVALE_SIM_EXECUTABLE),
              simArguments + QStringList{QStringLiteral("--link"), link});
    // Its first line, the device, comes once the link is in place.
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench-firstreading: korvale-sim did not start\n");
        return 1;
    }
    qputenv("KORVALE_COMM1", QFile::encodeName(link));

    Form1 form;
    form.show();

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    bool waiting = false;
    Clock::time_point shownAt;
    // Frame numbers shown while following: the window has drawn each frame
    // the line accepts before this runs.
    std::vector<int> shown;
    QObject::connect(&form.MSComm1, &SupplyLink::frame, &form, [&] {
        if (!waiting)
            shown.push_back(QString(form.panel()->label(1)->text()).remove('.').toInt());
        if (waiting) {
            shownAt = Clock::now();
            waiting = false;
            loop.quit();
        }
    });
    auto runFor = [&](int ms) {
        deadline.start(ms);
        loop.exec();
        deadline.stop();
    };

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pauseMs(0, 999);
    std::vector<double> times;
    long framesShown = 0, framesSent = 0;
    for (int i = 0; i < openings; ++i) {
        const int pause = pauseMs(random);
        runFor(pause);
        waiting = true;
        const Clock::time_point pickedAt = Clock::now();
        form.comm1()->trigger();
        if (!form.channel().PortOpen()) {
            std::fprintf(stderr, "bench-firstreading: the window could not open comm1\n");
            return 1;
        }
        runFor(timeoutMs);
        const double ms =
            waiting ? kNever
                    : std::chrono::duration<double, std::milli>(shownAt - pickedAt).count();
        waiting = false;
        shown.clear();
        if (followMs > 0 && !std::isinf(ms))
            runFor(followMs);
        form.MSComm1.close();
        times.push_back(ms);
        // Sent: every frame from the first to the last one shown.
        const long sent = shown.empty() ? 0 : std::max(0, shown.back() - shown.front() + 1);
        framesShown += long(shown.size());
        framesSent += sent;
        std::printf("opening n=%d pause_ms=%d first_reading_ms=%s shown=%zu sent=%ld\n", i + 1,
                    pause, qPrintable(milliseconds(ms)), shown.size(), sent);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    std::sort(times.begin(), times.end());
    const auto never = std::count(times.begin(), times.end(), kNever);
    const std::size_t mid = times.size() / 2;
    const double median = times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
    std::printf("firstreading openings=%zu never=%d timeout_ms=%d median_ms=%s best_ms=%s "
                "worst_ms=%s frames_shown=%ld frames_sent=%ld\n",
                times.size(), int(never), timeoutMs, qPrintable(milliseconds(median)),
                qPrintable(milliseconds(times.front())), qPrintable(milliseconds(times.back())),
                framesShown, framesSent);
    return 0;
}
