// Prints how a cut through the window compares with a plain copy of the same bytes, how long
// the event loop goes without a turn while the cut copies, and whether the memory the cut
// takes grows with the file. Figures only: nothing here passes or fails on timing.

#include "app/frm.h"
#include "fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 sourceSize = 64 * MiB;
constexpr int runs = 3;
/// A cut that has not ended by then counts as failed rather than hanging the benchmark.
constexpr int cutTimeoutMs = 300'000;
constexpr double longGapMs = 10.0;

double toMiB(qint64 bytes)
{
    return double(bytes) / double(MiB);
}

/// Writes pattern bytes a chunk at a time: building the file whole in memory would raise the
/// very peak this benchmark reports.
bool writeSource(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk(MiB, Qt::Uninitialized);
    for (qint64 done = 0; done < size; done += chunk.size()) {
        chunk.resize(std::min(MiB, size - done));
        for (qsizetype k = 0; k < chunk.size(); ++k) {
            const qint64 i = done + k;
            chunk[k] = char((i * 7 + i / 251) & 0xff);
        }
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return file.flush();
}

/// Dropping the page cache takes root and slows the whole machine, so instead the source is
/// read once beforehand and every timed run, plain or cut, finds it cached alike.
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

/// Milliseconds to copy \a from to \a to with a 1 MiB buffer, opening, flushing and closing
/// both: the pace the disk and the kernel allow without any slicing.
std::optional<double> plainCopyMs(const QString &from, const QString &to)
{
    QElapsedTimer clock;
    clock.start();
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::nullopt;
    QByteArray buffer(MiB, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = in.read(buffer.data(), buffer.size())) > 0) {
        if (out.write(buffer.constData(), n) != n)
            return std::nullopt;
    }
    if (n < 0 || !out.flush())
        return std::nullopt;
    out.close();
    in.close();
    return double(clock.nsecsElapsed()) / 1e6;
}

/// How long the event loop went without a turn during one cut, in ms. The first gap runs from
/// the click to the first tick, the last one from the last tick to cutEnded; telling them from
/// the ones between shows whether a long wait comes from the copy or from what surrounds it.
struct Gaps
{
    double first = 0;
    double between = 0;
    double last = 0;
    int overLimit = 0;
    int ticks = 0;

    double longest() const { return std::max({first, between, last}); }
};

struct CutRun
{
    bool ok = false;
    double ms = 0;
    Gaps gaps;
    qint64 plannedKept = 0;
    qint64 keptSize = -1;
};

/// Cuts the middle half of \a source through a fresh window as a user would: choose the file,
/// mark the start at a quarter of the duration, press the end button at three quarters. Timed
/// from that press to cutEnded, while a 1 ms timer stamps every turn the event loop gets.
CutRun cutThroughWindow(const QString &source)
{
    Harness h;
    h.cmmDlg->answers.enqueue(source);
    h.click(QStringLiteral("cmdBrowseS"));
    const double duration = h.mdplay->m_duration.value_or(0.0);
    h.mdplay->m_position = duration * 0.25;
    h.click(QStringLiteral("cmdQ"));
    h.mdplay->m_position = duration * 0.75;

    CutRun run;
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastTurn = 0;
    // Gaps are folded in as they come: a growing list would allocate during the cut and blur
    // the memory figures.
    const auto gapSinceLastTurn = [&] {
        const qint64 now = clock.nsecsElapsed();
        const double gap = double(now - lastTurn) / 1e6;
        lastTurn = now;
        if (gap > longGapMs)
            ++run.gaps.overLimit;
        return gap;
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        const double gap = gapSinceLastTurn();
        if (run.gaps.ticks++ == 0)
            run.gaps.first = gap;
        else
            run.gaps.between = std::max(run.gaps.between, gap);
    });
    QObject::connect(h.frm.get(), &Frm::cutEnded, &loop, [&](bool ok) {
        run.ms = double(clock.nsecsElapsed()) / 1e6;
        run.gaps.last = gapSinceLastTurn();
        run.ok = ok;
        loop.quit();
    });
    QTimer::singleShot(cutTimeoutMs, &loop, &QEventLoop::quit);

    ticker.start();
    clock.start();
    h.click(QStringLiteral("Command1"));
    if (!h.frm->cutRunning()) {
        for (const auto &shown : h.messages->shown)
            std::fprintf(stderr, "the cut did not start: %s\n", qPrintable(shown.text));
        return run;
    }
    loop.exec();
    ticker.stop();

    for (const auto &shown : h.messages->shown)
        std::fprintf(stderr, "message during the cut: %s\n", qPrintable(shown.text));
    if (run.ok) {
        run.plannedKept = h.frm->state().pieceSizes.value(1, -1);
        const QString kept = h.mdst->url();
        run.keptSize = QFileInfo(kept).size();
        // The next run must create its pieces afresh, as the plain copy creates its file.
        QFile::remove(kept);
    }
    run.ok = run.ok && run.keptSize == run.plannedKept;
    return run;
}

