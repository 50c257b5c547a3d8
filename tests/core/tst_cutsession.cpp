// Choosing a song, marking it and cutting it, through the session alone: fake players and prompts
// over real files, checked byte for byte.

#include "sessionrig.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

/// Sets a limit on the size of any file this process writes, for as long as it lives. Root obeys
/// it too, so a full disk can be had without one.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_before);
        // The signal would otherwise end the test; the write then fails with EFBIG.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_before); }
    bool isSet() const { return m_set; }

private:
    rlimit m_before{};
    bool m_set = false;
};

/// The first frame of the 384-byte frames of writeCbrSong at or after \a offset.
qint64 nextFrame(qint64 offset)
{
    return (offset + 383) / 384 * 384;
}

} // namespace

class TestCutSession : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        rig = std::make_unique<SessionRig>();
        dir = std::make_unique<QTemporaryDir>();
        source = dir->filePath(QStringLiteral("song.mp3"));
        sourceBytes = writeCbrSong(source, 3'000'000);
    }
    void cleanup()
    {
        rig.reset();
        dir.reset();
    }

    void choosingTakesPathFolderAndLength()
    {
        QSignalSpy steps(&rig->session, &CutSession::stepChanged);
        QVERIFY(rig->choose(source));
        QCOMPARE(steps.size(), 1);
        QCOMPARE(state().step, 2);
        QCOMPARE(state().sourcePath, source);
        QCOMPARE(state().outputFolder, dir->path() + QDir::separator());
        QCOMPARE(state().fileLength, 3'000'000);
        QCOMPARE(rig->song.source(), source);
        QCOMPARE(rig->song.state(), PlayerEngine::State::Playing);
        QCOMPARE(state().duration, 180.0);
        QCOMPARE(rig->prompts.opened, QStringList({QStringLiteral("MP3音频文件|*.mp3|")}));
        QVERIFY(rig->session.timeline());
        QVERIFY(rig->session.timeline()->constantBitRate);

        // The output folder stays that of the first song.
        QTemporaryDir other;
        const QString second = other.filePath(QStringLiteral("b.mp3"));
        writeCbrSong(second, 10'000);
        rig->session.chooseAgain();
        QCOMPARE(rig->song.stops, 1);
        QVERIFY(rig->choose(second));
        QCOMPARE(state().outputFolder, dir->path() + QDir::separator());
        QCOMPARE(state().fileLength, 10'000);
    }

    void aCancelTakesTheLastSongAgain()
    {
        // Before any song: nothing to take, nothing happens.
        rig->prompts.openAnswers.enqueue(std::nullopt);
        rig->session.chooseSource();
        QVERIFY(!rig->session.opening());
        QCOMPARE(state().step, 1);
        QVERIFY(rig->song.loads.isEmpty());

        QVERIFY(rig->choose(source));
        rig->session.chooseAgain();
        QVERIFY(QFile::resize(source, 2'000'000));
        QVERIFY(rig->choose(std::nullopt));   // the last song, opened again
        QCOMPARE(state().step, 2);
        QCOMPARE(state().fileLength, 2'000'000);
        QCOMPARE(rig->song.loads, QStringList({source, source}));
        QCOMPARE(rig->prompts.opened.last(), QStringLiteral("MP3音频文件|*.mp3|") + source);
    }

    void songsThatCannotBeCutAreRefusedAndForgotten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing.mp3" << QByteArray() << "无法读取文件";
        QTest::newRow("2 GiB") << "huge.mp3" << QByteArray() << "文件太大";
        QTest::newRow("empty") << "empty.mp3" << QByteArray("") << "找不到MP3音频";
        QByteArray noise(50'000, Qt::Uninitialized);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 2654435761u) >> 13);
        QTest::newRow("no frames") << "noise.mp3" << noise << "找不到MP3音频";
    }

    void songsThatCannotBeCutAreRefusedAndForgotten()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path = dir->filePath(name);
        if (name == u"huge.mp3") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 31));   // sparse: costs no disk
        } else if (name != u"missing.mp3") {
            QVERIFY(writeFile(path, bytes));
        }

        QVERIFY(rig->choose(source));
        rig->session.chooseAgain();
        const CutState before = state();
        QVERIFY(!rig->choose(path));
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Error);
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("错误"));
        QVERIFY2(rig->prompts.told[0].text.contains(message), qPrintable(rig->prompts.told[0].text));
        QVERIFY(rig->prompts.told[0].text.contains(path));
        QCOMPARE(state().step, 1);
        QCOMPARE(state().sourcePath, before.sourcePath);
        QCOMPARE(state().fileLength, before.fileLength);
        QCOMPARE(rig->song.loads, QStringList({source}));

        // A cancel takes the last song that was taken, not the refused one.
        QVERIFY(rig->choose(std::nullopt));
        QCOMPARE(state().sourcePath, source);
    }

    void theStartMarkWritesTheSizeInFrontOfIt()
    {
        rig->session.markStart();
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].text, QStringLiteral("请选择要剪切的MP3文件！"));
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("错误"));
        QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Error);

        QVERIFY(rig->choose(source));
        rig->markAt(30);
        QCOMPARE(state().startPos, QStringLiteral("30"));
        QCOMPARE(state().fileKB, 2929.7);
        QCOMPARE(state().sizeBoxes[0], QStringLiteral("488.2833"));
        QCOMPARE(state().status, QStringLiteral("开始。。。"));
        QCOMPARE(rig->song.state(), PlayerEngine::State::Playing);
    }

    void aCutReadsAndWritesOnlyTheKeptBytes()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        rig->files.bytesRead = 0;
        QSignalSpy started(&rig->session, &CutSession::cutStarted);
        QVERIFY(rig->cutAt(60));

        QCOMPARE(state().pieceSizes, QList<qint32>({500002, 500002, 1999996}));
        QCOMPARE(state().sizeBoxes[1], QStringLiteral("488.2833"));
        QCOMPARE(state().sizeBoxes[2], QStringLiteral("1953.1"));
        // The plan's piece, begun at the song's next frame.
        const qint64 from = nextFrame(500002);
        const qint64 length = 500002 - (from - 500002);
        QCOMPARE(readAll(piece(1)), sourceBytes.mid(from, length));
        QCOMPARE(started.at(0).at(0).toLongLong(), length);
        QCOMPARE(rig->files.bytesWritten, length);
        QVERIFY2(rig->files.bytesRead < length + 64 * 1024, qPrintable(QString::number(rig->files.bytesRead)));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files),
                 QStringList({QStringLiteral("[铃声]1song.mp3"), QStringLiteral("song.mp3")}));
        QVERIFY(rig->files.log.filter(QStringLiteral("[铃声]0")).isEmpty());
        QVERIFY(rig->files.log.filter(QStringLiteral("[铃声]2")).isEmpty());
        QCOMPARE(readAll(source), sourceBytes);

        QCOMPARE(state().status, QStringLiteral("剪切完成，请试听！"));
        QCOMPARE(rig->song.pauses, 1);
        QCOMPARE(state().step, 3);
        QCOMPARE(rig->piece.source(), piece(1));
        QCOMPARE(state().srcName, QStringLiteral("song.mp3"));
        QCOMPARE(state().destDir, dir->path() + QDir::separator());
        QVERIFY(rig->prompts.told.isEmpty());
    }

    void theMarksGiveThePlansBytes_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("length");
        // 60 s of 180 s of 2929.7 KB is 976.5666 KB, read back as 1,000,004 bytes.
        QTest::newRow("from the very beginning") << 0.0 << 60.0 << qint64(0) << qint64(1'000'004);
        QTest::newRow("end on the start keeps the rest")
            << 30.0 << 30.0 << nextFrame(500002) << qint64(3'000'000 - nextFrame(500002));
    }

    void theMarksGiveThePlansBytes()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(qint64, from);
        QFETCH(qint64, length);
        QVERIFY(rig->choose(source));
        rig->markAt(start);
        QVERIFY(rig->cutAt(end));
        QCOMPARE(readAll(piece(1)), sourceBytes.mid(from, length));
    }

    void aStartMarkedOnAnotherSongIsPlacedInTheSongBeingCut()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        rig->session.chooseAgain();
        const QString shorter = dir->filePath(QStringLiteral("short.mp3"));
        const QByteArray shorterBytes = writeCbrSong(shorter, 1'200'000);
        QVERIFY(rig->choose(shorter));
        QVERIFY(rig->cutAt(60));
        // 30 s and 60 s of 180 s of 1171.9 KB: 195.3166 KB and as much again.
        QCOMPARE(state().pieceSizes.mid(0, 2), QList<qint32>({200004, 200004}));
        QCOMPARE(readAll(pieceOf(QStringLiteral("short.mp3"))),
                 shorterBytes.mid(nextFrame(200004), 200004 - (nextFrame(200004) - 200004)));
    }

    void aRefusedCutChangesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("caption");
        QTest::newRow("no song") << "no song" << "请先选择起点！" << "";
        QTest::newRow("no start mark") << "no start" << "请先选择起点！" << "";
        QTest::newRow("end before start") << "end before start" << "终点不能在起点之前！" << "提示";
        QTest::newRow("song gone") << "song gone" << "请选择要剪切的MP3文件！" << "提示";
        QTest::newRow("no folder") << "no folder" << "请选择要存放的文件夹！" << "提示";
        QTest::newRow("player cannot tell") << "player fails" << "无法读取播放位置" << "错误";
    }

    void aRefusedCutChangesNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(QString, caption);
        const QString previous = QDir::currentPath();
        if (fault == u"no folder") {
            // A song chosen without a folder gives no output folder.
            QDir::setCurrent(dir->path());
            QVERIFY(rig->choose(QStringLiteral("song.mp3")));
        } else if (fault == u"player fails") {
            rig->song.nextDuration = std::nullopt;
            QVERIFY(rig->choose(source));
        } else if (fault != u"no song") {
            QVERIFY(rig->choose(source));
        }
        if (fault != u"no start" && fault != u"no song")
            rig->markAt(fault == u"end before start" ? 90 : 30);
        if (fault == u"song gone")
            QFile::remove(source);
        rig->prompts.told.clear();

        const CutState before = state();
        rig->song.moveTo(60);
        rig->session.markEndAndCut();
        QDir::setCurrent(previous);
        QVERIFY(!rig->session.cutRunning());
        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY2(rig->prompts.told[0].text.startsWith(message), qPrintable(rig->prompts.told[0].text));
        QCOMPARE(rig->prompts.told[0].caption, caption);
        QCOMPARE(state().endPos, before.endPos);
        QCOMPARE(state().duration, before.duration);
        QCOMPARE(state().sizeBoxes, before.sizeBoxes);
        QCOMPARE(state().pieceSizes, before.pieceSizes);
        QCOMPARE(state().srcName, before.srcName);
        QCOMPARE(state().step, before.step);
        QVERIFY(rig->files.log.isEmpty());
    }

    void aKeptRingtoneIsReplacedOnlyWhenTheUserSaysSo()
    {
        const QByteArray kept(4321, 'k');
        QVERIFY(writeFile(piece(1), kept));
        QVERIFY(rig->choose(source));
        rig->markAt(30);

        rig->prompts.yesNoAnswers.enqueue(false);
        QVERIFY(!rig->cutAt(60));
        QCOMPARE(rig->prompts.asked.size(), 1);
        QCOMPARE(rig->prompts.asked[0].text, QStringLiteral("文件已存在，是否替换？\n") + piece(1));
        QCOMPARE(rig->prompts.asked[0].caption, QStringLiteral("提示"));
        QCOMPARE(readAll(piece(1)), kept);
        QVERIFY(rig->files.log.isEmpty());
        QCOMPARE(state().step, 2);
        QCOMPARE(state().startPos, QStringLiteral("30"));

        rig->prompts.yesNoAnswers.enqueue(true);
        QVERIFY(rig->cutAt(60));
        QCOMPARE(readAll(piece(1)), sourceBytes.mid(nextFrame(500002), 500002 - (nextFrame(500002) - 500002)));
    }

    void aDiskWithRoomForThePieceButNotTheSongIsEnough()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        // Each file may take 600 KB: the piece fits, the song's other pieces would not.
        bool cut = false;
        {
            const FileSizeLimit limit(600'000);
            QVERIFY(limit.isSet());
            cut = rig->cutAt(60);
        }
        QVERIFY(cut);
        QVERIFY(rig->prompts.told.isEmpty());
        QCOMPARE(QFileInfo(piece(1)).size(), 500002 - (nextFrame(500002) - 500002));
    }

    void aFailedCutLeavesNoFileBehind_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("piece cannot be created") << "refused";
        QTest::newRow("disk full mid-copy") << "budget";
        QTest::newRow("file size limit") << "limit";
        QTest::newRow("song shortened") << "shortened";
    }

    void aFailedCutLeavesNoFileBehind()
    {
        QFETCH(QString, fault);
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        if (fault == u"refused")
            rig->files.refuseWrite = [](const QString &) { return true; };
        else if (fault == u"budget")
            rig->files.writeBudget = 300'000;
        else if (fault == u"shortened")
            QVERIFY(QFile::resize(source, 700'000));
        bool cut = false;
        {
            const FileSizeLimit limit(fault == u"limit" ? 200'000 : RLIM_INFINITY);
            cut = rig->cutAt(60);
        }

        QVERIFY(!cut);
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Error);
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("错误"));
        const QString named = fault == u"shortened" ? source : piece(1);
        QVERIFY2(rig->prompts.told[0].text.endsWith(named), qPrintable(rig->prompts.told[0].text));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("song.mp3")}));
        QCOMPARE(state().step, 2);
        QVERIFY(state().status != QStringLiteral("剪切完成，请试听！"));
        QVERIFY(rig->piece.loads.isEmpty());
    }

    void intentsDuringACutWaitForIt()
    {
        const QString big = startLongCut();
        QVERIFY(rig->session.cutRunning());
        QSignalSpy ended(&rig->session, &CutSession::cutEnded);
        QSignalSpy progress(&rig->session, &CutSession::cutProgress);
        QTest::qWait(5);   // let a slice of the copy run

        const CutState during = state();
        rig->song.moveTo(170);
        rig->prompts.openAnswers.enqueue(source);
        rig->prompts.saveAnswers.enqueue(dir->filePath(QStringLiteral("saved")));
        rig->session.markStart();
        rig->session.markEndAndCut();
        rig->session.savePiece();
        rig->session.throwAway();
        rig->session.chooseAgain();   // back to step one is allowed mid-cut...
        rig->session.chooseSource();  // ...but choosing another song is not
        QCOMPARE(state().startPos, during.startPos);
        QCOMPARE(state().endPos, during.endPos);
        QCOMPARE(state().sizeBoxes, during.sizeBoxes);
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.size(), 1);
        QVERIFY(!progress.isEmpty());
        QVERIFY(rig->prompts.opened.size() == 1 && rig->prompts.saved.isEmpty());
        QCOMPARE(state().step, 3);
        QCOMPARE(state().sourcePath, big);
    }

    void anAbandonedCutLeavesNothing()
    {
        startLongCut();
        QTest::qWait(5);
        QVERIFY(rig->session.cutRunning());
        QSignalSpy ended(&rig->session, &CutSession::cutEnded);
        rig->session.abandonCut();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral("big.mp3"), QStringLiteral("song.mp3")}));
    }

    void closingWhileASongIsReadTakesNothing()
    {
        const QString big = dir->filePath(QStringLiteral("big.mp3"));
        writeCbrSong(big, 60'000'000);
        QSignalSpy taken(&rig->session, &CutSession::sourceTaken);
        rig->session.openSource(big);
        QVERIFY(rig->session.opening());
        // A second song while the first is still read is not taken on top of it.
        rig->session.openSource(source);
        rig.reset();
        QVERIFY(taken.isEmpty());
    }

    void aLeadingTagIsSkippedByTheMarks()
    {
        // An ID3v2.3 tag of 10 + 102,390 bytes: the audio starts at 100 KB.
        const char header[] = {'I', 'D', '3', 3, 0, 0, 0x00, 0x06, 0x1f, 0x76};
        const QByteArray tagged = QByteArray(header, 10) + QByteArray(102'390, 0)
            + writeCbrSong(dir->filePath(QStringLiteral("untagged.mp3")), 3'000'000 - 102'400);
        QVERIFY(writeFile(source, tagged));

        QVERIFY(rig->choose(source));
        QCOMPARE(state().audioStart, 102'400);
        rig->markAt(0);
        QCOMPARE(state().sizeBoxes[0], QStringLiteral("100"));
        QVERIFY(rig->cutAt(90));
        // Half of the 2829.7 KB behind the tag: 1414.85 KB, from the tag's end, a frame boundary.
        QCOMPARE(readAll(piece(1)), tagged.mid(102'400, 1'448'806));
    }

    void aVariableBitRateSongIsCutAtItsFrames()
    {
        // 250 busy frames of 960 bytes, then 250 quiet ones of 96: six seconds each.
        const QByteArray song = writeVbrSong(source, 250, 250);
        rig->song.nextDuration = 11.0;   // the player's guess; the frames know better
        QVERIFY(rig->choose(source));
        QVERIFY(!rig->session.timeline()->constantBitRate);
        QCOMPARE(state().duration, 12.0);

        rig->markAt(3.01);   // inside frame 125
        QVERIFY(rig->cutAt(9.01));   // inside frame 375
        const QByteArray piece1 = readAll(piece(1));
        const qint64 from = 125 * 960;
        const qint64 to = 250 * 960 + 126 * 96;
        QVERIFY(piece1.endsWith(song.mid(from, to - from)));
        const QByteArray header = piece1.left(piece1.size() - (to - from));
        QVERIFY(header.contains("Xing"));
        QCOMPARE(state().pieceSizes, QList<qint32>({qint32(from), qint32(to - from), qint32(song.size() - to)}));
        QCOMPARE(state().sizeBoxes[0], QStringLiteral("117.1875"));
    }

private:
    /// Starts the cut of a song large enough to take many turns of the event loop; its path.
    QString startLongCut()
    {
        const QString big = dir->filePath(QStringLiteral("big.mp3"));
        writeCbrSong(big, 60'000'000);
        if (!rig->choose(big))
            return {};
        rig->markAt(30);
        rig->song.moveTo(150);
        rig->session.markEndAndCut();
        return big;
    }
    const CutState &state() const { return rig->session.state(); }
    QString pieceOf(const QString &name, int i = 1) const
    {
        return dir->path() + QDir::separator() + QStringLiteral("[铃声]%1").arg(i) + name;
    }
    QString piece(int i) const { return pieceOf(QStringLiteral("song.mp3"), i); }

    std::unique_ptr<SessionRig> rig;
    std::unique_ptr<QTemporaryDir> dir;
    QString source;
    QByteArray sourceBytes;
};

QTEST_GUILESS_MAIN(TestCutSession)
#include "tst_cutsession.moc"
