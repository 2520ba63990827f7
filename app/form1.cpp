// SPDX-License-Identifier: MIT
#include "app/form1.h"

#include "app/portnotice.h"
#include "panel/frontpanel.h"
#include "panel/indicators.h"
#include "panel/picturebox.h"
#include "protocol/cutframe.h"
#include "protocol/numberentry.h"
#include "serial/portsettings.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace {

QByteArrayView bytesOf(const korvale::CommandFrame &frame)
{
    return QByteArrayView(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

} // namespace

Form1::Form1(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Remote operation interface of Korvale"));
    // One small bitmap: a vector icon would be rendered at every size the
    // window system might ask for, before the first frame.
    setWindowIcon(QIcon(QStringLiteral(":/art/korvale-panel-48.png")));
    m_panel = new FrontPanel(this);
    setCentralWidget(m_panel);
    buildMenu();
    // The client area never changes size, and neither does the window.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_notice = new PortNotice(this);

    Timer1.setInterval(500);
    Timer2.setInterval(LinkWatchdog::kTickMs);
    connect(&Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    Timer1.start();
    Timer2.start();

    connectControls();
    Form_Load();
    m_panel->command(1)->setFocus();
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    MSComm1.setDTREnable(true);
    m_panel->image(4)->hide();
    m_panel->image(5)->hide();
    Watchdog.reset();
}

void Form1::buildMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("COMMPORT"));
    menu->setObjectName(QStringLiteral("menu"));
    m_comm1 = menu->addAction(QStringLiteral("comm1"));
    m_comm2 = menu->addAction(QStringLiteral("comm2"));
    m_comm1->setObjectName(QStringLiteral("comm1"));
    m_comm2->setObjectName(QStringLiteral("comm2"));
    m_comm1->setCheckable(true);
    m_comm2->setCheckable(true);
    m_comm2->setChecked(true);
    connect(m_comm1, &QAction::triggered, this, [this] { portPicked(1); });
    connect(m_comm2, &QAction::triggered, this, [this] { portPicked(2); });
    // Read afresh each time, like an opening: the file or an assignment may
    // have changed since.
    menu->setToolTipsVisible(true);
    connect(menu, &QMenu::aboutToShow, this, &Form1::showDevices);
    showDevices();
}

void Form1::showDevices()
{
    for (int port = 1; port <= 2; ++port) {
        const PortSettings::Resolved resolved = PortSettings::resolve(port);
        (port == 1 ? m_comm1 : m_comm2)
            ->setToolTip(QStringLiteral("Opens %1 (%2)")
                             .arg(resolved.device, PortSettings::originName(resolved.origin)));
    }
}

void Form1::connectControls()
{
    for (int n = 1; n <= 11; ++n) {
        connect(m_panel->command(n), &QPushButton::clicked, this, [this, n] { keyPressed(n); });
    }
    connect(m_panel->command(12), &QPushButton::clicked, this,
            [this] { arrowPressed(korvale::FrameKind::NumberUp); });
    connect(m_panel->command(13), &QPushButton::clicked, this,
            [this] { arrowPressed(korvale::FrameKind::NumberDown); });
    connect(m_panel->command(14), &QPushButton::clicked, this, &Form1::Command14_Click);

    connect(&MSComm1, &SerialChannel::OnComm, this, &Form1::MSComm1_OnComm);
    connect(&MSComm1, &SerialChannel::openFailed, m_notice, &PortNotice::openFailed);
    connect(&MSComm1, &SerialChannel::deviceLost, m_notice, &PortNotice::deviceLost);
    connect(&MSComm1, &SerialChannel::settingsIgnored, m_notice, &PortNotice::settingsIgnored);
    connect(m_notice, &PortNotice::assigned, this, [this](int port) {
        showDevices();
        portPicked(port);
    });
}

void Form1::keyPressed(int command)
{
    // "L" and "REM" have no key code: a press on them sends nothing.
    const auto code = korvale::keyCodeOfCommand(command);
    if (!code)
        return;
    korvale::fillKeyFrame(TxBuffer, *code);
    MSComm1.Output(bytesOf(TxBuffer));
}

void Form1::arrowPressed(korvale::FrameKind kind)
{
    const bool up = kind == korvale::FrameKind::NumberUp;
    m_panel->image(up ? 5 : 4)->hide();
    m_panel->image(up ? 4 : 5)->show();

    QLineEdit *text1 = m_panel->text1();
    const QByteArray typed = text1->text().toUtf8();
    const auto n = korvale::parseFrameNumber(std::string_view(typed.constData(), typed.size()));
    if (!n) {
        // A quiet cue on the box itself, so the entry can be corrected at once.
        text1->setFocus(Qt::OtherFocusReason);
        text1->selectAll();
        return;
    }
    korvale::fillNumberedFrame(TxBuffer, kind, *n);
    MSComm1.Output(bytesOf(TxBuffer));
}

void Form1::portPicked(int port)
{
    if (MSComm1.PortOpen())
        MSComm1.setPortOpen(false);
    MSComm1.setCommPort(port);
    m_comm1->setChecked(port == 1);
    m_comm2->setChecked(port == 2);
    MSComm1.setPortOpen(true);
}

void Form1::Command14_Click()
{
    MSComm1.setPortOpen(false);
    // Nothing due may run after QUIT: no tick, no serial event.
    Timer1.stop();
    Timer2.stop();
    MSComm1.blockSignals(true);
    QCoreApplication::exit(0);
}

void Form1::MSComm1_OnComm()
{
    m_panel->label(15)->hide();
    RxBlock = MSComm1.Input();
    Watchdog.reset();

    const auto block = std::span(reinterpret_cast<const std::uint8_t *>(RxBlock.constData()),
                                 std::size_t(RxBlock.size()));
    // A stream with no gaps between frames keeps whatever phase the count
    // started in. When a frame is cut by the end of this block, wait for
    // exactly its rest: that short block is dropped, and the next one starts
    // where a frame does.
    const std::size_t rest = korvale::cutFrameRest(block);
    MSComm1.setRThreshold(rest > 0 ? int(rest) : SerialChannel::kNotifyThreshold);

    const auto readings = korvale::decodeStatusBlock(block);
    if (!readings)
        return;
    Readings = *readings;
    ApplyStatusByte(*m_panel, Readings.StatusByte, BlinkTarget);
    for (int i = 1; i <= korvale::kReadingCount; ++i) {
        const std::string_view text = Readings.text(i);
        m_panel->label(i)->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
    }
}

void Form1::Timer1_Timer()
{
    blinkTick(*m_panel, BlinkTarget, Watchdog.LinkLost);
}

void Form1::Timer2_Timer()
{
    Watchdog.tick();
}
