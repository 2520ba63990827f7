// SPDX-License-Identifier: MIT
// Frame-to-display latency of the real window: from the write of a frame's
// last byte on the supply's end of a pseudo-terminal to the moment the six
// captions hold the frame's readings.
//
// The moment is caught by a slot connected to the channel's OnComm after the
// window's own handler: Qt runs the slots of one signal in the order they
// were connected, so this slot runs the instant MSComm1_OnComm has returned,
// that is, right after the last caption was set. Nothing in the window is
// changed or wrapped for the measurement.
//
// A separate thread plays the supply, so the window's thread waits for the
// byte in its event loop as it does in use. Output: one line of key=value.
#include "app/form1.h"
#include "app/panelstyle.h"
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

} // namespace

int main(int argc, char *argv[])
{
    int frames = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = std::max(1, std::atoi(argv[++i]));
    }
    constexpr int kWarmUp = 20;

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
    qputenv("KORVALE_COMM1", ::ttyname(slave));

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program itself starts.
    usePanelStyle();
    Form1 form;
    form.show();
    form.comm1()->trigger();
    if (!form.channel().PortOpen()) {
        std::fprintf(stderr, "bench-latency: the window could not open %s\n", ::ttyname(slave));
        return 1;
    }

    std::atomic<Clock::time_point::rep> lastByteAt{0};
    std::vector<double> latencies;
    latencies.reserve(std::size_t(frames));
    QSemaphore shown;
    int mismatches = 0;
    std::atomic<int> expected{0}; // the frame in flight

    QObject::connect(&form.channel(), &SerialChannel::OnComm, &form, [&] {
        const auto now = Clock::now().time_since_epoch().count();
        const double us = double(now - lastByteAt.load()) / 1000.0;
        const auto readings = korvale::decodeStatusBlock(frameNumber(expected.load()));
        for (int r = 1; r <= korvale::kReadingCount; ++r) {
            const std::string_view text = readings->text(r);
            if (form.panel()->label(r)->text() !=
                QLatin1String(text.data(), qsizetype(text.size())))
                ++mismatches;
        }
        if (expected.load() >= kWarmUp)
            latencies.push_back(us);
        shown.release();
    });

    std::atomic<bool> failed{false};
    std::thread supply([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pauseUs(1000, 3000);
        for (int i = 0; i < kWarmUp + frames; ++i) {
            expected.store(i);
            const korvale::StatusFrame frame = frameNumber(i);
            if (!writeAll(master, frame.data(), frame.size() - 1)) {
                failed = true;
                break;
            }
            // Let the window take the first 29 bytes and go back to sleep.
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
            lastByteAt = Clock::now().time_since_epoch().count();
            if (!writeAll(master, frame.data() + frame.size() - 1, 1)) {
                failed = true;
                break;
            }
            if (!shown.tryAcquire(1, 2000)) {
                std::fprintf(stderr, "bench-latency: frame %d was never shown\n", i);
                failed = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::exec();
    supply.join();
    if (failed || latencies.empty())
        return 1;

    std::sort(latencies.begin(), latencies.end());
    std::printf("latency frames=%zu median_us=%.1f p99_us=%.1f max_us=%.1f mismatches=%d\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
                latencies.back(), mismatches);
    return mismatches == 0 ? 0 : 1;
}
