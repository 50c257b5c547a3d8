#pragma once

#include <QList>
#include <QString>

#include <optional>

/// The sound of the tone fixtures vbr-tones.mp3, vbr-tones-id3.mp3 and cbr-tones.mp3, which
/// scripts/make-fixtures makes: second k of the song holds a pure tone of hz(k). Keep in step
/// with the script.
namespace TonePlan {
constexpr int seconds = 16;
constexpr double hz(int second)
{
    return 400.0 + 100.0 * second;
}
} // namespace TonePlan

/// The sound of the MP3 file at \a path as Qt Multimedia decodes it, its channels mixed down to
/// one, in samples from -1 to 1; its sample rate goes to \a sampleRate. Empty when it does not
/// decode or holds no MPEG audio frames.
std::optional<QList<float>> decodeMono(const QString &path, int *sampleRate);

/// The second of the tone plan whose tone rules each window of \a windowSeconds of \a sound,
/// one after the other; -1 where no tone does (silence, a change of tone, a click).
QList<int> dominantTones(const QList<float> &sound, int sampleRate, double windowSeconds = 0.05);

/// The times of the tone song at which a piece's sound begins and ends.
struct ToneSpan
{
    double from = 0.0;
    double to = 0.0;
};

/// Where in the tone song the sound of \a sound (decoded at \a sampleRate) lies, found from the
/// tones' changes nearest its ends: a piece cut from song second 7.0 to 13.0 gives about 7.0 and
/// 13.0, off by the decoder's delay (a few ms). Empty when no tone changes in the piece.
std::optional<ToneSpan> toneSpan(const QList<float> &sound, int sampleRate);

/// toneSpan() of the decoded file at \a piecePath; empty when it does not decode.
std::optional<ToneSpan> toneSpan(const QString &piecePath);
