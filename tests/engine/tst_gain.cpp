// Fades and loudness by the granules' global_gain, judged by what libmpg123 decodes from the
// changed piece beside what it decodes from the piece as cut.

#include "engine/gain.h"
#include "engine/pieceheader.h"
#include "engine/songmap.h"

#include "core/pathrules.h"
#include "corefakes.h"
#include "filesizelimit.h"
#include "gapless.h"
#include "sessionrig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

QString songPath(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

/// The songs the sample-exact tests cut, and those whose frames carry a CRC, as "folder/name".
QStringList songNames()
{
    QStringList names;
    for (const QString &folder : {QStringLiteral("songs"), QStringLiteral("crc")}) {
        for (const QString &name : QDir(songPath(folder)).entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name))
            names.append(folder + u'/' + name);
    }
    return names;
}

/// Where the pieces are cut from every song: 3.1 s, so that a fade of 1.5 s is held to a third.
constexpr double pieceFrom = 0.2;
constexpr double pieceTo = 3.3;
constexpr qsizetype granule = 576;
/// One step of global_gain, as a factor of amplitude: 1.505 dB.
const double oneStep = std::pow(2.0, 0.25);

/// RMS of \a n samples per channel from \a from, in dB of full scale.
double levelDb(const DecodedSound &sound, qsizetype from, qsizetype n)
{
    double sum = 0;
    const qsizetype begin = from * sound.channels;
    const qsizetype end = std::min(sound.samples.size(), (from + n) * sound.channels);
    for (qsizetype i = begin; i < end; ++i)
        sum += double(sound.samples[i]) * sound.samples[i];
    const double rms = end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
    return 20.0 * std::log10(std::max(rms, 1e-6) / 32768.0);
}

qint16 peakOf(const DecodedSound &sound)
{
    qint16 peak = 0;
    for (const qint16 value : sound.samples)
        peak = std::max<qint16>(peak, qint16(std::min(32767, std::abs(int(value)))));
    return peak;
}

/// A piece of \a song cut as the command line cuts it, and a copy of it changed by \a change.
struct Pieces
{
    QTemporaryDir dir;
    QString plain = dir.filePath(QStringLiteral("plain.mp3"));
    QString changed = dir.filePath(QStringLiteral("changed.mp3"));
    std::optional<CutError> problem;

    bool make(const QString &song, const GainChange &change, double from = pieceFrom, double to = pieceTo)
    {
        if (!cutAsTheCommandLineDoes(songPath(song), from, to, plain) || !QFile::copy(plain, changed))
            return false;
        problem = applyGain(fileSystemPath(changed), change);
        return !problem;
    }
    QString why() const
    {
        return problem ? QStringLiteral("%1 on %2").arg(int(problem->kind)).arg(QString::fromStdString(problem->path))
                       : QStringLiteral("the cut failed");
    }
};

/// The CRC-16 of a frame's protection, from the published description: polynomial 0x8005 from
/// 0xFFFF, highest bit first, over header bytes 2 and 3 and the side information.
quint16 frameCrc(const QByteArray &frame, int sideInfoSize)
{
    quint32 crc = 0xFFFF;
    const QByteArray covered = frame.mid(2, 2) + frame.mid(6, sideInfoSize);
    for (const char byte : covered) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (quint8(byte) >> bit)) & 1;
            crc = (crc << 1 & 0xFFFF) ^ (top ? 0x8005 : 0);
        }
    }
    return quint16(crc);
}

/// Frames of the piece at \a path whose CRC fails, and how many carry one.
std::pair<int, int> crcFailures(const QString &path)
{
    const QByteArray bytes = readAll(path);
    const auto map = scanSong(fileSystemPath(path));
    int failed = 0;
    int protectedFrames = 0;
    for (const SongFrame &frame : map->readFrames()) {
        const QByteArray whole = bytes.mid(frame.offset, frame.length);
        const auto header = frameHeaderFrom(bigEndian32(reinterpret_cast<const std::uint8_t *>(whole.constData())));
        if (!header->hasCrc)
            continue;
        ++protectedFrames;
        failed += frameCrc(whole, header->sideInfoSize()) != quint16(quint8(whole[4]) << 8 | quint8(whole[5])) ? 1 : 0;
    }
    return {failed, protectedFrames};
}

