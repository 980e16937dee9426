// The spectrum engine: windows a block of real samples, runs a radix-2
// decimation-in-time FFT on complex doubles and writes the power of the first
// half of the bins in dB. Used from one thread only.
#pragma once

#include <array>
#include <memory>
#include <span>

class CFFT {
  public:
    static constexpr int MaxOrder = 16; // the work buffer and twiddle table hold no more
    static constexpr int Rectangle = 0;
    static constexpr int QuasiChebyshev = 1;
    static constexpr int NoWindowType = -1;     // before the first InitWindow
    static constexpr double SilenceDb = -250.0; // power below 1e-24, or not a number

    CFFT();
    ~CFFT();
    CFFT(const CFFT&) = delete;
    CFFT& operator=(const CFFT&) = delete;

    // Stores order and type, then builds a window of 2^order values. Returns 1
    // when built; 0 for an order outside 0..MaxOrder or an unknown type, after
    // which the object has no window until the next successful call.
    int InitWindow(int order, int type);

    // Reads 2^order samples from src and writes the 2^order / 2 bin powers in
    // dB to dst. Returns 1; 0 without touching dst when no window was built
    // (with a message box) or the order is 0.
    int Transform(const double* src, double* dst);

    int Order() const { return m_order; }
    int WindowType() const { return m_windowType; }
    // The window in use; empty when there is none.
    std::span<const double> Window() const;
    // Scalloping loss of the window in use at `delta` bins (-0.5..0.5) from a
    // bin centre, in dB relative to the centre; not a number without a window.
    double WindowGainDb(double delta) const;

  private:
    struct alignas(16) Point {
        double re;
        double im;
    };
    class Plan;

    void WritePowerDb(double* dst) const;

    int m_windowType = NoWindowType;
    std::unique_ptr<Point[]> m_work;
    std::array<Point, MaxOrder> m_twiddle; // (cos, -sin) of pi'/2^s
    int m_order = 0;
    std::unique_ptr<double[]> m_window;
    // What every transform of this window and order reuses; built with the window.
    std::unique_ptr<Plan> m_plan;
};
