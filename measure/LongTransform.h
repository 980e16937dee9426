// The long real transforms of the swept-sine measurement (a whole recording
// at once, hundreds of thousands of points), done by FFTW. The 8192-point
// display transform stays dsp/FFT.
#pragma once

#include <complex>
#include <cstddef>
#include <span>

struct FftwPlans;

class LongTransform {
  public:
    // Plans for `size` points (even, at least 2); a size planned before,
    // by any object on any thread, reuses that plan.
    explicit LongTransform(std::size_t size);
    ~LongTransform();
    LongTransform(const LongTransform&) = delete;
    LongTransform& operator=(const LongTransform&) = delete;

    // The smallest size from n on whose factors are 2, 3, 5 and 7 only, which
    // FFTW transforms fastest.
    static std::size_t FastSizeAtLeast(std::size_t n);

    std::size_t Size() const { return m_size; }
    // size points of time, size / 2 + 1 bins of frequency.
    std::span<double> Time() { return {m_time, m_size}; }
    std::span<std::complex<double>> Bins() { return {m_bins, m_size / 2 + 1}; }

    // Time() to Bins(), unscaled: bin k = sum of x[n] e^(-2 pi i k n / size).
    void Forward();
    // Bins() to Time(), scaled by 1 / size, so that Inverse undoes Forward.
    // Bins() is left undefined.
    void Inverse();

  private:
    std::size_t m_size;
    const FftwPlans* m_plans;
    double* m_time;
    std::complex<double>* m_bins;
};
