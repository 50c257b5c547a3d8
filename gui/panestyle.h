#pragma once

#include <QProxyStyle>

/// The style of the wizard's panes: the application's, but for the frame, which it draws itself.
/// Fusion draws a group box's frame from a picture whose format it does not name, so that the
/// first pane to paint would first load every image format plugin there is, which costs the
/// window's first showing a few milliseconds; this frame looks the same and costs nothing.
class PaneStyle : public QProxyStyle
{
    Q_OBJECT
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