/// Whether the LAME tag of the piece at \a path holds the CRCs of the audio behind it and of itself.
bool lameCrcsHold(const QString &path)
{
    const QByteArray bytes = readAll(path);
    const auto map = scanSong(fileSystemPath(path));
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const qsizetype tag = bytes.indexOf("LAME", map->encoderFrame->offset) ;
    const std::uint16_t music = lameCrc(0, data + map->readFrames().front().offset, std::size_t(map->audioBytes()));
    const std::uint16_t own = lameCrc(0, data + map->encoderFrame->offset, std::size_t(tag + 34 - map->encoderFrame->offset));
    return (data[tag + 32] << 8 | data[tag + 33]) == music && (data[tag + 34] << 8 | data[tag + 35]) == own;
}

/// MPEG-1 frames at 48 kHz of layer I (288 kbit/s) or II (160 kbit/s), silent but for their headers.
QByteArray framesOfLayer(int layer)
{
    const char header[] = {char(0xFF), char(layer == 1 ? 0xFF : 0xFD), char(0x94), char(0x00)};
    QByteArray frame = QByteArray(header, 4) + QByteArray(layer == 1 ? 284 : 476, '\0');
    return frame.repeated(20);
}

} // namespace

class TestGain : public QObject
{
    Q_OBJECT
private slots:
    void fadesReachSilenceAndLeaveTheRestAlone_data();
    void fadesReachSilenceAndLeaveTheRestAlone();
    void loudnessRaisesEverySampleAlikeToJustBelowFullScale_data();
    void loudnessRaisesEverySampleAlikeToJustBelowFullScale();
    void fadedLoudnessRisesAsFarAsTheFadedPeakAllows_data();
    void fadedLoudnessRisesAsFarAsTheFadedPeakAllows();
    void protectedFramesAndTheLameTagStillPassTheirCrcs_data();
    void protectedFramesAndTheLameTagStillPassTheirCrcs();
    void aPieceTooShortForARampKeepsItsEnds();
    void aPieceOfASongThatChangesItsChannelsIsFadedAndTrimmed();
    void aPieceOfTwoFramesIsRaised();
    void whatCannotBeChangedStaysAsItWas_data();
    void whatCannotBeChangedStaysAsItWas();
};

void TestGain::fadesReachSilenceAndLeaveTheRestAlone_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<double>("fadeIn");
    QTest::addColumn<double>("fadeOut");
    QVERIFY2(songNames().size() > 10, "the songs are missing: build the fixtures target");
    for (const QString &song : songNames()) {
        QTest::addRow("%s in", qPrintable(song)) << song << 0.5 << 0.0;
        QTest::addRow("%s out", qPrintable(song)) << song << 0.0 << 0.5;
        QTest::addRow("%s both, a third each", qPrintable(song)) << song << defaultFadeSeconds << defaultFadeSeconds;
    }
}

void TestGain::fadesReachSilenceAndLeaveTheRestAlone()
{
    QFETCH(QString, song);
    QFETCH(double, fadeIn);
    QFETCH(double, fadeOut);
    Pieces pieces;
    QVERIFY2(pieces.make(song, {fadeIn, fadeOut, false}), qPrintable(pieces.why()));
    const DecodedSound before = decodeMp3(pieces.plain);
    const DecodedSound after = decodeMp3(pieces.changed);
    QVERIFY2(after.problems.isEmpty(), qPrintable(after.problems.join('\n')));
    QCOMPARE(after.length(), before.length());

    const qsizetype length = before.length();
    const qsizetype in = std::min<qsizetype>(std::llround(fadeIn * before.rate), length / 3);
    const qsizetype out = std::min<qsizetype>(std::llround(fadeOut * before.rate), length / 3);
    // The edges are silent: the first and last marked samples, not some padding beyond them.
    if (in > 0)
        QVERIFY2(levelDb(after, 0, granule) < -60, qPrintable(QString::number(levelDb(after, 0, granule))));
    if (out > 0)
        QVERIFY2(levelDb(after, length - granule, granule) < -60,
                 qPrintable(QString::number(levelDb(after, length - granule, granule))));

    // Granule by granule the level against the piece's own rises across the fade in and falls
    // across the fade out; a little slack for the windows' sound that overlapping granules share.
    const auto change = [&](qsizetype at) { return levelDb(after, at, granule) - levelDb(before, at, granule); };
    const double slack = 0.5;
    for (qsizetype at = granule; at + granule <= in; at += granule)
        QVERIFY2(change(at) >= change(at - granule) - slack, qPrintable(QStringLiteral("fade in at sample %1: %2 dB after %3 dB")
                                                                            .arg(at).arg(change(at)).arg(change(at - granule))));
    for (qsizetype at = length - out; at + 2 * granule <= length; at += granule)
        QVERIFY2(change(at + granule) <= change(at) + slack, qPrintable(QStringLiteral("fade out at sample %1: %2 dB after %3 dB")
                                                                             .arg(at).arg(change(at + granule)).arg(change(at))));
    // Half-way across, a fade is well on its way.
    if (in > 0)
        QVERIFY(change(in / 2) < -3);
    if (out > 0)
        QVERIFY(change(length - out / 2) < -3);

    const int ch = before.channels;
    QVERIFY(before.samples.mid(in * ch, (length - in - out) * ch) == after.samples.mid(in * ch, (length - in - out) * ch));
}

