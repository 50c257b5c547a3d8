// Whether a piece is the song's sound from mark to mark: true pieces of every kind of song pass,
// faded ones too, and a piece that is off anywhere is caught and said where.

#include "core/pathrules.h"
#include "engine/gain.h"
#include "engine/piececheck.h"
#include "engine/pieceheader.h"
#include "sessionrig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(PieceCheck::Verdict)

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

/// Rewrites the encoder delay in the LAME tag of the piece at \a path, as a writer that counted
/// wrong would have written it, the tag's CRC made to fit again.
bool changeDelay(const QString &path, int by)
{
    const auto map = scanSong(fileSystemPath(path));
    if (!map || !map->encoderFrame || map->encoderFrame->lameTag.empty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const EncoderFrame &encoder = *map->encoderFrame;
    std::vector<std::uint8_t> frame(bytes.begin() + encoder.offset, bytes.begin() + encoder.offset + encoder.length);
    const int lame = lameTagOffset(*frameHeaderFrom(std::uint32_t(frame[0]) << 24 | frame[1] << 16 | frame[2] << 8 | frame[3]));
    // 12 bits of delay, then 12 of padding, from byte 21 of the tag; the music's CRC at 32.
    std::uint8_t *field = frame.data() + lame + 21;
    const int delay = (field[0] << 4 | field[1] >> 4) + by;
    field[0] = std::uint8_t(delay >> 4);
    field[1] = std::uint8_t((delay & 0xF) << 4 | (field[1] & 0xF));
    sealPieceHeader(frame, std::uint16_t(frame[std::size_t(lame + 32)] << 8 | frame[std::size_t(lame + 33)]));
    bytes.replace(qsizetype(encoder.offset), qsizetype(frame.size()), QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size())));
    return file.seek(0) && file.write(bytes) == bytes.size();
}

} // namespace

