// What checking a piece of 30 s against its song costs in CPU time, beside the 30 s it plays: a
// song of 64 MiB at 320 kbit/s (a minute of noise encoded by lame, its frames repeated), the piece
// cut from its middle, mapped whole and mapped around the marks.

#include "core/pathrules.h"
#include "engine/piececheck.h"
#include "sessionrig.h"
#include "tools.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int runs = 5;
constexpr double pieceSeconds = 30;

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

/// The median CPU time of checking \a piece against \a song mapped by \a map, and its verdict.
std::pair<double, PieceCheck> measure(const std::filesystem::path &song, const SongMap &map, double from,
                                      const std::filesystem::path &piece)
{
    QList<double> times;
    PieceCheck check;
    for (int i = 0; i < runs; ++i) {
        const double before = cpuMs();
        check = checkPiece(song, map, from, from + pieceSeconds, piece);
        times.append(cpuMs() - before);
    }
    std::sort(times.begin(), times.end());
    return {times[runs / 2], check};
}

const char *verdictName(PieceCheck::Verdict verdict)
{
    switch (verdict) {
    case PieceCheck::Verdict::Exact:
        return "exact";
    case PieceCheck::Verdict::Offset:
        return "offset";
    case PieceCheck::Verdict::Mismatch:
        return "MISMATCH";
    case PieceCheck::Verdict::Failed:
        break;
    }
    return "FAILED";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("noise.wav"));
    const QString encoded = dir.filePath(QStringLiteral("noise.mp3"));
    const QString songPath = dir.filePath(QStringLiteral("song.mp3"));
    const QString piecePath = dir.filePath(QStringLiteral("piece.mp3"));
    if (!dir.isValid()
        || !runTool(QStringLiteral("sox"), {QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                            QStringLiteral("-c"), QStringLiteral("2"), wav, QStringLiteral("synth"),
                                            QStringLiteral("60"), QStringLiteral("pinknoise"), QStringLiteral("gain"), QStringLiteral("-6")})
        || !runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-t"), QStringLiteral("-b"),
                                             QStringLiteral("320"), wav, encoded})) {
        std::fprintf(stderr, "could not make the song with sox and lame\n");
        return 1;
    }
    QFile frames(encoded);
    if (!frames.open(QIODevice::ReadOnly) || !repeatToSize(frames.readAll(), songPath, 64 * MiB)) {
        std::fprintf(stderr, "could not write the song\n");
        return 1;
    }
    const auto song = fileSystemPath(songPath);
    const auto whole = scanSong(song);
    if (!whole) {
        std::fprintf(stderr, "could not map the song\n");
        return 1;
    }
    const double from = whole->duration() / 2;
    const auto around = mapSongFor(song, from, from + pieceSeconds);
    if (!around || !cutAsTheCommandLineDoes(songPath, from, from + pieceSeconds, piecePath)) {
        std::fprintf(stderr, "could not cut the piece\n");
        return 1;
    }
    const auto piece = fileSystemPath(piecePath);
    std::printf("a piece of %.0f s from the middle of a song of 64 MiB (%.0f s) at 320 kbit/s, page cache warm, "
                "median of %d:\n", pieceSeconds, whole->duration(), runs);
    for (const auto &[name, map] : {std::pair("mapped whole", &*whole), std::pair("mapped around the marks", &*around)}) {
        const auto [ms, check] = measure(song, *map, from, piece);
        std::printf("  %-24s %7.1f ms of CPU, %.2f %% of the time it plays (%s)\n", name, ms,
                    100.0 * ms / (pieceSeconds * 1000.0), verdictName(check.verdict));
    }
    return 0;
}
