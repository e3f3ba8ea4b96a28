#include "measure/StrikeDetector.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "measure/WindowedSpectrum.h"

namespace harmolune {

namespace {

constexpr int kBins = kFrameLength / 2 + 1;
constexpr double kBinHz = static_cast<double>(kSampleRate) / kFrameLength;  // 8 Hz

// A strike at least doubles the power of the note's partials over the
// loudest of the half second before; a note ringing on only falls, and a
// unison's beats swell back no higher than they were.
constexpr double kRise = 2.0;
constexpr double kAgainFromStrike = 0.0316227766;  // 15 dB
// ... forgotten by 1.8 dB a second, so that a soft strike long after a loud one counts.
constexpr double kForgetPerBlock = 0.95;
// A partial stands clearly above the noise 30 dB over the quietest quarter of
// the block's bins.
constexpr double kClearOfNoise = 1e3;
// The block where a strike starts holds only part of it: the next two are
// the same strike, however much louder.
constexpr int kSameStrikeBlocks = 2;
// Another sound below and between the note's partials, within 10 dB of them:
// the band's peak is one of its harmonics. (A lower key ringing that loud
// hides the note's strikes too.)
constexpr double kBelowShare = 0.1;
constexpr double kHighestHz = 15000.0;
constexpr double kCheckBetweenFromHz = 100.0;
// Steps of the 8-bit scale from silence below which a block holds no strike.
constexpr int kQuietestStrike = 3;

}  // namespace

StrikeDetector::StrikeDetector() : hann_(kFrameLength), power_(kBins), scratch_(kBins) {
    for (int n = 0; n < kFrameLength; ++n) {
        const double s = std::sin(std::numbers::pi * (n + 0.5) / kFrameLength);
        hann_[static_cast<std::size_t>(n)] = s * s;
    }
    const std::lock_guard<std::mutex> lock(PlannerLock());
    samples_ = fftw_alloc_real(kFrameLength);
    auto* spectrum = fftw_alloc_complex(kBins);
    spectrum_ = spectrum;
    plan_ = fftw_plan_dft_r2c_1d(kFrameLength, samples_, spectrum, FFTW_ESTIMATE);
}

StrikeDetector::~StrikeDetector() {
    const std::lock_guard<std::mutex> lock(PlannerLock());
    fftw_destroy_plan(static_cast<fftw_plan>(plan_));
    fftw_free(spectrum_);
    fftw_free(samples_);
}

void StrikeDetector::SetNote(double referenceHz) {
    referenceHz_ = referenceHz;
    notePower_ = 0.0;
    belowPower_ = 0.0;
    clearPartials_ = 0;
    masked_ = 0;
    sinceStrike_ = 1000;
    primed_ = false;
    recentNote_.fill(0.0);
    loudestSinceStrike_ = 0.0;
}

void StrikeDetector::Mask(int blocks) { masked_ = std::max(masked_, blocks); }

// The strongest bin within halfWidthHz of centreHz, at least a bin and a half
// each side.
double StrikeDetector::Band(double centreHz, double halfWidthHz) const {
    const double half = std::max(1.5 * kBinHz, halfWidthHz);
    const int from = std::max(1, static_cast<int>(std::ceil((centreHz - half) / kBinHz)));
    const int to = std::min(kBins - 2, static_cast<int>(std::floor((centreHz + half) / kBinHz)));
    double strongest = 0.0;
    for (int k = from; k <= to; ++k) {
        strongest = std::max(strongest, power_[static_cast<std::size_t>(k)]);
    }
    return strongest;
}

void StrikeDetector::Analyse(const Block& samples, double mean) {
    for (int n = 0; n < kFrameLength; ++n) {
        samples_[n] =
            (samples[static_cast<std::size_t>(n)] - mean) * hann_[static_cast<std::size_t>(n)];
    }
    fftw_execute(static_cast<fftw_plan>(plan_));
    const auto* spectrum = static_cast<const fftw_complex*>(spectrum_);
    for (int k = 0; k < kBins; ++k) {
        power_[static_cast<std::size_t>(k)] =
            spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    }
    // The noise: the quietest quarter of the bins up to 15 kHz, which no
    // note's partials fill.
    const int top = std::min(kBins - 1, static_cast<int>(kHighestHz / kBinHz));
    std::copy(power_.begin() + 2, power_.begin() + top, scratch_.begin());
    const int count = top - 2;
    std::nth_element(scratch_.begin(), scratch_.begin() + count / 4, scratch_.begin() + count);
    const double noise = scratch_[static_cast<std::size_t>(count / 4)];

    // Partials 1 to 4 at least, and enough to reach 500 Hz in the bass, where
    // the fundamental is weak; a stretched tuning and B put the higher ones
    // a few percent sharp.
    const int partials = std::clamp(static_cast<int>(500.0 / referenceHz_), 4, 16);
    for (int n = 1; n <= partials && n * referenceHz_ < kHighestHz; ++n) {
        const double p = Band(n * referenceHz_, (n == 1 ? 0.1 : 0.06) * n * referenceHz_);
        notePower_ += p;
        clearPartials_ += p >= kClearOfNoise * noise ? 1 : 0;
    }
    // Below and between the partials of the strongest peak of the note's
    // band: a voice whose harmonic glides into the band has its other
    // harmonics there, and so has a lower key whose partial falls on the
    // note. A string has none.
    const int lowest = std::max(1, static_cast<int>(std::ceil(0.9 * referenceHz_ / kBinHz)));
    const int highest =
        std::min(kBins - 2, static_cast<int>(std::floor(1.1 * referenceHz_ / kBinHz)));
    int peak = lowest;
    for (int k = lowest + 1; k <= highest; ++k) {
        if (power_[static_cast<std::size_t>(k)] > power_[static_cast<std::size_t>(peak)]) {
            peak = k;
        }
    }
    const double peakHz = peak * kBinHz;
    // Below 100 Hz the block's 8 Hz bins leave no room between partials.
    for (const double share : {1.0 / 3.0, 0.5, 2.0 / 3.0, 1.5, 2.5}) {
        if (referenceHz_ >= kCheckBetweenFromHz && share * peakHz >= 40.0) {
            belowPower_ += Band(share * peakHz, 0.03 * share * peakHz);
        }
    }
}

bool StrikeDetector::Push(const Block& samples) {
    double sum = 0.0;
    int peak = 0;
    for (const std::uint8_t s : samples) {
        sum += s;
        peak = std::max(peak, std::abs(s - 128));
    }
    // The loudest of the blocks before: a unison's beats swell from a dip,
    // not above the swell before.
    recentNote_[static_cast<std::size_t>(blocks_++ % kRecentBlocks)] = notePower_;
    double previousNote = 0.0;
    for (const double p : recentNote_) {
        previousNote = std::max(previousNote, p);
    }
    notePower_ = 0.0;
    belowPower_ = 0.0;
    clearPartials_ = 0;
    // A block whose samples stray no more than a step or two from silence
    // holds no strike: it is not transformed, and the window costs next to
    // nothing between notes.
    if (peak >= kQuietestStrike) {
        Analyse(samples, sum / kFrameLength);
    }
    ++sinceStrike_;
    // The first block only tells what already sounds: a note ringing, the hum.
    if (!primed_) {
        primed_ = true;
        return false;
    }
    if (masked_ > 0) {
        --masked_;
        return false;
    }
    // A strike again is about as loud as the one before; the swell of a
    // unison's slow beats, seconds later in the note's tail, is far below it.
    const bool rose = notePower_ >= kRise * previousNote && clearPartials_ > 0 &&
                      notePower_ >= kAgainFromStrike * loudestSinceStrike_;
    loudestSinceStrike_ = std::max(kForgetPerBlock * loudestSinceStrike_, notePower_);
    const bool otherSound = belowPower_ >= kBelowShare * notePower_;
    if (!rose || otherSound || sinceStrike_ <= kSameStrikeBlocks) {
        return false;
    }
    sinceStrike_ = 0;
    loudestSinceStrike_ = notePower_;
    return true;
}

}  // namespace harmolune
