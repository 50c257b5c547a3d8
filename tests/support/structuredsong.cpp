#include "structuredsong.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <numbers>

namespace {

using Part = StructuredSong::Part;

struct Chord
{
    int root;  ///< pitch class, 0 = C
    bool minor;
};

/// Progressions of four bars whose chords differ enough that each section has its own harmony.
const std::array<std::array<Chord, 4>, 6> progressions{{
    {{{0, false}, {7, false}, {9, true}, {5, false}}},   // C G Am F
    {{{2, true}, {4, true}, {5, false}, {7, false}}},    // Dm Em F G
    {{{9, true}, {4, true}, {2, true}, {4, false}}},     // Am Em Dm E
    {{{10, false}, {5, false}, {0, false}, {0, false}}}, // Bb F C C
    {{{4, true}, {11, true}, {0, false}, {2, false}}},   // Em Bm C D
    {{{5, false}, {2, true}, {10, false}, {0, false}}},  // F Dm Bb C
}};

/// How a part sounds: its instrument's harmonics and decay, where in the bar its chords are
/// struck (sixteenths), its drums, and how loud it is.
struct Style
{
    std::array<float, 6> harmonics;
    float decaySeconds;
    std::vector<int> strikes;
    std::vector<int> kicks;
    std::vector<int> snares;
    int hatEvery;  ///< sixteenths between hi-hats, 0 for none
    float gain;
};

Style styleOf(Part part)
{
    switch (part) {
    case Part::Intro:
        return {{1, 0.1f, 0.05f, 0, 0, 0}, 1.2f, {0}, {}, {}, 4, 0.35f};
    case Part::Verse:
        return {{1, 0.5f, 0.2f, 0.1f, 0, 0}, 0.25f, {0, 6, 8, 14}, {0, 8}, {4, 12}, 2, 0.5f};
    case Part::Chorus:
        return {{1, 0.7f, 0.5f, 0.4f, 0.3f, 0.2f}, 0.4f, {0, 4, 8, 12}, {0, 4, 8, 12}, {4, 12}, 1, 0.9f};
    case Part::Bridge:
        return {{1, 0, 0.3f, 0, 0.15f, 0}, 0.8f, {0, 8}, {0}, {}, 4, 0.45f};
    case Part::Outro:
        return {{1, 0.1f, 0.05f, 0, 0, 0}, 1.5f, {0}, {0}, {}, 0, 0.3f};
    }
    return {};
}

/// One period of a tone with \a harmonics, for playing at any pitch by stepping through it.
std::vector<float> waveTable(const std::array<float, 6> &harmonics)
{
    std::vector<float> table(4096);
    for (std::size_t i = 0; i < table.size(); ++i) {
        double v = 0;
        for (std::size_t h = 0; h < harmonics.size(); ++h)
            v += harmonics[h] * std::sin(2 * std::numbers::pi * double(h + 1) * double(i) / double(table.size()));
        table[i] = float(v);
    }
    return table;
}

double midiHz(int note)
{
    return 440 * std::pow(2.0, (note - 69) / 12.0);
}

class Mixer
{
public:
    Mixer(std::vector<float> &out, int rate, std::uint32_t seed)
        : m_out(out)
        , m_rate(rate)
        , m_noise(seed)
    {
    }

    void tone(const std::vector<float> &table, double at, double hz, double seconds, float decay, float gain)
    {
        const auto first = std::size_t(at * m_rate);
        const std::size_t count = std::min(m_out.size() - std::min(m_out.size(), first), std::size_t(seconds * m_rate));
        const double step = hz * double(table.size()) / m_rate;
        double phase = 0;
        const double fall = std::exp(-1.0 / (decay * m_rate));
        double level = gain;
        for (std::size_t i = 0; i < count; ++i) {
            const double attack = std::min(1.0, double(i) / (0.005 * m_rate));
            m_out[first + i] += float(level * attack) * table[std::size_t(phase) % table.size()];
            phase += step;
            level *= fall;
        }
    }

    void kick(double at, float gain)
    {
        const auto first = std::size_t(at * m_rate);
        double phase = 0;
        for (std::size_t i = 0; i < std::size_t(0.15 * m_rate) && first + i < m_out.size(); ++i) {
            const double t = double(i) / m_rate;
            phase += 2 * std::numbers::pi * (45 + 60 * std::exp(-t / 0.03)) / m_rate;
            m_out[first + i] += float(gain * std::exp(-t / 0.05) * std::sin(phase));
        }
    }

