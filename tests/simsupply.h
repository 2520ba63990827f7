// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// A file's bytes, such as the simulator's --command-log; none while it cannot
// be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The files a process holds open, counted in /proc.
inline int openFiles(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

#ifdef KORVALE_CLI_EXECUTABLE
struct CliRun
{
    int status = -1; // -1: it crashed or hung
    QString out, err;
};

// korvale-cli with these arguments; with `feeder`, that one's standard output
// is its input. Of standard error only the tool's own lines: Qt may have its
// say about the environment.
inline CliRun runCli(const QStringList &arguments, QProcess *feeder = nullptr,
                     const QStringList &feederArguments = {})
{
    QProcess process;
    if (feeder) {
        feeder->setStandardOutputProcess(&process);
        feeder->start(QStringLiteral(KORVALE_CLI_EXECUTABLE), feederArguments);
    }
    process.start(QStringLiteral(KORVALE_CLI_EXECUTABLE), arguments);
    if (!process.waitForFinished(60000))
        process.kill();
    QStringList own;
    for (const QString &line : QString::fromUtf8(process.readAllStandardError()).split('\n'))
        if (line.startsWith(QStringLiteral("korvale-cli: ")))
            own << line;
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), own.join('\n')};
}
#endif

// korvale-sim as a child process, reachable through a link in a scratch
// folder that stays the same across restarts, as a device path does.
class SimSupply
{
public:
    SimSupply() : m_link(m_dir.filePath(QStringLiteral("supply"))) {}
    ~SimSupply() { stop(); }

    // Starts the simulator with `arguments` (besides --link) and waits until
    // its line is ready; false if it did not come up within five seconds.
    bool start(const QStringList &arguments)
    {
        stop();
        m_process.start(QStringLiteral(KORVALE_SIM_EXECUTABLE),
                        arguments + QStringList{QStringLiteral("--link"), m_link});
        if (!m_process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] { return QFileInfo::exists(m_link); }, 5000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    void signal(int sig) { ::kill(pid_t(m_process.processId()), sig); }

    QString link() const { return m_link; }
    QProcess &process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QString m_link;
    QProcess m_process;
};
