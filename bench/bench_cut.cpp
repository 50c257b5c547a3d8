// Prints how a cut through the session compares with a plain copy of the same bytes, whether it
// grows with the song or only with the piece, how long the event loop goes without a turn while it
// writes, whether its memory grows, what fading the piece in and out costs beside the cut, and how soon a piece whose end is moved is back in the piece player. Figures only: nothing here passes or fails on timing.

#include "sessionrig.h"
#include "tools.h"

#include "core/pathrules.h"
#include "engine/gain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int runs = 15;
constexpr double pieceSeconds = 30.0;
constexpr double longGapMs = 10.0;
/// MPEG-1 layer III at 320 kbit/s and 48 kHz: 960 bytes and 24 ms a frame.
constexpr qint64 frameBytes = 960;
constexpr double frameSeconds = 0.024;

/// A constant-bit-rate song written a chunk at a time: building it whole in memory would raise
/// the very peak this benchmark reports.
bool writeSong(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray frame(frameBytes, Qt::Uninitialized);
    const char header[] = {char(0xFF), char(0xFB), char(0xE4), char(0x44)};
    QByteArray chunk;
    for (qint64 done = 0; done + frameBytes <= size; done += frameBytes) {
        std::copy(header, header + 4, frame.begin());
        for (qint64 k = 4; k < frameBytes; ++k)
            frame[k] = char(((done + k) * 7 + (done + k) / 251) & 0x7F);
        chunk += frame;
        if (chunk.size() >= MiB) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size() && file.flush();
}

/// Dropping the page cache takes root and slows the whole machine, so instead the song is read
/// once beforehand and every timed run, plain or cut, finds it cached alike.
bool readThrough(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray buffer(MiB, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = file.read(buffer.data(), buffer.size())) > 0) {
    }
    return n == 0;
}

/// Milliseconds to copy \a length bytes of \a from at \a offset into \a to with a 1 MiB buffer,
/// opening, flushing and closing both.
std::optional<double> plainCopyMs(const QString &from, qint64 offset, qint64 length, const QString &to)
{
    QElapsedTimer clock;
    clock.start();
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(offset) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::nullopt;
    QByteArray buffer(MiB, Qt::Uninitialized);
    for (qint64 left = length; left > 0;) {
        const qint64 n = in.read(buffer.data(), std::min(left, MiB));
        if (n <= 0 || out.write(buffer.constData(), n) != n)
            return std::nullopt;
        left -= n;
    }
    if (!out.flush())
        return std::nullopt;
    out.close();
    return double(clock.nsecsElapsed()) / 1e6;
}

struct CutRun
{
    bool ok = false;
    double ms = 0;
    double longestGapMs = 0;
    int gapsOverLimit = 0;
    qint64 offset = 0;
    qint64 length = 0;
    /// Fading the piece in and out, once it is cut.
    double fadeMs = 0;
    bool faded = false;
};

/// Marks 30 s around the middle of the song and cuts, timed from the end mark to cutEnded while
/// a 1 ms timer stamps every turn the event loop gets.
CutRun cutThroughSession(SessionRig &rig, double duration)
{
    const double start = duration / 2 - pieceSeconds / 2;
    rig.song.moveTo(start);
    rig.session.markStart();
    rig.song.moveTo(start + pieceSeconds);

    CutRun run;
    QEventLoop loop;
    EventGaps gaps(longGapMs);
    QObject::connect(&rig.session, &CutSession::cutEnded, &loop, [&](bool ok) {
        run.ms = gaps.elapsedMs();
        gaps.turn();
        run.ok = ok;
        loop.quit();
    });
    rig.session.markEndAndCut();
    if (!rig.session.cutRunning())
        return run;
    loop.exec();
    run.longestGapMs = gaps.longestMs();
    run.gapsOverLimit = gaps.overLimit();
    const QList<qint32> &sizes = rig.session.state().lastCut.pieceSizes;
    run.offset = sizes.value(0);
    run.length = sizes.value(1);
    if (!run.ok)
        return run;
    const QString piece = rig.session.state().piece->path;
    QElapsedTimer clock;
    clock.start();
    run.faded = !applyGain(fileSystemPath(piece), {defaultFadeSeconds, defaultFadeSeconds, false});
    run.fadeMs = double(clock.nsecsElapsed()) / 1e6;
    QFile::remove(piece);
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// Cuts 30 s from the middle, then moves its end back and forth by a tenth of a second, each move
/// timed from the call to the piece player being given the new piece; the median, or nothing
/// when a move failed.
std::optional<double> moveEndMs(SessionRig &rig, double duration)
{
    const double start = duration / 2 - pieceSeconds / 2;
    rig.song.moveTo(start);
    rig.session.markStart();
    if (!rig.cutAt(start + pieceSeconds))
        return std::nullopt;
    std::vector<double> moves;
    for (int i = 0; i <= runs; ++i) {
        QEventLoop loop;
        QElapsedTimer clock;
        double ms = -1;
        QObject::connect(&rig.piece, &PlayerEngine::sourceChanged, &loop, [&](const QString &path) {
            if (path.isEmpty())
                return;
            ms = double(clock.nsecsElapsed()) / 1e6;
            loop.quit();
        });
        QObject::connect(&rig.session, &CutSession::cutEnded, &loop, [&](bool ok) {
            if (!ok)
                loop.quit();
        });
        clock.start();
        rig.session.moveEnd(start + pieceSeconds + (i % 2 == 0 ? -0.1 : 0.0));
        if (rig.session.cutRunning())
            loop.exec();
        if (ms < 0)
            return std::nullopt;
        if (i > 0)
            moves.push_back(ms);
    }
    rig.session.throwAway();
    return median(moves);
}

qint64 peakMemoryKB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.simplified().split(' ').value(1).toLongLong();
    }
    return -1;
}

