// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// The status registers of one connection: IEEE 488.2's event status and
// service request, SCPI's operation and questionable groups.
namespace korvale::scpi {

// Standard event status register bits.
namespace Esr {
inline constexpr std::uint8_t OperationComplete = 0x01;
inline constexpr std::uint8_t QueryError = 0x04;
inline constexpr std::uint8_t DeviceError = 0x08;
inline constexpr std::uint8_t ExecutionError = 0x10;
inline constexpr std::uint8_t CommandError = 0x20;
} // namespace Esr

// Operation condition bits: the constant mode that limits the output.
namespace Oper {
inline constexpr std::uint16_t ConstantVoltage = 1 << 8;
inline constexpr std::uint16_t ConstantCurrent = 1 << 10;
inline constexpr std::uint16_t ConstantPower = 1 << 11;
} // namespace Oper

namespace Ques {
inline constexpr std::uint16_t Overtemperature = 1 << 4;
} // namespace Ques

// A condition, the rising edges it latched since the event was last read,
// and the mask of events that reach the status byte.
struct StatusGroup
{
    std::uint16_t condition = 0;
    std::uint16_t event = 0;
    std::uint16_t enable = 0;

    void see(std::uint16_t now)
    {
        event |= now & ~condition;
        condition = now;
    }
    std::uint16_t takeEvent()
    {
        const std::uint16_t e = event;
        event = 0;
        return e;
    }
    bool summary() const { return (event & enable) != 0; }
};

struct Registers
{
    std::uint8_t esr = 0;
    std::uint8_t ese = 0;
    std::uint8_t sre = 0;
    StatusGroup operation;
    StatusGroup questionable;

    // The bit an error sets in the event status register, by its class.
    void errorEvent(int code)
    {
        if (code <= -100 && code > -200)
            esr |= Esr::CommandError;
        else if (code <= -200 && code > -300)
            esr |= Esr::ExecutionError;
        else if (code <= -300 && code > -400)
            esr |= Esr::DeviceError;
        else if (code <= -400 && code > -500)
            esr |= Esr::QueryError;
    }

    std::uint8_t statusByte(bool errorsQueued) const
    {
        std::uint8_t stb = 0;
        if (errorsQueued)
            stb |= 0x04;
        if (questionable.summary())
            stb |= 0x08;
        if ((esr & ese) != 0)
            stb |= 0x20;
        if (operation.summary())
            stb |= 0x80;
        if ((stb & sre & ~0x40) != 0)
            stb |= 0x40;
        return stb;
    }

    // *CLS
    void clearEvents()
    {
        esr = 0;
        operation.event = 0;
        questionable.event = 0;
    }
};

} // namespace korvale::scpi
