// Step three: keeping the piece under a chosen name, throwing it away, starting over.

#include "core/savetarget.h"
#include "platform/qtfilesystem.h"
#include "piecereading.h"
#include "sessionrig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestKeepPiece : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        rig = std::make_unique<SessionRig>();
        dir = std::make_unique<QTemporaryDir>();
        out = std::make_unique<QTemporaryDir>();
        source = dir->filePath(QStringLiteral("song.mp3"));
        sourceBytes = writeCbrSong(source, 300'000);
        QVERIFY(rig->choose(source));
        rig->markAt(3);
        QVERIFY(rig->cutAt(6));
        piece = dir->filePath(QStringLiteral("[铃声]1song.mp3"));
        pieceBytes = readAll(piece);
        QVERIFY(readPiece(piece, source).from > 0);
    }
    void cleanup()
    {
        rig.reset();
        dir.reset();
        out.reset();
    }

    void saveMovesThePieceToTheChosenName_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("saved");
        QTest::newRow("plain name") << "ring" << "ring.mp3";
        QTest::newRow("already .mp3") << "ring.mp3" << "ring.mp3";
        QTest::newRow("upper-case extension") << "RING.MP3" << "RING.MP3";
        QTest::newRow("other extension") << "ring.wav" << "ring.wav.mp3";
        QTest::newRow("Chinese and blanks") << "我的 铃声 (1)" << "我的 铃声 (1).mp3";
    }

    void saveMovesThePieceToTheChosenName()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        save(out->filePath(chosen));
        QCOMPARE(rig->prompts.saved.last(), QStringLiteral("*.mp3|保存音频文件"));
        QCOMPARE(readAll(out->filePath(saved)), pieceBytes);
        QVERIFY(!QFile::exists(piece));
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList({saved}));
        QVERIFY(rig->prompts.told.isEmpty());
        QCOMPARE(rig->session.state().step, 3);
        QCOMPARE(readAll(source), sourceBytes);
        // Step three shows the piece where it now is.
        QCOMPARE(rig->piece.source(), out->filePath(saved));
    }

    void theSongIsNeverSavedOver_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("its own name") << "name";
        QTest::newRow("a link to it") << "link";
        QTest::newRow("its name without .mp3") << "bare";
    }

    void theSongIsNeverSavedOver()
    {
        QFETCH(QString, how);
        QString target = source;
        if (how == u"link") {
            target = out->filePath(QStringLiteral("link.mp3"));
            QVERIFY(QFile::link(source, target));
        } else if (how == u"bare") {
            target.chop(4);
        }
        save(target);
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].text, QStringLiteral("铃声不能写到正在剪切的歌曲上：\n") + withMp3Extension(target));
        QVERIFY(rig->prompts.asked.isEmpty());
        QCOMPARE(readAll(source), sourceBytes);
        QCOMPARE(readAll(piece), pieceBytes);
    }

    void aFileThatAppearsAtTheTargetMeanwhileIsKept_data()
    {
        QTest::addColumn<bool>("crossDevice");
        QTest::newRow("same file system") << false;
        QTest::newRow("another file system") << true;
    }

    void aFileThatAppearsAtTheTargetMeanwhileIsKept()
    {
        QFETCH(bool, crossDevice);
        rig->files.renamesCrossDevice = crossDevice;
        const QString target = out->filePath(QStringLiteral("ring.mp3"));
        // Another program writes the name after the program looked and before the piece takes it.
        rig->files.beforeRename = [target](const QString &to) {
            if (to == target)
                writeFile(to, "theirs");
        };
        save(target);
        QCOMPARE(readAll(target), QByteArray("theirs"));
        QCOMPARE(readAll(piece), pieceBytes);
        QCOMPARE(rig->prompts.told.size(), 1);
        QVERIFY(rig->prompts.told[0].text.startsWith(QStringLiteral("无法保存文件（已有同名文件）")));
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("ring.mp3")}));
    }

    void cancelMovesNothing()
    {
        save(std::nullopt);
        QVERIFY(QFile::exists(piece));

        // Also after an earlier save: the last confirmed name is not taken again.
        save(out->filePath(QStringLiteral("first")));
        rig->session.throwAway();
        QVERIFY(rig->cutAt(9));
        save(std::nullopt);
        QVERIFY(readAll(piece).size() > pieceBytes.size());
        QCOMPARE(readAll(out->filePath(QStringLiteral("first.mp3"))), pieceBytes);
        QVERIFY(rig->prompts.asked.isEmpty());
    }

    void anExistingTargetIsReplacedOnlyWhenTheUserSaysSo()
    {
        const QString target = out->filePath(QStringLiteral("ring.mp3"));
        const QByteArray old(1234, 'o');
        QVERIFY(writeFile(target, old));

        rig->prompts.yesNoAnswers.enqueue(false);
        save(target);
        QCOMPARE(rig->prompts.asked.size(), 1);
        QVERIFY(rig->prompts.asked[0].text.startsWith(QStringLiteral("文件已存在，是否替换？")));
        QCOMPARE(readAll(target), old);
        QCOMPARE(readAll(piece), pieceBytes);

        rig->prompts.yesNoAnswers.enqueue(true);
        save(target);
        QCOMPARE(rig->prompts.asked.size(), 2);
        QCOMPARE(readAll(target), pieceBytes);
        QVERIFY(!QFile::exists(piece));
    }

    void aTargetOnAnotherFileSystemIsCopiedWholeThenThePieceRemoved()
    {
        rig->files.renamesCrossDevice = true;
        const QString target = out->filePath(QStringLiteral("ring.mp3"));
        QVERIFY(writeFile(target, QByteArray(10, 'o')));
        save(target);
        QCOMPARE(readAll(target), pieceBytes);
        QVERIFY(!QFile::exists(piece));
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("ring.mp3")}));
    }

    void aRealSecondFileSystemWorks()
    {
        QTemporaryDir shm(QStringLiteral("/dev/shm/mp3cutter-test-XXXXXX"));
        struct stat a{}, b{};
        if (!shm.isValid() || stat(QFile::encodeName(shm.path()), &a) != 0
            || stat(QFile::encodeName(dir->path()), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system beside the temporary folder");
        QtFileSystem real;
        QCOMPARE(real.rename(piece, shm.filePath(QStringLiteral("x")), FileSystem::Replace::No),
                 FileSystem::MoveResult::CrossDevice);
        save(shm.filePath(QStringLiteral("ring")));
        QCOMPARE(readAll(shm.filePath(QStringLiteral("ring.mp3"))), pieceBytes);
        QVERIFY(!QFile::exists(piece));
    }

    void aFailedSaveSaysSoAndKeepsThePiece_data()
    {
        QTest::addColumn<bool>("crossDevice");
        QTest::newRow("same file system") << false;
        QTest::newRow("another file system") << true;
    }

    void aFailedSaveSaysSoAndKeepsThePiece()
    {
        QFETCH(bool, crossDevice);
        rig->files.renamesCrossDevice = crossDevice;
        const QString target = out->filePath(QStringLiteral("gone/ring"));
        save(target);
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Error);
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("错误"));
        QCOMPARE(rig->prompts.told[0].text,
                 QStringLiteral("无法保存文件（文件或文件夹不存在）：\n") + target + QStringLiteral(".mp3"));
        QCOMPARE(readAll(piece), pieceBytes);
    }

    void aDiskFullCopyLeavesNoPartialTarget()
    {
        rig->files.renamesCrossDevice = true;
        rig->files.writeBudget = 20'000;
        save(out->filePath(QStringLiteral("ring")));
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(readAll(piece), pieceBytes);
    }

    void aSecondSaveFindsNothingAndSaysSo()
    {
        save(out->filePath(QStringLiteral("ring")));
        save(out->filePath(QStringLiteral("again")));
        // At once, before a name is asked for.
        QCOMPARE(rig->prompts.saved.size(), 1);
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].text, QStringLiteral("没有可保存的文件！"));
        QCOMPARE(rig->prompts.told[0].caption, QStringLiteral("提示"));
        QVERIFY(!QFile::exists(out->filePath(QStringLiteral("again.mp3"))));
        QCOMPARE(readAll(out->filePath(QStringLiteral("ring.mp3"))), pieceBytes);
    }

    void recutDeletesThePieceAndReturnsToStepTwo()
    {
        const QStringList loadsBefore = rig->song.loads;
        rig->session.throwAway();
        QVERIFY(rig->piece.source().isEmpty());
        QVERIFY(!QFile::exists(piece));
        QCOMPARE(rig->session.state().step, 2);
        QCOMPARE(rig->song.loads, loadsBefore);
        QCOMPARE(rig->song.state(), PlayerEngine::State::Paused);
        // Back to marking, with the start still marked.
        QCOMPARE(rig->session.state().mirrors.status, QStringLiteral("开始。。。"));

        // A saved piece is left alone.
        QVERIFY(rig->cutAt(9));
        save(out->filePath(QStringLiteral("ring")));
        rig->session.throwAway();
        QVERIFY(QFile::exists(out->filePath(QStringLiteral("ring.mp3"))));
        QCOMPARE(rig->session.state().step, 2);
    }

    void aPieceThatCannotBeDeletedSaysWhyAndStays()
    {
        rig->files.refuseRemove = [this](const QString &path) { return path == piece; };
        rig->session.throwAway();
        QCOMPARE(rig->prompts.told.size(), 1);
        QCOMPARE(rig->prompts.told[0].text,
                 QStringLiteral("无法删除铃声（没有权限），铃声仍在原处：\n%1\n可以保存它，或者留下它继续剪切。").arg(piece));
        QCOMPARE(rig->prompts.told[0].icon, Prompts::Icon::Error);
        // Step three, where the piece can still be saved or kept, and goes on playing.
        QCOMPARE(rig->session.state().step, 3);
        QCOMPARE(rig->piece.source(), piece);
        QCOMPARE(readAll(piece), pieceBytes);
        save(out->filePath(QStringLiteral("ring")));
        QCOMPARE(readAll(out->filePath(QStringLiteral("ring.mp3"))), pieceBytes);
    }

    void continueKeepsThePieceAndStartsOver()
    {
        rig->session.keepAndStartOver();
        QCOMPARE(readAll(piece), pieceBytes);
        QCOMPARE(rig->session.state().step, 1);
        const QString next = dir->filePath(QStringLiteral("next.mp3"));
        writeCbrSong(next, 10'000);
        QVERIFY(rig->choose(next));
        QCOMPARE(rig->song.source(), next);
        QCOMPARE(rig->session.state().step, 2);
    }

private:
    /// Presses "OK！保存" and answers the save dialog: a path confirms it, nullopt cancels.
    void save(const std::optional<QString> &answer)
    {
        rig->prompts.saveAnswers.enqueue(answer);
        rig->session.savePiece();
    }

    std::unique_ptr<SessionRig> rig;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTemporaryDir> out;
    QString source;
    QByteArray sourceBytes;
    QString piece;
    QByteArray pieceBytes;
};

QTEST_GUILESS_MAIN(TestKeepPiece)
#include "tst_keeppiece.moc"
