#include "dsp/FFT.h"

#include "dsp/Windows.h"
#include "platform/MessageBox.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int WorkPoints = 1 << CFFT::MaxOrder;
constexpr double ChebyshevAttenuationDb = 100.0;
constexpr double PowerFloor = 1e-24;

// One complex point (re, im) in a vector register.
using Pair = double __attribute__((vector_size(16), may_alias));

// A twiddle factor (wr, wi) spread for the butterfly: (wr, wr) and (-wi, wi).
struct Twiddle {
    Pair re;
    Pair im;
};

// y' = x - w*y and x' = x + w*y with w*y = (wr*yr - wi*yi, wi*yr + wr*yi).
// Lane 0 computes wr*yr + (-wi)*yi and lane 1 wr*yi + wi*yr: negation and
// the order of two addends are exact, so every bit equals the plain formula.
inline void Butterfly(Pair& x, Pair& y, const Twiddle& w) {
    const Pair t = w.re * y + w.im * __builtin_shufflevector(y, y, 1, 0);
    y = x - t;
    x = x + t;
}

// Windowing, bit reversal and the first stage (span 2) in one pass.
void LoadWithFirstStage(const double* __restrict src, const std::uint32_t* __restrict from,
                        const double* __restrict window, Pair* __restrict work, int n,
                        const Twiddle& w) {
    for (int i = 0; i < n; i += 2) {
        Pair x = {src[from[i]] * window[i], 0.0};
        Pair y = {src[from[i + 1]] * window[i + 1], 0.0};
        Butterfly(x, y, w);
        work[i] = x;
        work[i + 1] = y;
    }
}

// Stages with butterfly distances le and 2*le in one pass over the points:
// each group of 4*le points is closed under both stages.
void TwoStages(Pair* __restrict work, int n, int le, const Twiddle* __restrict first,
               const Twiddle* __restrict second) {
    for (int base = 0; base < n; base += 4 * le) {
        Pair* __restrict a = work + base;
        Pair* __restrict b = a + le;
        Pair* __restrict c = b + le;
        Pair* __restrict d = c + le;
        for (int m = 0; m < le; ++m) {
            Pair pa = a[m], pb = b[m], pc = c[m], pd = d[m];
            Butterfly(pa, pb, first[m]);
            Butterfly(pc, pd, first[m]);
            Butterfly(pa, pc, second[m]);
            Butterfly(pb, pd, second[le + m]);
            a[m] = pa;
            b[m] = pb;
            c[m] = pc;
            d[m] = pd;
        }
    }
}

void OneStage(Pair* __restrict work, int n, int le, const Twiddle* __restrict w) {
    for (int base = 0; base < n; base += 2 * le) {
        Pair* __restrict x = work + base;
        Pair* __restrict y = x + le;
        for (int m = 0; m < le; ++m)
            Butterfly(x[m], y[m], w[m]);
    }
}

} // namespace

// The transform for one order and window, with all that blocks share worked
// out in advance so that a block only streams through memory.
class CFFT::Plan {
  public:
    Plan(int order, const double* window, const std::array<Point, MaxOrder>& twiddleTable);

    // Windows the 2^order samples of src into work in bit-reversed order and
    // runs every butterfly stage on them; order 1 at least.
    void Run(const double* src, Pair* work) const;

  private:
    int m_size;
    // Where point i comes from after the bit reversal, and the window in that order.
    std::vector<std::uint32_t> m_bitReversed;
    std::vector<double> m_permutedWindow;
    // The factors of stage s (2^s of them, from index 2^s - 1), stepped by the
    // stage's recurrence exactly as its butterflies would step through them.
    std::vector<Twiddle> m_twiddles;
};

CFFT::Plan::Plan(int order, const double* window, const std::array<Point, MaxOrder>& twiddleTable)
    : m_size(1 << order), m_bitReversed(m_size), m_permutedWindow(m_size) {
    // The exchange loop of the in-place bit reversal, run once on indices.
    for (int i = 0; i < m_size; ++i)
        m_bitReversed[i] = static_cast<std::uint32_t>(i);
    for (int i = 0, j = 0; i < m_size - 1; ++i) {
        if (i < j)
            std::swap(m_bitReversed[i], m_bitReversed[j]);
        int k = m_size / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    for (int i = 0; i < m_size; ++i)
        m_permutedWindow[i] = window[m_bitReversed[i]];

    m_twiddles.reserve(m_size);
    for (int s = 0; s < order; ++s) {
        const auto [c, d] = twiddleTable[s];
        double wr = 1.0;
        double wi = 0.0;
        for (int m = 0; m < (1 << s); ++m) {
            m_twiddles.push_back(Twiddle{Pair{wr, wr}, Pair{-wi, wi}});
            const double next = wr * c - wi * d;
            wi = wr * d + wi * c;
            wr = next;
        }
    }
}

void CFFT::Plan::Run(const double* src, Pair* work) const {
    const Twiddle* twiddles = m_twiddles.data();
    LoadWithFirstStage(src, m_bitReversed.data(), m_permutedWindow.data(), work, m_size,
                       twiddles[0]);
    int le = 2;
    for (; 2 * le < m_size; le *= 4)
        TwoStages(work, m_size, le, twiddles + le - 1, twiddles + 2 * le - 1);
    if (le < m_size)
        OneStage(work, m_size, le, twiddles + le - 1);
}

CFFT::CFFT() : m_work(std::make_unique_for_overwrite<Point[]>(WorkPoints)) {
    for (int s = 0; s < MaxOrder; ++s) {
        const double theta = dsp::EnginePi / static_cast<double>(1 << s);
        m_twiddle[s] = {std::cos(theta), -std::sin(theta)};
    }
}

CFFT::~CFFT() = default;

int CFFT::InitWindow(int order, int type) {
    m_order = order;
    m_windowType = type;
    m_window.reset();
    m_plan.reset();
    if (order < 0 || order > MaxOrder)
        return 0;
    if (type != Rectangle && type != QuasiChebyshev)
        return 0;

    const int n = 1 << order;
    auto window = std::make_unique_for_overwrite<double[]>(n);
    if (type == Rectangle) {
        dsp::FillRectangleWindow({window.get(), static_cast<std::size_t>(n)});
    } else {
        dsp::FillQuasiChebyshevWindow(window.get(), n, ChebyshevAttenuationDb);
        for (int i = 0; i < n; ++i)
            window[i] *= 2.0;
    }
    m_plan = std::make_unique<Plan>(order, window.get(), m_twiddle);
    m_window = std::move(window);
    return 1;
}

std::span<const double> CFFT::Window() const {
    if (!m_window)
        return {};
    return {m_window.get(), static_cast<std::size_t>(1) << m_order};
}

double CFFT::WindowGainDb(double delta) const {
    return dsp::WindowGainDb(Window(), delta);
}

int CFFT::Transform(const double* src, double* dst) {
    if (!m_window) {
        MessageBoxA(nullptr, "Call InitWindow() first!", "Processing error.", MB_ICONERROR);
        return 0;
    }
    if (m_order < 1 || m_order > MaxOrder)
        return 0;

    m_plan->Run(src, reinterpret_cast<Pair*>(m_work.get()));
    WritePowerDb(dst);
    return 1;
}

void CFFT::WritePowerDb(double* dst) const {
    const int half = (1 << m_order) / 2;
    const Point* __restrict work = m_work.get();
    for (int k = 0; k < half; ++k) {
        const double power = work[k].re * work[k].re + work[k].im * work[k].im;
        dst[k] = power >= PowerFloor ? 10.0 * std::log10(power) : SilenceDb;
    }
}
