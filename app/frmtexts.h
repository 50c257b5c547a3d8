#pragma once

#include <QString>

/// Every text the main window shows, in one place.
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
inline const QString reselect = QStringLiteral("重新选择");
inline const QString markStart = QStringLiteral("以此为起点(&S)");
inline const QString markEnd = QStringLiteral("以此为终点(&P)");
inline const QString save = QStringLiteral("OK！保存");
inline const QString recut = QStringLiteral("NO！重新剪切");
inline const QString continueCutting = QStringLiteral("继续剪切！");

inline const QString openFilter = QStringLiteral("MP3音频文件|*.mp3");
inline const QString saveFilter = QStringLiteral("*.mp3");
inline const QString saveTitle = QStringLiteral("保存音频文件");
inline const QString registerDialogs = QStringLiteral("regsvr32 comdlg32.ocx /s");
inline const QString registerButtons = QStringLiteral("regsvr32 hmButton.ocx /s");

inline const QString started = QStringLiteral("开始。。。");
inline const QString cutDone = QStringLiteral("剪切完成，请试听！");

inline const QString captionError = QStringLiteral("错误");
inline const QString captionHint = QStringLiteral("提示");
inline const QString chooseMp3 = QStringLiteral("请选择要剪切的MP3文件！");
inline const QString markStartFirst = QStringLiteral("请先选择起点！");
inline const QString chooseFolder = QStringLiteral("请选择要存放的文件夹！");
inline const QString endBeforeStart = QStringLiteral("终点不能在起点之前！");
inline const QString playerUnreadable = QStringLiteral("无法读取播放位置，请确认此文件可以播放：\n%1");
inline const QString sourceUnreadable = QStringLiteral("无法读取文件：\n%1");
inline const QString sourceTooLarge = QStringLiteral("文件太大，只能剪切小于2GB的文件：\n%1");
inline const QString sourceReadFailed = QStringLiteral("读取源文件失败，剪切已取消：\n%1");
inline const QString pieceWriteFailed = QStringLiteral("无法写入文件，剪切已取消：\n%1");
inline const QString replaceTarget = QStringLiteral("文件已存在，是否替换？\n%1");
inline const QString saveFailed = QStringLiteral("无法保存文件：\n%1");
inline const QString nothingToSave = QStringLiteral("没有可保存的文件！");

} // namespace FrmText
