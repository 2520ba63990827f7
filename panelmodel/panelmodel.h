// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/keypad.h"
#include "protocol/linkwatchdog.h"
#include "protocol/statusframe.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>

class SupplyLink;

// What the front panel shows now, for every face that draws it: the six
// reading texts, which indicator labels and pictures are shown, the
// direction mark, and the line's sentence. Kept by the window's rules from
// the frames a SupplyLink accepts: ApplyStatusByte at each frame, the blink
// on Timer1 (500 ms), the watchdog on Timer2 (100 ms). Every change is told
// by its own signal, then `changed` once per step.
class PanelModel : public QObject
{
    Q_OBJECT
public:
    explicit PanelModel(SupplyLink &link, QObject *parent = nullptr);

    // LabelN for N 1 to 6.
    QString text(int label) const { return m_texts.at(std::size_t(label - 1)); }
    // LabelN for N 7 to 16, ImageN for N 2 to 5.
    bool labelShown(int label) const { return m_labelShown.at(std::size_t(label)); }
    bool imageShown(int image) const { return m_imageShown.at(std::size_t(image)); }
    // Empty while the device is open.
    QString line() const { return m_line; }

    // A press on CommandN through the keypad: shows the mark it leaves and
    // returns its frame, or why there is none. Sending is the caller's.
    korvale::KeyPress press(int command, const QString &text);

    // What a face that only watches tells its user: opened without the key,
    // or with a key the server no longer takes (a new one at each start).
    static QString readOnly();
    static QString keyNoLongerValid();

    // Stops both ticks: nothing changes after this but by a frame.
    void stop();

    int BlinkTarget = 0;
    korvale::LinkWatchdog Watchdog; // SilenceCount and LinkLost
    // The readings of the last frame accepted.
    korvale::StatusReadings RxBlock;
    QTimer Timer1; // blink tick, 500 ms
    QTimer Timer2; // watchdog tick, 100 ms

    // Handlers, public so that tests can drive them directly.
    void MSComm1_OnComm(const korvale::StatusReadings &readings);
    void Timer1_Timer();
    void Timer2_Timer();

signals:
    void textChanged(int label, const QString &text);
    void labelShownChanged(int label, bool shown);
    void imageShownChanged(int image, bool shown);
    void lineChanged(const QString &line);
    // Something above changed in the last step.
    void changed();

private:
    void ApplyStatusByte(std::uint8_t statusByte);
    void setText(int label, const QString &text);
    void showLabel(int label, bool shown);
    void showImage(int image, bool shown);
    void setLine(const QString &line);
    void settle();

    SupplyLink &m_link;
    std::array<QString, korvale::kReadingCount> m_texts;
    std::array<bool, 17> m_labelShown{}; // by N; 7 to 16 used
    std::array<bool, 6> m_imageShown{};  // by N; 2 to 5 used
    QString m_line;
    bool m_changed = false;
};
