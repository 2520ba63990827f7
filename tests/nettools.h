// SPDX-License-Identifier: MIT
#pragma once

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

// A TCP port on 127.0.0.1 that nothing listens on just now.
inline quint16 freeLoopbackPort()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

// A tool from Debian's packages; Debian puts some in /usr/sbin, which a
// user's PATH may lack. Empty when it is not installed.
inline QString debianTool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/bin", "/usr/sbin", "/bin", "/sbin"});
}

// ser2net beside the supply and socat ends on the operator's side, set up as
// the README shows. Everything stops when it goes.
class SupplyOverNetwork
{
public:
    ~SupplyOverNetwork()
    {
        for (auto &process : m_processes)
            process->terminate(), process->waitForFinished(3000);
    }

    // ser2net serves `device` on a free port with these connection options
    // (YAML); false if ser2net or socat is missing.
    bool start(const QString &device, const QString &options)
    {
        QFile config(m_dir.filePath("ser2net.yaml"));
        if (debianTool("socat").isEmpty() || !config.open(QIODevice::WriteOnly))
            return false;
        config.write(QString("%YAML 1.1\n---\nconnection: &supply\n  accepter: tcp,127.0.0.1,%1\n"
                             "  connector: serialdev,%2,1200n81,local\n  options:\n    %3\n")
                         .arg(QString::number(m_port), device, options)
                         .toUtf8());
        config.close();
        return run(debianTool("ser2net"),
                   {"-n", "-u", "-P", m_dir.filePath("pid"), "-c", config.fileName()});
    }

    // A pseudo-terminal carrying one connection, retrying while ser2net
    // starts to listen; empty if it never came. With `waitForReader` socat connects only once
    // somebody opens it.
    QString end(const QString &name, bool waitForReader = false)
    {
        const QString link = m_dir.filePath(name);
        run(debianTool("socat"),
            {QString("pty,link=%1,raw,echo=0").arg(link) + (waitForReader ? ",wait-slave" : ""),
             QString("tcp:127.0.0.1:%1,retry=50,interval=0.1").arg(m_port)});
        return QTest::qWaitFor([&] { return QFileInfo::exists(link); }, 5000) ? link : QString();
    }

private:
    bool run(const QString &program, const QStringList &arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        m_processes.back()->start(program, arguments);
        return m_processes.back()->waitForStarted();
    }

    QTemporaryDir m_dir;
    quint16 m_port = freeLoopbackPort();
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
