#pragma once

#include "core/cutsession.h"
#include "corefakes.h"
#include "fakeengine.h"

/// A cut session on fake players and prompts over the real file system, and the steps a person
/// takes with it.
struct SessionRig
{
    SessionRig();

    /// Answers the open dialog with \a path (nullopt cancels) and waits until the song is taken or refused; true
    /// when it was taken.
    bool choose(const std::optional<QString> &path);
    /// Marks the start with the song player at \a seconds.
    void markAt(double seconds);
    /// Marks the end with the song player at \a seconds and waits for the cut; true when a cut
    /// ran and succeeded.
    bool cutAt(double seconds);
    /// Waits for a cut that is running; true when it succeeded.
    bool waitForCut();

    FaultyFileSystem files;
    FakePrompts prompts;
    FakeEngine song;
    FakeEngine piece;
    CutSession session;
};

/// Waits until \a session has taken or refused the song it is opening; true when taken.
bool waitForOpening(CutSession &session);

/// Cuts \a song from \a startSeconds to \a endSeconds into \a piece as the command line does:
/// through a session with no players, on the real file system. True when the piece was written.
bool cutAsTheCommandLineDoes(const QString &song, double startSeconds, double endSeconds, const QString &piece);
