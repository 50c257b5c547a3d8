// Step three: keeping the piece under a chosen name, throwing it away, starting over, and
// the About box beside it all.

#include "about/frma.h"
#include "app/frm.h"
#include "fakes.h"
#include "platform/qtfilesystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestReview : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        h = std::make_unique<Harness>();
        dir = std::make_unique<QTemporaryDir>();
        out = std::make_unique<QTemporaryDir>();
        source = dir->filePath(QStringLiteral("song.mp3"));
        sourceBytes = writePatternFile(source, 300'000);
        h->choose(source);
        h->markAt(30);
        QVERIFY(h->cutAt(60));
        piece = dir->filePath(QStringLiteral("[铃声]1song.mp3"));
        pieceBytes = readAll(piece);
        // 30 s to 60 s of 180 s of 293 KB: 48.83333 KB.
        QCOMPARE(pieceBytes.size(), 50'005);
    }
    void cleanup()
    {
        h.reset();
        const auto boxes = QApplication::topLevelWidgets();
        for (QWidget *w : boxes)
            QVERIFY2(!qobject_cast<FrmA *>(w), "an About box outlived its window");
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
        QCOMPARE(h->comDlg->filter, QStringLiteral("*.mp3"));
        QCOMPARE(h->comDlg->title, QStringLiteral("保存音频文件"));
        QCOMPARE(readAll(out->filePath(saved)), pieceBytes);
        QVERIFY(!QFile::exists(piece));
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList({saved}));
        QVERIFY(h->messages->shown.isEmpty());
        QCOMPARE(h->visibleStep(), 3);
        QCOMPARE(readAll(source), sourceBytes);
    }

    void cancelMovesNothing()
    {
        save(std::nullopt);
        QVERIFY(QFile::exists(piece));

        // Also after an earlier save: the last confirmed name is not taken again.
        save(out->filePath(QStringLiteral("first")));
        h->click("dcButton3");
        QVERIFY(h->cutAt(90));
        save(std::nullopt);
        QCOMPARE(readAll(piece).size(), h->frm->state().pieceSizes.at(1));
        QVERIFY(readAll(piece).size() > pieceBytes.size());
        QCOMPARE(readAll(out->filePath(QStringLiteral("first.mp3"))), pieceBytes);
        QVERIFY(h->messages->asked.isEmpty());
    }

    void anExistingTargetIsReplacedOnlyWhenTheUserSaysSo()
    {
        const QString target = out->filePath(QStringLiteral("ring.mp3"));
        const QByteArray old = writePatternFile(target, 1234);

        h->messages->yesNoAnswers.enqueue(false);
        save(target);
        QCOMPARE(h->messages->asked.size(), 1);
        QVERIFY(h->messages->asked[0].text.startsWith(QStringLiteral("文件已存在，是否替换？")));
        QCOMPARE(readAll(target), old);
        QCOMPARE(readAll(piece), pieceBytes);

        h->messages->yesNoAnswers.enqueue(true);
        save(target);
        QCOMPARE(h->messages->asked.size(), 2);
        QCOMPARE(readAll(target), pieceBytes);
        QVERIFY(!QFile::exists(piece));
    }

    void aTargetOnAnotherFileSystemIsCopiedWholeThenThePieceRemoved()
    {
        h->files->renamesCrossDevice = true;
        const QString target = out->filePath(QStringLiteral("ring.mp3"));
        writePatternFile(target, 10);
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
        QCOMPARE(real.rename(piece, shm.filePath(QStringLiteral("x"))), FileSystem::MoveResult::CrossDevice);
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
        h->files->renamesCrossDevice = crossDevice;
        const QString target = out->filePath(QStringLiteral("gone/ring"));
        save(target);
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].icon, MessageBox::Icon::Error);
        QCOMPARE(h->messages->shown[0].caption, QStringLiteral("错误"));
        QVERIFY(h->messages->shown[0].text.contains(target + QStringLiteral(".mp3")));
        QCOMPARE(readAll(piece), pieceBytes);
    }

    void aDiskFullCopyLeavesNoPartialTarget()
    {
        h->files->renamesCrossDevice = true;
        h->files->writeBudget = 20'000;
        save(out->filePath(QStringLiteral("ring")));
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(readAll(piece), pieceBytes);
    }

    void aSecondSaveFindsNothingAndSaysSo()
    {
        save(out->filePath(QStringLiteral("ring")));
        save(out->filePath(QStringLiteral("again")));
        QCOMPARE(h->messages->shown.size(), 1);
        QCOMPARE(h->messages->shown[0].text, QStringLiteral("没有可保存的文件！"));
        QCOMPARE(h->messages->shown[0].caption, QStringLiteral("提示"));
        QVERIFY(!QFile::exists(out->filePath(QStringLiteral("again.mp3"))));
        QCOMPARE(readAll(out->filePath(QStringLiteral("ring.mp3"))), pieceBytes);
    }

    void recutDeletesThePieceAndReturnsToStepTwo()
    {
        const QStringList urlsBefore = h->mdplay->urlsSet;
        h->click("dcButton3");
        QVERIFY(h->mdst->url().isEmpty());
        QVERIFY(!QFile::exists(piece));
        QCOMPARE(h->visibleStep(), 2);
        QCOMPARE(h->enabledStep(), 2);
        QCOMPARE(h->mdplay->urlsSet, urlsBefore);
        QVERIFY(!h->mdplay->playing);
        QCOMPARE(h->child<QLabel>("lb")->text(), QStringLiteral("剪切完成，请试听！"));

        // A saved piece is left alone.
        QVERIFY(h->cutAt(90));
        save(out->filePath(QStringLiteral("ring")));
        h->click("dcButton3");
        QVERIFY(QFile::exists(out->filePath(QStringLiteral("ring.mp3"))));
        QCOMPARE(h->visibleStep(), 2);
    }

    void continueKeepsThePieceAndStartsOver()
    {
        h->click("dcButton5");
        QCOMPARE(readAll(piece), pieceBytes);
        QCOMPARE(h->visibleStep(), 1);
        const QString next = dir->filePath(QStringLiteral("next.mp3"));
        writePatternFile(next, 1000);
        h->choose(next);
        QCOMPARE(h->mdplay->url(), next);
        QCOMPARE(h->visibleStep(), 2);
    }

    void theAboutBoxIsOneModelessWindow()
    {
        h->click("dcButton4");
        h->click("dcButton4");
        QList<FrmA *> boxes;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<FrmA *>(w); box && box->isVisible())
                boxes.append(box);
        }
        QCOMPARE(boxes.size(), 1);
        FrmA *box = boxes.first();
        QVERIFY(!box->isModal());
        QVERIFY(!box->parentWidget());
        QCOMPARE(box->windowTitle(), QStringLiteral("青禾MP3剪切器V1.0"));
        QCOMPARE(box->size(), QSize(286, 166));
        QVERIFY(box->findChild<QLabel *>("Label6")->text().contains(QStringLiteral("example.com")));
        QVERIFY(box->findChild<QLabel *>("Label4")->text().startsWith(QStringLiteral("Email：")));
        QVERIFY(box->findChild<QLabel *>("Label1")->font().bold());

        // The wizard goes on working beside it.
        h->click("dcButton5");
        QCOMPARE(h->visibleStep(), 1);

        QPointer<FrmA> first = box;
        QTest::mouseClick(box->findChild<QPushButton *>("Command2"), Qt::LeftButton);
        QTRY_VERIFY(!first);
        h->click("dcButton4");
        QVERIFY(h->frm->aboutBox());
        QVERIFY(h->frm->aboutBox()->isVisible());
    }

private:
    /// Presses "OK！保存" and answers the save dialog: a path confirms it, nullopt cancels.
    void save(const std::optional<QString> &answer)
    {
        h->comDlg->answers.enqueue(answer);
        h->click("dcButton2");
    }

    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTemporaryDir> out;
    QString source;
    QByteArray sourceBytes;
    QString piece;
    QByteArray pieceBytes;
};

QTEST_MAIN(TestReview)
#include "tst_review.moc"
