// The waveform over a scripted engine: where a click and the keys put the position, how the wheel
// zooms; and in the window, that the marks drawn are the session's.

#include "fakeengine.h"
#include "gui/pieceview.h"
#include "gui/transportbar.h"
#include "gui/waveformview.h"
#include "harness.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <memory>

namespace {

const QColor startColour(0xf0, 0xc0, 0x5a);

/// The columns of \a view drawn in the start mark's colour, along a row below its flag.
QList<int> startMarkColumns(WaveformView *view)
{
    const QImage image = view->grab().toImage();
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, image.height() / 4) == startColour)
            columns << x;
    }
    return columns;
}

/// Turns the mouse wheel over \a widget by \a notches, away from the user for positive ones.
void turnWheel(QWidget *widget, int notches)
{
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestWaveformView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clickSeeksThere_data();
    void clickSeeksThere();
    void keysMoveThePosition_data();
    void keysMoveThePosition();
    void spacePlaysAndPauses();
    void zoomsAroundThePosition();
    void zoomsInToTenthsOnALongSong_data();
    void zoomsInToTenthsOnALongSong();
    void zoomedViewFollowsThePosition();
    void marksDrawnAreTheSessions();

private:
    std::unique_ptr<WaveformView> m_view;
    FakeEngine *m_engine = nullptr;
};

void TestWaveformView::init()
{
    m_view = std::make_unique<WaveformView>(nullptr);
    m_engine = new FakeEngine(m_view.get());
    m_view->setEngine(m_engine);
    m_view->resize(400, 60);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_engine->load(QStringLiteral("/music/a.mp3"));
    m_engine->pause();
}

void TestWaveformView::cleanup()
{
    m_view.reset();
}

void TestWaveformView::clickSeeksThere_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<double>("seconds");
    QTest::newRow("left edge") << 0 << 0.0;
    QTest::newRow("a quarter in") << 100 << 45.0;
    QTest::newRow("right edge") << 399 << 179.55;
}

void TestWaveformView::clickSeeksThere()
{
    QFETCH(int, x);
    QFETCH(double, seconds);
    m_engine->moveTo(90);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(x, 30));
    QCOMPARE(m_engine->position(), seconds);
    // Putting the cursor somewhere is not pressing play.
    QCOMPARE(m_engine->state(), PlayerEngine::State::Paused);
    QVERIFY(m_view->hasFocus());
}

void TestWaveformView::keysMoveThePosition_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<double>("to");

    QTest::newRow("→ to the next tenth") << 12.345 << Qt::Key_Right << false << 12.4;
    QTest::newRow("← to the last tenth") << 12.345 << Qt::Key_Left << false << 12.3;
    QTest::newRow("→ from a tenth") << 12.4 << Qt::Key_Right << false << 12.5;
    QTest::newRow("Shift+→ to the next second") << 12.345 << Qt::Key_Right << true << 13.0;
    QTest::newRow("Shift+← to the last second") << 12.345 << Qt::Key_Left << true << 12.0;
    QTest::newRow("← at the start") << 0.0 << Qt::Key_Left << false << 0.0;
    QTest::newRow("→ at the end") << 180.0 << Qt::Key_Right << false << 180.0;
    QTest::newRow("Home") << 50.0 << Qt::Key_Home << false << 0.0;
    QTest::newRow("End") << 50.0 << Qt::Key_End << false << 180.0;
}

void TestWaveformView::keysMoveThePosition()
{
    QFETCH(double, from);
    QFETCH(Qt::Key, key);
    QFETCH(bool, shift);
    QFETCH(double, to);

    m_engine->moveTo(from);
    m_view->setFocus();
    QTest::keyClick(m_view.get(), key, shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(m_engine->position(), to);
    QCOMPARE(m_engine->state(), PlayerEngine::State::Paused);
}

void TestWaveformView::spacePlaysAndPauses()
{
    m_view->setFocus();
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QCOMPARE(m_engine->state(), PlayerEngine::State::Playing);
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QCOMPARE(m_engine->state(), PlayerEngine::State::Paused);
    m_engine->reachEnd();
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QCOMPARE(m_engine->state(), PlayerEngine::State::Playing);
}

void TestWaveformView::zoomsAroundThePosition()
{
    m_engine->moveTo(45);
    // Three notches in: an eighth of the song, the position a quarter of the way along as before.
    turnWheel(m_view.get(), 3);
    QCOMPARE(m_view->shown(), (TimeWindow{39.375, 61.875}));
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(100, 30));
    QCOMPARE(m_engine->position(), 45.0);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(300, 30));
    QCOMPARE(m_engine->position(), 56.25);

    QTest::keyClick(m_view.get(), Qt::Key_Minus);
    QCOMPARE(m_view->shown().span(), 45.0);
    QTest::keyClick(m_view.get(), Qt::Key_Plus);
    QCOMPARE(m_view->shown().span(), 22.5);
    turnWheel(m_view.get(), -5);
    QCOMPARE(m_view->shown(), (TimeWindow{0, 180}));
}

void TestWaveformView::zoomsInToTenthsOnALongSong_data()
{
    QTest::addColumn<double>("length");
    QTest::newRow("three minutes") << 180.0;
    QTest::newRow("four hours") << 4 * 3600.0;
}

