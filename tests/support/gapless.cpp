#include "gapless.h"

#include "corefakes.h"

#include <QFile>

#include <mpg123.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {

/// Samples at a piece's head that may differ from the song's where the decoder starts cold.
constexpr qsizetype warmUp = 16;
/// How far a value may stray. The same frames decoded after fewer frames before them give here and
/// there a value one step off: libmpg123's synthesis filter works through a ring buffer whose turn
/// depends on how much it has decoded, and so rounds its sums in another order.
constexpr int roundingSlack = 1;
/// How far from the marks a piece's sound is looked for in the song, in samples.
constexpr qsizetype searchReach = 8192;

/// Where in \a song the sound of \a piece lies: the song sample that its first one matches,
/// judged by a stretch from its middle, looked for within searchReach of \a near; with the
/// largest difference of a value there.
std::pair<qsizetype, int> locate(const DecodedSound &piece, const DecodedSound &song, qsizetype near)
{
    const int ch = song.channels;
    const qsizetype probeLength = std::min<qsizetype>(256, piece.length());
    const qsizetype probeAt = (piece.length() - probeLength) / 2;
    std::pair<qsizetype, int> best{near, std::numeric_limits<int>::max()};
    const qsizetype lowest = std::max(near - searchReach, -probeAt);
    const qsizetype highest = std::min(near + searchReach, song.length() - probeAt - probeLength);
    for (qsizetype at = lowest; at <= highest && best.second > 0; ++at) {
        int largest = 0;
        for (qsizetype i = probeAt * ch; i < (probeAt + probeLength) * ch && largest < best.second; ++i)
            largest = std::max(largest, std::abs(piece.samples[i] - song.samples[at * ch + i]));
        if (largest < best.second)
            best = {at, largest};
    }
    return best;
}

QString earlyOrLate(qsizetype by)
{
    if (by == 0)
        return QStringLiteral("on the mark");
    return QStringLiteral("%1 sample%2 %3")
        .arg(std::abs(by))
        .arg(std::abs(by) == 1 ? QString() : QStringLiteral("s"), by < 0 ? QStringLiteral("early") : QStringLiteral("late"));
}


/// Runs \a work with stderr going to a temporary file, and returns the lines written there.
/// libmpg123 (1.31) tells of a damaged frame, of junk it skips and of a stream it cannot follow
/// only by printing to stderr; its return codes stay MPG123_OK. At its default verbosity it
/// prints nothing else, so every line is a problem.
QStringList stderrLinesOf(const std::function<void()> &work)
{
    std::FILE *caught = std::tmpfile();
    const int saved = caught ? ::dup(STDERR_FILENO) : -1;
    if (saved < 0) {
        if (caught)
            std::fclose(caught);
        work();
        return {QStringLiteral("stderr could not be caught: whatever libmpg123 said went uncounted")};
    }
    std::fflush(stderr);
    ::dup2(::fileno(caught), STDERR_FILENO);
    work();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);

    std::rewind(caught);
    QByteArray text;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), caught)) > 0;)
        text.append(buffer.data(), qsizetype(n));
    std::fclose(caught);
    QStringList lines;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(QString::fromLocal8Bit(line.trimmed()));
    }
    return lines;
}

void decodeInto(DecodedSound &sound, const QString &path, Trim trim)
{
    // Needed before libmpg123 1.27, harmless since.
    mpg123_init();
    int error = MPG123_OK;
    const std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> handle(mpg123_new(nullptr, &error),
                                                                          &mpg123_delete);
    if (!handle) {
        sound.problems.append(QStringLiteral("mpg123_new: ") + QString::fromLocal8Bit(mpg123_plain_strerror(error)));
        return;
    }
    mpg123_handle *mh = handle.get();
    const auto fail = [&](const char *what) {
        sound.problems.append(QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(mpg123_strerror(mh)));
    };
    mpg123_param(mh, trim == Trim::Gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    // Every rate and channel count as it is, in 16-bit integers: nothing resampled or mixed.
    mpg123_format_none(mh);
    const long *rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, QFile::encodeName(path).constData()) != MPG123_OK) {
        fail("mpg123_open");
        return;
    }

    std::array<unsigned char, 1 << 15> buffer{};
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(mh, buffer.data(), buffer.size(), &done);
        const qsizetype have = sound.samples.size();
        sound.samples.resize(have + qsizetype(done / sizeof(qint16)));
        // An empty list has no storage yet: a copy of nothing to its null would be undefined.
        if (done > 0)
            std::memcpy(sound.samples.data() + have, buffer.data(), done);
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (!sound.samples.isEmpty() && (rate != sound.rate || channels != sound.channels))
                sound.problems.append(QStringLiteral("the sound changes its rate or channels midway"));
            sound.rate = int(rate);
            sound.channels = channels;
        } else if (result == MPG123_DONE) {
            break;
        } else if (result != MPG123_OK) {
            fail("mpg123_read");
            break;
        }
    }
    long stitched = 0;
    if (mpg123_getstate(mh, MPG123_FRANKENSTEIN, &stitched, nullptr) == MPG123_OK && stitched != 0)
        sound.problems.append(QStringLiteral("libmpg123 takes the stream for several stitched together"));
    mpg123_close(mh);
}

} // namespace

