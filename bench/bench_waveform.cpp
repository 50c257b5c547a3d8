// Prints how long a song takes from the start of its decode to the last of its peaks, beside one
// plain read of its bytes, for a 5-minute and a 64 MiB (28-minute) song at 320 kbit/s, decoded in
// one stretch and in one stretch a core; when the first picture of the whole song arrives, and
// the sound for its analysis; the CPU time the decode takes, every thread together; and the
// longest the event loop goes without a turn meanwhile.
// Figures only: nothing here passes or fails on timing.

#include "core/waveformloader.h"
#include "platform/mpg123decoder.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

#include <sys/resource.h>
#include <vector>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int readRuns = 9;
constexpr int decodeRuns = 5;
constexpr double longGapMs = 10.0;

/// Five minutes of noise under a sweeping tone at 320 kbit/s: \a tagged with the LAME tag that
/// tells its length and delays, as an encoder writes it, or without, to be repeated.
bool encodeFiveMinutes(const QDir &dir, const QString &mp3, bool tagged)
{
    const QString wav = dir.filePath(QStringLiteral("five.wav"));
    const QStringList synth = QStringList{QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"),
                                          QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"), wav}
                              + QStringLiteral("synth 300 pinknoise sine 300-900 gain -6").split(u' ');
    if (!QFile::exists(wav) && !runTool(QStringLiteral("sox"), synth))
        return false;
    QStringList args{QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("320"), QStringLiteral("--cbr")};
    if (!tagged)
        args << QStringLiteral("-t");
    return runTool(QStringLiteral("lame"), args << wav << mp3);
}

double plainReadMs(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QByteArray buffer(MiB, Qt::Uninitialized);
    while (file.read(buffer.data(), MiB) > 0) {
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

/// CPU time this process has taken so far, every thread together.
double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct DecodeRun
{
    double cpuMs = 0;
    double firstPeaksMs = 0;
    double analysisMs = 0;
    double allPeaksMs = 0;
    double longestGapMs = 0;
    int gapsOverLimit = 0;
    int blocks = 0;
    double seconds = 0;
    bool complete = false;
};

/// Loads \a path into a loader and spins a plain event loop until its decode ends, measuring the
/// loop's gaps meanwhile.
DecodeRun decodeToPeaks(const QString &path, int stretches)
{
    DecodeRun result;
    WaveformLoader loader(&Mpg123Decoder::make, nullptr, stretches);
    QEventLoop loop;
    EventGaps gaps(longGapMs);
    QObject::connect(&loader, &WaveformLoader::analysisReady, &loop, [&] { result.analysisMs = gaps.elapsedMs(); });
    QObject::connect(&loader, &WaveformLoader::changed, &loop, [&] {
        gaps.turn();
        // The first picture that spans the whole song, rough or decoded.
        const PeakBuckets &peaks = loader.peaks();
        if (result.firstPeaksMs == 0 && peaks.sampleRate > 0 && loader.length()
            && qint64(peaks.buckets.size()) * peaks.bucketFrames >= qint64(*loader.length() * peaks.sampleRate))
            result.firstPeaksMs = gaps.elapsedMs();
        if (!peaks.buckets.isEmpty())
            ++result.blocks;
        if (loader.progress() != WaveformLoader::Progress::Decoding) {
            result.allPeaksMs = gaps.elapsedMs();
            loop.quit();
        }
    });
    const double cpuBefore = cpuMs();
    loader.load(path);
    loop.exec();
    result.cpuMs = cpuMs() - cpuBefore;
    result.longestGapMs = gaps.longestMs();
    result.gapsOverLimit = gaps.overLimit();
    result.complete = loader.progress() == WaveformLoader::Progress::Complete;
    result.seconds = loader.peaks().seconds();
    return result;
}

/// The longest the event loop goes without a turn over \a ms with nothing to do: what the machine's
/// other work costs the program, against which the gaps while decoding are to be read.
double idleGapMs(double ms)
{
    QEventLoop loop;
    const EventGaps gaps(longGapMs);
    QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
    loop.exec();
    return gaps.longestMs();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const QString five = folder.filePath(QStringLiteral("five-minutes.mp3"));
    const QString untagged = folder.filePath(QStringLiteral("five-untagged.mp3"));
    const QString big = folder.filePath(QStringLiteral("64-mib.mp3"));
    QFile untaggedFile(untagged);
    if (!dir.isValid() || !encodeFiveMinutes(folder, five, true) || !encodeFiveMinutes(folder, untagged, false)
        || !untaggedFile.open(QIODevice::ReadOnly) || !repeatToSize(untaggedFile.readAll(), big, 64 * MiB)) {
        std::fprintf(stderr, "needs sox and lame, and room for 80 MiB in the temporary folder\n");
        return 1;
    }

    // The machine is shared: how busy it was says how far the event gaps are the program's own.
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray busy = load.open(QIODevice::ReadOnly) ? load.readAll().trimmed() : QByteArrayLiteral("unknown");
    std::printf("Decode to peaks (libmpg123, gapless, float) against one plain read in 1 MiB blocks; page cache\n"
                "warm; medians of %d decodes and %d reads. The longest event gap is the worst of the decodes;\n"
                "the idle gap, the longest with nothing to do over as long as all the decodes took.\n"
                "Load average before: %s\n\n",
                decodeRuns, readRuns, busy.constData());
    std::printf("%-14s %9s %6s %8s %8s %14s %8s %11s %8s %6s %8s %13s %7s\n", "song", "stretches", "MiB", "minutes",
                "read ms", "whole pic ms", "all ms", "analysis ms", "CPU ms", "ratio", "gap ms", "idle gap ms", "blocks");
    for (const auto &[song, stretches] : {std::pair{five, 1}, std::pair{five, 0}, std::pair{big, 1}, std::pair{big, 0}}) {
        plainReadMs(song);
        std::vector<double> reads;
        for (int i = 0; i < readRuns; ++i)
            reads.push_back(plainReadMs(song));
        std::vector<double> first;
        std::vector<double> all;
        std::vector<double> analysis;
        std::vector<double> cpu;
        DecodeRun worst;
        for (int i = 0; i < decodeRuns; ++i) {
            const DecodeRun r = decodeToPeaks(song, stretches);
            if (!r.complete) {
                std::fprintf(stderr, "%s did not decode to its end\n", qPrintable(song));
                return 1;
            }
            first.push_back(r.firstPeaksMs);
            all.push_back(r.allPeaksMs);
            analysis.push_back(r.analysisMs);
            cpu.push_back(r.cpuMs);
            if (r.longestGapMs >= worst.longestGapMs)
                worst = r;
        }
        const double read = median(reads);
        const double decode = median(all);
        std::printf("%-14s %9s %6.1f %8.2f %8.2f %14.1f %8.1f %11.1f %8.1f %6.0f %8.2f %13.2f %7d\n",
                    qPrintable(QFileInfo(song).completeBaseName()), stretches == 1 ? "1" : "per core",
                    double(QFileInfo(song).size()) / MiB, worst.seconds / 60, read, median(first), decode,
                    median(analysis), median(cpu), decode / read, worst.longestGapMs,
                    idleGapMs(decode * decodeRuns), worst.blocks);
        if (worst.gapsOverLimit > 0)
            std::printf("    %d event gaps over %.0f ms in the worst run\n", worst.gapsOverLimit, longGapMs);
    }
    return 0;
}
