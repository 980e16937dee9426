#include "measure/LongTransform.h"

#include <fftw3.h>

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

// FFTW's complex type is two doubles, laid out as std::complex<double>.
static_assert(sizeof(fftw_complex) == sizeof(std::complex<double>));

struct FftwPlans {
    fftw_plan forward = nullptr;
    fftw_plan inverse = nullptr;
};

namespace {

// FFTW's planner is not thread-safe; executing a plan is. So every plan is
// made here, under one lock, once per size, and kept until the process ends:
// whichever thread asks first plans, and the others reuse the plan. Plans are
// made on buffers that fftw_malloc aligned, as every LongTransform's are, so
// that they run on any of them. FFTW_ESTIMATE plans in microseconds and
// leaves the buffers alone.
class PlanRegistry {
  public:
    const FftwPlans* ForSize(std::size_t size) {
        const std::lock_guard lock(m_mutex);
        auto found = m_bySize.find(size);
        if (found == m_bySize.end())
            found = m_bySize.emplace(size, Plan(size)).first;
        return found->second.get();
    }

  private:
    static std::unique_ptr<FftwPlans> Plan(std::size_t size) {
        double* time = fftw_alloc_real(size);
        fftw_complex* bins = fftw_alloc_complex(size / 2 + 1);
        auto plans = std::make_unique<FftwPlans>();
        const int n = static_cast<int>(size);
        if (time != nullptr && bins != nullptr) {
            plans->forward = fftw_plan_dft_r2c_1d(n, time, bins, FFTW_ESTIMATE);
            plans->inverse = fftw_plan_dft_c2r_1d(n, bins, time, FFTW_ESTIMATE);
        }
        fftw_free(time);
        fftw_free(bins);
        if (plans->forward == nullptr || plans->inverse == nullptr) {
            fftw_destroy_plan(plans->forward);
            fftw_destroy_plan(plans->inverse);
            throw std::bad_alloc();
        }
        return plans;
    }

    std::mutex m_mutex;
    std::map<std::size_t, std::unique_ptr<FftwPlans>> m_bySize;
};

// Never destroyed, so that the plans outlive every transform, even one that
// static destruction reaches late.
PlanRegistry& Registry() {
    static auto* registry = new PlanRegistry;
    return *registry;
}

} // namespace

LongTransform::LongTransform(std::size_t size) : m_size(size) {
    if (size < 2 || size % 2 != 0 || size > static_cast<std::size_t>(INT_MAX))
        throw std::invalid_argument("LongTransform: the size must be even, from 2 to INT_MAX");
    m_plans = Registry().ForSize(size);
    m_time = fftw_alloc_real(size);
    m_bins = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(size / 2 + 1));
    if (m_time == nullptr || m_bins == nullptr) {
        fftw_free(m_time);
        fftw_free(m_bins);
        throw std::bad_alloc();
    }
}

LongTransform::~LongTransform() {
    fftw_free(m_time);
    fftw_free(m_bins);
}

std::size_t LongTransform::FastSizeAtLeast(std::size_t n) {
    for (std::size_t size = std::max<std::size_t>(n + n % 2, 2);; size += 2) {
        std::size_t rest = size;
        for (std::size_t factor : {2, 3, 5, 7})
            while (rest % factor == 0)
                rest /= factor;
        if (rest == 1)
            return size;
    }
}

void LongTransform::Forward() {
    fftw_execute_dft_r2c(m_plans->forward, m_time, reinterpret_cast<fftw_complex*>(m_bins));
}

void LongTransform::Inverse() {
    fftw_execute_dft_c2r(m_plans->inverse, reinterpret_cast<fftw_complex*>(m_bins), m_time);
    const double scale = 1.0 / static_cast<double>(m_size);
    for (double& x : Time())
        x *= scale;
}
