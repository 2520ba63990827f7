// SPDX-License-Identifier: MIT
#include "panel/frontpanel.h"

#include "panel/controlinventory.h"
#include "panel/picturebox.h"
#include "panel/twips.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace {

const QColor kButtonFace(255, 255, 192);
const QColor kTextBoxBackground(192, 192, 255);
const QColor kWindowBackground(192, 192, 192);
constexpr QSize kArrowSize(16, 16);

QFont fontOf(const FontSpec &spec)
{
    // Asked for by the classic names; fontconfig maps them to the metric
    // twins (Liberation Sans, Liberation Sans Narrow). Pixel sizes keep the
    // readings inside their labels whatever dpi the screen reports.
    QFont font(spec.face == FontFace::ArialNarrow ? QStringLiteral("Arial Narrow")
                                                  : QStringLiteral("Arial"));
    font.setPixelSize(spec.pixelSize);
    font.setWeight(spec.bold ? QFont::Bold : QFont::Normal);
    font.setItalic(spec.italic);
    return font;
}

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QPushButton *makeButton(const ControlSpec &spec, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(spec.caption), parent);
    setColour(button, QPalette::Button, kButtonFace);
    button->setAutoDefault(false);
    if (spec.kind == ControlKind::PictureButton) {
        button->setIcon(QIcon(QString::fromLatin1(spec.art)));
        button->setIconSize(kArrowSize);
    }
    return button;
}

QLineEdit *makeTextBox(const ControlSpec &spec, QWidget *parent)
{
    auto *box = new QLineEdit(QString::fromLatin1(spec.caption), parent);
    setColour(box, QPalette::Base, kTextBoxBackground);
    box->setMaxLength(std::numeric_limits<int>::max()); // no length limit of its own
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return box;
}

QLabel *makeLabel(const ControlSpec &spec, QWidget *parent)
{
    // No background of its own: the drawing shows through around the letters.
    auto *label = new QLabel(QString::fromLatin1(spec.caption), parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

FrontPanel::FrontPanel(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    setColour(this, QPalette::Window, kWindowBackground);

    // Created back to front, so that later siblings stack in front.
    const auto inventory = controlInventory();
    for (auto it = inventory.rbegin(); it != inventory.rend(); ++it) {
        const ControlSpec &spec = *it;
        QWidget *widget = nullptr;
        switch (spec.kind) {
        case ControlKind::Button:
        case ControlKind::PictureButton:
            widget = m_commands.at(spec.number - 1) = makeButton(spec, this);
            break;
        case ControlKind::TextBox:
            widget = m_text1 = makeTextBox(spec, this);
            break;
        case ControlKind::Label:
            widget = m_labels.at(spec.number - 1) = makeLabel(spec, this);
            break;
        case ControlKind::Picture:
            widget = m_images.at(spec.number - 1) =
                new PictureBox(QString::fromLatin1(spec.art), this);
            break;
        }
        widget->setObjectName(QString::fromLatin1(spec.name));
        widget->setGeometry(twipsRect(spec.left, spec.top, spec.width, spec.height));
        if (spec.font.face != FontFace::None)
            widget->setFont(fontOf(spec.font));
        if (spec.accessibleName)
            widget->setAccessibleName(QString::fromLatin1(spec.accessibleName));
        if (spec.accessibleDescription)
            widget->setAccessibleDescription(QString::fromLatin1(spec.accessibleDescription));
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
