#include "measure/WindowEstimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/Pitch.h"

namespace harmolune {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kCentsPerRatio = 1200.0 / std::numbers::ln2;  // cents per unit of ln f

// The partial stands clearly above the noise while its peak is 30 dB above
// the median power of the bins around it, and less than 40 dB below its
// loudest: further down, some sampled notes loop a sustain at another pitch,
// and nobody hears it.
constexpr double kMinSignalToNoise = 1e3;
constexpr double kMaxFall = 1e-4;

// The fewest bins between a piano's partials that leave room for the noise
// around each of them; every window of the note's own plan has 50 or more.
constexpr double kFewestBinsBetweenPartials = 40.0;
// The main lobe of a Hann window over a block or two.
constexpr int kShortPeakHalfWidth = 3;

// How far the noise of a note that is not a piano key is looked for on each
// side of its band.
constexpr int kMinNoiseReach = 32;

}  // namespace

WindowEstimator::WindowEstimator() : peaks_(WindowedSpectrum::kMostBins) {}

void WindowEstimator::SetNote(double referenceHz, bool pianoKey, int windowBlocks, double priorB) {
    referenceHz_ = referenceHz;
    piano_ = pianoKey;
    windowBlocks_ = windowBlocks;
    priorB_ = priorB;
    spectrum_.SetBlocks(windowBlocks);
    // Windows of a block or two leave a low note's partials a few bins
    // apart: the noise is taken midway between them, beside a main lobe that
    // no decay widens.
    const double between = referenceHz / spectrum_.BinHz();
    if (between < kFewestBinsBetweenPartials && 0.5 * between > kShortPeakHalfWidth + 0.5) {
        noiseReach_ = static_cast<int>(0.5 * between);
        peaks_.SetWindow(spectrum_.Bins(), spectrum_.BinHz(), noiseReach_, kShortPeakHalfWidth);
    } else {
        noiseReach_ = NoiseReach(referenceHz, spectrum_.BinHz());
        peaks_.SetWindow(spectrum_.Bins(), spectrum_.BinHz(), noiseReach_);
    }
}

bool WindowEstimator::Estimate(const BlockHistory& history, long long firstBlock,
                               WindowEstimate& out, double& followed, double strongest) {
    spectrum_.Transform(history, firstBlock);
    const int kBins = spectrum_.Bins();
    const double kBinHz = spectrum_.BinHz();

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
        return EstimatePiano(out, followed, lowest, highest);
    }
    return EstimateOther(out, followed, strongest, lowest, highest);
}

