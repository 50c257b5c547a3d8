#pragma once

#include "core/cutsession.h"
#include "gui/frm.h"
#include "gui/qtprompts.h"
#include "platform/qtfilesystem.h"
#include "platform/lazyplayerengine.h"
#include "platform/qtprocessstarter.h"

#include <QStringList>

/// The program with its window: the real files, dialogs and players under one cut session, and
/// the window over it.
class DesktopApp
{
public:
    /// \a arguments as the program was started with: a song after the program's name is taken as
    /// if chosen in step one, once the event loop runs. \a makePlayer makes each of the two
    /// players when it gets its first file; where it cannot (it returns null), the window says
    /// once that \a playerName is missing.
    DesktopApp(const QStringList &arguments, const LazyPlayerEngine::Make &makePlayer, const QString &playerName);

    CutSession &session() { return m_session; }
    Frm &window() { return m_window; }

private:
    LazyPlayerEngine::Make sayingWhenMissing(const LazyPlayerEngine::Make &makePlayer, const QString &playerName);

    QtFileSystem m_files;
    QtPrompts m_prompts;
    QtProcessStarter m_processes;
    LazyPlayerEngine m_songPlayer;
    LazyPlayerEngine m_piecePlayer;
    CutSession m_session;
    Frm m_window;
    bool m_saidPlayerMissing = false;
};
