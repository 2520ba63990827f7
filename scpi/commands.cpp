// SPDX-License-Identifier: MIT
#include "scpi/commands.h"

#include "protocol/commandframe.h"
#include "protocol/keypad.h"
#include "scpi/numbers.h"

#include <array>
#include <cmath>
#include <optional>
#include <strings.h>

namespace korvale::scpi {

namespace {

// SCPI's not-a-number: what a reading answers when there is none.
constexpr const char *kNotANumber = "9.91E+37";

// Voltage, current, power: their ranges, and their readings in
// StatusReadings::numbers (output, then setting).
constexpr std::array<Quantity, 3> kQuantities = {Quantity{40, 'V', 2}, Quantity{5, 'A', 3},
                                                 Quantity{200, 'W', 1}};
constexpr std::array<Setting, 3> kSettings = {Setting::Voltage, Setting::Current, Setting::Power};
constexpr int kSettingReading = 3;

void answer(State &s, std::string text)
{
    s.answers.push_back(std::move(text));
}

void answer(State &s, unsigned n)
{
    s.answers.push_back(std::to_string(n));
}

// A reading of the last frame, or not-a-number and -230 so that a script
// never takes an old value for a new one.
bool stale(State &s, const StatusReadings *r, double value = 0)
{
    if (r && !std::isnan(value))
        return false;
    answer(s, kNotANumber);
    s.fail(-230);
    return true;
}

template <int Reading> void reading(State &s, const Unit &)
{
    const StatusReadings *r = s.instrument.latest();
    const double value = r ? r->numbers[Reading] : NAN;
    if (!stale(s, r, value))
        answer(s, fixed(value, kQuantities[Reading % 3].decimals));
}

template <int S> void setSetting(State &s, const Unit &u)
{
    const auto v = quantityValue(u.parameters[0], kQuantities[S]);
    if (v.error)
        return s.fail(v.error);
    Job job;
    job.kind = Job::Kind::Set;
    job.setting = kSettings[S];
    job.value = v.value;
    s.jobs.push_back(job);
}

template <int S> void querySetting(State &s, const Unit &u)
{
    if (u.parameters.empty())
        return reading<kSettingReading + S>(s, u);
    const auto v = quantityLimit(u.parameters[0], kQuantities[S]);
    if (v.error)
        return s.fail(v.error);
    answer(s, fixed(v.value, kQuantities[S].decimals));
}

void apply(State &s, const Unit &u)
{
    const auto volts = quantityValue(u.parameters[0], kQuantities[0]);
    const auto amps =
        u.parameters.size() > 1 ? quantityValue(u.parameters[1], kQuantities[1]) : Value<double>{};
    if (volts.error || amps.error)
        return s.fail(volts.error ? volts.error : amps.error);
    setSetting<0>(s, u);
    if (u.parameters.size() > 1) {
        Unit current;
        current.parameters = {u.parameters[1]};
        setSetting<1>(s, current);
    }
}

void output(State &s, const Unit &u)
{
    const auto on = booleanValue(u.parameters[0]);
    if (on.error)
        return s.fail(on.error);
    Job job;
    job.kind = Job::Kind::Output;
    job.on = on.value;
    s.jobs.push_back(job);
}

void outputQuery(State &s, const Unit &)
{
    const StatusReadings *r = s.instrument.latest();
    if (!stale(s, r))
        answer(s, r->indicators.outputOn ? "1" : "0");
}

// A key by the caption printed on it (exact case first, since "U" and "u"
// are two keys), "IO" for I/O, or by its code.
std::optional<int> keyOf(const Parameter &p)
{
    if (p.type == Parameter::Type::Numeric) {
        const auto code = integerValue(p, 255);
        for (int command = 1; !code.error && command <= 11; ++command) {
            if (keyCodeOfCommand(command) == code.value)
                return command;
        }
        return std::nullopt;
    }
    std::optional<int> command = commandOfCaption(p.text);
    std::string_view name = p.text;
    if (strcasecmp(p.text.c_str(), "IO") == 0)
        name = "I/O";
    for (int c = 1; !command && c <= 11; ++c) {
        const std::string_view caption = keyCaptionOfCommand(c);
        if (caption.size() == name.size() &&
            strncasecmp(caption.data(), name.data(), name.size()) == 0)
            command = c;
    }
    if (command && !keyCodeOfCommand(*command))
        return std::nullopt; // L and REM
    return command;
}

void key(State &s, const Unit &u)
{
    const Parameter &p = u.parameters[0];
    if (p.type == Parameter::Type::Numeric && !p.suffix.empty())
        return s.fail(-138);
    const std::optional<int> command = keyOf(p);
    if (!command)
        return s.fail(-224);
    Job job;
    job.kind = Job::Kind::Key;
    job.command = *command;
    s.jobs.push_back(job);
}

// In time that depends only on the given token's length; no token opens
// nothing, as on the page.
bool tokenGiven(const State &s, const Parameter &p)
{
    const std::string &token = s.config.token;
    unsigned difference =
        unsigned(p.text.size() != token.size() || token.empty() || !p.suffix.empty());
    for (std::size_t i = 0; i < p.text.size(); ++i)
        difference |= unsigned(p.text[i] ^ (i < token.size() ? token[i] : 0));
    return difference == 0;
}

template <bool Unlock> void password(State &s, const Unit &u)
{
    if (!tokenGiven(s, u.parameters[0]))
        return s.fail(-224);
    s.unlocked = Unlock;
}

template <std::uint8_t Registers::*Mask> void setMask(State &s, const Unit &u)
{
    const auto v = integerValue(u.parameters[0], 255);
    if (v.error)
        return s.fail(v.error);
    // Bit 6 of the service request enable is the summary itself.
    s.registers.*Mask = std::uint8_t(Mask == &Registers::sre ? v.value & ~0x40u : v.value);
}

template <std::uint8_t Registers::*Mask> void queryMask(State &s, const Unit &)
{
    answer(s, s.registers.*Mask);
}

template <StatusGroup Registers::*Group> void condition(State &s, const Unit &)
{
    s.lookAtSupply();
    if (!stale(s, s.instrument.latest()))
        answer(s, (s.registers.*Group).condition);
}

template <StatusGroup Registers::*Group> void event(State &s, const Unit &)
{
    s.lookAtSupply();
    answer(s, (s.registers.*Group).takeEvent());
}

template <StatusGroup Registers::*Group> void setEnable(State &s, const Unit &u)
{
    const auto v = integerValue(u.parameters[0], 65535);
    if (v.error)
        return s.fail(v.error);
    // Bit 15 is never used by a status register.
    (s.registers.*Group).enable = std::uint16_t(v.value & 0x7FFF);
}

template <StatusGroup Registers::*Group> void queryEnable(State &s, const Unit &)
{
    answer(s, (s.registers.*Group).enable);
}

constexpr auto kOper = &Registers::operation;
constexpr auto kQues = &Registers::questionable;

const Command kCommands[] = {
    {"*IDN?", 0, 0, false, [](State &s, const Unit &) { answer(s, s.config.identity); }},
    {"*RST", 0, 0, true,
     [](State &s, const Unit &) {
         Job off;
         off.kind = Job::Kind::Output;
         s.jobs.push_back(off);
     }},
    {"*CLS", 0, 0, false,
     [](State &s, const Unit &) {
         s.errors.clear();
         s.registers.clearEvents();
     }},
    {"*ESE", 1, 1, false, setMask<&Registers::ese>},
    {"*ESE?", 0, 0, false, queryMask<&Registers::ese>},
    {"*ESR?", 0, 0, false,
     [](State &s, const Unit &) {
         answer(s, s.registers.esr);
         s.registers.esr = 0;
     }},
    // Commands run one after the other: whatever came before is done.
    {"*OPC", 0, 0, false,
     [](State &s, const Unit &) { s.registers.esr |= Esr::OperationComplete; }},
    {"*OPC?", 0, 0, false, [](State &s, const Unit &) { answer(s, "1"); }},
    {"*WAI", 0, 0, false, [](State &, const Unit &) {}},
    {"*SRE", 1, 1, false, setMask<&Registers::sre>},
    {"*SRE?", 0, 0, false, queryMask<&Registers::sre>},
    {"*STB?", 0, 0, false,
     [](State &s, const Unit &) {
         s.lookAtSupply();
         answer(s, s.registers.statusByte(!s.errors.empty()));
     }},
    {"*TST?", 0, 0, false,
     [](State &s, const Unit &) { answer(s, s.instrument.latest() ? "0" : "1"); }},
    {"*OPT?", 0, 0, false, [](State &s, const Unit &) { answer(s, "0"); }},
    {"SYSTem:ERRor[:NEXT]?", 0, 0, false,
     [](State &s, const Unit &) { answer(s, s.errors.take()); }},
    {"SYSTem:VERSion?", 0, 0, false, [](State &s, const Unit &) { answer(s, "1999.0"); }},
    {"SYSTem:PASSword[:CENable]", 1, 1, false, password<true>},
    {"SYSTem:PASSword:CDISable", 1, 1, false, password<false>},
    {"SYSTem:PASSword:STATe?", 0, 0, false,
     [](State &s, const Unit &) { answer(s, s.unlocked ? "1" : "0"); }},
    {"SYSTem:KEY", 1, 1, true, key},
    {"MEASure[:SCALar]:VOLTage[:DC]?", 0, 0, false, reading<0>},
    {"MEASure[:SCALar]:CURRent[:DC]?", 0, 0, false, reading<1>},
    {"MEASure[:SCALar]:POWer[:DC]?", 0, 0, false, reading<2>},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", 1, 1, true, setSetting<0>},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]?", 0, 1, false, querySetting<0>},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]", 1, 1, true, setSetting<1>},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]?", 0, 1, false, querySetting<1>},
    {"[SOURce:]POWer[:LEVel][:IMMediate][:AMPLitude]", 1, 1, true, setSetting<2>},
    {"[SOURce:]POWer[:LEVel][:IMMediate][:AMPLitude]?", 0, 1, false, querySetting<2>},
    {"APPLy", 1, 2, true, apply},
    {"OUTPut[:STATe]", 1, 1, true, output},
    {"OUTPut[:STATe]?", 0, 0, false, outputQuery},
    {"STATus:OPERation[:EVENt]?", 0, 0, false, event<kOper>},
    {"STATus:OPERation:CONDition?", 0, 0, false, condition<kOper>},
    {"STATus:OPERation:ENABle", 1, 1, false, setEnable<kOper>},
    {"STATus:OPERation:ENABle?", 0, 0, false, queryEnable<kOper>},
    {"STATus:QUEStionable[:EVENt]?", 0, 0, false, event<kQues>},
    {"STATus:QUEStionable:CONDition?", 0, 0, false, condition<kQues>},
    {"STATus:QUEStionable:ENABle", 1, 1, false, setEnable<kQues>},
    {"STATus:QUEStionable:ENABle?", 0, 0, false, queryEnable<kQues>},
    {"STATus:PRESet", 0, 0, false,
     [](State &s, const Unit &) {
         s.registers.operation.enable = 0;
         s.registers.questionable.enable = 0;
     }},
};

} // namespace

