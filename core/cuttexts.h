#pragma once

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
inline constexpr char startPastEnd[] = "起点 %1 秒超出了歌曲的长度 %2 秒：\n%3";
inline constexpr char endPastEnd[] = "终点 %1 秒超出了歌曲的长度 %2 秒：\n%3";
inline constexpr char sourceReadFailed[] = "读取源文件失败（%1），剪切已取消：\n%2";
inline constexpr char pieceWriteFailed[] = "无法写入文件（%1），剪切已取消：\n%2";
inline constexpr char targetIsSource[] = "铃声不能写到正在剪切的歌曲上：\n%1";
inline constexpr char replaceTarget[] = "文件已存在，是否替换？\n%1";
/// What a piece's name begins with, in front of its number and its song's name.
inline constexpr char piecePrefix[] = "[铃声]";

} // namespace CutWords
