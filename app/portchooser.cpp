// SPDX-License-Identifier: MIT
#include "app/portchooser.h"

#include "serial/devicelist.h"
#include "serial/portsettings.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

PortChooser::PortChooser(DeviceSource *source, QWidget *parent) : QDialog(parent), m_source(source)
{
    setWindowModality(Qt::NonModal);
    // The panel keeps the keyboard until the user turns to this window.
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto *icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(m_message, 1);

    m_heading = new QLabel(this);
    m_heading->setWordWrap(true);
    m_list = new QTreeWidget(this);
    m_list->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Maker"),
                             QStringLiteral("Product"), QStringLiteral("Serial number"),
                             QStringLiteral("Assigned to")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setAccessibleName(QStringLiteral("Serial devices"));

    m_entryLabel = new QLabel(this);
    m_entry = new QLineEdit(this);
    m_entry->setPlaceholderText(
        QStringLiteral("/dev/serial/by-id/..., /dev/ttyUSB0 or socket://HOST:PORT"));
    m_entry->setClearButtonEnabled(true);
    m_entryLabel->setBuddy(m_entry);
    auto *entryRow = new QHBoxLayout;
    entryRow->addWidget(m_entryLabel);
    entryRow->addWidget(m_entry, 1);
    m_hint = new QLabel(this);
    m_hint->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(this);
    m_use = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    m_use->setDefault(true);
    buttons->addButton(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::accepted, this, &PortChooser::confirm);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addWidget(m_heading);
    layout->addWidget(m_list);
    layout->addLayout(entryRow);
    layout->addWidget(m_hint);
    layout->addWidget(buttons);

    // A click on the row already current still takes it over what was typed.
    const auto take = [this](QTreeWidgetItem *item) {
        if (item)
            m_entry->setText(item->data(Device, Qt::UserRole).toString());
    };
    connect(m_list, &QTreeWidget::currentItemChanged, this, take);
    connect(m_list, &QTreeWidget::itemClicked, this, take);
    connect(m_list, &QTreeWidget::itemActivated, this, &PortChooser::confirm);
    connect(m_entry, &QLineEdit::textChanged, this, &PortChooser::entryEdited);
    if (m_source)
        connect(m_source, &DeviceSource::changed, this, &PortChooser::refill);
}

void PortChooser::present(int port, const QString &title, const QString &message)
{
    m_port = port;
    setWindowTitle(title);
    m_message->setText(message);
    m_entryLabel->setText(QStringLiteral("Device for comm%1:").arg(port));
    m_use->setText(QStringLiteral("Use for comm%1").arg(port));
    m_list->setCurrentItem(nullptr);
    m_entry->clear();
    refill();
    // The first device no port uses yet is the likeliest choice.
    for (int i = m_list->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->text(AssignedTo).isEmpty() || !m_list->currentItem())
            m_list->setCurrentItem(item);
    }
    entryEdited();
}

QString PortChooser::text() const
{
    return m_message->text();
}

void PortChooser::showProblem(const QString &problem)
{
    m_hint->setText(problem);
}

void PortChooser::showEvent(QShowEvent *event)
{
    if (m_source)
        m_source->follow(true);
    QDialog::showEvent(event);
}

void PortChooser::hideEvent(QHideEvent *event)
{
    if (m_source)
        m_source->follow(false);
    QDialog::hideEvent(event);
}

void PortChooser::refill()
{
    const QList<SerialDevice> devices = m_source ? m_source->devices() : QList<SerialDevice>{};
    const QString current = m_list->currentItem()
                                ? m_list->currentItem()->data(Device, Qt::UserRole).toString()
                                : QString();
    // Rebuilding must not overwrite what the user typed meanwhile.
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    QStringList notes;
    const auto assignments = portDevices();
    for (const SerialDevice &device : devices) {
        auto *item = new QTreeWidgetItem(
            m_list, {device.path, device.maker, device.product,
                     device.serialNumber.isEmpty() ? QStringLiteral("none") : device.serialNumber,
                     assignedPorts(device, assignments)});
        item->setData(Device, Qt::UserRole, device.path);
        item->setToolTip(Device, device.kernelPath);
        if (!device.note.isEmpty())
            notes << device.kernelPath;
        if (device.path == current)
            m_list->setCurrentItem(item);
    }
    m_list->setVisible(!devices.isEmpty());
    QString heading = devices.isEmpty()
                          ? noDeviceCauses()
                          : QStringLiteral("Choose the device of comm%1, or type its path or "
                                           "network address:")
                                .arg(m_port);
    if (!notes.isEmpty())
        heading += QStringLiteral("\n%1 report no serial number and share one by-id name, so "
                                  "they are listed by kernel name, which may change when they "
                                  "are plugged in again.")
                       .arg(notes.join(QStringLiteral(" and ")));
    m_heading->setText(heading);
    fitList();
    adjustSize();
}

void PortChooser::fitList()
{
    // Every column whole, and every row without scrolling up to a few.
    int width = 2 * m_list->frameWidth() + 8;
    for (int c = 0; c < m_list->columnCount(); ++c) {
        m_list->resizeColumnToContents(c);
        width += m_list->columnWidth(c);
    }
    const int row = std::max(m_list->sizeHintForRow(0), fontMetrics().height() + 4);
    const int rows = std::clamp(m_list->topLevelItemCount(), 3, 8);
    const QRect screenArea = screen()->availableGeometry();
    m_list->setFixedSize(std::min(width, screenArea.width() * 9 / 10),
                         m_list->header()->sizeHint().height() + rows * row +
                             2 * m_list->frameWidth() + 4);
}

void PortChooser::entryEdited()
{
    const QString device = m_entry->text().trimmed();
    const QString problem = PortSettings::deviceProblem(device);
    m_use->setEnabled(problem.isEmpty());
    if (!device.isEmpty() && !problem.isEmpty()) {
        m_hint->setText(problem.at(0).toUpper() + problem.mid(1) + u'.');
    } else if (PortSettings::resolve(m_port).origin == PortSettings::Origin::Environment) {
        m_hint->setText(QStringLiteral("KORVALE_COMM%1 is set in the environment and comes "
                                       "before a choice made here, which is saved for the "
                                       "times it is not set.")
                            .arg(m_port));
    } else {
        QString file = PortSettings::filePath();
        if (file.startsWith(QDir::homePath() + u'/'))
            file.replace(0, QDir::homePath().size(), QStringLiteral("~"));
        m_hint->setText(QStringLiteral("The choice is remembered in %1.").arg(file));
    }
}

void PortChooser::confirm()
{
    if (m_use->isEnabled())
        emit chosen(m_port, m_entry->text().trimmed());
}
