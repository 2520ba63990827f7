// SPDX-License-Identifier: MIT
#pragma once

#include "link/supplylink.h"
#include "panelmodel/panelmodel.h"
#include "protocol/commandframe.h"

#include <QMainWindow>

class FrontPanel;
class PortNotice;
class QAction;
class SerialChannel;

// The one window: the front panel drawing the panel's model, and the event
// handlers of the program. Everything runs on the event thread, one handler
// at a time, so nothing needs a lock.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    FrontPanel *panel() const { return m_panel; }
    QAction *comm1() const { return m_comm1; }
    QAction *comm2() const { return m_comm2; }
    // The channel under the line, for tests that watch its bytes.
    SerialChannel &channel();

    SupplyLink MSComm1;
    PanelModel Model{MSComm1};
    korvale::CommandFrame TxBuffer{};

private:
    void Form_Load();
    void buildMenu();
    // The device each port would open, as the items' tool tips.
    void showDevices();
    void connectControls();
    void drawModel();
    void controlPressed(int command);
    void portPicked(int port);
    void Command14_Click();

    FrontPanel *m_panel = nullptr;
    QAction *m_comm1 = nullptr;
    QAction *m_comm2 = nullptr;
    PortNotice *m_notice = nullptr;
    int m_port = 2;
};
