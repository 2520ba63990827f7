// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QWidget>

// A picture control: its artwork stretched to the control's rectangle. It
// takes no focus and reports itself to assistive technology as a graphic.
class PictureBox : public QWidget
{
    Q_OBJECT
public:
    PictureBox(const QString &artResource, QWidget *parent = nullptr);

    QString artResource() const { return m_art; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_art;
};
