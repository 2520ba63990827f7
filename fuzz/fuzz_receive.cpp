// SPDX-License-Identifier: MIT
// The receive path on arbitrary blocks: sync search, decoding, the indicator
// rules, the blink tick and the six captions, on a real FrontPanel.
#include "panel/frontpanel.h"
#include "panel/indicators.h"
#include "panel/linkwatch.h"
#include "panel/picturebox.h"
#include "protocol/statusframe.h"

#include <QApplication>
#include <QLabel>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>

namespace {

FrontPanel *g_panel = nullptr;
int g_blinkTarget = 0;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

constexpr std::array<int, 7> kTextLengths = {0, 5, 5, 5, 2, 4, 3};

bool isDisplayChar(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || c == u'.';
}

// Whole-number readings from an independent reading of the bytes: the
// decimal text padded to four places, cut by position.
QString expectedUnsigned(const std::uint8_t *p, int reading)
{
    const QString t = QString::number(p[0] * 256 + p[1]).rightJustified(4, u'0');
    switch (reading) {
    case 1:
        return t.left(2) + u'.' + t.right(2);
    case 2:
        return t.left(1) + u'.' + t.right(3);
    case 4:
        return t.left(2);
    default: // 5
        return t.left(1) + u'.' + t.mid(1, 2);
    }
}

void checkBlock(std::span<const std::uint8_t> block, std::uint8_t linkByte)
{
    const std::array<QString, 7> before = [] {
        std::array<QString, 7> texts;
        for (int n = 1; n <= 6; ++n)
            texts[n] = g_panel->label(n)->text();
        return texts;
    }();
    const int blinkBefore = g_blinkTarget;

    const std::optional<korvale::StatusReadings> readings = korvale::decodeStatusBlock(block);

    // Independent sync search: only a 30-byte block with its first pair at
    // 0..15 may decode.
    std::optional<std::size_t> start;
    for (std::size_t p = 0; p + 1 < block.size() && !start; ++p)
        if (block[p] == 0xEB && block[p + 1] == 0x90)
            start = p;
    const bool decodable = block.size() == 30 && start && *start <= 15;
    check(readings.has_value() == decodable, "accepted exactly the decodable blocks");

    if (readings) {
        const std::uint8_t *frame = block.data() + *start;
        check(readings->StatusByte == frame[14], "status byte from offset 14");
        for (int n : {1, 2, 4, 5}) {
            const std::string_view text = readings->text(n);
            const QString got = QString::fromLatin1(text.data(), qsizetype(text.size()));
            check(got == expectedUnsigned(frame + 2 * n, n), "unsigned reading cut by position");
        }

        ApplyStatusByte(*g_panel, readings->StatusByte, g_blinkTarget);
        const std::uint8_t s = readings->StatusByte;
        check(g_panel->label(16)->isHidden() == !(s & 0x02), "remote follows bit 0x02");
        check(g_panel->label(14)->isHidden() == !(s & 0x04), "On follows bit 0x04");
        check(g_panel->label(13)->isHidden() == bool(s & 0x04), "Off opposes bit 0x04");
        check(g_panel->label(11)->isHidden() == !(s & 0x08), "Overtemp follows bit 0x08");
        check(g_panel->label(7)->isHidden() == !(s & 0x80), "fine follows bit 0x80");
        const int expectedTarget = !(s & 0x40) ? 8 : !(s & 0x20) ? 9 : !(s & 0x10) ? 10 : 0;
        check(g_blinkTarget == expectedTarget, "BlinkTarget by rank");
        for (auto [bit, label] : {std::pair{0x10, 10}, {0x20, 9}, {0x40, 8}})
            if (s & bit)
                check(!g_panel->label(label)->isHidden(), "set constant-mode bit shows its label");

        for (int n = 1; n <= 6; ++n) {
            const std::string_view text = readings->text(n);
            g_panel->label(n)->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
        }
    } else {
        check(g_blinkTarget == blinkBefore, "a dropped block leaves BlinkTarget");
        for (int n = 1; n <= 6; ++n)
            check(g_panel->label(n)->text() == before[n], "a dropped block leaves the captions");
    }

    const int linkLost = linkByte & 1;
    blinkTick(*g_panel, g_blinkTarget, linkLost);
    check(g_panel->image(2)->isHidden() == bool(linkLost), "link picture follows LinkLost");
    if (!linkLost)
        check(g_panel->image(3)->isHidden(), "crossed-out picture hidden while alive");

    check(g_blinkTarget == 0 || g_blinkTarget == 8 || g_blinkTarget == 9 || g_blinkTarget == 10,
          "BlinkTarget in {0, 8, 9, 10}");
    for (int n = 1; n <= 6; ++n) {
        const QString text = g_panel->label(n)->text();
        check(text.size() == kTextLengths[n], "caption keeps its length");
        for (QChar c : text)
            check(isDisplayChar(c), "caption holds digits, hex letters and '.' only");
    }
    check(g_panel->label(12)->text() == QLatin1String("Output") && !g_panel->label(12)->isHidden(),
          "Label12 untouched");
    check(g_panel->label(15)->text() == QLatin1String("Locked") && !g_panel->label(15)->isHidden(),
          "Label15 untouched by the status byte");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // One application and one panel for the whole run: building them per
    // input would leave no time for the inputs.
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    static FrontPanel panel;
    g_panel = &panel;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    // The block as it came (any length), then its first thirty bytes padded
    // with zeros, so that most inputs reach the decoder and the indicators.
    checkBlock(input, size ? data[size - 1] : 0);
    std::array<std::uint8_t, 30> padded{};
    std::copy_n(input.begin(), std::min<std::size_t>(size, padded.size()), padded.begin());
    checkBlock(padded, size > 30 ? data[30] : 0);
    // The labels' posted layout requests run, as the event loop would let
    // them between two serial events.
    QCoreApplication::sendPostedEvents();
    return 0;
}