struct Memory
{
    qint64 hwmKB = -1;
    qint64 rssKB = -1;
};

/// The peak and the present resident size of this process, from /proc/self/status.
Memory memoryNow()
{
    Memory memory;
    QFile status(QStringLiteral("/proc/self/status"));
    // A file of /proc tells no size, so it is read whole rather than line by line to its end.
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "VmHWM:")
            memory.hwmKB = fields[1].toLongLong();
        else if (fields[0] == "VmRSS:")
            memory.rssKB = fields[1].toLongLong();
    }
    return memory;
}

double kbToMiB(qint64 kb)
{
    return double(kb) / 1024.0;
}

double median(std::array<double, runs> values)
{
    std::sort(values.begin(), values.end());
    return values[runs / 2];
}

void printRuns(const char *what, const std::array<double, runs> &ms)
{
    std::printf("%-28s %8.1f ms   (median of %d: %.1f, %.1f, %.1f ms)\n", what, median(ms), runs, ms[0], ms[1],
                ms[2]);
}

/// Keeps, field by field, the worse of two cuts' gaps and adds up their counts.
Gaps worseOf(const Gaps &a, const Gaps &b)
{
    return {std::max(a.first, b.first), std::max(a.between, b.between), std::max(a.last, b.last),
            a.overLimit + b.overLimit, a.ticks + b.ticks};
}

void printGaps(const Gaps &gaps)
{
    std::printf("%-28s %8.1f ms   (%d over %.0f ms in %d timer ticks)\n", "  longest event gap", gaps.longest(),
                gaps.overLimit, longGapMs, gaps.ticks);
    std::printf("%-28s %8.1f ms click to first tick, %.1f ms between ticks, %.1f ms last tick to cutEnded\n",
                "    of which at most", gaps.first, gaps.between, gaps.last);
}

void printKept(const CutRun &run)
{
    std::printf("%-28s %8lld bytes, planned %lld: %s\n", "  kept piece", static_cast<long long>(run.keptSize),
                static_cast<long long>(run.plannedKept), run.keptSize == run.plannedKept ? "equal" : "DIFFERENT");
}

