// Prints what a cut from the command line costs as a whole process, beside dd copying the same
// bytes and, where they are installed, other command-line cutters cutting the same stretch.
// Figures only: nothing here passes or fails on timing.

#include "core/numbertext.h"
#include "core/pathrules.h"
#include "engine/placement.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int runs = 11;
constexpr double pieceSeconds = 30.0;

/// A 64 MiB song at a constant 320 kbit/s: a minute of two tones encoded once, its frames repeated.
bool makeSong(const QDir &dir, const QString &song)
{
    const QString wav = dir.filePath(QStringLiteral("minute.wav"));
    const QString minute = dir.filePath(QStringLiteral("minute.mp3"));
    if (!runTool(QStringLiteral("sox"), {QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                         QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"),
                                         wav, QStringLiteral("synth"), QStringLiteral("60"), QStringLiteral("sine"),
                                         QStringLiteral("440"), QStringLiteral("sine"), QStringLiteral("660")})
        || !runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("320"),
                                         QStringLiteral("--cbr"), QStringLiteral("-t"), wav, minute}))
        return false;
    QFile in(minute);
    return in.open(QIODevice::ReadOnly) && repeatToSize(in.readAll(), song, 64 * MiB);
}

/// The song's bytes the cut copies for marks \a start and \a end, placed as the program places them.
std::optional<ByteRange> keptBytes(const SongMap &song, double start, double end)
{
    const auto placed = placePiece(song, start, end);
    if (!std::holds_alternative<Placement>(placed))
        return std::nullopt;
    const std::vector<ByteRange> ranges = frameRanges(song, std::get<Placement>(placed));
    return ByteRange{ranges.front().offset, ranges.back().offset + ranges.back().length - ranges.front().offset};
}

/// Median wall-clock milliseconds of \a runs runs of the whole process, after one untimed run.
std::optional<double> medianMs(const QString &program, const QStringList &args)
{
    std::vector<double> ms;
    for (int i = 0; i <= runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!runTool(program, args))
            return std::nullopt;
        if (i > 0)
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

QString minutesDotSeconds(double seconds)
{
    return QStringLiteral("%1.%2").arg(int(seconds) / 60).arg(int(seconds) % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../mp3cutter"));
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    if (!QFile::exists(program) || !tmp.isValid() || !makeSong(dir, song)) {
        std::fprintf(stderr, "needs the built program beside this benchmark, sox and lame\n");
        return 1;
    }
    const auto map = scanSong(fileSystemPath(song));
    const double middle = map ? std::floor(map->duration() / 2) : 0.0;
    const double start = middle - pieceSeconds / 2;
    const double end = middle + pieceSeconds / 2;
    const auto kept = map ? keptBytes(*map, start, end) : std::nullopt;
    if (!kept) {
        std::fprintf(stderr, "cannot work out the kept bytes\n");
        return 1;
    }
    std::printf("%.0f MiB song at 320 kbit/s, %.0f s to %.0f s (%lld bytes); whole processes, median of %d, page "
                "cache warm\n",
                double(QFile(song).size()) / MiB, start, end, static_cast<long long>(kept->length), runs);

    const QString out = dir.filePath(QStringLiteral("out.mp3"));
    const auto ours = medianMs(program, {QStringLiteral("--cut"), generalText(start), generalText(end), song,
                                         QStringLiteral("-o"), out, QStringLiteral("--overwrite")});
    if (!ours) {
        std::fprintf(stderr, "mp3cutter --cut failed\n");
        return 1;
    }
    std::printf("%-34s %8.2f ms\n", "mp3cutter --cut", *ours);
    const auto report = [&](const char *what, const QString &yardstick, const QStringList &args) {
        if (QStandardPaths::findExecutable(yardstick).isEmpty()) {
            std::printf("%-34s not installed\n", what);
            return;
        }
        const auto ms = medianMs(yardstick, args);
        if (!ms)
            std::printf("%-34s failed\n", what);
        else
            std::printf("%-34s %8.2f ms   mp3cutter / it: %.2f\n", what, *ms, *ours / *ms);
    };
    report("dd of the same bytes", QStringLiteral("dd"),
           {QStringLiteral("if=") + song, QStringLiteral("of=") + dir.filePath(QStringLiteral("dd.mp3")),
            QStringLiteral("bs=1M"), QStringLiteral("skip=%1").arg(kept->offset), QStringLiteral("count=%1").arg(kept->length),
            QStringLiteral("iflag=skip_bytes,count_bytes"), QStringLiteral("status=none")});
    report("mp3splt, same stretch", QStringLiteral("mp3splt"),
           {QStringLiteral("-q"), QStringLiteral("-d"), dir.path(), QStringLiteral("-o"), QStringLiteral("splt"), song,
            minutesDotSeconds(start), minutesDotSeconds(end)});
    report("ffmpeg -c copy, same stretch", QStringLiteral("ffmpeg"),
           {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-ss"),
            generalText(start), QStringLiteral("-to"), generalText(end), QStringLiteral("-i"), song, QStringLiteral("-c"),
            QStringLiteral("copy"), dir.filePath(QStringLiteral("ff.mp3"))});
    return 0;
}
