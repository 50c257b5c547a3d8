#pragma once

#include "platform/messagebox.h"

class QtMessageBox : public MessageBox
{
public:
    void show(QWidget *parent, const QString &text, Icon icon, const QString &caption) override;
    bool askYesNo(QWidget *parent, const QString &text, const QString &caption) override;
};
