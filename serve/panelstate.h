// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/statusframe.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

class SupplyLink;

// What the window would show now, kept by the window's own rules: readings
// and indicators from each accepted frame (indicatorUpdate), the blink tick
// every 500 ms (blinkStep), the link state from the line's watchdog, and a
// sentence while the device is not open. Tells each change as the web
// panel's "panel" message.
class PanelState : public QObject
{
    Q_OBJECT
public:
    static constexpr int kBlinkMs = 500;

    explicit PanelState(SupplyLink &link, QObject *parent = nullptr);

    // {"type":"panel","texts":[...],"hidden":[...],"line":"..."}
    QByteArray message() const { return m_message; }

signals:
    // The message changed; only then.
    void changed(const QByteArray &message);

private:
    void onFrame(const korvale::StatusReadings &readings);
    void onTick();
    void setLine(const QString &line);
    void publish();
    bool linkLost() const;

    SupplyLink &m_link;
    std::array<QString, korvale::kReadingCount> m_texts;
    // Label7..Label16 by N (others unused), and the two link pictures.
    std::array<bool, 17> m_labelShown{};
    bool m_aliveShown = true;
    bool m_lostShown = true;
    int m_blinkTarget = 0;
    QString m_line;
    QTimer m_blink;
    QByteArray m_message;
};
