// SPDX-License-Identifier: MIT
#include "protocol/statusframe.h"

#include <algorithm>
#include <limits>

namespace korvale {
namespace {

// t: the digits of a number, at least four of them; a 16-bit number has at
// most five. Each digit is worked out where the text needs it: nothing is
// stored and read back, which is most of what decoding would cost.
struct Digits
{
    unsigned value = 0;
    unsigned base = 10; // 16 for packed decimal, whose nibbles are the digits
    std::size_t size = 4;

    char fromEnd(std::size_t k) const
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        unsigned v = value;
        for (std::size_t i = 0; i < k; ++i)
            v /= base;
        return kHex[v % base];
    }
    // Both sizes spelled out, so that each digit's place stays a constant.
    char at(std::size_t i) const { return size == 5 ? fromEnd(4 - i) : fromEnd(3 - i); }
};

Digits decimalForm(unsigned n)
{
    return {n, 10, n >= 10000 ? 5u : 4u};
}

// Packed decimal: the pair's four nibbles as digits, so a valid value needs
// no arithmetic and a nibble above 9 shows as its hex letter.
Digits packedForm(std::uint8_t high, std::uint8_t low)
{
    return {static_cast<unsigned>(high) << 8 | low, 16, 4};
}

unsigned bigEndian(const std::uint8_t *p)
{
    return static_cast<unsigned>(p[0]) << 8 | p[1];
}

// None (NaN) for a nibble above 9.
double packedNumber(const std::uint8_t *p)
{
    const unsigned d[] = {p[0] / 16u, p[0] % 16u, p[1] / 16u, p[1] % 16u};
    if (d[0] > 9 || d[1] > 9 || d[2] > 9 || d[3] > 9)
        return std::numeric_limits<double>::quiet_NaN();
    return ((d[0] * 10 + d[1]) * 10 + d[2]) * 10 + d[3];
}

void decodeFrame(const std::uint8_t *frame, StatusReadings &r)
{
    const Digits t1 = decimalForm(bigEndian(frame + 2));
    r.Reading1 = {t1.at(0), t1.at(1), '.', t1.fromEnd(1), t1.fromEnd(0)};

    const Digits t2 = decimalForm(bigEndian(frame + 4));
    r.Reading2 = {t2.at(0), '.', t2.fromEnd(2), t2.fromEnd(1), t2.fromEnd(0)};

    const Digits t3 = packedForm(frame[6], frame[7]);
    r.Reading3 = {t3.at(0), t3.at(1), t3.at(2), '.', t3.fromEnd(0)};

    const Digits t4 = decimalForm(bigEndian(frame + 8));
    r.Reading4 = {t4.at(0), t4.at(1)};

    const Digits t5 = decimalForm(bigEndian(frame + 10));
    r.Reading5 = {t5.at(0), '.', t5.at(1), t5.at(2)};

    const Digits t6 = packedForm(frame[12], frame[13]);
    r.Reading6 = {t6.at(0), t6.at(1), t6.at(2)};

    r.StatusByte = frame[kStatusByteOffset];

    // Spelled out, not looped, as this runs for every frame of every face;
    // the divisors are those of kReadingDecimals.
    r.numbers = {bigEndian(frame + 2) / 100.0,   bigEndian(frame + 4) / 1000.0,
                 packedNumber(frame + 6) / 10.0, bigEndian(frame + 8) / 100.0,
                 bigEndian(frame + 10) / 1000.0, packedNumber(frame + 12) / 10.0};
    r.indicators = indicatorStates(r.StatusByte);
}

std::uint8_t packedByte(unsigned twoDigits)
{
    return static_cast<std::uint8_t>((twoDigits / 10) << 4 | (twoDigits % 10));
}

void putPacked(std::uint8_t *p, std::uint16_t value)
{
    const unsigned v = std::min<unsigned>(value, 9999);
    p[0] = packedByte(v / 100);
    p[1] = packedByte(v % 100);
}

void putBigEndian(std::uint8_t *p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

std::string_view StatusReadings::text(int reading) const
{
    auto view = [](const auto &chars) { return std::string_view(chars.data(), chars.size()); };
    switch (reading) {
    case 1:
        return view(Reading1);
    case 2:
        return view(Reading2);
    case 3:
        return view(Reading3);
    case 4:
        return view(Reading4);
    case 5:
        return view(Reading5);
    case 6:
        return view(Reading6);
    default:
        return {};
    }
}

std::optional<std::size_t> findSyncPair(std::span<const std::uint8_t> block)
{
    for (std::size_t p = 0; p + 1 < block.size(); ++p) {
        if (block[p] == kSyncFirst && block[p + 1] == kSyncSecond)
            return p;
    }
    return std::nullopt;
}

std::optional<StatusReadings> decodeStatusBlock(std::span<const std::uint8_t> block)
{
    if (block.size() != kStatusFrameSize)
        return std::nullopt;
    const auto start = findSyncPair(block);
    if (!start || *start > kLastFrameStart)
        return std::nullopt;
    // Decoded where it is returned: the readings are never copied.
    std::optional<StatusReadings> readings(std::in_place);
    decodeFrame(block.data() + *start, *readings);
    return readings;
}

StatusFrame encodeStatusFrame(const StatusValues &values)
{
    StatusFrame frame{};
    frame[0] = kSyncFirst;
    frame[1] = kSyncSecond;
    putBigEndian(&frame[2], values.reading1);
    putBigEndian(&frame[4], values.reading2);
    putPacked(&frame[6], values.reading3);
    putBigEndian(&frame[8], values.reading4);
    putBigEndian(&frame[10], values.reading5);
    putPacked(&frame[12], values.reading6);
    frame[kStatusByteOffset] = values.statusByte;
    return frame;
}

} // namespace korvale
