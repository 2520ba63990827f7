// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>
#include <QSerialPort>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <span>

// The floor for the frame-to-display latency: a bare window that reads the
// line through QSerialPort with the panel's settings and, for every 30 bytes,
// sets six QLabels, with none of the panel's own code in the way. `shown`
// runs right after the sixth label is set.
class FloorReader
{
public:
    explicit FloorReader(std::function<void()> shown);

    bool open(const QString &device);
    void close();
    QLabel *label(int reading) const { return m_labels[std::size_t(reading - 1)]; }

    // The caption of display 1 to 6: the reading's two bytes as a number.
    static QString text(std::span<const std::uint8_t> frame, int reading);

private:
    void onReadyRead();

    QWidget m_window;
    std::array<QLabel *, 6> m_labels{};
    QSerialPort m_port;
    std::function<void()> m_shown;
};
