#include "sessionrig.h"

#include "engine/songtagslib.h"
#include "platform/qtfilesystem.h"

#include <QSignalSpy>
#include <QTest>

SessionRig::SessionRig()
    : session(files, prompts, &song, &piece)
{
    session.setTagReader(tagLibTags());
}

bool waitForOpening(CutSession &session)
{
    QSignalSpy taken(&session, &CutSession::sourceTaken);
    return QTest::qWaitFor([&session] { return !session.opening(); }, 20000) && !taken.isEmpty();
}

bool SessionRig::choose(const std::optional<QString> &path)
{
    prompts.openAnswers.enqueue(path);
    QSignalSpy taken(&session, &CutSession::sourceTaken);
    session.chooseSource();
    if (session.opening())
        return waitForOpening(session);
    return !taken.isEmpty();
}

void SessionRig::markAt(double seconds)
{
    song.moveTo(seconds);
    session.markStart();
}

bool SessionRig::cutAt(double seconds)
{
    song.moveTo(seconds);
    session.markEndAndCut();
    return waitForCut();
}

bool SessionRig::waitForCut()
{
    if (!session.cutRunning())
        return false;
    QSignalSpy ended(&session, &CutSession::cutEnded);
    return ended.wait(30000) && ended.at(0).at(0).toBool();
}

bool cutAsTheCommandLineDoes(const QString &song, double startSeconds, double endSeconds, const QString &piece)
{
    QtFileSystem files;
    FakePrompts prompts;
    CutSession session(files, prompts, nullptr, nullptr);
    session.setTagReader(tagLibTags());
    session.setPieceName(piece);
    if (!session.openSourceNow(song))
        return false;
    QSignalSpy ended(&session, &CutSession::cutEnded);
    session.markStartAt(startSeconds);
    session.markEndAndCutAt(endSeconds);
    return session.cutRunning() && ended.wait(30000) && ended.at(0).at(0).toBool();
}
