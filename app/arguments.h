#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

/// What the program is asked to do, read from its arguments without Qt: whether it opens a
/// window is known before any Qt library is loaded.
struct Arguments
{
    enum class Mode { Window, Cut, Suggest, Help, Version };

    Mode mode = Mode::Window;
    /// START, END and FILE for a cut; FILE for a proposal; the song to open, or nothing, for the window.
    std::vector<std::string> operands;
    /// Where the piece goes, as given with -o; "-" for standard output.
    std::optional<std::string> output;
    bool overwrite = false;
    /// Seconds of fade at each end, 0 for none, and whether to raise the piece to full scale.
    double fadeIn = 0;
    double fadeOut = 0;
    bool maxVolume = false;
    /// Whether to check the piece, once cut, against the song's decoded samples.
    bool verify = false;
};

/// Why the arguments ask for nothing the program does: a line for standard error.
struct UsageError
{
    std::string message;
};

/// The arguments after the program's name. Options may stand anywhere; "--" ends them, and a
/// dash followed by a digit is an operand (a time that may be negative).
std::variant<Arguments, UsageError> parseArguments(const std::vector<std::string_view> &arguments);

/// \a v as the window writes numbers: up to 15 significant digits, no trailing zeros.
std::string generalText(double v);

/// Where a cut of \a song goes: beside it as the piece prefix, 1 and its name; into the folder
/// \a output names, under that name, where it is one (or ends in "/"); else at \a output, with
/// ".mp3" added unless it ends so in any letter case. Always an absolute path; empty, with
/// \a error set, where a relative name cannot be made one (the working folder is gone). Not for "-".
std::filesystem::path pieceTarget(const std::filesystem::path &song, const std::optional<std::string> &output,
                                  std::error_code &error);
