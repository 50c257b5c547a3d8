#pragma once

#include "core/cutsession.h"
#include "corefakes.h"
#include "fakeengine.h"
#include "gui/frm.h"

#include <memory>

/// The main window over a cut session, on fake players or on the real ones, with fake prompts
/// over the real file system.
struct Harness
{
    /// Real players play real files through Qt Multimedia; the fakes answer what a test sets.
    enum class Players { Fake, Real };

    explicit Harness(Players players = Players::Fake);
    ~Harness();

    template<class T>
    T *child(const QString &name) const
    {
        return frm->findChild<T *>(name);
    }
    /// Clicks the button as a user would.
    void click(const QString &name) const;
    /// Picks \a path in the open dialog of step one and waits until it is taken or refused.
    void choose(const QString &path);
    /// Presses the start button with the fake song player at \a seconds.
    void markAt(double seconds);
    /// Presses the end button at \a seconds; true when a cut ran and succeeded.
    bool cutAt(double seconds);
    /// Clicks the step-three button \a name once the double-click interval since the step
    /// showed is over: earlier, the button takes the click for the second of a double-click.
    void clickInStepThree(const QString &name) const;
    /// Clicks the step-three box \a name and waits for the piece to be cut again; true when it was.
    bool tick(const QString &name) const;
    /// The step whose pane is visible, 0 when none or several are.
    int visibleStep() const;
    /// The step whose indicator is enabled, 0 when none or several are.
    int enabledStep() const;
    /// The text of the hidden or visible line edit \a name.
    QString box(const QString &name) const;

    FaultyFileSystem files;
    FakePrompts prompts;
    FakeProcesses processes;
    std::unique_ptr<PlayerEngine> song;
    std::unique_ptr<PlayerEngine> piece;
    /// Null with real players.
    FakeEngine *fakeSong = nullptr;
    FakeEngine *fakePiece = nullptr;
    std::unique_ptr<CutSession> session;
    std::unique_ptr<Frm> frm;
};
