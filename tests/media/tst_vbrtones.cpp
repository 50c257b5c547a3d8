// Songs and the pieces cut from them as the program's own player stack hears them: the tones
// where they belong, the piece's samples those of the song between the marks, and the piece's
// length as the player says it.

#include "gapless.h"
#include "sessionrig.h"
#include "tonecheck.h"

#include <QAudioOutput>
#include <QFile>
#include <QMediaPlayer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// Under half a frame: a piece a frame off shows.
constexpr double spanTolerance = 0.012;

QString fixture(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

} // namespace

class TestVbrTones : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aSongWithoutALameTagPlaysFromItsFirstDecodedSample_data();
    void aSongWithoutALameTagPlaysFromItsFirstDecodedSample();
    void everySecondHoldsItsTone_data();
    void everySecondHoldsItsTone();
    void pieceHoldsTheSongsSamplesBetweenTheMarks_data();
    void pieceHoldsTheSongsSamplesBetweenTheMarks();
    void playerTakesThePiecesLengthFromItsHeaderFrame_data();
    void playerTakesThePiecesLengthFromItsHeaderFrame();

private:
    void songs();
    void pieces();
    /// The piece cut from the row's song from its "from" to its "to"; empty when it cannot be cut.
    QString pieceOfThisRow();

    QTemporaryDir m_dir;
    int m_pieces = 0;
};

void TestVbrTones::initTestCase()
{
    // Debian ships the ffmpeg back end too; the program plays through GStreamer.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QVERIFY(m_dir.isValid());
}

void TestVbrTones::aSongWithoutALameTagPlaysFromItsFirstDecodedSample_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<qsizetype>("agreeFrom");
    for (const char *name : {"cbr128-stereo-44k1-noinfo.mp3", "xing-nolame-vbr-v4-44k1.mp3", "vbri-vbr-v4-44k1.mp3",
                             "shine-cbr128-stereo-44k1.mp3", "shine-cbr32-mono-22k05.mp3"})
        QTest::newRow(name) << QStringLiteral("songs/") + QString::fromLatin1(name) << qsizetype(0);
    // Its first frames take bytes it has not got: libmpg123 plays silence where one of them has
    // some of its bytes, GStreamer what it makes of them. The two agree from the eighth frame on.
    QTest::newRow("cut-elsewhere-vbr-v4-44k1.mp3") << QStringLiteral("songs/cut-elsewhere-vbr-v4-44k1.mp3")
                                                   << qsizetype(8 * 1152);
}

void TestVbrTones::aSongWithoutALameTagPlaysFromItsFirstDecodedSample()
{
    // The sample-exact tests take every sample libmpg123 decodes from such a song for its time 0
    // on: the player's own stack must hear the same, from the same first sample to the same last.
    QFETCH(QString, song);
    QFETCH(qsizetype, agreeFrom);
    int rate = 0;
    const auto heard = decodeMono(fixture(song), &rate);
    const DecodedSound decoded = decodeMp3(fixture(song), Trim::Raw);
    QVERIFY(heard && decoded.length() > 0);
    QCOMPARE(heard->size(), decoded.length());
    float worst = 0;
    for (qsizetype i = agreeFrom; i < heard->size(); ++i) {
        float mixed = 0;
        for (int c = 0; c < decoded.channels; ++c)
            mixed += decoded.samples[i * decoded.channels + c] / 32768.0f / float(decoded.channels);
        worst = std::max(worst, std::abs(heard->at(i) - mixed));
    }
    QVERIFY2(worst < 2e-4f, qPrintable(QString::number(worst)));
}

void TestVbrTones::songs()
{
    QTest::addColumn<QString>("song");
    QTest::newRow("VBR") << "vbr-tones.mp3";
    QTest::newRow("VBR behind a large ID3v2 tag") << "vbr-tones-id3.mp3";
    QTest::newRow("CBR") << "cbr-tones.mp3";
}

void TestVbrTones::everySecondHoldsItsTone_data()
{
    songs();
}

