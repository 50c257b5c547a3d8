// The main window at start, the moves of the wizard and the timer's refresh.

#include "app/frm.h"
#include "fakes.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestWizard : public QObject
{
    Q_OBJECT
private slots:
    void init() { h = std::make_unique<Harness>(); }
    void cleanup() { h.reset(); }

    void startsInStepOne()
    {
        QCOMPARE(h->frm->windowTitle(), QStringLiteral("青禾MP3剪切器V1.0"));
        QCOMPARE(h->frm->size(), QSize(481, 302));
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(h->enabledStep(), 1);
        QVERIFY(!h->child<QLineEdit>("txtSource")->isEnabled());
        QVERIFY(!h->child<QLineEdit>("txtDestdir")->isEnabled());
        QVERIFY(!h->child<QWidget>("Frame1")->isVisible());
        QVERIFY(!h->child<QWidget>("Frame2")->isVisible());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(h->child<QLineEdit>(QStringLiteral("txtSplit(%1)").arg(i))->text(), QStringLiteral("0"));
        QCOMPARE(h->frm->state().duration, 0.0);
        QCOMPARE(h->frm->state().fileLength, 0);
        QVERIFY(h->frm->state().startPos.isEmpty());
        QVERIFY(!h->frm->windowIcon().isNull());
    }

    void everyControlHasItsPlaceAndCaption_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Cmdx(0)") << "Cmdx(0)" << "Frm" << QRect(0, 259, 129, 41) << "选择文件>>";
        QTest::newRow("Cmdx(1)") << "Cmdx(1)" << "Frm" << QRect(128, 259, 129, 41) << "选择起点终点>>";
        QTest::newRow("Cmdx(2)") << "Cmdx(2)" << "Frm" << QRect(256, 259, 129, 41) << "试听并保存";
        QTest::newRow("about") << "dcButton4" << "Frm" << QRect(384, 259, 97, 41) << "关于";
        QTest::newRow("browse") << "cmdBrowseS" << "FM(0)" << QRect(120, 72, 257, 129) << "选择MP3文件...";
        QTest::newRow("reselect") << "dcButton1" << "FM(1)" << QRect(384, 24, 81, 25) << "重新选择";
        QTest::newRow("start") << "cmdQ" << "FM(1)" << QRect(16, 200, 169, 49) << "以此为起点(&S)";
        QTest::newRow("end") << "Command1" << "FM(1)" << QRect(184, 200, 193, 49) << "以此为终点(&P)";
        QTest::newRow("save") << "dcButton2" << "FM(2)" << QRect(16, 208, 153, 41) << "OK！保存";
        QTest::newRow("recut") << "dcButton3" << "FM(2)" << QRect(168, 208, 153, 41) << "NO！重新剪切";
        QTest::newRow("continue") << "dcButton5" << "FM(2)" << QRect(320, 208, 145, 41) << "继续剪切！";
    }

    void everyControlHasItsPlaceAndCaption()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        auto *button = h->child<QPushButton>(name);
        QVERIFY(button);
        QCOMPARE(button->parentWidget()->objectName(), parentName);
        QCOMPARE(button->geometry(), geometry);
        QCOMPARE(button->text(), caption);
    }

    void panesPlayersAndLabelsAreInPlace()
    {
        for (int i = 0; i < 3; ++i)
            QCOMPARE(h->child<QGroupBox>(QStringLiteral("FM(%1)").arg(i))->geometry(), QRect(0, 0, 481, 257));
        QCOMPARE(h->child<QGroupBox>("FM(1)")->title(), QStringLiteral("选择起点终点"));
        QCOMPARE(h->mdplay->parentWidget()->objectName(), QStringLiteral("FM(1)"));
        QCOMPARE(h->mdplay->geometry(), QRect(8, 56, 464, 141));
        QCOMPARE(h->mdst->parentWidget()->objectName(), QStringLiteral("FM(2)"));
        QCOMPARE(h->mdst->geometry(), QRect(0, 16, 480, 181));
        QCOMPARE(h->child<QLabel>("Label1")->text(), QStringLiteral("请选择MP3文件："));
        QCOMPARE(h->child<QLabel>("Label4")->text(), QStringLiteral("文件地址："));
        QVERIFY(h->child<QLabel>("lb")->text().isEmpty());
        QVERIFY(h->child<QLabel>("lb")->font().bold());
    }

    void songFontsFallBackToAnInstalledChineseFace()
    {
        const QFont font = h->child<QPushButton>("cmdBrowseS")->font();
        QCOMPARE(font.pointSizeF(), 15.75);
        const QFontInfo used(font);
        QVERIFY2(QFontMetrics(font).inFont(QChar(0x9009)), qPrintable(used.family()));   // 选
    }

    void sizeBoxesKeepTheirFirstEightCharacters()
    {
        auto *box = h->child<QLineEdit>("txtSplit(1)");
        box->setText(QStringLiteral("1234.56789012345"));
        QCOMPARE(box->text(), QStringLiteral("1234.567"));
    }

    void startUpRegistersBothLibrariesInOrderAndSetsTheFilter()
    {
        QCOMPARE(h->processes->started,
                 QStringList({QStringLiteral("regsvr32 comdlg32.ocx /s"), QStringLiteral("regsvr32 hmButton.ocx /s")}));
        QCOMPARE(h->cmmDlg->filter, QStringLiteral("MP3音频文件|*.mp3"));
        Harness second;
        QCOMPARE(second.processes->started.size(), 2);
    }

    void timerRefreshesTheDurationAndKeepsItWhenTheReadFails()
    {
        auto *timer = h->child<QTimer>("Timer1");
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 1000);

        h->mdplay->setUrl(QStringLiteral("/x.mp3"));
        h->mdplay->m_duration = 42.5;
        QTRY_COMPARE_WITH_TIMEOUT(h->frm->state().duration, 42.5, 2500);
        h->mdplay->m_duration = std::nullopt;
        QTest::qWait(1100);
        QCOMPARE(h->frm->state().duration, 42.5);
    }

    void everyMoveLeavesOnePaneAndItsIndicator()
    {
        for (int n : {2, 3, 1, 3, 2, 1, 2}) {
            h->frm->showStep(n);
            QCOMPARE(h->visibleStep(), n);
            QCOMPARE(h->enabledStep(), n);
        }
    }

    void stepIndicatorsDoNothing()
    {
        h->click("Cmdx(0)");
        h->click("Cmdx(1)");
        QCOMPARE(h->visibleStep(), 1);
        QVERIFY(h->cmmDlg->shown == 0);
    }

    void reselectGoesBackAndStopsThePlayer()
    {
        h->frm->showStep(2);
        h->mdplay->setUrl(QStringLiteral("/music/a.mp3"));
        h->click("dcButton1");
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(h->enabledStep(), 1);
        QCOMPARE(h->mdplay->stops, 1);
        QCOMPARE(h->mdplay->url(), QStringLiteral("/music/a.mp3"));
    }

    void continueUnloadsTheKeptPieceAndLeavesItOnDisk()
    {
        QTemporaryDir dir;
        const QString piece = dir.filePath(QStringLiteral("[铃声]1a.mp3"));
        writePatternFile(piece, 100);
        h->frm->showStep(3);
        h->mdst->setUrl(piece);
        h->click("dcButton5");
        QCOMPARE(h->visibleStep(), 1);
        QCOMPARE(h->enabledStep(), 1);
        QVERIFY(h->mdst->url().isEmpty());
        QVERIFY(QFile::exists(piece));
    }

private:
    std::unique_ptr<Harness> h;
};

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
