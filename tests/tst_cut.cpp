// Choosing a source, marking it and cutting it, driven through the window with fakes over
// real files.

#include "app/frm.h"
#include "fakes.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

class TestCut : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        h = std::make_unique<Harness>();
        dir = std::make_unique<QTemporaryDir>();
        source = dir->filePath(QStringLiteral("song.mp3"));
        sourceBytes = writePatternFile(source, 3'000'000);
    }
    void cleanup()
    {
        h.reset();
        dir.reset();
    }

    void choosingTakesPathFolderAndLength()
    {
        h->choose(source);
        QCOMPARE(h->visibleStep(), 2);
        QCOMPARE(h->enabledStep(), 2);
        QCOMPARE(box("txtSource"), source);
        QCOMPARE(box("txtDestdir"), dir->path() + QDir::separator());
        QCOMPARE(h->frm->state().fileLength, 3'000'000);
        QCOMPARE(h->mdplay->url(), source);
        QVERIFY(h->mdplay->playing);
        QCOMPARE(h->frm->state().duration, 180.0);
        QVERIFY(h->cmmDlg->cancelError);

        // The output folder stays that of the first source.
        QTemporaryDir other;
        const QString second = other.filePath(QStringLiteral("b.mp3"));
        writePatternFile(second, 1000);
        h->click("dcButton1");
        h->choose(second);
        QCOMPARE(box("txtDestdir"), dir->path() + QDir::separator());
        QCOMPARE(h->frm->state().fileLength, 1000);
    }

    void cancellingFirstChoiceStaysInStepOne()
    {
        h->cmmDlg->answers.enqueue(std::nullopt);
        h->click("cmdBrowseS");
        QCOMPARE(h->visibleStep(), 1);
        QVERIFY(box("txtSource").isEmpty());
        QVERIFY(box("txtDestdir").isEmpty());
        QCOMPARE(h->mdplay->urlsSet, QStringList({QString()}));
    }

    void cancellingLaterTakesTheLastFileAgain()
    {
        h->choose(source);
        h->click("dcButton1");
        QFile::resize(source, 2'000'000);
        h->cmmDlg->answers.enqueue(std::nullopt);
        h->click("cmdBrowseS");
        QCOMPARE(h->visibleStep(), 2);
        QCOMPARE(h->frm->state().fileLength, 2'000'000);
        QCOMPARE(h->mdplay->urlsSet, QStringList({source, source}));
    }

    void unreadableOrHugeSourcesAreRefused()
    {
        h->choose(source);
        h->click("dcButton1");

        h->choose(dir->filePath(QStringLiteral("missing.mp3")));
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].icon, MessageBox::Icon::Error);
        QVERIFY(h->messages->shown[0].text.contains(QStringLiteral("missing.mp3")));

        const QString huge = dir->filePath(QStringLiteral("huge.mp3"));
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 31));   // sparse: costs no disk
        file.close();
        h->choose(huge);
        QCOMPARE(h->messages->shown.size(), 2);
        QVERIFY(h->messages->shown[1].text.contains(QStringLiteral("huge.mp3")));

        // Nothing of the refused files was taken.
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(box("txtSource"), source);
        QCOMPARE(h->frm->state().fileLength, 3'000'000);
        QCOMPARE(h->mdplay->url(), source);
    }

    void startMarkWritesTheSizeInFrontOfIt()
    {
        h->click("cmdQ");
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].text, QStringLiteral("请选择要剪切的MP3文件！"));
        QCOMPARE(h->messages->shown[0].caption, QStringLiteral("错误"));
        QCOMPARE(h->messages->shown[0].icon, MessageBox::Icon::Error);

        h->choose(source);
        h->markAt(30);
        QCOMPARE(h->frm->state().startPos, QStringLiteral("30"));
        QCOMPARE(h->frm->state().fileKB, 2929.7);
        QCOMPARE(box("txtSplit(0)"), QStringLiteral("488.2833"));
        QCOMPARE(h->child<QLabel>("lb")->text(), QStringLiteral("开始。。。"));
        QVERIFY(h->mdplay->playing);
    }

    void cutKeepsExactlyTheBytesBetweenTheMarks()
    {
        h->choose(source);
        h->markAt(30);
        h->mdplay->m_position = 60;
        QSignalSpy ended(h->frm.get(), &Frm::cutEnded);
        h->click("Command1");
        QCOMPARE(h->frm->cursor().shape(), Qt::WaitCursor);
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        QCOMPARE(h->frm->cursor().shape(), Qt::ArrowCursor);

        QCOMPARE(h->frm->state().pieceSizes, QList<qint32>({500002, 500002, 1999996}));
        QCOMPARE(box("txtSplit(1)"), QStringLiteral("488.2833"));
        QCOMPARE(box("txtSplit(2)"), QStringLiteral("1953.1"));
        QCOMPARE(readAll(piece(1)), sourceBytes.mid(500002, 500002));
        QVERIFY(!QFile::exists(piece(0)));
        QVERIFY(!QFile::exists(piece(2)));
        // Each piece existed while the next one was written.
        QCOMPARE(h->files->existingAtOpen.last(),
                 QStringList({QStringLiteral("[铃声]0song.mp3"), QStringLiteral("[铃声]1song.mp3"),
                              QStringLiteral("song.mp3")}));
        QCOMPARE(readAll(source), sourceBytes);

        QCOMPARE(h->child<QLabel>("lb")->text(), QStringLiteral("剪切完成，请试听！"));
        QCOMPARE(h->mdplay->pauses, 1);
        QCOMPARE(h->visibleStep(), 3);
        QCOMPARE(h->enabledStep(), 3);
        QCOMPARE(h->mdst->url(), piece(1));
        QVERIFY(h->messages->shown.isEmpty());
    }

    void startAtTheVeryBeginningKeepsTheOpening()
    {
        h->choose(source);
        h->markAt(0);
        QCOMPARE(box("txtSplit(0)"), QStringLiteral("0"));
        QVERIFY(h->cutAt(60));
        // 60 s of 180 s of 2929.7 KB is 976.5666 KB, read back as 1,000,004 bytes.
        QCOMPARE(readAll(piece(1)), sourceBytes.left(1'000'004));
        QVERIFY(!QFile::exists(piece(0)));
        QVERIFY(!QFile::exists(piece(2)));
    }

    void aStartMarkedOnAnotherFileIsPlacedInTheFileBeingCut()
    {
        h->choose(source);
        h->markAt(30);
        h->click("dcButton1");
        const QString shorter = dir->filePath(QStringLiteral("short.mp3"));
        const QByteArray shorterBytes = writePatternFile(shorter, 1'200'000);
        h->choose(shorter);
        QVERIFY(h->cutAt(60));
        // 30 s and 60 s of 180 s of 1171.9 KB: 195.3166 KB and as much again.
        QCOMPARE(h->frm->state().pieceSizes.mid(0, 2), QList<qint32>({200004, 200004}));
        QCOMPARE(readAll(pieceOf(QStringLiteral("short.mp3"))), shorterBytes.mid(200004, 200004));
    }

    void endBeforeStartWritesNothing()
    {
        h->choose(source);
        h->markAt(60);
        QVERIFY(!h->cutAt(30));
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].text, QStringLiteral("终点不能在起点之前！"));
        QCOMPARE(h->messages->shown[0].caption, QStringLiteral("提示"));
        QCOMPARE(h->messages->shown[0].icon, MessageBox::Icon::None);
        QVERIFY(h->files->log.isEmpty());
        QCOMPARE(h->visibleStep(), 2);
    }

    void endEqualToStartKeepsTheRest()
    {
        h->choose(source);
        h->markAt(30);
        QVERIFY(h->cutAt(30));
        QCOMPARE(h->frm->state().pieceSizes, QList<qint32>({500002, 2499998}));
        QCOMPARE(readAll(piece(1)), sourceBytes.mid(500002));
    }

    void checksComeInTheirOrder()
    {
        // No file in the player.
        QVERIFY(!h->cutAt(10));
        QCOMPARE(h->messages->shown.last().text, QStringLiteral("请先选择起点！"));
        QCOMPARE(h->messages->shown.last().caption, QString());

        // A source that has gone away makes the plan fail.
        h->choose(source);
        h->markAt(30);
        QFile::remove(source);
        QVERIFY(!h->cutAt(60));
        QCOMPARE(h->messages->shown.last().text, QStringLiteral("请选择要剪切的MP3文件！"));
        QCOMPARE(h->messages->shown.last().caption, QStringLiteral("提示"));
        QCOMPARE(h->visibleStep(), 2);
    }

    void marksNeedAPlayerThatKnowsWhereItIs()
    {
        h->choose(source);
        h->markAt(30);
        QVERIFY(h->cutAt(60));
        h->click("dcButton5");

        // A file the player cannot play: no mark of the last file may be cut into it.
        const QString other = dir->filePath(QStringLiteral("noise.mp3"));
        writePatternFile(other, 100'000);
        h->choose(other);
        h->mdplay->m_duration = std::nullopt;
        const MainWindowState before = h->frm->state();
        const QString frontBox = box("txtSplit(0)");
        h->markAt(10);
        QVERIFY(!h->cutAt(20));
        QCOMPARE(h->messages->shown.size(), 2);
        for (const auto &shown : std::as_const(h->messages->shown)) {
            QCOMPARE(shown.icon, MessageBox::Icon::Error);
            QVERIFY(shown.text.contains(other));
        }
        QCOMPARE(h->frm->state().startPos, before.startPos);
        QCOMPARE(h->frm->state().endPos, before.endPos);
        QCOMPARE(box("txtSplit(0)"), frontBox);
        QVERIFY(!QFile::exists(dir->filePath(QStringLiteral("[铃声]1noise.mp3"))));
    }

    void sourceWithoutAFolderHasNoOutputFolder()
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir->path());
        h->choose(QStringLiteral("song.mp3"));
        h->markAt(30);
        const bool cut = h->cutAt(60);
        QDir::setCurrent(previous);
        QVERIFY(!cut);
        QCOMPARE(h->messages->shown.last().text, QStringLiteral("请选择要存放的文件夹！"));
        QCOMPARE(h->messages->shown.last().caption, QStringLiteral("提示"));
    }

    void piecesLargerThanTheOldBlockCountAreCopiedWhole()
    {
        const QString big = dir->filePath(QStringLiteral("big.mp3"));
        const QByteArray bigBytes = writePatternFile(big, 40'000'000);
        h->mdplay->m_duration = 100;
        h->choose(big);
        h->markAt(5);
        QVERIFY(h->cutAt(100));
        const qint32 kept = h->frm->state().pieceSizes.at(1);
        QVERIFY(kept >= 36'765'696);
        const qint32 front = h->frm->state().pieceSizes.at(0);
        QCOMPARE(readAll(pieceOf(QStringLiteral("big.mp3"))), bigBytes.mid(front, kept));
    }

    void anExistingPieceFileIsReplacedWhole()
    {
        writePatternFile(piece(1), 2'500'000);
        h->choose(source);
        h->markAt(30);
        QVERIFY(h->cutAt(60));
        QCOMPARE(QFileInfo(piece(1)).size(), 500002);
    }

    void leadingTagIsSkippedByTheMarks()
    {
        // An ID3v2.3 tag of 10 + 102,390 bytes: the audio starts at 100 KB.
        QByteArray tagged = sourceBytes;
        const char header[] = {'I', 'D', '3', 3, 0, 0, 0x00, 0x06, 0x1f, 0x76};
        tagged.replace(0, 10, QByteArray(header, 10));
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(tagged) == tagged.size());
        file.close();

        h->choose(source);
        QCOMPARE(h->frm->state().audioStart, 102'400);
        h->markAt(0);
        QCOMPARE(box("txtSplit(0)"), QStringLiteral("100"));
        QVERIFY(h->cutAt(90));
        // Half of the 2829.7 KB behind the tag: 1414.85 KB.
        QCOMPARE(readAll(piece(1)), tagged.mid(102'400, 1'448'806));
    }

    void failedWritesAreReportedAndCleanedUp_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("piece cannot be created") << 0;
        QTest::newRow("disk full in the kept piece") << 1;
        QTest::newRow("file size limit") << 2;
    }

    void failedWritesAreReportedAndCleanedUp()
    {
        QFETCH(int, fault);
        h->choose(source);
        h->markAt(30);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        if (fault == 0)
            h->files->refuseWrite = [this](const QString &path) { return path == piece(1); };
        else if (fault == 1)
            h->files->writeBudget = 700'000;
        else {
            // Root obeys this limit too; the signal would otherwise end the test.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = before;
            limit.rlim_cur = 600'000;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        const bool cut = h->cutAt(60);
        setrlimit(RLIMIT_FSIZE, &before);

        QVERIFY(!cut);
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].icon, MessageBox::Icon::Error);
        QCOMPARE(h->messages->shown[0].caption, QStringLiteral("错误"));
        QVERIFY2(h->messages->shown[0].text.contains(fault == 2 ? piece(2) : piece(1)),
                 qPrintable(h->messages->shown[0].text));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!QFile::exists(piece(i)));
        QCOMPARE(readAll(source), sourceBytes);
        QCOMPARE(h->frm->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(h->visibleStep(), 2);
        QVERIFY(h->child<QLabel>("lb")->text() != QStringLiteral("剪切完成，请试听！"));
        QVERIFY(h->mdst->url().isEmpty());
    }

    void shortenedSourceIsReportedAndCleanedUp()
    {
        h->choose(source);
        h->markAt(30);
        QVERIFY(QFile::resize(source, 1'200'000));
        QVERIFY(!h->cutAt(60));
        QCOMPARE(h->messages->shown.size(), 1);
        QVERIFY(h->messages->shown[0].text.contains(source));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!QFile::exists(piece(i)));
    }

    void buttonsPressedWhileACutRunsChangeNothing()
    {
        QSignalSpy ended(h->frm.get(), &Frm::cutEnded);
        startLongCut();
        const MainWindowState during = h->frm->state();
        const QString frontBox = box("txtSplit(0)");
        QTest::qWait(5);   // let a slice of the copy run
        h->mdplay->m_position = 120;
        h->cmmDlg->answers.enqueue(source);
        h->comDlg->answers.enqueue(dir->filePath(QStringLiteral("saved")));
        // Whatever a user can reach, and the step-three buttons that only a stray event could.
        for (const char *name : {"cmdQ", "Command1", "dcButton4", "Cmdx(1)", "dcButton2", "dcButton3"})
            h->click(name);
        h->click("dcButton1");   // back to step one is allowed mid-cut...
        h->click("cmdBrowseS");  // ...but choosing another source is not
        QCOMPARE(h->frm->state().startPos, during.startPos);
        QCOMPARE(h->frm->state().endPos, during.endPos);
        QCOMPARE(box("txtSplit(0)"), frontBox);
        QVERIFY(ended.wait(20000));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(h->cmmDlg->shown, 1);
        QCOMPARE(h->comDlg->shown, 0);
        QCOMPARE(h->files->log.filter(QStringLiteral("write ")).size(), 3);
        QCOMPARE(h->visibleStep(), 3);
        QCOMPARE(QFileInfo(pieceOf(QStringLiteral("big.mp3"))).size(), h->frm->state().pieceSizes.at(1));
    }

    void closingTheWindowAbandonsTheCut()
    {
        startLongCut();
        QTest::qWait(5);
        QVERIFY(h->frm->cutRunning());
        h->frm->close();
        QVERIFY(!h->frm->cutRunning());
        for (int i = 0; i < 3; ++i)
            QVERIFY(!QFile::exists(pieceOf(QStringLiteral("big.mp3"), i)));
    }

private:
    QString box(const char *name) const { return h->child<QLineEdit>(name)->text(); }
    QString pieceOf(const QString &name, int i = 1) const
    {
        return dir->path() + QDir::separator() + QStringLiteral("[铃声]%1").arg(i) + name;
    }
    QString piece(int i) const { return pieceOf(QStringLiteral("song.mp3"), i); }
    /// Starts the cut of a source large enough to take many slices of the event loop.
    void startLongCut()
    {
        const QString big = dir->filePath(QStringLiteral("big.mp3"));
        writePatternFile(big, 60'000'000);
        h->choose(big);
        h->markAt(30);
        h->mdplay->m_position = 90;
        h->click("Command1");
        QVERIFY(h->frm->cutRunning());
    }
    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> dir;
    QString source;
    QByteArray sourceBytes;
};

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
