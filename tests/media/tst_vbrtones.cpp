// Pieces made of a song's frames, with the Xing frame written for them, as players hear them:
// where their sound comes from in the song, how long they decode, how long the player says they are.

#include "core/frametimeline.h"
#include "tonecheck.h"

#include <QAudioOutput>
#include <QFile>
#include <QMediaPlayer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

constexpr double frameSeconds = 1152.0 / 44100.0;
// lame's encoder delay and the decoder's: a piece carries no LAME tag that would have the
// decoder trim them, so its sound comes this much before its frames' times.
constexpr double pieceDelay = (576.0 + 529.0) / 44100.0;
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
    void everySecondHoldsItsTone_data();
    void everySecondHoldsItsTone();
    void pieceSoundsFromItsFrames_data();
    void pieceSoundsFromItsFrames();
    void playerTakesThePiecesLengthFromItsXingFrame_data();
    void playerTakesThePiecesLengthFromItsXingFrame();

private:
    void songs();
    void pieces();
    /// The frames of the row's song that hold the sound from its "from" to its "to", behind the
    /// Xing frame written for them, in a new file; an empty path when it cannot be made.
    struct Piece
    {
        QString path;
        FrameTimeline timeline;
        qsizetype first = 0;
        qsizetype end = 0;
    };
    Piece pieceOfThisRow();

    QTemporaryDir m_dir;
    int m_pieces = 0;
};

void TestVbrTones::initTestCase()
{
    // Debian ships the ffmpeg back end too; the program plays through GStreamer.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QVERIFY(m_dir.isValid());
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
    QTest::newRow("VBR, to the end") << "vbr-tones.mp3" << 10.5 << 16.1;
    QTest::newRow("VBR behind ID3v2, across the border") << "vbr-tones-id3.mp3" << 6.0 << 11.0;
    QTest::newRow("CBR, across the border") << "cbr-tones.mp3" << 6.0 << 11.0;
}

void TestVbrTones::pieceSoundsFromItsFrames_data()
{
    pieces();
}

void TestVbrTones::pieceSoundsFromItsFrames()
{
    const Piece piece = pieceOfThisRow();
    QVERIFY(!piece.path.isEmpty());
    const FrameTimeline *timeline = &piece.timeline;
    const qsizetype first = piece.first;
    const qsizetype end = piece.end;

    int rate = 0;
    const auto sound = decodeMono(piece.path, &rate);
    QVERIFY(sound);
    // Every frame decodes and the Xing frame does not: within a frame, as decoders may trim.
    const double want = double(end - first) * timeline->samplesPerFrame;
    QVERIFY2(qAbs(sound->size() - want) <= timeline->samplesPerFrame,
             qPrintable(QStringLiteral("%1 samples, want %2").arg(sound->size()).arg(want)));

    const auto span = toneSpan(*sound, rate);
    QVERIFY(span);
    const double wantFrom = timeline->frameTime(first) - pieceDelay;
    const double wantTo = timeline->frameTime(end) - pieceDelay;
    const QString where = QStringLiteral("sound %1..%2 s, frames %3..%4 s")
                              .arg(span->from, 0, 'f', 3).arg(span->to, 0, 'f', 3)
                              .arg(wantFrom, 0, 'f', 3).arg(wantTo, 0, 'f', 3);
    QVERIFY2(qAbs(span->from - wantFrom) < spanTolerance, qPrintable(where));
    QVERIFY2(qAbs(span->to - wantTo) < spanTolerance, qPrintable(where));
}

void TestVbrTones::playerTakesThePiecesLengthFromItsXingFrame_data()
{
    pieces();
}

void TestVbrTones::playerTakesThePiecesLengthFromItsXingFrame()
{
    const Piece piece = pieceOfThisRow();
    QVERIFY(!piece.path.isEmpty());
    const FrameTimeline *timeline = &piece.timeline;
    const qsizetype first = piece.first;
    const qsizetype end = piece.end;

    // The player takes the length from the Xing frame's count of frames: a VBR piece's bytes
    // would tell it nothing.
    QMediaPlayer player;
    player.setAudioOutput(new QAudioOutput(&player));
    player.setSource(QUrl::fromLocalFile(piece.path));
    QTRY_VERIFY_WITH_TIMEOUT(player.mediaStatus() == QMediaPlayer::LoadedMedia && player.duration() > 0, 10000);
    const double length = timeline->frameTime(end) - timeline->frameTime(first);
    QVERIFY2(qAbs(player.duration() / 1000.0 - length) <= 2 * frameSeconds,
             qPrintable(QStringLiteral("player says %1 s, the frames last %2 s").arg(player.duration() / 1000.0).arg(length)));
}

TestVbrTones::Piece TestVbrTones::pieceOfThisRow()
{
    QFETCH(QString, song);
    QFETCH(double, from);
    QFETCH(double, to);
    Piece piece;
    const auto timeline = scanFrameTimeline(fixture(song));
    if (!timeline)
        return piece;
    piece.timeline = *timeline;
    piece.first = timeline->frameAt(from);
    piece.end = std::min(timeline->frameAt(to) + 1, timeline->frameCount());

    QFile source(fixture(song));
    if (!source.open(QIODevice::ReadOnly) || !source.seek(timeline->frameOffsets[piece.first]))
        return piece;
    const QByteArray frames = source.read(timeline->frameOffsets[piece.end] - timeline->frameOffsets[piece.first]);
    const QString path = m_dir.filePath(QStringLiteral("piece-%1.mp3").arg(++m_pieces));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(xingFrameFor(*timeline, piece.first, piece.end) + frames) > 0)
        piece.path = path;
    return piece;
}

QTEST_MAIN(TestVbrTones)
#include "tst_vbrtones.moc"
