// SPDX-License-Identifier: MIT
// Starts a program on an X display and measures it from outside:
// - start-up: from just before the spawn to the first time the program puts
//   the content of its mapped top-level window on the screen, seen through
//   the X Damage extension (a drawing that covers at least half the window);
//   mapping alone is not counted as shown, since the window is still empty;
// - CPU: the program's CPU clock (all its threads, nanoseconds) over a wall
//   time window that opens after start-up;
// - peak resident memory: ru_maxrss from wait4 once the program is ended.
// The program is spawned with posix_spawn (vfork-like), so no copy of this
// meter's own memory is ever counted in the child's peak.
//
// startmeter [--settle-ms N] [--cpu-seconds S] [--after-shown CMD]
//            [--timeout-ms N] [--verbose] -- PROGRAM [ARGS...]
// CMD runs through /bin/sh once the window is shown, with BENCH_PID set to
// the program's pid; a failing CMD fails the run. Prints one line of
// key=value.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

double nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double cpuMs(clockid_t clock)
{
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return -1;
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

void sleepMs(double ms)
{
    if (ms <= 0)
        return;
    timespec ts{time_t(ms / 1000), long(ms * 1e6) % 1000000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Windows come and go (Qt makes helper windows): errors about vanished ones
// are expected and harmless.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

struct Tracked
{
    int width = 0;
    int height = 0;
    bool mapped = false;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: startmeter [--settle-ms N] [--cpu-seconds S] [--after-shown CMD] "
                         "[--timeout-ms N] [--verbose] -- PROGRAM [ARGS...]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    double settleMs = 500;
    double cpuSeconds = 0;
    double timeoutMs = 20000;
    const char *afterShown = nullptr;
    bool verbose = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        const bool hasValue = first + 1 < argc;
        if (arg == "--") {
            ++first;
            break;
        } else if (arg == "--settle-ms" && hasValue) {
            settleMs = std::atof(argv[++first]);
        } else if (arg == "--cpu-seconds" && hasValue) {
            cpuSeconds = std::atof(argv[++first]);
        } else if (arg == "--timeout-ms" && hasValue) {
            timeoutMs = std::atof(argv[++first]);
        } else if (arg == "--after-shown" && hasValue) {
            afterShown = argv[++first];
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            usage();
        }
    }
    if (first >= argc)
        usage();

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startmeter: cannot open the X display\n");
        return 1;
    }
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "startmeter: the X server has no Damage extension\n");
        return 1;
    }
    XSetErrorHandler(ignoreXError);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double spawnedAt = nowMs();
    pid_t pid = 0;
    if (const int rc = ::posix_spawnp(&pid, argv[first], nullptr, nullptr, argv + first, environ)) {
        std::fprintf(stderr, "startmeter: cannot start %s: %s\n", argv[first], std::strerror(rc));
        return 1;
    }

    std::map<Window, Tracked> windows;
    double mappedAt = -1;
    double shownAt = -1;
    bool exited = false;
    int status = 0;
    rusage usage{};
    while (shownAt < 0) {
        if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
            exited = true;
            break;
        }
        if (nowMs() - spawnedAt > timeoutMs)
            break;
        if (!XPending(display)) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&fd, 1, 20);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        const double at = nowMs();
        if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
            const XCreateWindowEvent &e = event.xcreatewindow;
            windows[e.window] = Tracked{e.width, e.height, false};
            XDamageCreate(display, e.window, XDamageReportRawRectangles);
            XFlush(display);
        } else if (event.type == ConfigureNotify) {
            if (auto it = windows.find(event.xconfigure.window); it != windows.end()) {
                it->second.width = event.xconfigure.width;
                it->second.height = event.xconfigure.height;
            }
        } else if (event.type == MapNotify) {
            if (auto it = windows.find(event.xmap.window); it != windows.end()) {
                it->second.mapped = true;
                if (mappedAt < 0 && it->second.width > 1 && it->second.height > 1)
                    mappedAt = at;
                if (verbose)
                    std::fprintf(stderr, "%8.2f ms map 0x%lx %dx%d\n", at - spawnedAt,
                                 event.xmap.window, it->second.width, it->second.height);
            }
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto &e = reinterpret_cast<const XDamageNotifyEvent &>(event);
            const auto it = windows.find(e.drawable);
            if (verbose)
                std::fprintf(stderr, "%8.2f ms damage 0x%lx %dx%d+%d+%d of %dx%d\n", at - spawnedAt,
                             e.drawable, e.area.width, e.area.height, e.area.x, e.area.y,
                             e.geometry.width, e.geometry.height);
            if (it != windows.end() && it->second.mapped &&
                2 * long(e.area.width) * e.area.height >=
                    long(e.geometry.width) * e.geometry.height)
                shownAt = at;
        }
    }

    if (exited || shownAt < 0) {
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
        }
        std::fprintf(stderr, "startmeter: %s %s\n", argv[first],
                     exited ? "ended before showing a window" : "showed no window in time");
        return 1;
    }

    int failed = 0;
    if (afterShown) {
        ::setenv("BENCH_PID", std::to_string(pid).c_str(), 1);
        const int rc = std::system(afterShown);
        if (rc != 0) {
            std::fprintf(stderr, "startmeter: the after-shown command failed (%d)\n", rc);
            failed = 1;
        }
    }
    sleepMs(settleMs);

    double cpu = -1;
    double window = 0;
    if (!failed && cpuSeconds > 0) {
        clockid_t clock{};
        if (::clock_getcpuclockid(pid, &clock) != 0) {
            std::fprintf(stderr, "startmeter: no CPU clock for pid %d\n", int(pid));
            failed = 1;
        } else {
            const double wall0 = nowMs();
            const double cpu0 = cpuMs(clock);
            sleepMs(cpuSeconds * 1000);
            const double cpu1 = cpuMs(clock);
            window = nowMs() - wall0;
            cpu = cpu1 - cpu0;
            if (cpu0 < 0 || cpu1 < 0) {
                std::fprintf(stderr, "startmeter: the program ended during the CPU window\n");
                failed = 1;
            }
        }
    }

    ::kill(pid, SIGTERM);
    ::wait4(pid, &status, 0, &usage);
    XCloseDisplay(display);
    if (failed)
        return 1;

    std::printf("startmeter shown_ms=%.1f mapped_ms=%.1f maxrss_kib=%ld", shownAt - spawnedAt,
                mappedAt - spawnedAt, usage.ru_maxrss);
    if (cpuSeconds > 0)
        std::printf(" cpu_ms=%.2f window_s=%.2f cpu_share_pct=%.4f", cpu, window / 1000,
                    100.0 * cpu / window);
    std::printf("\n");
    return 0;
}
