#pragma once

#include <QProxyStyle>

/// The style of the wizard's panes: the application's, but for the pane itself, its frame and
/// title, which it draws as Fusion does without what makes Fusion's slow to show first: the
/// frame is a picture read without naming its format (the first pane to paint would load every
/// image format plugin to ask each whether it reads it), and the title's place is measured in a
/// bold face (one more font to load) although it is drawn in the pane's own.
class PaneStyle : public QProxyStyle
{
    Q_OBJECT
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
};