void TestWaveformView::zoomsInToTenthsOnALongSong()
{
    QFETCH(double, length);
    m_engine->nextDuration = length;
    m_engine->load(QStringLiteral("/music/long.mp3"));
    m_engine->moveTo(length / 3);
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(m_view.get(), Qt::Key_Plus);
    const double pixelsPerTenth = m_view->width() / m_view->shown().span() / 10;
    QVERIFY2(pixelsPerTenth >= 4 && pixelsPerTenth <= 10, qPrintable(QString::number(pixelsPerTenth)));
    QVERIFY(m_view->shown().from < length / 3 && m_view->shown().to > length / 3);
}

void TestWaveformView::zoomedViewFollowsThePosition()
{
    m_engine->moveTo(10);
    QTest::keyClick(m_view.get(), Qt::Key_Plus);
    QTest::keyClick(m_view.get(), Qt::Key_Plus);
    const double span = m_view->shown().span();
    for (const double at : {50.0, 170.0, 3.0}) {
        m_engine->moveTo(at);
        QVERIFY(m_view->shown().from <= at && m_view->shown().to >= at);
        QCOMPARE(m_view->shown().span(), span);
    }
    // Another file starts with all of it shown.
    m_engine->load(QStringLiteral("/music/b.mp3"));
    QCOMPARE(m_view->shown(), (TimeWindow{0, 180}));
}

void TestWaveformView::marksDrawnAreTheSessions()
{
    // Five seconds of tone, noise and tone, decoded for real behind fake players.
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/cbr128-stereo-44k1-info.mp3"), song));
    Harness h;
    h.fakeSong->nextDuration = 5.0;
    h.choose(song);
    auto *view = h.child<TransportBar>(QStringLiteral("MDplay"))->findChild<WaveformView *>(QStringLiteral("waveform"));
    QTRY_COMPARE_WITH_TIMEOUT(view->length(), 5.0, 30000);
    const auto xOf = [&](double seconds) { return int(seconds / 5.0 * view->width()); };
    const auto near = [](const QList<int> &columns, int x) {
        return !columns.isEmpty() && columns.first() >= x - 1 && columns.last() <= x + 1;
    };
    QVERIFY(startMarkColumns(view).isEmpty());

    h.markAt(2.0);
    QVERIFY2(near(startMarkColumns(view), xOf(2.0)), qPrintable(QDebug::toString(startMarkColumns(view))));
    QVERIFY(view->accessibleDescription().startsWith(QStringLiteral("起点 0:02.0。")));

    QVERIFY(h.cutAt(4.0));
    // The piece shows between its marks, in the song's own peaks: no second decode draws it.
    auto *piece = h.child<PieceView>(QStringLiteral("pieceView"));
    QVERIFY(!h.child<TransportBar>(QStringLiteral("MDst"))->findChild<WaveformView *>());
    QCOMPARE(*piece->shownPiece(), (TimeWindow{2.0, 4.0}));
    QCOMPARE(piece->shownSong(), (TimeWindow{0.0, 5.0}));
    QVERIFY2(piece->accessibleDescription().startsWith(QStringLiteral("起点 0:02.0　终点 0:04.0。")), qPrintable(piece->accessibleDescription()));
    const QImage pieceImage = piece->grab().toImage();
    const QColor wave = waveColour(piece->palette());
    const auto waveRows = [&](double seconds) {
        int rows = 0;
        // Inside the frame the focus draws.
        for (int y = 1; y < pieceImage.height() - 1; ++y)
            rows += pieceImage.pixel(int(seconds / 5.0 * pieceImage.width()), y) == wave.rgb();
        return rows;
    };
    QVERIFY(waveRows(3.0) > 0);
    QCOMPARE(waveRows(4.5), 0);

    // Back to marking: the stretch kept is shaded, and a new start moves the start line alone.
    h.session->throwAway();
    h.markAt(1.0);
    QVERIFY(near(startMarkColumns(view), xOf(1.0)));
    QVERIFY2(view->accessibleDescription().startsWith(QStringLiteral("起点 0:01.0　上次剪切 0:02.0–0:04.0。")),
             qPrintable(view->accessibleDescription()));
    const QImage image = view->grab().toImage();
    const int y = 3;
    const QColor outside = image.pixelColor(xOf(1.5), y);
    QCOMPARE(image.pixelColor(xOf(4.5), y), outside);
    QVERIFY(image.pixelColor(xOf(2.5), y) != outside);
    QCOMPARE(image.pixelColor(xOf(3.5), y), image.pixelColor(xOf(2.5), y));

    // Another song shows none of this song's marks.
    const QString other = dir.filePath(QStringLiteral("other.mp3"));
    QVERIFY(QFile::copy(song, other));
    h.session->chooseAgain();
    h.choose(other);
    QTRY_COMPARE_WITH_TIMEOUT(view->length(), 5.0, 30000);
    QVERIFY(!view->accessibleDescription().contains(QStringLiteral("起点")));
    QVERIFY(startMarkColumns(view).isEmpty());
    const QImage otherImage = view->grab().toImage();
    QCOMPARE(otherImage.pixelColor(xOf(2.5), y), otherImage.pixelColor(xOf(4.5), y));
}

QTEST_MAIN(TestWaveformView)
#include "tst_waveformview.moc"