void State::fail(int code, std::string detail)
{
    registers.errorEvent(code);
    if (!errors.push(Error{code, std::move(detail)}))
        registers.errorEvent(-350);
}

void State::lookAtSupply()
{
    std::uint16_t operation = 0;
    std::uint16_t questionable = 0;
    if (const StatusReadings *r = instrument.latest()) {
        switch (r->indicators.BlinkTarget) {
        case 8:
            operation = Oper::ConstantVoltage;
            break;
        case 9:
            operation = Oper::ConstantCurrent;
            break;
        case 10:
            operation = Oper::ConstantPower;
            break;
        default:
            break;
        }
        if (r->indicators.overtemperature)
            questionable = Ques::Overtemperature;
    }
    registers.operation.see(operation);
    registers.questionable.see(questionable);
}

std::span<const Command> commands()
{
    return kCommands;
}

const Command *findCommand(const Unit &unit, std::span<const std::string> nodes)
{
    static const std::vector<HeaderPattern> patterns = [] {
        std::vector<HeaderPattern> list;
        for (const Command &command : kCommands)
            list.emplace_back(command.header);
        return list;
    }();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const HeaderPattern &pattern = patterns[i];
        if (pattern.common() == unit.common && pattern.query() == unit.query &&
            pattern.matches(nodes))
            return &kCommands[i];
    }
    return nullptr;
}

} // namespace korvale::scpi
