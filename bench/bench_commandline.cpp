// Prints what a cut from the command line costs as a whole process, beside dd copying the same
// bytes and, where they are installed, other command-line cutters cutting the same stretch: on
// songs of 64 and 256 MiB at a constant bit rate, a tagged one, and one of 10 MiB whose bit rate
// varies. One process per run, timed and measured by peakmeter; in each round every tool cuts
// every song once, in turn, so that the machine's moods touch them all alike. Each tool's median
// time, the median of its ratio to dd within a round, and its peak memory. Figures only: nothing
// here passes or fails on timing.

#include "core/pathrules.h"
#include "engine/placement.h"
#include "tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <string>
#include <vector>


namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int rounds = 21;
constexpr double pieceSeconds = 30.0;

struct Timed
{
    double ms = 0;
    /// Peak resident memory of the process, in KiB.
    long peakKiB = 0;
};

/// Runs \a command through \a meter as a process of its own, its output thrown away: its
/// wall-clock time from its start to its end and its peak memory, as the meter measured them.
/// Empty when it failed.
std::optional<Timed> timeProcess(const QString &meter, const std::vector<std::string> &command)
{
    QStringList args;
    for (const std::string &word : command)
        args.append(QString::fromStdString(word));
    QProcess process;
    process.start(meter, args);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> figures = process.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 2)
        return std::nullopt;
    return Timed{figures[0].toDouble(), figures[1].toLong()};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// \a sound encoded by lame with \a options and no Xing or Info frame: the song's frames alone.
