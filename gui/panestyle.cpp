#include "gui/panestyle.h"

#include <QPainter>
#include <QStyleOption>

void PaneStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                              const QWidget *widget) const
{
    if (element != PE_FrameGroupBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // Below the title, where Fusion puts it: a rounded line a shade darker than the window
    // around a face a touch darker still.
    const int top = std::max(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget), option->fontMetrics.height()) + 4;
    const QRectF frame = QRectF(option->rect.adjusted(1, top, 0, 0)).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor window = option->palette.window().color();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(window.darker(111));
    painter->setBrush(window.darker(101));
    painter->drawRoundedRect(frame, 2, 2);
    painter->restore();
}
