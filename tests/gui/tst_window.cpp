// The main window at start, the moves of the wizard and the timer's refresh.

#include "gui/frma.h"
#include "gui/pieceview.h"
#include "gui/qtprompts.h"
#include "gui/transportbar.h"
#include "gui/waveformview.h"
#include "harness.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { h = std::make_unique<Harness>(); }
    void cleanup()
    {
        h.reset();
        const auto boxes = QApplication::topLevelWidgets();
        for (QWidget *w : boxes)
            QVERIFY2(!qobject_cast<FrmA *>(w), "an About box outlived its window");
    }

    void startsInStepOne()
    {
        QCOMPARE(h->frm->windowTitle(), QStringLiteral("青禾MP3剪切器V1.0"));
        QCOMPARE(h->frm->size(), QSize(481, 302));
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(h->enabledStep(), 1);
        QVERIFY(!h->child<QLineEdit>("txtSource")->isEnabled());
        QVERIFY(!h->child<QLineEdit>("txtDestdir")->isEnabled());
        QVERIFY(!h->child<QWidget>("Frame1")->isVisible());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(h->child<QLineEdit>(QStringLiteral("txtSplit(%1)").arg(i))->text(), QStringLiteral("0"));
            QCOMPARE(h->child<QLineEdit>(QStringLiteral("txtSplit(%1)").arg(i))->maxLength(), 8);
        }
        QCOMPARE(h->session->state().duration, 0.0);
        QCOMPARE(h->session->state().fileLength, 0);
        QVERIFY(!h->session->state().startMark);
        QVERIFY(!h->frm->windowIcon().isNull());
    }

    void everyControlOfAStepIsWhole()
    {
        // Each pane's controls lie inside it, apart, and show their whole caption. Twips rounded
        // to pixels let neighbours share an edge pixel.
        for (int step = 1; step <= 3; ++step) {
            h->frm->showStep(step);
            const auto *pane = h->child<QGroupBox>(QStringLiteral("FM(%1)").arg(step - 1));
            QList<QWidget *> controls;
            for (QWidget *w : pane->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (w->isVisible())
                    controls.append(w);
            }
            QVERIFY(controls.size() >= 2);
            for (QWidget *w : controls) {
                QVERIFY2(pane->rect().contains(w->geometry()), qPrintable(w->objectName()));
                for (QWidget *other : controls)
                    QVERIFY2(w == other || !w->geometry().adjusted(1, 1, -1, -1).intersects(other->geometry()),
                             qPrintable(w->objectName() + u' ' + other->objectName()));
                if (auto *button = qobject_cast<QPushButton *>(w))
                    QVERIFY2(button->fontMetrics().horizontalAdvance(button->text().remove(u'&')) < button->width(),
                             qPrintable(button->text()));
            }
        }
    }

    void everyTextIsInOneInstalledChineseFace()
    {
        const QFont font = h->child<QPushButton>("cmdBrowseS")->font();
        QCOMPARE(font.pointSizeF(), 15.75);
        const QString face = QFontInfo(font).family();
        QVERIFY2(QFontMetrics(font).inFont(QChar(0x9009)), qPrintable(face));   // 选
        // One face for all: each further one costs the window's first showing a font file.
        for (const QWidget *w : h->frm->findChildren<QWidget *>())
            QVERIFY2(QFontInfo(w->font()).family() == face, qPrintable(w->objectName() + u' ' + QFontInfo(w->font()).family()));
    }

    void aPaneShowsItsTitleAboveItsFrame()
    {
        auto *pane = h->child<QGroupBox>("FM(0)");
        const QImage image = pane->grab().toImage();
        const QColor window = pane->palette().window().color();
        const int titleRows = pane->fontMetrics().height();
        int inked = 0;
        for (int y = 0; y < titleRows; ++y)
            for (int x = 0; x < pane->fontMetrics().horizontalAdvance(pane->title()); ++x)
                inked += qGray(image.pixel(x, y)) < 128;
        QVERIFY(inked > 20);
        // The frame's left edge, halfway down, is darker than the window; inside it is not.
        QVERIFY(qGray(image.pixel(1, pane->height() / 2)) < qGray(window.rgb()) - 10);
        QVERIFY(qGray(image.pixel(10, pane->height() / 2)) >= qGray(window.rgb()) - 10);
    }

    void styledButtonsShowTheirColours()
    {
        auto *browse = h->child<QPushButton>("cmdBrowseS");
        const auto faceColour = [browse] {
            const QImage face = browse->grab().toImage();
            return face.pixel(8, face.height() / 2);
        };
        QCOMPARE(faceColour(), QColor(192, 255, 192).rgb());
        browse->setDown(true);
        QCOMPARE(faceColour(), QColor(192, 255, 192).darker(140).rgb());
    }

    void startUpRegistersBothLibrariesInOrder()
    {
        QCOMPARE(h->processes.started,
                 QStringList({QStringLiteral("regsvr32 comdlg32.ocx /s"), QStringLiteral("regsvr32 hmButton.ocx /s")}));
        Harness second;
        QCOMPARE(second.processes.started.size(), 2);
    }

    void timerRefreshesTheDurationAndKeepsItWhenTheReadFails()
    {
        auto *timer = h->child<QTimer>("Timer1");
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 1000);

        h->fakeSong->nextDuration = 42.5;
        h->fakeSong->load(QStringLiteral("/x.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(h->session->state().duration, 42.5, 2500);
        h->fakeSong->nextDuration = std::nullopt;
        h->fakeSong->load(QStringLiteral("/y.mp3"));
        QTest::qWait(1100);
        QCOMPARE(h->session->state().duration, 42.5);
    }

    void everyMoveLeavesOnePaneAndItsIndicator()
    {
        for (int n : {2, 3, 1, 3, 2, 1, 2}) {
            h->frm->showStep(n);
            QCOMPARE(h->visibleStep(), n);
            QCOMPARE(h->enabledStep(), n);
        }
    }

    void clicksReachTheSessionAndItsStateShows()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        writeCbrSong(song, 3'000'000);

        // The enabled step indicator does nothing: no dialog, no move.
        h->click("Cmdx(0)");
        QVERIFY(h->prompts.opened.isEmpty());
        QCOMPARE(h->visibleStep(), 1);

        h->choose(song);
        QCOMPARE(h->visibleStep(), 2);
        QCOMPARE(h->enabledStep(), 2);
        QCOMPARE(h->box("txtSource"), song);
        QCOMPARE(h->box("txtDestdir"), dir.path() + QDir::separator());
        // Where pieces go shows in step two.
        QVERIFY(h->child<QLineEdit>("txtDestdir")->isVisible());
        QCOMPARE(h->fakeSong->source(), song);

        h->click("Cmdx(1)");
        QCOMPARE(h->visibleStep(), 2);
        h->markAt(30);
        QCOMPARE(h->box("txtSplit(0)"), QStringLiteral("468.75"));
        QCOMPARE(h->child<QLabel>("lb")->text(), QStringLiteral("开始。。。"));

        h->fakeSong->moveTo(60);
        QSignalSpy ended(h->session.get(), &CutSession::cutEnded);
        h->click("Command1");
        QCOMPARE(h->frm->cursor().shape(), Qt::WaitCursor);
        QVERIFY(ended.wait(10000));
        QCOMPARE(h->frm->cursor().shape(), Qt::ArrowCursor);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(h->box(qPrintable(QStringLiteral("txtSplit(%1)").arg(i))), h->session->state().mirrors.sizeBoxes[i]);
        QCOMPARE(h->child<QLabel>("lb")->text(), QStringLiteral("剪切完成，请试听！"));
        QCOMPARE(h->visibleStep(), 3);
        QCOMPARE(h->enabledStep(), 3);
        QCOMPARE(h->fakePiece->source(), dir.filePath(QStringLiteral("[铃声]1song.mp3")));

        // Past the double-click interval, the step-three buttons work.
        h->clickInStepThree("dcButton5");
        QCOMPARE(h->visibleStep(), 1);
        QVERIFY(h->fakePiece->source().isEmpty());
        h->choose(song);
        h->click("dcButton1");
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(h->fakeSong->stops, 1);

        // What the session says reaches the person.
        h->prompts.openAnswers.enqueue(dir.filePath(QStringLiteral("missing.mp3")));
        h->click("cmdBrowseS");
        QCOMPARE(h->prompts.told.size(), 1);
        QCOMPARE(h->prompts.told[0].caption, QStringLiteral("错误"));
    }

    void marksWithNoSoundBetweenThemAreRefusedInStepTwo()
    {
        QTemporaryDir dir;
        chooseCbrSong(dir, 300'000);
        h->markAt(3);
        h->fakeSong->moveTo(3.01);
        h->click("Command1");
        QCOMPARE(h->prompts.told.size(), 1);
        QVERIFY(h->prompts.told[0].text.startsWith(QStringLiteral("起点和终点相隔不到一帧")));
        QCOMPARE(h->prompts.told[0].caption, QStringLiteral("提示"));
        QCOMPARE(h->visibleStep(), 2);
        QCOMPARE(h->session->state().startMark, std::optional(3.0));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("song.mp3")}));
    }

    void aDoubleClickOnTheEndButtonKeepsThePiece()
    {
        QTemporaryDir dir;
        chooseCbrSong(dir, 300'000);
        h->markAt(3);
        h->fakeSong->moveTo(6);
        auto *end = h->child<QPushButton>("Command1");
        const QPoint at = end->mapTo(h->frm.get(), end->rect().center());
        QSignalSpy ended(h->session.get(), &CutSession::cutEnded);
        QTest::mouseClick(end, Qt::LeftButton);
        QVERIFY(ended.wait(5000));
        QCOMPARE(h->visibleStep(), 3);
        // The second click of the double-click lands on whatever now sits there.
        QWidget *under = h->frm->childAt(at);
        QVERIFY(under);
        QCOMPARE(under->objectName(), QStringLiteral("dcButton3"));
        QTest::mouseDClick(under, Qt::LeftButton);
        QTest::mouseClick(under, Qt::LeftButton);
        QCOMPARE(h->visibleStep(), 3);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("[铃声]1song.mp3"))));
        QCOMPARE(h->fakePiece->source(), dir.filePath(QStringLiteral("[铃声]1song.mp3")));
    }

    void theGainBoxesFitBetweenThePlayerAndTheButtons()
    {
        const QRect endButtonOfStepTwo = h->child<QWidget>("Command1")->geometry();
        QList<QRect> taken{h->child<QWidget>("MDst")->geometry(), h->child<QWidget>("dcButton2")->geometry()};
        for (const char *name : {"chkFadeIn", "chkFadeOut", "chkMaxVolume"}) {
            const auto *box = h->child<QCheckBox>(name);
            // Room for glyphs a quarter wider than here, as a fractional scale may draw them.
            QVERIFY2(box->sizeHint().width() * 5 / 4 <= box->width() && box->sizeHint().height() <= box->height(),
                     qPrintable(QStringLiteral("%1: %2 x %3 in %4 x %5").arg(name).arg(box->sizeHint().width()).arg(box->sizeHint().height()).arg(box->width()).arg(box->height())));
            for (const QRect &other : taken)
                QVERIFY2(!box->geometry().intersects(other), name);
            // The second click of a double-click on step two's end button must not tick one.
            QVERIFY2(!box->geometry().intersects(endButtonOfStepTwo), name);
            taken.append(box->geometry());
        }
    }

    void aTickedBoxRewritesThePieceAndAFullDiskLeavesItAsItWas()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        const QString piece = dir.filePath(QStringLiteral("[铃声]1song.mp3"));
        QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/songs/cbr128-stereo-44k1.mp3"), song));
        h->choose(song);
        h->markAt(0.5);
        QVERIFY(h->cutAt(2.5));
        const QByteArray plain = readAll(piece);

        QVERIFY(h->tick("chkFadeIn"));
        // Each fade takes at most a third of the piece's two seconds.
        const auto *fadeNote = h->child<QLabel>("lblFade");
        QVERIFY(fadeNote);
        QCOMPARE(fadeNote->text(), QStringLiteral("淡入缩短为0.7秒"));
        const QByteArray faded = readAll(piece);
        QVERIFY(faded.size() == plain.size() && faded != plain);
        QCOMPARE(h->fakePiece->loads, QStringList({piece, piece}));
        QVERIFY(h->child<QCheckBox>("chkFadeIn")->isChecked());

        h->files.writeBudget = plain.size() / 2;
        QVERIFY(!h->tick("chkMaxVolume"));
        QVERIFY(readAll(piece) == faded);
        QVERIFY(!h->child<QCheckBox>("chkMaxVolume")->isChecked());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("[铃声]1song.mp3"), QStringLiteral("song.mp3")}));
        QCOMPARE(h->prompts.told.size(), 1);
        QCOMPARE(h->fakePiece->loads.size(), 2);
    }

    void spaceWorksThePlayerOfEachStep()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        writeCbrSong(song, 300'000);
        QVERIFY(QTest::qWaitForWindowActive(h->frm.get()));
        const auto space = [] {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            QTest::keyClick(focus, Qt::Key_Space);
        };
        h->choose(song);
        QCOMPARE(h->fakeSong->state(), PlayerEngine::State::Playing);
        space();
        QCOMPARE(h->fakeSong->state(), PlayerEngine::State::Paused);
        // A mark pressed with the mouse leaves Space to the player.
        h->markAt(3);
        space();
        QCOMPARE(h->fakeSong->state(), PlayerEngine::State::Playing);
        QVERIFY(h->cutAt(6));
        QCOMPARE(h->fakePiece->state(), PlayerEngine::State::Playing);
        space();
        QCOMPARE(h->fakePiece->state(), PlayerEngine::State::Paused);
        QCOMPARE(h->visibleStep(), 3);
        QCOMPARE(h->prompts.opened.size(), 1);
        QVERIFY(h->prompts.saved.isEmpty());
    }

    void keysInStepThreeMoveThePieceAndStepTwoShadesItsNewMarks()
    {
        QTemporaryDir dir;
        chooseCbrSong(dir, 3'000'000);
        h->markAt(5);
        QVERIFY(h->cutAt(12.5));
        auto *view = h->child<PieceView>("pieceView");
        QSignalSpy ended(h->session.get(), &CutSession::cutEnded);
        QTest::keyClick(view, Qt::Key_Right);
        QVERIFY(ended.wait(5000));
        QTest::keyClick(view, Qt::Key_BracketRight);
        QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.size(), 2);
        QCOMPARE(view->shownPiece()->from, 5.1);
        QCOMPARE(view->shownPiece()->to, 12.0);
        QVERIFY(ended[1][0].toBool());
        QCOMPARE(h->session->state().piece->startSeconds, 5.1);
        QCOMPARE(h->session->state().piece->endSeconds, 12.0);

        h->clickInStepThree("dcButton3");
        QCOMPARE(h->visibleStep(), 2);
        const WaveformView *wave = h->child<TransportBar>("MDplay")->waveform();
        QVERIFY2(wave->accessibleDescription().startsWith(QStringLiteral("起点 0:05.1　终点 0:12.0。")),
                 qPrintable(wave->accessibleDescription()));
    }

    void theLoopBoxLoopsThePiecesPlayer()
    {
        QTemporaryDir dir;
        chooseCbrSong(dir, 300'000);
        h->markAt(1);
        QVERIFY(h->cutAt(5));
        auto *loop = h->child<QCheckBox>("chkLoop");
        QVERIFY(loop->isVisible());
        QTest::mouseClick(loop, Qt::LeftButton);
        QVERIFY(h->fakePiece->looping());
        QVERIFY(!h->fakeSong->looping());
        QTest::mouseClick(loop, Qt::LeftButton);
        QVERIFY(!h->fakePiece->looping());
    }

    void theCheckLineSaysThePieceIsTheSongsSound()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/songs/cbr128-stereo-44k1.mp3"), song));
        h->choose(song);
        h->markAt(0.5);
        QVERIFY(h->cutAt(2.5));
        auto *line = h->child<QLabel>("lblCheck");
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QStringLiteral("与原曲逐个采样一致"), 30000);
        const QColor red(0xc0, 0x1c, 0x1c);
        QVERIFY(line->palette().color(QPalette::WindowText) != red);
        // A faded piece is the song's sound made quieter at its ends, and is said to be.
        QVERIFY(h->tick("chkFadeIn"));
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QStringLiteral("与原曲一致，仅音量按所选改变"), 30000);
    }

    void aNewStartStandsApartFromTheLastCut()
    {
        QTemporaryDir dir;
        chooseCbrSong(dir, 3'000'000);
        h->markAt(5);
        QVERIFY(h->cutAt(12.5));
        h->clickInStepThree("dcButton3");
        QCOMPARE(h->visibleStep(), 2);
        const WaveformView *wave = h->child<TransportBar>("MDplay")->waveform();
        QVERIFY2(wave->accessibleDescription().startsWith(QStringLiteral("起点 0:05.0　终点 0:12.5。")),
                 qPrintable(wave->accessibleDescription()));
        h->markAt(25.6);
        QVERIFY2(wave->accessibleDescription().startsWith(QStringLiteral("起点 0:25.6　上次剪切 0:05.0–0:12.5。")),
                 qPrintable(wave->accessibleDescription()));
    }

    void theBoxesShowWhatThePieceIs()
    {
        QTemporaryDir dir;
        QTemporaryDir out;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/songs/cbr128-stereo-44k1.mp3"), song));
        auto *fadeIn = h->child<QCheckBox>("chkFadeIn");
        const auto cut = [this](const QString &from) {
            h->choose(from);
            h->markAt(0.5);
            return h->cutAt(2.5);
        };
        QVERIFY(cut(song));
        const QByteArray plain = readAll(dir.filePath(QStringLiteral("[铃声]1song.mp3")));
        QVERIFY(h->tick("chkFadeIn"));

        // Saved, the piece is changed where it now is.
        const QString saved = out.filePath(QStringLiteral("ring.mp3"));
        h->prompts.saveAnswers.enqueue(out.filePath(QStringLiteral("ring")));
        h->clickInStepThree("dcButton2");
        QVERIFY(readAll(saved).size() == plain.size() && readAll(saved) != plain);
        QVERIFY(h->tick("chkFadeIn"));
        QVERIFY(!fadeIn->isChecked());
        QVERIFY(readAll(saved) == plain);
        QVERIFY(h->tick("chkFadeIn"));
        QVERIFY(fadeIn->isChecked());

        // A layer II piece cannot fade: the boxes show it plain and are closed, saying why.
        h->clickInStepThree("dcButton5");
        const QString layerTwo = dir.filePath(QStringLiteral("layer2.mp3"));
        const char header[] = {char(0xFF), char(0xFD), char(0x94), char(0x00)};
        QVERIFY(writeFile(layerTwo, (QByteArray(header, 4) + QByteArray(476, '\0')).repeated(150)));
        QVERIFY(cut(layerTwo));
        QVERIFY(!fadeIn->isChecked());
        QVERIFY(!fadeIn->isEnabled());
        QVERIFY(fadeIn->toolTip().contains(QStringLiteral("Layer II")));
        QVERIFY(h->session->state().gain.fadeIn);

        // The choice still goes with the next piece that can follow it.
        h->clickInStepThree("dcButton5");
        QVERIFY(cut(song));
        QVERIFY(fadeIn->isChecked() && fadeIn->isEnabled());
        QVERIFY(readAll(dir.filePath(QStringLiteral("[铃声]1song.mp3"))) != plain);
    }

    void aLongNameInAMessageWrapsInsideItsBox()
    {
        QtPrompts prompts;
        prompts.setWindow(h->frm.get());
        const QString name = QStringLiteral("/tmp/铃声/[铃声]1") + QString(246, u'a') + QStringLiteral(".mp3");
        int boxWidth = 0;
        int inkRight = 0;
        QTimer::singleShot(0, h->frm.get(), [&] {
            auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(shown);
            boxWidth = shown->width();
            const auto *text = shown->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            for (const QString &line : text->text().split(u'\n'))
                inkRight = std::max(inkRight, text->mapTo(shown, QPoint()).x() + text->fontMetrics().horizontalAdvance(line));
            shown->accept();
        });
        prompts.tell(QStringLiteral("无法写入文件（文件名太长），剪切已取消：\n") + name, Prompts::Icon::Error, QStringLiteral("错误"));
        QVERIFY2(boxWidth <= 600 && inkRight < boxWidth, qPrintable(QStringLiteral("text to %1 in %2").arg(inkRight).arg(boxWidth)));
        QVERIFY(QtPrompts::wrapped(name, QFontMetrics(QApplication::font()), 420).remove(u'\n') == name);
    }

    void aDropIsTakenAsACopyNeverAsAMove()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        writeCbrSong(song, 300'000);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(song)});
        // The file manager proposes a move; taken as one, it would delete the song.
        QDragEnterEvent enter(QPoint(10, 10), Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h->frm.get(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(10, 10), Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h->frm.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
        // A drag that can only move is refused.
        QDragEnterEvent moveOnly(QPoint(10, 10), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h->frm.get(), &moveOnly);
        QVERIFY(!moveOnly.isAccepted());
    }

    void aLongCutShowsItsProgressAndReselectStopsIt()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        // A piece longer than one slice of the copy: the first progress comes with the cut running.
        writeCbrSong(song, 20'000'000, 320);
        h->choose(song);
        h->markAt(10);
        h->fakeSong->moveTo(400);
        QSignalSpy progress(h->session.get(), &CutSession::cutProgress);
        h->click("Command1");
        QVERIFY(progress.wait(20000));
        QVERIFY(h->session->cutRunning());
        QVERIFY(h->child<QLabel>("lb")->text().startsWith(QStringLiteral("正在剪切…")));
        QCOMPARE(h->frm->cursor().shape(), Qt::WaitCursor);

        h->click("dcButton1");
        QVERIFY(!h->session->cutRunning());
        QCOMPARE(h->frm->cursor().shape(), Qt::ArrowCursor);
        QCoreApplication::processEvents();
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("song.mp3")}));
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
        auto *title = box->findChild<QLabel *>("Label1");
        QVERIFY(title->font().bold());
        // The title's ink stands in the middle of the box.
        const QImage drawn = box->grab().toImage();
        int left = drawn.width();
        int right = 0;
        for (int y = title->y(); y < title->y() + title->height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (qGray(drawn.pixel(x, y)) < 96) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        QVERIFY2(left < right && std::abs(left - (drawn.width() - 1 - right)) <= 2,
                 qPrintable(QStringLiteral("%1 px left, %2 px right").arg(left).arg(drawn.width() - 1 - right)));
        // Name, what it does, version and licence; no address that leads nowhere.
        QStringList texts;
        for (const QLabel *label : box->findChildren<QLabel *>())
            texts.append(label->text());
        QVERIFY(texts.contains(QStringLiteral("版本：1.0.0")));
        QVERIFY(texts.filter(QStringLiteral("许可：")).size() == 1);
        QVERIFY2(texts.filter(QRegularExpression(QStringLiteral("example|www|@|http"))).isEmpty(), qPrintable(texts.join(u'|')));

        // The wizard goes on working beside it.
        h->frm->showStep(3);
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
    /// Chooses a song of \a bytes that writeCbrSong makes in \a dir as "song.mp3".
    void chooseCbrSong(const QTemporaryDir &dir, qint64 bytes)
    {
        const QString song = dir.filePath(QStringLiteral("song.mp3"));
        QVERIFY(!writeCbrSong(song, bytes).isEmpty());
        h->choose(song);
    }

    std::unique_ptr<Harness> h;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
