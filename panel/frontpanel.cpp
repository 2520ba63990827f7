// SPDX-License-Identifier: MIT
#include "panel/frontpanel.h"

#include "panel/artcache.h"
#include "panel/controlinventory.h"
#include "panel/picturebox.h"
#include "panel/twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace {

QColor colourOf(Rgb rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QFont fontOf(const FontSpec &style)
{
    // Asked for by the classic names; fontconfig maps them to the metric
    // twins (Liberation Sans, Liberation Sans Narrow). Pixel sizes keep the
    // readings inside their labels whatever dpi the screen reports.
    QFont font(style.face == FontFace::ArialNarrow ? QStringLiteral("Arial Narrow")
                                                   : QStringLiteral("Arial"));
    font.setPixelSize(style.pixelSize);
    font.setWeight(style.bold ? QFont::Bold : QFont::Normal);
    font.setItalic(style.italic);
    return font;
}

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QPushButton *makeButton(const ControlSpec &entry, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(entry.caption), parent);
    setColour(button, QPalette::Button, colourOf(PanelColour::ButtonFace));
    button->setAutoDefault(false);
    if (entry.kind == ControlKind::PictureButton) {
        button->setIcon(artIcon(QString::fromLatin1(entry.art), kArrowIconPixels));
        button->setIconSize(QSize(kArrowIconPixels, kArrowIconPixels));
    }
    return button;
}

QLineEdit *makeTextBox(const ControlSpec &entry, QWidget *parent)
{
    auto *box = new QLineEdit(QString::fromLatin1(entry.caption), parent);
    setColour(box, QPalette::Base, colourOf(PanelColour::TextBoxBackground));
    box->setMaxLength(std::numeric_limits<int>::max()); // no length limit of its own
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return box;
}

QLabel *makeLabel(const ControlSpec &entry, QWidget *parent)
{
    // No background of its own: the drawing shows through around the letters.
    auto *label = new QLabel(QString::fromLatin1(entry.caption), parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

FrontPanel::FrontPanel(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    setColour(this, QPalette::Window, colourOf(PanelColour::WindowBackground));

    // Created back to front, so that later siblings stack in front.
    const auto inventory = controlInventory();
    for (auto it = inventory.rbegin(); it != inventory.rend(); ++it) {
        const ControlSpec &entry = *it;
        QWidget *widget = nullptr;
        switch (entry.kind) {
        case ControlKind::Button:
        case ControlKind::PictureButton:
            widget = m_commands.at(entry.number - 1) = makeButton(entry, this);
            break;
        case ControlKind::TextBox:
            widget = m_text1 = makeTextBox(entry, this);
            break;
        case ControlKind::Label:
            widget = m_labels.at(entry.number - 1) = makeLabel(entry, this);
            break;
        case ControlKind::Picture:
            widget = m_images.at(entry.number - 1) =
                new PictureBox(QString::fromLatin1(entry.art), this);
            break;
        }
        widget->setObjectName(QString::fromLatin1(entry.name));
        widget->setGeometry(twipsRect(entry.left, entry.top, entry.width, entry.height));
        if (entry.font.face != FontFace::None)
            widget->setFont(fontOf(entry.font));
        if (entry.accessibleName)
            widget->setAccessibleName(QString::fromLatin1(entry.accessibleName));
        if (entry.accessibleDescription)
            widget->setAccessibleDescription(QString::fromLatin1(entry.accessibleDescription));
    }

    // Keyboard order: the keys, the arrows and the number box, then QUIT.
    QWidget *previous = command(1);
    for (int n = 2; n <= 13; ++n) {
        setTabOrder(previous, command(n));
        previous = command(n);
    }
    setTabOrder(previous, m_text1);
    setTabOrder(m_text1, command(14));
}
