// SPDX-License-Identifier: MIT
#include "panel/picturebox.h"

#include "panel/artcache.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace {

QAccessibleInterface *pictureAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("PictureBox") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

PictureBox::PictureBox(const QString &artResource, QWidget *parent)
    : QWidget(parent), m_art(artResource)
{
    static const bool registered = (QAccessible::installFactory(pictureAccessible), true);
    Q_UNUSED(registered);
    setFocusPolicy(Qt::NoFocus);
    // Every picture covers its whole rectangle, so what lies behind it never
    // needs repainting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QImage art = renderedArt(m_art, size(), devicePixelRatioF());
    // Rectangle by rectangle: within one rectangle the picture is copied row
    // by row, where the region as a whole (the drawing, less the keys in
    // front of it) would be blended span by span, on threads started for it.
    for (const QRect &rect : event->region()) {
        painter.setClipRect(rect);
        painter.drawImage(QPoint(0, 0), art);
    }
}
