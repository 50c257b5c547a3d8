// The song's time through the real window and the real player, on songs a player that goes by
// bytes gets wrong: one whose damaged frames take no time, one of variable bit rate without a
// Xing frame. What is heard after a seek must be what is marked there, and the length shown and
// reached by End must be the frames' own. The player is heard through a sink of the tests' own.

#include "capturesink.h"
#include "core/numbertext.h"
#include "core/pathrules.h"
#include "engine/songmap.h"
#include "gapless.h"
#include "harness.h"
#include "watchdog.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <chrono>

namespace {

constexpr int waitLimit = 8000;
const QString fixtures = QStringLiteral(FIXTURE_DIR "/");

} // namespace

class TestSongTime : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
        QVERIFY(CaptureSink::install());
    }
    void init()
    {
        watchdog = std::make_unique<Watchdog>(QTest::currentTestFunction(), std::chrono::seconds(240));
        h = std::make_unique<Harness>(Harness::Players::Real);
        QVERIFY(dir.isValid());
    }
    void cleanup()
    {
        h.reset();
        watchdog.reset();
    }

    void whatIsHeardAfterASeekIsWhatIsMarked_data() { songs(); }
    void whatIsHeardAfterASeekIsWhatIsMarked()
    {
        QFETCH(QString, fixture);
        QFETCH(double, seekTo);
        const QString source = fixtures + fixture;
        const QString piece = dir.filePath(fixture);
        h->session->setPieceName(piece);
        h->choose(source);
        playing();

        pause();
        h->song->seek(seekTo);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(h->song->position().value_or(-1) - seekTo) < 0.001, waitLimit);
        h->click(QStringLiteral("cmdQ"));
        press(QStringLiteral("play"));
        QTRY_VERIFY_WITH_TIMEOUT(h->song->position().value_or(0) >= seekTo + 0.5, waitLimit);
        pause();
        const CaptureSink::Sound heard = CaptureSink::sinceLastSeek();
        QSignalSpy ended(h->session.get(), &CutSession::cutEnded);
        h->click(QStringLiteral("Command1"));
        QVERIFY2(h->prompts.told.isEmpty(), qPrintable(h->prompts.told.value(0).text));
        QVERIFY(ended.wait(waitLimit) && ended.at(0).at(0).toBool());

        // The piece begins with the sound the player played from the seek on, within a frame.
        const DecodedSound cut = decodeMp3(piece);
        const auto map = scanSong(fileSystemPath(source));
        QVERIFY(map);
        const auto offset = CaptureSink::whereHeard(heard, cut, 0, 0, 2 * map->samplesPerFrame);
        QVERIFY2(offset, qPrintable(QStringLiteral("the piece's sound is nowhere near the start of the %1 s heard")
                                        .arg(double(heard.samples.size()) / heard.channels / heard.rate)));
        qInfo("the piece begins %lld samples into what was heard after the seek", qint64(*offset));
        QVERIFY(*offset <= map->samplesPerFrame);
    }

    void theLengthIsTheFramesOwn_data() { songs(); }
    void theLengthIsTheFramesOwn()
    {
        QFETCH(QString, fixture);
        const QString source = fixtures + fixture;
        h->session->setPieceName(dir.filePath(fixture));
        const auto map = scanSong(fileSystemPath(source));
        QVERIFY(map);
        const double length = map->duration();
        h->choose(source);
        playing();

        // Shown as the frames count it from the start, and it does not waver while playing.
        auto *time = h->child<QWidget>(QStringLiteral("MDplay"))->findChild<QLabel *>(QStringLiteral("time"));
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(time->text().endsWith(QStringLiteral(" / ") + clockText(length)),
                     qPrintable(time->text() + QStringLiteral(", frames: ") + clockText(length)));
            QTest::qWait(300);
        }

        // End goes to the end of the frames, Home to their start, and a mark taken at the end cuts.
        pause();
        h->song->seek(length - 2);
        QTRY_VERIFY_WITH_TIMEOUT(h->song->position().value_or(0) > length - 2.1, waitLimit);
        h->click(QStringLiteral("cmdQ"));
        auto *wave = h->child<QWidget>(QStringLiteral("waveform"));
        wave->setFocus();
        QTest::keyClick(wave, Qt::Key_Home);
        QTRY_COMPARE_WITH_TIMEOUT(h->song->position().value_or(-1), 0.0, waitLimit);
        QTest::keyClick(wave, Qt::Key_End);
        const double frame = double(map->samplesPerFrame) / map->sampleRate();
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(h->song->position().value_or(0) - length) < frame,
                                  qPrintable(QString::number(h->song->position().value_or(-1))), waitLimit);
        QSignalSpy ended(h->session.get(), &CutSession::cutEnded);
        h->click(QStringLiteral("Command1"));
        QVERIFY2(h->prompts.told.isEmpty(), qPrintable(h->prompts.told.value(0).text));
        QVERIFY(ended.wait(waitLimit) && ended.at(0).at(0).toBool());
    }

private:
    static void songs()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<double>("seekTo");
        // Far enough in that a seek goes by bytes: GStreamer finds nearer places frame by frame.
        QTest::newRow("damaged CBR") << QStringLiteral("damaged-cbr128.mp3") << 22.5;
        QTest::newRow("VBR without Xing") << QStringLiteral("vbr-quiet-loud-noxing.mp3") << 24.0;
    }
    void press(const QString &button)
    {
        QTest::mouseClick(h->child<QWidget>(QStringLiteral("MDplay"))->findChild<QToolButton *>(button), Qt::LeftButton);
    }
    void playing()
    {
        QTRY_VERIFY_WITH_TIMEOUT(h->song->duration() && h->song->position().value_or(0) > 0.05, waitLimit);
    }
    void pause()
    {
        press(QStringLiteral("pause"));
        QCOMPARE(h->song->state(), PlayerEngine::State::Paused);
    }

    std::unique_ptr<Watchdog> watchdog;
    std::unique_ptr<Harness> h;
    QTemporaryDir dir;
};

QTEST_MAIN(TestSongTime)
#include "tst_songtime.moc"
