// How the fine measurement turns the estimates of a note's windows into its
// reading: the power-weighted median sets aside the fragments, a tent-weighted
// mean gives the frequency one window over the whole span would show, and the
// spread over the span, less what the noise explains, says how far the pitch
// strays over all of it. A piano key's partials are averaged over the windows
// and fit B.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "measure/FineEstimator.h"

namespace harmolune {

namespace {

constexpr double kBlockSeconds = static_cast<double>(kFrameLength) / kSampleRate;

}  // namespace

std::optional<FineReading> FineEstimator::Reading() const {
    std::optional<FineReading> reading = Combine(main_);
    if (!reading && shortToo_) {
        reading = Combine(short_);
    }
    return reading;
}

std::optional<FineReading> FineEstimator::Combine(const Track& track) const {
    const int windowBlocks = track.plan.windowBlocks;
    const std::array<WindowEstimate, kMaxEstimates>& estimates = track.estimates;
    // The fundamental as measured, where at least three windows saw it; else
    // where the partials put it.
    int measured = 0;
    for (int i = 0; i < track.count; ++i) {
        measured += estimates[i].fromPartials ? 0 : 1;
    }
    const bool fromPartials = measured < 3;
    int count = 0;
    for (int i = 0; i < track.count; ++i) {
        if (estimates[i].fromPartials == fromPartials) {
            chosen_[count++] = estimates[i];
        }
    }
    if (count < 3) {
        return std::nullopt;
    }
    // First the power-weighted median, which no fragment can move: estimates
    // more than a fifth of a semitone from it are set aside.
    std::copy_n(chosen_.begin(), count, sorted_.begin());
    std::sort(sorted_.begin(), sorted_.begin() + count,
              [](const WindowEstimate& x, const WindowEstimate& y) {
                  return x.frequencyHz < y.frequencyHz;
              });
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
    const double spanBegin = chosen_[0].centreBlocks - 0.5 * windowBlocks;
    const double spanLength = chosen_[count - 1].centreBlocks + 0.5 * windowBlocks - spanBegin;
    double weightSum = 0.0;
    double timeSum = 0.0;
    for (int i = 0; i < count; ++i) {
        WindowEstimate& e = sorted_[i];
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
            if (track.partialWeight[n] > 0.0) {
                r.partials[r.partialCount++] = {n, track.partialSum[n] / track.partialWeight[n]};
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

    // How far the pitch strays from the reading over the span, weighed two
    // ways: as the reading weighs it, where the loud part leads, and by each
    // window's amplitude alone, as the ear weighs a note's parts (loudness
    // grows about as the amplitude to the power 0.6), where a pitch that
    // moves in the quieter later windows shows: the aftersound taking over,
    // a sampled note's loop, strings beating. Of each spread, what the noise
    // of one window explains averages out over the windows that do not
    // overlap; the larger rest is the pitch wandering, which does not. A
    // fundamental placed by its partials adds how far a real string strays
    // from the model.
    double spread = 0.0;
    double noise = 0.0;
    double heardSpread = 0.0;
    double heardNoise = 0.0;
    double heardSum = 0.0;
    for (int i = 0; i < count; ++i) {
        const double d = CentsBetween(sorted_[i].frequencyHz, r.frequencyHz);
        const double noise2 = sorted_[i].noiseCents * sorted_[i].noiseCents;
        spread += sorted_[i].power * d * d;
        noise += sorted_[i].power * noise2;
        if (std::abs(CentsBetween(sorted_[i].frequencyHz, median)) <= kOutlierCents) {
            const double amplitude = std::sqrt(chosen_[i].power);
            heardSpread += amplitude * d * d;
            heardNoise += amplitude * noise2;
            heardSum += amplitude;
        }
    }
    spread /= kernelSum;
    noise /= kernelSum;
    const double independent = std::max(1.0, spanLength / windowBlocks);
    const double heard = heardSum > 0.0 ? (heardSpread - heardNoise) / heardSum : 0.0;
    const double wander = std::max({0.0, spread - noise, heard});
    const double model = fromPartials ? kModelCents : 0.0;
    // A pure tone is no unison of strings: it has no partials.
    const double unison = r.partialCount >= 2 ? kUnisonCents : 0.0;
    r.uncertaintyCents = std::sqrt(wander + noise / independent + model * model + unison * unison);
    r.seconds = static_cast<double>(track.lastUsed - track.firstUsed + 1) * kBlockSeconds;
    r.final = !following_;
    r.fromPartials = fromPartials;
    return r;
}

}  // namespace harmolune
