// The one cut both front ends run: the gain changes the whole piece before it is named, and a
// failure at any step names the file it failed on, never the temporary one, and leaves nothing
// of the piece behind.

#include "core/pathrules.h"
#include "corefakes.h"
#include "engine/cutpipeline.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

/// MPEG-1 layer II frames at 48 kHz and 160 kbit/s, silent but for their headers.
QByteArray layerTwoSong()
{
    const char header[] = {char(0xFF), char(0xFD), char(0x94), char(0x00)};
    return (QByteArray(header, 4) + QByteArray(476, '\0')).repeated(150);
}

} // namespace

class TestCutPipeline : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        song = dir->filePath(QStringLiteral("song.mp2"));
        piece = dir->filePath(QStringLiteral("piece.mp3"));
        QVERIFY(writeFile(song, layerTwoSong()));
    }
    void cleanup() { dir.reset(); }

    void aFailureNamesItsFileAndLeavesNothing_data()
    {
        QTest::addColumn<qint64>("rangeEnd");
        QTest::addColumn<bool>("fade");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("onSong");
        QTest::newRow("whole and named") << qint64(48000) << false << false << -1 << false;
        QTest::newRow("the song shorter than its map") << qint64(80000) << false << false
                                                       << int(CutError::Kind::Changed) << true;
        QTest::newRow("no gain to fade in the piece") << qint64(48000) << true << false
                                                      << int(CutError::Kind::NoGainInLayer2) << false;
        QTest::newRow("its name taken") << qint64(48000) << false << true << int(CutError::Kind::Taken)
                                                  << false;
    }

    void aFailureNamesItsFileAndLeavesNothing()
    {
        QFETCH(qint64, rangeEnd);
        QFETCH(bool, fade);
        QFETCH(bool, taken);
        QFETCH(int, kind);
        QFETCH(bool, onSong);
        // Another program's file under the name, which the piece may not replace.
        if (taken)
            QVERIFY(writeFile(piece, "theirs"));
        SongFile source(fileSystemPath(song));
        NewFile target(fileSystemPath(piece), false);
        CutPipeline cut(PieceParts{{}, {}, {}, {{0, rangeEnd}}}, GainChange{fade ? 1.0 : 0.0, 0, false}, source, target,
                        fileSystemPath(song), fileSystemPath(piece));
        while (cut.step(4096) == CutPipeline::State::Copying) {
        }
        cut.changeGain();

        QStringList left = QDir(dir->path()).entryList(QDir::Files | QDir::Hidden);
        if (kind < 0) {
            QCOMPARE(cut.state(), CutPipeline::State::Written);
            QVERIFY(readAll(piece) == layerTwoSong().left(rangeEnd));
            QCOMPARE(left, QStringList({QStringLiteral("piece.mp3"), QStringLiteral("song.mp2")}));
            return;
        }
        QCOMPARE(cut.state(), CutPipeline::State::Failed);
        QCOMPARE(int(cut.error()->kind), kind);
        QCOMPARE(cut.error()->path, fileSystemPath(onSong ? song : piece));
        QCOMPARE(left, taken ? QStringList({QStringLiteral("piece.mp3"), QStringLiteral("song.mp2")})
                             : QStringList({QStringLiteral("song.mp2")}));
        if (taken)
            QCOMPARE(readAll(piece), QByteArray("theirs"));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString song;
    QString piece;
};

QTEST_GUILESS_MAIN(TestCutPipeline)
#include "tst_cutpipeline.moc"
