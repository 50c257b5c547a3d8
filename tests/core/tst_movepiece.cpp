// Either end of the piece in step three moved through the session: the piece is cut again between
// the moved marks, the marks follow, the piece plays where the move is heard and is checked
// against the song again, and a move that is refused or fails leaves everything as it was.

#include "core/numbertext.h"
#include "core/pathrules.h"
#include "gapless.h"
#include "sessionrig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

const QString fixture = QStringLiteral(FIXTURE_DIR "/songs/vbr-v4-stereo-44k1.mp3");
constexpr double cutFrom = 0.1;
constexpr double cutTo = 2.5;

} // namespace

class TestMovePiece : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        rig = std::make_unique<SessionRig>();
        dir = std::make_unique<QTemporaryDir>();
        song = dir->filePath(QStringLiteral("song.mp3"));
        piece = dir->filePath(QStringLiteral("[铃声]1song.mp3"));
        QVERIFY(QFile::copy(fixture, song));
        QVERIFY(rig->choose(song));
        rig->markAt(cutFrom);
        QVERIFY(rig->cutAt(cutTo));
    }
    void cleanup()
    {
        rig.reset();
        dir.reset();
    }

    void aMovedEndGivesTheSongBetweenTheMovedMarks_data()
    {
        QTest::addColumn<bool>("start");
        QTest::addColumn<double>("to");
        QTest::newRow("start later") << true << 1.2037;
        QTest::newRow("start earlier") << true << 0.0113;
        QTest::newRow("end earlier") << false << 1.0519;
        QTest::newRow("end later, to the song's end") << false << 3.5;
    }

    void aMovedEndGivesTheSongBetweenTheMovedMarks()
    {
        QFETCH(bool, start);
        QFETCH(double, to);
        const qsizetype loads = rig->piece.loads.size();
        start ? rig->session.moveStart(to) : rig->session.moveEnd(to);
        QVERIFY(rig->waitForCut());
        QVERIFY(rig->prompts.told.isEmpty());

        const double from = start ? to : cutFrom;
        const double until = start ? cutTo : to;
        const DecodedSound sound = decodeMp3(song);
        const DecodedSound cut = decodeMp3(piece);
        QVERIFY2(cut.problems.isEmpty(), qPrintable(cut.problems.join('\n')));
        const QStringList faults = soundFaults(cut, sound, std::llround(from * sound.rate), std::llround(until * sound.rate));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        // The marks follow, and the piece plays where the move is heard.
        const CutState &state = rig->session.state();
        QCOMPARE(state.startMark, std::optional(from));
        QCOMPARE(state.lastCut.endMark, until);
        QCOMPARE(state.piece->startSeconds, from);
        QCOMPARE(state.piece->endSeconds, until);
        QCOMPARE(state.piece->path, piece);
        QCOMPARE(state.step, 3);
        QCOMPARE(rig->piece.loads.mid(loads), QStringList({piece}));
        QCOMPARE(*rig->piece.position(), start ? 0.0 : std::max(0.0, until - from - 3.0));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({piece.section('/', -1), QStringLiteral("song.mp3")}));
    }

    void everyPieceIsCheckedAgainstTheSongAsItIsNow()
    {
        const auto checked = [this] {
            return QTest::qWaitFor([this] { return rig->session.state().piece->check.has_value(); }, 20000);
        };
        QVERIFY(checked());
        QCOMPARE(rig->session.state().piece->check->verdict, PieceCheck::Verdict::Exact);

        // The check of the piece before a move says nothing of the piece after it.
        rig->session.moveEnd(1.4);
        QVERIFY(rig->waitForCut());
        QVERIFY(!rig->session.state().piece->check);
        QVERIFY(checked());
        QCOMPARE(rig->session.state().piece->check->verdict, PieceCheck::Verdict::Exact);

        // Nor does it of the piece after a change of its gain.
        rig->session.setFadeIn(true);
        QVERIFY(rig->waitForCut());
        QVERIFY(!rig->session.state().piece->check);
        QVERIFY(checked());
        QCOMPARE(rig->session.state().piece->check->verdict, PieceCheck::Verdict::Exact);
    }

    void aMoveKeepsTheFadesAsChosen()
    {
        rig->session.setFadeOut(true);
        QVERIFY(rig->waitForCut());
        rig->session.moveEnd(2.0);
        QVERIFY(rig->waitForCut());
        QTemporaryDir other;
        const QString expected = other.filePath(QStringLiteral("expected.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, cutFrom, 2.0, expected));
        QVERIFY(!applyGain(fileSystemPath(expected), {0, defaultFadeSeconds, false}));
        QVERIFY(readAll(piece) == readAll(expected));
    }

    void movesAskedWhileOneRunsEndAtTheLastOfEachEnd()
    {
        rig->session.moveEnd(2.0);
        rig->session.moveStart(0.3);
        rig->session.moveEnd(1.6);
        rig->session.moveStart(0.7);
        rig->session.moveEnd(1.5);
        QVERIFY(rig->waitForCut());
        QVERIFY(rig->waitForCut());
        QVERIFY(!rig->session.cutRunning());
        QTemporaryDir other;
        const QString expected = other.filePath(QStringLiteral("expected.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 0.7, 1.5, expected));
        QVERIFY(readAll(piece) == readAll(expected));
        QCOMPARE(rig->session.state().piece->startSeconds, 0.7);
        QCOMPARE(rig->session.state().piece->endSeconds, 1.5);
    }

    void aRefusedOrFailedMoveChangesNothing_data()
    {
        QTest::addColumn<bool>("start");
        QTest::addColumn<double>("to");
        QTest::addColumn<qint64>("writeBudget");
        QTest::addColumn<QString>("told");
        QTest::newRow("end before the start") << false << 0.05 << qint64(-1) << QStringLiteral("终点不能在起点之前！");
        QTest::newRow("start behind the end") << true << 2.7 << qint64(-1) << QStringLiteral("终点不能在起点之前！");
        QTest::newRow("end past the song")
            << false << 9.0 << qint64(-1) << QStringLiteral("终点 9.0 秒超出了歌曲的长度 3.5 秒：\n%1");
        QTest::newRow("disk full") << true << 0.3 << qint64(4096) << QStringLiteral("无法改写铃声（");
    }

    void aRefusedOrFailedMoveChangesNothing()
    {
        QFETCH(bool, start);
        QFETCH(double, to);
        QFETCH(qint64, writeBudget);
        QFETCH(QString, told);
        const QByteArray before = readAll(piece);
        const CutState was = rig->session.state();
        const qsizetype loads = rig->piece.loads.size();
        rig->files.writeBudget = writeBudget;
        start ? rig->session.moveStart(to) : rig->session.moveEnd(to);
        if (rig->session.cutRunning())
            QVERIFY(!rig->waitForCut());

        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY2(rig->prompts.told[0].text.startsWith(told.contains(u'%') ? told.arg(song) : told), qPrintable(rig->prompts.told[0].text));
        QVERIFY(readAll(piece) == before);
        const CutState &state = rig->session.state();
        QCOMPARE(state.startMark, was.startMark);
        QCOMPARE(state.lastCut.endMark, was.lastCut.endMark);
        QCOMPARE(state.lastCut.pieceSizes, was.lastCut.pieceSizes);
        QCOMPARE(state.piece->startSeconds, cutFrom);
        QCOMPARE(state.piece->endSeconds, cutTo);
        QCOMPARE(rig->piece.loads.size(), loads);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({piece.section('/', -1), QStringLiteral("song.mp3")}));
    }

private:
    std::unique_ptr<SessionRig> rig;
    std::unique_ptr<QTemporaryDir> dir;
    QString song;
    QString piece;
};

QTEST_GUILESS_MAIN(TestMovePiece)
#include "tst_movepiece.moc"
