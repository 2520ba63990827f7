// SPDX-License-Identifier: MIT
#include "serial/devicelist.h"

#include "serial/portsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

bool sameModelWithoutSerial(const SerialDevice &a, const SerialDevice &b)
{
    return a.serialNumber.isEmpty() && b.serialNumber.isEmpty() && a.maker == b.maker &&
           a.product == b.product && !(a.byIdPath.isEmpty() && b.byIdPath.isEmpty());
}

QList<SerialDevice> fromJsonFile(const QString &path)
{
    QFile file(path);
    QList<SerialDevice> found;
    if (!file.open(QIODevice::ReadOnly))
        return found;
    const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue &entry : entries) {
        const QJsonObject o = entry.toObject();
        found.append({{},
                      o.value(QLatin1String("kernel")).toString(),
                      o.value(QLatin1String("by_id")).toString(),
                      o.value(QLatin1String("maker")).toString(),
                      o.value(QLatin1String("product")).toString(),
                      o.value(QLatin1String("serial")).toString(),
                      {}});
    }
    return found;
}

QList<SerialDevice> fromSystem()
{
    // udev names each adapter here after what it reports about itself.
    QHash<QString, QString> byId;
    const QDir links(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : links.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());

    QList<SerialDevice> found;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString kernel = info.systemLocation();
        found.append({{},
                      kernel,
                      byId.value(QFileInfo(kernel).canonicalFilePath()),
                      info.manufacturer(),
                      info.description(),
                      info.serialNumber(),
                      {}});
    }
    return found;
}

} // namespace

QList<SerialDevice> presentDevices(QList<SerialDevice> found)
{
    for (SerialDevice &device : found) {
        device.path = device.byIdPath.isEmpty() ? device.kernelPath : device.byIdPath;
        device.note.clear();
    }
    for (qsizetype i = 0; i < found.size(); ++i) {
        for (qsizetype j = 0; j < found.size(); ++j) {
            const SerialDevice &other = found[j];
            const bool sharedLink =
                !found[i].byIdPath.isEmpty() && found[i].byIdPath == other.byIdPath;
            if (i == j || !(sharedLink || sameModelWithoutSerial(found[i], other)))
                continue;
            found[i].path = found[i].kernelPath;
            found[i].note = QStringLiteral(
                "shares its by-id name with another adapter of the same kind (neither reports "
                "a serial number), so it goes by its kernel name, which may change when it is "
                "plugged in again");
        }
    }
    std::sort(found.begin(), found.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.path < b.path; });
    return found;
}

std::array<QString, 2> portDevices()
{
    return {PortSettings::resolve(1).device, PortSettings::resolve(2).device};
}

QString assignedPorts(const SerialDevice &device, const std::array<QString, 2> &ports)
{
    QStringList assigned;
    for (int port = 1; port <= 2; ++port) {
        const QString &resolved = ports[std::size_t(port - 1)];
        const QString real = QFileInfo(resolved).canonicalFilePath();
        if (resolved == device.kernelPath ||
            (!device.byIdPath.isEmpty() && resolved == device.byIdPath) ||
            (!real.isEmpty() && real == device.kernelPath))
            assigned << QStringLiteral("comm%1").arg(port);
    }
    return assigned.join(QStringLiteral(", "));
}

QString noDeviceCauses()
{
    return QStringLiteral(
        "No serial device found. Usually the adapter is not plugged in (or its cable is "
        "charge-only); or your user is not in the dialout group (sudo usermod -aG dialout "
        "$USER, then log in again); or brltty, the braille display service, took the "
        "adapter as soon as it appeared (sudo apt-get remove brltty if no braille display "
        "is used). A network device, socket://HOST:PORT, can be typed in all the same.");
}

SystemDevices::SystemDevices(QObject *parent) : DeviceSource(parent)
{
    m_poll.setInterval(1000);
    connect(&m_poll, &QTimer::timeout, this, &SystemDevices::look);
}

QList<SerialDevice> SystemDevices::devices()
{
    const QString stand = qEnvironmentVariable("KORVALE_DEVICE_LIST");
    m_last = presentDevices(stand.isEmpty() ? fromSystem() : fromJsonFile(stand));
    return m_last;
}

void SystemDevices::follow(bool on)
{
    if (on) {
        devices();
        m_poll.start();
    } else {
        m_poll.stop();
    }
}

void SystemDevices::look()
{
    const QList<SerialDevice> before = m_last;
    if (devices() != before)
        emit changed();
}
