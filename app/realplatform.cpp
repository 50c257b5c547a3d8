#include "realplatform.h"

#include "platform/qtcommondialog.h"
#include "platform/qtfilesystem.h"
#include "platform/qtmediaplayer.h"
#include "platform/qtmessagebox.h"
#include "platform/qtprocessstarter.h"

Platform realPlatform()
{
    Platform platform;
    platform.mdplay = new QtMediaPlayer;
    platform.mdst = new QtMediaPlayer;
    platform.cmmDlg = std::make_unique<QtCommonDialog>();
    platform.comDlg = std::make_unique<QtCommonDialog>();
    platform.messages = std::make_unique<QtMessageBox>();
    platform.files = std::make_unique<QtFileSystem>();
    platform.processes = std::make_unique<QtProcessStarter>();
    return platform;
}
