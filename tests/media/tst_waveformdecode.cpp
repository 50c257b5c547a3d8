// The peaks of real songs, decoded by libmpg123 on the loader's thread: where their loud stretch
// lands among the columns, that the columns hold what the samples hold, and what becomes of
// songs that are damaged or no songs at all.

#include "core/waveformloader.h"
#include "platform/mpg123decoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

Q_DECLARE_METATYPE(TimeWindow)

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

// The songs made from scripts/make-fixtures' base(): a 440 Hz tone at -12 dB for 1.5 s, pink
// noise at -3 dB for 2 s, a 660 Hz tone for 1.5 s.
constexpr double loudFrom = 1.5;
constexpr double loudTo = 3.5;
// The tones peak at a quarter of full scale. The noise peaks near two thirds, and over any 12 ms
// above 0.29; over less it may dip lower, so loudness is judged over at least 12 ms.
constexpr float loudLevel = 0.27f;
constexpr double judgedSeconds = 0.012;
// Sound whose time lies this close to a change of sound may go either way: the encoder spreads a
// change over a granule. Gapless decoding is what keeps it this close; without it every change
// would come 25 ms late.
constexpr double changeSlack = 0.015;

float magnitude(const PeakBucket &peak)
{
    return std::max(-peak.low, peak.high);
}

struct Decoded
{
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;
};

Decoded decodeAll(const QString &path)
{
    Mpg123Decoder decoder;
    Decoded decoded;
    const auto format = decoder.open(path);
    if (!format)
        return decoded;
    decoded.rate = format->sampleRate;
    decoded.channels = format->channels;
    std::vector<float> block(4096);
    for (qsizetype n; (n = decoder.read(block)) > 0;)
        decoded.samples.insert(decoded.samples.end(), block.begin(), block.begin() + n);
    return decoded;
}

/// The lowest and highest sample of frames [from, to) of \a decoded; nullopt for none.
std::optional<PeakBucket> samplePeak(const Decoded &decoded, qint64 from, qint64 to)
{
    const qint64 frames = qint64(decoded.samples.size()) / decoded.channels;
    from = std::max<qint64>(from, 0);
    to = std::min(to, frames);
    if (from >= to)
        return std::nullopt;
    const auto first = decoded.samples.begin() + from * decoded.channels;
    const auto [low, high] = std::minmax_element(first, decoded.samples.begin() + to * decoded.channels);
    return PeakBucket{*low, *high};
}

/// Writes to \a path the song at \a song with \a damage over its bytes from the part \a at of them
/// on, or cut off there where \a damage is empty.
bool writeDamaged(const QString &song, double at, const QByteArray &damage, const QString &path)
{
    QFile whole(song);
    if (!whole.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = whole.readAll();
    const qsizetype from = qsizetype(bytes.size() * at);
    if (damage.isEmpty())
        bytes.truncate(from);
    else
        bytes.replace(from, damage.size(), damage);
    QFile damaged(path);
    return damaged.open(QIODevice::WriteOnly) && damaged.write(bytes) == bytes.size();
}

} // namespace

class TestWaveformDecode : public QObject
{
    Q_OBJECT

private slots:
    void loudStretchLandsInItsColumns_data();
    void loudStretchLandsInItsColumns();
    void refusedSongsHaveNoPeaks_data();
    void refusedSongsHaveNoPeaks();
    void damagedSongShowsWhatDecoded_data();
    void damagedSongShowsWhatDecoded();
    void soundAfterDamageIsDrawn_data();
    void soundAfterDamageIsDrawn();
    void anotherSongReplacesTheFirst();

private:
    /// Loads \a path and waits until its decode has ended.
    bool loadAndWait(WaveformLoader &loader, const QString &path);
};

bool TestWaveformDecode::loadAndWait(WaveformLoader &loader, const QString &path)
{
    loader.load(path);
    return QTest::qWaitFor([&] { return loader.progress() != WaveformLoader::Progress::Decoding; }, 60000);
}

