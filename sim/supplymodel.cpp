// SPDX-License-Identifier: MIT
#include "sim/supplymodel.h"

#include <algorithm>
#include <cmath>

namespace korvale::sim {

namespace {

std::uint16_t scaled(double value, double unitsPerOne)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(value * unitsPerOne), 0L, 65535L));
}

} // namespace

void SupplyModel::apply(const ReceivedCommand &command)
{
    m_remote = true;
    switch (command.kind) {
    case FrameKind::NumberUp:
        step(command.data);
        return;
    case FrameKind::NumberDown:
        step(-int(command.data));
        return;
    case FrameKind::Key:
        break;
    }
    switch (command.data) {
    case kKeyU:
        m_selected = Setting::Voltage;
        break;
    case kKeyI:
        m_selected = Setting::Current;
        break;
    case kKeyP:
        m_selected = Setting::Power;
        break;
    case kKeyF:
        m_fine = true;
        break;
    case kKeyN:
        m_fine = false;
        break;
    case kKeyOutput:
        m_outputOn = !m_outputOn;
        break;
    default:
        break;
    }
}

void SupplyModel::step(int steps)
{
    // By default coarse steps are 1 V, 0.1 A and 10 W; fine steps the last
    // digit shown.
    const auto index = static_cast<std::size_t>(m_selected);
    const int stepSize = m_fine ? m_steps.fine[index] : m_steps.coarse[index];
    auto move = [&](int &value, int max) { value = std::clamp(value + steps * stepSize, 0, max); };
    switch (m_selected) {
    case Setting::Voltage:
        move(m_voltage, kMaxVoltage);
        break;
    case Setting::Current:
        move(m_current, kMaxCurrent);
        break;
    case Setting::Power:
        move(m_power, kMaxPower);
        break;
    }
}

SupplyModel::Output SupplyModel::output() const
{
    if (!m_outputOn)
        return {};
    // Each setting caps the voltage across the load; the lowest cap wins, and
    // on a tie the earlier of voltage, current, power is named.
    const double byVoltage = m_voltage / 100.0;
    const double byCurrent = m_current / 1000.0 * m_loadOhms;
    const double byPower = std::sqrt(m_power / 10.0 * m_loadOhms);
    Output out;
    out.volts = byVoltage;
    out.mode = Mode::Voltage;
    if (byCurrent < out.volts) {
        out.volts = byCurrent;
        out.mode = Mode::Current;
    }
    if (byPower < out.volts) {
        out.volts = byPower;
        out.mode = Mode::Power;
    }
    out.amps = out.volts / m_loadOhms;
    out.watts = out.volts * out.amps;
    return out;
}

std::uint8_t SupplyModel::statusByte() const
{
    std::uint8_t status = kVoltageModeBit | kCurrentModeBit | kPowerModeBit;
    if (m_outputOn) {
        status |= kOutputBit;
        // The panel blinks the label whose bit is clear.
        switch (output().mode) {
        case Mode::Voltage:
            status &= ~kVoltageModeBit;
            break;
        case Mode::Current:
            status &= ~kCurrentModeBit;
            break;
        case Mode::Power:
            status &= ~kPowerModeBit;
            break;
        }
    }
    if (m_remote)
        status |= kRemoteBit;
    if (m_overtemp)
        status |= kOvertempBit;
    if (m_fine)
        status |= kFineBit;
    return status;
}

StatusValues SupplyModel::statusValues() const
{
    const Output out = output();
    StatusValues values;
    values.reading1 = scaled(out.volts, 100);
    values.reading2 = scaled(out.amps, 1000);
    values.reading3 = scaled(out.watts, 10);
    values.reading4 = static_cast<std::uint16_t>(m_voltage);
    values.reading5 = static_cast<std::uint16_t>(m_current);
    values.reading6 = static_cast<std::uint16_t>(m_power);
    values.statusByte = statusByte();
    return values;
}

} // namespace korvale::sim
