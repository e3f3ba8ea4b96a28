#include "measure/FineEstimator.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

#include "core/Numbers.h"

namespace harmolune {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMostBins = FineEstimator::kWindowLength / 2 + 1;
constexpr double kBlockSeconds = static_cast<double>(kFrameLength) / kSampleRate;

// The partial stands clearly above the noise while its peak is 30 dB above
// the median power of the bins around it, and less than 40 dB below its
// loudest: further down, some sampled notes loop a sustain at another pitch,
// and nobody hears it. Two windows in a row below either mark the end.
constexpr double kMinSignalToNoise = 1e3;
constexpr double kMaxFall = 1e-4;
constexpr double kAudibleFall = 0.0316227766;  // 30 dB in amplitude
constexpr int kWeakWindowsToEnd = 2;

// From the C an octave above middle C, half a second of sound decays too
// much to give enough windows: two blocks (4 Hz bins) resolve these notes.
constexpr double kShortWindowFromHz = 500.0;

// Bins around the peak that belong to it (the Hann main lobe is 2 bins wide
// each side, and a decaying note widens it), and how far the noise is looked
// for on each side.
constexpr int kPeakHalfWidth = 6;
constexpr int kMinNoiseReach = 32;

// An estimate this far from the weighted median is a fragment, not the note.
constexpr double kOutlierCents = 20.0;

constexpr int kNewtonSteps = 3;
constexpr int kPhasorRun = 512;  // samples between exact evaluations of the phasor

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& PlannerLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

FineEstimator::FineEstimator() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    windowed_ = fftw_alloc_real(kWindowLength);
    auto* spectrum = fftw_alloc_complex(kMostBins);
    spectrum_ = spectrum;
    longPlan_ = fftw_plan_dft_r2c_1d(kWindowLength, windowed_, spectrum,
                                     FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    shortPlan_ = fftw_plan_dft_r2c_1d(kWindowLength / 2, windowed_, spectrum,
                                      FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    // Symmetric about the window's centre, (N - 1) / 2, where Refine puts its
    // time origin: the window's own transform is then real.
    for (int n = 0; n < kWindowLength; ++n) {
        const double s = std::sin(std::numbers::pi * (n + 0.5) / kWindowLength);
        longHann_[n] = s * s;
    }
    constexpr int kShortLength = kWindowLength / 2;
    for (int n = 0; n < kShortLength; ++n) {
        const double s = std::sin(std::numbers::pi * (n + 0.5) / kShortLength);
        shortHann_[n] = s * s;
    }
}

FineEstimator::~FineEstimator() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    fftw_destroy_plan(static_cast<fftw_plan>(longPlan_));
    fftw_destroy_plan(static_cast<fftw_plan>(shortPlan_));
    fftw_free(spectrum_);
    fftw_free(windowed_);
}

void FineEstimator::Start(int midiNote) {
    Clear();
    following_ = true;
    referenceHz_ = EqualTemperedHz(midiNote);
    windowBlocks_ = referenceHz_ >= kShortWindowFromHz ? kWindowBlocks / 2 : kWindowBlocks;
    length_ = windowBlocks_ * kFrameLength;
}

void FineEstimator::Clear() {
    following_ = false;
    count_ = 0;
    blocks_ = 0;
    contiguous_ = 0;
    firstUsed_ = -1;
    lastUsed_ = -1;
    strongest_ = 0.0;
    loudest_ = 0;
    weakInARow_ = 0;
}

void FineEstimator::Gap() {
    if (following_) {
        ++blocks_;
        contiguous_ = 0;
    }
}

void FineEstimator::Finish() {
    if (following_) {
        End();
    }
}

void FineEstimator::End() { following_ = false; }

void FineEstimator::Push(const Block& samples) {
    if (!following_) {
        return;
    }
    double* slot = history_.data() + (blocks_ % kWindowBlocks) * kFrameLength;
    for (int i = 0; i < kFrameLength; ++i) {
        slot[i] = samples[i] - 128.0;
    }
    ++blocks_;
    contiguous_ = std::min(contiguous_ + 1, kWindowBlocks);
    // The audible part ends where the block's peak falls 30 dB below the
    // loudest block of the note; one step of the 8-bit scale is allowed for
    // the capture's own noise, whose peak reaches it.
    const int level = BlockLevel(samples);
    loudest_ = std::max(loudest_, level);
    if (count_ > 0 && level < kAudibleFall * loudest_ + 1.0) {
        // The block before held the note's end. Where the note stopped short
        // that block is a fragment, and so is the window that ends with it.
        if (count_ > 3 && lastUsed_ == blocks_ - 2) {
            --count_;
            lastUsed_ =
                static_cast<long long>(estimates_[count_ - 1].centreBlocks + 0.5 * windowBlocks_) -
                1;
        }
        End();
        return;
    }
    const long long firstBlock = blocks_ - windowBlocks_;  // of the window ending here
    if (contiguous_ < windowBlocks_ || firstBlock < kSettleBlocks) {
        return;
    }

    // The window's blocks in time order, without their mean: the 8-bit
    // samples' offset would otherwise leak into the lowest notes' band.
    double sum = 0.0;
    for (int b = 0; b < windowBlocks_; ++b) {
        const double* from = history_.data() + ((firstBlock + b) % kWindowBlocks) * kFrameLength;
        for (int i = 0; i < kFrameLength; ++i) {
            sum += from[i];
        }
    }
    const double mean = sum / length_;
    const double* hann = windowBlocks_ == kWindowBlocks ? longHann_.data() : shortHann_.data();
    for (int b = 0; b < windowBlocks_; ++b) {
        const double* from = history_.data() + ((firstBlock + b) % kWindowBlocks) * kFrameLength;
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(b) * kFrameLength;
        double* to = windowed_ + offset;
        const double* w = hann + offset;
        for (int i = 0; i < kFrameLength; ++i) {
            to[i] = (from[i] - mean) * w[i];
        }
    }

    Estimate e{};
    if (!EstimateWindow(e)) {
        if (++weakInARow_ >= kWeakWindowsToEnd) {
            End();
        }
        return;
    }
    weakInARow_ = 0;
    strongest_ = std::max(strongest_, e.power);
    if (count_ < kMaxEstimates) {
        e.centreBlocks = static_cast<double>(firstBlock) + 0.5 * windowBlocks_;
        estimates_[count_++] = e;
        if (firstUsed_ < 0) {
            firstUsed_ = firstBlock;
        }
        lastUsed_ = blocks_ - 1;
    }
    if (count_ == kMaxEstimates) {
        End();
    }
}

bool FineEstimator::EstimateWindow(Estimate& out) {
    fftw_execute(static_cast<fftw_plan>(windowBlocks_ == kWindowBlocks ? longPlan_ : shortPlan_));
    const auto* spectrum = static_cast<const fftw_complex*>(spectrum_);
    const int kBins = length_ / 2 + 1;
    const double kBinHz = static_cast<double>(kSampleRate) / length_;

    const int lowest =
        std::max(2, static_cast<int>(std::ceil(referenceHz_ * kLowerBandFactor / kBinHz)));
    const int highest =
        std::min(kBins - 3, static_cast<int>(std::floor(referenceHz_ * kUpperBandFactor / kBinHz)));
    if (lowest > highest) {
        return false;
    }
    const int reach = std::max(kMinNoiseReach, (lowest + highest) / 4);
    const int from = std::max(1, lowest - reach);
    const int to = std::min(kBins - 1, highest + reach);
    for (int k = from; k <= to; ++k) {
        power_[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    }
    int peak = lowest;
    for (int k = lowest + 1; k <= highest; ++k) {
        if (power_[k] > power_[peak]) {
            peak = k;
        }
    }
    // The strongest bin of the band must be a peak of its own, not the slope
    // of something outside the band.
    if (!(power_[peak] > 0.0) || power_[peak - 1] >= power_[peak] ||
        power_[peak + 1] > power_[peak]) {
        return false;
    }

    int noiseBins = 0;
    for (int k = std::max(1, peak - reach); k <= std::min(kBins - 1, peak + reach); ++k) {
        if (std::abs(k - peak) > kPeakHalfWidth && k >= from && k <= to) {
            scratch_[noiseBins++] = power_[k];
        }
    }
    double noise = 0.0;
    if (noiseBins > 0) {
        std::nth_element(scratch_.begin(), scratch_.begin() + noiseBins / 2,
                         scratch_.begin() + noiseBins);
        noise = scratch_[noiseBins / 2];
    }
    if (power_[peak] < kMinSignalToNoise * noise || power_[peak] < kMaxFall * strongest_) {
        return false;
    }

    // A parabola through the logarithms of the three top bins: exact for a
    // Gaussian peak, within a few hundredths of a bin for a Hann one.
    const double a = std::log(power_[peak - 1]);
    const double b = std::log(power_[peak]);
    const double c = std::log(power_[peak + 1]);
    const double curvature = a - 2.0 * b + c;
    double offset = curvature < 0.0 ? 0.5 * (a - c) / curvature : 0.0;
    offset = std::clamp(offset, -0.5, 0.5);

    const double omega = Refine(kTwoPi * (peak + offset) / length_);
    out.frequencyHz = omega * kSampleRate / kTwoPi;
    out.power = power_[peak];
    return std::isfinite(out.frequencyHz) && out.frequencyHz > (lowest - 1) * kBinHz &&
           out.frequencyHz < (highest + 1) * kBinHz;
}

// Newton steps towards the top of ln |X(ω)|², where X is the windowed block's
// transform evaluated directly at ω (radians per sample) with the time origin
// at the window's centre. With S_m = Σ t^m x(t) e^(−iωt):
//   P = |S0|², P' = 2 Im(conj(S0) S1), P'' = 2 (|S1|² − Re(conj(S0) S2)).
// Each step is bounded to half a bin and taken only where the curve is
// concave; the logarithm's curvature changes slowly over the main lobe, so
// two or three steps from a twentieth of a bin leave nothing to gain.
double FineEstimator::Refine(double omega) const {
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

std::optional<FineReading> FineEstimator::Reading() const {
    if (count_ < 3) {
        return std::nullopt;
    }
    // First the power-weighted median, which no fragment can move: estimates
    // more than a fifth of a semitone from it are set aside.
    std::copy_n(estimates_.begin(), count_, sorted_.begin());
    std::sort(sorted_.begin(), sorted_.begin() + count_,
              [](const Estimate& x, const Estimate& y) { return x.frequencyHz < y.frequencyHz; });
    double total = 0.0;
    for (int i = 0; i < count_; ++i) {
        total += sorted_[i].power;
    }
    double median = sorted_[count_ - 1].frequencyHz;
    double below = 0.0;
    for (int i = 0; i < count_; ++i) {
        below += sorted_[i].power;
        if (below >= 0.5 * total) {
            median = sorted_[i].frequencyHz;
            break;
        }
    }

    // Then the frequency that one window over the whole span would show:
    // the slope of the partial's phase, fitted by least squares with the
    // weights of a Hann window over the span times the partial's amplitude.
    // That slope is the mean of the estimates weighted by a tent that
    // peaks at the fit's centre of time: Σ_{j ≥ i} A_j (t_j − t̄).
    const double spanBegin = estimates_[0].centreBlocks - 0.5 * windowBlocks_;
    const double spanLength = estimates_[count_ - 1].centreBlocks + 0.5 * windowBlocks_ - spanBegin;
    double weightSum = 0.0;
    double timeSum = 0.0;
    for (int i = 0; i < count_; ++i) {
        Estimate& e = sorted_[i];
        e = estimates_[i];
        const double taper = std::sin(std::numbers::pi * (e.centreBlocks - spanBegin) / spanLength);
        const bool kept = std::abs(CentsBetween(e.frequencyHz, median)) <= kOutlierCents;
        e.power = kept ? std::sqrt(estimates_[i].power) * taper * taper : 0.0;
        weightSum += e.power;
        timeSum += e.power * e.centreBlocks;
    }
    if (!(weightSum > 0.0)) {
        return std::nullopt;
    }
    const double centre = timeSum / weightSum;
    double tail = 0.0;
    double kernelSum = 0.0;
    double frequencySum = 0.0;
    for (int i = count_ - 1; i >= 0; --i) {
        const double moment = sorted_[i].power * (sorted_[i].centreBlocks - centre);
        const double kernel = std::max(0.0, tail + 0.5 * moment);
        tail += moment;
        kernelSum += kernel;
        frequencySum += kernel * sorted_[i].frequencyHz;
        sorted_[i].power = kernel;
    }
    if (!(kernelSum > 0.0)) {
        return std::nullopt;
    }
    FineReading r;
    r.frequencyHz = frequencySum / kernelSum;
    r.cents = CentsBetween(r.frequencyHz, referenceHz_);
    // How far the pitch strays, with the same weights, over the span.
    double spread = 0.0;
    for (int i = 0; i < count_; ++i) {
        const double d = CentsBetween(sorted_[i].frequencyHz, r.frequencyHz);
        spread += sorted_[i].power * d * d;
    }
    r.uncertaintyCents = std::sqrt(spread / kernelSum);
    r.seconds = static_cast<double>(lastUsed_ - firstUsed_ + 1) * kBlockSeconds;
    r.final = !following_;
    return r;
}

std::string FineReadingText(const FineReading& reading, std::string_view noteName,
                            std::string_view decimalSeparator) {
    // Cents to one decimal, as a tuner shows them, or to two when the
    // uncertainty is below a tenth. French counts below 2 in the singular.
    const int decimals = reading.uncertaintyCents < 0.095 ? 2 : 1;
    const auto cents = [&](double x) {
        std::string text = FormatFixed(std::abs(x), decimals, decimalSeparator);
        return text + (std::abs(x) < 2.0 ? " cent" : " cents");
    };
    const std::string deviation = cents(reading.cents);
    const bool zero = deviation.find_first_of("123456789") == std::string::npos;
    std::string text = reading.final ? "Mesure fine : " : "Mesure fine (provisoire) : ";
    text += FormatFixed(reading.frequencyHz, 3, decimalSeparator) + " Hz, ";
    text += (reading.cents < 0.0 && !zero) ? "-" : "+";
    text += deviation + " par rapport à ";
    text += noteName;
    text += " (± " + cents(reading.uncertaintyCents) + ", ";
    text += FormatFixed(reading.seconds, 1, decimalSeparator) + " s de son)";
    return text;
}

}  // namespace harmolune
