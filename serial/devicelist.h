// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

// One serial device present on this computer, as the user knows it.
struct SerialDevice
{
    // What to open and remember: the /dev/serial/by-id/ name where it is
    // the adapter's own, else the kernel name.
    QString path;
    QString kernelPath; // such as /dev/ttyUSB0
    QString byIdPath;   // the by-id name that leads to it, if any
    QString maker;
    QString product;
    QString serialNumber;
    // Set when the by-id name cannot tell this adapter from another one.
    QString note;

    bool operator==(const SerialDevice &) const = default;
};

// Puts found devices in the order and naming the user sees. Adapters that
// report no serial number share one by-id name, which then leads to
// whichever was plugged in last: such adapters are listed by kernel name,
// with a note saying why, instead of guessing.
QList<SerialDevice> presentDevices(QList<SerialDevice> found);

// The devices of comm1 and comm2, resolved as an opening would.
std::array<QString, 2> portDevices();

// "comm1", "comm1, comm2" or empty: the ports whose device in `ports` (from
// portDevices(), read once for a whole list) is this one.
QString assignedPorts(const SerialDevice &device, const std::array<QString, 2> &ports);

// What usually hides a device, for when none is found.
QString noDeviceCauses();

// Where the list of devices comes from. It follows changes (adapters
// plugged in or pulled) only while followed, and says so by changed().
class DeviceSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QList<SerialDevice> devices() = 0;
    virtual void follow(bool on) { Q_UNUSED(on) }

signals:
    void changed();
};

// The computer's own serial devices: Qt's list of ports with the maker,
// product and serial number the adapters report, and the links in
// /dev/serial/by-id. Followed by a look once a second, as cheap as it is
// sure to catch every plug and pull.
//
// With KORVALE_DEVICE_LIST naming a JSON file, that file stands in for the
// computer, read afresh at every look: an array of objects with "kernel",
// "by_id", "maker", "product" and "serial". For demonstrations and
// screenshots on machines without adapters.
class SystemDevices : public DeviceSource
{
    Q_OBJECT
public:
    explicit SystemDevices(QObject *parent = nullptr);
    QList<SerialDevice> devices() override;
    void follow(bool on) override;

private:
    void look();

    QTimer m_poll;
    QList<SerialDevice> m_last;
};

// A list set from outside, such as by a test.
class FixedDevices : public DeviceSource
{
    Q_OBJECT
public:
    using DeviceSource::DeviceSource;
    QList<SerialDevice> devices() override { return presentDevices(m_found); }
    void setDevices(const QList<SerialDevice> &found)
    {
        m_found = found;
        emit changed();
    }

private:
    QList<SerialDevice> m_found;
};
