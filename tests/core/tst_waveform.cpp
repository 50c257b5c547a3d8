#include "core/waveform.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

Q_DECLARE_METATYPE(TimeWindow)

namespace {

/// Ten seconds at 1000 frames a second in buckets of ten frames, quiet but for a loud stretch
/// from 4 to 6 s; only the first \a seconds of it are there.
PeakBuckets quietLoudQuiet(double seconds = 10.0)
{
    PeakBuckets peaks;
    peaks.sampleRate = 1000;
    peaks.bucketFrames = 10;
    for (int i = 0; i < int(std::lround(seconds * 100)); ++i) {
        const float level = i >= 400 && i < 600 ? 0.9f : 0.1f;
        peaks.buckets.append({-level, level});
    }
    peaks.frames = qint64(peaks.buckets.size()) * peaks.bucketFrames;
    return peaks;
}

} // namespace

class TestWaveform : public QObject
{
    Q_OBJECT
private slots:
    void addSamples_data()
    {
        QTest::addColumn<QList<float>>("samples");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qsizetype>("split");
        QTest::addColumn<QList<float>>("lowHigh");
        QTest::addColumn<qint64>("frames");

        const QList<float> mono{0.1f, -0.2f, 0.5f, 0.3f, -0.9f};
        const QList<float> monoPeaks{-0.2f, 0.1f, 0.3f, 0.5f, -0.9f, -0.9f};
        QTest::newRow("mono, the last bucket short") << mono << 1 << qsizetype(0) << monoPeaks << qint64(5);
        QTest::newRow("added in two parts, inside a bucket") << mono << 1 << qsizetype(3) << monoPeaks << qint64(5);
        QTest::newRow("added in two parts, between buckets") << mono << 1 << qsizetype(2) << monoPeaks << qint64(5);
        QTest::newRow("both channels in one bucket")
            << QList<float>{0.1f, -0.5f, 0.2f, 0.4f} << 2 << qsizetype(0) << QList<float>{-0.5f, 0.4f} << qint64(2);
        QTest::newRow("a frame without all its channels")
            << QList<float>{0.1f, 0.2f, 0.9f} << 2 << qsizetype(0) << QList<float>{0.1f, 0.2f} << qint64(1);
    }
    void addSamples()
    {
        QFETCH(QList<float>, samples);
        QFETCH(int, channels);
        QFETCH(qsizetype, split);
        QFETCH(QList<float>, lowHigh);
        QFETCH(qint64, frames);

        PeakBuckets peaks;
        peaks.bucketFrames = 2;
        const std::span<const float> all(samples.constData(), size_t(samples.size()));
        ::addSamples(peaks, all.first(size_t(split)), channels);
        ::addSamples(peaks, all.subspan(size_t(split)), channels);
        QList<float> got;
        for (const PeakBucket &b : peaks.buckets)
            got << b.low << b.high;
        QCOMPARE(got, lowHigh);
        QCOMPARE(peaks.frames, frames);
    }

