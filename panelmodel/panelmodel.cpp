// SPDX-License-Identifier: MIT
#include "panelmodel/panelmodel.h"

#include "link/supplylink.h"
#include "protocol/blinkstep.h"
#include "protocol/statusindicators.h"

namespace {

constexpr int kLocked = 15;

QString textOf(const korvale::StatusReadings &readings, int i)
{
    const std::string_view text = readings.text(i);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

PanelModel::PanelModel(SupplyLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    // Every label and link picture shown, the marks hidden, the displays as
    // a frame of zeros shows them.
    m_labelShown.fill(true);
    m_imageShown.fill(true);
    m_imageShown[4] = m_imageShown[5] = false;
    RxBlock = *korvale::decodeStatusBlock(korvale::encodeStatusFrame({}));
    for (int i = 1; i <= korvale::kReadingCount; ++i)
        m_texts[std::size_t(i - 1)] = textOf(RxBlock, i);
    m_line = QStringLiteral("%1 is being opened.").arg(link.label(link.device()));

    connect(&link, &SupplyLink::frame, this,
            [this](const QDateTime &, const korvale::StatusReadings &readings) {
                MSComm1_OnComm(readings);
            });
    connect(&link, &SupplyLink::opened, this, [this] {
        setLine({});
        settle();
    });
    connect(&link, &SupplyLink::openFailed, this,
            [this](const QString &device, const QString &reason) {
                setLine(m_link.couldNotOpen(device, reason));
                settle();
            });
    connect(&link, &SupplyLink::deviceLost, this,
            [this](const QString &device, const QString &reason) {
                setLine(QStringLiteral("%1 was lost: %2.").arg(m_link.label(device), reason));
                settle();
            });
    Timer1.setInterval(500);
    Timer2.setInterval(korvale::LinkWatchdog::kTickMs);
    connect(&Timer1, &QTimer::timeout, this, &PanelModel::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &PanelModel::Timer2_Timer);
    Timer1.start();
    Timer2.start();
}

korvale::KeyPress PanelModel::press(int command, const QString &text)
{
    const QByteArray typed = text.toUtf8();
    korvale::KeyPress press = korvale::pressControl(
        command, std::string_view(typed.constData(), std::size_t(typed.size())));
    if (press.markShown != 0) {
        showImage(4, press.markShown == 4);
        showImage(5, press.markShown == 5);
        settle();
    }
    return press;
}

QString PanelModel::readOnly()
{
    return QStringLiteral("Read-only: open the address the server printed, with its key, to "
                          "press keys.");
}

QString PanelModel::keyNoLongerValid()
{
    return QStringLiteral("This address's key is no longer valid: the server was restarted; "
                          "open the address it printed.");
}

void PanelModel::stop()
{
    Timer1.stop();
    Timer2.stop();
}

void PanelModel::MSComm1_OnComm(const korvale::StatusReadings &readings)
{
    // "Locked" goes with the first frame the line accepts.
    showLabel(kLocked, false);
    Watchdog.reset();
    RxBlock = readings;
    ApplyStatusByte(RxBlock.StatusByte);
    for (int i = 1; i <= korvale::kReadingCount; ++i)
        setText(i, textOf(RxBlock, i));
    settle();
}

void PanelModel::ApplyStatusByte(std::uint8_t statusByte)
{
    const korvale::IndicatorUpdate update = korvale::indicatorUpdate(statusByte);
    // An update sets what it names; the other labels keep their state.
    for (std::size_t i = 0; i < update.count; ++i)
        showLabel(update.updates[i].label, update.updates[i].visible);
    BlinkTarget = update.BlinkTarget;
}

void PanelModel::Timer1_Timer()
{
    const korvale::BlinkStep step = korvale::blinkStep(BlinkTarget, Watchdog.LinkLost);
    if (step.invertLabel != 0)
        showLabel(step.invertLabel, !labelShown(step.invertLabel));
    showImage(2, step.showAlive);
    showImage(3, step.blinkLost && !imageShown(3));
    settle();
}

void PanelModel::Timer2_Timer()
{
    // While the device is open the line judges silence, by the same rule,
    // and it hears every block, even one that holds no frame. A port that
    // is not open is silence counted here.
    const SupplyState &state = m_link.state();
    if (!state.devicePresent) {
        Watchdog.tick();
    } else if (state.linkAlive) {
        Watchdog.reset();
    } else {
        Watchdog.SilenceCount = korvale::LinkWatchdog::kSilentTicksAllowed + 1;
        Watchdog.LinkLost = 1;
    }
}

void PanelModel::setText(int label, const QString &text)
{
    QString &now = m_texts.at(std::size_t(label - 1));
    if (now == text)
        return;
    now = text;
    m_changed = true;
    emit textChanged(label, text);
}

void PanelModel::showLabel(int label, bool shown)
{
    bool &now = m_labelShown.at(std::size_t(label));
    if (now == shown)
        return;
    now = shown;
    m_changed = true;
    emit labelShownChanged(label, shown);
}

void PanelModel::showImage(int image, bool shown)
{
    bool &now = m_imageShown.at(std::size_t(image));
    if (now == shown)
        return;
    now = shown;
    m_changed = true;
    emit imageShownChanged(image, shown);
}

void PanelModel::setLine(const QString &line)
{
    if (m_line == line)
        return;
    m_line = line;
    m_changed = true;
    emit lineChanged(line);
}

void PanelModel::settle()
{
    if (!m_changed)
        return;
    m_changed = false;
    emit changed();
}
