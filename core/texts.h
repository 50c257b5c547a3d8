#pragma once

#include "core/cuttexts.h"
#include "platform/filesystem.h"
#include "platform/qtfilesystem.h"

#include <QString>

/// Every text the cut session shows or asks, in one place. The window's own captions are
/// in the window.
namespace CutText {

inline const QString openFilter = QStringLiteral("MP3音频文件|*.mp3");
inline const QString saveFilter = QStringLiteral("*.mp3");
inline const QString saveTitle = QStringLiteral("保存音频文件");

inline const QString started = QStringLiteral("开始。。。");
inline const QString cutDone = QStringLiteral("剪切完成，请试听！");
inline const QString cutting = QStringLiteral("正在剪切…\n%1%");

inline const QString captionError = QStringLiteral("错误");
inline const QString captionHint = QStringLiteral("提示");
inline const QString chooseMp3 = QStringLiteral("请选择要剪切的MP3文件！");
inline const QString markStartFirst = QStringLiteral("请先选择起点！");
inline const QString chooseFolder = QStringLiteral("请选择要存放的文件夹！");
inline const QString folderGone = QStringLiteral("存放铃声的文件夹不存在：\n%1\n请选择要存放的文件夹！");
inline const QString endBeforeStart = QString::fromUtf8(CutWords::endBeforeStart);
inline const QString marksTooClose = QString::fromUtf8(CutWords::marksTooClose);
inline const QString playerUnreadable = QStringLiteral("无法读取播放位置，请确认此文件可以播放：\n%1");
inline const QString sourceUnreadable = QString::fromUtf8(CutWords::sourceUnreadable);
inline const QString sourceNotAFile = QString::fromUtf8(CutWords::sourceNotAFile);
inline const QString sourceTooLarge = QStringLiteral("文件太大，只能剪切小于2GB的文件：\n%1");
inline const QString sourceNotMp3 = QString::fromUtf8(CutWords::sourceNotMp3);
inline const QString sourceReadFailed = QString::fromUtf8(CutWords::sourceReadFailed);
inline const QString pieceWriteFailed = QString::fromUtf8(CutWords::pieceWriteFailed);
inline const QString folderTitle = QStringLiteral("选择存放铃声的文件夹");
inline const QString targetIsSource = QString::fromUtf8(CutWords::targetIsSource);
inline const QString replaceTarget = QString::fromUtf8(CutWords::replaceTarget);
inline const QString saveFailed = QStringLiteral("无法保存文件（%1）：\n%2");
inline const QString rewriteFailed = QString::fromUtf8(CutWords::rewriteFailed);
inline const QString nothingToSave = QStringLiteral("没有可保存的文件！");
inline const QString pieceNotRemoved = QStringLiteral("无法删除铃声（%1），铃声仍在原处：\n%2\n可以保存它，或者留下它继续剪切。");

/// Why a piece of a song of MPEG layer \a layer keeps its gain as cut.
inline QString noGain(int layer)
{
    return QStringLiteral("这首歌是MPEG Layer %1格式，不能淡入淡出或调整音量：铃声保持原样。")
        .arg(layer == 1 ? QStringLiteral("I") : QStringLiteral("II"));
}

/// Why a file could not be read or written, as the messages above put it in brackets.
inline QString problemText(FileProblem problem)
{
    switch (problem) {
    case FileProblem::Missing:
        return QStringLiteral("文件或文件夹不存在");
    case FileProblem::NoPermission:
        return QStringLiteral("没有权限");
    case FileProblem::ReadOnly:
        return QStringLiteral("磁盘是只读的");
    case FileProblem::NoSpace:
        return QStringLiteral("磁盘空间不足");
    case FileProblem::TooLarge:
        return QStringLiteral("文件超过了允许的大小");
    case FileProblem::NameTooLong:
        return QStringLiteral("文件名太长");
    case FileProblem::NotAFile:
        return QStringLiteral("不是普通文件");
    case FileProblem::Exists:
        return QStringLiteral("已有同名文件");
    case FileProblem::Changed:
        return QStringLiteral("文件在读取时被改动");
    case FileProblem::Incomplete:
        return QStringLiteral("写入的内容不完整");
    case FileProblem::None:
    case FileProblem::Other:
        break;
    }
    return QStringLiteral("读写出错");
}

/// Why a cut failed, as the window says it: the errno in the words above.
inline QString failure(const CutError &error, bool recut)
{
    return QString::fromStdString(
        CutWords::failure(error, problemText(QtFileSystem::problemOf(error.error)).toStdString(), recut));
}

} // namespace CutText
