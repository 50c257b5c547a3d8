// The check of a piece runs beside the event loop: its result comes back once, only the last
// check's, and a checker that goes while a check runs is safe.

#include "core/pathrules.h"
#include "core/piececheck.h"
#include "corefakes.h"
#include "sessionrig.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString song = QStringLiteral(FIXTURE_DIR "/songs/vbr-v4-stereo-44k1.mp3");

} // namespace

class TestPieceChecker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_piece = m_dir.filePath(QStringLiteral("piece.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 0.5, 3.0, m_piece));
        // The same piece with its frames' bytes garbled mid-way.
        m_wrong = m_dir.filePath(QStringLiteral("wrong.mp3"));
        QByteArray bytes = readAll(m_piece);
        bytes.replace(bytes.size() / 2, 64, QByteArray(64, '\x55'));
        QVERIFY(writeFile(m_wrong, bytes));
        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map);
        m_map = *map;
    }

    void theLastCheckAloneIsTold()
    {
        PieceChecker checker;
        QSignalSpy told(&checker, &PieceChecker::checked);
        checker.check(song, m_map, 0.5, 3.0, m_wrong);
        QVERIFY(checker.busy());
        checker.check(song, m_map, 0.5, 3.0, m_piece);
        // Handed on, and told only through the event loop.
        QVERIFY(told.isEmpty());
        QVERIFY(told.wait(10000));
        QVERIFY(!checker.busy());
        // Whatever became of the first check, its result is not told, neither before nor after.
        QTest::qWait(200);
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.at(0).at(0).value<PieceCheck>().verdict, PieceCheck::Verdict::Exact);

        checker.check(song, m_map, 0.5, 3.0, m_wrong);
        QVERIFY(told.wait(10000));
        QCOMPARE(told.at(1).at(0).value<PieceCheck>().verdict, PieceCheck::Verdict::Mismatch);

        // A cancelled check tells nothing.
        checker.check(song, m_map, 0.5, 3.0, m_piece);
        checker.cancel();
        QVERIFY(!checker.busy());
        QVERIFY(!told.wait(500));
    }

    void aCheckerGoneMidCheckIsSafe()
    {
        // A piece long enough that its check is still running when its checker goes.
        const QString longSong = m_dir.filePath(QStringLiteral("long.mp3"));
        QVERIFY(writeFile(longSong, readAll(QStringLiteral(FIXTURE_DIR "/cbr-tones.mp3")).repeated(16)));
        const QString longPiece = m_dir.filePath(QStringLiteral("long-piece.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(longSong, 1, 250, longPiece));
        const auto map = scanSong(fileSystemPath(longSong));
        QVERIFY(map);
        auto checker = std::make_unique<PieceChecker>();
        checker->check(longSong, *map, 1, 250, longPiece);
        QTest::qWait(30);
        checker.reset();

        // Checks run one after the other: once this one is told, the other has ended.
        PieceChecker next;
        QSignalSpy told(&next, &PieceChecker::checked);
        next.check(song, m_map, 0.5, 3.0, m_piece);
        QVERIFY(told.wait(30000));
        QCOMPARE(told.at(0).at(0).value<PieceCheck>().verdict, PieceCheck::Verdict::Exact);
    }

private:
    QTemporaryDir m_dir;
    QString m_piece;
    QString m_wrong;
    SongMap m_map;
};

QTEST_GUILESS_MAIN(TestPieceChecker)
#include "tst_piecechecker.moc"
