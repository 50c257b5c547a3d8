#pragma once

#include <complex>
#include <functional>
#include <span>
#include <vector>

/// The power spectrum of Hann-windowed frames of one length, a power of two: a radix-2 FFT of
/// half the length over the even and odd samples as one complex sequence, then split. Small and
/// ours, so that the analysis needs no FFT library.
class PowerSpectrum
{
public:
    /// For frames of \a size samples, a power of two of at least 4.
    explicit PowerSpectrum(int size);

    int size() const { return m_size; }

    /// The power of bins 0 to size/2 of \a frame (size() samples, windowed here) into \a power.
    void compute(std::span<const float> frame, std::span<float> power);

private:
    int m_size;
    std::vector<float> m_window;
    std::vector<int> m_reversed;
    /// e^(-2πik/size) for k below size/2: the half-length transform takes every second one.
    std::vector<std::complex<float>> m_twiddles;
    std::vector<std::complex<float>> m_work;
};

/// Runs \a frame on the power spectrum of every frame of \a sound, \a hop samples apart, frame
/// i centred on sample i*hop (silence beyond either end), from the first to the one past the end.
void forEachSpectrum(std::span<const float> sound, int size, int hop,
                     const std::function<void(std::size_t i, std::span<const float> power)> &frame);

/// The power of two nearest \a samples, at least 16.
int powerOfTwoNear(double samples);
