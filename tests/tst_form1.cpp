// SPDX-License-Identifier: MIT
// The window as the operator first sees it: every control where the panel
// drawing expects it, the start state, the keyboard order, QUIT and closing.
#include "app/form1.h"
#include "app/portnotice.h"
#include "panel/artcache.h"
#include "panel/frontpanel.h"
#include "panel/picturebox.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <cmath>

namespace {

int px(int twips)
{
    return int(std::lround(twips / 15.0));
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
    void inventory_data();
    void inventory();
    void stacking();
    void startState();
    void focusOrder();
    void accessibleNames();
    void bakedPanelMatchesItsVectorArt();
    void quitClosesThePortAndEnds();
    void closingTheFrameEndsWithANoticeOpen();
};

void TestForm1::inventory_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("family"); // resolved family; empty: no text shown
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");

    struct Row
    {
        const char *name, *caption;
        int l, t, w, h;
        const char *family;
        int size;
        bool bold, italic;
    };
    const Row rows[] = {
        {"Command14", "QUIT", 7980, 3980, 852, 372, "Liberation Sans", 12, true, false},
        {"Text1", "1", 8160, 1760, 492, 372, "Liberation Sans", 14, false, false},
        {"Command13", "", 7680, 1680, 400, 520, "", 0, false, false},
        {"Command12", "", 8720, 1680, 400, 520, "", 0, false, false},
        {"Command11", "REM", 5700, 2590, 520, 324, "Liberation Sans", 12, true, false},
        {"Command10", "I/O", 5070, 2590, 520, 324, "Liberation Sans", 12, true, false},
        {"Command9", "L", 6330, 1860, 520, 324, "Liberation Sans", 12, true, false},
        {"Command8", "F", 6330, 1460, 520, 324, "Liberation Sans", 12, true, false},
        {"Command7", "N", 6330, 1065, 520, 324, "Liberation Sans", 12, true, false},
        {"Command6", "CE", 5700, 1860, 520, 324, "Liberation Sans", 12, true, false},
        {"Command5", "ENT", 5700, 1440, 520, 324, "Liberation Sans", 12, true, false},
        {"Command4", "u", 5700, 1065, 520, 324, "Liberation Sans", 12, true, false},
        {"Command3", "P", 5070, 1860, 520, 324, "Liberation Sans", 12, true, false},
        {"Command2", "I", 5070, 1460, 520, 324, "Liberation Sans", 12, true, false},
        {"Command1", "U", 5070, 1065, 520, 324, "Liberation Sans", 12, true, false},
        {"Image5", "", 2700, 1330, 120, 120, "", 0, false, false},
        {"Image4", "", 2700, 1200, 120, 120, "", 0, false, false},
        {"Image3", "", 9480, 4200, 480, 480, "", 0, false, false},
        {"Image2", "", 9480, 4200, 492, 480, "", 0, false, false},
        {"Label16", "remote", 1488, 2630, 612, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label15", "Locked", 2470, 2630, 612, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label14", "On", 3300, 2600, 372, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label13", "Off", 3820, 2600, 372, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label12", "Output", 3400, 2430, 612, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label11", "Overtemp", 3300, 2260, 828, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label10", "P-const", 2800, 2030, 612, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label9", "I-const", 2800, 1700, 612, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label8", "U-const", 2800, 1380, 852, 228, "Liberation Sans Narrow", 12, true, false},
        {"Label7", "fine", 2830, 1130, 612, 228, "Liberation Sans Narrow", 14, true, false},
        {"Label6", "000", 3390, 1950, 612, 348, "Liberation Sans Narrow", 23, false, true},
        {"Label5", "0.00", 3355, 1620, 615, 330, "Liberation Sans Narrow", 23, false, true},
        {"Label4", "00", 3395, 1300, 432, 312, "Liberation Sans Narrow", 23, false, true},
        {"Label3", "000.0", 1390, 2170, 1332, 492, "Liberation Sans Narrow", 35, false, true},
        {"Label2", "0.000", 1390, 1630, 1308, 492, "Liberation Sans Narrow", 35, false, true},
        {"Label1", "00.00", 1390, 1110, 1320, 495, "Liberation Sans Narrow", 35, false, true},
        {"Image1", "", 120, 120, 10308, 4776, "", 0, false, false},
    };
    for (const Row &r : rows)
        QTest::newRow(r.name) << r.name << r.caption << QRect(r.l, r.t, r.w, r.h) << r.family
                              << r.size << r.bold << r.italic;
}

