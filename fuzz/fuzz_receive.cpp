// SPDX-License-Identifier: MIT
// The receive path on arbitrary blocks, on a real FrontPanel: decoding, the
// indicator rules, the blink tick and the six captions, against an
// independent reading of the bytes; the wait for a cut frame's rest; and the
// stream framer of korvale-cli on the same bytes.
#include "panel/frontpanel.h"
#include "panel/indicators.h"
#include "panel/linkwatch.h"
#include "protocol/cutframe.h"
#include "protocol/statusframe.h"
#include "protocol/statusstream.h"

#include <QApplication>
#include <QLabel>

#include <cstdio>
#include <cstdlib>

namespace {

FrontPanel *g_panel = nullptr;
int g_blinkTarget = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkBlock(std::span<const std::uint8_t> block, int linkLost)
{
    const QString before = g_panel->label(1)->text() + g_panel->label(6)->text();
    const int blinkBefore = g_blinkTarget;
    const auto readings = korvale::decodeStatusBlock(block);
    std::size_t start = 0;
    while (start + 1 < block.size() && !(block[start] == 0xEB && block[start + 1] == 0x90))
        ++start;
    check(readings.has_value() == (block.size() == 30 && start <= 15), "decodable blocks only");
    const std::size_t rest = korvale::cutFrameRest(block);
    check(rest == 0 || (block.size() == 30 && !readings && rest >= 16 && rest <= 29),
          "only an unreadable block waits for the rest of a frame, and never past 29 bytes");
    if (readings) {
        const std::uint8_t *frame = block.data() + start;
        check(readings->StatusByte == frame[14], "status byte at offset 14");
        const QString t = QString::number(frame[2] * 256 + frame[3]).rightJustified(4, u'0');
        check(readings->text(1) == (t.left(2) + u'.' + t.right(2)).toStdString(), "cut by place");
        ApplyStatusByte(*g_panel, readings->StatusByte, g_blinkTarget);
        for (int n = 1; n <= 6; ++n)
            g_panel->label(n)->setText(QString::fromStdString(std::string(readings->text(n))));
    } else {
        check(g_blinkTarget == blinkBefore, "a dropped block changes nothing");
        check(g_panel->label(1)->text() + g_panel->label(6)->text() == before, "nor the captions");
    }
    blinkTick(*g_panel, g_blinkTarget, linkLost);
    for (int n = 1; n <= 6; ++n) {
        const QString text = g_panel->label(n)->text();
        check(text.size() == QList{0, 5, 5, 5, 2, 4, 3}[n], "caption keeps its length");
        for (QChar c : text)
            check(c.isDigit() || (c >= u'A' && c <= u'F') || c == u'.', "digits, A-F and '.'");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // One application and one panel for the whole run.
    qputenv("QT_QPA_PLATFORM", "offscreen");
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
    // The block as it came, then its first thirty bytes padded with zeros,
    // so that most inputs reach the decoder and the indicators.
    checkBlock({data, size}, size ? data[size - 1] & 1 : 0);
    std::array<std::uint8_t, 30> padded{};
    std::copy_n(data, std::min<std::size_t>(size, padded.size()), padded.begin());
    checkBlock(padded, size > 30 ? data[30] & 1 : 0);
    QCoreApplication::sendPostedEvents(); // as the event loop would between blocks

    korvale::StatusStream stream;
    stream.feed({data, size}, 0);
    stream.lineQuiet();
    std::size_t frames = 0;
    while (stream.next())
        ++frames;
    check(frames * 30 <= size, "every frame taken has thirty bytes of its own");
    return 0;
}
