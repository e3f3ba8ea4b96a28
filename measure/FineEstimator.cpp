#include "measure/FineEstimator.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>

#include "core/Numbers.h"

namespace harmolune {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMostBins = FineEstimator::kMaxWindowLength / 2 + 1;
constexpr double kBlockSeconds = static_cast<double>(kFrameLength) / kSampleRate;
constexpr double kCentsPerRatio = 1200.0 / std::numbers::ln2;  // cents per unit of ln f

// The partial stands clearly above the noise while its peak is 30 dB above
// the median power of the bins around it, and less than 40 dB below its
// loudest: further down, some sampled notes loop a sustain at another pitch,
// and nobody hears it. Two windows in a row below either mark the end.
constexpr double kMinSignalToNoise = 1e3;
constexpr double kMaxFall = 1e-4;
constexpr double kAudibleFall = 0.0316227766;  // 30 dB in amplitude
constexpr int kWeakWindowsToEnd = 2;

// A piano note ends where the partial followed falls 20 dB below its
// loudest window (a sampled piano loops its sustain at another pitch further
// down), 30 dB in the top octave, whose prompt sound falls that far within a
// third of a second before it rings softly. The block peak is no guide: the
// prompt sound of the upper partials dies long before the fundamental.
constexpr double kPianoFall = 1e-2;
constexpr double kTopOctaveFall = 1e-3;

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

// How far a real piano's fundamental strays from where an ideal stiff string
// with its partials 2 to 16 would put it (wound strings, the soundboard):
// 0.3 to 4 cents.
constexpr double kModelCents = 2.0;

// The strings of a piano's unison beat more slowly than a note lasts: the
// pitch heard then lies up to a few tenths of a cent from their mean, and no
// spread over the note shows it.
constexpr double kUnisonCents = 0.15;

constexpr int kNewtonSteps = 3;
constexpr int kPhasorRun = 512;  // samples between exact evaluations of the phasor

// A piano key's window, by the key's equal-tempered frequency: its length
// and how often one is taken, in blocks, and the blocks left out after the
// strike.
struct PianoWindow {
    double belowHz;
    int blocks;
    int hopBlocks;
    int settleBlocks;
};
constexpr std::array<PianoWindow, 5> kPianoWindows{{
    // A0 to A♯1: the fundamental, 20 to 40 dB below partial 2, stands out of
    // the noise only over seconds, and 0.25 Hz bins keep the mains hum
    // (50 Hz) far from it. A window every second.
    {60.0, 32, 8, FineEstimator::kSettleBlocks},
    // Up to G2, whose fundamental lies next to the hum's second harmonic.
    {100.0, 16, 4, FineEstimator::kSettleBlocks},
    {kShortWindowFromHz, 4, 1, FineEstimator::kSettleBlocks},
    {1400.0, 2, 1, FineEstimator::kSettleBlocks},
    // F♯6 up: the struck sound falls 30 dB within a third of a second and the
    // attack is over in tens of milliseconds. One block (8 Hz bins, still
    // hundreds of bins between partials) from the block after the strike.
    {std::numeric_limits<double>::infinity(), 1, 1, 1},
}};

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& PlannerLock() {
    static std::mutex lock;
    return lock;
}

// A rough B for where to look for partial 3 once partial 2 is found: 2 × 10⁻⁴
// in the bass, rising to 1.6 × 10⁻² at C8. The measured partials replace it.
double PriorInharmonicity(int midiNote) {
    const double key = std::clamp(midiNote, 21, 108);
    return std::pow(10.0, key <= 48 ? -3.7 : -3.7 + 1.9 * (key - 48.0) / 60.0);
}

}  // namespace

FineEstimator::FineEstimator()
    : history_(new double[kMaxWindowLength]), power_(kMostBins), scratch_(kMostBins) {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    windowed_ = fftw_alloc_real(kMaxWindowLength);
    auto* spectrum = fftw_alloc_complex(kMostBins);
    spectrum_ = spectrum;
    for (std::size_t i = 0; i < plans_.size(); ++i) {
        const int length = kFrameLength << i;
        plans_[i] =
            fftw_plan_dft_r2c_1d(length, windowed_, spectrum, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        hann_[i].reset(new double[length]);
    }
}

void FineEstimator::MakeHann(int plan) {
    if (hannMade_[plan]) {
        return;
    }
    // Symmetric about the window's centre, (N - 1) / 2, where Refine puts its
    // time origin: the window's own transform is then real.
    const int length = kFrameLength << plan;
    for (int n = 0; n < length; ++n) {
        const double s = std::sin(std::numbers::pi * (n + 0.5) / length);
        hann_[plan][n] = s * s;
    }
    hannMade_[plan] = true;
}

FineEstimator::~FineEstimator() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    for (void* plan : plans_) {
        fftw_destroy_plan(static_cast<fftw_plan>(plan));
    }
    fftw_free(spectrum_);
    fftw_free(windowed_);
}

