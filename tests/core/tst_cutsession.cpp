// Choosing a song, marking it and cutting it, through the session alone: fake players and prompts
// over real files, checked byte for byte.

#include "filesizelimit.h"
#include "piecereading.h"
#include "sessionrig.h"
#include "watchdog.h"

#include "core/numbertext.h"
#include "core/pathrules.h"
#include "engine/songmap.h"

#include <QDir>
#include <QMap>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

/// Seconds of sound in a song made by writeCbrSong: its whole frames, for a song without a LAME
/// tag plays from its first decoded sample.
double cbrSongSeconds(qint64 bytes)
{
    return double(bytes / 384 * 1152) / 48000.0;
}

/// The sample of a song without a LAME tag, at 48 kHz, that \a seconds of its time falls on.
qint64 sampleAt(double seconds)
{
    return qRound64(seconds * 48000);
}

} // namespace

class TestCutSession : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        // Qt's complaints about file names are the program's faults, whatever the test.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QFSFileEngine|QFile::")));
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
        QCOMPARE(state().duration, cbrSongSeconds(3'000'000));
        QCOMPARE(rig->prompts.opened, QStringList({QStringLiteral("MP3音频文件|*.mp3|")}));
        QVERIFY(rig->session.songMap());
        QVERIFY(rig->session.songMap()->constantBitRate);

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
        QTest::newRow("missing") << "missing.mp3" << QByteArray() << "无法读取文件（文件或文件夹不存在）";
        QTest::newRow("2 GiB") << "huge.mp3" << QByteArray() << "文件太大";
        QTest::newRow("empty") << "empty.mp3" << QByteArray("") << "找不到MP3音频";
        QByteArray noise(50'000, Qt::Uninitialized);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 2654435761u) >> 13);
        QTest::newRow("no frames") << "noise.mp3" << noise << "找不到MP3音频";
        // Refused before anything is read: a pipe would keep the reader waiting for a writer.
        QTest::newRow("folder") << "folder" << QByteArray() << "这不是一个普通文件";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << "这不是一个普通文件";
        QTest::newRow("device") << "/dev/zero" << QByteArray() << "这不是一个普通文件";
    }

    void songsThatCannotBeCutAreRefusedAndForgotten()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const Watchdog hang(QTest::currentDataTag(), std::chrono::seconds(60));
        const QString path = name.startsWith(u'/') ? name : dir->filePath(name);
        if (name == u"folder") {
            QVERIFY(QDir(dir->path()).mkdir(name));
        } else if (name == u"pipe") {
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (name == u"huge.mp3") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 31));   // sparse: costs no disk
        } else if (!bytes.isNull()) {
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

        // The command line's way in refuses the same.
        rig->prompts.told.clear();
        QVERIFY(!rig->session.openSourceNow(path));
        QVERIFY(rig->prompts.told.size() == 1 && rig->prompts.told[0].text.contains(message));
    }

    void aSongWithoutANameIsRefused()
    {
        QVERIFY(!rig->session.openSourceNow(QString()));
        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY(rig->prompts.told[0].text.startsWith(QStringLiteral("无法读取文件（文件或文件夹不存在）")));
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
        QCOMPARE(state().startMark, std::optional(30.0));
        // 30 s is in frame 1250 (the song's sound begins 1105 samples into its frames).
        QCOMPARE(state().mirrors.sizeBoxes[0], QStringLiteral("468.75"));
        QCOMPARE(state().mirrors.status, QStringLiteral("开始。。。"));
        QCOMPARE(rig->song.state(), PlayerEngine::State::Playing);
    }

    void aCutReadsAndWritesOnlyTheKeptBytes()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        rig->files.bytesRead = 0;
        QSignalSpy started(&rig->session, &CutSession::cutStarted);
        QVERIFY(rig->cutAt(60));

        const PieceReading reading = readPiece(piece(1), source);
        QCOMPARE(reading.headerTag, QByteArray("Info"));
        QCOMPARE(reading.firstSample, sampleAt(30));
        QCOMPARE(reading.endSample, sampleAt(60));
        // The boxes and the plan mirror what was placed.
        QCOMPARE(state().lastCut.pieceSizes,
                 QList<qint32>({qint32(reading.from), qint32(reading.length), qint32(3'000'000 - reading.from - reading.length)}));
        QCOMPARE(state().mirrors.sizeBoxes[1], sizeBoxText(generalText(reading.length / 1024.0)));
        const qint64 length = QFileInfo(piece(1)).size();
        QCOMPARE(started.at(0).at(0).toLongLong(), length);
        // Every byte once, but for the header frame: it is written again once sealed.
        QCOMPARE(rig->files.bytesWritten, length + scanSong(fileSystemPath(piece(1)))->encoderFrame->length);
        QVERIFY2(rig->files.bytesRead < length + 64 * 1024, qPrintable(QString::number(rig->files.bytesRead)));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files),
                 QStringList({QStringLiteral("[铃声]1song.mp3"), QStringLiteral("song.mp3")}));
        QVERIFY(rig->files.log.filter(QStringLiteral("[铃声]0")).isEmpty());
        QVERIFY(rig->files.log.filter(QStringLiteral("[铃声]2")).isEmpty());
        QCOMPARE(readAll(source), sourceBytes);

        QCOMPARE(state().mirrors.status, QStringLiteral("剪切完成，请试听！"));
        QCOMPARE(rig->song.pauses, 1);
        QCOMPARE(state().step, 3);
        QCOMPARE(rig->piece.source(), piece(1));
        QCOMPARE(state().lastCut.srcName, QStringLiteral("song.mp3"));
        QCOMPARE(state().lastCut.destDir, dir->path() + QDir::separator());
        QVERIFY(rig->prompts.told.isEmpty());
    }

    void theMarksLandOnTheirSamples_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        // Both marks at once, as a proposed stretch is taken, wherever the player stands.
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("from the very beginning") << 0.0 << 60.0 << false;
        QTest::newRow("across frame borders") << 30.0105 << 61.2345 << false;
        QTest::newRow("the whole song") << 0.0 << cbrSongSeconds(3'000'000) << false;
        QTest::newRow("just over a frame") << 100.0 << 100.025 << false;
        QTest::newRow("at once, across frame borders") << 30.0105 << 61.2345 << true;
    }

    void theMarksLandOnTheirSamples()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(bool, atOnce);
        rig->song.nextDuration = 200;   // the player may say it plays further than the frames go
        QVERIFY(rig->choose(source));
        if (atOnce) {
            rig->song.moveTo(12);
            rig->session.markAndCut(start, end);
            QVERIFY(rig->waitForCut());
            QVERIFY(state().startMark == start);
        } else {
            rig->markAt(start);
            QVERIFY(rig->cutAt(end));
        }
        const PieceReading reading = readPiece(piece(1), source);
        QCOMPARE(reading.firstSample, sampleAt(start));
        QCOMPARE(reading.endSample, sampleAt(end));
        // Whole frames of the song and nothing behind them: the bytes past its last frame stay out.
        QCOMPARE(reading.from % 384, 0);
        QVERIFY(reading.from + reading.length <= 3'000'000 / 384 * 384);
    }

    void aStartMarkBelongsToItsSong()
    {
        // Another song starts unmarked, whether the last was left in step two or kept a piece.
        const QString second = dir->filePath(QStringLiteral("second.mp3"));
        const QString third = dir->filePath(QStringLiteral("third.mp3"));
        writeCbrSong(second, 1'200'000);
        writeCbrSong(third, 1'200'000);
        QVERIFY(rig->choose(source));
        rig->markAt(20.4);
        rig->session.chooseAgain();
        QVERIFY(rig->choose(second));
        QVERIFY(!state().startMark);
        QVERIFY(state().mirrors.status.isEmpty());
        QVERIFY(!rig->cutAt(12.5));

        rig->markAt(5);
        QVERIFY(rig->cutAt(10));
        rig->session.keepAndStartOver();
        QVERIFY(rig->choose(third));
        QVERIFY(!rig->cutAt(12.5));
        QCOMPARE(rig->prompts.told.size(), 2);
        for (const FakePrompts::Told &told : std::as_const(rig->prompts.told))
            QCOMPARE(told.text, QStringLiteral("请先选择起点！"));
        QVERIFY(!QFile::exists(pieceOf(QStringLiteral("third.mp3"))));

        // The song a cancelled choice takes again is the one marked.
        rig->markAt(3);
        rig->session.chooseAgain();
        QVERIFY(rig->choose(std::nullopt));
        QCOMPARE(state().startMark, std::optional(3.0));
        QCOMPARE(state().mirrors.status, QStringLiteral("开始。。。"));
    }

    void aRefusedCutChangesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("caption");
        QTest::newRow("no song") << "no song" << "请先选择起点！" << "";
        QTest::newRow("no start mark") << "no start" << "请先选择起点！" << "";
        QTest::newRow("end before start") << "end before start" << "终点不能在起点之前！" << "提示";
        QTest::newRow("end on the start") << "end on start" << "起点和终点相隔不到一帧（24毫秒）" << "提示";
        QTest::newRow("end within a frame") << "end within a frame" << "起点和终点相隔不到一帧" << "提示";
        QTest::newRow("end past the song") << "end past the song" << "终点 200.0 秒超出了歌曲的长度 187.4 秒：" << "提示";
        QTest::newRow("start past the song") << "start past the song" << "起点 190.0 秒超出了歌曲的长度 187.4 秒：" << "提示";
        QTest::newRow("start at the end") << "start at the end" << "起点已在歌曲的结尾（歌曲长 187.4 秒），后面没有声音可剪：" << "提示";
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
        if (fault.contains(u"past the song") || fault == u"start at the end")
            rig->song.nextDuration = 250;   // the player may think so; the frames know better
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
        const QMap<QString, std::pair<double, double>> marks{{QStringLiteral("end before start"), {90, 60}},
                                                             {QStringLiteral("end on start"), {60, 60}},
                                                             {QStringLiteral("end within a frame"), {60, 60.02}},
                                                             {QStringLiteral("end past the song"), {30, 200}},
                                                             {QStringLiteral("start past the song"), {190, 195}},
                                                             {QStringLiteral("start at the end"),
                                                              {cbrSongSeconds(3'000'000), cbrSongSeconds(3'000'000) + 0.01}}};
        const auto [startMark, endMark] = marks.value(fault, {30, 60});
        if (fault != u"no start" && fault != u"no song")
            rig->markAt(startMark);
        if (fault == u"song gone")
            QFile::remove(source);
        rig->prompts.told.clear();

        const CutState before = state();
        rig->song.moveTo(endMark);
        rig->session.markEndAndCut();
        QDir::setCurrent(previous);
        QVERIFY(!rig->session.cutRunning());
        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY2(rig->prompts.told[0].text.startsWith(message), qPrintable(rig->prompts.told[0].text));
        QCOMPARE(rig->prompts.told[0].caption, caption);
        // The folder dialog follows: a warning, not an error.
        if (fault == u"no folder")
            QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Warning);
        QCOMPARE(state().lastCut.endMark, before.lastCut.endMark);
        QCOMPARE(state().duration, before.duration);
        QCOMPARE(state().mirrors.sizeBoxes, before.mirrors.sizeBoxes);
        QCOMPARE(state().lastCut.pieceSizes, before.lastCut.pieceSizes);
        QCOMPARE(state().lastCut.srcName, before.lastCut.srcName);
        QCOMPARE(state().step, before.step);
        QCOMPARE(state().startMark, before.startMark);
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
        QCOMPARE(state().startMark, std::optional(30.0));

        rig->prompts.yesNoAnswers.enqueue(true);
        QVERIFY(rig->cutAt(60));
        QCOMPARE(readPiece(piece(1), source).endSample, sampleAt(60));
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
        QCOMPARE(readPiece(piece(1), source).endSample, sampleAt(60));
    }

    void aFailedCutLeavesNoFileBehind_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("piece cannot be created") << "refused" << "无法写入文件（没有权限）";
        QTest::newRow("disk full mid-copy") << "budget" << "无法写入文件（磁盘空间不足）";
        QTest::newRow("file size limit") << "limit" << "无法写入文件（文件超过了允许的大小）";
        QTest::newRow("bytes lost without a word") << "lost" << "无法写入文件（写入的内容不完整）";
        QTest::newRow("song shortened") << "shortened" << "读取源文件失败（文件在读取时被改动）";
    }

    void aFailedCutLeavesNoFileBehind()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        if (fault == u"refused")
            rig->files.refuseWrite = [](const QString &) { return true; };
        else if (fault == u"budget")
            rig->files.writeBudget = 300'000;
        else if (fault == u"lost")
            rig->files.keptBudget = 300'000;
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
        QVERIFY2(rig->prompts.told[0].text.startsWith(message), qPrintable(rig->prompts.told[0].text));
        const QString named = fault == u"shortened" ? source : piece(1);
        QVERIFY2(rig->prompts.told[0].text.contains(u'\n' + named), qPrintable(rig->prompts.told[0].text));
        // Where the piece could not be written, another folder is offered (and cancelled here).
        QCOMPARE(rig->prompts.folders.size(), fault == u"shortened" ? 0 : 1);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("song.mp3")}));
        QCOMPARE(state().step, 2);
        QCOMPARE(state().mirrors.status, QStringLiteral("开始。。。"));
        QVERIFY(rig->piece.loads.isEmpty());
    }

    void aFailedCutKeepsTheLastCutAsItWas()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        QVERIFY(rig->cutAt(60));
        const CutState before = state();
        rig->session.throwAway();
        rig->markAt(90);
        rig->files.refuseWrite = [](const QString &) { return true; };
        QVERIFY(!rig->cutAt(150));
        QCOMPARE(state().lastCut.pieceSizes, before.lastCut.pieceSizes);
        QCOMPARE(state().lastCut.endMark, before.lastCut.endMark);
        QCOMPARE(state().mirrors.sizeBoxes[1], before.mirrors.sizeBoxes[1]);
    }

    void aFolderThatCannotTakeThePieceIsChosenAgainAndKept_data()
    {
        QTest::addColumn<bool>("gone");
        QTest::addColumn<QString>("message");
        QTest::newRow("gone") << true << "存放铃声的文件夹不存在：";
        QTest::newRow("not writable") << false << "无法写入文件（没有权限）";
    }

    void aFolderThatCannotTakeThePieceIsChosenAgainAndKept()
    {
        QFETCH(bool, gone);
        QFETCH(QString, message);
        // Pieces go to the first song's folder.
        auto first = std::make_unique<QTemporaryDir>();
        writeCbrSong(first->filePath(QStringLiteral("first.mp3")), 10'000);
        QVERIFY(rig->choose(first->filePath(QStringLiteral("first.mp3"))));
        const QString folder = first->path() + QDir::separator();
        if (gone)
            first.reset();
        else
            rig->files.refuseWrite = [folder](const QString &path) { return path.startsWith(folder); };
        QVERIFY(rig->choose(source));
        rig->markAt(30);

        // A cancel writes nothing.
        QVERIFY(!rig->cutAt(60));
        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY2(rig->prompts.told[0].text.startsWith(message), qPrintable(rig->prompts.told[0].text));
        QVERIFY(rig->prompts.told[0].text.endsWith(QStringLiteral("请选择要存放的文件夹！")));
        QCOMPARE(rig->prompts.folders, QStringList({QStringLiteral("选择存放铃声的文件夹|") + folder}));
        QCOMPARE(state().outputFolder, folder);

        // A folder chosen takes this piece, and the next ones without asking again.
        QTemporaryDir chosen;
        rig->prompts.folderAnswers.enqueue(chosen.path());
        rig->song.moveTo(60);
        rig->session.markEndAndCut();
        QTRY_COMPARE_WITH_TIMEOUT(state().step, 3, 30000);
        QCOMPARE(state().outputFolder, chosen.path() + QDir::separator());
        QVERIFY(QFile::exists(chosen.filePath(QStringLiteral("[铃声]1song.mp3"))));
        rig->session.throwAway();
        QVERIFY(rig->cutAt(90));
        QCOMPARE(rig->piece.source(), chosen.filePath(QStringLiteral("[铃声]1song.mp3")));
        QCOMPARE(rig->prompts.folders.size(), 2);
    }

    void aSongsNameAsLongAsAPiecesNameMayBeIsCut_data()
    {
        QTest::addColumn<int>("letters");
        QTest::addColumn<bool>("fits");
        // "[铃声]1" takes 9 bytes of the 255 a name may have.
        QTest::newRow("246 bytes") << 242 << true;
        QTest::newRow("247 bytes") << 243 << false;
    }

    void aSongsNameAsLongAsAPiecesNameMayBeIsCut()
    {
        QFETCH(int, letters);
        QFETCH(bool, fits);
        const QString name = QString(letters, u'a') + QStringLiteral(".mp3");
        QVERIFY(QFile::rename(source, dir->filePath(name)));
        QVERIFY(rig->choose(dir->filePath(name)));
        rig->markAt(30);
        QCOMPARE(rig->cutAt(60), fits);
        QCOMPARE(QFile::exists(pieceOf(name)), fits);
        if (!fits) {
            QVERIFY(rig->prompts.told[0].text.startsWith(QStringLiteral("无法写入文件（文件名太长）")));
            QVERIFY(rig->prompts.folders.isEmpty());   // another folder would not shorten it
        }
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).size(), fits ? 2 : 1);
    }

    void aFileThatAppearsUnderThePiecesNameMeanwhileIsKept()
    {
        QVERIFY(rig->choose(source));
        rig->markAt(30);
        // Another program writes the name after the program looked and before the piece takes it.
        rig->files.beforeRename = [](const QString &to) { writeFile(to, "theirs"); };
        QVERIFY(!rig->cutAt(60));
        QCOMPARE(readAll(piece(1)), QByteArray("theirs"));
        QVERIFY(rig->prompts.told[0].text.startsWith(QStringLiteral("无法写入文件（已有同名文件）")));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void intentsDuringACutWaitForIt()
    {
        const QString big = startLongCut();
        QVERIFY(rig->session.cutRunning());
        QSignalSpy ended(&rig->session, &CutSession::cutEnded);
        QSignalSpy progress(&rig->session, &CutSession::cutProgress);
        QVERIFY(progress.wait(20000));

        const CutState during = state();
        rig->song.moveTo(170);
        rig->prompts.openAnswers.enqueue(source);
        rig->prompts.saveAnswers.enqueue(dir->filePath(QStringLiteral("saved")));
        rig->session.markStart();
        rig->session.markEndAndCut();
        rig->session.savePiece();
        rig->session.throwAway();
        rig->session.chooseSource();
        QCOMPARE(state().startMark, during.startMark);
        QCOMPARE(state().lastCut.endMark, during.lastCut.endMark);
        QCOMPARE(state().mirrors.sizeBoxes, during.mirrors.sizeBoxes);
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.size(), 1);
        QVERIFY(!progress.isEmpty());
        QVERIFY(rig->prompts.opened.size() == 1 && rig->prompts.saved.isEmpty());
        QCOMPARE(state().step, 3);
        QCOMPARE(state().sourcePath, big);
    }

    void chooseAgainDuringACutStopsItAndLeavesNothing()
    {
        startLongCut();
        QSignalSpy progress(&rig->session, &CutSession::cutProgress);
        QVERIFY(progress.wait(20000));
        QVERIFY(rig->session.cutRunning());
        // A cut longer than a moment says how far it has come.
        QVERIFY2(state().mirrors.status.startsWith(QStringLiteral("正在剪切…\n")), qPrintable(state().mirrors.status));
        QVERIFY(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).size() > 2);

        QSignalSpy ended(&rig->session, &CutSession::cutEnded);
        rig->session.chooseAgain();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QVERIFY(!rig->session.cutRunning());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral("big.mp3"), QStringLiteral("song.mp3")}));
        QCoreApplication::processEvents();
        QCOMPARE(state().step, 1);
        QCOMPARE(state().mirrors.status, QStringLiteral("开始。。。"));
        QVERIFY(rig->piece.loads.isEmpty());
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
        QCOMPARE(state().mirrors.sizeBoxes[0], QStringLiteral("100"));
        QVERIFY(rig->cutAt(90));
        const PieceReading reading = readPiece(piece(1), source);
        QCOMPARE(reading.firstSample, sampleAt(0));
        QCOMPARE(reading.endSample, sampleAt(90));
    }

    void aVariableBitRateSongIsCutAtItsFrames()
    {
        // 250 busy frames of 960 bytes, then 250 quiet ones of 96: six seconds each.
        const QByteArray song = writeVbrSong(source, 250, 250);
        rig->song.nextDuration = 11.0;   // the player's guess; the frames know better
        QVERIFY(rig->choose(source));
        QVERIFY(!rig->session.songMap()->constantBitRate);
        QCOMPARE(state().duration, 500 * 1152 / 48000.0);

        rig->markAt(3.01);
        QVERIFY(rig->cutAt(9.01));
        const PieceReading reading = readPiece(piece(1), source);
        QCOMPARE(reading.headerTag, QByteArray("Xing"));
        QCOMPARE(reading.firstSample, sampleAt(3.01));
        QCOMPARE(reading.endSample, sampleAt(9.01));
        QCOMPARE(state().lastCut.pieceSizes,
                 QList<qint32>({qint32(reading.from), qint32(reading.length), qint32(song.size() - reading.from - reading.length)}));
    }

private:
    /// Starts the cut of a piece longer than the most one slice copies (9 MB), so that the first
    /// cutProgress() comes with the cut still running however fast the machine; the song's path.
    QString startLongCut()
    {
        const QString big = dir->filePath(QStringLiteral("big.mp3"));
        writeCbrSong(big, 60'000'000);
        rig->song.nextDuration = 4000;
        if (!rig->choose(big))
            return {};
        // 47 MB: a dozen slices at the most chunks a slice copies.
        rig->markAt(30);
        rig->song.moveTo(3000);
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
