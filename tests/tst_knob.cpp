// SPDX-License-Identifier: MIT
#include "knob/planner.h"
#include "protocol/keypad.h"
#include "scpiserve/supplyinstrument.h"
#include "simsupply.h"

#include <QTest>

#include <algorithm>

using namespace korvale;
using namespace korvale::knob;

namespace {

// A supply small enough to reason about: the settings, fine, the selection,
// what a notch moves, and whether a numbered frame asked for more than the
// range holds.
struct FakeSupply
{
    std::array<int, 3> coarse{100, 100, 100};
    std::array<int, 3> fine{1, 1, 1};
    bool frozen = false;    // the knob does nothing
    bool misrouted = false; // U selects the current
    Shown shown{{1200, 1000, 1000}, false};
    std::size_t selected = 0;
    int pastRange = 0;

    void apply(const CommandFrame &frame)
    {
        const int data = frame[3];
        if (frame[2] == std::uint8_t(FrameKind::Key)) {
            if (data == 0x00 || data == 0x04 || data == 0x08)
                selected = std::size_t(data / 4 + (misrouted && data == 0x00));
            if (data == 0x06 || data == 0x02)
                shown.fine = data == 0x06;
            return;
        }
        if (frozen)
            return;
        const int notches = frame[2] == std::uint8_t(FrameKind::NumberUp) ? data : -data;
        int &value = shown.settings[selected];
        const int moved = value + notches * (shown.fine ? fine : coarse)[selected];
        pastRange += moved < 0 || moved > kTop[selected];
        value = std::clamp(moved, 0, kTop[selected]);
    }
};

struct Outcome
{
    int value;
    int error;
    int moves;
};

Outcome turn(FakeSupply &supply, KnobMemory &memory, Setting setting, int target)
{
    Planner planner(memory, setting, target);
    int moves = 0;
    for (int frames = 0; frames < 50; ++frames) {
        const Move move = planner.next(supply.shown);
        for (const CommandFrame &frame : move.frames)
            supply.apply(frame);
        if (move.ended)
            return {supply.shown.settings[std::size_t(setting)], move.error, moves};
        moves += !move.frames.empty();
    }
    return {-1, 0, moves};
}

} // namespace

class TestKnob : public QObject
{
    Q_OBJECT
private slots:
    void planner();
    void onTheSimulator();
};

void TestKnob::planner()
{
    // A supply's notches (coarse U,I,P, fine u,i,p) and faults; a setting
    // turned from its start to a first target while the steps are unknown,
    // then to a second one: the target, where it ends, the error, and the
    // most moves (each one frame period to confirm) it may take.
    struct Turn
    {
        int target, end, error, moves;
    };
    struct Row
    {
        const char *model;
        Setting setting;
        int start;
        Turn first, second;
    };
    const Row rows[] = {
        {"100,100,100,1,1,1", Setting::Voltage, 1200, {3456, 3456, 0, 3}, {125, 125, 0, 1}},
        {"100,100,100,1,1,1", Setting::Current, 1000, {4321, 4321, 0, 3}, {7, 7, 0, 1}},
        {"100,100,100,1,1,1", Setting::Power, 1000, {1999, 1999, 0, 3}, {0, 0, 0, 1}},
        {"25,100,100,5,1,1", Setting::Voltage, 1200, {1253, 1250, -200, 4}, {3000, 3000, 0, 1}},
        {"30,100,100,7,1,1", Setting::Voltage, 1200, {1000, 1000, 0, 3}, {3999, 3999, 0, 1}},
        {"100,20,100,1,6,1", Setting::Current, 1000, {1211, 1210, -200, 4}, {4999, 4998, -200, 1}},
        {"100,100,3,1,1,50", Setting::Power, 1000, {1171, 1171, 0, 4}, {1, 1, 0, 1}},
        {"100,100,100,1,1,1", Setting::Voltage, 3950, {4000, 4000, 0, 1}, {0, 0, 0, 2}}, // top
        {"100,250,100,1,10,1", Setting::Current, 120, {0, 0, 0, 1}, {5000, 5000, 0, 2}},
        {"frozen", Setting::Voltage, 1200, {1300, 1200, -240, 1}, {1100, 1200, -240, 1}},
        {"misrouted", Setting::Voltage, 1200, {1300, 1200, -200, 1}, {1100, 1200, -200, 1}},
    };
    for (const Row &row : rows) {
        FakeSupply supply;
        const QStringList steps = QString(row.model).split(',');
        for (std::size_t i = 0; steps.size() == 6 && i < 3; ++i) {
            supply.coarse[i] = steps[qsizetype(i)].toInt();
            supply.fine[i] = steps[qsizetype(i) + 3].toInt();
        }
        supply.frozen = steps[0] == "frozen";
        supply.misrouted = steps[0] == "misrouted";
        supply.shown.settings[std::size_t(row.setting)] = row.start;
        supply.shown.fine = true;
        KnobMemory memory;
        for (const Turn &t : {row.first, row.second}) {
            supply.pastRange = 0;
            const Outcome got = turn(supply, memory, row.setting, t.target);
            QVERIFY2(got.value == t.end && got.error == t.error && got.moves <= t.moves,
                     qPrintable(QString("%1 to %2").arg(row.model).arg(t.target)));
        }
        // Once the steps are known, no notch goes past a range end, and fine
        // is left as it was found.
        QVERIFY2(supply.pastRange == 0, row.model);
        QVERIFY2(supply.shown.fine || row.second.error != 0, row.model);
    }
}

