// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class PictureBox;

// The client area of the window: the drawn front panel with every control of
// the inventory laid over it, at fixed positions. Controls are reached by
// their stored names' numbers: command(7) is Command7, label(15) is Label15.
class FrontPanel : public QWidget
{
    Q_OBJECT
public:
    explicit FrontPanel(QWidget *parent = nullptr);

    QPushButton *command(int number) const { return m_commands.at(number - 1); }
    QLabel *label(int number) const { return m_labels.at(number - 1); }
    PictureBox *image(int number) const { return m_images.at(number - 1); }
    QLineEdit *text1() const { return m_text1; }

private:
    std::array<QPushButton *, 14> m_commands{};
    std::array<QLabel *, 16> m_labels{};
    std::array<PictureBox *, 5> m_images{};
    QLineEdit *m_text1 = nullptr;
};
