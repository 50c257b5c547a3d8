#pragma once

#include <QList>
#include <QString>

#include <array>

/// The three size boxes, in KB: what a cut placed, shown as the window has always shown it.
using SizeBoxes = std::array<QString, 3>;

/// How pieces play: the three boxes of step three.
struct GainChoice
{
    bool fadeIn = false;        ///< from silence at the start mark
    bool fadeOut = false;       ///< to silence at the end mark
    bool maxVolume = false;     ///< as loud as the loudest sample allows without clipping
};

/// Everything a cut session knows, as typed values. Nothing resets it: each value keeps what it
/// was given until its own writer gives it another, across every move between the steps.
struct CutState
{
    int step = 1;               ///< 1 choose a song, 2 mark it, 3 listen to the piece
    QString sourcePath;         ///< the song chosen last, as chosen
    QString outputFolder;       ///< where pieces go: the first song's folder, with its separator
    qint32 fileLength = 0;      ///< bytes of the song, measured when it is chosen
    qint64 audioStart = 0;      ///< bytes of a leading ID3v2 tag, measured with fileLength
    SizeBoxes sizeBoxes{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};   ///< KB texts
    QList<qint32> pieceSizes;   ///< the split plan, in bytes, from the first byte of the song
    qint16 pieceTop = 0;        ///< last valid index of pieceSizes; -1 for a plan without pieces
    QString srcName;            ///< file-name part of the song, taken at each cut
    QString srcPath;            ///< the song's path, taken at each cut
    QString destDir;            ///< output folder, taken at each cut
    QString startPos;           ///< the start mark: seconds, as text; empty until the first one
    QString endPos;             ///< the end mark: seconds, as text
    double duration = 0.0;      ///< seconds of the song
    double fileKB = 0.0;        ///< fileLength in KB, rounded to one decimal
    QString status;             ///< the line that says how far the marking has come
    GainChoice gain;            ///< for every piece from the next cut on, and the kept one
};
