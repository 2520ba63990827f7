// SPDX-License-Identifier: MIT
#include "webpage/panelhtml.h"

#include "panel/controlinventory.h"

#include <QString>

using namespace Qt::StringLiterals;

namespace {

// Positions are fractions of the panel, font sizes of its width (cqw): the
// page keeps the window's proportions at any width and any zoom.
QString percent(int pixels, int whole)
{
    return QString::number(100.0 * pixels / whole, 'f', 4) + u'%';
}

QString widthUnits(int pixels)
{
    return QString::number(100.0 * pixels / kClientWidth, 'f', 4) + u"cqw"_s;
}

QString attributeText(const char *text)
{
    return QString::fromLatin1(text).toHtmlEscaped();
}

QString fontClasses(const FontSpec &font)
{
    QString classes = font.face == FontFace::ArialNarrow ? u" narrow"_s : u" arial"_s;
    if (font.bold)
        classes += u" bold"_s;
    if (font.italic)
        classes += u" italic"_s;
    return classes;
}

QString placement(const ControlSpec &entry)
{
    QString style = u"left:"_s + percent(twipsToPixels(entry.left), kClientWidth) + u";top:"_s +
                    percent(twipsToPixels(entry.top), kClientHeight) + u";width:"_s +
                    percent(twipsToPixels(entry.width), kClientWidth) + u";height:"_s +
                    percent(twipsToPixels(entry.height), kClientHeight);
    if (entry.font.face != FontFace::None)
        style += u";font-size:"_s + widthUnits(entry.font.pixelSize);
    return style;
}

// A display is a meter named as the window describes it, read as its digits
// and unit ("Volts display, 10.00 V"); its range is what its digits can show.
// The page keeps the value as the readings change.
QString displayAria(const ControlSpec &entry)
{
    const QString digits = QString::fromLatin1(entry.caption);
    QString most = digits;
    for (QChar &c : most) {
        if (c.isDigit())
            c = u'9';
    }
    return u" role=\"meter\" aria-label=\""_s + attributeText(entry.accessibleDescription) +
           u"\" aria-valuemin=\"0\" aria-valuemax=\""_s + most + u"\" aria-valuenow=\""_s +
           QString::number(digits.toDouble()) + u"\" aria-valuetext=\""_s + digits + u' ' +
           attributeText(entry.unit) + u"\" data-unit=\""_s + attributeText(entry.unit) + u'"';
}

// "/art/x.svg" from the window's resource path ":/art/x.svg".
QString artUrl(const char *art)
{
    return QString::fromLatin1(art).mid(1);
}

QString controlHtml(const ControlSpec &entry)
{
    const QString id = QString::fromLatin1(entry.name);
    const QString common = u"id=\""_s + id + u"\" style=\""_s + placement(entry) + u'"';
    QString aria;
    if (entry.accessibleName)
        aria += u" aria-label=\""_s + attributeText(entry.accessibleName) + u'"';
    if (entry.unit)
        aria += displayAria(entry);
    else if (entry.accessibleDescription)
        aria += u" aria-description=\""_s + attributeText(entry.accessibleDescription) + u'"';
    // Only the direction marks start hidden, as in the window.
    const QString hidden =
        entry.kind == ControlKind::Picture && entry.number >= 4 ? u" hidden"_s : QString();
    switch (entry.kind) {
    case ControlKind::Button:
        return u"<button type=\"button\" class=\"key"_s + fontClasses(entry.font) + u"\" "_s +
               common + aria + u'>' + attributeText(entry.caption) + u"</button>"_s;
    case ControlKind::PictureButton:
        return u"<button type=\"button\" class=\"key arrow\" "_s + common + aria +
               u"><img src=\""_s + artUrl(entry.art) + u"\" alt=\"\" style=\"width:"_s +
               widthUnits(kArrowIconPixels) + u"\"></button>"_s;
    case ControlKind::TextBox:
        return u"<input type=\"text\" class=\"box"_s + fontClasses(entry.font) + u"\" "_s + common +
               aria + u" value=\""_s + attributeText(entry.caption) +
               u"\" autocomplete=\"off\" spellcheck=\"false\">"_s;
    case ControlKind::Label:
        return u"<span class=\"label"_s + fontClasses(entry.font) + u"\" "_s + common + aria +
               u'>' + attributeText(entry.caption) + u"</span>"_s;
    case ControlKind::Picture:
        return u"<img class=\"picture\" "_s + common + u" src=\""_s + artUrl(entry.art) +
               u"\" alt=\""_s + attributeText(entry.accessibleName) + u'"' + hidden + u'>';
    }
    return {};
}

QString rgb(Rgb colour)
{
    return u"rgb(%1,%2,%3)"_s.arg(colour.red).arg(colour.green).arg(colour.blue);
}

} // namespace

QByteArray panelHtml()
{
    // Written back to front, so that later elements stack in front and the
    // keyboard reaches the keys, the arrows, then the number box.
    QString controls;
    const auto inventory = controlInventory();
    for (auto it = inventory.rbegin(); it != inventory.rend(); ++it) {
        // The browser's own tab closes the page: no QUIT.
        if (it->kind == ControlKind::Button && it->number == 14)
            continue;
        controls += u"\n"_s + controlHtml(*it);
    }
    const QString colours = u":root{--window:"_s + rgb(PanelColour::WindowBackground) +
                            u";--face:"_s + rgb(PanelColour::ButtonFace) + u";--box:"_s +
                            rgb(PanelColour::TextBoxBackground) + u";--aspect:"_s +
                            QString::number(kClientWidth) + u'/' + QString::number(kClientHeight) +
                            u'}';
    const QString page = u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                         u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                         u"<title>Korvale front panel</title>"
                         u"<link rel=\"icon\" href=\"/art/korvale-panel.svg\">"
                         u"<link rel=\"stylesheet\" href=\"/panel.css\"><style>"_s +
                         colours +
                         u"</style></head>\n<body><main>"
                         u"<div id=\"panel\" role=\"group\" aria-label=\"Korvale front panel\">"_s +
                         controls +
                         u"\n</div><p id=\"status\" role=\"status\" aria-live=\"polite\"></p>"
                         // The link pictures' change, said once rather than at every blink.
                         u"<p id=\"linkstate\" class=\"unseen\" role=\"status\"></p></main>"
                         u"<script src=\"/panel.js\"></script></body></html>\n"_s;
    return page.toUtf8();
}