bool WindowEstimator::EstimatePiano(WindowEstimate& out, double& followed, int lowest,
                                    int highest) {
    const int kBins = spectrum_.Bins();
    const double kBinHz = spectrum_.BinHz();
    const int top =
        std::min(kBins - 1, static_cast<int>(kHighestPartialHz / kBinHz) + noiseReach_ + 2);
    spectrum_.Power(0, top, peaks_.Power());
    double fittedF1 = 0.0;
    MeasurePartials(fittedF1);
    // Partials that a stiff string does not explain are something else (a
    // neighbour, distortion, noise): the model places the fundamental only
    // when three or more partials agree.
    const bool modelled = KeepStiffString();
    int partials = modelled ? foundCount_ : 0;
    if (modelled) {
        const std::optional<StiffStringFit> fit = FitStiffString(found_.data(), foundCount_);
        fittedF1 = std::sqrt(fit->f0Squared + fit->f0SquaredB);
    }
    // The loudest partial, against which a fundamental of its own is judged.
    double loudestPartial = 0.0;
    for (int i = 0; i < foundCount_; ++i) {
        loudestPartial = std::max(loudestPartial, foundAmplitude_[i] * foundAmplitude_[i]);
    }
    std::optional<Peak> fundamental;
    if (partials > 0) {
        // Where the partials put it, within a bin or two of the model's
        // error; the hum and partial 2 lie outside.
        const double halfWidth = std::max(2.5 * kBinHz, 0.01 * fittedF1);
        fundamental = peaks_.FindPartial(
            std::max(fittedF1 - halfWidth, lowest * kBinHz),
            std::min(fittedF1 + halfWidth, highest * kBinHz),
            windowBlocks_ >= kLongWindowBlocks ? kMinLongFundamentalToNoise : kMinPartialToNoise);
        // A peak of its own in the band 20 dB above every partial is the note
        // itself, wherever they put it: a pure tone's rounding harmonics or a
        // gap's splatter are not its partials.
        const std::optional<Peak> strongest =
            peaks_.FindPartial(lowest * kBinHz, highest * kBinHz, kMinSignalToNoise);
        if (strongest && (!fundamental || strongest->power > fundamental->power) &&
            strongest->power > kDominantFundamental * loudestPartial) {
            fundamental = strongest;
            foundCount_ = 0;
            partials = 0;
        }
    } else {
        fundamental = peaks_.FindPartial(lowest * kBinHz, highest * kBinHz, kMinSignalToNoise);
    }
    // Where the fundamental stays in the noise, or is something else that
    // its partials do not agree with (the hum, in a window too short to
    // tell them apart), three or more partials place it.
    const auto placeByPartials = [&] {
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
        out.noiseCents = 0.0;
        followed = loudest;
        return true;
    };
    if (!fundamental) {
        return placeByPartials();
    }
    const double omega = spectrum_.Refine(kTwoPi * fundamental->frequencyHz / kSampleRate);
    out.frequencyHz = omega * kSampleRate / kTwoPi;
    out.power = fundamental->power;
    // The spread of a Hann-window frequency estimate in white noise, in
    // bins: about 0.32 / √(peak-to-noise power ratio).
    out.noiseCents =
        kCentsPerRatio * 0.32 / std::sqrt(fundamental->signalToNoise) * kBinHz / out.frequencyHz;
    followed = out.power;
    if (!(std::abs(out.frequencyHz - fundamental->frequencyHz) < kBinHz)) {
        return false;
    }
    // The fundamental joins its partials, lowest first, and all of them must
    // agree; partials that do not are not kept.
    if (foundCount_ > 0 && foundCount_ < kMaxPartials + 1) {
        for (int i = foundCount_; i > 0; --i) {
            found_[i] = found_[i - 1];
            foundAmplitude_[i] = foundAmplitude_[i - 1];
        }
        found_[0] = {1, out.frequencyHz};
        foundAmplitude_[0] = std::sqrt(out.power);
        ++foundCount_;
        // A fundamental 20 dB above every partial is the note itself, and
        // what disagrees with it is not its partials (a pure tone's rounding
        // harmonics, a gap's splatter).
        const bool dominant = out.power > kDominantFundamental * loudestPartial;
        if (!KeepStiffString() || (found_[0].number != 1 && dominant)) {
            foundCount_ = 0;
        } else if (found_[0].number != 1) {
            return placeByPartials();
        }
    }
    if (foundCount_ == 0) {
        found_[0] = {1, out.frequencyHz};
        foundAmplitude_[0] = std::sqrt(out.power);
        foundCount_ = 1;
    }
    return std::isfinite(out.frequencyHz);
}

bool WindowEstimator::EstimateOther(WindowEstimate& out, double& followed, double strongest,
                                    int lowest, int highest) {
    const int kBins = spectrum_.Bins();
    const double kBinHz = spectrum_.BinHz();
    foundCount_ = 0;
    const int reach = std::max(kMinNoiseReach, (lowest + highest) / 4);
    const int from = std::max(1, lowest - reach);
    const int to = std::min(kBins - 1, highest + reach);
    spectrum_.Power(from, to, peaks_.Power());
    const std::optional<int> found = peaks_.PeakOfItsOwn(lowest, highest);
    if (!found) {
        return false;
    }
    const int peak = *found;
    const double noise = peaks_.NoiseWithin(peak, reach, from, to);
    const double power = peaks_.PowerAt(peak);
    if (power < kMinSignalToNoise * noise || power < kMaxFall * strongest) {
        return false;
    }
    const double offset = peaks_.LogParabolaOffset(peak);
    const double omega = spectrum_.Refine(kTwoPi * (peak + offset) / spectrum_.Length());
    out.frequencyHz = omega * kSampleRate / kTwoPi;
    out.power = power;
    if (noise > 0.0) {
        out.noiseCents =
            kCentsPerRatio * 0.32 * std::sqrt(noise / out.power) * kBinHz / out.frequencyHz;
    }
    followed = out.power;
    return std::isfinite(out.frequencyHz) && out.frequencyHz > (lowest - 1) * kBinHz &&
           out.frequencyHz < (highest + 1) * kBinHz;
}

}  // namespace harmolune
