// SPDX-License-Identifier: MIT
#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
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

// The real ser2net handing a device to the network on a loopback port, set up
// as the README shows. The port stays the same across restarts.
class Ser2net
{
public:
    ~Ser2net() { stop(); }

    // Starts it in front of `device` with these connection options (YAML)
    // and waits until it accepts; false if it is not installed or did not
    // come up within five seconds.
    bool start(const QString &device, const QString &options = "kickolduser: true")
    {
        stop();
        QFile config(m_dir.filePath("ser2net.yaml"));
        if (m_port == 0 || debianTool("ser2net").isEmpty() || !config.open(QIODevice::WriteOnly))
            return false;
        config.write(QString("%YAML 1.1\n---\nconnection: &supply\n  accepter: tcp,127.0.0.1,%1\n"
                             "  connector: serialdev,%2,1200n81,local\n  options:\n    %3\n")
                         .arg(QString::number(m_port), device, options)
                         .toUtf8());
        config.close();
        m_process.start(debianTool("ser2net"),
                        {"-n", "-u", "-P", m_dir.filePath("pid"), "-c", config.fileName()});
        const auto accepting = [this] {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", m_port);
            return probe.waitForConnected(100);
        };
        return m_process.waitForStarted(5000) && QTest::qWaitFor(accepting, 5000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        signal(SIGCONT); // a stopped process would not see the request
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    void signal(int sig)
    {
        // Never 0, which would signal the whole process group.
        if (m_process.processId() > 0)
            ::kill(pid_t(m_process.processId()), sig);
    }
    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = freeLoopbackPort();
};
