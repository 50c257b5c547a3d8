// The peaks of real songs, decoded by libmpg123 on the loader's threads: where their loud stretch
// lands among the columns, that the columns hold what the samples hold, that a song decoded in
// stretches comes out as decoded whole, and what becomes of songs that are damaged or no songs
// at all.

#include "core/waveformloader.h"
#include "platform/mpg123decoder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

Q_DECLARE_METATYPE(TimeWindow)
Q_DECLARE_METATYPE(std::shared_ptr<const std::vector<float>>)

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
    void stretchesDecodeAsTheWholeSong_data();
    void stretchesDecodeAsTheWholeSong();
    void firstPictureComesFromTheFrames();

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
    QSignalSpy ready(&loader, &WaveformLoader::analysisReady);
    QVERIFY(loadAndWait(loader, path));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Refused);
    QVERIFY(loader.peaks().buckets.isEmpty());
    QCOMPARE(loader.length(), std::nullopt);
    QCOMPARE(ready.size(), 0);
    QVERIFY(!loader.analysisSignal());
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

void TestWaveformDecode::stretchesDecodeAsTheWholeSong_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<int>("stretches");
    QTest::addColumn<float>("tolerance");
    QTest::addColumn<bool>("asTheMapHasIt");

    // Variable bit rates whose frames reach far back into the bit reservoir, no reservoir, a song
    // with no LAME tag, frames with a CRC, a song cut where its first frames miss their data,
    // layer 2, a VBRI frame in front and another encoder's frames: the very samples of a decode
    // of the whole. Mono songs, MPEG-2 and 2.5 among them, come
    // within a step of 24 bits: libmpg123 rounds their last bit one way or the other depending
    // on where its decode began (measured: a one-channel stream only).
    const std::pair<const char *, float> songs[] = {
        {"vbr-v2-stereo-44k1-xing.mp3", 0}, {"vbr-tones.mp3", 0}, {"vbr-v0-stereo-48k-noxing.mp3", 0},
        {"songs/abr160-stereo-48k-nores.mp3", 0}, {"songs/cbr128-stereo-44k1-noinfo.mp3", 0},
        {"songs/cut-elsewhere-vbr-v4-44k1.mp3", 0}, {"songs/crc-vbr-v5-mono-44k1.mp3", 1.2e-7f},
        {"cbr32-mono-22k05.mp3", 1.2e-7f}, {"vbr-v6-mono-22k05-xing.mp3", 1.2e-7f}, {"vbr-v8-mono-8k-noxing.mp3", 1.2e-7f},
        {"crc/crc-vbr-v6-stereo-16k.mp3", 1.2e-7f}, {"layer2-192k-44k1.mp3", 0},
        {"songs/vbri-vbr-v4-44k1.mp3", 0}, {"songs/shine-cbr128-stereo-44k1.mp3", 0}};
    for (const auto &[song, tolerance] : songs) {
        for (const int stretches : {2, 5})
            QTest::addRow("%s in %d", song, stretches) << QString::fromLatin1(song) << stretches << tolerance << false;
    }
    // Junk between frames, and 100,000 bytes that do not decode: the decode of the whole steps
    // over them as it finds them, the stretches as the song's frame map does, which is what a
    // cut is placed by. Here the stretches must match one stretch decoded alone.
    for (const char *song : {"songs/junk-cbr128-stereo-48k.mp3", "damaged-cbr128.mp3"})
        QTest::addRow("%s in 3", song) << QString::fromLatin1(song) << 3 << 0.0f << true;
}