class TestPieceCheck : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void truePiecesAreExact_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<bool>("mappedAround");
        QTest::newRow("VBR 44.1 kHz") << "songs/vbr-v4-stereo-44k1.mp3" << 0.7 << 2.9 << false;
        QTest::newRow("VBR, mapped around the marks") << "songs/vbr-v4-stereo-44k1.mp3" << 0.7 << 2.9 << true;
        QTest::newRow("from the song's own start to its end") << "songs/vbr-v4-stereo-44k1.mp3" << 0.0 << 3.5 << false;
        QTest::newRow("no Info frame, from the start") << "songs/cbr128-stereo-44k1-noinfo.mp3" << 0.0 << 1.5 << false;
        QTest::newRow("MPEG-2.5 8 kHz, no reservoir") << "songs/cbr24-mono-8k-nores.mp3" << 0.5 << 3.0 << false;
        QTest::newRow("MPEG-2 22.05 kHz, reservoir far back") << "songs/cbr64-mono-22k05.mp3" << 1.0 << 2.5 << false;
        QTest::newRow("CRC-protected frames") << "crc/crc-cbr32-mono-11k025.mp3" << 0.4 << 2.2 << true;
        QTest::newRow("across junk between frames") << "songs/junk-cbr128-stereo-48k.mp3" << 1.0 << 2.5 << false;
        QTest::newRow("across damaged frames") << "damaged-cbr128.mp3" << 6.0 << 10.0 << false;
        QTest::newRow("first frames' data cut away") << "songs/cut-elsewhere-vbr-v4-44k1.mp3" << 0.0 << 2.0 << false;
    }
    void truePiecesAreExact()
    {
        QFETCH(QString, song);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(bool, mappedAround);
        const QString piece = m_dir.filePath(QStringLiteral("piece.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(fixture(song), from, to, piece));
        const auto path = fileSystemPath(fixture(song));
        const auto map = mappedAround ? mapSongFor(path, from, to) : scanSong(path);
        QVERIFY(map);
        const PieceCheck check = checkPiece(path, *map, from, to, fileSystemPath(piece));
        QCOMPARE(check.firstDifferentSample, -1);
        QCOMPARE(check.verdict, PieceCheck::Verdict::Exact);
        QCOMPARE(check.fadeInSamples + check.fadeOutSamples, 0);
        QCOMPARE(check.gainDb, 0.0);
        QCOMPARE(check.sampleRate, map->sampleRate());
    }

    // A fade lowers the gain of whole granules: those samples are the song's only made quieter,
    // and the check takes them as such while the rest must be exact.
    void fadedPiecesAreTheSongMadeQuieter_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("fadeIn");
        QTest::addColumn<double>("fadeOut");
        QTest::addColumn<bool>("maxVolume");
        // A quiet tone and faint noise, which a louder whole raises by many steps.
        const QString quiet = QStringLiteral("vbr-quiet-loud-noxing.mp3");
        QTest::newRow("fade in") << quiet << 3.0 << 8.5 << defaultFadeSeconds << 0.0 << false;
        QTest::newRow("fade out") << quiet << 3.0 << 8.5 << 0.0 << defaultFadeSeconds << false;
        QTest::newRow("both, and louder") << quiet << 3.0 << 8.5 << defaultFadeSeconds << defaultFadeSeconds << true;
        QTest::newRow("louder only") << quiet << 3.0 << 8.5 << 0.0 << 0.0 << true;
        // Few granules to a fade: large steps, whose blends are far from the song's shape.
        QTest::newRow("short fades at 8 kHz") << "songs/cbr24-mono-8k-nores.mp3" << 1.0 << 2.0 << 0.5 << 0.2 << true;
        QTest::newRow("fades cut short at 16 kHz") << "crc/crc-vbr-v6-stereo-16k.mp3" << 0.5 << 1.0 << 1.5 << 1.5 << false;
    }
    void fadedPiecesAreTheSongMadeQuieter()
    {
        QFETCH(QString, song);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, fadeIn);
        QFETCH(double, fadeOut);
        QFETCH(bool, maxVolume);
        const QString path = fixture(song);
        const QString piece = m_dir.filePath(QStringLiteral("faded.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(path, from, to, piece));
        GainChange change;
        change.fadeInSeconds = fadeIn;
        change.fadeOutSeconds = fadeOut;
        change.maxVolume = maxVolume;
        QVERIFY(!applyGain(fileSystemPath(piece), change));
        const auto map = scanSong(fileSystemPath(path));
        QVERIFY(map);
        const PieceCheck check = checkPiece(fileSystemPath(path), *map, from, to, fileSystemPath(piece));
        QCOMPARE(check.firstDifferentSample, -1);
        QCOMPARE(check.verdict, PieceCheck::Verdict::Exact);
        // Each fade reaches no further than it lasts, give or take a granule or two where its last
        // step blends; that step comes a little before its end.
        const double rate = check.sampleRate;
        const std::int64_t samples = map->sampleAt(to) - map->sampleAt(from);
        for (const auto &[reached, asked] : {std::pair(check.fadeInSamples, fadeIn), std::pair(check.fadeOutSamples, fadeOut)}) {
            const double lasts = double(fadeSamples(asked, samples, int(rate)));
            QVERIFY2(lasts == 0 ? reached == 0 : reached > lasts * 0.6 && reached <= lasts + 2 * 576,
                     qPrintable(QStringLiteral("%1 of %2 samples").arg(reached).arg(lasts)));
        }
        QCOMPARE(check.gainDb > 0, maxVolume);
    }

    void faultsAreFound_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<qint64>("near");
        QTest::newRow("LAME tag's delay a frame too long") << "delay+1152" << qint64(0);
        QTest::newRow("LAME tag's delay a sample short") << "delay-1" << qint64(0);
        QTest::newRow("checked against a mark 1 ms later") << "later" << qint64(0);
        QTest::newRow("a frame's bytes garbled mid-way") << "garbled" << qint64(44100);
    }
    void faultsAreFound()
    {
        QFETCH(QString, fault);
        QFETCH(qint64, near);
        const QString song = fixture(QStringLiteral("songs/vbr-v4-stereo-44k1.mp3"));
        const QString piece = m_dir.filePath(QStringLiteral("fault.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 0.5, 2.5, piece));
        double from = 0.5;
        if (fault == QLatin1String("delay+1152"))
            QVERIFY(changeDelay(piece, 1152));
        else if (fault == QLatin1String("delay-1"))
            QVERIFY(changeDelay(piece, -1));
        else if (fault == QLatin1String("later"))
            from += 0.001;
        else {
            // The frames a second into the piece: their sound is no longer the song's there.
            QFile file(piece);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 at = file.size() / 2;
            QVERIFY(file.seek(at) && file.write(QByteArray(64, '\x55')) == 64);
        }
        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map);
        const PieceCheck check = checkPiece(fileSystemPath(song), *map, from, 2.5, fileSystemPath(piece));
        QCOMPARE(check.verdict, PieceCheck::Verdict::Mismatch);
        QVERIFY2(std::abs(check.firstDifferentSample - near) < 4410, qPrintable(QString::number(check.firstDifferentSample)));
    }

    void aLayerTwoPieceIsWholeFramesAroundTheMarks()
    {
        const QString song = fixture(QStringLiteral("layer2-stereo-44k1.mp3"));
        const QString piece = m_dir.filePath(QStringLiteral("layer2.mp3"));
        QVERIFY(cutAsTheCommandLineDoes(song, 0.5, 2.5, piece));
        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map);
        const PieceCheck check = checkPiece(fileSystemPath(song), *map, 0.5, 2.5, fileSystemPath(piece));
        QCOMPARE(check.verdict, PieceCheck::Verdict::Offset);
        // Frames of 1152 samples, 26.1 ms: the start one before its mark, the end one after.
        const double frameMs = 1152 * 1000.0 / 44100;
        QVERIFY2(check.startOffsetMs <= 0 && check.startOffsetMs > -frameMs, qPrintable(QString::number(check.startOffsetMs)));
        QVERIFY2(check.endOffsetMs >= 0 && check.endOffsetMs < frameMs, qPrintable(QString::number(check.endOffsetMs)));
        QCOMPARE(qRound(check.startOffsetMs * 44.1), int(map->sampleAt(0.5) / 1152 * 1152 - map->sampleAt(0.5)));
    }

    void whatCannotBeReadFails()
    {
        const QString song = fixture(QStringLiteral("songs/vbr-v4-stereo-44k1.mp3"));
        const auto map = scanSong(fileSystemPath(song));
        QVERIFY(map);
        const auto missing = fileSystemPath(m_dir.filePath(QStringLiteral("none.mp3")));
        QCOMPARE(checkPiece(fileSystemPath(song), *map, 0.5, 2.5, missing).verdict, PieceCheck::Verdict::Failed);
        // Marks that make no piece.
        QCOMPARE(checkPiece(fileSystemPath(song), *map, 2.5, 0.5, fileSystemPath(song)).verdict,
                 PieceCheck::Verdict::Failed);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestPieceCheck)
#include "tst_piececheck.moc"
