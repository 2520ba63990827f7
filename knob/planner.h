// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/commandframe.h"
#include "protocol/statusframe.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// Turning one of the supply's settings to a value as an operator does: its
// key, then knob notches (numbered frames), coarse or fine, watching what the
// frames show. What one notch moves is not known beforehand: it is learned
// from the frames, remembered, and learned again when a prediction fails.
namespace korvale::knob {

enum class Setting
{
    Voltage,
    Current,
    Power
};

// The top of each setting's range, in the frame's units (10 mV, mA, 0.1 W).
inline constexpr std::array<int, 3> kTop = {4000, 5000, 2000};

// What a frame shows of the knob's work: the three settings in the frame's
// units, and whether fine is on.
struct Shown
{
    std::array<int, 3> settings{};
    bool fine = false;
};
// Nothing when a setting is no number, or out of its range.
std::optional<Shown> shownBy(const StatusReadings &readings);

// "12.50" for 1250 of the voltage: the frame's resolution.
std::string formatSetting(Setting setting, int value);

// What one notch moves each setting, 0 while unknown. It belongs to the
// supply, not to one job.
struct KnobMemory
{
    struct Steps
    {
        int coarse = 0;
        int fine = 0;
    };
    std::array<Steps, 3> steps;
};

struct Move
{
    // Frames to send back to back; the next call comes with a frame that
    // began after the last of them left. None and not ended: the next frame
    // is needed before anything is judged.
    std::vector<CommandFrame> frames;
    // The work is over, with `error` 0 (the setting shows the value), -200
    // or -240 and a detail that says what the setting shows; frames that
    // come with an ending are sent without waiting for them.
    bool ended = false;
    int error = 0;
    std::string detail;
};

class Planner
{
public:
    // `target` in the frame's units, within 0..kTop.
    Planner(KnobMemory &memory, Setting setting, int target);

    // First with the last frame before anything was sent, then with each
    // frame that began after the previous move's frames left.
    Move next(const Shown &shown);

private:
    enum class Learning
    {
        None,
        Coarse,
        Fine
    };
    KnobMemory::Steps &steps() { return m_memory.steps[std::size_t(m_setting)]; }
    int index() const { return int(m_setting); }
    Move end(int error, std::string detail);
    Move plan(const Shown &shown);
    // What the last move taught; an ending when it went wrong.
    std::optional<Move> judge(const Shown &shown);

    KnobMemory &m_memory;
    Setting m_setting;
    int m_target;
    int m_start = 0;
    bool m_started = false;
    bool m_fineAtStart = false;
    Shown m_before;
    int m_predicted = 0; // where the known part of the last move ends
    int m_learnSign = 0; // the learning notch's direction
    Learning m_learning = Learning::None;
    int m_rounds = 0;
    int m_stillLooks = 0; // frames in a row that showed nothing moved
};

} // namespace korvale::knob