DecodedSound decodeMp3(const QString &path, Trim trim)
{
    DecodedSound sound;
    const QStringList complaints = stderrLinesOf([&] { decodeInto(sound, path, trim); });
    sound.problems = complaints + sound.problems;
    return sound;
}

std::optional<InfoFrame> readInfoFrame(const QString &path)
{
    const QByteArray file = readAll(path);
    const auto byte = [&file](qsizetype at) -> quint32 { return at < file.size() ? quint8(file[at]) : 0u; };
    const auto word = [&byte](qsizetype at) { return byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3); };

    qsizetype at = 0;
    if (file.startsWith("ID3"))
        at = 10 + qsizetype(byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9)) + ((byte(5) & 0x10) ? 10 : 0);
    const auto layer3Header = [&](qsizetype h) {
        return byte(h) == 0xFF && (byte(h + 1) & 0xE6) == 0xE2 && (byte(h + 1) & 0x18) != 0x08
               && (byte(h + 2) >> 4) != 0 && (byte(h + 2) >> 4) != 15 && (byte(h + 2) & 0x0C) != 0x0C;
    };
    while (at + 4 <= file.size() && !layer3Header(at))
        ++at;
    if (at + 4 > file.size())
        return std::nullopt;

    const quint32 version = byte(at + 1) >> 3 & 3;   // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const bool mpeg1 = version == 3;
    const bool mono = byte(at + 3) >> 6 == 3;
    constexpr std::array<std::array<int, 15>, 2> kbps{{{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                                       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
    const int rate = std::array{44100, 48000, 32000}[byte(at + 2) >> 2 & 3] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const qsizetype frameEnd = at + (mpeg1 ? 144 : 72) * kbps[mpeg1 ? 1 : 0][byte(at + 2) >> 4] * 1000 / rate
                               + (byte(at + 2) >> 1 & 1);

    // Where the side information of an audio frame would be; libmpg123 takes the frame for a Xing
    // or Info frame only when that is all zero, but for the two bytes a CRC may take.
    const qsizetype tag = at + 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    for (qsizetype i = at + 6; i < tag; ++i) {
        if (byte(i) != 0)
            return std::nullopt;
    }
    if (file.mid(tag, 4) != "Xing" && file.mid(tag, 4) != "Info")
        return std::nullopt;

    InfoFrame info;
    info.samplesPerFrame = mpeg1 ? 1152 : 576;
    const quint32 flags = word(tag + 4);
    qsizetype next = tag + 8;
    if (flags & 1) {
        info.frames = word(next);
        next += 4;
    }
    next += (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    // The LAME tag: 9 bytes of encoder name, revision, lowpass, 8 bytes of replay gain, flags and
    // bit rate, then delay and padding in 12 bits each. A zero first byte means there is none.
    if (next + 24 <= frameEnd && byte(next) != 0) {
        info.delay = int(byte(next + 21) << 4 | byte(next + 22) >> 4);
        info.padding = int((byte(next + 22) & 0x0F) << 8 | byte(next + 23));
    }
    return info;
}

/// What is wrong with \a piece as the samples [\a first, \a last) of \a song, told as where its
/// sound lies or how its values stray; empty when nothing is.
QStringList soundFaults(const DecodedSound &piece, const DecodedSound &song, qsizetype first, qsizetype last)
{
    if (piece.rate != song.rate || piece.channels != song.channels)
        return {QStringLiteral("it decodes to %1 Hz in %2 channels, the song to %3 Hz in %4")
                    .arg(piece.rate).arg(piece.channels).arg(song.rate).arg(song.channels)};
    if (piece.length() == 0)
        return {QStringLiteral("it decodes to no sound")};
    const auto [start, mismatch] = locate(piece, song, first);
    if (mismatch > roundingSlack)
        return {QStringLiteral("its sound is nowhere within %1 samples of the marks in the song (closest at sample %2, "
                               "where its values differ by up to %3)").arg(searchReach).arg(start).arg(mismatch)};
    const qsizetype end = start + piece.length();
    if (start != first || end != last)
        return {QStringLiteral("it holds the song's samples [%1, %2): it starts %3 and ends %4")
                    .arg(start).arg(end).arg(earlyOrLate(start - first), earlyOrLate(end - last))};

    const int ch = song.channels;
    qsizetype straying = 0;
    int worst = 0;
    int worstAtHead = 0;
    for (qsizetype i = 0; i < piece.samples.size(); ++i) {
        const int by = std::abs(piece.samples[i] - song.samples[first * ch + i]);
        if (i < warmUp * ch) {
            worstAtHead = std::max(worstAtHead, by);
        } else {
            worst = std::max(worst, by);
            straying += by > roundingSlack ? 1 : 0;
        }
    }
    if (straying > 0)
        return {QStringLiteral("%1 of its values past the first %2 samples differ from the song's by more than %3, "
                               "by up to %4").arg(straying).arg(warmUp).arg(roundingSlack).arg(worst)};
    if (std::max(worst, worstAtHead) > 0)
        qInfo("values differ from the song's by up to %d in the first %lld samples, by up to %d after them",
              worstAtHead, qlonglong(warmUp), worst);
    return {};
}