void TestWaveformDecode::stretchesDecodeAsTheWholeSong()
{
    QFETCH(QString, song);
    QFETCH(int, stretches);
    QFETCH(float, tolerance);
    QFETCH(bool, asTheMapHasIt);

    PeakBuckets expected;
    std::vector<float> mono;
    int monoRate = 0;
    if (asTheMapHasIt) {
        WaveformLoader alone(&Mpg123Decoder::make, nullptr, 1);
        QVERIFY(loadAndWait(alone, fixture(song)));
        QCOMPARE(alone.progress(), WaveformLoader::Progress::Complete);
        expected = alone.peaks();
        mono = *alone.analysisSignal();
        monoRate = alone.analysisRate();
    } else {
        const Decoded whole = decodeAll(fixture(song));
        QVERIFY(!whole.samples.empty());
        expected.sampleRate = whole.rate;
        addSamples(expected, whole.samples, whole.channels);
        // The analysis of the whole, in one pass: silence before and after the song.
        AnalysisDecimator decimator(whole.rate, 0);
        const std::vector<float> edge(size_t((decimator.factor() - 1) * whole.channels), 0.0f);
        mono.resize(whole.samples.size() / size_t(whole.channels * decimator.factor()) + 4);
        for (const auto &part : {std::span<const float>(edge), std::span<const float>(whole.samples), std::span<const float>(edge)})
            decimator.add(part, whole.channels, mono.data() + decimator.next());
        mono.resize(size_t(decimator.next()));
        monoRate = decimator.rate();
    }

    WaveformLoader loader(&Mpg123Decoder::make, nullptr, stretches);
    QSignalSpy ready(&loader, &WaveformLoader::analysisReady);
    QVERIFY(loadAndWait(loader, fixture(song)));
    QCOMPARE(loader.progress(), WaveformLoader::Progress::Complete);
    QCOMPARE(loader.peaks().frames, expected.frames);
    QCOMPARE(loader.peaks().buckets.size(), expected.buckets.size());
    for (qsizetype i = 0; i < expected.buckets.size(); ++i) {
        const PeakBucket &got = loader.peaks().buckets[i];
        const PeakBucket &want = expected.buckets[i];
        QVERIFY2(!got.rough && std::abs(got.low - want.low) <= tolerance && std::abs(got.high - want.high) <= tolerance,
                 qPrintable(QStringLiteral("bucket %1 of %2: %3 to %4, not %5 to %6")
                                .arg(i).arg(expected.buckets.size()).arg(got.low).arg(got.high).arg(want.low).arg(want.high)));
    }

    QCOMPARE(ready.size(), 1);
    const auto signal = ready.first().at(0).value<std::shared_ptr<const std::vector<float>>>();
    QCOMPARE(ready.first().at(1).toInt(), monoRate);
    QVERIFY(signal && signal == loader.analysisSignal());
    QCOMPARE(signal->size(), mono.size());
    for (size_t i = 0; i < mono.size(); ++i)
        QVERIFY2(std::abs((*signal)[i] - mono[i]) <= tolerance, qPrintable(QStringLiteral("analysis sample %1").arg(i)));
}

void TestWaveformDecode::firstPictureComesFromTheFrames()
{
    // Before a sample is decoded the whole song is drawn, rough, quiet where the tones are and
    // loud where the noise is.
    WaveformLoader loader(&Mpg123Decoder::make, nullptr, 1);
    QList<PeakBucket> first;
    std::optional<double> firstLength;
    connect(&loader, &WaveformLoader::changed, &loader, [&] {
        if (first.isEmpty() && !loader.peaks().buckets.isEmpty()) {
            first = columnPeaks(loader.peaks(), {0, 5}, 50);
            firstLength = loader.length();
        }
    });
    QVERIFY(loadAndWait(loader, fixture(QStringLiteral("vbr-v2-stereo-44k1-xing.mp3"))));
    QCOMPARE(first.size(), 50);
    // The song's length is known from its frames, to the sample, before its decode.
    QCOMPARE(firstLength, 5.0);
    QVERIFY(std::all_of(first.begin(), first.end(), [](const PeakBucket &peak) { return peak.rough; }));
    // The encoder codes the first and last granules of a song louder: their columns are left out.
    float loudestQuiet = 0.0f;
    float quietestLoud = 1.0f;
    for (int c = 1; c < 49; ++c) {
        const double middle = (c + 0.5) / 10;
        if (middle < loudFrom - 0.1 || middle > loudTo + 0.1)
            loudestQuiet = std::max(loudestQuiet, magnitude(first[c]));
        else if (middle > loudFrom + 0.1 && middle < loudTo - 0.1)
            quietestLoud = std::min(quietestLoud, magnitude(first[c]));
    }
    QVERIFY2(loudestQuiet > 0.05f && quietestLoud > 2 * loudestQuiet,
             qPrintable(QStringLiteral("%1 against %2").arg(quietestLoud).arg(loudestQuiet)));
    // Once decoded, nothing is rough.
    const QList<PeakBucket> decoded = columnPeaks(loader.peaks(), {0, 5}, 50);
    QVERIFY(std::none_of(decoded.begin(), decoded.end(), [](const PeakBucket &peak) { return peak.rough; }));
}

QTEST_GUILESS_MAIN(TestWaveformDecode)
#include "tst_waveformdecode.moc"
