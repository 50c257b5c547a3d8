#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

/// The sound of an MP3 file as libmpg123 decodes it, in 16-bit samples.
struct DecodedSound
{
    /// Interleaved: one value per channel for each moment.
    QList<qint16> samples;
    int rate = 0;
    int channels = 0;
    /// What went wrong on the way, a line each: libmpg123's complaints and failing calls. A file
    /// that decodes cleanly has none.
    QStringList problems;

    /// Samples per channel.
    qsizetype length() const { return channels > 0 ? samples.size() / channels : 0; }
};

enum class Trim {
    /// Drops the encoder delay and padding the LAME tag names, as a gapless player does;
    /// libmpg123 trims nothing where there is no LAME tag.
    Gapless,
    /// Every sample of every frame.
    Raw,
};

/// Decodes the file at \a path. libmpg123 only prints what goes wrong, on stderr, so stderr is
/// caught while it decodes: call this while no other thread writes there.
DecodedSound decodeMp3(const QString &path, Trim trim = Trim::Gapless);

/// What the Xing or Info frame in front of a file's audio says about its length.
struct InfoFrame
{
    int samplesPerFrame = 0;
    /// Audio frames behind it, when it counts them.
    std::optional<quint32> frames;
    /// Samples a gapless decoder drops at the start and at the end, from the LAME tag; both
    /// empty without one.
    std::optional<int> delay;
    std::optional<int> padding;
};

/// The Xing or Info frame of the file at \a path, read from its bytes as libmpg123 finds it:
/// the first Layer III frame (behind an ID3v2 tag), all zero up to the tag. Empty when there is none.
std::optional<InfoFrame> readInfoFrame(const QString &path);

/// What is wrong with \a piece as the samples [\a first, \a last) of \a song, both decoded
/// gapless, told as where its sound lies or how its values stray; empty when nothing is.
QStringList soundFaults(const DecodedSound &piece, const DecodedSound &song, qsizetype first, qsizetype last);