void TestKnob::onTheSimulator()
{
    using scpi::Job;
    auto set = [](scpi::Setting setting, double value) {
        return Job{Job::Kind::Set, 0, false, setting, value};
    };
    // The simulator's own notches, then another model's: jobs from two
    // connections, all queued at once, end one after the other as the
    // frames show them, one cancelled on the way.
    const std::pair<QStringList, std::array<int, 3>> models[] = {
        {{}, {0, 0, 0}},
        {{"--knob-steps", "50,20,30,5,2,3"}, {0, 0, -200}}, // 55.5 W out of reach: 55.6
    };
    for (const auto &[steps, codes] : models) {
        SimSupply supply;
        QVERIFY(supply.start(steps + QStringList{"--period", "250"}));
        SupplyLink link;
        link.setTarget(1, supply.link());
        link.open();
        SupplyInstrument instrument(link);
        QTRY_VERIFY(instrument.latest());
        const Job off{Job::Kind::Output, 0, false, {}, 0};
        const Job jobs[] = {off, // already off: nothing pressed
                            set(scpi::Setting::Voltage, 23.45),
                            set(scpi::Setting::Current, 0.568),
                            {Job::Kind::Output, 0, true, {}, 0},
                            {Job::Kind::Key, 1, false, {}, 0}, // cancelled
                            set(scpi::Setting::Power, 55.5),
                            off};
        // The pages have filled the line's queue: the jobs' frames wait for
        // their turn.
        for (int i = 0; i < SupplyLink::kSendQueue; ++i)
            QVERIFY(link.send(*pressControl(6).frame)); // CE
        QStringList ended;
        QList<int> errors;
        scpi::Instrument::JobId cancelled = 0;
        for (std::size_t i = 0; i < std::size(jobs); ++i) {
            const QString who = QString(i % 2 ? "B%1" : "A%1").arg(i);
            const auto id = instrument.start(jobs[i], [&, who](const scpi::Error &e) {
                ended << who;
                errors << e.code;
                QCOMPARE(instrument.latest()->indicators.outputOn, who == "B3" || who == "B5");
            });
            if (i == 4)
                cancelled = id;
        }
        instrument.cancel(cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 6, 60000);
        QCOMPARE(ended, QStringList({"A0", "B1", "A2", "B3", "B5", "A6"}));
        QCOMPARE(errors, QList<int>({0, codes[0], codes[1], 0, codes[2], 0}));
        const StatusReadings shown = *instrument.latest();
        QCOMPARE(QString::asprintf("%.2f %.3f %.1f", shown.voltageSetting(), shown.currentSetting(),
                                   shown.powerSetting()),
                 QString(codes[2] ? "23.45 0.568 55.6" : "23.45 0.568 55.5"));
        QVERIFY(instrument.knobMemory().steps[0].coarse != 0);

        // Silent: the job ends in -240 within a few frame periods.
        supply.signal(SIGSTOP);
        QTRY_VERIFY(!instrument.latest());
        errors.clear();
        instrument.start(set(scpi::Setting::Voltage, 10),
                         [&](const scpi::Error &e) { errors << e.code; });
        QTRY_COMPARE(errors, QList<int>({-240}));
        supply.signal(SIGCONT);
    }
}

QTEST_GUILESS_MAIN(TestKnob)
#include "tst_knob.moc"
