// A piece played in a loop through the real player, heard through a sink of the tests' own: its
// last sample must be followed by its first, as a phone repeats a ringtone, and the clock must
// stay within the piece.

#include "capturesink.h"
#include "gapless.h"
#include "platform/qtplayerengine.h"
#include "sessionrig.h"
#include "watchdog.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <cmath>

namespace {

using State = PlayerEngine::State;
constexpr int waitLimit = 10000;

} // namespace

class TestLooping : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
        QVERIFY(CaptureSink::install());
        QVERIFY(m_dir.isValid());
        // Noise: no stretch of it sounds like any other, so where each is heard tells the seam.
        m_piece = m_dir.filePath(QStringLiteral("loop.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(QStringLiteral(FIXTURE_DIR "/vbr-tones.mp3"), 2.3, 3.4, m_piece));
    }
    void init() { m_watchdog = std::make_unique<Watchdog>(QTest::currentTestFunction(), std::chrono::seconds(90)); }
    void cleanup() { m_watchdog.reset(); }

    void theLastSampleIsFollowedByTheFirst()
    {
        QtPlayerEngine engine;
        engine.setLooping(true);
        QSignalSpy states(&engine, &PlayerEngine::stateChanged);
        int passes = 0;
        double last = 0;
        double highest = 0;
        connect(&engine, &PlayerEngine::positionChanged, this, [&](double seconds) {
            if (seconds < last)
                ++passes;
            last = seconds;
            highest = std::max(highest, seconds);
        });
        engine.load(m_piece);
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), State::Playing, waitLimit);
        const double length = engine.duration().value_or(0);
        QVERIFY(length > 1.0 && length < 1.2);
        // Into the third pass: two seams heard.
        QTRY_VERIFY_WITH_TIMEOUT(passes >= 2 && last > 0.3, waitLimit);
        engine.pause();
        const CaptureSink::Sound heard = CaptureSink::sinceLastSeek();
        QCOMPARE(states.count(), 4);   // Loading, Ready, Playing, Paused: never Ended
        QVERIFY2(highest <= length, qPrintable(QString::number(highest)));

        // Where a stretch a tenth of a second into the piece is heard in the first pass, and in
        // the next: a pass after, to the sample, when nothing lies between them.
        const DecodedSound piece = decodeMp3(m_piece);
        QVERIFY(piece.problems.isEmpty());
        QCOMPARE(heard.channels, piece.channels);
        const qsizetype into = piece.rate / 10;
        const auto first = CaptureSink::whereHeard(heard, piece, into, into, piece.rate / 10);
        QVERIFY(first);
        const qsizetype seamless = *first + piece.length();
        const auto second = CaptureSink::whereHeard(heard, piece, into, seamless, piece.rate / 2);
        QVERIFY(second);
        const qsizetype gap = *second - seamless;
        qInfo("looping: %lld samples (%.2f ms) between the piece's last sample and its first",
              qint64(gap), 1000.0 * double(gap) / piece.rate);
        QVERIFY(std::abs(gap) <= piece.rate / 100);
        // What the seam itself plays is the piece's last sample and then its first.
        const auto end = CaptureSink::whereHeard(heard, piece, piece.length() - into, *second - 2 * into, 0);
        QVERIFY2(end, "the piece's last tenth of a second is not heard right before its start");

        // Looping turned off: it plays to the end of the pass and ends there.
        engine.setLooping(false);
        engine.play();
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), State::Ended, waitLimit);
        QCOMPARE(engine.position(), engine.duration());
    }

    // Qt's own looping seeks back at the end, which flushes the player: the silence it leaves is
    // a figure for the notes, measured the same way.
    void qtsOwnLoopingForComparison()
    {
        QMediaPlayer player;
        QAudioOutput audio;
        player.setAudioOutput(&audio);
        player.setLoops(QMediaPlayer::Infinite);
        player.setSource(QUrl::fromLocalFile(m_piece));
        player.play();
        // Any flush before is the player's start; the loop's comes at the end of the pass.
        QTRY_VERIFY_WITH_TIMEOUT(player.position() > 300, waitLimit);
        const std::optional<double> before = CaptureSink::silenceAtLastFlush();
        QTRY_VERIFY_WITH_TIMEOUT(CaptureSink::silenceAtLastFlush() != before, waitLimit);
        const double silence = *CaptureSink::silenceAtLastFlush();
        player.stop();
        qInfo("Qt's looping: %.1f ms of silence where the piece starts over", 1000.0 * silence);
        QVERIFY(silence > 0);
    }

private:
    QTemporaryDir m_dir;
    QString m_piece;
    std::unique_ptr<Watchdog> m_watchdog;
};

QTEST_MAIN(TestLooping)
#include "tst_looping.moc"