std::optional<QByteArray> encode(const QDir &dir, const QStringList &sound, const QStringList &options)
{
    const QString wav = dir.filePath(QStringLiteral("sound.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("sound.mp3"));
    QFile encoded(mp3);
    if (!runTool(QStringLiteral("sox"), QStringList{QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"),
                                                    QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"),
                                                    QStringLiteral("-b"), QStringLiteral("16"), wav} + sound)
        || !runTool(QStringLiteral("lame"), QStringList{QStringLiteral("--quiet"), QStringLiteral("-t")} + options + QStringList{wav, mp3})
        || !encoded.open(QIODevice::ReadOnly))
        return std::nullopt;
    return encoded.readAll();
}

/// A song of \a size bytes at a constant 320 kbit/s: a minute of two tones encoded once, as many
/// of its frames as make whole rounds of the encoder's padding, repeated, behind \a tag. Its
/// frames then lie where their length says all through the song, as in one long encoding.
bool makeConstantSong(const QDir &dir, const QString &song, qint64 size, const QByteArray &tag = {})
{
    const auto frames = encode(dir, {QStringLiteral("synth"), QStringLiteral("60"), QStringLiteral("sine"), QStringLiteral("440"),
                                     QStringLiteral("sine"), QStringLiteral("660")},
                               {QStringLiteral("-b"), QStringLiteral("320"), QStringLiteral("--cbr")});
    const auto map = frames ? scanSong(fileSystemPath(dir.filePath(QStringLiteral("sound.mp3")))) : std::nullopt;
    if (!map)
        return false;
    // A frame is 144 × bit rate / sample rate bytes, the fraction made up by a padding byte in
    // some frames: the pattern comes round every `period` frames.
    const qint64 bytesPerFrame = 144LL * map->reference.bitRate;
    const qint64 rate = map->sampleRate();
    const qint64 period = rate / std::gcd(bytesPerFrame % rate, rate);
    const qint64 whole = map->frameCount() / period * period;
    if (!repeatToSize(frames->left(map->frame(whole).offset), song, size - tag.size()))
        return false;
    if (tag.isEmpty())
        return true;
    QFile file(song);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray audio = file.readAll();
    file.close();
    return file.open(QIODevice::WriteOnly) && file.write(tag + audio) == tag.size() + audio.size();
}

/// An ID3v2.3 tag with a title and an artist, as most songs have in front.
QByteArray titleAndArtist()
{
    QByteArray frames;
    for (const auto &[id, text] : {std::pair{"TIT2", "A song to cut"}, std::pair{"TPE1", "Someone"}}) {
        const QByteArray body = QByteArray(1, '\0') + text;
        frames += QByteArray(id) + char(0) + char(0) + char(0) + char(body.size()) + QByteArray(2, '\0') + body;
    }
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (const int shift : {21, 14, 7, 0})
        tag += char((frames.size() >> shift) & 0x7F);
    return tag + frames;
}

/// A song of \a size bytes whose bit rate varies: a minute of a tone sweeping up on the left and
/// down on the right at lame's -V 2 (frames of 64 to 128 kbit/s and more), repeated.
bool makeVaryingSong(const QDir &dir, const QString &song, qint64 size)
{
    const auto frames = encode(dir, {QStringLiteral("synth"), QStringLiteral("60"), QStringLiteral("sine"), QStringLiteral("100-15000"),
                                     QStringLiteral("sine"), QStringLiteral("15000-100"), QStringLiteral("gain"), QStringLiteral("-6")},
                               {QStringLiteral("-V"), QStringLiteral("2")});
    return frames && repeatToSize(*frames, song, size);
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

std::string minutesDotSeconds(double seconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", int(seconds) / 60, int(seconds) % 60);
    return text;
}

struct Tool
{
    const char *what;
    std::vector<std::string> command;
    /// The file it writes, removed after each run so that every run writes a new one.
    QString output;
};

/// A song and the tools that cut 30 s from its middle, with their runs' figures.
struct Trial
{
    QString kind;
    QString song;
    double start = 0;
    double end = 0;
    qint64 keptBytes = 0;
    std::vector<Tool> tools;
    std::vector<std::vector<Timed>> times;
};

/// The tools that are installed, set to cut 30 s from the middle of \a song into \a dir.
std::optional<Trial> trial(const QString &kind, const QString &program, const QDir &dir, const QString &song)
{
    const auto map = scanSong(fileSystemPath(song));
    const double middle = map ? std::floor(map->duration() / 2) : 0.0;
    const double start = middle - pieceSeconds / 2;
    const double end = middle + pieceSeconds / 2;
    const auto kept = map ? keptBytes(*map, start, end) : std::nullopt;
    if (!kept) {
        std::fprintf(stderr, "cannot work out the kept bytes\n");
        return std::nullopt;
    }
    const std::string path = song.toStdString();
    const auto output = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    const std::vector<Tool> tools = {
        {"mp3cutter --cut", {program.toStdString(), "--cut", std::to_string(start), std::to_string(end), path, "-o",
                             output("ours.mp3").toStdString()}, output("ours.mp3")},
        {"dd of the same bytes", {"dd", "if=" + path, "of=" + output("dd.mp3").toStdString(), "bs=1M",
                                  "skip=" + std::to_string(kept->offset), "count=" + std::to_string(kept->length),
                                  "iflag=skip_bytes,count_bytes", "status=none"}, output("dd.mp3")},
        {"mp3splt (bit-rate offsets)", {"mp3splt", "-q", "-d", dir.path().toStdString(), "-o", "splt", path,
                                        minutesDotSeconds(start), minutesDotSeconds(end)}, output("splt.mp3")},
        {"mp3splt -f (walks the frames)", {"mp3splt", "-q", "-f", "-d", dir.path().toStdString(), "-o", "splt", path,
                                           minutesDotSeconds(start), minutesDotSeconds(end)}, output("splt.mp3")},
        {"ffmpeg -c copy", {"ffmpeg", "-loglevel", "error", "-y", "-ss", std::to_string(start), "-to", std::to_string(end),
                            "-i", path, "-c", "copy", output("ff.mp3").toStdString()}, output("ff.mp3")},
    };
    Trial made{kind, song, start, end, kept->length, {}, {}};
    for (const Tool &tool : tools) {
        if (!QStandardPaths::findExecutable(QString::fromStdString(tool.command.front())).isEmpty())
            made.tools.push_back(tool);
    }
    made.times.resize(made.tools.size());
    return made;
}

/// Prints a trial's figures; mp3cutter's median.
double report(const Trial &trial)
{
    std::printf("\n%s, %.0f MiB, %.0f s to %.0f s (%.2f MiB of frames)\n", qPrintable(trial.kind),
                double(QFile(trial.song).size()) / MiB, trial.start, trial.end, double(trial.keptBytes) / MiB);
    std::printf("  %-32s %10s %8s %10s\n", "", "median ms", "/ dd", "peak MiB");
    const std::size_t dd = 1;
    for (std::size_t i = 0; i < trial.tools.size(); ++i) {
        std::vector<double> ms;
        std::vector<double> ratios;
        long peak = 0;
        for (std::size_t r = 0; r < trial.times[i].size(); ++r) {
            ms.push_back(trial.times[i][r].ms);
            ratios.push_back(trial.times[i][r].ms / trial.times[dd][r].ms);
            peak = std::max(peak, trial.times[i][r].peakKiB);
        }
        std::printf("  %-32s %10.2f %8.2f %10.1f\n", trial.tools[i].what, median(ms), median(ratios), double(peak) / 1024.0);
    }
    std::vector<double> ours;
    for (const Timed &timed : trial.times[0])
        ours.push_back(timed.ms);
    return median(ours);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString program = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../mp3cutter"));
    const QString meter = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("peakmeter"));
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    if (!QFile::exists(program) || !QFile::exists(meter) || !tmp.isValid()) {
        std::fprintf(stderr, "needs the built program and peakmeter beside this benchmark\n");
        return 1;
    }
    const auto songAt = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    // Most songs have tags, and a song with tags has TagLib loaded to read them.
    if (!makeConstantSong(dir, songAt("64.mp3"), 64 * MiB) || !makeConstantSong(dir, songAt("256.mp3"), 256 * MiB)
        || !makeConstantSong(dir, songAt("tagged.mp3"), 64 * MiB, titleAndArtist())
        || !makeVaryingSong(dir, songAt("varying.mp3"), 10 * MiB)) {
        std::fprintf(stderr, "needs sox and lame to make the songs\n");
        return 1;
    }
    std::vector<Trial> trials;
    for (const auto &[kind, name] : {std::pair{"constant 320 kbit/s", "64.mp3"}, std::pair{"constant 320 kbit/s", "256.mp3"},
                                     std::pair{"constant 320 kbit/s, a title and an artist in an ID3v2 tag", "tagged.mp3"},
                                     std::pair{"varying bit rate (lame -V 2)", "varying.mp3"}}) {
        auto made = trial(QString::fromLatin1(kind), program, dir, songAt(name));
        if (!made)
            return 1;
        trials.push_back(std::move(*made));
    }
    std::printf("Whole processes, page cache warm, %d rounds: in every round each tool cuts each song once, in\n"
                "turn, so that the machine's moods touch them all alike.\n", rounds);
    for (int round = 0; round <= rounds; ++round) {
        for (Trial &trial : trials) {
            for (std::size_t i = 0; i < trial.tools.size(); ++i) {
                const auto timed = timeProcess(meter, trial.tools[i].command);
                QFile::remove(trial.tools[i].output);
                if (!timed) {
                    std::fprintf(stderr, "%s failed on %s\n", trial.tools[i].what, qPrintable(trial.song));
                    return 1;
                }
                // The first round is not counted: it reads the songs into the page cache.
                if (round > 0)
                    trial.times[i].push_back(*timed);
            }
        }
    }
    std::vector<double> ours;
    for (const Trial &trial : trials)
        ours.push_back(report(trial));
    std::printf("\nmp3cutter --cut on the 256 MiB song / on the 64 MiB song: %.2f\n", ours[1] / ours[0]);
    return 0;
}
