// SPDX-License-Identifier: MIT
#include "sim/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

namespace korvale::sim {

namespace {

constexpr int kMaxCount = 1000000;
constexpr int kMaxMs = 3600 * 1000;

std::optional<int> wholeNumber(std::string_view text, int min, int max)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ohms(std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0.001 || value > 1e6)
        return std::nullopt;
    return value;
}

// Six whole numbers "U,I,P,u,i,p" from 1 to 9999, coarse then fine.
std::optional<KnobSteps> knobSteps(std::string_view text)
{
    KnobSteps steps;
    for (int i = 0; i < 6; ++i) {
        const std::size_t comma = i < 5 ? text.find(',') : text.size();
        if (comma == std::string_view::npos)
            return std::nullopt;
        const auto n = wholeNumber(text.substr(0, comma), 1, 9999);
        if (!n)
            return std::nullopt;
        (i < 3 ? steps.coarse : steps.fine)[std::size_t(i % 3)] = *n;
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return steps;
}

struct Flag
{
    std::string_view name;
    std::function<void(Options &)> set;
};

struct Valued
{
    std::string_view name;
    std::string_view wants; // for the error message
    std::function<bool(Options &, std::string_view)> set;
};

auto count(int FaultOptions::*field)
{
    return [field](Options &o, std::string_view v) {
        const auto n = wholeNumber(v, 1, kMaxCount);
        if (n)
            o.faults.*field = *n;
        return n.has_value();
    };
}

// Sets `field` to what `parse` makes of the value, if it makes anything.
template <typename T, typename Parse> auto parsedInto(T Options::*field, Parse parse)
{
    return [field, parse](Options &o, std::string_view v) {
        const auto value = parse(v);
        if (value)
            o.*field = *value;
        return value.has_value();
    };
}

auto milliseconds(int Options::*field, int min)
{
    return [field, min](Options &o, std::string_view v) {
        const auto n = wholeNumber(v, min, kMaxMs);
        if (n)
            o.*field = *n;
        return n.has_value();
    };
}

const std::vector<Flag> &flags()
{
    static const std::vector<Flag> list = {
        {"--no-pace", [](Options &o) { o.pace = false; }},
        {"--bursts", [](Options &o) { o.lumps = LumpKind::Jitter; }},
        {"--numbered", [](Options &o) { o.numbered = true; }},
        {"--overtemp", [](Options &o) { o.overtemp = true; }},
    };
    return list;
}

const std::vector<Valued> &valued()
{
    static const std::vector<Valued> list = {
        {"--link", "a path",
         [](Options &o, std::string_view v) {
             o.linkPath = v;
             return !v.empty();
         }},
        {"--command-log", "a path",
         [](Options &o, std::string_view v) {
             o.commandLog = v;
             return !v.empty();
         }},
        {"--period", "milliseconds from 10 to 3600000", milliseconds(&Options::periodMs, 10)},
        {"--lumps", "one of none, jitter, usb, fifo, network",
         parsedInto(&Options::lumps, lumpKindNamed)},
        {"--load", "ohms from 0.001 to 1000000", parsedInto(&Options::loadOhms, ohms)},
        {"--knob-steps", "six whole numbers from 1 to 9999, U,I,P,u,i,p",
         parsedInto(&Options::knobSteps, knobSteps)},
        {"--hangup-after", "milliseconds from 1 to 3600000",
         milliseconds(&Options::hangupAfterMs, 1)},
        {"--hangup-for", "milliseconds from 0 to 3600000", milliseconds(&Options::hangupForMs, 0)},
        {"--silence-every", "a count from 1 to 1000000", count(&FaultOptions::silenceEvery)},
        {"--silence-ms", "milliseconds from 1 to 3600000",
         [](Options &o, std::string_view v) {
             const auto n = wholeNumber(v, 1, kMaxMs);
             if (n)
                 o.faults.silenceMs = *n;
             return n.has_value();
         }},
        {"--short-every", "a count from 1 to 1000000", count(&FaultOptions::shortEvery)},
        {"--long-every", "a count from 1 to 1000000", count(&FaultOptions::longEvery)},
        {"--midblock-every", "a count from 1 to 1000000", count(&FaultOptions::midblockEvery)},
        {"--garbage-every", "a count from 1 to 1000000", count(&FaultOptions::garbageEvery)},
        {"--out-of-range-every", "a count from 1 to 1000000",
         count(&FaultOptions::outOfRangeEvery)},
        {"--drop-every", "a count from 1 to 1000000", count(&FaultOptions::dropEvery)},
        {"--seed", "a whole number from 0 to 2147483647",
         [](Options &o, std::string_view v) {
             const auto n = wholeNumber(v, 0, 2147483647);
             if (n)
                 o.faults.seed = static_cast<std::uint32_t>(*n);
             return n.has_value();
         }},
    };
    return list;
}

ParsedOptions failure(std::string message)
{
    ParsedOptions parsed;
    parsed.action = ParsedOptions::Action::Error;
    parsed.error = std::move(message);
    return parsed;
}

} // namespace

ParsedOptions parseOptions(std::span<const std::string_view> arguments)
{
    ParsedOptions parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view name = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = name.find('=');
            name.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--help" || name == "-h") {
            parsed.action = ParsedOptions::Action::Help;
            return parsed;
        }
        bool known = false;
        for (const Flag &flag : flags()) {
            if (flag.name != name)
                continue;
            if (inlineValue)
                return failure(std::string(name) + " takes no value");
            flag.set(parsed.options);
            known = true;
        }
        for (const Valued &option : valued()) {
            if (option.name != name)
                continue;
            if (!inlineValue && i + 1 >= arguments.size())
                return failure(std::string(name) + " needs " + std::string(option.wants));
            const std::string_view value = inlineValue ? *inlineValue : arguments[++i];
            if (!option.set(parsed.options, value))
                return failure(std::string(name) + " needs " + std::string(option.wants) +
                               ", not '" + std::string(value) + "'");
            known = true;
        }
        if (!known)
            return failure("unknown option '" + std::string(arguments[i]) + "'");
    }
    return parsed;
}

