// The program from the command line: cuts without a window, its refusals and their statuses, and
// a song handed to the window or dropped on it.

#include "app/desktopapp.h"
#include "core/pathrules.h"
#include "engine/songmap.h"
#include "harness.h"
#include "piecereading.h"
#include "sessionrig.h"
#include "tonecheck.h"

#include <QDir>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString fixtures = QStringLiteral(FIXTURE_DIR "/");

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runProgram(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display at all: the cut must not need one.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MP3CUTTER_BINARY), args);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
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
        QTest::newRow("past the end") << QStringList{"--cut", "1", "99", song} << 1 << "超出了歌曲的长度";
        QTest::newRow("not a time") << QStringList{"--cut", "1:2", "5", song} << 2 << "无法识别的时间";
        QTest::newRow("too few arguments") << QStringList{"--cut", "1", song} << 2 << "三个参数";
        QTest::newRow("unknown option") << QStringList{"--cut", "--fast", "1", "2", song} << 2 << "fast";
        QTest::newRow("existing output") << QStringList{"--cut", "1", "2", song, "-o", "DIR/taken.mp3"} << 1
                                         << "文件已存在";
        QTest::newRow("output is the song") << QStringList{"--cut", "1", "2", song, "-o", song, "--overwrite"} << 1
                                            << "正在剪切的歌曲";
        QTest::newRow("unwritable folder") << QStringList{"--cut", "1", "2", song, "-o", "/proc/ring"} << 1
                                           << "无法写入文件";
    }

    void refusalsSayWhyAndWriteNothing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString song = copyIn(QStringLiteral("cbr-tones.mp3"));
        const QString noise = copyIn(QStringLiteral("random-bytes.mp3"));
        QVERIFY(writeFile(dir->filePath(QStringLiteral("taken.mp3")), "kept"));
        for (QString &arg : args)
            arg.replace(QStringLiteral("SONG"), song).replace(QStringLiteral("NOISE"), noise).replace(QStringLiteral("DIR"), dir->path());
        const QStringList before = filesIn(dir->path());
        const QByteArray songBytes = readAll(song);

        const Run run = runProgram(args);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
        QCOMPARE(run.err.count(u'\n') <= 2, true);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(filesIn(dir->path()), before);
        QCOMPARE(readAll(dir->filePath(QStringLiteral("taken.mp3"))), QByteArray("kept"));
        QCOMPARE(readAll(song), songBytes);
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
        DesktopApp desktop({QStringLiteral("mp3cutter"), song});
        desktop.window().show();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.session().state().step, 2, 10000);
        QCOMPARE(desktop.session().state().sourcePath, song);
        QCOMPARE(desktop.session().state().outputFolder, dir->path() + QDir::separator());
        QCOMPARE(desktop.session().songPlayer()->source(), song);
        QTRY_VERIFY_WITH_TIMEOUT(desktop.session().songPlayer()->state() == PlayerEngine::State::Playing, 10000);
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
    QString copyIn(const QString &fixture)
    {
        const QString path = dir->filePath(fixture);
        return QFile::copy(fixtures + fixture, path) ? path : QString();
    }

    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
