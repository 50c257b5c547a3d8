#include "fakeengine.h"
#include "gui/transportbar.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <memory>

namespace {

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000.0));
}

} // namespace

// The bar against a scripted engine: what it shows for each state, and which seeks the mouse
// on the slider asks for.
class TestTransportBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void followsTheState_data();
    void followsTheState();
    void clickOnTheGrooveSeeksOnceThere();
    void dragSeeksOnlyWhenLetGo();
    void heldHandleIgnoresThePosition();
    void newFileStartsTheTimeAtZero();
    void noSeekWithoutALength();
    void worksWithoutAndWithAnotherEngine();
    void eachButtonShowsItsOwnIcon();

private:
    QSlider *seek() const { return m_bar->findChild<QSlider *>(QStringLiteral("seek")); }
    QString text(const char *name) const { return m_bar->findChild<QLabel *>(QLatin1String(name))->text(); }
    bool enabled(const char *name) const { return m_bar->findChild<QToolButton *>(QLatin1String(name))->isEnabled(); }
    QPoint handleCentre() const;
    QPoint grooveAt(double fraction) const;

    std::unique_ptr<TransportBar> m_bar;
    FakeEngine *m_engine = nullptr;
    std::unique_ptr<QSignalSpy> m_seeks;
};

void TestTransportBar::init()
{
    m_bar = std::make_unique<TransportBar>(nullptr);
    m_engine = new FakeEngine(m_bar.get());
    m_bar->setEngine(m_engine);
    m_bar->resize(m_bar->sizeHint());
    m_bar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_bar.get()));
    m_seeks = std::make_unique<QSignalSpy>(m_engine, &PlayerEngine::positionChanged);
}

void TestTransportBar::cleanup()
{
    m_seeks.reset();
    m_bar.reset();
}

QPoint TestTransportBar::handleCentre() const
{
    QStyleOptionSlider option;
    option.initFrom(seek());
    option.minimum = seek()->minimum();
    option.maximum = seek()->maximum();
    option.sliderPosition = seek()->sliderPosition();
    option.sliderValue = seek()->value();
    option.orientation = Qt::Horizontal;
    return seek()->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, seek()).center();
}

QPoint TestTransportBar::grooveAt(double fraction) const
{
    return {int(seek()->width() * fraction), seek()->height() / 2};
}

void TestTransportBar::followsTheState_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("enabled");

    QTest::newRow("nothing") << "" << "未加载文件" << "";
    QTest::newRow("loading") << "slow" << "正在加载" << "";
    QTest::newRow("playing") << "load" << "正在播放" << "pause stop seek";
    QTest::newRow("paused") << "load pause" << "已暂停" << "play stop seek";
    QTest::newRow("stopped") << "load stop" << "已停止" << "play seek";
    QTest::newRow("ended") << "load end" << "播放完毕" << "play stop seek";
    QTest::newRow("failed") << "fail" << "无法播放此文件" << "";
    QTest::newRow("unloaded") << "load unload" << "未加载文件" << "";
}

void TestTransportBar::followsTheState()
{
    QFETCH(QString, script);
    QFETCH(QString, state);
    QFETCH(QString, enabled);

    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("slow")) {
            m_engine->loadDelayMs = 60000;
            m_engine->load(QStringLiteral("/music/slow.mp3"));
        } else if (step == QLatin1String("fail")) {
            m_engine->nextDuration = std::nullopt;
            m_engine->load(QStringLiteral("/music/bad.mp3"));
        } else if (step == QLatin1String("load")) {
            m_engine->load(QStringLiteral("/music/a song.mp3"));
        } else if (step == QLatin1String("pause")) {
            m_engine->pause();
        } else if (step == QLatin1String("stop")) {
            m_engine->stop();
        } else if (step == QLatin1String("end")) {
            m_engine->reachEnd();
        } else if (step == QLatin1String("unload")) {
            m_engine->load(QString());
        }
    }
    QCOMPARE(text("state"), state);
    QStringList on;
    for (const char *name : {"play", "pause", "stop"}) {
        if (this->enabled(name))
            on << QLatin1String(name);
    }
    if (seek()->isEnabled())
        on << QStringLiteral("seek");
    QCOMPARE(on.join(QLatin1Char(' ')), enabled);
    QCOMPARE(m_bar->findChild<QLabel *>(QStringLiteral("fileName"))->isVisibleTo(m_bar.get()),
             !m_engine->source().isEmpty());
}

void TestTransportBar::clickOnTheGrooveSeeksOnceThere()
{
    m_engine->load(QStringLiteral("/music/a.mp3"));
    QTest::mouseClick(seek(), Qt::LeftButton, {}, grooveAt(0.75));
    QCOMPARE(m_seeks->size(), 1);
    QVERIFY2(qAbs(m_engine->position().value() - 135) < 5, qPrintable(QString::number(*m_engine->position())));
    QVERIFY(text("time").startsWith(QStringLiteral("2:1")));
}

