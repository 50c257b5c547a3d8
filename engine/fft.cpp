#include "engine/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

PowerSpectrum::PowerSpectrum(int size)
    : m_size(size)
    , m_window(std::size_t(size))
    , m_reversed(std::size_t(size / 2))
    , m_twiddles(std::size_t(size / 2))
    , m_work(std::size_t(size / 2))
{
    for (int i = 0; i < size; ++i)
        m_window[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size));
    const int half = size / 2;
    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= (i >> b & 1) << (bits - 1 - b);
        m_reversed[std::size_t(i)] = r;
    }
    for (int k = 0; k < half; ++k)
        m_twiddles[std::size_t(k)] = std::polar(1.0f, float(-2 * std::numbers::pi * k / size));
}

void PowerSpectrum::compute(std::span<const float> frame, std::span<float> power)
{
    const std::size_t half = std::size_t(m_size / 2);
    for (std::size_t i = 0; i < half; ++i) {
        const std::size_t r = std::size_t(m_reversed[i]);
        m_work[r] = {frame[2 * i] * m_window[2 * i], frame[2 * i + 1] * m_window[2 * i + 1]};
    }
    // Products and norms written out: std::complex's guard against infinities and NaNs, which
    // these finite samples never hold, at several times the cost.
    const auto times = [](std::complex<float> a, std::complex<float> b) {
        return std::complex<float>(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
    };
    for (std::size_t span = 1; span < half; span *= 2) {
        const std::size_t stride = half / span;
        for (std::size_t start = 0; start < half; start += 2 * span) {
            for (std::size_t k = 0; k < span; ++k) {
                const std::complex<float> a = m_work[start + k];
                const std::complex<float> b = times(m_work[start + k + span], m_twiddles[k * stride]);
                m_work[start + k] = a + b;
                m_work[start + k + span] = a - b;
            }
        }
    }
    // The transform of the even samples and that of the odd ones lie mixed in one sequence:
    // its bin k and the conjugate of bin half-k part them.
    for (std::size_t k = 0; k <= half; ++k) {
        const std::complex<float> z = m_work[k % half];
        const std::complex<float> zc = std::conj(m_work[(half - k) % half]);
        const std::complex<float> even = 0.5f * (z + zc);
        const std::complex<float> odd = 0.5f * (z - zc);
        // odd is -i times the odd samples' transform; the twiddle turns it back.
        const std::complex<float> w = k < half ? m_twiddles[k] : std::complex<float>(-1, 0);
        const std::complex<float> turned = times(w, {odd.imag(), -odd.real()});
        const std::complex<float> bin = even + turned;
        power[k] = bin.real() * bin.real() + bin.imag() * bin.imag();
    }
}

void forEachSpectrum(std::span<const float> sound, int size, int hop,
                     const std::function<void(std::size_t i, std::span<const float> power)> &frame)
{
    PowerSpectrum spectrum(size);
    std::vector<float> samples(static_cast<std::size_t>(size));
    std::vector<float> power(static_cast<std::size_t>(size / 2 + 1));
    const std::ptrdiff_t total = std::ptrdiff_t(sound.size());
    for (std::size_t i = 0; std::ptrdiff_t(i) * hop < total; ++i) {
        const std::ptrdiff_t first = std::ptrdiff_t(i) * hop - size / 2;
        if (first >= 0 && first + size <= total) {
            spectrum.compute(sound.subspan(std::size_t(first), std::size_t(size)), power);
        } else {
            for (std::ptrdiff_t j = 0; j < size; ++j) {
                const std::ptrdiff_t at = first + j;
                samples[std::size_t(j)] = at >= 0 && at < total ? sound[std::size_t(at)] : 0.0f;
            }
            spectrum.compute(samples, power);
        }
        frame(i, power);
    }
}

int powerOfTwoNear(double samples)
{
    int size = 16;
    while (size * 1.5 < samples)
        size *= 2;
    return size;
}
