#include "styledbutton.h"

StyledButton::StyledButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{
    setBackground(palette().color(QPalette::Button));
}

void StyledButton::setBackground(const QColor &colour)
{
    // A style sheet rather than the palette: most widget styles ignore a palette's
    // button colour, and the colours are what tells these buttons apart.
    setStyleSheet(QStringLiteral(
                      "QPushButton { background-color: %1; border: 1px solid %2; border-radius: 4px; padding: 2px 6px; }"
                      "QPushButton:hover { background-color: %3; }"
                      "QPushButton:pressed { background-color: %2; }"
                      "QPushButton:disabled { color: #9a9a9a; }")
                      .arg(colour.name(), colour.darker(140).name(), colour.lighter(104).name()));
}