/// The largest second source that fits on the disk beside its three pieces, which together
/// take as much again; 0 when none does.
qint64 bigSourceSize(const QString &folder)
{
    const qint64 available = QStorageInfo(folder).bytesAvailable();
    for (const qint64 size : {256 * MiB, 128 * MiB}) {
        if (2 * size + 64 * MiB <= available)
            return size;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("song.mp3"));
    if (!dir.isValid() || !writeSource(source, sourceSize) || !readThrough(source)) {
        std::fprintf(stderr, "cannot write the %.0f MiB source in %s\n", toMiB(sourceSize), qPrintable(dir.path()));
        return 1;
    }
    std::printf("Cut benchmark in %s\n", qPrintable(dir.path()));
    std::printf("The page cache is not dropped: each source is read once first, so every run finds it cached.\n");
    std::printf("After one untimed pair, runs alternate plain copy and cut, %d of each.\n\n", runs);

    // One untimed pair first, so that what only the first run pays (pages the kernel hands
    // out for the first time, the first window shown) lands in none of the figures.
    const QString copy = dir.filePath(QStringLiteral("copy.mp3"));
    const bool warmedUp = plainCopyMs(source, copy).has_value() && cutThroughWindow(source).ok;
    QFile::remove(copy);
    if (!warmedUp) {
        std::fprintf(stderr, "the untimed first copy or cut failed\n");
        return 1;
    }

    const Memory beforeCuts = memoryNow();
    std::array<double, runs> plainMs{};
    std::array<double, runs> cutMs{};
    Gaps gaps;
    CutRun lastRun;
    for (int i = 0; i < runs; ++i) {
        const auto plain = plainCopyMs(source, copy);
        QFile::remove(copy);
        if (!plain) {
            std::fprintf(stderr, "the plain copy failed\n");
            return 1;
        }
        plainMs[i] = *plain;

        lastRun = cutThroughWindow(source);
        if (!lastRun.ok) {
            printKept(lastRun);
            std::fprintf(stderr, "the cut failed\n");
            return 1;
        }
        cutMs[i] = lastRun.ms;
        gaps = worseOf(gaps, lastRun.gaps);
    }
    const Memory afterCuts = memoryNow();

    std::printf("%-28s %8.0f MiB\n", "source", toMiB(sourceSize));
    printRuns("plain copy, 1 MiB buffer", plainMs);
    printRuns("cut through the window", cutMs);
    std::printf("%-28s %8.2f ×\n", "  ratio cut / plain", median(cutMs) / median(plainMs));
    printKept(lastRun);
    printGaps(gaps);
    std::printf("%-28s %8.1f MiB  (%.1f MiB before the timed runs)\n", "peak memory (VmHWM)",
                kbToMiB(afterCuts.hwmKB), kbToMiB(beforeCuts.hwmKB));
    std::printf("%-28s %8.1f MiB  (%.1f MiB before the timed runs)\n", "resident now (VmRSS)",
                kbToMiB(afterCuts.rssKB), kbToMiB(beforeCuts.rssKB));

    // If the cut held more of the file in memory the bigger the file, the peak after a cut of
    // a bigger source would rise above the one after the small cuts.
    QFile::remove(source);
    const qint64 bigSize = bigSourceSize(dir.path());
    if (bigSize == 0) {
        std::printf("\nNot enough disk for a larger source: memory growth not measured.\n");
        return 0;
    }
    const QString big = dir.filePath(QStringLiteral("big.mp3"));
    if (!writeSource(big, bigSize) || !readThrough(big)) {
        std::fprintf(stderr, "cannot write the %.0f MiB source\n", toMiB(bigSize));
        return 1;
    }
    const CutRun bigRun = cutThroughWindow(big);
    const Memory afterBig = memoryNow();
    QFile::remove(big);
    std::printf("\n%-28s %8.0f MiB\n", "second source", toMiB(bigSize));
    printKept(bigRun);
    if (!bigRun.ok) {
        std::fprintf(stderr, "the cut of the %.0f MiB source failed\n", toMiB(bigSize));
        return 1;
    }
    std::printf("%-28s %8.1f ms   (one run)\n", "cut through the window", bigRun.ms);
    printGaps(bigRun.gaps);
    std::printf("%-28s %8.1f MiB  (VmRSS %.1f MiB)\n", "peak memory (VmHWM)", kbToMiB(afterBig.hwmKB),
                kbToMiB(afterBig.rssKB));
    std::printf("%-28s %8.2f MiB  (VmHWM after the %.0f MiB cut minus after the %.0f MiB cuts)\n", "peak growth",
                kbToMiB(afterBig.hwmKB - afterCuts.hwmKB), toMiB(bigSize), toMiB(sourceSize));
    return 0;
}
