#pragma once

#include <QColor>
#include <QPushButton>

/// A flat push button with a background colour of its own: a rounded face in that colour with a
/// darker edge, lighter under the mouse and darker while pressed.
class StyledButton : public QPushButton
{
    Q_OBJECT
public:
    explicit StyledButton(const QString &caption, QWidget *parent);

    void setBackground(const QColor &colour);

protected:
    // Painted here rather than through a style sheet: most widget styles ignore a palette's
    // button colour, and a style sheet costs each button a style of its own to build.
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
};
