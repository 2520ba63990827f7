// SPDX-License-Identifier: MIT
// Where comm1 and comm2 lead: the environment, the settings file (broken in
// every way a file can be) and the defaults; the file's atomic write; the
// failure notice as a chooser fed by devices the test plugs and pulls; and
// korvale-cli ports, which resolves exactly as the panel does.
#include "app/portchooser.h"
#include "app/portnotice.h"
#include "wiredform.h"

#include "serial/portsettings.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>

namespace {

using PortSettings::Origin;

// Runs `f` with standard error going to a file, and returns what it wrote.
template <typename F> QString stderrOf(F f)
{
    QTemporaryFile capture;
    if (!capture.open())
        return QStringLiteral("(no capture)");
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    f();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    return QString::fromUtf8(capture.readAll());
}

SerialDevice adapter(const QString &kernel, const QString &byId, const QString &serial)
{
    return {{},     kernel, byId, QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"),
            serial, {}};
}

QStringList column(const QTreeWidget *list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void resolution_data();
    void resolution();
    void atomicWrite();
    void chooserAssignsSavesAndOpens();
    void missingUart();
    void cliPorts();

private:
    QString file() const { return m_config->path() + QStringLiteral("/korvale/korvale.conf"); }
    void writeFile(const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(file()).path());
        QFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray fileBytes() const
    {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }

    std::unique_ptr<QTemporaryDir> m_config;
};

void TestPorts::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    qunsetenv("KORVALE_COMM1");
    qunsetenv("KORVALE_COMM2");
}

void TestPorts::resolution_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QByteArray>("contents"); // "(dir)", "(loop)" and "(none)" are no text
    QTest::addColumn<QString>("device");
    QTest::addColumn<Origin>("origin");
    QTest::addColumn<QString>("problem");

    const QByteArray both = "[ports]\ncomm1=/dev/serial/by-id/one\ncomm2=/dev/two\n";
    QTest::newRow("environment first")
        << QByteArray("/dev/env") << both << "/dev/env" << Origin::Environment << "";
    QTest::newRow("environment, broken file")
        << QByteArray("/dev/env") << QByteArray("\xff") << "/dev/env" << Origin::Environment << "";
    QTest::newRow("file") << QByteArray() << both << "/dev/serial/by-id/one" << Origin::SettingsFile
                          << "";
    QTest::newRow("network device")
        << QByteArray() << QByteArray("; bench\n[ports]\ncomm1 = socket://[::1]:3000\n")
        << "socket://[::1]:3000" << Origin::SettingsFile << "";
    // Otherwise the default, and the problem with the file said, if any.
    const auto fallback = [](const char *name, const QByteArray &contents, const char *problem) {
        QTest::newRow(name) << QByteArray() << contents << QString("/dev/ttyS0") << Origin::Default
                            << QString(problem);
    };
    fallback("other port only", "[ports]\ncomm2=/dev/two\n", "");
    fallback("no file", "(none)", "no such file");
    fallback("garbage", "{\"comm1\": \"/dev/x\"}\n", "line 1 is neither");
    fallback("not UTF-8", "[ports]\ncomm1=/dev/\xe9\n", "not UTF-8");
    fallback("binary", QByteArray("[ports]\ncomm1=/dev/x\0", 21), "not UTF-8");
    fallback("directory", "(dir)", "is a directory");
    // Root reads any file, but not a link that leads to itself.
    fallback("unreadable", "(loop)", "cannot be read");
    fallback("huge", both + QByteArray(70000, ';'), "larger than 64 KiB");
    fallback("unclosed section", "[ports\ncomm1=/dev/x\n", "INI");
    fallback("relative path", "[ports]\ncomm1=ttyUSB0\n", "comm1=ttyUSB0: neither");
    fallback("list", "[ports]\ncomm1=/dev/a,/dev/b\n", "list");
    fallback("socket port 0", "[ports]\ncomm1=socket://b:0\n", "1 to 65535");
}

void TestPorts::resolution()
{
    QFETCH(QByteArray, environment);
    QFETCH(QByteArray, contents);
    QFETCH(QString, device);
    QFETCH(Origin, origin);
    QFETCH(QString, problem);
    if (!environment.isEmpty())
        qputenv("KORVALE_COMM1", environment);
    QDir().mkpath(QFileInfo(file()).path());
    if (contents == "(dir)")
        QVERIFY(QDir().mkpath(file()));
    else if (contents == "(loop)")
        QVERIFY(QFile::link(file(), file()));
    else if (contents != "(none)")
        writeFile(contents);

    const PortSettings::Resolved resolved = PortSettings::resolve(1);
    // The channel asks at every opening, and the window says the problem once.
    const QString said = stderrOf([] {
        SerialChannel channel;
        PortNotice notice(nullptr);
        QObject::connect(&channel, &SerialChannel::settingsIgnored, &notice,
                         &PortNotice::settingsIgnored);
        channel.setPortOpen(true);
        channel.setPortOpen(false);
    });
    QCOMPARE(resolved.device, device);
    QCOMPARE(resolved.origin, origin);
    QCOMPARE(SerialChannel::devicePath(1), device);
    if (problem.isEmpty()) {
        QCOMPARE(said, QString());
    } else {
        QVERIFY2(said.count('\n') == 1 && said.contains(file() + ": ") && said.contains(problem) &&
                     said.contains("comm1 opens the default /dev/ttyS0"),
                 qPrintable(said));
    }
}

