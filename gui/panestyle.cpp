#include "gui/panestyle.h"

#include <QPainter>
#include <QStyleOption>

void PaneStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                   const QWidget *widget) const
{
    const auto *pane = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    if (control != CC_GroupBox || !pane || (pane->subControls & SC_GroupBoxCheckBox)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // The title on the first line; below it, a rounded line a shade darker than the window
    // around a face a touch darker still.
    const int titleHeight = std::max(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget), pane->fontMetrics.height());
    const QRectF frame = QRectF(pane->rect.adjusted(1, titleHeight + 4, 0, 0)).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor window = pane->palette.window().color();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(window.darker(111));
    painter->setBrush(window.darker(101));
    painter->drawRoundedRect(frame, 2, 2);
    painter->restore();

    int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
    if (!styleHint(SH_UnderlineShortcut, option, widget))
        flags |= Qt::TextHideMnemonic;
    drawItemText(painter, QRect(pane->rect.left(), pane->rect.top() + 1, pane->rect.width(), titleHeight), flags,
                 pane->palette, pane->state & State_Enabled, pane->text, QPalette::WindowText);
}