void TestForm1::inventory()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(bool, italic);

    Form1 form;
    auto *widget = form.panel()->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget(), form.panel());
    QCOMPARE(widget->geometry(),
             QRect(px(twips.left()), px(twips.top()), px(twips.width()), px(twips.height())));

    QString shown;
    if (auto *button = qobject_cast<QPushButton *>(widget))
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *box = qobject_cast<QLineEdit *>(widget))
        shown = box->text();
    QCOMPARE(shown, caption);

    if (!family.isEmpty()) {
        const QFontInfo info(widget->font());
        QCOMPARE(info.family(), family);
        QCOMPARE(widget->font().pixelSize(), pixelSize);
        QCOMPARE(info.bold(), bold);
        QCOMPARE(info.italic(), italic);
    }
    QVERIFY(widget->isEnabled());
}

void TestForm1::stacking()
{
    // Back to front: Image1, the labels, Image2..Image5, then buttons and the
    // number box in front of everything.
    Form1 form;
    const QObjectList &children = form.panel()->children();
    auto depth = [&](const QString &name) {
        return children.indexOf(form.panel()->findChild<QObject *>(name));
    };
    QCOMPARE(depth("Image1"), 0);
    qsizetype lastLabel = 0;
    for (int n = 1; n <= 16; ++n) {
        QVERIFY(depth(QStringLiteral("Label%1").arg(n)) > 0);
        lastLabel = std::max<qsizetype>(lastLabel, depth(QStringLiteral("Label%1").arg(n)));
    }
    for (int n = 2; n <= 5; ++n)
        QVERIFY(depth(QStringLiteral("Image%1").arg(n)) > lastLabel);
    QVERIFY(depth("Image3") > depth("Image2")); // the crossed-out one is seen first
    const int frontPicture = depth("Image5");
    for (int n = 1; n <= 14; ++n)
        QVERIFY(depth(QStringLiteral("Command%1").arg(n)) > frontPicture);
    QVERIFY(depth("Text1") > frontPicture);
}

void TestForm1::startState()
{
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Remote operation interface of Korvale"));
    QCOMPARE(form.panel()->size(), QSize(701, 331));
    QCOMPARE(form.panel()->palette().color(QPalette::Window), QColor(192, 192, 192));
    QCOMPARE(form.panel()->command(5)->palette().color(QPalette::Button), QColor(255, 255, 192));
    QCOMPARE(form.panel()->text1()->palette().color(QPalette::Base), QColor(192, 192, 255));

    // The menu: one title, two items in order, comm2 checked, no port open.
    const QList<QAction *> titles = form.menuBar()->actions();
    QCOMPARE(titles.size(), 1);
    QCOMPARE(titles.first()->text(), QStringLiteral("COMMPORT"));
    const QList<QAction *> items = titles.first()->menu()->actions();
    QCOMPARE(items, (QList<QAction *>{form.comm1(), form.comm2()}));
    QCOMPARE(form.comm1()->text(), QStringLiteral("comm1"));
    QCOMPARE(form.comm2()->text(), QStringLiteral("comm2"));
    QVERIFY(!form.comm1()->isChecked());
    QVERIFY(form.comm2()->isChecked());
    QVERIFY(!form.channel().PortOpen());
    QVERIFY(form.channel().DTREnable());

    // Only the direction marks start hidden; the window keeps its size.
    for (QWidget *child : form.panel()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const bool mark = child == form.panel()->image(4) || child == form.panel()->image(5);
        QVERIFY2(child->isHidden() == mark, qPrintable(child->objectName()));
    }
    QVERIFY(form.Timer1.isActive() && form.Timer1.interval() == 500);
    QVERIFY(form.Timer2.isActive() && form.Timer2.interval() == 100);
    QCOMPARE(form.Watchdog.SilenceCount, 0);
    QCOMPARE(form.Watchdog.LinkLost, 0);
    QCOMPARE(form.BlinkTarget, 0);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.centralWidget()->geometry().size(), QSize(701, 331));
}

