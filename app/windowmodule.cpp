#include "app/desktopapp.h"
#include "app/window.h"
#include "gui/frmtexts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

extern "C" Q_DECL_EXPORT int mp3cutterRunWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mp3cutter"));
    QApplication::setApplicationDisplayName(FrmText::title);
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/mp3cutter.png")));

    // Every text of the program is Chinese, so Qt's own (the file dialogs) should be too,
    // whatever language the desktop runs in.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    DesktopApp desktop(QApplication::arguments());
    desktop.window().show();
    return app.exec();
}
