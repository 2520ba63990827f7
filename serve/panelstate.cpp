// SPDX-License-Identifier: MIT
#include "serve/panelstate.h"

#include "link/supplylink.h"
#include "protocol/blinkstep.h"
#include "protocol/statusindicators.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kFirstIndicator = 7;
constexpr int kLocked = 15;

QString textOf(const korvale::StatusReadings &readings, int i)
{
    const std::string_view text = readings.text(i);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

PanelState::PanelState(SupplyLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    // The window starts with every label shown and the displays as a frame
    // of zeros shows them.
    m_labelShown.fill(true);
    const auto zeros = korvale::decodeStatusBlock(korvale::encodeStatusFrame({}));
    for (int i = 1; i <= korvale::kReadingCount; ++i)
        m_texts[std::size_t(i - 1)] = textOf(*zeros, i);
    m_line = QStringLiteral("%1 is being opened.").arg(link.label(link.device()));

    connect(
        &link, &SupplyLink::frame, this,
        [this](const QDateTime &, const korvale::StatusReadings &readings) { onFrame(readings); });
    connect(&link, &SupplyLink::opened, this, [this] { setLine({}); });
    connect(
        &link, &SupplyLink::openFailed, this, [this](const QString &device, const QString &reason) {
            setLine(
                QStringLiteral("%1 could not be opened: %2.").arg(m_link.label(device), reason));
        });
    connect(&link, &SupplyLink::deviceLost, this,
            [this](const QString &device, const QString &reason) {
                setLine(QStringLiteral("%1 was lost: %2.").arg(m_link.label(device), reason));
            });
    connect(&m_blink, &QTimer::timeout, this, &PanelState::onTick);
    m_blink.start(kBlinkMs);
    publish();
}

bool PanelState::linkLost() const
{
    // While no device is open the link counts as lost.
    const SupplyState &state = m_link.state();
    return !state.devicePresent || !state.linkAlive;
}

void PanelState::onFrame(const korvale::StatusReadings &readings)
{
    // The window hides "Locked" at the first bytes it receives; here at the
    // first accepted frame.
    m_labelShown[kLocked] = false;
    const korvale::IndicatorUpdate update = korvale::indicatorUpdate(readings.StatusByte);
    // An update sets what it names; the other labels keep their state.
    for (std::size_t i = 0; i < update.count; ++i)
        m_labelShown[std::size_t(update.updates[i].label)] = update.updates[i].visible;
    m_blinkTarget = update.BlinkTarget;
    for (int i = 1; i <= korvale::kReadingCount; ++i)
        m_texts[std::size_t(i - 1)] = textOf(readings, i);
    publish();
}

void PanelState::onTick()
{
    const korvale::BlinkStep step = korvale::blinkStep(m_blinkTarget, linkLost() ? 1 : 0);
    if (step.invertLabel != 0)
        m_labelShown[std::size_t(step.invertLabel)] = !m_labelShown[std::size_t(step.invertLabel)];
    m_aliveShown = step.showAlive;
    m_lostShown = step.blinkLost ? !m_lostShown : false;
    publish();
}

void PanelState::setLine(const QString &line)
{
    m_line = line;
    publish();
}

void PanelState::publish()
{
    QJsonArray texts;
    for (const QString &text : m_texts)
        texts.append(text);
    QJsonArray hidden;
    for (int n = kFirstIndicator; n <= 16; ++n) {
        if (!m_labelShown[std::size_t(n)])
            hidden.append(QStringLiteral("Label%1").arg(n));
    }
    if (!m_aliveShown)
        hidden.append(QStringLiteral("Image2"));
    if (!m_lostShown)
        hidden.append(QStringLiteral("Image3"));
    const QByteArray message =
        QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("panel")},
                                  {QStringLiteral("texts"), texts},
                                  {QStringLiteral("hidden"), hidden},
                                  {QStringLiteral("line"), m_line}})
            .toJson(QJsonDocument::Compact);
    if (message == m_message)
        return;
    m_message = message;
    emit changed(m_message);
}
