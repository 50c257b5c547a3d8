#pragma once

#include <QList>
#include <QString>

/// The cut state the window keeps for its whole life. Nothing resets it: each field keeps
/// its value until its own writer overwrites it, across every move of the wizard.
struct MainWindowState
{
    qint32 fileLength = 0;      ///< bytes of the source, measured when it is chosen
    qint64 audioStart = 0;      ///< bytes of a leading ID3v2 tag, measured with fileLength
    QList<qint32> pieceSizes;   ///< the split plan, in bytes, from the first byte of the source
    qint16 pieceTop = 0;        ///< last valid index of pieceSizes; -1 for a plan without pieces
    QString srcName;            ///< file-name part of the source, taken at each cut
    QString srcPath;            ///< the source path, taken at each cut
    QString destDir;            ///< output folder with its closing separator, taken at each cut
    QString startPos;           ///< the start mark: seconds, as text
    QString endPos;             ///< the end mark: seconds, as text
    double duration = 0.0;      ///< seconds of the media in the step-two player
    double fileKB = 0.0;        ///< fileLength in KB, rounded to one decimal
};
