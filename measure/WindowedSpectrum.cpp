#include "measure/WindowedSpectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <numbers>

namespace harmolune {

namespace {

constexpr int kNewtonSteps = 3;
constexpr int kPhasorRun = 512;  // samples between exact evaluations of the phasor

}  // namespace

std::mutex& PlannerLock() {
    static std::mutex lock;
    return lock;
}

BlockHistory::BlockHistory()
    : samples_(new double[static_cast<std::size_t>(kMaxWindowBlocks) * kFrameLength]) {}

void BlockHistory::Clear() {
    count_ = 0;
    contiguous_ = 0;
}

void BlockHistory::Push(const Block& samples) {
    double* slot = samples_.get() + (count_ % kMaxWindowBlocks) * kFrameLength;
    for (int i = 0; i < kFrameLength; ++i) {
        slot[i] = samples[i] - 128.0;
    }
    ++count_;
    contiguous_ = std::min(contiguous_ + 1, kMaxWindowBlocks);
}

void BlockHistory::Gap() {
    ++count_;
    contiguous_ = 0;
}

WindowedSpectrum::WindowedSpectrum() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    windowed_ = fftw_alloc_real(kMaxLength);
    auto* spectrum = fftw_alloc_complex(kMostBins);
    spectrum_ = spectrum;
    for (std::size_t i = 0; i < plans_.size(); ++i) {
        const int length = kFrameLength << i;
        plans_[i] =
            fftw_plan_dft_r2c_1d(length, windowed_, spectrum, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        hann_[i].reset(new double[length]);
    }
}

WindowedSpectrum::~WindowedSpectrum() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    for (void* plan : plans_) {
        fftw_destroy_plan(static_cast<fftw_plan>(plan));
    }
    fftw_free(spectrum_);
    fftw_free(windowed_);
}

int WindowedSpectrum::PlanIndex() const {
    int index = 0;
    while ((1 << index) < blocks_) {
        ++index;
    }
    return index;
}

void WindowedSpectrum::SetBlocks(int blocks) {
    blocks_ = blocks;
    length_ = blocks * kFrameLength;
    binHz_ = static_cast<double>(kSampleRate) / length_;
    const int plan = PlanIndex();
    if (hannMade_[plan]) {
        return;
    }
    // Symmetric about the window's centre, (N - 1) / 2, where Refine puts its
    // time origin: the window's own transform is then real.
    for (int n = 0; n < length_; ++n) {
        const double s = std::sin(std::numbers::pi * (n + 0.5) / length_);
        hann_[plan][n] = s * s;
    }
    hannMade_[plan] = true;
}

void WindowedSpectrum::Transform(const BlockHistory& history, long long firstBlock) {
    // The window's blocks in time order, without their mean: the 8-bit
    // samples' offset would otherwise leak into the lowest notes' band.
    double sum = 0.0;
    for (int b = 0; b < blocks_; ++b) {
        const double* from = history.At(firstBlock + b);
        for (int i = 0; i < kFrameLength; ++i) {
            sum += from[i];
        }
    }
    const double mean = sum / length_;
    const int plan = PlanIndex();
    const double* hann = hann_[plan].get();
    for (int b = 0; b < blocks_; ++b) {
        const double* from = history.At(firstBlock + b);
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(b) * kFrameLength;
        double* to = windowed_ + offset;
        const double* w = hann + offset;
        for (int i = 0; i < kFrameLength; ++i) {
            to[i] = (from[i] - mean) * w[i];
        }
    }
    fftw_execute(static_cast<fftw_plan>(plans_[plan]));
}

void WindowedSpectrum::Power(int from, int to, double* power) const {
    const auto* spectrum = static_cast<const fftw_complex*>(spectrum_);
    for (int k = from; k <= to; ++k) {
        power[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    }
}

// Newton steps towards the top of ln |X(ω)|², where X is the windowed block's
// transform evaluated directly at ω (radians per sample) with the time origin
// at the window's centre. With S_m = Σ t^m x(t) e^(−iωt):
//   P = |S0|², P' = 2 Im(conj(S0) S1), P'' = 2 (|S1|² − Re(conj(S0) S2)).
// Each step is bounded to half a bin and taken only where the curve is
// concave; the logarithm's curvature changes slowly over the main lobe, so
// two or three steps from a twentieth of a bin leave nothing to gain.
double WindowedSpectrum::Refine(double omega) const {
    const double halfBin = std::numbers::pi / length_;
    const double centre = (length_ - 1) / 2.0;
    for (int step = 0; step < kNewtonSteps; ++step) {
        const double rotRe = std::cos(omega);
        const double rotIm = -std::sin(omega);
        double s0Re = 0.0, s0Im = 0.0, s1Re = 0.0, s1Im = 0.0, s2Re = 0.0, s2Im = 0.0;
        for (int run = 0; run < length_; run += kPhasorRun) {
            const double t0 = run - centre;
            double eRe = std::cos(omega * t0);
            double eIm = -std::sin(omega * t0);
            for (int n = run; n < run + kPhasorRun; ++n) {
                const double t = n - centre;
                const double x = windowed_[n];
                const double vRe = x * eRe;
                const double vIm = x * eIm;
                s0Re += vRe;
                s0Im += vIm;
                s1Re += t * vRe;
                s1Im += t * vIm;
                s2Re += t * t * vRe;
                s2Im += t * t * vIm;
                const double nextRe = eRe * rotRe - eIm * rotIm;
                eIm = eRe * rotIm + eIm * rotRe;
                eRe = nextRe;
            }
        }
        const double p = s0Re * s0Re + s0Im * s0Im;
        if (!(p > 0.0)) {
            break;
        }
        const double dp = 2.0 * (s0Re * s1Im - s0Im * s1Re);
        const double ddp = 2.0 * (s1Re * s1Re + s1Im * s1Im - (s0Re * s2Re + s0Im * s2Im));
        const double slope = dp / p;
        const double curve = ddp / p - slope * slope;
        if (!(curve < 0.0)) {
            break;
        }
        const double move = std::clamp(-slope / curve, -halfBin, halfBin);
        omega += move;
        // Convergence is quadratic: after a step of a thousandth of a bin, the
        // next would move it by about a millionth (a ten-thousandth of a cent
        // at the lowest E).
        if (std::abs(move) < 2e-3 * halfBin) {
            break;
        }
    }
    return omega;
}

}  // namespace harmolune