void TestForm1::focusOrder()
{
    Form1 form;
    FrontPanel *panel = form.panel();
    QCOMPARE(form.focusWidget(), panel->command(1));

    QList<QWidget *> expected;
    for (int n = 1; n <= 13; ++n)
        expected << panel->command(n);
    expected << panel->text1() << panel->command(14);

    QList<QWidget *> chain;
    QWidget *w = panel->command(1);
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->parentWidget() == panel)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != panel->command(1));
    QCOMPARE(chain, expected);

    for (int n = 1; n <= 16; ++n)
        QCOMPARE(panel->label(n)->focusPolicy(), Qt::NoFocus);
    for (int n = 1; n <= 5; ++n)
        QCOMPARE(panel->image(n)->focusPolicy(), Qt::NoFocus);
}

void TestForm1::accessibleNames()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto nameOf = [&](const QString &objectName) {
        QWidget *w = form.panel()->findChild<QWidget *>(objectName);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        return iface ? iface->text(QAccessible::Name) : QString();
    };
    const QList<std::pair<QString, QString>> names = {
        {"Command12", "Right arrow"}, {"Command13", "Left arrow"}, {"Text1", "Number"},
        {"Image1", "Front panel"},    {"Image2", "Link alive"},    {"Image3", "Link lost"},
        {"Image4", "Up mark"},        {"Image5", "Down mark"},     {"Command10", "I/O"},
        {"Command14", "QUIT"},        {"Label15", "Locked"},       {"Label1", "00.00"},
    };
    for (const auto &[object, name] : names)
        QCOMPARE(nameOf(object), name);

    // The readings are bare digits: their description says which display.
    QCOMPARE(QAccessible::queryAccessibleInterface(form.panel()->label(2))
                 ->text(QAccessible::Description),
             QStringLiteral("Amperes display"));
    QCOMPARE(QAccessible::queryAccessibleInterface(form.panel()->label(6))
                 ->text(QAccessible::Description),
             QStringLiteral("Watts limit display"));

    QAccessibleInterface *picture = QAccessible::queryAccessibleInterface(form.panel()->image(1));
    QCOMPARE(picture->role(), QAccessible::Graphic);
    QCOMPARE(QAccessible::queryAccessibleInterface(form.panel()->command(1))->role(),
             QAccessible::Button);
}

void TestForm1::bakedPanelMatchesItsVectorArt()
{
    // The drawing is baked at the panel's own size so start-up need not
    // render it; a bake for another size would silently fall back to the
    // slow path, and a stale one would show old artwork.
    Form1 form;
    PictureBox *image1 = form.panel()->image(1);
    for (qreal ratio : {1.0, 2.0}) {
        const QSize pixels = image1->size() * ratio;
        const QString baked = bakedArtPath(image1->artResource(), pixels);
        QVERIFY2(QFile::exists(baked), qPrintable(baked));
        const QImage rendered = renderArtImage(image1->artResource(), pixels);
        QCOMPARE(QImage(baked).convertToFormat(rendered.format()), rendered);
    }
}

void TestForm1::quitClosesThePortAndEnds()
{
    Form1 form;
    form.show();
    int ticks = 0;
    connect(&form.Timer2, &QTimer::timeout, this, [&] { ++ticks; });
    QTimer::singleShot(0, &form,
                       [&] { QTest::mouseClick(form.panel()->command(14), Qt::LeftButton); });
    QObject guard;
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!form.channel().PortOpen());
    QVERIFY(!form.Timer1.isActive() && !form.Timer2.isActive());
    QCOMPARE(ticks, 0);
}

void TestForm1::closingTheFrameEndsWithANoticeOpen()
{
    qputenv("KORVALE_COMM1", "/dev/korvale-no-such-device");
    auto *form = new Form1;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->comm1()->trigger();
    QVERIFY(form->comm1()->isChecked());
    QVERIFY(!form->channel().PortOpen());
    auto *notice = form->findChild<PortNotice *>()->notice();
    QVERIFY(notice && notice->isVisible());
    QVERIFY(notice->text().contains("/dev/korvale-no-such-device"));
    QVERIFY(!notice->isModal());

    // A second failure replaces the notice instead of stacking a new one.
    form->comm1()->trigger();
    QCOMPARE(form->findChildren<QMessageBox *>().size(), 1);

    QPointer<Form1> alive(form);
    QTimer::singleShot(0, form, [form] { form->close(); });
    QObject guard;
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive.isNull());
    qunsetenv("KORVALE_COMM1");
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
