#include "measure/Distortion.h"

#include "dsp/SignalFormat.h"
#include "measure/BandPower.h"
#include "measure/BlockAnalysis.h"
#include "measure/SweepPlan.h"
#include "measure/ToneFit.h"

#include <algorithm>
#include <cmath>

namespace {

int OrderOf(int fftSize) {
    int order = 0;
    while ((1 << order) < fftSize)
        ++order;
    return order;
}

double Db(double power) {
    return 10 * std::log10(power);
}

void AddPowers(const std::vector<double>& spectrumDb, std::vector<double>& sums) {
    for (std::size_t k = 0; k < sums.size(); ++k)
        sums[k] += std::pow(10.0, spectrumDb[k] / 10);
}

std::vector<double> MeanDb(const std::vector<double>& sums, int blocks) {
    std::vector<double> db(sums.size());
    for (std::size_t k = 0; k < sums.size(); ++k)
        db[k] = Db(sums[k] / blocks);
    return db;
}

} // namespace

DistortionMeter::DistortionMeter(double toneHz, int fftSize)
    : m_toneHz(toneHz), m_fftSize(fftSize), m_residual(fftSize), m_spectrum(fftSize / 2),
      m_windowedPower(fftSize / 2, 0.0) {
    m_windowed.InitWindow(OrderOf(fftSize), CFFT::QuasiChebyshev);
    m_rectangle.InitWindow(OrderOf(fftSize), CFFT::Rectangle);
}

void DistortionMeter::Add(const double* block) {
    m_clipped = m_clipped || std::any_of(block, block + m_fftSize, ReachesFullScale);
    m_windowed.Transform(block, m_spectrum.data());
    AddPowers(m_spectrum, m_windowedPower);

    const ToneFit fit = FitTone(block, m_fftSize, m_toneHz);
    std::copy(block, block + m_fftSize, m_residual.begin());
    SubtractTone(m_residual.data(), m_fftSize, m_toneHz, fit);
    m_rectangle.Transform(m_residual.data(), m_spectrum.data());
    const double binWidth = SampleRate / m_fftSize;
    m_residualPower += BandPower(m_spectrum.data(), m_fftSize / 2, binWidth, BandLowHz, BandHighHz,
                                 Weighting::None);
    m_residualPowerA +=
        BandPower(m_spectrum.data(), m_fftSize / 2, binWidth, BandLowHz, BandHighHz, Weighting::A);
    m_fundamentalPower += fit.Power();
    ++m_blocks;
}

double DistortionMeter::LineLevelDb(double frequencyHz) const {
    const double position = ToneBinPosition(frequencyHz, m_fftSize);
    const int bin = GeneratorBin(frequencyHz, m_fftSize);
    return Db(m_windowedPower[bin] / m_blocks) - m_windowed.WindowGainDb(position - bin);
}

DistortionMeter::Result DistortionMeter::Compute() const {
    Result result;
    const double fundamentalDb = LineLevelDb(m_toneHz);
    double harmonicPower = 0;
    for (int k = 2; k <= HighestHarmonic && k * m_toneHz < BandHighHz; ++k) {
        const double db = LineLevelDb(k * m_toneHz) - fundamentalDb;
        result.harmonicsDb.push_back(db);
        harmonicPower += std::pow(10.0, db / 10);
    }
    result.thdDb = Db(harmonicPower);
    result.fundamentalDbfs = PowerDbfs(m_fundamentalPower / m_blocks);
    result.thdNDb = Db(m_residualPower / m_fundamentalPower);
    result.residualDbfs = PowerDbfs(m_residualPower / m_blocks);
    result.residualDbfsA = PowerDbfs(m_residualPowerA / m_blocks);
    result.spectrumDb = MeanDb(m_windowedPower, m_blocks);
    result.clipped = m_clipped;
    return result;
}

NoiseMeter::NoiseMeter(int fftSize)
    : m_fftSize(fftSize), m_spectrum(fftSize / 2), m_binPower(fftSize / 2, 0.0) {
    m_rectangle.InitWindow(OrderOf(fftSize), CFFT::Rectangle);
}

void NoiseMeter::Add(const double* block) {
    m_silent = m_silent && std::all_of(block, block + m_fftSize, [](double x) { return x == 0; });
    m_rectangle.Transform(block, m_spectrum.data());
    AddPowers(m_spectrum, m_binPower);
    const double binWidth = SampleRate / m_fftSize;
    m_power += BandPower(m_spectrum.data(), m_fftSize / 2, binWidth, DistortionMeter::BandLowHz,
                         DistortionMeter::BandHighHz, Weighting::None);
    m_powerA += BandPower(m_spectrum.data(), m_fftSize / 2, binWidth, DistortionMeter::BandLowHz,
                          DistortionMeter::BandHighHz, Weighting::A);
    ++m_blocks;
}

double NoiseMeter::Dbfs() const {
    return PowerDbfs(m_power / m_blocks);
}

double NoiseMeter::DbfsA() const {
    return PowerDbfs(m_powerA / m_blocks);
}

std::vector<double> NoiseMeter::SpectrumDb() const {
    return MeanDb(m_binPower, m_blocks);
}
