// SPDX-License-Identifier: MIT
// How long a setting takes through the SCPI face's instrument, in frame
// periods, with korvale-sim as the supply: for each row of a table of start
// and target values across each setting's range, the setting is first put at
// its start, then turned to its target by an instrument that knows nothing
// of the knob yet (the first setting), and again, from the same start, by
// one that has learned the steps (a later setting). Each measured job starts
// at a random moment of the frame stream. The floor is one frame period (the
// supply must report a setting once); beside it, a key press confirmed by a
// frame, measured in the same run.
//
//   bench-settings [--seed S] [-- korvale-sim options]
//
// Output: a line per row, then one summary line, key=value.
#include "scpiserve/supplyinstrument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using korvale::scpi::Job;
using korvale::scpi::Setting;

struct Row
{
    Setting setting;
    double start;
    double target;
};

// Both ends of each range, values the coarse notches miss, one notch of the
// last digit, and long and short ways.
const Row kRows[] = {
    {Setting::Voltage, 0, 40},       {Setting::Voltage, 40, 0},
    {Setting::Voltage, 12, 12.34},   {Setting::Voltage, 12.34, 39.99},
    {Setting::Voltage, 39.99, 0.01}, {Setting::Voltage, 5, 27.5},
    {Setting::Voltage, 27.5, 27.49}, {Setting::Voltage, 1, 33.33},
    {Setting::Current, 0, 5},        {Setting::Current, 5, 0},
    {Setting::Current, 1, 0.001},    {Setting::Current, 0.001, 4.321},
    {Setting::Current, 4.321, 2.5},  {Setting::Current, 2.5, 2.501},
    {Setting::Current, 3, 0.123},    {Setting::Current, 0.123, 4.999},
    {Setting::Power, 0, 200},        {Setting::Power, 200, 0},
    {Setting::Power, 100, 55.5},     {Setting::Power, 55.5, 199.9},
    {Setting::Power, 199.9, 0.1},    {Setting::Power, 5, 123.4},
    {Setting::Power, 123.4, 123.5},  {Setting::Power, 70, 10},
};

struct Result
{
    double ms = 0;
    int code = 0;
};

// Runs one job to its end.
Result run(SupplyInstrument &instrument, const Job &job)
{
    QEventLoop loop;
    Result result;
    QElapsedTimer clock;
    clock.start();
    instrument.start(job, [&](const korvale::scpi::Error &e) {
        result = {double(clock.nsecsElapsed()) / 1e6, e.code};
        loop.quit();
    });
    loop.exec();
    return result;
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double most(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

Job set(Setting setting, double value)
{
    return Job{Job::Kind::Set, 0, false, setting, value};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    unsigned seed = 1;
    QStringList simArguments;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            while (++i < argc)
                simArguments << QString::fromLocal8Bit(argv[i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--seed") == 0) {
            seed = unsigned(std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench-settings [--seed S] [-- korvale-sim options]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("supply"));
    QProcess sim;
    sim.start(QStringLiteral(KORVALE_SIM_EXECUTABLE),
              simArguments + QStringList{QStringLiteral("--link"), path});
    if (!sim.waitForStarted(5000))
        return 1;
    for (int i = 0; i < 50 && !QFileInfo::exists(path); ++i)
        pause(100);

    SupplyLink link;
    link.setTarget(1, path);
    link.open();
    SupplyInstrument learned(link);
    for (int i = 0; i < 100 && !learned.latest(); ++i)
        pause(50);
    if (!learned.latest()) {
        std::fprintf(stderr, "bench-settings: no frames from korvale-sim\n");
        return 1;
    }

    std::mt19937 random(seed);
    auto atRandomPhase = [&] {
        pause(int(std::uniform_int_distribution<int>(0, learned.framePeriodMs())(random)));
    };
    std::vector<double> first, later, floor;
    int failures = 0;
    for (const Row &row : kRows) {
        run(learned, set(row.setting, row.start));
        SupplyInstrument fresh(link);
        atRandomPhase();
        const Result a = run(fresh, set(row.setting, row.target));
        run(learned, set(row.setting, row.start));
        atRandomPhase();
        const Result b = run(learned, set(row.setting, row.target));
        atRandomPhase();
        const Result key = run(learned, Job{Job::Kind::Key, 1 + int(row.setting), false, {}, 0});
        const double period = learned.framePeriodMs();
        first.push_back(a.ms / period);
        later.push_back(b.ms / period);
        floor.push_back(key.ms / period);
        failures += (a.code != 0) + (b.code != 0) + (key.code != 0);
        std::printf("setting=%d start=%g target=%g first=%.2f first_code=%d later=%.2f "
                    "later_code=%d key=%.2f\n",
                    int(row.setting), row.start, row.target, a.ms / period, a.code, b.ms / period,
                    b.code, key.ms / period);
        std::fflush(stdout);
    }
    std::printf("period_ms=%d first_median=%.2f first_max=%.2f later_median=%.2f "
                "later_max=%.2f key_median=%.2f key_max=%.2f floor=1 failures=%d\n",
                learned.framePeriodMs(), median(first), most(first), median(later), most(later),
                median(floor), most(floor), failures);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