void TestWaveformDecode::loudStretchLandsInItsColumns_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<int>("columns");
    QTest::addColumn<TimeWindow>("window");

    for (const char *song : {"cbr128-stereo-44k1-info.mp3", "vbr-v2-stereo-44k1-xing.mp3"}) {
        for (const int columns : {120, 333}) {
            for (const TimeWindow window : {TimeWindow{0, 5}, TimeWindow{1, 2.5}, TimeWindow{3.2, 3.8}}) {
                QTest::addRow("%s, %d columns, %g to %g s", song, columns, window.from, window.to)
                    << QString::fromLatin1(song) << columns << window;
            }
        }
    }
}

void TestWaveformDecode::loudStretchLandsInItsColumns()
{
    QFETCH(QString, song);
    QFETCH(int, columns);
    QFETCH(TimeWindow, window);

    WaveformLoader loader(&Mpg123Decoder::make, nullptr);
    QVERIFY(loadAndWait(loader, fixture(song)));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Complete);
    QCOMPARE(loader.length(), 5.0);
    const QList<PeakBucket> peaks = columnPeaks(loader.peaks(), window, columns);
    QCOMPARE(peaks.size(), columns);

    const Decoded decoded = decodeAll(fixture(song));
    QCOMPARE(decoded.rate, loader.peaks().sampleRate);
    const double perColumn = window.span() / columns;
    const qint64 bucket = loader.peaks().bucketFrames;
    // Columns narrower than the judged time are judged with their neighbours.
    const int around = perColumn >= judgedSeconds ? 0 : int(std::ceil(judgedSeconds / 2 / perColumn));
    for (int c = 0; c < columns; ++c) {
        const double from = window.from + c * perColumn;
        const double to = from + perColumn;
        const auto where = QStringLiteral("column %1, %2 to %3 s, peaks %4 to %5")
                               .arg(c).arg(from).arg(to).arg(peaks[c].low).arg(peaks[c].high);

        // Loud where the noise is, and only there.
        float level = 0.0f;
        for (int n = std::max(c - around, 0); n <= std::min(c + around, columns - 1); ++n)
            level = std::max(level, magnitude(peaks[n]));
        const double judgedFrom = from - around * perColumn;
        const double judgedTo = to + around * perColumn;
        if (judgedTo <= loudFrom - changeSlack || judgedFrom >= loudTo + changeSlack)
            QVERIFY2(level < loudLevel, qPrintable(where));
        else if (judgedFrom >= loudFrom + changeSlack && judgedTo <= loudTo - changeSlack)
            QVERIFY2(level > loudLevel, qPrintable(where));

        // Within the samples of the column and a bucket either side, and holding those of the
        // column less a bucket either side.
        const qint64 first = qint64(std::floor(from * decoded.rate));
        const qint64 end = qint64(std::ceil(to * decoded.rate));
        const auto wide = samplePeak(decoded, first - bucket, end + bucket);
        QVERIFY2(wide && peaks[c].low >= wide->low && peaks[c].high <= wide->high, qPrintable(where));
        if (const auto narrow = samplePeak(decoded, first + bucket, end - bucket))
            QVERIFY2(peaks[c].low <= narrow->low && peaks[c].high >= narrow->high, qPrintable(where));
    }
}

void TestWaveformDecode::refusedSongsHaveNoPeaks_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty file") << fixture(QStringLiteral("empty.mp3"));
    QTest::newRow("random bytes") << fixture(QStringLiteral("random-bytes.mp3"));
    QTest::newRow("no such file") << fixture(QStringLiteral("gone.mp3"));
}

void TestWaveformDecode::refusedSongsHaveNoPeaks()
{
    QFETCH(QString, path);
    WaveformLoader loader(&Mpg123Decoder::make, nullptr);
    QVERIFY(loadAndWait(loader, path));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Refused);
    QVERIFY(loader.peaks().buckets.isEmpty());
    QCOMPARE(loader.length(), std::nullopt);
}

