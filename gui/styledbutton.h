#pragma once

#include <QColor>
#include <QPushButton>

/// A flat push button with a background colour of its own.
class StyledButton : public QPushButton
{
    Q_OBJECT
public:
    explicit StyledButton(const QString &caption, QWidget *parent);

    void setBackground(const QColor &colour);
};