struct SongFigures
{
    double plainMs = 0;
    double cutMs = 0;
    double fadeMs = 0;
    double longestGapMs = 0;
    int gapsOverLimit = 0;
    qint64 peakKB = 0;
};

std::optional<SongFigures> measure(const QString &folder, qint64 size)
{
    const QString song = folder + QStringLiteral("/song-%1.mp3").arg(size / MiB);
    if (!writeSong(song, size) || !readThrough(song)) {
        std::fprintf(stderr, "cannot write the %lld MiB song\n", static_cast<long long>(size / MiB));
        return std::nullopt;
    }
    const double duration = double(size / frameBytes) * frameSeconds;
    SessionRig rig;
    rig.song.nextDuration = duration;
    // Choosing the song reads all its frame headers, on another thread: the event loop must keep
    // its turns meanwhile.
    // A plain event loop, not the test rig's wait, which sleeps between its turns.
    bool taken = false;
    QEventLoop loop;
    QObject::connect(&rig.session, &CutSession::sourceTaken, &loop, [&] {
        taken = true;
        loop.quit();
    });
    QObject::connect(&rig.session, &CutSession::sourceRefused, &loop, &QEventLoop::quit);
    rig.prompts.openAnswers.enqueue(song);
    std::optional<EventGaps> gaps(std::in_place, longGapMs);
    rig.session.chooseSource();
    if (rig.session.opening())
        loop.exec();
    const double openingMs = gaps->elapsedMs();
    const double openingGapMs = gaps->longestMs();
    gaps.reset();
    if (!taken) {
        std::fprintf(stderr, "the song was refused\n");
        return std::nullopt;
    }
    std::printf("%4lld MiB song chosen and its frames read in %.1f ms; longest event gap meanwhile %.2f ms\n",
                static_cast<long long>(size / MiB), openingMs, openingGapMs);

    // Reading the song's frames maps the whole song for a moment, and its pages count as this
    // process's own until it lets go of them; the peak is measured from here, over the cuts alone.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        std::fprintf(stderr, "cannot reset the peak memory: it includes reading the song's frames\n");
    clearRefs.close();

    SongFigures figures;
    std::vector<double> plain;
    std::vector<double> cut;
    std::vector<double> fade;
    const QString copy = folder + QStringLiteral("/copy.mp3");
    for (int i = 0; i <= runs; ++i) {
        const CutRun run = cutThroughSession(rig, duration);
        const auto plainMs = plainCopyMs(song, run.offset, run.length, copy);
        QFile::remove(copy);
        if (!run.ok || !run.faded || !plainMs) {
            std::fprintf(stderr, "a cut, its fades or a plain copy failed\n");
            return std::nullopt;
        }
        // The first pair is not counted: it pays for pages the kernel hands out for the first time.
        if (i == 0)
            continue;
        cut.push_back(run.ms);
        fade.push_back(run.fadeMs);
        plain.push_back(*plainMs);
        figures.longestGapMs = std::max(figures.longestGapMs, run.longestGapMs);
        figures.gapsOverLimit += run.gapsOverLimit;
    }
    const auto moveMs = moveEndMs(rig, duration);
    if (!moveMs) {
        std::fprintf(stderr, "a move of the piece's end failed\n");
        return std::nullopt;
    }
    std::printf("%4lld MiB song: the %.0f s piece's end moved by 0.1 s and the new piece in the piece player in %.2f ms\n",
                static_cast<long long>(size / MiB), pieceSeconds, *moveMs);
    figures.plainMs = median(plain);
    figures.cutMs = median(cut);
    figures.fadeMs = median(fade);
    figures.peakKB = peakMemoryKB();
    std::printf("%4lld MiB song, %.0f s from its middle (%.2f MiB): cut %.2f ms, plain copy of those bytes %.2f ms,"
                " ratio %.2f x; longest event gap %.2f ms (%d over %.0f ms); peak memory while cutting %.1f MiB\n",
                static_cast<long long>(size / MiB), pieceSeconds, pieceSeconds / frameSeconds * frameBytes / MiB,
                figures.cutMs, figures.plainMs, figures.cutMs / figures.plainMs, figures.longestGapMs,
                figures.gapsOverLimit, longGapMs, double(figures.peakKB) / 1024.0);
    std::printf("%4lld MiB song: fading the %.0f s piece in and out, %.1f s each, %.2f ms beside its cut's %.2f ms"
                " (%.2f x)\n",
                static_cast<long long>(size / MiB), pieceSeconds, defaultFadeSeconds, figures.fadeMs, figures.cutMs,
                figures.fadeMs / figures.cutMs);
    QFile::remove(song);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || QStorageInfo(dir.path()).bytesAvailable() < 300 * MiB) {
        std::fprintf(stderr, "need 300 MiB free in a temporary folder\n");
        return 1;
    }
    std::printf("Cut benchmark in %s: medians of %d runs after one untimed run, page cache warm.\n",
                qPrintable(dir.path()), runs);
    const auto small = measure(dir.path(), 64 * MiB);
    const auto large = small ? measure(dir.path(), 256 * MiB) : std::nullopt;
    if (!large)
        return 1;
    std::printf("cut of the 256 MiB song / cut of the 64 MiB song: %.2f x; peak memory grew by %.1f MiB\n",
                large->cutMs / small->cutMs, double(large->peakKB - small->peakKB) / 1024.0);
    return 0;
}
