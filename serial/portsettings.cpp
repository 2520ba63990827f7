// SPDX-License-Identifier: MIT
#include "serial/portsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QUrl>

#include <cstdio>

namespace PortSettings {

namespace {

// Two short lines of text; anything this big is some other file.
constexpr qint64 kLargestFile = 64 * 1024;

QString key(int port)
{
    return QStringLiteral("ports/comm%1").arg(port);
}

// Why the file as a whole cannot be read as settings; empty when it can.
QString fileProblem(const QString &path)
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
    const QByteArray bytes = file.readAll();
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

} // namespace

QString filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base directory specification ignores a relative value.
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
    QString problem = fileProblem(path);
    if (problem.isEmpty()) {
        const QSettings settings(path, QSettings::IniFormat);
        const QVariant entry = settings.value(key(port));
        if (settings.status() != QSettings::NoError)
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

Resolved resolveForOpening(int port)
{
    const Resolved resolved = resolve(port);
    if (!resolved.problem.isEmpty()) {
        std::fprintf(stderr, "%s: %s; comm%d opens the default %s\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(resolved.problem),
                     port, qPrintable(resolved.device));
        std::fflush(stderr);
    }
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
    const QLatin1String scheme("socket://");
    if (device.startsWith(scheme)) {
        // QUrl knows IPv6 brackets and host names; the rest is checked here.
        const QUrl url(device, QUrl::StrictMode);
        const QString rest = device.mid(scheme.size());
        if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
            url.hasFragment() || !url.path().isEmpty() || !rest.contains(u':'))
            return QStringLiteral("a network device is socket://HOST:PORT");
        if (url.port() < 1)
            return QStringLiteral("the network port is a number from 1 to 65535");
        return {};
    }
    if (!device.startsWith(u'/'))
        return QStringLiteral("neither a path starting with / nor socket://HOST:PORT");
    return {};
}

namespace {

// Writes through QSettings, which replaces the file by renaming a complete
// new one over it (QSaveFile) and keeps every other key it holds.
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
    QSettings settings(path, QSettings::IniFormat);
    if (device.isEmpty())
        settings.remove(key(port));
    else
        settings.setValue(key(port), device);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("%1 could not be written (is its folder writable, is the disk "
                              "full?); it is unchanged")
            .arg(path);
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