std::string helpText()
{
    return R"(Usage: korvale-sim [OPTION]...
A simulated Korvale power supply on a pseudo-terminal, for trying and testing
korvale-panel without the hardware. The first line on standard output is the
device path of the serial end; open it (or the --link path) as the port. Runs
until SIGINT or SIGTERM.

Line:
  --link PATH          also make a symbolic link PATH to the serial end
                       (replaced if it exists, removed on exit)
  --command-log PATH   append each command frame received to PATH, as a line
                       of hex bytes ("eb 90 aa 0c"), written out at once
  --period MS          time from one status frame to the next (default 500)
  --no-pace            write each frame at once instead of one byte every
                       8.3 ms, as a 1200-baud line would (30 bytes: 250 ms),
                       and take the client's bytes as they come instead of
                       one every 8.3 ms
  --lumps KIND         hand the paced bytes on in lumps, as the links between
                       a line and a program do; the average rate stays that
                       of the line, so with --period 250 the frames still come
                       back to back. KIND is one of
                         usb      whatever has come, every 16 ms (a USB
                                  adapter's latency timer)
                         fifo     8 bytes at a time, or what has come after
                                  4 byte times of quiet (a PC's UART)
                         network  whatever has come, every 20 to 80 ms at
                                  random (a network, Wi-Fi)
                         jitter   whatever has come, every 4 to 12 ms at
                                  random: none, one or a few bytes
                         none     each byte as it leaves the line (default)
  --bursts             the same as --lumps jitter
  --numbered           put the frame's number (1, 2, ... up to 9999, then 0
                       again) in Reading1 in place of the output voltage, so
                       that every frame shown can be told from the others
  --load OHMS          resistive load on the output (default 10)
  --knob-steps U,I,P,u,i,p
                       what one notch moves each setting, coarse (U, I, P)
                       and with fine on (u, i, p), in the status frame's
                       units of 10 mV, mA and 0.1 W: another supply model
                       (default 100,100,100,1,1,1)

Faults (a count N means every Nth frame, counted from 1; when several fall on
the same frame the first in this list wins):
  --silence-every N    send nothing for a while instead of frame N...
  --silence-ms MS      ...for this long (default 3000)
  --garbage-every N    30 random bytes that hold no sync pair
  --short-every N      the first 29 bytes of the frame
  --long-every N       31 bytes, then two whole frames (60 bytes), by turns
  --midblock-every N   a 30-byte block whose sync pair starts at position 5
                       (the panel can still read it), then one where it
                       starts at position 16 (it cannot), by turns
  --out-of-range-every N
                       readings with high bytes of 0x80 and more and packed
                       decimal digits above 9
  --drop-every N       lose one byte of the frame, at a random position, so
                       that it arrives one byte short
  --seed N             seed of the garbage, the lost bytes and the lumps
                       (default 1)
  --overtemp           set the overtemperature bit (0x08) in every frame
  --hangup-after MS    after MS, close the pseudo-terminal as if the adapter
                       were pulled (once)...
  --hangup-for MS      ...and after this long (default 2000) open a new one,
                       print its path as a new line and move the --link to it

  -h, --help           show this text

Supply model (the simulator's own, not a claim about the real supply):
  Settings U 0-40.00 V, I 0-5.000 A, P 0-200.0 W; at start U 12.00 V,
  I 1.000 A, P 100.0 W, output off, fine off, U selected.
  Key frames (0xEB 0x90 0xAA code): U (0x00), I (0x04), P (0x08) select the
  setting that numbered frames move; F (0x06) turns fine on, N (0x02) off;
  I/O (0x0C) toggles the output; other codes are accepted without effect.
  Numbered frames: 0xEB 0x90 0x55 n raises, 0xEB 0x90 0xCC n lowers the
  selected setting by n steps of 1 V / 0.1 A / 10 W, or 10 mV / 1 mA / 0.1 W
  while fine is on (other steps with --knob-steps), clamped to the ranges
  above.
  Output: off gives zeros. On, the voltage across the load R is the lowest of
  U, I*R and sqrt(P*R), and that setting is the limiting mode.
  Status frame: Reading1 output voltage in 10 mV, Reading2 output current in
  mA, Reading3 output power in 0.1 W (packed decimal), Reading4 U setting in
  10 mV, Reading5 I setting in mA, Reading6 P setting in 0.1 W (packed
  decimal). Status byte: 0x02 once a command frame has arrived, 0x04 output
  on, 0x08 overtemperature, 0x80 fine. The mode bits 0x40 (voltage), 0x20
  (current) and 0x10 (power) are all set while the output is off; while it is
  on, the bit of the limiting mode is clear.

On SIGINT or SIGTERM it says on standard error how many blocks (frames, or
what a fault put in their place) went out whole, how many bytes nobody read
in time were discarded, and how many command frames it received.

Exit status: 0 after SIGINT or SIGTERM, 1 when the pseudo-terminal or the
link cannot be made, 2 for an invalid option.
)";
}

} // namespace korvale::sim
