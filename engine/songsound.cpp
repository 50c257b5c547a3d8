#include "engine/songsound.h"

#include "engine/floatdecoder.h"

#include <mpg123.h>

#include <cmath>
#include <numbers>

namespace {

/// A low-pass FIR filter, then every factor-th sample. Each output sample is centred on the
/// input sample it stands for, so the decimated sound keeps the song's times.
class Decimator
{
public:
    explicit Decimator(int factor)
        : m_factor(factor)
        , m_half(factor > 1 ? 8 * factor : 0)
        , m_taps(std::size_t(2 * m_half + 1))
        , m_history(2 * m_taps.size(), 0.0f)
    {
        // A windowed sinc that passes 90 % of the new Nyquist frequency.
        const double cutoff = 0.9 / (2.0 * factor);
        double sum = 0;
        for (int k = -m_half; k <= m_half; ++k) {
            const double sinc = k == 0 ? 2 * cutoff : std::sin(2 * std::numbers::pi * cutoff * k) / (std::numbers::pi * k);
            const double window = 0.54 + 0.46 * std::cos(std::numbers::pi * k / (m_half + 1));
            m_taps[std::size_t(k + m_half)] = sinc * window;
            sum += sinc * window;
        }
        for (double &tap : m_taps)
            tap /= sum;
    }

    void push(float sample)
    {
        // Each sample stands twice, a window apart, so that the window is always one run.
        const std::size_t size = m_taps.size();
        m_history[m_at] = sample;
        m_history[m_at + size] = sample;
        m_at = (m_at + 1) % size;
        // The newest sample is input i; output j stands for input j * factor = i - half.
        const std::int64_t centre = m_pushed - m_half;
        ++m_pushed;
        if (centre >= 0 && centre % m_factor == 0) {
            double sum = 0;
            for (std::size_t k = 0; k < size; ++k)
                sum += m_taps[k] * m_history[m_at + k];
            m_out.push_back(float(sum));
        }
    }

    /// The decimated sound, up to the output that stands for the last sample pushed.
    std::vector<float> finish()
    {
        for (int i = 0; i < m_half; ++i)
            push(0.0f);
        return std::move(m_out);
    }

private:
    int m_factor;
    int m_half;
    std::vector<double> m_taps;
    std::vector<float> m_history;
    std::size_t m_at = 0;
    std::int64_t m_pushed = 0;
    std::vector<float> m_out;
};

} // namespace

bool decodeSong(const std::filesystem::path &path,
                const std::function<void(std::span<const float> samples, int channels, long rate)> &block)
{
    const FloatDecoder handle = floatDecoder(true);
    if (!handle)
        return false;
    mpg123_handle *mh = handle.get();
    if (mpg123_open(mh, path.c_str()) != MPG123_OK)
        return false;

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    std::vector<float> buffer(1 << 14);
    bool ok = true;
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(mh, buffer.data(), buffer.size() * sizeof(float), &done);
        if (result == MPG123_NEW_FORMAT)
            mpg123_getformat(mh, &rate, &channels, &encoding);
        if (done > 0 && channels > 0)
            block(std::span<const float>(buffer.data(), done / sizeof(float)), channels, rate);
        if (result == MPG123_DONE)
            break;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            ok = false;
            break;
        }
    }
    mpg123_close(mh);
    return ok;
}

std::optional<MonoSound> decodeMono(const std::filesystem::path &path, int wantedRate)
{
    std::unique_ptr<Decimator> decimator;
    MonoSound sound;
    const bool decoded = decodeSong(path, [&](std::span<const float> samples, int channels, long rate) {
        if (!decimator) {
            int factor = 1;
            for (int f = 2; rate / f >= 8000; ++f) {
                if (rate % f == 0 && std::abs(rate / f - wantedRate) < std::abs(rate / factor - wantedRate))
                    factor = f;
            }
            decimator = std::make_unique<Decimator>(factor);
            sound.sampleRate = int(rate / factor);
        }
        // Frames of another channel count are mixed down as their own; a song that changes its
        // rate part-way is rare enough to be taken at its first.
        for (std::size_t i = 0; i + std::size_t(channels) <= samples.size(); i += std::size_t(channels)) {
            float sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += samples[i + std::size_t(c)];
            decimator->push(sum / float(channels));
        }
    });
    if (!decoded || !decimator)
        return std::nullopt;
    sound.samples = decimator->finish();
    return sound;
}