int FineEstimator::PlanIndex() const {
    int index = 0;
    while ((1 << index) < windowBlocks_) {
        ++index;
    }
    return index;
}

void FineEstimator::Start(int midiNote, bool pianoKey) {
    Clear();
    following_ = true;
    piano_ = pianoKey;
    referenceHz_ = EqualTemperedHz(midiNote);
    if (!piano_) {
        windowBlocks_ = referenceHz_ >= kShortWindowFromHz ? kWindowBlocks / 2 : kWindowBlocks;
        hopBlocks_ = 1;
        settleBlocks_ = kSettleBlocks;
    } else {
        const PianoWindow* w = kPianoWindows.data();
        while (referenceHz_ >= w->belowHz) {
            ++w;
        }
        windowBlocks_ = w->blocks;
        hopBlocks_ = w->hopBlocks;
        settleBlocks_ = w->settleBlocks;
    }
    length_ = windowBlocks_ * kFrameLength;
    MakeHann(PlanIndex());
    binHz_ = static_cast<double>(kSampleRate) / length_;
    // The noise of a piano's partial is taken between it and its
    // neighbours, never on them.
    noiseReach_ = std::max(12, static_cast<int>(0.45 * referenceHz_ / binHz_));
    priorB_ = PriorInharmonicity(midiNote);
    nextWindowEnd_ = settleBlocks_ + windowBlocks_;
}