void TestPorts::atomicWrite()
{
    // Another section, and the other port's entry, outlive an assignment.
    writeFile("[ports]\ncomm2=/dev/two\n[window]\nkept=yes\n");
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI-if00-port0");
    // The file is replaced, never rewritten: a reader that opened it before
    // reads the old one whole.
    QFile reader(file());
    QVERIFY(reader.open(QIODevice::ReadOnly));
    const QByteArray original = fileBytes();
    QCOMPARE(PortSettings::assign(1, byId), QString());
    QCOMPARE(reader.readAll(), original);
    QCOMPARE(PortSettings::resolve(1).device, byId);
    QCOMPARE(PortSettings::resolve(2).device, QString("/dev/two"));
    QVERIFY(fileBytes().contains("kept=yes"));
    QCOMPARE(QDir(QFileInfo(file()).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"korvale.conf"});

    // A device that is none, and a write that fails (the disk full), leave
    // the file as it was, with no temporary file beside it.
    const QByteArray before = fileBytes();
    QVERIFY(PortSettings::assign(2, QStringLiteral("ttyUSB0")).contains("neither"));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit tiny{8, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const QString full = PortSettings::assign(2, QStringLiteral("/dev/serial/by-id/other"));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    QVERIFY2(full.contains(file() + " could not be written"), qPrintable(full));
    QCOMPARE(fileBytes(), before);
    QCOMPARE(QDir(QFileInfo(file()).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"korvale.conf"});

    // A file where the folder should be: nothing can be written, and it says so.
    QVERIFY(QDir(QFileInfo(file()).path()).removeRecursively());
    QFile blocker(QFileInfo(file()).path());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(PortSettings::assign(1, byId).contains(file()));
    QCOMPARE(blocker.size(), 0);
}

void TestPorts::chooserAssignsSavesAndOpens()
{
    // comm2 already leads to adapter A; comm1 to a device that is missing.
    const QString idA = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    const QString idTwin = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    writeFile(("[ports]\ncomm1=/dev/korvale-missing\ncomm2=" + idA + "\n").toUtf8());
    PtyPair pty;
    FixedDevices source;
    const QList<SerialDevice> plugged = {
        adapter("/dev/ttyUSB0", idA, "A1"), adapter("/dev/ttyUSB1", idTwin, ""),
        adapter("/dev/ttyUSB2", idTwin, ""), adapter(pty.slavePath(), {}, "P7")};
    source.setDevices(plugged);

    Form1 form;
    form.findChild<PortNotice *>()->setDeviceSource(&source);
    QCOMPARE(form.comm1()->toolTip(), QString("Opens /dev/korvale-missing (settings file)"));
    form.show();
    form.comm1()->trigger();

    PortChooser *chooser = form.findChild<PortNotice *>()->notice();
    QVERIFY(chooser && chooser->isVisible() && !chooser->isModal());
    QVERIFY(chooser->text().contains("(/dev/korvale-missing) could not be opened: no such device"));
    // The offscreen platform activates every window it shows, so only the
    // request to the window system can be checked here.
    QVERIFY(chooser->testAttribute(Qt::WA_ShowWithoutActivating));
    // Two adapters behind one by-id name go by their kernel names, said so.
    QTreeWidget *list = chooser->list();
    QCOMPARE(column(list, PortChooser::Device),
             QStringList({pty.slavePath(), idA, "/dev/ttyUSB1", "/dev/ttyUSB2"}));
    QCOMPARE(column(list, PortChooser::SerialNumber), QStringList({"P7", "A1", "none", "none"}));
    QCOMPARE(column(list, PortChooser::AssignedTo), QStringList({"", "comm2", "", ""}));
    QCOMPARE(column(list, PortChooser::Maker).count("FTDI"), 4);
    bool told = false;
    for (const QLabel *label : chooser->findChildren<QLabel *>())
        told |= label->text().contains("/dev/ttyUSB1 and /dev/ttyUSB2 report no serial number");
    QVERIFY(told);

    // An adapter pulled while the notice is open leaves the list; its twin
    // is then alone behind the by-id name, and goes by it.
    source.setDevices({plugged[0], plugged[1], plugged[3]});
    QCOMPARE(column(list, PortChooser::Device), QStringList({pty.slavePath(), idTwin, idA}));

    // Typing something that is no device is refused before anything is saved.
    chooser->entry()->setText("ttyUSB0");
    QVERIFY(!chooser->useButton()->isEnabled());
    // Choosing a row and confirming: saved, opened as a pick of comm1 is.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(0)).topLeft() + QPoint(4, 4));
    QCOMPARE(chooser->entry()->text(), pty.slavePath());
    QTest::mouseClick(chooser->useButton(), Qt::LeftButton);
    QCOMPARE(PortSettings::resolve(1).device, pty.slavePath());
    QCOMPARE(PortSettings::resolve(2).device, idA);
    QVERIFY(form.channel().PortOpen() && form.comm1()->isChecked());
    QTRY_VERIFY(!form.findChild<PortNotice *>()->notice());
    QCOMPARE(form.comm1()->toolTip(), "Opens " + pty.slavePath() + " (settings file)");
    QTest::mouseClick(form.panel()->command(10), Qt::LeftButton);
    QCOMPARE(pty.readExactly(4), QByteArray("\xEB\x90\xAA\x0C", 4));

    // With nothing plugged in, the notice says what usually causes that.
    qputenv("KORVALE_COMM2", "/dev/korvale-missing");
    form.comm2()->trigger();
    source.setDevices({});
    chooser = form.findChild<PortNotice *>()->notice();
    QVERIFY(chooser->list()->isHidden());
    QCOMPARE(chooser->useButton()->text(), QString("Use for comm2"));
    QString shown;
    for (const QLabel *label : chooser->findChildren<QLabel *>())
        shown += label->text();
    QVERIFY(shown.contains("not plugged in") && shown.contains("dialout") &&
            shown.contains("brltty") && shown.contains("KORVALE_COMM2 is set"));
}

void TestPorts::missingUart()
{
    // The kernel describes its terminals in a tree the test makes up here.
    PtyPair pty;
    QTemporaryDir sys;
    const QString name = QFileInfo(pty.slavePath()).fileName();
    QDir(sys.path()).mkpath(name);
    QFile type(sys.path() + '/' + name + "/type");
    const std::pair<QByteArray, bool> cases[] = {{"0\n", true}, {"4\n", false}, {"", false}};
    for (const auto &[kind, dead] : cases) {
        QVERIFY(type.open(QIODevice::WriteOnly | QIODevice::Truncate));
        type.write(kind);
        type.close();
        QCOMPARE(!PortSettings::missingUart(pty.slavePath(), sys.path()).isEmpty(), dead);
    }
    QVERIFY(PortSettings::missingUart(QStringLiteral("/dev/korvale-none"), sys.path()).isEmpty());
}

void TestPorts::cliPorts()
{
    QTemporaryFile devices;
    QVERIFY(devices.open());
    devices.write(R"([{"kernel":"/dev/ttyUSB0","by_id":"/dev/serial/by-id/usb-A","maker":"FTDI",
                      "product":"FT232R USB UART","serial":"A1"}])");
    devices.flush();
    qputenv("KORVALE_DEVICE_LIST", devices.fileName().toLocal8Bit());
    auto cli = [](const QStringList &arguments) {
        QProcess process;
        process.start(KORVALE_CLI_EXECUTABLE, arguments);
        process.waitForFinished(10000);
        return std::pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
    };
    QCOMPARE(cli({"ports", "set", "2", "/dev/serial/by-id/usb-A"}).first, 0);
    QCOMPARE(cli({"ports", "set", "1", "socket://bench:0"}).first, 2);
    qputenv("KORVALE_COMM1", "/dev/env");
    const auto [status, out] = cli({"ports", "--format", "json"});
    qunsetenv("KORVALE_COMM1");
    QCOMPARE(status, 0);
    const QJsonObject all = QJsonDocument::fromJson(out.toUtf8()).object();
    const QJsonObject ports = all.value("ports").toObject();
    QCOMPARE(ports.value("comm1").toObject().value("origin").toString(), QString("environment"));
    QCOMPARE(ports.value("comm2").toObject().value("origin").toString(), QString("settings file"));
    const QJsonObject device = all.value("devices").toArray().first().toObject();
    QCOMPARE(device.value("assigned").toString(), QString("comm2"));
    QCOMPARE(device.value("serial").toString(), QString("A1"));
    qunsetenv("KORVALE_DEVICE_LIST");

    // --port resolves as the panel does: through the file, to this pty.
    // Clearing falls back to the default and keeps the rest.
    PtyPair pty;
    QCOMPARE(cli({"ports", "set", "1", pty.slavePath()}).first, 0);
    QCOMPARE(cli({"--port", "1", "press", "I/O"}).first, 0);
    QCOMPARE(pty.readExactly(4), QByteArray("\xEB\x90\xAA\x0C", 4));
    QCOMPARE(cli({"ports", "clear", "1"}).first, 0);
    QCOMPARE(PortSettings::resolve(1).origin, Origin::Default);
    QCOMPARE(PortSettings::resolve(2).device, QString("/dev/serial/by-id/usb-A"));
}

QTEST_MAIN(TestPorts)
#include "tst_ports.moc"
