// The program from the command line: cuts without a window, its refusals and their statuses, and
// a song handed to the window or dropped on it.

#include "app/closingsignals.h"
#include "app/desktopapp.h"
#include "app/verify.h"
#include "core/pathrules.h"
#include "engine/gain.h"
#include "engine/songmap.h"
#include "harness.h"
#include "piecereading.h"
#include "platform/qtplayerengine.h"
#include "sessionrig.h"
#include "tonecheck.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString fixtures = QStringLiteral(FIXTURE_DIR "/");

struct Run
{
    int status = -1;
    QString out;
    QString err;
    QByteArray bytesOut;
};

/// Starts the program with no display at all: the cut must not need one.
void startProgram(QProcess &process, const QStringList &args, const QStringList &environment = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const QString &setting : environment)
        env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MP3CUTTER_BINARY), args);
}

Run finished(QProcess &process)
{
    if (!process.waitForFinished(30000))
        return {};
    const QByteArray out = process.readAllStandardOutput();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(out),
            QString::fromUtf8(process.readAllStandardError()), out};
}

Run runProgram(const QStringList &args, const QStringList &environment = {})
{
    QProcess process;
    startProgram(process, args, environment);
    return finished(process);
}

/// A song of an hour and more, its frames a copy of the fixture's again and again: long enough
/// to copy that a cut of it is caught while it writes.
QString longSong(const QString &folder)
{
    const QString path = folder + QStringLiteral("/long.mp3");
    return writeFile(path, readAll(fixtures + QStringLiteral("cbr-tones.mp3")).repeated(256)) ? path : QString();
}

