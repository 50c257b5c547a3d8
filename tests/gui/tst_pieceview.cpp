// Step three's piece in its song: where a drag and the keys ask its ends to go, and what waits
// while the piece is cut again.

#include "fakeengine.h"
#include "gui/pieceview.h"

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(PieceEnd)

namespace {

/// A piece from 5 s to 12.5 s of a 40 s song: the view shows 2 s to 15.5 s.
const TimeWindow piece{5.0, 12.5};
constexpr double songLength = 40.0;

} // namespace

class TestPieceView : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_view = std::make_unique<PieceView>(nullptr);
        m_view->resize(460, 60);
        m_view->showPiece(piece, songLength, false);
    }
    void cleanup() { m_view.reset(); }

    void endsStayInTheSongAndApart_data()
    {
        QTest::addColumn<PieceEnd>("end");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("until");
        QTest::newRow("start inside") << PieceEnd::Start << 6.0 << 6.0 << 12.5;
        QTest::newRow("start before the song") << PieceEnd::Start << -1.0 << 0.0 << 12.5;
        QTest::newRow("start onto the end") << PieceEnd::Start << 12.5 << 12.4 << 12.5;
        QTest::newRow("start past the end") << PieceEnd::Start << 30.0 << 12.4 << 12.5;
        QTest::newRow("end inside") << PieceEnd::End << 20.0 << 5.0 << 20.0;
        QTest::newRow("end before the start") << PieceEnd::End << 1.0 << 5.0 << 5.1;
        QTest::newRow("end past the song") << PieceEnd::End << 41.0 << 5.0 << 40.0;
    }
    void endsStayInTheSongAndApart()
    {
        QFETCH(PieceEnd, end);
        QFETCH(double, to);
        QFETCH(double, from);
        QFETCH(double, until);
        const TimeWindow moved = movedPiece(piece, end, to, songLength);
        QCOMPARE(moved.from, from);
        QCOMPARE(moved.to, until);
    }

    void theSongShowsAroundThePiece_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("shownFrom");
        QTest::addColumn<double>("shownTo");
        QTest::newRow("middle") << 5.0 << 12.5 << 2.0 << 15.5;
        QTest::newRow("at the song's start") << 1.0 << 4.0 << 0.0 << 7.0;
        QTest::newRow("at the song's end") << 30.0 << 39.0 << 27.0 << 40.0;
    }
    void theSongShowsAroundThePiece()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, shownFrom);
        QFETCH(double, shownTo);
        QCOMPARE(surroundingsOf({from, to}, songLength), (TimeWindow{shownFrom, shownTo}));
    }

    void aDraggedHandleAsksWhereItIsLetGo_data()
    {
        QTest::addColumn<double>("grab");
        QTest::addColumn<double>("letGo");
        QTest::addColumn<PieceEnd>("end");
        QTest::addColumn<double>("asked");
        QTest::newRow("start later") << 5.0 << 6.0 << PieceEnd::Start << 6.0;
        QTest::newRow("start earlier") << 5.0 << 2.5 << PieceEnd::Start << 2.5;
        QTest::newRow("end earlier") << 12.5 << 10.0 << PieceEnd::End << 10.0;
        QTest::newRow("start over the end") << 5.0 << 15.0 << PieceEnd::Start << 12.4;
        QTest::newRow("end over the start") << 12.5 << 2.0 << PieceEnd::End << 5.1;
    }
    void aDraggedHandleAsksWhereItIsLetGo()
    {
        QFETCH(double, grab);
        QFETCH(double, letGo);
        QFETCH(PieceEnd, end);
        QFETCH(double, asked);
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at(grab));
        QTest::mouseMove(m_view.get(), at(letGo));
        // Held, the handle shows where it is and the song stays still under it.
        QCOMPARE(m_view->shownSong(), (TimeWindow{2.0, 15.5}));
        QVERIFY(spy.isEmpty());
        QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, at(letGo));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].value<PieceEnd>(), end);
        // A pixel is 13.5 s / 460 wide.
        QVERIFY2(std::abs(spy[0][1].toDouble() - asked) < 0.03, qPrintable(QString::number(spy[0][1].toDouble())));
        QCOMPARE(m_view->focusedEnd(), end);
    }

    void escapePutsAHeldHandleBack()
    {
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at(12.5));
        QTest::mouseMove(m_view.get(), at(14.0));
        QTest::keyClick(m_view.get(), Qt::Key_Escape);
        QCOMPARE(*m_view->shownPiece(), piece);
        QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, at(14.0));
        QVERIFY(spy.isEmpty());
        QCOMPARE(*m_view->shownPiece(), piece);
    }

    void aHandleHeldWhileThePieceGoesAsksNothing()
    {
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        const QPoint to = at(6.0);
        QTest::mousePress(m_view.get(), Qt::LeftButton, {}, at(5.0));
        m_view->showPiece(std::nullopt, songLength, false);
        QTest::mouseMove(m_view.get(), to);
        QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, to);
        QVERIFY(spy.isEmpty());
        QVERIFY(!m_view->shownPiece());
    }

    void aPressAwayFromTheHandlesPutsThePiecesPositionThere()
    {
        FakeEngine engine;
        engine.load(QStringLiteral("piece.mp3"));
        m_view->setEngine(&engine);
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, at(9.0));
        QVERIFY(std::abs(*engine.position() - 4.0) < 0.03);
        QVERIFY(spy.isEmpty());
    }

    void keysMoveTheChosenEnd_data()
    {
        QTest::addColumn<int>("choose");
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<PieceEnd>("end");
        QTest::addColumn<double>("asked");
        QTest::newRow("start a tenth later") << 0 << int(Qt::Key_Right) << Qt::KeyboardModifiers() << PieceEnd::Start << 5.1;
        QTest::newRow("start a second earlier") << 0 << int(Qt::Key_Left) << Qt::KeyboardModifiers(Qt::ShiftModifier) << PieceEnd::Start << 4.0;
        QTest::newRow("end a tenth earlier") << int(Qt::Key_BracketRight) << int(Qt::Key_Left) << Qt::KeyboardModifiers() << PieceEnd::End << 12.4;
        QTest::newRow("end a second later") << int(Qt::Key_BracketRight) << int(Qt::Key_Right) << Qt::KeyboardModifiers(Qt::ShiftModifier) << PieceEnd::End << 13.0;
        QTest::newRow("back to the start") << int(Qt::Key_BracketLeft) << int(Qt::Key_Right) << Qt::KeyboardModifiers(Qt::ShiftModifier) << PieceEnd::Start << 6.0;
    }
    void keysMoveTheChosenEnd()
    {
        QFETCH(int, choose);
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(PieceEnd, end);
        QFETCH(double, asked);
        QTest::keyClick(m_view.get(), Qt::Key_BracketRight);
        if (choose)
            QTest::keyClick(m_view.get(), Qt::Key(choose));
        else
            QTest::keyClick(m_view.get(), Qt::Key_BracketLeft);
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        QTest::keyClick(m_view.get(), Qt::Key(key), modifiers);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].value<PieceEnd>(), end);
        QVERIFY2(std::abs(spy[0][1].toDouble() - asked) < 1e-9, qPrintable(QString::number(spy[0][1].toDouble())));
    }

    void aKeyAgainstTheOtherEndAsksNothing()
    {
        m_view->showPiece(TimeWindow{5.0, 5.1}, songLength, false);
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        QTest::keyClick(m_view.get(), Qt::Key_Right);
        QTest::keyClick(m_view.get(), Qt::Key_BracketRight);
        QTest::keyClick(m_view.get(), Qt::Key_Left);
        QVERIFY(spy.isEmpty());
        QCOMPARE(*m_view->shownPiece(), (TimeWindow{5.0, 5.1}));
    }

    void whileThePieceIsCutAgainTheKeysAddUpAndAskOnce()
    {
        QSignalSpy spy(m_view.get(), &PieceView::moveAsked);
        m_view->showPiece(piece, songLength, true);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(m_view.get(), Qt::Key_Right);
        QVERIFY(spy.isEmpty());
        QCOMPARE(m_view->shownPiece()->from, 5.3);
        // The cut that ran ends with the start it was asked for: the keys since ask once more.
        m_view->showPiece(TimeWindow{5.1, 12.5}, songLength, false);
        QVERIFY(spy.wait(1000));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][1].toDouble(), 5.3);
        QCOMPARE(m_view->shownPiece()->from, 5.3);
    }

    void aRefusedMoveShowsThePieceAsItIs()
    {
        QTest::keyClick(m_view.get(), Qt::Key_Left);
        QCOMPARE(m_view->shownPiece()->from, 4.9);
        m_view->showPiece(piece, songLength, false);
        QCOMPARE(*m_view->shownPiece(), piece);
        QVERIFY(m_view->accessibleDescription().startsWith(QStringLiteral("起点 0:05.0　终点 0:12.5。")));
    }

private:
    QPoint at(double seconds) const
    {
        const TimeWindow song = m_view->shownSong();
        return {int(std::lround((seconds - song.from) / song.span() * m_view->width())), m_view->height() / 2};
    }

    std::unique_ptr<PieceView> m_view;
};

QTEST_MAIN(TestPieceView)
#include "tst_pieceview.moc"
