#pragma once

#include <QWidget>

class QLabel;
class StyledButton;

/// The About box: the program's name, what it does, where its maker is found.
/// It deletes itself when "确定" closes it.
class FrmA : public QWidget
{
    Q_OBJECT
public:
    explicit FrmA(QWidget *parent = nullptr);

    static const QString webAddress;
    static const QString mailAddress;
};