/// The temporary files of pieces being written in \a folder.
QStringList piecesBeingWritten(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".mp3cut-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup() { dir.reset(); }

    void aConstantBitRateCutPlaysFromMarkToMark()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QByteArray bytes = readAll(song);
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("3.5"), QStringLiteral("0:07.25"), song});
        QCOMPARE(run.status, 0);
        const QString piece = dir->filePath(QStringLiteral("[铃声]1cbr-tones.mp3"));
        QCOMPARE(run.out, piece + u'\n');
        QVERIFY(run.err.isEmpty());

        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map && map->constantBitRate);
        const PieceReading reading = readPiece(piece, song);
        QCOMPARE(reading.headerTag, QByteArray("Info"));
        QCOMPARE(reading.firstSample, map->sampleAt(3.5));
        QCOMPARE(reading.endSample, map->sampleAt(7.25));
        QCOMPARE(readAll(song), bytes);
    }

    void aVariableBitRateCutHoldsTheAskedStretch()
    {
        const QString song = copyIn(QStringLiteral("vbr-tones.mp3"));
        const QString out = dir->filePath(QStringLiteral("ring"));
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("5"), QStringLiteral("11"), song,
                                    QStringLiteral("-o"), out});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, out + QStringLiteral(".mp3\n"));
        const QByteArray piece = readAll(out + QStringLiteral(".mp3"));
        QVERIFY(piece.left(200).contains("Xing"));
        const auto span = toneSpan(out + QStringLiteral(".mp3"));
        QVERIFY(span);
        QVERIFY2(qAbs(span->from - 5.0) < 0.06 && qAbs(span->to - 11.0) < 0.06,
                 qPrintable(QStringLiteral("%1..%2").arg(span->from).arg(span->to)));
    }

    void refusalsSayWhyAndWriteNothing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString song = QStringLiteral("SONG");
        QTest::newRow("missing file") << QStringList{"--cut", "1", "2", "DIR/missing.mp3"} << 1 << "无法读取文件";
        QTest::newRow("no frames") << QStringList{"--cut", "1", "2", "NOISE"} << 1 << "找不到MP3音频";
        QTest::newRow("end before start") << QStringList{"--cut", "3", "2", song} << 2 << "终点不能在起点之前";
        QTest::newRow("end on the start") << QStringList{"--cut", "3", "3", song} << 2 << "起点和终点相隔不到一帧";
        QTest::newRow("end within a frame") << QStringList{"--cut", "3", "3.01", song} << 2 << "起点和终点相隔不到一帧";
        QTest::newRow("end past the end") << QStringList{"--cut", "1", "99", song} << 1 << "终点 99.0 秒超出了歌曲的长度";
        QTest::newRow("start past the end") << QStringList{"--cut", "98", "99", song} << 1 << "起点 98.0 秒超出了歌曲的长度";
        QTest::newRow("start at the end") << QStringList{"--cut", "LENGTH", "LENGTH", song} << 1 << "起点已在歌曲的结尾（歌曲长";
        QTest::newRow("not a time") << QStringList{"--cut", "1:2", "5", song} << 2 << "无法识别的时间";
        QTest::newRow("too few arguments") << QStringList{"--cut", "1", song} << 2 << "三个参数";
        QTest::newRow("unknown option") << QStringList{"--cut", "--fast", "1", "2", song} << 2 << "fast";
        QTest::newRow("existing output") << QStringList{"--cut", "1", "2", song, "-o", "DIR/taken.mp3"} << 1
                                         << "文件已存在，没有替换（加 --overwrite 即可替换）：";
        QTest::newRow("output is the song") << QStringList{"--cut", "1", "2", song, "-o", song, "--overwrite"} << 1
                                            << "正在剪切的歌曲";
        QTest::newRow("unwritable folder") << QStringList{"--cut", "1", "2", song, "-o", "/proc/ring"} << 1
                                           << "无法写入文件";
        QTest::newRow("a folder that is not there") << QStringList{"--cut", "1", "2", song, "-o", "DIR/gone/"} << 1
                                                    << "No such file or directory";
        QTest::newRow("empty output") << QStringList{"--cut", "1", "2", song, "-o", ""} << 2 << "不能为空";
        QTest::newRow("negative time") << QStringList{"--cut", "-5", "10", song} << 2 << "时间不能为负";
        QTest::newRow("a folder to cut") << QStringList{"--cut", "1", "2", "DIR"} << 1 << "普通文件";
        QTest::newRow("a named pipe to cut") << QStringList{"--cut", "1", "2", "DIR/pipe"} << 1 << "普通文件";
        QTest::newRow("a device to cut") << QStringList{"--cut", "1", "2", "/dev/zero"} << 1 << "普通文件";
        QTest::newRow("unknown option for the window") << QStringList{"--fast", song} << 2 << "未知选项：--fast";
        QTest::newRow("output without a cut") << QStringList{"-o", "DIR/ring", song} << 2 << "--cut";
        QTest::newRow("two songs for the window") << QStringList{song, song} << 2 << "一个文件";
        QTest::newRow("a fade that is no number") << QStringList{"--cut", "1", "2", song, "--fade-in", "abc"} << 2 << "淡入淡出的秒数";
        QTest::newRow("a fade of no time") << QStringList{"--cut", "1", "2", song, "--fade-out=0"} << 2 << "淡入淡出的秒数";
        QTest::newRow("a fade without its seconds") << QStringList{"--cut", "1", "2", song, "--fade-in"} << 2 << "秒数";
        QTest::newRow("a fade to standard output") << QStringList{"--cut", "1", "2", song, "-o", "-", "--max-volume"} << 2 << "标准输出";
        QTest::newRow("a fade for the window") << QStringList{"--fade-in", "1", song} << 2 << "--cut";
        QTest::newRow("a check of standard output") << QStringList{"--cut", "1", "2", song, "-o", "-", "--verify"} << 2 << "不能校验";
        QTest::newRow("a check for the window") << QStringList{"--verify", song} << 2 << "--cut";
        QTest::newRow("no song name") << QStringList{"--cut", "1", "2", ""} << 2 << "文件名不能为空";
        QTest::newRow("more minutes than a number holds")
            << QStringList{"--cut", "0:" + QString(320, u'1') + ":00", "2", song} << 2 << "无法识别的时间";
    }

    void refusalsSayWhyAndWriteNothing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString noise = copyIn(QStringLiteral("random-bytes.mp3"));
        QVERIFY(writeFile(dir->filePath(QStringLiteral("taken.mp3")), "kept"));
        QCOMPARE(mkfifo(QFile::encodeName(dir->filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
        const QString length = QString::number(scanSong(fileSystemPath(song))->duration(), 'g', 17);
        for (QString &arg : args)
            arg.replace(QStringLiteral("SONG"), song).replace(QStringLiteral("NOISE"), noise).replace(QStringLiteral("DIR"), dir->path()).replace(QStringLiteral("LENGTH"), length);
        const QStringList before = filesIn(dir->path());
        const QByteArray songBytes = readAll(song);

        const Run run = runProgram(args);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
        QCOMPARE(run.err.count(u'\n') <= 2, true);
        // Wrong arguments are followed by how to give them.
        QCOMPARE(run.err.contains(QStringLiteral("\n用法：")), status == 2);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(filesIn(dir->path()), before);
        QCOMPARE(readAll(dir->filePath(QStringLiteral("taken.mp3"))), QByteArray("kept"));
        QCOMPARE(readAll(song), songBytes);
    }

    void theCheckSaysInOneLineWhatIsHeard_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("a true piece") << "cbr-tones.mp3" << QStringList{"3.5", "0:07.25"} << QStringList{"逐个采样一致"};
        QTest::newRow("faded and louder") << "vbr-quiet-loud-noxing.mp3"
                                          << QStringList{"--fade-in", "1.5", "--fade-out=1.5", "--max-volume", "2", "8"}
                                          << QStringList{"逐个采样一致", "淡入淡出处按降低的音量比较"};
        QTest::newRow("whole frames of layer II") << "layer2-stereo-44k1.mp3" << QStringList{"0.5", "2.5"}
                                                  << QStringList{"Layer II", "开始标记前 ", "结束标记后 ", " 毫秒"};
    }

    void theCheckSaysInOneLineWhatIsHeard()
    {
        QFETCH(QString, song);
        QFETCH(QStringList, args);
        QFETCH(QStringList, says);
        const QString path = copyIn(song);
        const QString piece = dir->filePath(QStringLiteral("ring.mp3"));
        const Run run = runProgram(QStringList{QStringLiteral("--cut")} + args + QStringList{path, QStringLiteral("-o"), piece, QStringLiteral("--verify")});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, piece + u'\n');
        QCOMPARE(run.err.count(u'\n'), 1);
        for (const QString &words : says)
            QVERIFY2(run.err.contains(words), qPrintable(run.err));
    }

    // The program cuts true pieces; a piece damaged after its cut stands in for one it got wrong.
    void aPieceThatIsNotTheSongIsSaidAndKept()
    {
        const QString song = copyIn(QStringLiteral("vbr-tones.mp3"));
        const QString piece = dir->filePath(QStringLiteral("ring.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 2, 6, piece));
        QFile file(piece);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) && file.write(QByteArray(64, '\x55')) == 64);
        file.close();
        const QByteArray damaged = readAll(piece);
        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map);

        QTemporaryFile said;
        QVERIFY(said.open());
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        dup2(said.handle(), STDERR_FILENO);
        const int status = verifyPiece(fileSystemPath(song), *map, 2, 6, fileSystemPath(piece));
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        QVERIFY(said.seek(0));
        const QString line = QString::fromUtf8(said.readAll());

        QCOMPARE(status, 1);
        QVERIFY2(line.startsWith(QStringLiteral("校验失败：铃声从 1.")) && line.endsWith(piece + u'\n'), qPrintable(line));
        QCOMPARE(line.count(u'\n'), 1);
        QCOMPARE(readAll(piece), damaged);
    }

    void aSignalEndsTheCutAndLeavesNothing_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << SIGINT;
        QTest::newRow("a kill") << SIGTERM;
        QTest::newRow("a closed terminal") << SIGHUP;
    }

    void aSignalEndsTheCutAndLeavesNothing()
    {
        QFETCH(int, signal);
        const QString song = longSong(dir->path());
        QProcess cut;
        // As from a terminal: a job started in the background would find Ctrl+C ignored.
        cut.setChildProcessModifier([] {
            for (const int ending : {SIGINT, SIGTERM, SIGHUP})
                std::signal(ending, SIG_DFL);
        });
        startProgram(cut, {QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("4000"), song});
        QVERIFY(cut.waitForStarted());
        QDeadlineTimer deadline(30000);
        while (piecesBeingWritten(dir->path()).isEmpty() && cut.state() == QProcess::Running && !deadline.hasExpired())
            QThread::usleep(500);
        // Held where it is, so that the signal lands while the piece is written, however fast.
        QCOMPARE(::kill(pid_t(cut.processId()), SIGSTOP), 0);
        QCOMPARE(piecesBeingWritten(dir->path()).size(), 1);
        QCOMPARE(::kill(pid_t(cut.processId()), signal), 0);
        QCOMPARE(::kill(pid_t(cut.processId()), SIGCONT), 0);
        QVERIFY(cut.waitForFinished(30000));
        // Ended by the signal itself: a shell says 128 + its number.
        QCOMPARE(cut.exitStatus(), QProcess::CrashExit);
        QCOMPARE(cut.exitCode(), signal);
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("long.mp3")}));
    }

    void aSignalClosesTheWindowAndRemovesItsCut()
    {
        const QString song = longSong(dir->path());
        Harness h;
        const ClosingSignals closing;
        h.frm->show();
        h.choose(song);
        h.markAt(1);
        h.session->markEndAndCutAt(4000);
        QTRY_VERIFY_WITH_TIMEOUT(!piecesBeingWritten(dir->path()).isEmpty(), 30000);
        QVERIFY(h.session->cutRunning());
        QCOMPARE(::raise(SIGTERM), 0);
        QTRY_VERIFY(!h.frm->isVisible());
        QCOMPARE(closing.received(), SIGTERM);
        QVERIFY(!h.session->cutRunning());
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("long.mp3")}));
    }

    void overwriteReplaces()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString out = dir->filePath(QStringLiteral("taken.mp3"));
        QVERIFY(writeFile(out, "kept"));
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), song,
                                    QStringLiteral("-o"), out, QStringLiteral("--overwrite")});
        QCOMPARE(run.status, 0);
        QVERIFY(readAll(out).size() > 10'000);
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("cbr-tones.mp3"), QStringLiteral("taken.mp3")}));
    }

    void aDiskTooSmallForTheFadeKeepsTheFileToReplace()
    {
        // Room for the old file and the piece, not for a second copy of the piece: the fade
        // fails on the piece's own temporary file, and the file it was to replace stays whole.
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString disk = dir->filePath(QStringLiteral("disk"));
        QVERIFY(QDir().mkpath(disk));
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=400k") != 0)
            QSKIP("no small file system can be mounted here (it takes root)");
        const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(disk).constData()); });
        const QString old = disk + QStringLiteral("/old.mp3");
        const QByteArray kept(200'000, 'k');
        QVERIFY(writeFile(old, kept));
        // 12 s at 128 kbit/s: 188 KiB.
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("13"), song,
                                    QStringLiteral("-o"), old, QStringLiteral("--overwrite"), QStringLiteral("--fade-in"),
                                    QStringLiteral("1")});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("无法写入文件")) && !run.err.contains(QStringLiteral("cannot")), qPrintable(run.err));
        QCOMPARE(filesIn(disk), QStringList({QStringLiteral("old.mp3")}));
        QVERIFY(readAll(old) == kept);
    }

    void aFadeTouchesNothingBesideThePiece()
    {
        // The fade works on the piece's own short temporary name: a name of 255 bytes takes the
        // faded piece, and a link called like the name with ".gain" behind is left alone.
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString longName = dir->filePath(QString(251, u'a') + QStringLiteral(".mp3"));
        const QString out = dir->filePath(QStringLiteral("y.mp3"));
        const QString elsewhere = dir->filePath(QStringLiteral("elsewhere.mp3"));
        QVERIFY(QFile::link(elsewhere, out + QStringLiteral(".gain")));
        for (const QString &target : {longName, out}) {
            const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("3"), song,
                                        QStringLiteral("-o"), target, QStringLiteral("--fade-in"), QStringLiteral("0.5"),
                                        QStringLiteral("--max-volume")});
            QVERIFY2(run.status == 0, qPrintable(run.err));
            QVERIFY(QFileInfo(target).isFile() && !QFileInfo(target).isSymLink() && readAll(target).size() > 10'000);
        }
        QVERIFY(QFileInfo(out + QStringLiteral(".gain")).isSymLink() && !QFileInfo::exists(elsewhere));
    }

    void aCutLoadsNoQtLibrary_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<bool>("tagged");
        QTest::newRow("a song with nothing but frames") << "cbr-tones.mp3" << false;
        QTest::newRow("a tagged song") << "id3v2-small.mp3" << true;
    }

    void aCutLoadsNoQtLibrary()
    {
        QFETCH(QString, song);
        QFETCH(bool, tagged);
        // The loader names every library it loads, those loaded later on demand too.
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), copyIn(song)},
                                   {QStringLiteral("LD_DEBUG=libs")});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral("libc.so")), "the loader said nothing: LD_DEBUG is not heeded");
        QVERIFY2(!run.err.contains(QStringLiteral("libQt")), qPrintable(run.err));
        // TagLib only where there are tags to read.
        QCOMPARE(run.err.contains(QStringLiteral("libtag")), tagged);
    }

    void theCommandLineCutsWhatTheWindowCuts_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::newRow("tags and an Info frame") << "id3v2-small.mp3" << 1.0003 << 2.5117;
        QTest::newRow("an ID3v1 tag behind") << "id3v1-trailing.mp3" << 0.5 << 2.0;
        QTest::newRow("an APE tag behind") << "songs/ape-cbr128-stereo-44k1.mp3" << 0.5 << 2.0;
        QTest::newRow("a constant bit rate to its end") << "cbr-tones.mp3" << 3.5 << 16.0;
        QTest::newRow("a varying bit rate behind a cover") << "vbr-tones-id3.mp3" << 5.0 << 11.0;
    }

    void theCommandLineCutsWhatTheWindowCuts()
    {
        QFETCH(QString, song);
        QFETCH(double, from);
        QFETCH(double, to);
        const QString path = copyIn(song, QStringLiteral("song.mp3"));
        const QString bySession = dir->filePath(QStringLiteral("session.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(path, from, to, bySession));
        const QString byProgram = dir->filePath(QStringLiteral("program.mp3"));
        QCOMPARE(runProgram({QStringLiteral("--cut"), QString::number(from), QString::number(to), path,
                             QStringLiteral("-o"), byProgram}).status, 0);
        QCOMPARE(readAll(byProgram), readAll(bySession));
    }

    void fadesAndLoudnessAreThoseOfTheWindow()
    {
        const QString song = copyIn(QStringLiteral("songs/cbr128-stereo-44k1.mp3"), QStringLiteral("song.mp3"));
        const QString bySession = dir->filePath(QStringLiteral("session.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 0.5, 3.0, bySession));
        QVERIFY(!applyGain(fileSystemPath(bySession), {1.0, 0.5, true}));
        const QString byProgram = dir->filePath(QStringLiteral("program.mp3"));
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("0.5"), QStringLiteral("3"), song, QStringLiteral("-o"),
                                    byProgram, QStringLiteral("--fade-in"), QStringLiteral("1"), QStringLiteral("--fade-out=0.5"),
                                    QStringLiteral("--max-volume")});
        QCOMPARE(run.status, 0);
        QCOMPARE(readAll(byProgram), readAll(bySession));
    }

    void aShortenedFadeIsSaid()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("5.5"), song,
                                    QStringLiteral("--fade-in"), QStringLiteral("1.6"), QStringLiteral("--fade-out"),
                                    QStringLiteral("1.5")});
        QCOMPARE(run.status, 0);
        // A fade of a third of the piece is as asked; one longer is not.
        QCOMPARE(run.err.count(u'\n'), 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("淡入缩短为 1.5 秒")), qPrintable(run.err));
    }

    void aFolderGetsThePieceUnderItsDefaultName()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString folder = dir->filePath(QStringLiteral("rings"));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("rings")));
        const QString piece = folder + QStringLiteral("/[铃声]1cbr-tones.mp3");
        for (const QString &output : {folder, folder + u'/'}) {
            const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), song,
                                        QStringLiteral("-o"), output, QStringLiteral("--overwrite")});
            QCOMPARE(run.status, 0);
            QCOMPARE(run.out, piece + u'\n');
            QCOMPARE(filesIn(folder), QStringList({QStringLiteral("[铃声]1cbr-tones.mp3")}));
        }
    }

    void aPieceToStandardOutputIsThePieceAndNothingElse()
    {
        const QString song = copyIn(QStringLiteral("id3v2-small.mp3"));
        const QString file = dir->filePath(QStringLiteral("ring.mp3"));
        QCOMPARE(runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), song, QStringLiteral("-o"), file}).status, 0);
        const Run run = runProgram({QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), song, QStringLiteral("-o"), QStringLiteral("-")});
        QCOMPARE(run.status, 0);
        QVERIFY(run.err.isEmpty());
        QCOMPARE(run.bytesOut, readAll(file));
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("id3v2-small.mp3"), QStringLiteral("ring.mp3")}));
    }

    void twoCutsRacingForOneNameNeverReplaceEachOther()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QStringList marks[2] = {{QStringLiteral("1"), QStringLiteral("2")}, {QStringLiteral("3"), QStringLiteral("4")}};
        QByteArray pieces[2];
        for (int i = 0; i < 2; ++i) {
            const QString piece = dir->filePath(QStringLiteral("piece%1.mp3").arg(i));
            QCOMPARE(runProgram(QStringList{QStringLiteral("--cut")} + marks[i] + QStringList{song, QStringLiteral("-o"), piece}).status, 0);
            pieces[i] = readAll(piece);
        }
        for (int round = 0; round < 8; ++round) {
            const QString target = dir->filePath(QStringLiteral("ring%1.mp3").arg(round));
            QProcess cuts[2];
            for (int i = 0; i < 2; ++i)
                startProgram(cuts[i], QStringList{QStringLiteral("--cut")} + marks[i] + QStringList{song, QStringLiteral("-o"), target});
            const Run runs[2] = {finished(cuts[0]), finished(cuts[1])};
            QCOMPARE(runs[0].status + runs[1].status, 1);
            const int winner = runs[0].status == 0 ? 0 : 1;
            QVERIFY2(runs[1 - winner].err.contains(QStringLiteral("文件已存在")), qPrintable(runs[1 - winner].err));
            QCOMPARE(readAll(target), pieces[winner]);
        }
        QCOMPARE(filesIn(dir->path()).size(), 11);
    }

    void aPathThatCannotBePrintedIsAFailure()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        startProgram(process, {QStringLiteral("--cut"), QStringLiteral("1"), QStringLiteral("2"), song});
        const Run run = finished(process);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QStringLiteral("No space left on device")), qPrintable(run.err));
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("cbr-tones.mp3")}));
    }

    void progressShowsOnATerminalOnly()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        // Standard error on a terminal of its own; piped, the first test shows it stays empty.
        int terminal = -1;
        int side = -1;
        QCOMPARE(openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, side, STDERR_FILENO);
        const QByteArray program = MP3CUTTER_BINARY;
        const QByteArray path = QFile::encodeName(song);
        char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>("--cut"), const_cast<char *>("1"),
                        const_cast<char *>("9"), const_cast<char *>(path.constData()), nullptr};
        pid_t child = 0;
        QCOMPARE(posix_spawn(&child, argv[0], &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(side);
        QByteArray shown;
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, n);
        ::close(terminal);
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY2(QString::fromUtf8(shown).contains(QStringLiteral("剪切中… 0%")), shown.constData());
        // The line goes once the cut is done.
        QVERIFY(shown.endsWith("\r\033[K"));
    }

    void aDisplayThatCannotBeReachedIsOneLine()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        // Qt itself gives up on such a display with a list of the plugins it tried, and aborts.
        const Run run = runProgram({song}, {QStringLiteral("DISPLAY=:4711")});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err.count(u'\n'), 1);
        QVERIFY2(run.err.contains(QStringLiteral("mp3cutter --cut START END FILE")), qPrintable(run.err));
    }

    void helpAndVersionNeedNoDisplay()
    {
        const Run help = runProgram({QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains(QStringLiteral("--cut")));
        QVERIFY(help.out.contains(QStringLiteral("退出状态")));
        const Run version = runProgram({QStringLiteral("--version")});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("mp3cutter 1.0.0\n"));
    }

    void aSongGivenToTheWindowIsChosen()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        DesktopApp desktop({QStringLiteral("mp3cutter"), song}, [](QObject *parent) { return new QtPlayerEngine(parent); },
                           QString());
        desktop.window().show();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.session().state().step, 2, 10000);
        QCOMPARE(desktop.session().state().sourcePath, song);
        QCOMPARE(desktop.session().state().outputFolder, dir->path() + QDir::separator());
        QCOMPARE(desktop.session().songPlayer()->source(), song);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.session().songPlayer()->state() == PlayerEngine::State::Playing, 10000);
    }

    void aWindowWithoutItsPlayerSaysSo()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        DesktopApp desktop({QStringLiteral("mp3cutter"), song}, [](QObject *) { return nullptr; },
                           QStringLiteral("libplayer.so"));
        desktop.window().show();
        QStringList said;
        QTimer reader;
        connect(&reader, &QTimer::timeout, [&said] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                said << box->text();
                box->accept();
            }
        });
        reader.start(20);
        QTRY_COMPARE_WITH_TIMEOUT(said.size(), 1, 10000);
        QVERIFY2(said.first().contains(QStringLiteral("libplayer.so")), qPrintable(said.first()));
        QCOMPARE(desktop.session().songPlayer()->state(), PlayerEngine::State::Failed);
    }

    void aSongDroppedOnTheWindowIsChosen()
    {
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        Harness h;
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(song)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.frm.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.frm.get(), &drop);
        QVERIFY(waitForOpening(*h.session) || h.session->state().sourcePath == song);
        QCOMPARE(h.visibleStep(), 2);
        QCOMPARE(h.session->state().sourcePath, song);
        QCOMPARE(h.fakeSong->source(), song);

        // Two files at once are not one song.
        QMimeData two;
        two.setUrls({QUrl::fromLocalFile(song), QUrl::fromLocalFile(song)});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.frm.get(), &refused);
        QVERIFY(!refused.isAccepted());
    }

private:
    QString copyIn(const QString &fixture, const QString &name = QString())
    {
        const QString path = dir->filePath(name.isEmpty() ? fixture : name);
        return QFile::copy(fixtures + fixture, path) ? path : QString();
    }

    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