void TestGain::loudnessRaisesEverySampleAlikeToJustBelowFullScale_data()
{
    QTest::addColumn<QString>("song");
    for (const QString &song : songNames())
        QTest::newRow(qPrintable(song)) << song;
}

void TestGain::loudnessRaisesEverySampleAlikeToJustBelowFullScale()
{
    QFETCH(QString, song);
    Pieces pieces;
    QVERIFY2(pieces.make(song, {0, 0, true}), qPrintable(pieces.why()));
    const DecodedSound before = decodeMp3(pieces.plain);
    const DecodedSound after = decodeMp3(pieces.changed);
    QVERIFY2(after.problems.isEmpty(), qPrintable(after.problems.join('\n')));
    QCOMPARE(after.length(), before.length());

    // Within a step of full scale, and off the rails a clipped sample sticks to.
    const qint16 peak = peakOf(after);
    QVERIFY2(peak >= 32768 / oneStep && peak < 32767, qPrintable(QString::number(peak)));
    QVERIFY(!after.samples.contains(-32768));
    // Every granule by the same steps: every sample by the same factor, to the rounding of both.
    const int steps = int(std::lround(4 * std::log2(double(peak) / peakOf(before))));
    QVERIFY(steps > 0);
    const double factor = std::pow(oneStep, steps);
    int worst = 0;
    for (qsizetype i = 0; i < before.samples.size(); ++i)
        worst = std::max(worst, int(std::abs(after.samples[i] - factor * before.samples[i])));
    QVERIFY2(worst <= int(factor / 2) + 2, qPrintable(QStringLiteral("%1 steps; a sample strays by %2").arg(steps).arg(worst)));

    // A piece at full scale already is left as it is.
    const QByteArray raised = readAll(pieces.changed);
    QVERIFY(!applyGain(fileSystemPath(pieces.changed), {0, 0, true}));
    QVERIFY(readAll(pieces.changed) == raised);
}

void TestGain::fadedLoudnessRisesAsFarAsTheFadedPeakAllows_data()
{
    loudnessRaisesEverySampleAlikeToJustBelowFullScale_data();
}

void TestGain::fadedLoudnessRisesAsFarAsTheFadedPeakAllows()
{
    // The fades may cover the piece's loudest sound: what rises is the piece as faded.
    QFETCH(QString, song);
    Pieces pieces;
    QVERIFY2(pieces.make(song, {defaultFadeSeconds, defaultFadeSeconds, true}), qPrintable(pieces.why()));
    const DecodedSound after = decodeMp3(pieces.changed);
    QVERIFY2(after.problems.isEmpty(), qPrintable(after.problems.join('\n')));
    const qint16 peak = peakOf(after);
    QVERIFY2(peak >= 32768 / oneStep && peak < 32767, qPrintable(QString::number(peak)));
    QVERIFY(!after.samples.contains(-32768));
}

void TestGain::protectedFramesAndTheLameTagStillPassTheirCrcs_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<bool>("maxVolume");
    QVERIFY(!songNames().filter(QStringLiteral("crc/")).isEmpty());
    for (const QString &song : songNames().filter(QStringLiteral("crc/"))) {
        QTest::addRow("%s fades", qPrintable(song)) << song << false;
        QTest::addRow("%s fades and loudness", qPrintable(song)) << song << true;
    }
}

void TestGain::protectedFramesAndTheLameTagStillPassTheirCrcs()
{
    QFETCH(QString, song);
    QFETCH(bool, maxVolume);
    Pieces pieces;
    QVERIFY2(pieces.make(song, {defaultFadeSeconds, defaultFadeSeconds, maxVolume}), qPrintable(pieces.why()));
    const auto [failedBefore, protectedFrames] = crcFailures(pieces.plain);
    QVERIFY(protectedFrames > 50);
    QCOMPARE(failedBefore, 0);
    QVERIFY(readAll(pieces.changed) != readAll(pieces.plain));
    QCOMPARE(crcFailures(pieces.changed), std::make_pair(0, protectedFrames));
    QVERIFY(lameCrcsHold(pieces.plain));
    QVERIFY(lameCrcsHold(pieces.changed));
    QVERIFY(decodeMp3(pieces.changed).problems.isEmpty());
}