void TestVbrTones::everySecondHoldsItsTone()
{
    QFETCH(QString, song);
    int rate = 0;
    const auto sound = decodeMono(fixture(song), &rate);
    QVERIFY(sound);
    QCOMPARE(rate, 44100);
    // The middle of every second, whether the noise is there or not.
    const QList<int> tones = dominantTones(*sound, rate, 0.1);
    for (int k = 0; k < TonePlan::seconds; ++k) {
        QVERIFY(tones.size() > 10 * k + 5);
        QCOMPARE(tones[10 * k + 5], k);
    }
    const auto span = toneSpan(*sound, rate);
    QVERIFY(span);
    QVERIFY2(qAbs(span->from) < spanTolerance, qPrintable(QString::number(span->from)));
    QVERIFY2(qAbs(span->to - TonePlan::seconds) < spanTolerance, qPrintable(QString::number(span->to)));
}

void TestVbrTones::pieces()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::newRow("VBR, in the noise") << "vbr-tones.mp3" << 3.0 << 7.5;
    QTest::newRow("VBR, in the quiet") << "vbr-tones.mp3" << 9.0 << 14.0;
    QTest::newRow("VBR, across the border") << "vbr-tones.mp3" << 6.0 << 11.0;
    QTest::newRow("VBR, off the seconds") << "vbr-tones.mp3" << 2.37 << 12.61;
    QTest::newRow("VBR, from the start") << "vbr-tones.mp3" << 0.0 << 5.5;
    QTest::newRow("VBR, to the end") << "vbr-tones.mp3" << 10.5 << double(TonePlan::seconds);
    QTest::newRow("VBR behind ID3v2, across the border") << "vbr-tones-id3.mp3" << 6.0 << 11.0;
    QTest::newRow("CBR, across the border") << "cbr-tones.mp3" << 6.0 << 11.0;
}

void TestVbrTones::pieceHoldsTheSongsSamplesBetweenTheMarks_data()
{
    pieces();
}

void TestVbrTones::pieceHoldsTheSongsSamplesBetweenTheMarks()
{
    QFETCH(QString, song);
    QFETCH(double, from);
    QFETCH(double, to);
    const QString piece = pieceOfThisRow();
    QVERIFY(!piece.isEmpty());

    int rate = 0;
    const auto whole = decodeMono(fixture(song), &rate);
    const auto sound = decodeMono(piece, &rate);
    QVERIFY(whole && sound);
    const qsizetype first = qRound(from * rate);
    const qsizetype end = std::min<qsizetype>(qRound(to * rate), whole->size());
    QCOMPARE(sound->size(), end - first);
    float worst = 0;
    qsizetype worstAt = 0;
    for (qsizetype i = 0; i < sound->size(); ++i) {
        const float off = std::abs(sound->at(i) - whole->at(first + i));
        if (off > worst) {
            worst = off;
            worstAt = i;
        }
    }
    QVERIFY2(worst < 1e-4f, qPrintable(QStringLiteral("sample %1 of the piece is %2 off").arg(worstAt).arg(worst)));
}

void TestVbrTones::playerTakesThePiecesLengthFromItsHeaderFrame_data()
{
    pieces();
}

void TestVbrTones::playerTakesThePiecesLengthFromItsHeaderFrame()
{
    QFETCH(double, from);
    QFETCH(double, to);
    const QString piece = pieceOfThisRow();
    QVERIFY(!piece.isEmpty());

    // The player takes the length from the header frame's count of frames, less the delay and
    // padding its LAME tag says: a VBR piece's bytes would tell it nothing.
    QMediaPlayer player;
    player.setAudioOutput(new QAudioOutput(&player));
    player.setSource(QUrl::fromLocalFile(piece));
    QTRY_VERIFY_WITH_TIMEOUT(player.mediaStatus() == QMediaPlayer::LoadedMedia && player.duration() > 0, 10000);
    QVERIFY2(qAbs(player.duration() / 1000.0 - (to - from)) <= 0.002,
             qPrintable(QStringLiteral("player says %1 s, the marks are %2 s apart").arg(player.duration() / 1000.0).arg(to - from)));
}

QString TestVbrTones::pieceOfThisRow()
{
    QFETCH(QString, song);
    QFETCH(double, from);
    QFETCH(double, to);
    const QString path = m_dir.filePath(QStringLiteral("piece-%1.mp3").arg(++m_pieces));
    return cutAsTheCommandLineDoes(fixture(song), from, to, path) ? path : QString();
}

QTEST_MAIN(TestVbrTones)
#include "tst_vbrtones.moc"