void FineEstimator::Clear() {
    following_ = false;
    count_ = 0;
    blocks_ = 0;
    contiguous_ = 0;
    firstUsed_ = -1;
    lastUsed_ = -1;
    strongest_ = 0.0;
    loudestPartial_ = 0.0;
    loudest_ = 0;
    weakInARow_ = 0;
    partialSum_.fill(0.0);
    partialWeight_.fill(0.0);
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
    double* slot = history_.get() + (blocks_ % kMaxWindowBlocks) * kFrameLength;
    for (int i = 0; i < kFrameLength; ++i) {
        slot[i] = samples[i] - 128.0;
    }
    ++blocks_;
    contiguous_ = std::min(contiguous_ + 1, kMaxWindowBlocks);
    const int level = BlockLevel(samples);
    loudest_ = std::max(loudest_, level);
    // The audible part of a guitar string ends where the block's peak falls
    // 30 dB below the loudest block of the note; one step of the 8-bit scale
    // is allowed for the capture's own noise, whose peak reaches it.
    if (!piano_ && count_ > 0 && level < kAudibleFall * loudest_ + 1.0) {
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
    // A piano key from G♯2 up ends there too, once it has three windows: the
    // tuner tunes by the loud part, and a sampled piano loops its sustain at
    // another pitch further down. Until then it goes on, for the notes whose
    // upper partials make the block peak fall 30 dB before the fundamental
    // has been seen in three windows.
    if (piano_ && windowBlocks_ <= kWindowBlocks && count_ >= 3 &&
        level < kAudibleFall * loudest_ + 1.0) {
        End();
        return;
    }
    if (contiguous_ < windowBlocks_ || blocks_ < nextWindowEnd_) {
        return;
    }
    nextWindowEnd_ = blocks_ + hopBlocks_;
    const long long firstBlock = blocks_ - windowBlocks_;  // of the window ending here

    // The window's blocks in time order, without their mean: the 8-bit
    // samples' offset would otherwise leak into the lowest notes' band.
    double sum = 0.0;
    for (int b = 0; b < windowBlocks_; ++b) {
        const double* from = history_.get() + ((firstBlock + b) % kMaxWindowBlocks) * kFrameLength;
        for (int i = 0; i < kFrameLength; ++i) {
            sum += from[i];
        }
    }
    const double mean = sum / length_;
    const double* hann = hann_[PlanIndex()].get();
    for (int b = 0; b < windowBlocks_; ++b) {
        const double* from = history_.get() + ((firstBlock + b) % kMaxWindowBlocks) * kFrameLength;
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(b) * kFrameLength;
        double* to = windowed_ + offset;
        const double* w = hann + offset;
        for (int i = 0; i < kFrameLength; ++i) {
            to[i] = (from[i] - mean) * w[i];
        }
    }

    Estimate e{};
    double followed = 0.0;  // power of the partial the note's end is judged by
    bool usable = EstimateWindow(e, followed);
    if (usable && piano_) {
        double& loudest = e.fromPartials ? loudestPartial_ : strongest_;
        loudest = std::max(loudest, followed);
        usable = followed >= (windowBlocks_ == 1 ? kTopOctaveFall : kPianoFall) * loudest;
        // A window far from the one before has lost the note to something
        // else in its band: the hum, a neighbour's string.
        if (count_ > 0 && e.fromPartials == estimates_[count_ - 1].fromPartials &&
            std::abs(CentsBetween(e.frequencyHz, estimates_[count_ - 1].frequencyHz)) >
                kOutlierCents) {
            usable = false;
        }
    }
    if (!usable) {
        // A piano's top octave rings softly after its prompt sound, and its
        // unison beats can hide it for a block or two: half a second of weak
        // windows ends it.
        const int weakToEnd = piano_ && windowBlocks_ == 1 ? 4 : kWeakWindowsToEnd;
        if (++weakInARow_ >= weakToEnd) {
            End();
        }
        return;
    }
    weakInARow_ = 0;
    if (!piano_) {
        strongest_ = std::max(strongest_, e.power);
    }
    if (count_ < kMaxEstimates) {
        e.centreBlocks = static_cast<double>(firstBlock) + 0.5 * windowBlocks_;
        estimates_[count_++] = e;
        if (firstUsed_ < 0) {
            firstUsed_ = firstBlock;
        }
        lastUsed_ = blocks_ - 1;
        for (int i = 0; i < foundCount_; ++i) {
            const int n = found_[i].number;
            partialSum_[n] += foundAmplitude_[i] * found_[i].frequencyHz;
            partialWeight_[n] += foundAmplitude_[i];
        }
    }
    if (count_ == kMaxEstimates) {
        End();
    }
}

double FineEstimator::NoiseAround(int peak) {
    const int bins = length_ / 2 + 1;
    int noiseBins = 0;
    for (int k = std::max(1, peak - noiseReach_); k <= std::min(bins - 1, peak + noiseReach_);
         ++k) {
        if (std::abs(k - peak) > kPeakHalfWidth) {
            scratch_[noiseBins++] = power_[k];
        }
    }
    if (noiseBins == 0) {
        return 0.0;
    }
    std::nth_element(scratch_.begin(), scratch_.begin() + noiseBins / 2,
                     scratch_.begin() + noiseBins);
    return scratch_[noiseBins / 2];
}

// The strongest bin of power_ from lowest to highest, if it is a peak of its
// own (not the slope of something outside the band); the first of equals.
std::optional<int> FineEstimator::PeakOfItsOwn(int lowest, int highest) const {
    int peak = lowest;
    for (int k = lowest + 1; k <= highest; ++k) {
        if (power_[k] > power_[peak]) {
            peak = k;
        }
    }
    if (!(power_[peak] > 0.0) || power_[peak - 1] >= power_[peak] ||
        power_[peak + 1] > power_[peak]) {
        return std::nullopt;
    }
    return peak;
}

// The strongest bin from fromHz to toHz, if it is a peak of its own (not the
// slope of something outside) standing minSignalToNoise above the noise around
// it, placed between its bins by their magnitudes.
std::optional<FineEstimator::Peak> FineEstimator::FindPartial(double fromHz, double toHz,
                                                              double minSignalToNoise) {
    const int bins = length_ / 2 + 1;
    const int lowest = std::max(2, static_cast<int>(std::ceil(fromHz / binHz_)));
    const int highest = std::min(bins - 3, static_cast<int>(std::floor(toHz / binHz_)));
    if (lowest > highest) {
        return std::nullopt;
    }
    const std::optional<int> found = PeakOfItsOwn(lowest, highest);
    if (!found) {
        return std::nullopt;
    }
    const int peak = *found;
    const double noise = NoiseAround(peak);
    if (power_[peak] < minSignalToNoise * noise) {
        return std::nullopt;
    }
    // For a Hann window the three magnitudes around a steady sinusoid's peak
    // give its place exactly: δ = 2 (|X₊| − |X₋|) / (|X₋| + 2 |X₀| + |X₊|).
    const double below = std::sqrt(power_[peak - 1]);
    const double top = std::sqrt(power_[peak]);
    const double above = std::sqrt(power_[peak + 1]);
    const double offset =
        std::clamp(2.0 * (above - below) / (below + 2.0 * top + above), -0.5, 0.5);
    Peak p;
    p.bin = peak;
    p.frequencyHz = (peak + offset) * binHz_;
    p.power = power_[peak];
    p.signalToNoise = noise > 0.0 ? power_[peak] / noise : 1e12;
    return p;
}

bool FineEstimator::EstimateWindow(Estimate& out, double& followed) {
    fftw_execute(static_cast<fftw_plan>(plans_[PlanIndex()]));
    const auto* spectrum = static_cast<const fftw_complex*>(spectrum_);
    const int kBins = length_ / 2 + 1;
    const double kBinHz = binHz_;

    const int lowest =
        std::max(2, static_cast<int>(std::ceil(referenceHz_ * kLowerBandFactor / kBinHz)));
    const int highest =
        std::min(kBins - 3, static_cast<int>(std::floor(referenceHz_ * kUpperBandFactor / kBinHz)));
    if (lowest > highest) {
        return false;
    }
    out.fromPartials = false;
    out.noiseCents = 0.0;

    if (piano_) {
        const int top =
            std::min(kBins - 1, static_cast<int>(kHighestPartialHz / kBinHz) + noiseReach_ + 2);
        for (int k = 0; k <= top; ++k) {
            power_[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
        }
        double fittedF1 = 0.0;
        MeasurePartials(fittedF1);
        // Partials that a stiff string does not explain are something else
        // (a neighbour, distortion, noise): the model places the fundamental
        // only when three or more partials agree.
        const bool modelled = KeepStiffString();
        const int partials = modelled ? foundCount_ : 0;
        if (modelled) {
            const std::optional<StiffStringFit> fit = FitStiffString(found_.data(), foundCount_);
            fittedF1 = std::sqrt(fit->f0Squared + fit->f0SquaredB);
        }
        std::optional<Peak> fundamental;
        if (partials > 0) {
            // Where the partials put it, within a bin or two of the model's
            // error; the hum and partial 2 lie outside.
            const double halfWidth = std::max(2.5 * kBinHz, 0.01 * fittedF1);
            fundamental =
                FindPartial(std::max(fittedF1 - halfWidth, lowest * kBinHz),
                            std::min(fittedF1 + halfWidth, highest * kBinHz), kMinPartialToNoise);
        } else {
            fundamental = FindPartial(lowest * kBinHz, highest * kBinHz, kMinSignalToNoise);
        }
        if (!fundamental) {
            if (partials < 3) {
                return false;
            }
            double loudest = 0.0;
            for (int i = 0; i < foundCount_; ++i) {
                loudest = std::max(loudest, foundAmplitude_[i] * foundAmplitude_[i]);
            }
            out.frequencyHz = fittedF1;
            out.power = loudest;
            out.fromPartials = true;
            followed = loudest;
            return true;
        }
        const double omega = Refine(kTwoPi * fundamental->frequencyHz / kSampleRate);
        out.frequencyHz = omega * kSampleRate / kTwoPi;
        out.power = fundamental->power;
        // The spread of a Hann-window frequency estimate in white noise, in
        // bins: about 0.32 / √(peak-to-noise power ratio).
        out.noiseCents = kCentsPerRatio * 0.32 / std::sqrt(fundamental->signalToNoise) * kBinHz /
                         out.frequencyHz;
        followed = out.power;
        if (!(std::abs(out.frequencyHz - fundamental->frequencyHz) < kBinHz)) {
            return false;
        }
        // The fundamental joins its partials, lowest first, and all of them
        // must agree; partials that do not are not kept.
        if (foundCount_ > 0 && foundCount_ < kMaxPartials + 1) {
            for (int i = foundCount_; i > 0; --i) {
                found_[i] = found_[i - 1];
                foundAmplitude_[i] = foundAmplitude_[i - 1];
            }
            found_[0] = {1, out.frequencyHz};
            foundAmplitude_[0] = std::sqrt(out.power);
            ++foundCount_;
            if (!KeepStiffString()) {
                foundCount_ = 0;
            }
        }
        if (foundCount_ == 0) {
            found_[0] = {1, out.frequencyHz};
            foundAmplitude_[0] = std::sqrt(out.power);
            foundCount_ = 1;
        }
        return std::isfinite(out.frequencyHz);
    }

    foundCount_ = 0;
    const int reach = std::max(kMinNoiseReach, (lowest + highest) / 4);
    const int from = std::max(1, lowest - reach);
    const int to = std::min(kBins - 1, highest + reach);
    for (int k = from; k <= to; ++k) {
        power_[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    }
    const std::optional<int> found = PeakOfItsOwn(lowest, highest);
    if (!found) {
        return false;
    }
    const int peak = *found;

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
    if (noise > 0.0) {
        out.noiseCents =
            kCentsPerRatio * 0.32 * std::sqrt(noise / out.power) * kBinHz / out.frequencyHz;
    }
    followed = out.power;
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
    // The fundamental as measured, where at least three windows saw it; else
    // where the partials put it.
    int measured = 0;
    for (int i = 0; i < count_; ++i) {
        measured += estimates_[i].fromPartials ? 0 : 1;
    }
    const bool fromPartials = measured < 3;
    int count = 0;
    for (int i = 0; i < count_; ++i) {
        if (estimates_[i].fromPartials == fromPartials) {
            chosen_[count++] = estimates_[i];
        }
    }
    if (count < 3) {
        return std::nullopt;
    }
    // First the power-weighted median, which no fragment can move: estimates
    // more than a fifth of a semitone from it are set aside.
    std::copy_n(chosen_.begin(), count, sorted_.begin());
    std::sort(sorted_.begin(), sorted_.begin() + count,
              [](const Estimate& x, const Estimate& y) { return x.frequencyHz < y.frequencyHz; });
    double total = 0.0;
    for (int i = 0; i < count; ++i) {
        total += sorted_[i].power;
    }
    double median = sorted_[count - 1].frequencyHz;
    double below = 0.0;
    for (int i = 0; i < count; ++i) {
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
    const double spanBegin = chosen_[0].centreBlocks - 0.5 * windowBlocks_;
    const double spanLength = chosen_[count - 1].centreBlocks + 0.5 * windowBlocks_ - spanBegin;
    double weightSum = 0.0;
    double timeSum = 0.0;
    for (int i = 0; i < count; ++i) {
        Estimate& e = sorted_[i];
        e = chosen_[i];
        const double taper = std::sin(std::numbers::pi * (e.centreBlocks - spanBegin) / spanLength);
        const bool kept = std::abs(CentsBetween(e.frequencyHz, median)) <= kOutlierCents;
        // A piano key's partial is followed far into its decay: weighted by
        // its power, the loud part it is tuned by leads.
        const double weight = piano_ ? chosen_[i].power : std::sqrt(chosen_[i].power);
        e.power = kept ? weight * taper * taper : 0.0;
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
    for (int i = count - 1; i >= 0; --i) {
        const double moment = sorted_[i].power * (sorted_[i].centreBlocks - centre);
        // An estimate set aside takes no part, wherever it lies in the span.
        const double kernel = sorted_[i].power > 0.0 ? std::max(0.0, tail + 0.5 * moment) : 0.0;
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

    // Each partial averaged over the windows that saw it, weighted by its
    // amplitude, and B fitted to them.
    if (piano_) {
        for (int n = 1; n <= kMaxPartials; ++n) {
            if (partialWeight_[n] > 0.0) {
                r.partials[r.partialCount++] = {n, partialSum_[n] / partialWeight_[n]};
            }
        }
        if (r.partialCount >= 3) {
            const std::optional<StiffStringFit> fit =
                FitStiffString(r.partials.data(), r.partialCount);
            if (fit) {
                r.inharmonicity = fit->f0SquaredB / fit->f0Squared;
            }
        }
    }

    // How far the pitch strays, with the same weights, over the span. Of
    // that spread, what the noise of one window explains averages out over
    // the windows that do not overlap; the rest is the pitch wandering (two
    // strings beating, a sampled note's loop), which does not. A fundamental
    // placed by its partials adds how far a real string strays from the
    // model.
    double spread = 0.0;
    double noise = 0.0;
    for (int i = 0; i < count; ++i) {
        const double d = CentsBetween(sorted_[i].frequencyHz, r.frequencyHz);
        spread += sorted_[i].power * d * d;
        noise += sorted_[i].power * sorted_[i].noiseCents * sorted_[i].noiseCents;
    }
    spread /= kernelSum;
    noise /= kernelSum;
    const double independent = std::max(1.0, spanLength / windowBlocks_);
    const double wander = std::max(0.0, spread - noise);
    const double model = fromPartials ? kModelCents : 0.0;
    // A pure tone is no unison of strings: it has no partials.
    const double unison = r.partialCount >= 2 ? kUnisonCents : 0.0;
    r.uncertaintyCents = std::sqrt(wander + noise / independent + model * model + unison * unison);
    r.seconds = static_cast<double>(lastUsed_ - firstUsed_ + 1) * kBlockSeconds;
    r.final = !following_;
    r.fromPartials = fromPartials;
    return r;
}

}  // namespace harmolune
