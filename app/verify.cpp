#include "app/verify.h"

#include "app/arguments.h"
#include "app/commandline.h"
#include "engine/piececheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr char exact[] = "校验：铃声与歌曲在两个标记之间逐个采样一致。";
constexpr char exactFaded[] = "校验：铃声与歌曲在两个标记之间逐个采样一致（淡入淡出处按降低的音量比较）。";
// "MPEG Layer " + I/II + wholeFrames + where the start lies + endLies + where the end lies + restExact
constexpr char layer[] = "校验：MPEG Layer ";
constexpr char wholeFrames[] = " 只能按整帧剪切，铃声开头在开始标记";
constexpr char endLies[] = "，结尾在结束标记";
constexpr char restExact[] = "，其余与歌曲逐个采样一致。";
constexpr char before[] = "前 ";
constexpr char after[] = "后 ";
constexpr char milliseconds[] = " 毫秒";
constexpr char atMark[] = "处";
// mismatchAt + seconds + mismatchSample + sample + mismatchKept + the piece's path
constexpr char mismatchAt[] = "校验失败：铃声从 ";
constexpr char mismatchSample[] = " 秒处（第 ";
constexpr char mismatchKept[] = " 个采样）起与歌曲不同。铃声仍保留在：";
constexpr char failedKept[] = "校验未能完成：无法解码铃声或歌曲。铃声仍保留在：";

/// Where an end lies from its mark, \a ms milliseconds after it (negative: before).
std::string fromMark(double ms)
{
    const double rounded = std::round(std::abs(ms) * 10) / 10;
    if (rounded == 0)
        return atMark;
    return (ms < 0 ? before : after) + generalText(rounded) + milliseconds;
}

/// The line that says what \a check found of \a piece, cut from a song of \a map.
std::string verdictLine(const PieceCheck &check, const SongMap &map, const std::filesystem::path &piece)
{
    switch (check.verdict) {
    case PieceCheck::Verdict::Exact:
        return check.fadeInSamples + check.fadeOutSamples > 0 ? exactFaded : exact;
    case PieceCheck::Verdict::Offset:
        return layer + std::string(map.reference.layer == 1 ? "I" : "II") + wholeFrames + fromMark(check.startOffsetMs)
               + endLies + fromMark(check.endOffsetMs) + restExact;
    case PieceCheck::Verdict::Mismatch:
        return mismatchAt + generalText(std::round(1000.0 * double(check.firstDifferentSample) / check.sampleRate) / 1000)
               + mismatchSample + std::to_string(check.firstDifferentSample) + mismatchKept + piece.string();
    case PieceCheck::Verdict::Failed:
        break;
    }
    return failedKept + piece.string();
}

} // namespace

int verifyPiece(const std::filesystem::path &song, const SongMap &map, double startSeconds, double endSeconds,
                const std::filesystem::path &piece)
{
    const PieceCheck check = checkPiece(song, map, startSeconds, endSeconds, piece);
    std::string line = verdictLine(check, map, piece);
    // One line, whatever the piece's name holds.
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "%s\n", line.c_str());
    const bool heard = check.verdict == PieceCheck::Verdict::Exact || check.verdict == PieceCheck::Verdict::Offset;
    return heard ? CommandLineOk : CommandLineFailed;
}
