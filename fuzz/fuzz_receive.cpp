// SPDX-License-Identifier: MIT
// The receive path on arbitrary bytes: the frames the line's frame finder
// takes, each checked against an independent reading of thirty bytes of the
// input, then drawn into the panel's model (the indicator rules, the blink
// tick and the six captions).
#include "link/supplylink.h"
#include "panelmodel/panelmodel.h"
#include "protocol/statusframe.h"
#include "protocol/statusstream.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

PanelModel *g_model = nullptr;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Thirty bytes of the input from a sync pair decode as these readings.
bool carried(std::span<const std::uint8_t> input, const korvale::StatusReadings &readings)
{
    for (std::size_t p = 0; p + korvale::kStatusFrameSize <= input.size(); ++p) {
        const auto decoded =
            korvale::decodeStatusBlock(input.subspan(p, korvale::kStatusFrameSize));
        bool equal = input[p] == 0xEB && input[p + 1] == 0x90 && decoded &&
                     decoded->StatusByte == readings.StatusByte;
        for (int n = 1; n <= korvale::kReadingCount; ++n)
            equal = equal && decoded->text(n) == readings.text(n);
        if (equal)
            return true;
    }
    return false;
}

void show(const korvale::StatusReadings &readings, int linkLost)
{
    g_model->MSComm1_OnComm(readings);
    check(!g_model->labelShown(15), "\"Locked\" goes with a frame");
    check(g_model->BlinkTarget == 0 || (g_model->BlinkTarget >= 8 && g_model->BlinkTarget <= 10),
          "only a constant-mode label blinks");
    g_model->Watchdog.LinkLost = linkLost;
    g_model->Timer1_Timer();
    check(g_model->imageShown(2) == (linkLost == 0), "the steady link picture shows the link");
    for (int n = 1; n <= korvale::kReadingCount; ++n) {
        const QString text = g_model->text(n);
        check(text.size() == QList{0, 5, 5, 5, 2, 4, 3}[n], "caption keeps its length");
        for (QChar c : text)
            check(c.isDigit() || (c >= u'A' && c <= u'F') || c == u'.', "digits, A-F and '.'");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // One application and one model for the whole run; no port is opened.
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static SupplyLink link;
    static PanelModel model(link);
    model.stop(); // ticked by hand
    g_model = &model;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    korvale::StatusStream stream;
    stream.feed(input, 0);
    std::size_t frames = 0;
    while (const auto frame = stream.next()) {
        ++frames;
        check(carried(input, frame->readings), "every frame is thirty bytes of the input");
        show(frame->readings, int(frames & 1));
    }
    check(frames * korvale::kStatusFrameSize <= size, "every frame has thirty bytes of its own");
    return 0;
}
