#include "app/commandline.h"

#include "app/modules.h"
#include "app/verify.h"
#include "core/cuttexts.h"
#include "engine/cutpipeline.h"
#include "engine/gain.h"
#include "engine/leftovers.h"
#include "engine/piecefile.h"
#include "engine/pieceplan.h"
#include "engine/songtags.h"
#include "engine/timetext.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char helpText[] =
    "用法：mp3cutter [FILE]\n"
    "      mp3cutter --cut START END FILE [-o OUT] [--overwrite] [--fade-in S] [--fade-out S] [--max-volume] [--verify]\n"
    "      mp3cutter --suggest FILE\n"
    "\n"
    "青禾MP3剪切器：不解码、不重新编码，从MP3中剪出一段做铃声。\n"
    "不带 --cut 时打开窗口；给出 FILE 则直接选中该文件。\n"
    "\n"
    "选项：\n"
    "  --cut              不开窗口，剪出 START 到 END 的一段，并打印写出的文件路径。\n"
    "  -o, --output OUT   写到 OUT（未以 .mp3 结尾时加上 .mp3），而不是歌曲旁的“[铃声]1”+歌名。\n"
    "                     OUT 是文件夹或以 / 结尾时，写到其中的“[铃声]1”+歌名；\n"
    "                     OUT 为 - 时，把铃声写到标准输出。\n"
    "  --overwrite        输出文件已存在时替换它。\n"
    "  --fade-in S        铃声开头 S 秒从无声渐强（大于 0，至多 60，且不超过铃声的三分之一）。\n"
    "  --fade-out S       铃声结尾 S 秒渐弱到无声。\n"
    "  --max-volume       把铃声调到不失真的最大音量。\n"
    "                     这三项只改每个颗粒的增益，不重新编码；只用于 MPEG Layer III。\n"
    "  --verify           剪完后解码铃声，与歌曲在两个标记之间的声音逐个采样比较，\n"
    "                     在标准错误上用一行说明结果；不一致时铃声保留，退出状态为 1。\n"
    "  --suggest          不开窗口，找出歌中最常重复的响亮段落（副歌），打印其起止时间：\n"
    "                     秒数两个（可直接用作 --cut 的 START 和 END），再以 分:秒.十分之一秒 各一个；\n"
    "                     找不到时退出状态为 1。\n"
    "  -h, --help         显示此帮助。\n"
    "  -v, --version      显示版本。\n"
    "\n"
    "时间可写成秒数（12.5）或 [时:]分:秒[.毫秒]（0:12.5、1:02:03）。\n"
    "\n"
    "退出状态：\n"
    "  0  已写出铃声，其路径打印在标准输出；或已打印建议的片段\n"
    "  1  剪切被拒绝或失败，什么也没有写出；带 --verify 时也可能是铃声已写出但与歌曲不一致；\n"
    "     或 --suggest 没有找到副歌\n"
    "  2  参数有误\n";

constexpr char noGainLayer1[] = "这首歌是MPEG Layer I格式，不能淡入淡出或调整音量，什么也没有写出。";
constexpr char noGainLayer2[] = "这首歌是MPEG Layer II格式，不能淡入淡出或调整音量，什么也没有写出。";
constexpr char noTerminal[] = "标准输出是终端：铃声只写到文件或管道，请重定向标准输出。";
constexpr char pathNotPrinted[] = "无法在标准输出上写出铃声的路径（%1），已删除写好的铃声：\n%2";
constexpr char fadeShortened[] = "%1缩短为 %2 秒：淡入、淡出各至多为铃声长度（%3 秒）的三分之一。";
constexpr char fadeDropped[] = "铃声只有 %3 秒，太短，没有%1。";
constexpr char fadeIn[] = "淡入";
constexpr char fadeOut[] = "淡出";
constexpr char standardOutput[] = "标准输出";
constexpr char progress[] = "\r剪切中… %d%%";
/// Later than any song ends: the engine counts samples in 64 bits, which a time of 10^15 s would overflow.
constexpr double latestTime = 1e9;
/// Bytes of the song written between two updates of the progress line.
constexpr std::int64_t progressStep = 1 << 20;

/// \a text with %1, %2… replaced by \a values and its line breaks by blanks: one line.
std::string oneLine(std::string_view text, std::initializer_list<std::string_view> values = {})
{
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t value = i + 1 < text.size() ? std::size_t(text[i + 1] - '1') : values.size();
        if (text[i] == '%' && value < values.size()) {
            line += values.begin()[value];
            ++i;
        } else {
            line += text[i] == '\n' ? ' ' : text[i];
        }
    }
    return line;
}

