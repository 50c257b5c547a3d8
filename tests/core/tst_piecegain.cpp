// The boxes of step three through the session: the choice goes with every cut until changed, a
// change rewrites the kept piece from the song, and a failed rewrite leaves all as it was.

#include "core/pathrules.h"
#include "filesizelimit.h"
#include "sessionrig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

namespace {

/// \a song cut from 0.5 s to 2.5 s as the command line cuts it, then changed by \a change.
QByteArray expectedPiece(const QString &song, const GainChange &change)
{
    QTemporaryDir dir;
    const QString piece = dir.filePath(QStringLiteral("expected.mp3"));
    if (!cutAsTheCommandLineDoes(song, 0.5, 2.5, piece) || applyGain(fileSystemPath(piece), change))
        return {};
    return readAll(piece);
}

} // namespace

class TestPieceGain : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        rig = std::make_unique<SessionRig>();
        dir = std::make_unique<QTemporaryDir>();
        song = dir->filePath(QStringLiteral("song.mp3"));
        piece = dir->filePath(QStringLiteral("[铃声]1song.mp3"));
        QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/crc/crc-cbr128-midside-44k1.mp3"), song));
    }
    void cleanup()
    {
        rig.reset();
        dir.reset();
    }

    void theChoiceGoesWithEveryCutUntilChanged()
    {
        rig->session.setFadeIn(true);
        rig->session.setMaxVolume(true);
        QVERIFY(cut());
        const QByteArray faded = expectedPiece(song, {defaultFadeSeconds, 0, true});
        QVERIFY(!faded.isEmpty() && readAll(piece) == faded);

        rig->session.keepAndStartOver();
        QVERIFY(QFile::remove(piece));
        QVERIFY(cut());
        QVERIFY(readAll(piece) == faded);
        QVERIFY(rig->prompts.told.isEmpty());
    }

    void aBoxTickedInStepThreeRewritesThePieceAndPlaysItAgain_data()
    {
        QTest::addColumn<int>("box");
        QTest::newRow("fade in") << 0;
        QTest::newRow("fade out") << 1;
        QTest::newRow("loudness") << 2;
    }

    void aBoxTickedInStepThreeRewritesThePieceAndPlaysItAgain()
    {
        QFETCH(int, box);
        const std::array setters{&CutSession::setFadeIn, &CutSession::setFadeOut, &CutSession::setMaxVolume};
        QVERIFY(cut());
        const QByteArray plain = readAll(piece);
        const qsizetype loads = rig->piece.loads.size();

        (rig->session.*setters[box])(true);
        QVERIFY(rig->waitForCut());
        GainChange change{box == 0 ? defaultFadeSeconds : 0, box == 1 ? defaultFadeSeconds : 0, box == 2};
        QVERIFY(readAll(piece) == expectedPiece(song, change));
        QCOMPARE(rig->piece.loads.mid(loads), QStringList({piece}));

        // Unticked, the piece is cut again as it was.
        (rig->session.*setters[box])(false);
        QVERIFY(rig->waitForCut());
        QVERIFY(readAll(piece) == plain);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({piece.section('/', -1), QStringLiteral("song.mp3")}));
        QCOMPARE(rig->session.state().step, 3);
    }

    void aFailedRewriteLeavesThePieceAndTheChoiceAsTheyWere_data()
    {
        QTest::addColumn<bool>("sizeLimit");
        QTest::newRow("disk full") << false;
        QTest::newRow("file size limit") << true;
    }

    void aFailedRewriteLeavesThePieceAndTheChoiceAsTheyWere()
    {
        QFETCH(bool, sizeLimit);
        QVERIFY(cut());
        const QByteArray plain = readAll(piece);
        const qsizetype loads = rig->piece.loads.size();
        rig->files.writeBudget = sizeLimit ? -1 : plain.size() / 2;
        bool ok = true;
        {
            const FileSizeLimit limit(sizeLimit ? rlim_t(plain.size() / 2) : RLIM_INFINITY);
            rig->session.setFadeOut(true);
            ok = rig->waitForCut();
        }
        QVERIFY(!ok);
        QVERIFY(readAll(piece) == plain);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({piece.section('/', -1), QStringLiteral("song.mp3")}));
        QVERIFY(!rig->session.state().gain.fadeOut);
        QCOMPARE(rig->piece.loads.size(), loads);
        QCOMPARE(rig->prompts.told.size(), 1);
        const QString told = rig->prompts.told[0].text;
        QVERIFY2(told.startsWith(QStringLiteral("无法改写铃声（")) && told.endsWith(QStringLiteral("），铃声保持原样：\n") + piece)
                     && (told.contains(QStringLiteral("磁盘空间不足")) || told.contains(QStringLiteral("文件超过了允许的大小"))),
                 qPrintable(told));
    }

    void aLayerTwoSongKeepsItsPieceAsCutAndSaysWhy()
    {
        // MPEG-1 layer II frames at 48 kHz and 160 kbit/s, silent but for their headers.
        const char header[] = {char(0xFF), char(0xFD), char(0x94), char(0x00)};
        QVERIFY(writeFile(song, (QByteArray(header, 4) + QByteArray(476, '\0')).repeated(150)));
        rig->session.setFadeIn(true);
        QVERIFY(cut());
        const QString why = QStringLiteral("这首歌是MPEG Layer II格式，不能淡入淡出或调整音量：铃声保持原样。");
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].text, why);
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("提示"));
        QVERIFY(readAll(song).contains(readAll(piece)));

        rig->session.setFadeOut(true);
        QVERIFY(!rig->session.cutRunning());
        QCOMPARE(rig->prompts.told.size(), 2);
        QCOMPARE(rig->prompts.told[1].text, why);
    }

private:
    bool cut()
    {
        if (!rig->choose(song))
            return false;
        rig->markAt(0.5);
        return rig->cutAt(2.5);
    }

    std::unique_ptr<SessionRig> rig;
    std::unique_ptr<QTemporaryDir> dir;
    QString song;
    QString piece;
};

QTEST_GUILESS_MAIN(TestPieceGain)
#include "tst_piecegain.moc"
