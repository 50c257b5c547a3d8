// How long reading a song's frame map takes beside one plain read of its bytes, page cache
// warm, for songs of 64 and 256 MiB at 320 kbit/s; how long the map a cut of 30 s from the middle
// reads takes (every frame up to the piece's end is walked); libmpg123's own frame index, for
// contrast; and how long finding the first frame of a song behind 100 MiB of junk takes beside
// a plain read of the junk.

#include "core/pathrules.h"
#include "engine/songmap.h"

#include <mpg123.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

constexpr int runs = 9;
constexpr qint64 block = 1 << 20;

/// A song of \a bytes of MPEG-1 layer 3 frames at 320 kbit/s, 44.1 kHz, padded as an encoder pads
/// them to keep the bit rate, each filled with a pattern.
bool writeSong(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray frame(1045, '\0');
    for (int i = 4; i < frame.size(); ++i)
        frame[i] = char((i * 7) & 0x7F);
    QByteArray chunk;
    qint64 written = 0;
    for (qint64 n = 0; written < bytes; ++n) {
        // 320 kbit/s at 44.1 kHz is 1044 44/49 bytes a frame: 44 frames in every 49 are padded,
        // each where the fraction comes to a whole byte.
        const bool padded = (n + 1) * 44 / 49 > n * 44 / 49;
        qToBigEndian<quint32>(padded ? 0xFFFBE244u : 0xFFFBE044u, frame.data());
        chunk += frame.left(padded ? 1045 : 1044);
        written += padded ? 1045 : 1044;
        if (chunk.size() >= block) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

qint64 plainRead(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QByteArray buffer(block, '\0');
    qint64 total = 0;
    for (qint64 n; (n = file.read(buffer.data(), block)) > 0;)
        total += n;
    return total;
}

double medianMs(const std::function<void()> &work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[runs / 2];
}

/// The frames libmpg123 counts in the song, reading its whole index with mpg123_scan; -1 when it
/// cannot.
std::int64_t mpg123Frames(const QString &path)
{
    mpg123_handle *handle = mpg123_new(nullptr, nullptr);
    if (!handle)
        return -1;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    std::int64_t frames = -1;
    if (mpg123_open(handle, QFile::encodeName(path).constData()) == MPG123_OK && mpg123_scan(handle) == MPG123_OK)
        frames = mpg123_framelength(handle);
    mpg123_close(handle);
    mpg123_delete(handle);
    return frames;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::printf("%-8s %8s %12s %12s %7s %15s %12s %10s\n", "song", "frames", "map ms", "read ms", "ratio",
                "piece's map ms", "mpg123 ms", "its frames");
    for (const int mib : {64, 256}) {
        const QString path = dir.filePath(QStringLiteral("song-%1.mp3").arg(mib));
        if (!writeSong(path, qint64(mib) << 20)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        plainRead(path);
        const std::filesystem::path songPath = fileSystemPath(path);
        std::int64_t frames = 0;
        const double scan = medianMs([&] {
            const auto song = scanSong(songPath);
            frames = song ? song->frameCount() : 0;
        });
        const double read = medianMs([&] { plainRead(path); });
        // 30 s from the middle: 1,149 frames of 26 ms.
        const double middle = double(frames) * 1152 / 44100 / 2;
        const double piece = medianMs([&] { mapSongFor(songPath, middle - 15, middle + 15); });
        std::int64_t indexed = 0;
        const double index = medianMs([&] { indexed = mpg123Frames(path); });
        std::printf("%3d MiB  %8lld %12.2f %12.2f %7.2f %15.3f %12.1f %10lld\n", mib, static_cast<long long>(frames), scan,
                    read, scan / read, piece, index, static_cast<long long>(indexed));
        QFile::remove(path);
    }

    const QString junk = dir.filePath(QStringLiteral("junk.mp3"));
    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    QFile junkFile(junk);
    if (!writeSong(song, block) || !junkFile.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(junk));
        return 1;
    }
    // Random bytes hold a 0xFF every 256 and now and then a frame header.
    std::mt19937 random(1);
    QByteArray bytes(block, '\0');
    for (int mib = 0; mib < 100; ++mib) {
        std::generate(bytes.begin(), bytes.end(), [&] { return char(random()); });
        junkFile.write(bytes);
    }
    QFile songFile(song);
    if (!songFile.open(QIODevice::ReadOnly) || junkFile.write(songFile.readAll()) <= 0 || !junkFile.flush()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(junk));
        return 1;
    }
    plainRead(junk);
    const std::filesystem::path junkPath = fileSystemPath(junk);
    const double found = medianMs([&] { findAudioStart(junkPath); });
    const double readJunk = medianMs([&] { plainRead(junk); });
    std::printf("\nfirst frame behind 100 MiB of junk: %.2f ms, a plain read %.2f ms, ratio %.2f\n", found, readJunk,
                found / readJunk);
    return 0;
}
