#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// A song made of sections as songs are: intro, verses, choruses, a bridge, an outro, each with
/// its own chord progression, rhythm and instrument, the chorus the loudest. Where each section
/// lies and where the beats fall are known, so that what an analysis finds can be checked.
struct StructuredSong
{
    enum class Part { Intro, Verse, Chorus, Bridge, Outro };
    struct Section
    {
        Part part;
        double startSeconds;
        double endSeconds;
    };

    std::vector<float> samples;
    int sampleRate = 0;
    double bpm = 0;
    std::vector<Section> sections;
    std::vector<double> beats;

    /// The song's sections of \a part, in order.
    std::vector<Section> all(Part part) const;
};

/// The parts of a song, in order, each with the bars it lasts.
struct SongPlan
{
    double bpm = 120;
    std::vector<std::pair<StructuredSong::Part, int>> parts;
    /// Picks the chord progressions, the key and the noise of the drums.
    std::uint32_t seed = 1;
    /// Silence before the first beat.
    double leadSeconds = 0.37;
};

StructuredSong makeSong(const SongPlan &plan, int sampleRate);

/// \a samples as a 16-bit mono WAV file at \a path; false when it cannot be written.
bool writeWav(const std::string &path, const std::vector<float> &samples, int sampleRate);
