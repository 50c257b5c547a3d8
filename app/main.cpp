#include "app/frm.h"
#include "app/frmtexts.h"
#include "platform/qtcommondialog.h"
#include "platform/qtfilesystem.h"
#include "platform/qtmediaplayer.h"
#include "platform/qtmessagebox.h"
#include "platform/qtprocessstarter.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mp3cutter"));
    QApplication::setApplicationDisplayName(FrmText::title);
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/mp3cutter.png")));

    Platform platform;
    platform.mdplay = new QtMediaPlayer;
    platform.mdst = new QtMediaPlayer;
    platform.cmmDlg = std::make_unique<QtCommonDialog>();
    platform.comDlg = std::make_unique<QtCommonDialog>();
    platform.messages = std::make_unique<QtMessageBox>();
    platform.files = std::make_unique<QtFileSystem>();
    platform.processes = std::make_unique<QtProcessStarter>();

    Frm frm(std::move(platform));
    frm.show();
    return app.exec();
}