void TestWaveformDecode::damagedSongShowsWhatDecoded_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<double>("keptPart");
    QTest::addColumn<QByteArray>("damage");

    QTest::newRow("cut off after its loud stretch") << "vbr-v2-stereo-44k1-xing.mp3" << 0.8 << QByteArray();
    QTest::newRow("garbage after its loud stretch") << "cbr128-stereo-44k1-info.mp3" << 0.8 << QByteArray(4000, '\xA5');
}

void TestWaveformDecode::damagedSongShowsWhatDecoded()
{
    QFETCH(QString, song);
    QFETCH(double, keptPart);
    QFETCH(QByteArray, damage);

    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("damaged.mp3"));
    QVERIFY(writeDamaged(fixture(song), keptPart, damage, damaged));

    WaveformLoader loader(&Mpg123Decoder::make, nullptr);
    QVERIFY(loadAndWait(loader, damaged));
    QVERIFY(loader.progress() != WaveformLoader::Progress::Refused);
    // What came before the damage is all there, in its place.
    QVERIFY2(loader.peaks().seconds() > loudTo, qPrintable(QString::number(loader.peaks().seconds())));
    const QList<PeakBucket> peaks = columnPeaks(loader.peaks(), {0, 5}, 100);
    QVERIFY(magnitude(peaks[int(loudFrom * 20) - 1]) < loudLevel);
    QVERIFY(magnitude(peaks[int(loudFrom * 20) + 1]) > loudLevel);
    QVERIFY(magnitude(peaks[int(loudTo * 20) - 2]) > loudLevel);
    QVERIFY(magnitude(peaks[int(loudTo * 20) + 1]) < loudLevel);
    QVERIFY(loader.length() >= loader.peaks().seconds());
}

void TestWaveformDecode::soundAfterDamageIsDrawn_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<int>("zeros");

    // The zeros and the rest of the frame they fall in span more than a libmpg123's default
    // resync window: here VBR frames of loud noise, there a long stretch.
    QTest::newRow("800 zero bytes amid a VBR song") << "vbr-tones.mp3" << 800;
    QTest::newRow("5000 zero bytes amid a CBR song") << "cbr-tones.mp3" << 5000;
}

void TestWaveformDecode::soundAfterDamageIsDrawn()
{
    QFETCH(QString, song);
    QFETCH(int, zeros);

    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("damaged.mp3"));
    QVERIFY(writeDamaged(fixture(song), 0.5, QByteArray(zeros, '\0'), damaged));

    WaveformLoader loader(&Mpg123Decoder::make, nullptr);
    QVERIFY(loadAndWait(loader, damaged));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Complete);
    // The song sounds through all its 16 s; the damaged frames take no time, as in a player's clock.
    const double seconds = loader.peaks().seconds();
    QVERIFY2(seconds > 15.5 && seconds < 16.05, qPrintable(QString::number(seconds)));
    QCOMPARE(loader.length(), seconds);
    // Dark only where the frame after the damage lost the start of its sound with it.
    const QList<PeakBucket> peaks = columnPeaks(loader.peaks(), {0, seconds}, int(seconds * 10));
    const auto dark = std::count_if(peaks.begin(), peaks.end(), [](const PeakBucket &peak) { return magnitude(peak) < 0.2f; });
    QVERIFY2(dark <= 1, qPrintable(QString::number(dark)));
}

void TestWaveformDecode::anotherSongReplacesTheFirst()
{
    WaveformLoader loader(&Mpg123Decoder::make, nullptr);
    loader.load(fixture(QStringLiteral("vbr-tones.mp3")));
    QVERIFY(loadAndWait(loader, fixture(QStringLiteral("short-0.8s.mp3"))));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Complete);
    QCOMPARE(loader.peaks().frames, qint64(35280));
    QCOMPARE(loader.peaks().buckets.size(), (35280 + 255) / 256);

    loader.load(QString());
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Idle);
    QVERIFY(loader.peaks().buckets.isEmpty());
    QCOMPARE(loader.length(), std::nullopt);
}

QTEST_GUILESS_MAIN(TestWaveformDecode)
#include "tst_waveformdecode.moc"
