// How long reading a song's frame map takes beside one plain read of its bytes, page cache
// warm, for songs of 64 and 256 MiB at 320 kbit/s.

#include "core/pathrules.h"
#include "engine/songmap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>

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
    for (int n = 0; written < bytes; ++n) {
        // 320 kbit/s at 44.1 kHz is 1044.9 bytes a frame: padded but one frame in about ten.
        const bool padded = n % 10 != 0;
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

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::printf("%-8s %8s %12s %12s %7s\n", "song", "frames", "map ms", "read ms", "ratio");
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
        std::printf("%3d MiB  %8lld %12.2f %12.2f %7.2f\n", mib, static_cast<long long>(frames), scan, read, scan / read);
        QFile::remove(path);
    }
    return 0;
}