    void noise(double at, double decay, bool bright, float gain)
    {
        const auto first = std::size_t(at * m_rate);
        float last = 0;
        for (std::size_t i = 0; i < std::size_t(decay * 5 * m_rate) && first + i < m_out.size(); ++i) {
            m_noise = m_noise * 1664525u + 1013904223u;
            const float white = float(m_noise >> 8) / float(1 << 24) * 2 - 1;
            // A hi-hat keeps what changes from sample to sample: the top of the spectrum.
            const float v = bright ? white - last : white;
            last = white;
            m_out[first + i] += float(gain * std::exp(-double(i) / (decay * m_rate))) * v;
        }
    }

private:
    std::vector<float> &m_out;
    int m_rate;
    std::uint32_t m_noise;
};

} // namespace

std::vector<StructuredSong::Section> StructuredSong::all(Part part) const
{
    std::vector<Section> found;
    std::copy_if(sections.begin(), sections.end(), std::back_inserter(found),
                 [part](const Section &s) { return s.part == part; });
    return found;
}

StructuredSong makeSong(const SongPlan &plan, int sampleRate)
{
    StructuredSong song;
    song.sampleRate = sampleRate;
    song.bpm = plan.bpm;
    const double beat = 60 / plan.bpm;
    int bars = 0;
    for (const auto &[part, count] : plan.parts)
        bars += count;
    song.samples.assign(std::size_t((plan.leadSeconds + (bars * 4 + 2) * beat) * sampleRate), 0.0f);

    // Each song its own key and its own progression for each part.
    const int key = int(plan.seed * 7 % 12);
    std::array<std::size_t, 5> progressionOf{};
    for (std::size_t p = 0; p < progressionOf.size(); ++p)
        progressionOf[p] = (plan.seed + p * (plan.seed % 2 ? 5 : 1)) % progressions.size();

    Mixer mix(song.samples, sampleRate, plan.seed);
    double at = plan.leadSeconds;
    for (const auto &[part, count] : plan.parts) {
        const Style style = styleOf(part);
        const std::vector<float> table = waveTable(style.harmonics);
        const std::vector<float> bass = waveTable({1, 0.3f, 0, 0, 0, 0});
        const auto &progression = progressions[progressionOf[std::size_t(part)]];
        song.sections.push_back({part, at, at + count * 4 * beat});
        for (int bar = 0; bar < count; ++bar) {
            const Chord chord = progression[std::size_t(bar % 4)];
            const int root = 48 + (chord.root + key) % 12;
            const std::array<int, 3> notes{root, root + (chord.minor ? 3 : 4), root + 7};
            const double sixteenth = beat / 4;
            for (int b = 0; b < 4; ++b)
                song.beats.push_back(at + b * beat);
            for (int s : style.strikes) {
                for (int note : notes)
                    mix.tone(table, at + s * sixteenth, midiHz(note), beat * 2, style.decaySeconds, 0.12f * style.gain);
                mix.tone(bass, at + s * sixteenth, midiHz(root - 12), beat, style.decaySeconds, 0.2f * style.gain);
            }
            for (int s : style.kicks)
                mix.kick(at + s * sixteenth, 0.5f * style.gain);
            for (int s : style.snares)
                mix.noise(at + s * sixteenth, 0.06, false, 0.25f * style.gain);
            for (int s = 0; style.hatEvery > 0 && s < 16; s += style.hatEvery)
                mix.noise(at + s * sixteenth, 0.015, true, 0.08f * style.gain);
            at += 4 * beat;
        }
    }
    song.beats.push_back(at);
    for (float &v : song.samples)
        v = std::clamp(v, -1.0f, 1.0f);
    return song;
}

bool writeWav(const std::string &path, const std::vector<float> &samples, int sampleRate)
{
    std::ofstream out(path, std::ios::binary);
    const auto word = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(char(v >> (8 * i) & 0xFF));
    };
    const auto dataBytes = std::uint32_t(samples.size() * 2);
    out.write("RIFF", 4);
    word(36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    word(16, 4);
    word(1, 2);
    word(1, 2);
    word(std::uint32_t(sampleRate), 4);
    word(std::uint32_t(sampleRate) * 2, 4);
    word(2, 2);
    word(16, 2);
    out.write("data", 4);
    word(dataBytes, 4);
    for (float v : samples)
        word(std::uint32_t(std::uint16_t(std::int16_t(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767)))), 2);
    return bool(out);
}
