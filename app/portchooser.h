// SPDX-License-Identifier: MIT
#pragma once

#include "serial/devicelist.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The notice of a port that failed, which is also where it gets fixed: it
// says why, lists the serial devices present (following plugs and pulls
// while shown), and lets the user choose one or type any device for that
// port. Non-modal, and shown without taking the keyboard from the panel.
class PortChooser : public QDialog
{
    Q_OBJECT
public:
    enum Column
    {
        Device,
        Maker,
        Product,
        SerialNumber,
        AssignedTo,
    };

    explicit PortChooser(DeviceSource *source, QWidget *parent);

    // What failed and why; the list and the entry then serve `port`.
    void present(int port, const QString &title, const QString &message);
    int port() const { return m_port; }
    QString text() const;

    QTreeWidget *list() const { return m_list; }
    QLineEdit *entry() const { return m_entry; }
    QPushButton *useButton() const { return m_use; }
    // Says why an assignment could not be saved.
    void showProblem(const QString &problem);

signals:
    // The user confirmed `device` for the port that failed.
    void chosen(int port, const QString &device);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refill();
    void fitList();
    void entryEdited();
    void confirm();

    QPointer<DeviceSource> m_source;
    int m_port = 1;
    QLabel *m_message = nullptr;
    QLabel *m_heading = nullptr;
    QTreeWidget *m_list = nullptr;
    QLabel *m_entryLabel = nullptr;
    QLineEdit *m_entry = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_use = nullptr;
};
