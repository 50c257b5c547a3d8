#pragma once

#include <QString>

/// The captions of the main window's controls, the About box's texts and the start-up
/// commands, in one place; what the cut session says is in core/texts.h.
namespace FrmText {

inline const QString title = QStringLiteral("青禾MP3剪切器V1.0");

inline const QString pane[3] = {QStringLiteral("选择文件"), QStringLiteral("选择起点终点"),
                                QStringLiteral("试听并保存")};
inline const QString step[3] = {QStringLiteral("选择文件>>"), QStringLiteral("选择起点终点>>"),
                                QStringLiteral("试听并保存")};
inline const QString about = QStringLiteral("关于");

inline const QString chooseLabel = QStringLiteral("请选择MP3文件：");
inline const QString browse = QStringLiteral("选择MP3文件...");
inline const QString sourceLabel = QStringLiteral("文件地址：");
inline const QString folderLabel = QStringLiteral("存放位置：");
inline const QString reselect = QStringLiteral("重新选择");
inline const QString markStart = QStringLiteral("以此为起点(&S)");
inline const QString markEnd = QStringLiteral("以此为终点(&P)");
/// Takes the stretch proposed on the waveform as the two marks, and cuts.
inline const QString takeProposal = QStringLiteral("采用建议(&A)");
inline const QString save = QStringLiteral("OK！保存");
inline const QString recut = QStringLiteral("NO！重新剪切");
inline const QString continueCutting = QStringLiteral("继续剪切！");
inline const QString fadeIn = QStringLiteral("淡入");
inline const QString fadeOut = QStringLiteral("淡出");
inline const QString maxVolume = QStringLiteral("音量最大化");
inline const QString fadeInAndOut = QStringLiteral("淡入淡出");
/// Beside the boxes, when the piece is too short for fades of the full length.
inline const QString fadeShortened = QStringLiteral("%1缩短为%2秒");
inline const QString fadeLeftOut = QStringLiteral("铃声太短，未%1");

/// Step three's display of the piece in the song around it.
inline const QString pieceViewName = QStringLiteral("铃声在歌曲中的位置");
inline const QString pieceViewUsage = QStringLiteral("拖动两端的把手移动起点或终点；[ / ] 选择起点 / 终点，"
                                                     "← / → 把它移动0.1秒，Shift+← / Shift+→ 移动1秒，空格键播放 / 暂停。");
inline const QString pieceEnds = QStringLiteral("起点 %1　终点 %2。");
inline const QString recutting = QStringLiteral("正在重新剪切…");
inline const QString loop = QStringLiteral("循环试听");
/// Beside the loop box: whether the piece is the song's sound from mark to mark.
inline const QString checking = QStringLiteral("正在核对…");
inline const QString sameSamples = QStringLiteral("与原曲逐个采样一致");
inline const QString sameButLouder = QStringLiteral("与原曲一致，仅音量按所选改变");
inline const QString endsOffset = QStringLiteral("起点偏差%1毫秒，终点偏差%2毫秒");
inline const QString differs = QStringLiteral("铃声%1起与原曲不符");
inline const QString checkFailed = QStringLiteral("无法核对铃声");

/// The player's module could not be loaded: the songs cannot be heard, so no marks can be set.
inline const QString playerMissing = QStringLiteral("找不到播放组件（%1），无法播放歌曲，也就无法标记起点和终点。请重新安装本程序。");

inline const QString aboutDescription = QStringLiteral("从MP3中剪出一段做铃声，不解码，不重新编码");
inline const QString aboutVersion = QStringLiteral("版本：%1");
inline const QString aboutLicence = QStringLiteral("许可：免费使用的专有软件");

inline const QString registerDialogs = QStringLiteral("regsvr32 comdlg32.ocx /s");
inline const QString registerButtons = QStringLiteral("regsvr32 hmButton.ocx /s");

} // namespace FrmText
