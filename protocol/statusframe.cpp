// SPDX-License-Identifier: MIT
#include "protocol/statusframe.h"

#include <algorithm>
#include <limits>

namespace korvale {
namespace {

// t: at least four characters, at most five (a 16-bit number), no terminator.
struct Digits
{
    std::array<char, 5> chars{};
    std::size_t size = 0;

    char at(std::size_t i) const { return chars[i]; }
    char fromEnd(std::size_t i) const { return chars[size - 1 - i]; }
};

// Four-character form of the decimal text of n.
Digits decimalForm(unsigned n)
{
    std::array<char, 5> reversed{};
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0 && count < reversed.size());
    while (count < 4)
        reversed[count++] = '0';
    Digits d;
    d.size = count;
    std::reverse_copy(reversed.begin(), reversed.begin() + static_cast<std::ptrdiff_t>(count),
                      d.chars.begin());
    return d;
}

// Packed decimal: the pair's four nibbles as digits, so a valid value needs
// no arithmetic and a nibble above 9 shows as its hex letter.
Digits packedForm(std::uint8_t high, std::uint8_t low)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    Digits d;
    d.size = 4;
    d.chars = {kHex[high >> 4], kHex[high & 0x0F], kHex[low >> 4], kHex[low & 0x0F], '0'};
    return d;
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
    StatusReadings readings;
    decodeFrame(block.data() + *start, readings);
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
