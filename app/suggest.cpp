#include "app/suggest.h"

#include "app/commandline.h"
#include "engine/chorus.h"
#include "engine/songsound.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// The rate the song is analysed at: the chroma reaches 2 kHz and the onsets 5 kHz, and a
/// quarter of 44100 Hz costs a quarter of the work.
constexpr int analysisRate = 11025;

constexpr char unreadable[] = "无法读取文件（%s）：%s\n";
constexpr char notAFile[] = "不是普通文件，无法分析：%s\n";
constexpr char undecodable[] = "此文件中找不到可解码的MP3音频：%s\n";
constexpr char noChorus[] = "没有找到可做铃声的副歌（歌曲太短或太长，或听不出重复的段落）：%s\n";

/// Whether \a path is a regular file this process may read; says why not on standard error. A
/// named pipe is not waited on.
bool readableSong(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, unreadable, std::strerror(errno), path);
        return false;
    }
    struct stat info = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular)
        std::fprintf(stderr, notAFile, path);
    return regular;
}

/// \a seconds as m:ss.t, rounded to a tenth ("1:08.9").
std::string minutesText(double seconds)
{
    const long tenths = std::lround(seconds * 10);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

} // namespace

int runSuggest(const Arguments &arguments)
{
    const char *path = arguments.operands.front().c_str();
    if (!readableSong(path))
        return CommandLineFailed;
    const auto sound = decodeMono(path, analysisRate);
    if (!sound || sound->samples.empty()) {
        std::fprintf(stderr, undecodable, path);
        return CommandLineFailed;
    }
    const auto proposal = proposeChorus(sound->samples, sound->sampleRate);
    if (!proposal) {
        std::fprintf(stderr, noChorus, path);
        return CommandLineFailed;
    }
    std::printf("%.3f %.3f %s %s\n", proposal->startSeconds, proposal->endSeconds,
                minutesText(proposal->startSeconds).c_str(), minutesText(proposal->endSeconds).c_str());
    return std::fflush(stdout) == 0 ? CommandLineOk : CommandLineFailed;
}
