#pragma once

#include "engine/piececheck.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

/// The three size boxes, in KB: what a cut placed, shown as the window has always shown it.
using SizeBoxes = std::array<QString, 3>;

/// How pieces play: the three boxes of step three.
struct GainChoice
{
    bool fadeIn = false;        ///< from silence at the start mark
    bool fadeOut = false;       ///< to silence at the end mark
    bool maxVolume = false;     ///< as loud as the loudest sample allows without clipping

    bool operator==(const GainChoice &) const = default;
};

/// What the person has chosen. A cut starts from these alone.
struct CutChoices
{
    QString sourcePath;         ///< the song chosen last, as chosen
    QString outputFolder;       ///< where pieces go, with its separator: the first song's folder, or one chosen since
    std::optional<double> startMark;   ///< the start mark, in seconds of the song; none until the first one
    GainChoice gain;            ///< for every piece from the next cut on, and the kept one
};

/// What the last cut that wrote a piece took from the choices, and what it placed: they name the
/// piece on disk. A cut that is refused or fails leaves them as they were.
struct LastCut
{
    QString srcName;            ///< file-name part of the song
    QString destDir;            ///< the output folder
    double endMark = 0;         ///< the end mark, in seconds of the song
    /// The split plan, in bytes, from the first byte of the song: what the size boxes show, kept
    /// as numbers for the tests that hold the boxes to the placement.
    QList<qint32> pieceSizes;
};

/// The piece step three plays, as it is on disk now.
struct KeptPiece
{
    QString path;               ///< beside the song, or the name it was saved under
    bool saved = false;         ///< moved to a name the person chose
    int layer = 3;              ///< its song's MPEG layer: only layer III has a gain to change
    GainChoice gain;            ///< how its frames play: what the choice was when it was last written
    double startSeconds = 0;    ///< the marks it was cut between, in seconds of the song
    double endSeconds = 0;
    /// Whether it plays the song's sound from mark to mark; empty while that is being checked.
    std::optional<PieceCheck> check;
};

/// Texts the window shows as it always has, each worked out when what it shows changes. Nothing
/// reads them back.
struct CutMirrors
{
    /// KB texts of the three size boxes, which keep their names for tools that read the window.
    SizeBoxes sizeBoxes{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    QString status;             ///< the line that says how far the marking has come
};

/// Everything a cut session knows, as typed values: the person's choices, the song as measured
/// when it was chosen, the last cut, and the mirrors the window shows.
struct CutState : CutChoices
{
    int step = 1;               ///< 1 choose a song, 2 mark it, 3 listen to the piece
    qint32 fileLength = 0;      ///< bytes of the song, measured when it is chosen
    qint64 audioStart = 0;      ///< bytes of a leading ID3v2 tag, measured with fileLength
    double duration = 0.0;      ///< seconds of the song
    LastCut lastCut;
    std::optional<KeptPiece> piece;   ///< the piece of the last cut while step three shows it
    CutMirrors mirrors;
};
