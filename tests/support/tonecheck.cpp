#include "tonecheck.h"

#include "core/pathrules.h"
#include "engine/songmap.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int decodeTimeoutMs = 30000;
// A tone rules a window when it carries this many times the power of any other tone of the plan.
constexpr double dominance = 8.0;
// ... and is loud enough to be no decoder's ringing: an amplitude of about 0.03.
constexpr double quietestAmplitude = 0.03;
// Steps of the search for the exact place of a change of tone.
constexpr double boundaryStepSeconds = 0.001;

template<typename Sample>
void mixDown(const QAudioBuffer &buffer, double scale, double offset, QList<float> &out)
{
    const int channels = buffer.format().channelCount();
    const Sample *samples = buffer.constData<Sample>();
    const qsizetype frames = buffer.frameCount();
    for (qsizetype f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c)
            sum += double(samples[f * channels + c]) * scale + offset;
        out.append(float(sum / channels));
    }
}

bool appendBuffer(const QAudioBuffer &buffer, QList<float> &out)
{
    if (buffer.format().channelCount() <= 0)
        return false;
    switch (buffer.format().sampleFormat()) {
    case QAudioFormat::UInt8:
        mixDown<quint8>(buffer, 1.0 / 128.0, -1.0, out);
        return true;
    case QAudioFormat::Int16:
        mixDown<qint16>(buffer, 1.0 / 32768.0, 0.0, out);
        return true;
    case QAudioFormat::Int32:
        mixDown<qint32>(buffer, 1.0 / 2147483648.0, 0.0, out);
        return true;
    case QAudioFormat::Float:
        mixDown<float>(buffer, 1.0, 0.0, out);
        return true;
    default:
        return false;
    }
}

/// Power of \a hz in the Hann-windowed samples [begin, begin + length) of \a sound.
double tonePower(const QList<float> &sound, qsizetype begin, qsizetype length, int sampleRate, double hz)
{
    // Goertzel's recurrence: one frequency's Fourier coefficient without a whole transform.
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / sampleRate);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (qsizetype i = 0; i < length; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(length - 1));
        const double current = double(sound[begin + i]) * hann + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

int dominantTone(const QList<float> &sound, qsizetype begin, qsizetype length, int sampleRate)
{
    int best = -1;
    double bestPower = 0.0;
    double runnerUp = 0.0;
    for (int k = 0; k < TonePlan::seconds; ++k) {
        const double power = tonePower(sound, begin, length, sampleRate, TonePlan::hz(k));
        if (power > bestPower) {
            runnerUp = bestPower;
            bestPower = power;
            best = k;
        } else {
            runnerUp = std::max(runnerUp, power);
        }
    }
    // A Hann-windowed sine of amplitude a gives a coefficient of a * length / 4.
    const double loudEnough = std::pow(quietestAmplitude * double(length) / 4.0, 2);
    return bestPower >= loudEnough && bestPower >= dominance * runnerUp ? best : -1;
}

/// The sample around which tone \a before gives way to tone \a after, searched between \a from
/// and \a to: the centre of the first window in which \a after is the louder.
qsizetype changeOfTone(const QList<float> &sound, int sampleRate, qsizetype window, int before, int after,
                       qsizetype from, qsizetype to)
{
    const auto step = std::max<qsizetype>(1, qsizetype(boundaryStepSeconds * sampleRate));
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, sound.size() - window);
    for (qsizetype begin = from; begin <= to; begin += step) {
        if (tonePower(sound, begin, window, sampleRate, TonePlan::hz(after))
            >= tonePower(sound, begin, window, sampleRate, TonePlan::hz(before)))
            return begin + window / 2;
    }
    return to + window / 2;
}

} // namespace

std::optional<QList<float>> decodeMono(const QString &path, int *sampleRate)
{
    // Qt's GStreamer decoder passes on what the MP3 decoder gives, planar samples, which its own
    // pipeline then refuses; asked for a whole format, it converts.
    const auto song = scanSong(fileSystemPath(path));
    if (!song)
        return std::nullopt;
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Float);
    format.setChannelCount(1);
    format.setSampleRate(song->sampleRate());
    QAudioDecoder decoder;
    decoder.setAudioFormat(format);
    decoder.setSource(QUrl::fromLocalFile(path));
    QList<float> sound;
    int rate = 0;
    bool failed = false;
    QEventLoop loop;
    QObject::connect(&decoder, &QAudioDecoder::bufferReady, &loop, [&] {
        const QAudioBuffer buffer = decoder.read();
        if (!buffer.isValid())
            return;
        rate = buffer.format().sampleRate();
        if (!appendBuffer(buffer, sound)) {
            failed = true;
            loop.quit();
        }
    });
    QObject::connect(&decoder, &QAudioDecoder::finished, &loop, &QEventLoop::quit);
    QObject::connect(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), &loop, [&] {
        failed = true;
        loop.quit();
    });
    QTimer::singleShot(decodeTimeoutMs, &loop, [&] {
        failed = true;
        loop.quit();
    });
    decoder.start();
    loop.exec();
    decoder.stop();
    if (failed || rate <= 0)
        return std::nullopt;
    if (sampleRate)
        *sampleRate = rate;
    return sound;
}

QList<int> dominantTones(const QList<float> &sound, int sampleRate, double windowSeconds)
{
    const auto window = qsizetype(windowSeconds * sampleRate);
    QList<int> tones;
    if (window < 2)
        return tones;
    for (qsizetype begin = 0; begin + window <= sound.size(); begin += window)
        tones.append(dominantTone(sound, begin, window, sampleRate));
    return tones;
}

std::optional<ToneSpan> toneSpan(const QList<float> &sound, int sampleRate)
{
    constexpr double windowSeconds = 0.05;
    const auto window = qsizetype(windowSeconds * sampleRate);
    const QList<int> tones = dominantTones(sound, sampleRate, windowSeconds);
    // The first and the last change from a tone to the next one of the plan, each given by the
    // last window of the tone before it and the first window of the tone behind it.
    std::optional<std::pair<qsizetype, qsizetype>> firstChange;
    std::optional<std::pair<qsizetype, qsizetype>> lastChange;
    qsizetype previous = -1;
    for (qsizetype w = 0; w < tones.size(); ++w) {
        if (tones[w] < 0)
            continue;
        if (previous >= 0 && tones[w] == tones[previous] + 1) {
            if (!firstChange)
                firstChange = {previous, w};
            lastChange = {previous, w};
        }
        previous = w;
    }
    if (!firstChange)
        return std::nullopt;

    // The change lies between the middles of those two windows.
    const auto place = [&](std::pair<qsizetype, qsizetype> change) {
        const int before = tones[change.first];
        const qsizetype at = changeOfTone(sound, sampleRate, window, before, before + 1,
                                          change.first * window, change.second * window);
        return std::pair{before + 1, double(at) / sampleRate};
    };
    const auto [firstTone, firstAt] = place(*firstChange);
    const auto [lastTone, lastAt] = place(*lastChange);
    const double length = double(sound.size()) / sampleRate;
    return ToneSpan{firstTone - firstAt, lastTone + (length - lastAt)};
}

std::optional<ToneSpan> toneSpan(const QString &piecePath)
{
    int rate = 0;
    const auto sound = decodeMono(piecePath, &rate);
    if (!sound)
        return std::nullopt;
    return toneSpan(*sound, rate);
}
