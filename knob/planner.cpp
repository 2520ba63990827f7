// SPDX-License-Identifier: MIT
#include "knob/planner.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace korvale::knob {

namespace {

// Unknown steps are learned in a few moves; more than this means the knob
// does not do what it seems to, and the client must not wait for ever.
constexpr int kMaxMoves = 6;
constexpr int kMostNotches = 255;
constexpr std::array<int, 3> kUnitsPerOne = {100, 1000, 10};
constexpr std::array<int, 3> kDecimals = {2, 3, 1};
constexpr std::array<const char *, 3> kNames = {"voltage", "current", "power"};
constexpr std::array<std::uint8_t, 3> kSelectKeys = {0x00, 0x04, 0x08}; // U, I, P
constexpr std::uint8_t kFineOn = 0x06;                                  // F
constexpr std::uint8_t kFineOff = 0x02;                                 // N

int sign(int x)
{
    return (x > 0) - (x < 0);
}

int floorDiv(int a, int b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int notchFrames(int notches)
{
    return (std::abs(notches) + kMostNotches - 1) / kMostNotches;
}

CommandFrame key(std::uint8_t code)
{
    CommandFrame frame;
    fillKeyFrame(frame, code);
    return frame;
}

void addNotches(std::vector<CommandFrame> &frames, int notches)
{
    while (notches != 0) {
        const int n = std::min(std::abs(notches), kMostNotches);
        CommandFrame frame;
        fillNumberedFrame(frame, notches > 0 ? FrameKind::NumberUp : FrameKind::NumberDown,
                          std::uint8_t(n));
        frames.push_back(frame);
        notches -= sign(notches) * n;
    }
}

} // namespace

std::optional<Shown> shownBy(const StatusReadings &readings)
{
    Shown shown;
    for (std::size_t i = 0; i < 3; ++i) {
        const double value = readings.numbers[3 + i] * kUnitsPerOne[i];
        // A garbled frame may carry numbers no setting can have.
        if (!(value >= 0 && value <= kTop[i]))
            return std::nullopt;
        shown.settings[i] = int(std::lround(value));
    }
    shown.fine = readings.indicators.fine;
    return shown;
}

std::string formatSetting(Setting setting, int value)
{
    const auto i = std::size_t(setting);
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", kDecimals[i], double(value) / kUnitsPerOne[i]);
    return text;
}

Planner::Planner(KnobMemory &memory, Setting setting, int target)
    : m_memory(memory), m_setting(setting), m_target(target)
{
}

Move Planner::end(int error, std::string detail)
{
    Move move;
    move.ended = true;
    move.error = error;
    move.detail = std::move(detail);
    return move;
}

Move Planner::next(const Shown &shown)
{
    if (!m_started) {
        m_started = true;
        m_start = shown.settings[std::size_t(index())];
        m_fineAtStart = shown.fine;
    } else if (auto verdict = judge(shown)) {
        return *verdict;
    }
    return plan(shown);
}

std::optional<Move> Planner::judge(const Shown &shown)
{
    const auto own = std::size_t(index());
    const int now = shown.settings[own];
    const int before = m_before.settings[own];
    for (std::size_t other = 0; other < 3; ++other) {
        if (other != own && shown.settings[other] != m_before.settings[other])
            return end(-200, std::string("the ") + kNames[other] + " setting moved " +
                                 (now == before ? "instead" : "too"));
    }
    if (now == before) {
        // The frame may have been gathered just before the notches landed:
        // one more decides.
        if (++m_stillLooks < 2)
            return Move{};
        return end(-240, std::string("the ") + kNames[own] + " setting did not move");
    }
    m_stillLooks = 0;
    KnobMemory::Steps &known = steps();
    if (m_learning != Learning::None) {
        const int learned = (now - m_predicted) * m_learnSign;
        // Clamped at a range end, a notch shows only part of its step.
        const bool clamped = now == 0 || now == kTop[own];
        int &step = m_learning == Learning::Coarse ? known.coarse : known.fine;
        if (learned <= 0)
            known = {};
        else if (!clamped)
            step = learned;
    } else if (now != m_predicted) {
        known = {}; // the steps have changed, or were never what they seemed
    }
    if (now != m_target && m_rounds >= kMaxMoves)
        return end(-200, std::string("the ") + kNames[own] + " setting shows " +
                             formatSetting(m_setting, now) + ", not " +
                             formatSetting(m_setting, m_target));
    return std::nullopt;
}

Move Planner::plan(const Shown &shown)
{
    const auto own = std::size_t(index());
    const int now = shown.settings[own];
    m_before = shown;
    m_stillLooks = 0;
    if (now == m_target) {
        Move done = end(0, {});
        // Fine as it was found costs no wait: the value is shown already.
        if (shown.fine != m_fineAtStart)
            done.frames.push_back(key(m_fineAtStart ? kFineOn : kFineOff));
        return done;
    }

    const KnobMemory::Steps known = steps();
    const int top = kTop[own];
    // The end may be the closest value the knob reaches, never one past the
    // target as seen from where the setting started.
    const int side = sign(m_target - m_start);
    int coarse = 0;
    int fine = 0;
    int predicted = now;
    m_learning = Learning::None;
    if (known.coarse != 0) {
        struct Best
        {
            int error = std::numeric_limits<int>::max();
            int cost = 0;
            int coarse = 0;
            int fine = 0;
        };
        auto search = [&](bool keepSide) {
            Best best;
            const int lowest = -floorDiv(now, known.coarse);
            const int highest = floorDiv(top - now, known.coarse);
            for (int a = lowest; a <= highest; ++a) {
                const int between = now + a * known.coarse;
                std::array<int, 3> fines = {0, 0, 0};
                if (known.fine != 0) {
                    fines[1] = floorDiv(m_target - between, known.fine);
                    fines[2] = fines[1] + 1;
                }
                for (const int b : fines) {
                    const int end = between + b * known.fine;
                    if (end < 0 || end > top || (keepSide && (m_target - end) * side < 0))
                        continue;
                    const int error = std::abs(m_target - end);
                    const int cost = notchFrames(a) + notchFrames(b) + (a != 0 && shown.fine) +
                                     (b != 0 && (a != 0 || !shown.fine));
                    if (error < best.error || (error == best.error && cost < best.cost))
                        best = {error, cost, a, b};
                }
            }
            return best;
        };
        Best best = search(true);
        if (best.error == std::numeric_limits<int>::max())
            best = search(false);
        coarse = best.coarse;
        fine = best.fine;
        predicted = now + coarse * known.coarse + fine * known.fine;
        if (predicted != m_target && known.fine == 0)
            m_learning = Learning::Fine;
        else if (predicted == now)
            return end(-200, std::string("the ") + kNames[own] + " setting shows " +
                                 formatSetting(m_setting, now) +
                                 ", the closest the knob reaches to " +
                                 formatSetting(m_setting, m_target));
    } else {
        m_learning = Learning::Coarse;
    }

    Move move;
    move.frames.push_back(key(kSelectKeys[own]));
    bool fineOn = shown.fine;
    auto setFine = [&](bool on) {
        if (fineOn != on)
            move.frames.push_back(key(on ? kFineOn : kFineOff));
        fineOn = on;
    };
    if (coarse != 0 || m_learning == Learning::Coarse) {
        setFine(false);
        addNotches(move.frames, m_learning == Learning::Coarse ? sign(m_target - now) : coarse);
    }
    if (fine != 0 || m_learning == Learning::Fine) {
        setFine(true);
        addNotches(move.frames, m_learning == Learning::Fine ? sign(m_target - predicted) : fine);
    }
    // Fine as it was found, when this move should end the work: the frame
    // that confirms the value shows it too, so it costs no wait.
    if (m_learning == Learning::None)
        setFine(m_fineAtStart);
    m_learnSign = sign(m_target - predicted);
    m_predicted = predicted;
    ++m_rounds;
    return move;
}

} // namespace korvale::knob
