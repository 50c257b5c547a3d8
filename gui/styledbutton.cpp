#include "styledbutton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

StyledButton::StyledButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
    , m_colour(palette().color(QPalette::Button))
{
    setAttribute(Qt::WA_Hover);
}

void StyledButton::setBackground(const QColor &colour)
{
    m_colour = colour;
    update();
}

void StyledButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor edge = m_colour.darker(140);
    const bool hovered = isEnabled() && underMouse();
    painter.setPen(edge);
    painter.setBrush(isDown() ? edge : hovered ? m_colour.lighter(104) : m_colour);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);

    const QRect inside = rect().adjusted(6, 2, -6, -2);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
    int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this))
        flags |= Qt::TextHideMnemonic;
    QPalette colours = palette();
    colours.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9a, 0x9a, 0x9a));
    style()->drawItemText(&painter, inside, flags, colours, isEnabled(), text(), QPalette::ButtonText);
}
