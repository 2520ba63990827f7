// SPDX-License-Identifier: MIT
#pragma once

#include "panel/linkwatch.h"
#include "protocol/commandframe.h"
#include "protocol/statusframe.h"
#include "serial/serialchannel.h"

#include <QByteArray>
#include <QMainWindow>
#include <QTimer>

class FrontPanel;
class PortNotice;
class QAction;

// The one window: the front panel and every event handler of the program.
// All state lives here and is touched only on the event thread, one handler
// at a time, so none of it needs a lock.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    FrontPanel *panel() const { return m_panel; }
    QAction *comm1() const { return m_comm1; }
    QAction *comm2() const { return m_comm2; }
    SerialChannel &channel() { return MSComm1; }

    int BlinkTarget = 0;
    LinkWatchdog Watchdog; // SilenceCount and LinkLost
    korvale::CommandFrame TxBuffer{};
    QByteArray RxBlock;
    korvale::StatusReadings Readings;

    QTimer Timer1; // blink tick, 500 ms
    QTimer Timer2; // watchdog tick, 100 ms

    // Event handlers, public so that tests can drive the ticks directly.
    void Timer1_Timer();
    void Timer2_Timer();
    void MSComm1_OnComm();

private:
    void Form_Load();
    void buildMenu();
    // The device each port would open, as the items' tool tips.
    void showDevices();
    void connectControls();
    void keyPressed(int command);
    void arrowPressed(korvale::FrameKind kind);
    void portPicked(int port);
    void Command14_Click();

    SerialChannel MSComm1;
    FrontPanel *m_panel = nullptr;
    QAction *m_comm1 = nullptr;
    QAction *m_comm2 = nullptr;
    PortNotice *m_notice = nullptr;
};
