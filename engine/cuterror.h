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
        /// The file gave fewer bytes than it held a moment before: it changed while it was read.
        Changed,
        Unwritable,
        /// The file is shorter than what was written to it, though every write succeeded.
        Incomplete,
        /// A file has the name the piece was to take, and may not be replaced.
        Taken,
        Undecodable,
    };

    Kind kind = Kind::Unreadable;
    /// Empty where the step that failed does not know the file's name (the writer of a piece,
    /// whose source and target do).
    std::filesystem::path path;
    /// The system's errno; 0 where it gave none.
    int error = 0;
};
