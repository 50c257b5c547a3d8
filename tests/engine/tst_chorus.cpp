// The chorus a ringtone is made of: found in songs whose structure is known, and not made up
// where a song has none.

#include "engine/chorus.h"
#include "engine/songsound.h"
#include "engine/fft.h"
#include "structuredsong.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace {

using Part = StructuredSong::Part;

/// Choruses as long as they come nearest 28 s in whole phrases of four bars, verses as long,
/// and the bridge half as long.
SongPlan planFor(double bpm, int shape, std::uint32_t seed)
{
    const double bar = 4 * 60 / bpm;
    int chorus = 8;
    for (int bars : {12, 16}) {
        if (std::abs(bars * bar - 28) < std::abs(chorus * bar - 28))
            chorus = bars;
    }
    const int bridge = std::max(4, chorus / 2);
    SongPlan plan;
    plan.bpm = bpm;
    plan.seed = seed;
    const auto I = std::pair{Part::Intro, 4};
    const auto V = std::pair{Part::Verse, chorus};
    const auto C = std::pair{Part::Chorus, chorus};
    const auto B = std::pair{Part::Bridge, bridge};
    const auto O = std::pair{Part::Outro, 4};
    switch (shape % 4) {
    case 0:
        plan.parts = {I, V, C, V, C, B, C, O};
        break;
    case 1:
        plan.parts = {I, V, C, V, C, O};
        break;
    case 2:
        plan.parts = {I, V, C, V, C, B, C, C, O};
        break;
    default:
        plan.parts = {I, C, V, C, B, C, O};
        break;
    }
    return plan;
}

/// Why \a proposal is not one of \a song's choruses, from a beat: empty when it is.
QString misses(const ChorusProposal &proposal, const StructuredSong &song)
{
    const double length = proposal.endSeconds - proposal.startSeconds;
    if (length < 20 - 1e-9 || length > 40 + 1e-9)
        return QStringLiteral("lasts %1 s").arg(length);
    const double nearestBeat = *std::min_element(song.beats.begin(), song.beats.end(), [&](double a, double b) {
        return std::abs(a - proposal.startSeconds) < std::abs(b - proposal.startSeconds);
    });
    if (std::abs(nearestBeat - proposal.startSeconds) > 0.05)
        return QStringLiteral("starts %1 ms from a beat").arg((proposal.startSeconds - nearestBeat) * 1000);
    for (const auto &chorus : song.all(Part::Chorus)) {
        const double overlap = std::min(chorus.endSeconds, proposal.endSeconds)
                               - std::max(chorus.startSeconds, proposal.startSeconds);
        if (overlap >= 0.8 * std::max(length, chorus.endSeconds - chorus.startSeconds))
            return {};
    }
    return QStringLiteral("covers no chorus");
}

std::vector<float> tone(double seconds, int rate)
{
    std::vector<float> samples(std::size_t(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(0.5 * std::sin(2 * std::numbers::pi * 440 * double(i) / rate));
    return samples;
}

std::vector<float> noise(double seconds, int rate)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(-0.5f, 0.5f);
    std::vector<float> samples(std::size_t(seconds * rate));
    for (float &v : samples)
        v = level(random);
    return samples;
}

QString describe(const StructuredSong &song)
{
    QStringList choruses;
    for (const auto &chorus : song.all(Part::Chorus))
        choruses << QStringLiteral("%1-%2").arg(chorus.startSeconds, 0, 'f', 2).arg(chorus.endSeconds, 0, 'f', 2);
    return QStringLiteral("%1 BPM at %2 Hz, choruses %3").arg(song.bpm).arg(song.sampleRate).arg(choruses.join(u' '));
}

} // namespace