void TestTransportBar::dragSeeksOnlyWhenLetGo()
{
    m_engine->load(QStringLiteral("/music/a.mp3"));
    const QPoint from = handleCentre();
    QTest::mousePress(seek(), Qt::LeftButton, {}, from);
    QVERIFY(seek()->isSliderDown());
    for (int dx = 10; dx <= 200; dx += 10) {
        QMouseEvent move(QEvent::MouseMove, from + QPoint(dx, 0), seek()->mapToGlobal(from + QPoint(dx, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(seek(), &move);
    }
    QCOMPARE(m_seeks->size(), 0);
    QVERIFY(seek()->sliderPosition() > 0);
    QTest::mouseRelease(seek(), Qt::LeftButton, {}, from + QPoint(200, 0));
    QCOMPARE(m_seeks->size(), 1);
    QCOMPARE(milliseconds(m_seeks->at(0).at(0).toDouble()), seek()->value());
}

void TestTransportBar::heldHandleIgnoresThePosition()
{
    m_engine->load(QStringLiteral("/music/a.mp3"));
    m_engine->moveTo(30);
    QCOMPARE(seek()->value(), 30000);
    QTest::mousePress(seek(), Qt::LeftButton, {}, handleCentre());
    m_engine->moveTo(31);
    m_engine->moveTo(32);
    QCOMPARE(seek()->value(), 30000);
    QVERIFY(text("time").startsWith(QStringLiteral("0:30.0 /")));
    QTest::mouseRelease(seek(), Qt::LeftButton, {}, handleCentre());
    m_engine->moveTo(33);
    QCOMPARE(seek()->value(), 33000);
}

void TestTransportBar::newFileStartsTheTimeAtZero()
{
    m_engine->load(QStringLiteral("/music/a.mp3"));
    m_engine->moveTo(90);
    QCOMPARE(text("time"), QStringLiteral("1:30.0 / 3:00.0"));
    // Tenths, as the marks are written.
    m_engine->moveTo(83.27);
    QCOMPARE(text("time"), QStringLiteral("1:23.2 / 3:00.0"));

    m_engine->loadDelayMs = 60000;
    m_engine->load(QStringLiteral("/music/b.mp3"));
    QCOMPARE(seek()->value(), 0);
    QCOMPARE(text("time"), QStringLiteral("0:00.0 / 0:00.0"));
    QCOMPARE(text("fileName"), QStringLiteral("b.mp3"));

    m_engine->loadDelayMs = 0;
    m_engine->nextDuration = 20.0;
    m_engine->load(QStringLiteral("/music/c.mp3"));
    QCOMPARE(seek()->value(), 0);
    QCOMPARE(seek()->maximum(), 20000);
    QCOMPARE(text("time"), QStringLiteral("0:00.0 / 0:20.0"));
}

void TestTransportBar::noSeekWithoutALength()
{
    m_engine->loadDelayMs = 60000;
    m_engine->load(QStringLiteral("/music/a.mp3"));
    QTest::mouseClick(seek(), Qt::LeftButton, {}, grooveAt(0.5));
    QTest::keyClick(seek(), Qt::Key_PageUp);
    QCOMPARE(m_seeks->size(), 0);
    QCOMPARE(m_engine->state(), PlayerEngine::State::Loading);
}

void TestTransportBar::worksWithoutAndWithAnotherEngine()
{
    m_engine->load(QStringLiteral("/music/a.mp3"));
    m_engine->moveTo(60);

    m_bar->setEngine(nullptr);
    QCOMPARE(text("state"), QStringLiteral("未加载文件"));
    QCOMPARE(text("time"), QStringLiteral("0:00.0 / 0:00.0"));
    for (const char *name : {"play", "pause", "stop"})
        QTest::mouseClick(m_bar->findChild<QToolButton *>(QLatin1String(name)), Qt::LeftButton);
    QTest::mouseClick(seek(), Qt::LeftButton, {}, grooveAt(0.5));

    auto *other = new FakeEngine(m_bar.get());
    other->nextDuration = 10.0;
    other->load(QStringLiteral("/music/other.mp3"));
    other->pause();
    m_bar->setEngine(other);
    QCOMPARE(text("state"), QStringLiteral("已暂停"));
    QCOMPARE(text("fileName"), QStringLiteral("other.mp3"));
    QCOMPARE(text("time"), QStringLiteral("0:00.0 / 0:10.0"));

    // The engine left behind no longer reaches the bar.
    m_engine->moveTo(120);
    m_engine->reachEnd();
    QCOMPARE(text("state"), QStringLiteral("已暂停"));
    QTest::mouseClick(m_bar->findChild<QToolButton *>(QStringLiteral("play")), Qt::LeftButton);
    QCOMPARE(other->state(), PlayerEngine::State::Playing);

    delete other;
    QCOMPARE(text("state"), QStringLiteral("未加载文件"));
}

QTEST_MAIN(TestTransportBar)
#include "tst_transportbar.moc"

void TestTransportBar::eachButtonShowsItsOwnIcon()
{
    QList<QImage> drawn;
    for (const char *name : {"play", "pause", "stop"}) {
        const QImage image = m_bar->findChild<QToolButton *>(QLatin1String(name))->icon().pixmap(18).toImage();
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY2(inked > 20, name);
        QVERIFY2(!drawn.contains(image), name);
        drawn << image;
    }
}
