#pragma once

#include "platform/commondialog.h"
#include "platform/filesystem.h"
#include "platform/mediaplayer.h"
#include "platform/messagebox.h"
#include "platform/processstarter.h"

#include <memory>

/// What the main window needs of the system, built by main() or by a test.
/// The window takes the two players as its children and owns the rest.
struct Platform
{
    MediaPlayer *mdplay = nullptr;
    MediaPlayer *mdst = nullptr;
    std::unique_ptr<CommonDialog> cmmDlg;
    std::unique_ptr<CommonDialog> comDlg;
    std::unique_ptr<MessageBox> messages;
    std::unique_ptr<FileSystem> files;
    std::unique_ptr<ProcessStarter> processes;
};