/// The one line that says why a cut failed.
std::string failureLine(const CutError &error)
{
    // Here the remedy has a name of its own.
    if (error.kind == CutError::Kind::Taken)
        return oneLine(CutWords::targetExists, {error.path.c_str()});
    return oneLine(CutWords::failure(error, std::strerror(error.error), false));
}

/// Says \a line on standard error; the status for a refused or failed cut.
int refuse(const std::string &line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    return CommandLineFailed;
}

/// What the song at \a path is, from its own open file: a named pipe is not waited on, and
/// nothing of it is read.
int checkSong(const std::filesystem::path &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return refuse(oneLine(CutWords::sourceUnreadable, {std::strerror(errno), path.c_str()}));
    struct stat info = {};
    const bool ordinary = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return ordinary ? CommandLineOk : refuse(oneLine(CutWords::sourceNotAFile, {path.c_str()}));
}

/// Whether \a a and \a b are one file, whatever their names.
bool sameFile(const std::filesystem::path &a, const std::filesystem::path &b)
{
    struct stat first = {};
    struct stat second = {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

/// The refusal of marks that make no piece: wrong arguments where the marks themselves are
/// wrong, a refused cut where the song is too short for them.
int refuseMarks(MarkProblem problem, const SongMap &song, const std::filesystem::path &path,
                double start, double end)
{
    switch (problem) {
    case MarkProblem::EndNotAfterStart:
        return usage(CutWords::endBeforeStart);
    case MarkProblem::TooClose:
        return usage(oneLine(CutWords::marksTooClose,
                             {std::to_string(std::lround(song.samplesPerFrame * 1000.0 / song.sampleRate()))}));
    case MarkProblem::StartPastEnd:
    case MarkProblem::EndPastEnd:
        break;
    }
    const bool startPast = problem == MarkProblem::StartPastEnd;
    return refuse(oneLine(CutWords::pastEnd(startPast, startPast ? start : end, song.duration(),
                                            double(song.samplesPerFrame) / song.sampleRate()),
                          {path.c_str()}));
}

/// The tag a piece \a lengthMs long of \a song carries; empty for a song with nothing a tag
/// reader could find, which spares loading TagLib. None where the tags' module is missing.
std::optional<std::vector<std::uint8_t>> pieceTag(const SongMap &map, const std::filesystem::path &song, std::int64_t lengthMs)
{
    if (map.untagged)
        return std::vector<std::uint8_t>();
    if (!tagsModuleLoads())
        return std::nullopt;
    const TagReader &tags = moduleTags();
    return tags.renderForPiece(tags.read(song), lengthMs);
}

/// Runs \a cut until the piece is whole. On a terminal a line on standard error shows how far it
/// has come, and goes when it is done; piped, nothing is said.
void copyThrough(CutPipeline &cut)
{
    if (!::isatty(STDERR_FILENO)) {
        while (cut.step(std::numeric_limits<std::int64_t>::max()) == CutPipeline::State::Copying) {
        }
        return;
    }
    const std::int64_t length = std::max<std::int64_t>(1, cut.length());
    int shown = 0;
    std::fprintf(stderr, progress, shown);
    while (cut.step(progressStep) == CutPipeline::State::Copying) {
        if (const int done = int(100 * cut.written() / length); done != shown)
            std::fprintf(stderr, progress, shown = done);
    }
    std::fputs("\r\033[K", stderr);
}

/// Ends the program as \a signal does by default, once what the cut wrote is gone.
void endInterruptedCut(int signal)
{
    removeLeftovers();
    // The handler has given way to the default action, which runs once this returns.
    ::raise(signal);
}

/// Ctrl+C, a kill and a closed terminal end a cut without leaving what it wrote, with the status
/// a shell expects of them. A signal ignored from the start (nohup, a background job) stays so.
void endCutsCleanlyOnSignals()
{
    constexpr int endings[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction action = {};
    action.sa_handler = &endInterruptedCut;
    action.sa_flags = SA_RESETHAND;
    ::sigemptyset(&action.sa_mask);
    for (const int signal : endings)
        ::sigaddset(&action.sa_mask, signal);
    for (const int signal : endings) {
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

/// Says on standard error where a fade of \a seconds asked at the \a which end is shorter than
/// asked on a piece \a samples long, or left out.
void sayShortenedFade(const char *which, double seconds, std::int64_t samples, int sampleRate)
{
    const auto done = shortenedFade(seconds, samples, sampleRate);
    if (!done)
        return;
    const auto milliseconds = [](double s) { return generalText(std::round(s * 1000) / 1000); };
    std::fprintf(stderr, "%s\n",
                 oneLine(*done > 0 ? fadeShortened : fadeDropped,
                         {which, milliseconds(*done), milliseconds(double(samples) / sampleRate)})
                     .c_str());
}

} // namespace

int runCut(const Arguments &arguments)
{
    const std::string &startText = arguments.operands[0];
    const std::string &endText = arguments.operands[1];
    const auto start = timeTextSeconds(startText);
    const auto end = timeTextSeconds(endText);
    if (!start || !end) {
        const std::string &wrong = !start ? startText : endText;
        return usage("无法识别的时间：" + wrong + (wrong[0] == '-' ? "（时间不能为负）" : ""));
    }
    std::error_code noFolder;
    const std::filesystem::path song = std::filesystem::absolute(arguments.operands[2], noFolder).lexically_normal();
    if (noFolder)
        return refuse(oneLine(CutWords::sourceUnreadable, {noFolder.message(), arguments.operands[2]}));
    if (const int refused = checkSong(song))
        return refused;
    const bool toStream = arguments.output == "-";
    if (toStream && ::isatty(STDOUT_FILENO))
        return refuse(noTerminal);
    const std::filesystem::path target = toStream ? std::filesystem::path() : pieceTarget(song, arguments.output, noFolder);
    if (noFolder)
        return refuse(oneLine(CutWords::pieceWriteFailed,
                              {noFolder.message(), arguments.output.value_or(std::string())}));

    const double startSeconds = std::min(*start, latestTime);
    const double endSeconds = std::min(*end, latestTime);
    const auto map = mapSongFor(song, startSeconds, endSeconds);
    if (!map)
        return refuse(oneLine(CutWords::sourceNotMp3, {song.c_str()}));
    auto planned = planPiece(*map, song, startSeconds, endSeconds);
    if (const auto *problem = std::get_if<MarkProblem>(&planned))
        return refuseMarks(*problem, *map, song, startSeconds, endSeconds);
    const GainChange gain{arguments.fadeIn, arguments.fadeOut, arguments.maxVolume};
    if (gain.any() && map->reference.layer != 3)
        return refuse(map->reference.layer == 1 ? noGainLayer1 : noGainLayer2);
    if (!toStream && sameFile(target, song))
        return refuse(oneLine(CutWords::targetIsSource, {target.c_str()}));
    struct stat existing = {};
    if (!toStream && !arguments.overwrite && ::lstat(target.c_str(), &existing) == 0)
        return refuse(oneLine(CutWords::targetExists, {target.c_str()}));
    if (const auto *failed = std::get_if<CutError>(&planned))
        return refuse(failureLine(*failed));
    PiecePlan &plan = std::get<PiecePlan>(planned);
    const Placement &piece = plan.placement;

    auto tag = pieceTag(*map, song, plan.lengthMs());
    if (!tag)
        return refuse("mp3cutter：找不到标签组件（" MP3CUTTER_TAGS_MODULE "），请重新安装本程序");
    PieceParts parts = std::move(plan.parts);
    parts.tag = std::move(*tag);
    SongFile source(song);
    NewFile file(target, arguments.overwrite);
    StreamTarget stream(STDOUT_FILENO);
    CutPipeline cut(std::move(parts), gain, source, toStream ? static_cast<PieceTarget &>(stream) : file, song,
                    toStream ? std::filesystem::path(standardOutput) : target);
    endCutsCleanlyOnSignals();
    copyThrough(cut);
    if (cut.changeGain() == CutPipeline::State::Failed)
        return refuse(failureLine(*cut.error()));
    if (toStream)
        return CommandLineOk;
    const std::int64_t samples = piece.endSample - piece.startSample;
    sayShortenedFade(fadeIn, gain.fadeInSeconds, samples, map->sampleRate());
    sayShortenedFade(fadeOut, gain.fadeOutSeconds, samples, map->sampleRate());
    // Whoever runs the cut learns where the piece went only from this line: without it, the
    // piece would be a file nobody asked for.
    std::printf("%s\n", target.c_str());
    if (std::fflush(stdout) != 0) {
        const int cause = errno;
        ::unlink(target.c_str());
        return refuse(oneLine(pathNotPrinted, {std::strerror(cause), target.c_str()}));
    }
    if (arguments.verify)
        return verifyPiece(song, *map, startSeconds, endSeconds, target);
    return CommandLineOk;
}

int usage(const std::string &message)
{
    std::fprintf(stderr, "%s\n用法：mp3cutter --cut START END FILE [-o OUT] [--overwrite] [--fade-in S] [--fade-out S] [--max-volume] [--verify]；详见 mp3cutter --help\n",
                 message.c_str());
    return CommandLineUsage;
}

int printHelp()
{
    return std::fputs(helpText, stdout) < 0 ? CommandLineFailed : CommandLineOk;
}

int printVersion()
{
    return std::puts("mp3cutter " PROJECT_VERSION) < 0 ? CommandLineFailed : CommandLineOk;
}
