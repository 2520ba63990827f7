// SPDX-License-Identifier: MIT
// Frame-to-display latency of the real window: from the write of a frame's
// last byte on the supply's end of a pseudo-terminal to the moment the six
// captions hold the frame's readings. Beside it, in the same run, the floor:
// a bare window reading the same pseudo-terminal through QSerialPort and
// setting six QLabels. The two take turns in blocks of frames, each block
// after a few uncounted ones, so a machine that slows down mid-run slows both.
//
// The panel's moment is caught by a slot connected to the line's accepted
// frame after the panel's model: Qt runs the slots of one signal in the order
// they were connected, so this slot runs the instant MSComm1_OnComm has
// returned, that is, right after the window set the last caption. Nothing in the
// window is changed or wrapped for the measurement.
//
// A separate thread plays the supply, so the window's thread waits for the
// byte in its event loop as it does in use. Output: one line of key=value for
// the panel and one for the floor.
#include "app/form1.h"
#include "app/panelstyle.h"
#include "floorreader.h"
#include "panel/frontpanel.h"
#include "protocol/statusframe.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSemaphore>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <random>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool writeAll(int fd, const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

korvale::StatusFrame frameNumber(int i)
{
    // Every frame differs from the one before in each reading, so a caption
    // that was not rewritten shows up as a mismatch.
    korvale::StatusValues v;
    v.reading1 = std::uint16_t(i % 4000);
    v.reading2 = std::uint16_t((i * 7) % 5000);
    v.reading3 = std::uint16_t((i * 13) % 10000);
    v.reading4 = std::uint16_t(i % 40);
    v.reading5 = std::uint16_t((i * 3) % 500);
    v.reading6 = std::uint16_t((i * 11) % 2000);
    v.statusByte = std::uint8_t(i);
    return korvale::encodeStatusFrame(v);
}

double percentile(const std::vector<double> &sorted, double p)
{
    const std::size_t k =
        std::min(sorted.size() - 1, std::size_t(p * double(sorted.size() - 1) + 0.5));
    return sorted[k];
}

// One of the two windows being measured, with what it has shown so far.
struct Target
{
    const char *name = "";
    std::function<bool()> open;
    std::function<void()> close;
    std::function<QString(const korvale::StatusFrame &, int reading)> expected;
    std::function<QString(int reading)> shown;
    std::vector<double> latencies;
    int mismatches = 0;
};

void report(Target &t)
{
    std::sort(t.latencies.begin(), t.latencies.end());
    std::printf("latency target=%s frames=%zu median_us=%.1f p99_us=%.1f max_us=%.1f "
                "mismatches=%d\n",
                t.name, t.latencies.size(), percentile(t.latencies, 0.5),
                percentile(t.latencies, 0.99), t.latencies.back(), t.mismatches);
}

} // namespace

int main(int argc, char *argv[])
{
    int frames = 2000; // for each of the two
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = std::max(1, std::atoi(argv[++i]));
    }
    constexpr int kBlock = 100;
    constexpr int kWarmUp = 10; // before every block, not counted
    const int blocks = (frames + kBlock - 1) / kBlock;

    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    const QString device = QString::fromLocal8Bit(::ttyname(slave));
    qputenv("KORVALE_COMM1", ::ttyname(slave));

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program itself starts.
    usePanelStyle();
    Form1 form;
    form.show();

    std::atomic<Clock::time_point::rep> lastByteAt{0};
    std::atomic<int> expected{0}; // the frame in flight
    std::atomic<bool> counted{false};
    QSemaphore shown;
    auto onShown = [&](Target &t) {
        const auto now = Clock::now().time_since_epoch().count();
        const double us = double(now - lastByteAt.load()) / 1000.0;
        const korvale::StatusFrame frame = frameNumber(expected.load());
        for (int r = 1; r <= korvale::kReadingCount; ++r) {
            if (t.shown(r) != t.expected(frame, r))
                ++t.mismatches;
        }
        if (counted.load())
            t.latencies.push_back(us);
        shown.release();
    };

    Target panel;
    panel.name = "panel";
    panel.open = [&] {
        form.comm1()->trigger();
        return form.channel().PortOpen();
    };
    panel.close = [&] { form.MSComm1.close(); };
    panel.expected = [](const korvale::StatusFrame &frame, int r) {
        const std::string_view text = korvale::decodeStatusBlock(frame)->text(r);
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    };
    panel.shown = [&](int r) { return form.panel()->label(r)->text(); };
    QObject::connect(&form.MSComm1, &SupplyLink::frame, &form, [&] { onShown(panel); });

    Target floorTarget;
    floorTarget.name = "floor";
    FloorReader floor([&] { onShown(floorTarget); });
    floorTarget.open = [&] { return floor.open(device); };
    floorTarget.close = [&] { floor.close(); };
    floorTarget.expected = &FloorReader::text;
    floorTarget.shown = [&](int r) { return floor.label(r)->text(); };

    std::atomic<bool> failed{false};
    std::thread supply([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pauseUs(1000, 3000);
        auto pause = [&] {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
        };
        int i = 0;
        for (int block = 0; block < 2 * blocks && !failed; ++block) {
            Target &from = block % 2 ? panel : floorTarget;
            Target &to = block % 2 ? floorTarget : panel;
            QMetaObject::invokeMethod(
                &app,
                [&] {
                    if (block > 0)
                        from.close();
                    if (!to.open()) {
                        std::fprintf(stderr, "bench-latency: %s could not open %s\n", to.name,
                                     ::ttyname(slave));
                        failed = true;
                    }
                },
                Qt::BlockingQueuedConnection);
            for (int k = 0; k < kWarmUp + kBlock && !failed; ++k, ++i) {
                expected.store(i);
                counted.store(k >= kWarmUp);
                const korvale::StatusFrame frame = frameNumber(i);
                if (!writeAll(master, frame.data(), frame.size() - 1)) {
                    failed = true;
                    break;
                }
                // Let the window take the first 29 bytes and go back to sleep.
                pause();
                lastByteAt = Clock::now().time_since_epoch().count();
                if (!writeAll(master, frame.data() + frame.size() - 1, 1)) {
                    failed = true;
                    break;
                }
                if (!shown.tryAcquire(1, 2000)) {
                    std::fprintf(stderr, "bench-latency: frame %d was never shown by the %s\n", i,
                                 to.name);
                    failed = true;
                    break;
                }
                pause();
            }
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::exec();
    supply.join();
    if (failed || panel.latencies.empty() || floorTarget.latencies.empty())
        return 1;
    report(panel);
    report(floorTarget);
    return panel.mismatches == 0 && floorTarget.mismatches == 0 ? 0 : 1;
}
