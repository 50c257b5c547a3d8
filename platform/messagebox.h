#pragma once

#include <QString>

class QWidget;

/// Modal message boxes. An empty caption shows the application's title.
class MessageBox
{
public:
    enum class Icon { None, Error, Warning, Information, Question };

    virtual ~MessageBox() = default;

    /// A message with one OK button.
    virtual void show(QWidget *parent, const QString &text, Icon icon, const QString &caption) = 0;
    /// A question with Yes and No; true for Yes.
    virtual bool askYesNo(QWidget *parent, const QString &text, const QString &caption) = 0;
};
