// SPDX-License-Identifier: MIT
#include "app/form1.h"

#include "app/portnotice.h"
#include "panel/artcache.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "serial/portsettings.h"
#include "serial/serialchannel.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QToolTip>

Form1::Form1(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Remote operation interface of Korvale"));
    // Baked bitmaps: a vector icon would be rendered at every size the window
    // system might ask for, before the first frame.
    setWindowIcon(artIcon(QStringLiteral(":/art/korvale-panel.svg"), 48));
    m_panel = new FrontPanel(this);
    setCentralWidget(m_panel);
    buildMenu();
    // The client area never changes size, and neither does the window.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_notice = new PortNotice(this);

    connectControls();
    Form_Load();
    m_panel->command(1)->setFocus();
}

Form1::~Form1() = default;

SerialChannel &Form1::channel()
{
    return *MSComm1.findChild<SerialChannel *>();
}

void Form1::Form_Load()
{
    drawModel();
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
    for (int n = 1; n <= 13; ++n)
        connect(m_panel->command(n), &QPushButton::clicked, this, [this, n] { controlPressed(n); });
    connect(m_panel->command(14), &QPushButton::clicked, this, &Form1::Command14_Click);

    // The notices name the port picked; the line knows only its device.
    connect(&MSComm1, &SupplyLink::openFailed, m_notice,
            [this](const QString &device, const QString &reason) {
                m_notice->openFailed(m_port, device, reason);
            });
    connect(&MSComm1, &SupplyLink::deviceLost, m_notice,
            [this](const QString &device, const QString &reason) {
                m_notice->deviceLost(m_port, device, reason);
            });
    connect(&MSComm1, &SupplyLink::settingsIgnored, m_notice, &PortNotice::settingsIgnored);
    connect(m_notice, &PortNotice::assigned, this, [this](int port) {
        showDevices();
        portPicked(port);
    });
}

void Form1::drawModel()
{
    for (int n = 1; n <= korvale::kReadingCount; ++n)
        m_panel->label(n)->setText(Model.text(n));
    for (int n = 7; n <= 16; ++n)
        m_panel->label(n)->setVisible(Model.labelShown(n));
    for (int n = 2; n <= 5; ++n)
        m_panel->image(n)->setVisible(Model.imageShown(n));
    connect(&Model, &PanelModel::textChanged, this,
            [this](int n, const QString &text) { m_panel->label(n)->setText(text); });
    connect(&Model, &PanelModel::labelShownChanged, this,
            [this](int n, bool shown) { m_panel->label(n)->setVisible(shown); });
    connect(&Model, &PanelModel::imageShownChanged, this,
            [this](int n, bool shown) { m_panel->image(n)->setVisible(shown); });
}

void Form1::controlPressed(int command)
{
    QLineEdit *text1 = m_panel->text1();
    const korvale::KeyPress press = Model.press(command, text1->text());
    if (press.frame) {
        TxBuffer = *press.frame;
        QString why;
        // A key the line cannot take is said at the key, for a moment, and
        // leaves the panel as it was.
        if (!MSComm1.send(TxBuffer, &why)) {
            QWidget *key = m_panel->command(command);
            QToolTip::showText(key->mapToGlobal(QPoint(0, key->height())), why, key);
        }
    } else if (press.markShown != 0) {
        // A quiet cue on the box itself, so the entry can be corrected at once.
        text1->setFocus(Qt::OtherFocusReason);
        text1->selectAll();
    }
}

void Form1::portPicked(int port)
{
    MSComm1.close();
    m_port = port;
    MSComm1.setTarget(port, {});
    m_comm1->setChecked(port == 1);
    m_comm2->setChecked(port == 2);
    MSComm1.open();
}

void Form1::Command14_Click()
{
    MSComm1.close();
    // Nothing due may run after QUIT: no tick, no line event.
    Model.stop();
    MSComm1.blockSignals(true);
    QCoreApplication::exit(0);
}
