// SPDX-License-Identifier: MIT
#include "serial/portsettings.h"

#include "serial/networkdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <optional>

namespace PortSettings {

namespace {

// Two short lines of text; anything this big is some other file.
constexpr qint64 kLargestFile = 64 * 1024;

QString key(int port)
{
    return QStringLiteral("ports/comm%1").arg(port);
}

// Why the file as a whole cannot be read as settings; empty when it can,
// and then `bytes` holds it.
QString fileProblem(const QString &path, QByteArray &bytes)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QStringLiteral("no such file (nothing assigned yet)");
    if (info.isDir())
        return QStringLiteral("is a directory, not a file");
    // A FIFO or a device would block or never end.
    if (info.exists() && !info.isFile())
        return QStringLiteral("is not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read (%1)").arg(file.errorString());
    if (file.size() > kLargestFile)
        return QStringLiteral("is larger than 64 KiB, so it is no settings file of ours");
    bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError() || text.contains(QChar(0)))
        return QStringLiteral("is not UTF-8 text");
    // QSettings passes over such lines in silence; they are a sign of
    // some other file, or of an entry mistyped.
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (!line.isEmpty() && !line.startsWith(u';') && !line.startsWith(u'#') &&
            !line.startsWith(u'[') && !line.contains(u'='))
            return QStringLiteral("line %1 is neither [section] nor key=value").arg(i + 1);
    }
    return {};
}

// QSettings keeps what it once read of a file for the whole process, and
// keeps a change that failed to save to write it with the next one. So it
// only ever sees a private copy of the file's bytes, made afresh each time;
// the file itself is read whole and replaced whole (QSaveFile). Returns the
// copy's bytes after `use`, or nothing if the copy failed.
template <typename Use> std::optional<QByteArray> throughCopy(const QByteArray &bytes, Use use)
{
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
        return std::nullopt;
    {
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        use(settings);
        settings.sync();
        if (settings.status() == QSettings::AccessError)
            return std::nullopt;
    }
    // QSettings saved by renaming a new file over the copy.
    QFile saved(copy.fileName());
    if (!saved.open(QIODevice::ReadOnly))
        return std::nullopt;
    return saved.readAll();
}

} // namespace

QString filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // XDG's base directory rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/korvale/korvale.conf");
}

QString originName(Origin origin)
{
    switch (origin) {
    case Origin::Environment:
        return QStringLiteral("environment");
    case Origin::SettingsFile:
        return QStringLiteral("settings file");
    case Origin::Default:
        break;
    }
    return QStringLiteral("default");
}

Resolved resolve(int port)
{
    const QByteArray env = qgetenv(QStringLiteral("KORVALE_COMM%1").arg(port).toLatin1());
    if (!env.isEmpty())
        return {QString::fromLocal8Bit(env), Origin::Environment, {}};

    Resolved resolved{QStringLiteral("/dev/ttyS%1").arg(port - 1), Origin::Default, {}};
    const QString path = filePath();
    QByteArray bytes;
    QString problem = fileProblem(path, bytes);
    if (problem.isEmpty()) {
        QVariant entry;
        QSettings::Status status = QSettings::NoError;
        throughCopy(bytes, [&](const QSettings &settings) {
            entry = settings.value(key(port));
            status = settings.status();
        });
        if (status != QSettings::NoError)
            problem = QStringLiteral("is not in INI form (a [ports] section with lines such "
                                     "as comm1=/dev/serial/by-id/...)");
        else if (!entry.isValid())
            return resolved;
        else if (entry.typeId() != QMetaType::QString)
            problem = QStringLiteral("comm%1 holds a list, not one device").arg(port);
        else if (const QString bad = deviceProblem(entry.toString()); !bad.isEmpty())
            problem = QStringLiteral("comm%1=%2: %3").arg(port).arg(entry.toString(), bad);
        else
            return {entry.toString(), Origin::SettingsFile, {}};
    }
    resolved.problem = QStringLiteral("%1: %2").arg(path, problem);
    return resolved;
}

QString deviceProblem(const QString &device)
{
    if (device.isEmpty())
        return QStringLiteral("no device given");
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("a device name has no control characters");
    }
    if (isNetworkDevice(device))
        return parseNetworkDevice(device).error;
    if (!device.startsWith(u'/'))
        return QStringLiteral("neither a path starting with / nor socket://HOST:PORT");
    return {};
}

namespace {

// Changes one entry and keeps everything else the file holds. A crash or a
// full disk leaves the old file or the new one, never half of either.
QString store(int port, const QString &device)
{
    const QString path = filePath();
    if (!device.isEmpty()) {
        if (const QString bad = deviceProblem(device); !bad.isEmpty())
            return QStringLiteral("'%1': %2").arg(device, bad);
    } else if (!QFileInfo::exists(path)) {
        return {};
    }
    if (QFileInfo(path).isDir())
        return QStringLiteral("%1 is a directory; nothing was written").arg(path);
    QByteArray before;
    if (QFile old(path); old.open(QIODevice::ReadOnly))
        before = old.readAll();
    const auto after = throughCopy(before, [&](QSettings &settings) {
        if (device.isEmpty())
            settings.remove(key(port));
        else
            settings.setValue(key(port), device);
    });
    QString why;
    if (!QDir().mkpath(QFileInfo(path).path())) {
        why = QStringLiteral("its folder cannot be made");
    } else if (!after) {
        why = QStringLiteral("no room for a temporary copy");
    } else {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(*after) != after->size() ||
            !file.commit())
            why = file.errorString();
    }
    if (!why.isEmpty())
        return QStringLiteral("%1 could not be written (%2); it is unchanged").arg(path, why);
    return {};
}

} // namespace

QString assign(int port, const QString &device)
{
    if (device.isEmpty())
        return QStringLiteral("no device given");
    return store(port, device);
}

QString clear(int port)
{
    return store(port, {});
}

QString missingUart(const QString &device, const QString &sysClassTty)
{
    const QString real = QFileInfo(device).canonicalFilePath();
    if (real.isEmpty())
        return {};
    QFile type(sysClassTty + u'/' + QFileInfo(real).fileName() + QStringLiteral("/type"));
    // 0 is PORT_UNKNOWN: a name reserved for a UART that is not there.
    if (!type.open(QIODevice::ReadOnly) || type.readAll().trimmed() != "0")
        return {};
    return QStringLiteral("no serial port behind %1: the kernel reserves the name but found no "
                          "UART for it; choose your adapter's device instead")
        .arg(device);
}

} // namespace PortSettings
