// SPDX-License-Identifier: MIT
// The floor the panel is measured against: the least a Qt Widgets window
// with a menu costs, with a client area of the panel's size. With --timers it
// also runs two timers of 100 ms and 500 ms that do next to nothing, the
// floor for the panel's idle CPU time. With --timers --blink the 500 ms timer
// also blinks a 32 x 32 spot, as the panel must blink its link picture while
// no supply answers: the least that blinking costs.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

#include <cstring>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool timers = argc > 1 && std::strcmp(argv[1], "--timers") == 0;
    const bool blink = timers && argc > 2 && std::strcmp(argv[2], "--blink") == 0;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("floor window"));
    QMenu *menu = window.menuBar()->addMenu(QStringLiteral("COMMPORT"));
    QAction *one = menu->addAction(QStringLiteral("comm1"));
    QAction *two = menu->addAction(QStringLiteral("comm2"));
    one->setCheckable(true);
    two->setCheckable(true);
    two->setChecked(true);
    auto *client = new QWidget;
    client->setFixedSize(701, 331);
    window.setCentralWidget(client);
    auto *spot = new QWidget(client);
    spot->setGeometry(632, 280, 32, 32);
    spot->setAutoFillBackground(true);
    QPalette red = spot->palette();
    red.setColor(QPalette::Window, Qt::red);
    spot->setPalette(red);
    spot->setVisible(blink);

    QTimer slow;
    QTimer fast;
    int ticks = 0;
    if (timers) {
        QObject::connect(&slow, &QTimer::timeout, [&ticks, spot, blink] {
            ++ticks;
            if (blink)
                spot->setVisible(spot->isHidden());
        });
        QObject::connect(&fast, &QTimer::timeout, [&ticks] { ++ticks; });
        slow.start(500);
        fast.start(100);
    }
    window.show();
    return QApplication::exec();
}
