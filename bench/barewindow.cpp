// The window the program's launch is measured against: Qt Widgets and nothing else, a plain
// QWidget of the given size, with the program's title as one label when asked. It shows the least
// a Qt program can show, and the least one showing Chinese text can (its font costs its own).
// Usage: barewindow WIDTHxHEIGHT [--with-text]

#include "gui/frmtexts.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QList<QByteArray> size = QByteArray(argc > 1 ? argv[1] : "").split('x');
    QWidget window;
    window.setFixedSize(size.value(0).toInt(), size.value(1).toInt());
    if (argc > 2 && qstrcmp(argv[2], "--with-text") == 0)
        new QLabel(FrmText::title, &window);
    window.show();
    return app.exec();
}
