// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "protocol/statusframe.h"
#include "sim/commandreader.h"

namespace korvale::sim {

// What one notch moves each setting (voltage, current, power), coarse and
// with fine on, in the frame's units.
struct KnobSteps
{
    std::array<int, 3> coarse{100, 100, 100};
    std::array<int, 3> fine{1, 1, 1};
};

// The simulator's own idea of a supply, small enough to predict by hand; it
// claims nothing about how the real one behaves. Settings are kept as whole
// numbers in the units the status frame carries them in.
class SupplyModel
{
public:
    enum class Setting
    {
        Voltage,
        Current,
        Power
    };
    enum class Mode
    {
        Voltage,
        Current,
        Power
    };

    // Key codes the model reacts to; every other code is accepted and ignored.
    static constexpr std::uint8_t kKeyU = 0x00;
    static constexpr std::uint8_t kKeyN = 0x02;
    static constexpr std::uint8_t kKeyI = 0x04;
    static constexpr std::uint8_t kKeyF = 0x06;
    static constexpr std::uint8_t kKeyP = 0x08;
    static constexpr std::uint8_t kKeyOutput = 0x0C;

    static constexpr int kMaxVoltage = 4000; // 10 mV, 40.00 V
    static constexpr int kMaxCurrent = 5000; // mA, 5.000 A
    static constexpr int kMaxPower = 2000;   // 0.1 W, 200.0 W

    static constexpr std::uint8_t kRemoteBit = 0x02;
    static constexpr std::uint8_t kOutputBit = 0x04;
    static constexpr std::uint8_t kOvertempBit = 0x08;
    static constexpr std::uint8_t kPowerModeBit = 0x10;
    static constexpr std::uint8_t kCurrentModeBit = 0x20;
    static constexpr std::uint8_t kVoltageModeBit = 0x40;
    static constexpr std::uint8_t kFineBit = 0x80;

    struct Output
    {
        double volts = 0;
        double amps = 0;
        double watts = 0;
        Mode mode = Mode::Voltage; // meaningful only while the output is on
    };

    explicit SupplyModel(double loadOhms = 10.0, KnobSteps steps = {})
        : m_loadOhms(loadOhms), m_steps(steps)
    {
    }

    void apply(const ReceivedCommand &command);
    void setOvertemp(bool on) { m_overtemp = on; }

    int voltageSetting() const { return m_voltage; } // 10 mV
    int currentSetting() const { return m_current; } // mA
    int powerSetting() const { return m_power; }     // 0.1 W
    Setting selected() const { return m_selected; }
    bool fine() const { return m_fine; }
    bool outputOn() const { return m_outputOn; }
    double loadOhms() const { return m_loadOhms; }

    Output output() const;
    std::uint8_t statusByte() const;
    StatusValues statusValues() const;

private:
    void step(int steps);

    double m_loadOhms;
    KnobSteps m_steps;
    int m_voltage = 1200;
    int m_current = 1000;
    int m_power = 1000;
    Setting m_selected = Setting::Voltage;
    bool m_fine = false;
    bool m_outputOn = false;
    bool m_remote = false;
    bool m_overtemp = false;
};

} // namespace korvale::sim
