#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

/// Decodes the MPEG audio at \a path with libmpg123, gapless (the encoder's delay and padding
/// that a LAME tag names are left out), as 32-bit floats at the file's own rate, and hands each
/// run of samples, interleaved, to \a block with the channels and rate they have. False when the
/// file cannot be opened or its decoding fails part-way.
bool decodeSong(const std::filesystem::path &path,
                const std::function<void(std::span<const float> samples, int channels, long rate)> &block);

/// A song's sound in one channel.
struct MonoSound
{
    std::vector<float> samples;
    int sampleRate = 0;
};

/// The song at \a path as decodeSong() decodes it, its channels averaged, and low-passed and
/// decimated by the whole divisor of its rate that comes nearest \a wantedRate without going
/// below 8000 Hz (11025 Hz from 44100, 12000 from 48000), as the window's analysis takes it.
/// Sample i stands for the time i / sampleRate, as in the song. Empty when it cannot be decoded.
std::optional<MonoSound> decodeMono(const std::filesystem::path &path, int wantedRate);
