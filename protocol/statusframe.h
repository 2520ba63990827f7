// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/statusindicators.h"
#include "protocol/syncpair.h"

// Supply-to-host status frame, thirty bytes, sent unprompted. Offsets count
// from the first byte of the sync pair:
//
//   offset  content                              shown as (label)
//   0, 1    sync pair 0xEB 0x90
//   2, 3    Reading1, unsigned big-endian        "dd.dd"  (Label1)
//   4, 5    Reading2, unsigned big-endian        "d.ddd"  (Label2)
//   6, 7    Reading3, packed decimal, 4 digits   "ddd.d"  (Label3)
//   8, 9    Reading4, unsigned big-endian        "dd"     (Label4)
//   10, 11  Reading5, unsigned big-endian        "d.dd"   (Label5)
//   12, 13  Reading6, packed decimal, 4 digits   "ddd"    (Label6)
//   14      StatusByte, eight flag bits
//   15-29   never read
//
// Each text is cut by character position from t, the decimal text of the
// number padded with leading zeros to at least four characters. A number of
// five digits therefore loses the middle digits the display has no room for.
//
// Values outside the format's ranges are shown by rules of our own, chosen so
// that every text keeps its usual length and never carries a sign:
// - a high byte of 0x80 or more is read as part of an unsigned 16-bit number
//   (up to 65535) and cut like any other five-digit number;
// - a packed-decimal nibble above 9 shows as its hexadecimal digit (A-F), so
//   t for Reading3 and Reading6 is always the four hex digits of its bytes.
//
// The same readings also come as numbers in their units, uncut: output volts
// n/100, amperes n/1000, watts n/10, and the voltage, current and power
// settings at the same resolution (12.50 V where the display shows "12").
// Out of range, a high byte of 0x80 or more counts as unsigned (up to
// 655.35 V), and a packed-decimal reading with a nibble above 9 is no number
// at all (NaN): nobody can tell what the supply meant, so no face shows it.
namespace korvale {

inline constexpr std::size_t kStatusFrameSize = 30;
inline constexpr std::size_t kStatusByteOffset = 14;
// The last block position at which a frame may start and still hold its
// status byte inside a thirty-byte block.
inline constexpr std::size_t kLastFrameStart = kStatusFrameSize - 1 - kStatusByteOffset;
inline constexpr int kReadingCount = 6;

using StatusFrame = std::array<std::uint8_t, kStatusFrameSize>;

// Decimal places of each reading's number: its unit is ten to the minus this.
inline constexpr std::array<int, kReadingCount> kReadingDecimals = {2, 3, 1, 2, 3, 1};

// The six display texts, the six numbers and the status byte of one frame,
// in fixed storage: decoding allocates nothing. Every face takes what it
// shows or reports from here, never from another's texts.
struct StatusReadings
{
    std::array<char, 5> Reading1{};
    std::array<char, 5> Reading2{};
    std::array<char, 5> Reading3{};
    std::array<char, 2> Reading4{};
    std::array<char, 4> Reading5{};
    std::array<char, 3> Reading6{};
    std::uint8_t StatusByte = 0;

    // Reading1 .. Reading6 as numbers, in their units.
    std::array<double, kReadingCount> numbers{};
    // What StatusByte says, by the window's own rule.
    IndicatorStates indicators;

    double outputVolts() const { return numbers[0]; }
    double outputAmps() const { return numbers[1]; }
    double outputWatts() const { return numbers[2]; }
    double voltageSetting() const { return numbers[3]; }
    double currentSetting() const { return numbers[4]; }
    double powerSetting() const { return numbers[5]; }

    // Reading1 .. Reading6 by number, 1-based like the labels they feed.
    std::string_view text(int reading) const;
};

// Position of the first sync pair 0xEB 0x90 in the block.
std::optional<std::size_t> findSyncPair(std::span<const std::uint8_t> block);

// Decodes a received block: only a block of exactly thirty bytes whose first
// sync pair starts at position 0..15 yields readings; anything else gives
// nothing, and no byte outside the block is ever read.
std::optional<StatusReadings> decodeStatusBlock(std::span<const std::uint8_t> block);

// Numbers for the simulated supply's frames. Reading1/2/4/5 are sent as
// unsigned big-endian 16-bit values; Reading3 and Reading6 as packed decimal
// and are clamped to 9999.
struct StatusValues
{
    std::uint16_t reading1 = 0;
    std::uint16_t reading2 = 0;
    std::uint16_t reading3 = 0;
    std::uint16_t reading4 = 0;
    std::uint16_t reading5 = 0;
    std::uint16_t reading6 = 0;
    std::uint8_t statusByte = 0;
};

// Bytes 15..29 are zero.
StatusFrame encodeStatusFrame(const StatusValues &values);

} // namespace korvale