class TestChorus : public QObject
{
    Q_OBJECT

private slots:
    void spectrumIsTheTransform_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("16") << 16;
        QTest::newRow("512") << 512;
        QTest::newRow("2048") << 2048;
    }

    // Against the transform summed bin by bin, on a frame of two tones off the bins and a step.
    void spectrumIsTheTransform()
    {
        QFETCH(int, size);
        std::vector<float> frame(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            frame[std::size_t(i)] = float(std::sin(0.3 * i) + 0.25 * std::cos(2.9 * i + 1) + (i < size / 3 ? 0.5 : 0));
        std::vector<float> power(static_cast<std::size_t>(size / 2 + 1));
        PowerSpectrum(size).compute(frame, power);
        for (int k = 0; k <= size / 2; ++k) {
            std::complex<double> sum;
            for (int i = 0; i < size; ++i) {
                const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size);
                sum += window * frame[std::size_t(i)] * std::polar(1.0, -2 * std::numbers::pi * k * i / size);
            }
            QVERIFY2(std::abs(power[std::size_t(k)] - std::norm(sum)) <= 1e-4 * (1 + std::norm(sum)),
                     qPrintable(QStringLiteral("bin %1: %2, not %3").arg(k).arg(power[std::size_t(k)]).arg(std::norm(sum))));
        }
    }

    void findsTheChorus()
    {
        const std::array<double, 10> tempos{70, 78, 86, 95, 104, 115, 124, 136, 148, 160};
        const std::array<int, 10> rates{11025, 11025, 44100, 11025, 22050, 11025, 8000, 11025, 48000, 11025};
        int found = 0;
        for (std::size_t i = 0; i < tempos.size(); ++i) {
            const StructuredSong song = makeSong(planFor(tempos[i], int(i), std::uint32_t(i + 3)), rates[i]);
            const auto proposal = proposeChorus(song.samples, song.sampleRate);
            const QString miss = proposal ? misses(*proposal, song) : QStringLiteral("no proposal");
            qInfo("%s: %s", qPrintable(describe(song)),
                  proposal ? qPrintable(QStringLiteral("%1-%2 at %3 BPM %4")
                                            .arg(proposal->startSeconds, 0, 'f', 3)
                                            .arg(proposal->endSeconds, 0, 'f', 3)
                                            .arg(proposal->bpm, 0, 'f', 1)
                                            .arg(miss))
                           : "none");
            found += miss.isEmpty();
        }
        QVERIFY2(found >= 9, qPrintable(QStringLiteral("the chorus in %1 songs of 10").arg(found)));
    }

    void noneWithoutSections_data()
    {
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<int>("rate");
        QTest::newRow("steady tone") << tone(120, 11025) << 11025;
        QTest::newRow("noise") << noise(120, 11025) << 11025;
        QTest::newRow("silence") << std::vector<float>(120 * 22050) << 22050;
        SongPlan beat;
        beat.bpm = 120;
        beat.parts = {{Part::Outro, 60}};
        QTest::newRow("a pulse and one chord throughout") << makeSong(beat, 11025).samples << 11025;
        std::vector<float> shortSong = makeSong(planFor(120, 3, 5), 11025).samples;
        shortSong.resize(40 * 11025);
        QTest::newRow("a song of 40 s") << shortSong << 11025;
        QTest::newRow("a rate below 8000") << makeSong(planFor(120, 0, 5), 4000).samples << 4000;
    }

    void noneWithoutSections()
    {
        QFETCH(std::vector<float>, samples);
        QFETCH(int, rate);
        const auto proposal = proposeChorus(samples, rate);
        QVERIFY2(!proposal, proposal ? qPrintable(QStringLiteral("proposed %1-%2").arg(proposal->startSeconds).arg(proposal->endSeconds)) : "");
    }

    void decodedSoundKeepsItsTimes_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("expectedRate");
        QTest::newRow("44100 Hz, a quarter") << 44100 << 11025;
        QTest::newRow("48000 Hz, a quarter") << 48000 << 12000;
        QTest::newRow("22050 Hz, a half") << 22050 << 11025;
        QTest::newRow("8000 Hz, as it is") << 8000 << 8000;
    }

    // A tone low enough to pass the filter whole lies where it lay in the song, to a quarter of a
    // sample at the song's rate.
    void decodedSoundKeepsItsTimes()
    {
        QFETCH(int, rate);
        QFETCH(int, expectedRate);
        QTemporaryDir folder;
        const QString wav = folder.filePath(QStringLiteral("tone.wav"));
        const QString mp3 = folder.filePath(QStringLiteral("tone.mp3"));
        const double hz = 300;
        std::vector<float> samples(std::size_t(2 * rate));
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
        QVERIFY(writeWav(wav.toStdString(), samples, rate));
        QCOMPARE(QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                                           QStringLiteral("128"), wav, mp3}),
                 0);
        const auto sound = decodeMono(mp3.toStdString(), 11025);
        QVERIFY(sound);
        QCOMPARE(sound->sampleRate, expectedRate);
        QVERIFY(std::abs(double(sound->samples.size()) - 2.0 * expectedRate) <= 1);
        // The tone's phase in the decoded sound, from its correlation with a sine and a cosine.
        double withSine = 0;
        double withCosine = 0;
        for (std::size_t j = std::size_t(expectedRate / 10); j + std::size_t(expectedRate / 10) < sound->samples.size(); ++j) {
            const double angle = 2 * std::numbers::pi * hz * double(j) / expectedRate;
            withSine += sound->samples[j] * std::sin(angle);
            withCosine += sound->samples[j] * std::cos(angle);
        }
        const double phase = std::atan2(withCosine, withSine);
        const double oneSample = 2 * std::numbers::pi * hz / rate;
        QVERIFY2(std::abs(phase) < oneSample / 4, qPrintable(QStringLiteral("%1 samples late").arg(-phase / oneSample)));
    }

    // Through the program, from an MP3 file: the decode and its times, the line a script reads,
    // the statuses.
    void suggestsFromTheCommandLine()
    {
        QTemporaryDir folder;
        const StructuredSong song = makeSong(planFor(128, 0, 11), 22050);
        const QString wav = folder.filePath(QStringLiteral("song.wav"));
        const QString mp3 = folder.filePath(QStringLiteral("song.mp3"));
        QVERIFY(writeWav(wav.toStdString(), song.samples, song.sampleRate));
        QCOMPARE(QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"),
                                                           QStringLiteral("64"), wav, mp3}),
                 0);
        const auto run = [](const QStringList &arguments) {
            QProcess program;
            program.start(QStringLiteral(MP3CUTTER_BINARY), arguments);
            program.waitForFinished(60000);
            return std::tuple{program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                              QString::fromUtf8(program.readAllStandardError())};
        };

        const auto [status, out, err] = run({QStringLiteral("--suggest"), mp3});
        QCOMPARE(status, 0);
        const QStringList fields = out.trimmed().split(u' ');
        QCOMPARE(fields.size(), 4);
        const ChorusProposal proposal{fields[0].toDouble(), fields[1].toDouble(), 0};
        QCOMPARE(misses(proposal, song), QString());
        const auto minutes = [](double s) {
            const long tenths = long(std::floor(s * 10 + 1e-6));
            return QStringLiteral("%1:%2.%3").arg(tenths / 600).arg(tenths / 10 % 60, 2, 10, QChar(u'0')).arg(tenths % 10);
        };
        QCOMPARE(fields[2], minutes(proposal.startSeconds));
        QCOMPARE(fields[3], minutes(proposal.endSeconds));

        QVERIFY(writeWav(wav.toStdString(), tone(60, 22050), 22050));
        QCOMPARE(QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3}), 0);
        const auto [toneStatus, toneOut, toneErr] = run({QStringLiteral("--suggest"), mp3});
        QCOMPARE(toneStatus, 1);
        QVERIFY(toneOut.isEmpty());
        QVERIFY2(toneErr.contains(QStringLiteral("没有找到")), qPrintable(toneErr));

        QCOMPARE(std::get<0>(run({QStringLiteral("--suggest"), wav + QStringLiteral(".none")})), 1);
        QCOMPARE(std::get<0>(run({QStringLiteral("--suggest")})), 2);
        QCOMPARE(std::get<0>(run({QStringLiteral("--suggest"), mp3, QStringLiteral("-o"), wav})), 2);
    }
};

QTEST_GUILESS_MAIN(TestChorus)
#include "tst_chorus.moc"