void TestGain::aPieceTooShortForARampKeepsItsEnds()
{
    // Just over a frame: a third of it is less than a granule's sound reaches.
    Pieces pieces;
    QVERIFY2(pieces.make(QStringLiteral("songs/cbr128-stereo-44k1.mp3"), {defaultFadeSeconds, defaultFadeSeconds, false}, 1.0, 1.03),
             qPrintable(pieces.why()));
    const DecodedSound after = decodeMp3(pieces.changed);
    QVERIFY(after.problems.isEmpty());
    QCOMPARE(after.samples, decodeMp3(pieces.plain).samples);
}

void TestGain::aPieceOfASongThatChangesItsChannelsIsFadedAndTrimmed()
{
    // Six seconds in stereo, then a song in mono: the piece is all mono, and so must be the frame
    // in front that says where its sound begins, or neither the gain step nor libmpg123 takes it.
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    const QString piece = dir.filePath(QStringLiteral("piece.mp3"));
    QVERIFY(writeFile(song, readAll(songPath(QStringLiteral("tone6-cbr128.mp3")))
                                + readAll(songPath(QStringLiteral("songs/abr112-mono-44k1.mp3")))));
    QVERIFY(cutAsTheCommandLineDoes(song, 6.5, 8.0, piece));
    const auto problem = applyGain(fileSystemPath(piece), {defaultFadeSeconds, 0, false});
    QVERIFY2(!problem, problem ? problem->path.c_str() : "");
    const DecodedSound sound = decodeMp3(piece);
    QVERIFY(sound.problems.isEmpty());
    QCOMPARE(sound.channels, 1);
    QCOMPARE(sound.length(), qsizetype(1.5 * 44100));
}

void TestGain::aPieceOfTwoFramesIsRaised()
{
    // Its header frame and two frames: a run of three, where a song's frames are only believed
    // four in a row, but one that fills the file.
    QTemporaryDir dir;
    const QString piece = dir.filePath(QStringLiteral("piece.mp3"));
    QVERIFY(cutAsTheCommandLineDoes(songPath(QStringLiteral("songs/cbr128-stereo-44k1.mp3")), 0, 0.0262, piece));
    const QByteArray plain = readAll(piece);
    QCOMPARE(scanSong(fileSystemPath(piece))->frameCount(), 2);
    const auto problem = applyGain(fileSystemPath(piece), {0, 0, true});
    QVERIFY2(!problem, problem ? problem->path.c_str() : "");
    QVERIFY(readAll(piece) != plain);
}

void TestGain::whatCannotBeChangedStaysAsItWas_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<CutError::Kind>("reason");
    QTest::newRow("layer I") << "layer I" << CutError::Kind::NoGainInLayer1;
    QTest::newRow("layer II") << "layer II" << CutError::Kind::NoGainInLayer2;
    QTest::newRow("a song, not a piece") << "no LAME tag" << CutError::Kind::NoLameTag;
    QTest::newRow("no frames") << "random" << CutError::Kind::NoAudio;
    QTest::newRow("full disk") << "full disk" << CutError::Kind::Unwritable;
}

void TestGain::whatCannotBeChangedStaysAsItWas()
{
    QFETCH(QString, kind);
    QFETCH(CutError::Kind, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("piece.mp3"));
    if (kind.startsWith(u"layer"))
        QVERIFY(writeFile(path, framesOfLayer(kind == u"layer I" ? 1 : 2)));
    else if (kind == u"no LAME tag")
        QVERIFY(QFile::copy(songPath(QStringLiteral("songs/cbr128-stereo-44k1-noinfo.mp3")), path));
    else if (kind == u"random")
        QVERIFY(writeFile(path, QByteArray(5000, 'x')));
    else
        QVERIFY(cutAsTheCommandLineDoes(songPath(QStringLiteral("songs/cbr128-stereo-44k1.mp3")), 0.2, 3.3, path));
    const QByteArray bytes = readAll(path);

    std::optional<CutError> problem;
    {
        const FileSizeLimit limit(kind == u"full disk" ? rlim_t(bytes.size() / 2) : RLIM_INFINITY);
        QVERIFY(limit.isSet());
        problem = applyGain(fileSystemPath(path), {defaultFadeSeconds, defaultFadeSeconds, true});
    }
    QVERIFY(problem);
    QCOMPARE(int(problem->kind), int(reason));
    // A write past the size a file may have fails with EFBIG, which the error keeps.
    QVERIFY(reason != CutError::Kind::Unwritable || problem->error == EFBIG);
    QVERIFY(readAll(path) == bytes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("piece.mp3")}));
}

QTEST_GUILESS_MAIN(TestGain)
#include "tst_gain.moc"
