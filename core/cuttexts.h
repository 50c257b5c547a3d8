#pragma once

#include "engine/cuterror.h"

#include <cmath>
#include <cstdio>
#include <string>

/// The texts a cut tells a person that the window and the command line both show, as plain UTF-8
/// with Qt's %1, %2… for what goes in: the command line prints them without loading Qt. Where a
/// text names a cause, the window gives it in words of its own, the command line as the system
/// says it.
namespace CutWords {

inline constexpr char sourceUnreadable[] = "无法读取文件（%1）：\n%2";
inline constexpr char sourceNotAFile[] = "这不是一个普通文件（而是文件夹、管道或设备），无法剪切：\n%1";
inline constexpr char sourceNotMp3[] = "此文件中找不到MP3音频，无法剪切：\n%1";
inline constexpr char endBeforeStart[] = "终点不能在起点之前！";
inline constexpr char marksTooClose[] = "起点和终点相隔不到一帧（%1毫秒），剪不出声音！\n请把终点放在起点之后更远的地方。";
inline constexpr char sourceReadFailed[] = "读取源文件失败（%1），剪切已取消：\n%2";
inline constexpr char pieceWriteFailed[] = "无法写入文件（%1），剪切已取消：\n%2";
inline constexpr char gainFailed[] = "无法淡入淡出或调整音量（%1），什么也没有写出：\n%2";
inline constexpr char rewriteFailed[] = "无法改写铃声（%1），铃声保持原样：\n%2";
inline constexpr char targetIsSource[] = "铃声不能写到正在剪切的歌曲上：\n%1";
inline constexpr char replaceTarget[] = "文件已存在，是否替换？\n%1";
/// What the command line says where the window would ask whether to replace.
inline constexpr char targetExists[] = "文件已存在，没有替换（加 --overwrite 即可替换）：\n%1";
/// What a piece's name begins with, in front of its number and its song's name.
inline constexpr char piecePrefix[] = "[铃声]";

/// Why a mark \a seconds into a song \a length seconds long, whose frames last \a frameSeconds
/// each, lies behind its end; %1 stands for the song. The times show to the tenth, a mark rounded
/// up and the length down, so a mark behind the end never reads as one inside it. A start less
/// than a frame behind the end, where a player's position may stand, would read as the length
/// itself: it is said to be at the end.
inline std::string pastEnd(bool start, double seconds, double length, double frameSeconds)
{
    const auto tenths = [](double value, bool up) {
        // The nudge keeps 0.3 * 10, which is a hair over 3, from rounding up to 0.4.
        const double scaled = up ? std::ceil(value * 10 - 1e-6) : std::floor(value * 10 + 1e-6);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", scaled / 10);
        return std::string(text);
    };
    if (start && seconds < length + frameSeconds)
        return "起点已在歌曲的结尾（歌曲长 " + tenths(length, false) + " 秒），后面没有声音可剪：\n%1";
    return std::string(start ? "起点 " : "终点 ") + tenths(seconds, true) + " 秒超出了歌曲的长度 "
        + tenths(length, false) + " 秒：\n%1";
}

/// The cause a failed cut names, in a few words; \a systemWords says the errno behind it as the
/// front end words it.
inline std::string cause(const CutError &error, const std::string &systemWords)
{
    switch (error.kind) {
    case CutError::Kind::NoAudio:
        return "铃声里找不到MP3音频";
    case CutError::Kind::NoGainInLayer1:
        return "MPEG Layer I 格式没有可调的增益";
    case CutError::Kind::NoGainInLayer2:
        return "MPEG Layer II 格式没有可调的增益";
    case CutError::Kind::NoLameTag:
        return "铃声没有LAME标签，不知道声音从哪里开始";
    case CutError::Kind::ForeignHeader:
        return "铃声的头帧不是本程序写的";
    case CutError::Kind::Unreadable:
        return "读取失败：" + systemWords;
    case CutError::Kind::Changed:
        return "文件在读取时被改动";
    case CutError::Kind::Unwritable:
        return "写入失败：" + systemWords;
    case CutError::Kind::Incomplete:
        return "写入的内容不完整";
    case CutError::Kind::Taken:
        return "已有同名文件";
    case CutError::Kind::Undecodable:
        return "无法解码铃声";
    }
    return systemWords;
}

/// Whether \a error is the song's: it could not be read, or changed while it was.
inline bool ofSong(const CutError &error)
{
    return error.kind == CutError::Kind::Unreadable || error.kind == CutError::Kind::Changed;
}

/// The one sentence that says why a cut failed, naming the file it failed on; \a systemWords says
/// the errno behind it as the front end words it. A piece that was \a recut, from the song into
/// its own place, stays as it was.
inline std::string failure(const CutError &error, const std::string &systemWords, bool recut)
{
    const char *text = ofSong(error) ? sourceReadFailed
        : recut                      ? rewriteFailed
        : error.kind == CutError::Kind::Unwritable || error.kind == CutError::Kind::Incomplete
            || error.kind == CutError::Kind::Taken
        ? pieceWriteFailed
        : gainFailed;
    // Said in a sentence of its own, reading or writing goes without saying.
    const bool ofSystem = error.kind == CutError::Kind::Unreadable || error.kind == CutError::Kind::Unwritable;
    const std::string values[] = {ofSystem && text != gainFailed ? systemWords : cause(error, systemWords),
                                  error.path.string()};
    std::string sentence;
    for (const char *at = text; *at; ++at) {
        if (at[0] == '%' && (at[1] == '1' || at[1] == '2')) {
            sentence += values[at[1] - '1'];
            ++at;
        } else {
            sentence += *at;
        }
    }
    return sentence;
}

} // namespace CutWords
