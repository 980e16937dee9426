#include "measure/ToneFit.h"

#include "dsp/SignalFormat.h"

#include <array>
#include <cmath>
#include <numbers>

namespace {

// cos and sin of w i by rotation, in extended precision.
class Rotation {
  public:
    explicit Rotation(double frequency)
        : m_w(2 * std::numbers::pi_v<long double> * frequency / SampleRate),
          m_stepCos(std::cos(m_w)), m_stepSin(std::sin(m_w)) {}
    long double Cos() const { return m_cos; }
    long double Sin() const { return m_sin; }
    void Step() {
        const long double next = m_cos * m_stepCos - m_sin * m_stepSin;
        m_sin = m_sin * m_stepCos + m_cos * m_stepSin;
        m_cos = next;
    }

  private:
    long double m_w, m_stepCos, m_stepSin;
    long double m_cos = 1, m_sin = 0;
};

long double Det3(const std::array<long double, 9>& m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

} // namespace

double ToneFit::Amplitude() const {
    return std::hypot(cosine, sine);
}

double ToneFit::Power() const {
    return (cosine * cosine + sine * sine) / 2;
}

ToneFit FitTone(const double* block, int n, double frequency) {
    // The normal equations' sums.
    Rotation rotation(frequency);
    long double sc = 0, ss = 0, scc = 0, sss = 0, scs = 0, sx = 0, sxc = 0, sxs = 0;
    for (int i = 0; i < n; ++i) {
        const long double x = block[i], c = rotation.Cos(), s = rotation.Sin();
        sc += c;
        ss += s;
        scc += c * c;
        sss += s * s;
        scs += c * s;
        sx += x;
        sxc += x * c;
        sxs += x * s;
        rotation.Step();
    }
    // Cramer's rule on [[n, sc, ss], [sc, scc, scs], [ss, scs, sss]].
    const long double all = Det3({static_cast<long double>(n), sc, ss, sc, scc, scs, ss, scs, sss});
    if (!(std::fabs(all) > 1e-9L * n * n * n))
        return {static_cast<double>(sx / n), 0.0, 0.0};
    const long double offset = Det3({sx, sc, ss, sxc, scc, scs, sxs, scs, sss});
    const long double cosine =
        Det3({static_cast<long double>(n), sx, ss, sc, sxc, scs, ss, sxs, sss});
    const long double sine =
        Det3({static_cast<long double>(n), sc, sx, sc, scc, sxc, ss, scs, sxs});
    return {static_cast<double>(offset / all), static_cast<double>(cosine / all),
            static_cast<double>(sine / all)};
}

void SubtractTone(double* block, int n, double frequency, const ToneFit& fit) {
    Rotation rotation(frequency);
    for (int i = 0; i < n; ++i) {
        block[i] -= static_cast<double>(fit.offset + fit.cosine * rotation.Cos() +
                                        fit.sine * rotation.Sin());
        rotation.Step();
    }
}