    void analysisRates_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("analysed");
        QTest::newRow("44.1 kHz") << 44100 << 11025;
        QTest::newRow("48 kHz") << 48000 << 12000;
        QTest::newRow("32 kHz") << 32000 << 8000;
        QTest::newRow("22.05 kHz") << 22050 << 11025;
        QTest::newRow("16 kHz") << 16000 << 8000;
        QTest::newRow("8 kHz") << 8000 << 8000;
    }
    void analysisRates()
    {
        QFETCH(int, rate);
        QFETCH(int, analysed);
        const AnalysisDecimator decimator(rate, 0);
        QCOMPARE(decimator.rate(), analysed);
        QCOMPARE(decimator.rate() * decimator.factor(), rate);
    }

    // The analysis keeps a low tone whole, all but drops one that would fold back onto the low
    // sound, and comes out the same however the sound is handed to it.
    void analysisKeepsLowSoundOnly_data()
    {
        QTest::addColumn<double>("hertz");
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        QTest::newRow("440 Hz, kept") << 440.0 << 0.95 << 1.0;
        QTest::newRow("10 kHz, folding onto 1 kHz, dropped") << 10025.0 << 0.0 << 0.1;
    }
    void analysisKeepsLowSoundOnly()
    {
        QFETCH(double, hertz);
        QFETCH(double, lowest);
        QFETCH(double, highest);
        constexpr int rate = 44100;
        std::vector<float> stereo(2 * rate);
        for (size_t i = 0; i < stereo.size(); ++i)
            stereo[i] = float(std::sin(2 * M_PI * hertz * double(i / 2) / rate));
        std::vector<float> whole(rate);
        std::vector<float> parts(rate);
        AnalysisDecimator once(rate, 0);
        const qsizetype made = once.add(stereo, 2, whole.data());
        AnalysisDecimator inParts(rate, 0);
        qsizetype madeInParts = 0;
        for (size_t at = 0; at < stereo.size(); at += 2 * 999) {
            const auto part = std::span<const float>(stereo).subspan(at, std::min<size_t>(2 * 999, stereo.size() - at));
            madeInParts += inParts.add(part, 2, parts.data() + madeInParts);
        }
        QCOMPARE(made, qsizetype(rate / 4 - 1));
        QCOMPARE(madeInParts, made);
        QVERIFY(std::equal(whole.begin(), whole.begin() + made, parts.begin()));
        // Away from the edges the triangle has no silence to weigh.
        const auto [low, high] = std::minmax_element(whole.begin() + 10, whole.begin() + made - 10);
        const double peak = std::max(-double(*low), double(*high));
        QVERIFY2(peak >= lowest && peak <= highest, qPrintable(QString::number(peak)));
    }

    void columnPeaks_data()
    {
        QTest::addColumn<double>("decoded");
        QTest::addColumn<TimeWindow>("window");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("firstColumn");
        QTest::addColumn<int>("returned");
        QTest::addColumn<int>("firstLoud");
        QTest::addColumn<int>("lastLoud");

        QTest::newRow("whole song, a tenth a column") << 10.0 << TimeWindow{0, 10} << 100 << 0 << 100 << 40 << 59;
        QTest::newRow("whole song, uneven columns") << 10.0 << TimeWindow{0, 10} << 33 << 0 << 33 << 13 << 19;
        QTest::newRow("zoomed onto the loud start") << 10.0 << TimeWindow{3.5, 4.5} << 50 << 0 << 50 << 25 << 49;
        QTest::newRow("columns narrower than a bucket") << 10.0 << TimeWindow{3.99, 4.01} << 40 << 0 << 40 << 20 << 39;
        QTest::newRow("decoded half way") << 5.0 << TimeWindow{0, 10} << 100 << 0 << 50 << 40 << 49;
        QTest::newRow("from a later column on") << 10.0 << TimeWindow{0, 10} << 100 << 45 << 55 << 0 << 14;
        QTest::newRow("window beyond the decoded part") << 5.0 << TimeWindow{6, 8} << 100 << 0 << 0 << -1 << -1;
    }
    void columnPeaks()
    {
        QFETCH(double, decoded);
        QFETCH(TimeWindow, window);
        QFETCH(int, columns);
        QFETCH(int, firstColumn);
        QFETCH(int, returned);
        QFETCH(int, firstLoud);
        QFETCH(int, lastLoud);

        const QList<PeakBucket> peaks = ::columnPeaks(quietLoudQuiet(decoded), window, columns, firstColumn);
        QCOMPARE(peaks.size(), returned);
        QList<int> loud;
        for (int c = 0; c < peaks.size(); ++c) {
            QCOMPARE(peaks[c].low, -peaks[c].high);
            if (peaks[c].high > 0.5f)
                loud << c;
        }
        QCOMPARE(loud.value(0, -1), firstLoud);
        QCOMPARE(loud.isEmpty() ? -1 : loud.last(), lastLoud);
        QCOMPARE(loud.size(), lastLoud - firstLoud + (loud.isEmpty() ? 0 : 1));
    }

    void zoomedWindow_data()
    {
        QTest::addColumn<TimeWindow>("window");
        QTest::addColumn<double>("factor");
        QTest::addColumn<double>("anchor");
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("shortest");
        QTest::addColumn<TimeWindow>("zoomed");

        QTest::newRow("in around the middle") << TimeWindow{0, 100} << 0.5 << 50.0 << 100.0 << 1.0 << TimeWindow{25, 75};
        QTest::newRow("the anchor keeps its place") << TimeWindow{0, 100} << 0.5 << 20.0 << 100.0 << 1.0 << TimeWindow{10, 60};
        QTest::newRow("in at the start") << TimeWindow{0, 100} << 0.5 << 0.0 << 100.0 << 1.0 << TimeWindow{0, 50};
        QTest::newRow("out near the end") << TimeWindow{80, 100} << 2.0 << 95.0 << 100.0 << 1.0 << TimeWindow{60, 100};
        QTest::newRow("no closer than the shortest") << TimeWindow{0, 10} << 0.01 << 5.0 << 100.0 << 4.0 << TimeWindow{3, 7};
        QTest::newRow("out to the whole song") << TimeWindow{25, 75} << 4.0 << 50.0 << 100.0 << 1.0 << TimeWindow{0, 100};
        QTest::newRow("a song shorter than the shortest") << TimeWindow{0, 3} << 0.5 << 1.0 << 3.0 << 5.0 << TimeWindow{0, 3};
        QTest::newRow("an anchor outside the window") << TimeWindow{10, 20} << 0.5 << 50.0 << 100.0 << 1.0 << TimeWindow{45, 50};
    }
    void zoomedWindow()
    {
        QFETCH(TimeWindow, window);
        QFETCH(double, factor);
        QFETCH(double, anchor);
        QFETCH(double, length);
        QFETCH(double, shortest);
        QFETCH(TimeWindow, zoomed);

        const TimeWindow got = ::zoomedWindow(window, factor, anchor, length, shortest);
        QCOMPARE(got.from, zoomed.from);
        QCOMPARE(got.to, zoomed.to);
    }

    void windowShowing_data()
    {
        QTest::addColumn<TimeWindow>("window");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<TimeWindow>("showing");

        QTest::newRow("already shown") << TimeWindow{0, 10} << 5.0 << TimeWindow{0, 10};
        QTest::newRow("on the right edge") << TimeWindow{0, 10} << 10.0 << TimeWindow{0, 10};
        QTest::newRow("played past it: the next page") << TimeWindow{0, 10} << 10.5 << TimeWindow{9.5, 19.5};
        QTest::newRow("sought back before it") << TimeWindow{50, 60} << 20.0 << TimeWindow{19, 29};
        QTest::newRow("near the song's start") << TimeWindow{50, 60} << 0.5 << TimeWindow{0, 10};
        QTest::newRow("near the song's end") << TimeWindow{0, 10} << 99.0 << TimeWindow{90, 100};
    }
    void windowShowing()
    {
        QFETCH(TimeWindow, window);
        QFETCH(double, seconds);
        QFETCH(TimeWindow, showing);

        const TimeWindow got = ::windowShowing(window, seconds, 100.0);
        QCOMPARE(got.from, showing.from);
        QCOMPARE(got.to, showing.to);
    }

    void steppedTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("stepped");

        QTest::newRow("on to the next tenth") << 12.345 << 0.1 << 12.4;
        QTest::newRow("back to the last tenth") << 12.345 << -0.1 << 12.3;
        QTest::newRow("from a tenth, on") << 12.4 << 0.1 << 12.5;
        QTest::newRow("from a tenth, back") << 12.4 << -0.1 << 12.3;
        QTest::newRow("a hair above its tenth") << 0.1 + 0.2 << 0.1 << 0.4;
        QTest::newRow("a hair below its tenth") << 0.7 + 0.1 << -0.1 << 0.7;
        QTest::newRow("a second on") << 12.345 << 1.0 << 13.0;
        QTest::newRow("a second back from a second") << 12.0 << -1.0 << 11.0;
        QTest::newRow("not before the start") << 0.05 << -0.1 << 0.0;
    }
    void steppedTime()
    {
        QFETCH(double, seconds);
        QFETCH(double, step);
        QFETCH(double, stepped);
        QCOMPARE(::steppedTime(seconds, step), stepped);
    }
};

QTEST_APPLESS_MAIN(TestWaveform)
#include "tst_waveform.moc"
