#pragma once

#include <QWidget>


/// The About box: the program's name, what it does, its version and its licence.
/// It deletes itself when "确定" closes it.
class FrmA : public QWidget
{
    Q_OBJECT
public:
    explicit FrmA(QWidget *parent = nullptr);
};
