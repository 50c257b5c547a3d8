#pragma once

#include <filesystem>

/// Why a step of a cut failed: what failed, on which file, and the system's errno where it gave
/// one. The engine says it; each front end turns it into one sentence of its own.
struct CutError
{
    enum class Kind {
        NoAudio,          ///< no MPEG audio frames in the file
        NoGainInLayer1,   ///< layer I has no gain a fade or loudness could change
        NoGainInLayer2,   ///< nor has layer II
        NoLameTag,        ///< where the piece's sound begins and ends is not said
        ForeignHeader,    ///< its header frame is not one this program writes
        Unreadable,
        Unwritable,
        Undecodable,
    };

    Kind kind = Kind::Unreadable;
    std::filesystem::path path;
    /// The system's errno; 0 where it gave none.
    int error = 0;
};
