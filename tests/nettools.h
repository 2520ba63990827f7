// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

// The TCP port a process listens on (its sockets' inodes among the listening
// ones, state 0A), or 0. Servers bind port 0 and so a free port themselves: one
// picked beforehand and released could be taken by a test running beside.
inline quint16 listeningPort(qint64 pid)
{
    QStringList inodes; // of socket:[N]
    for (const QFileInfo &fd : QDir(QString("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System))
        inodes << fd.symLinkTarget().section("socket:[", 1).section(']', 0, 0);
    QFile table("/proc/net/tcp");
    for (const QByteArray &line :
         table.open(QIODevice::ReadOnly) ? table.readAll().split('\n') : QByteArrayList()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 9 && fields[3] == "0A" && inodes.contains(fields[9]))
            return quint16(fields[1].mid(fields[1].indexOf(':') + 1).toUInt(nullptr, 16));
    }
    return 0;
}

// A tool from Debian's packages; Debian puts some in /usr/sbin, which a
// user's PATH may lack. Empty when it is not installed.
inline QString debianTool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/bin", "/usr/sbin", "/bin", "/sbin"});
}

// The real ser2net handing a device to the network on a loopback port, set up
// as the README shows. The port stays the same across restarts.
class Ser2net
{
public:
    ~Ser2net() { stop(); }

    // Starts it in front of `device` with these connection options (YAML)
    // and waits until it listens; false if it is not installed or did not
    // come up within twenty seconds. The first start takes any free port.
    bool start(const QString &device, const QString &options = "kickolduser: true")
    {
        stop();
        QFile config(m_dir.filePath("ser2net.yaml"));
        if (debianTool("ser2net").isEmpty() || !config.open(QIODevice::WriteOnly))
            return false;
        config.write(QString("%YAML 1.1\n---\nconnection: &supply\n  accepter: tcp,127.0.0.1,%1\n"
                             "  connector: serialdev,%2,1200n81,local\n  options:\n    %3\n")
                         .arg(QString::number(m_port), device, options)
                         .toUtf8());
        config.close();
        m_process.start(debianTool("ser2net"),
                        {"-n", "-u", "-P", m_dir.filePath("pid"), "-c", config.fileName()});
        const auto listening = [this, first = m_port] {
            m_port = first ? first : listeningPort(m_process.processId());
            return m_port != 0 && listeningPort(m_process.processId()) == m_port;
        };
        return m_process.waitForStarted(20000) && QTest::qWaitFor(listening, 20000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        // A stopped process would not see the request. Never pid 0, which
        // would signal the whole process group.
        if (m_process.processId() > 0)
            ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
