// SPDX-License-Identifier: MIT
#include "floorreader.h"

FloorReader::FloorReader(std::function<void()> shown) : m_shown(std::move(shown))
{
    m_window.setFixedSize(701, 331);
    for (int r = 1; r <= int(m_labels.size()); ++r) {
        auto *label = new QLabel(QStringLiteral("0000"), &m_window);
        label->setGeometry(40 + 100 * (r - 1), 60, 90, 30);
        m_labels[std::size_t(r - 1)] = label;
    }
    m_port.setBaudRate(QSerialPort::Baud1200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(1024);
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_window, [this] { onReadyRead(); });
    m_window.show();
}

bool FloorReader::open(const QString &device)
{
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_port.clear(QSerialPort::AllDirections);
    return true;
}

void FloorReader::close()
{
    m_port.close();
}

QString FloorReader::text(std::span<const std::uint8_t> frame, int reading)
{
    const std::size_t at = std::size_t(2 * reading);
    return QString::number(frame[at] << 8 | frame[at + 1]);
}

void FloorReader::onReadyRead()
{
    if (m_port.bytesAvailable() < 30)
        return;
    const QByteArray block = m_port.readAll();
    if (block.size() == 30) {
        const std::span bytes(reinterpret_cast<const std::uint8_t *>(block.constData()), 30);
        for (int r = 1; r <= int(m_labels.size()); ++r)
            m_labels[std::size_t(r - 1)]->setText(text(bytes, r));
    }
    m_shown();
}
