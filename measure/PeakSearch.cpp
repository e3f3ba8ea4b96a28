#include "measure/PeakSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace harmolune {

PeakSearch::PeakSearch(int mostBins)
    : power_(new double[static_cast<std::size_t>(mostBins)]),
      scratch_(new double[static_cast<std::size_t>(mostBins)]) {}

void PeakSearch::SetWindow(int bins, double binHz, int noiseReach, int peakHalfWidth) {
    bins_ = bins;
    binHz_ = binHz;
    noiseReach_ = noiseReach;
    peakHalfWidth_ = peakHalfWidth;
}

double PeakSearch::MedianOf(int count) {
    if (count == 0) {
        return 0.0;
    }
    std::nth_element(scratch_.get(), scratch_.get() + count / 2, scratch_.get() + count);
    return scratch_[static_cast<std::size_t>(count / 2)];
}

double PeakSearch::NoiseAround(int peak) {
    int noiseBins = 0;
    for (int k = std::max(1, peak - noiseReach_); k <= std::min(bins_ - 1, peak + noiseReach_);
         ++k) {
        if (std::abs(k - peak) > peakHalfWidth_) {
            scratch_[static_cast<std::size_t>(noiseBins++)] = power_[static_cast<std::size_t>(k)];
        }
    }
    return MedianOf(noiseBins);
}

double PeakSearch::NoiseWithin(int peak, int reach, int from, int to) {
    int noiseBins = 0;
    for (int k = std::max(1, peak - reach); k <= std::min(bins_ - 1, peak + reach); ++k) {
        if (std::abs(k - peak) > kPeakHalfWidth && k >= from && k <= to) {
            scratch_[static_cast<std::size_t>(noiseBins++)] = power_[static_cast<std::size_t>(k)];
        }
    }
    return MedianOf(noiseBins);
}

std::optional<int> PeakSearch::PeakOfItsOwn(int lowest, int highest) const {
    int peak = lowest;
    for (int k = lowest + 1; k <= highest; ++k) {
        if (PowerAt(k) > PowerAt(peak)) {
            peak = k;
        }
    }
    if (!(PowerAt(peak) > 0.0) || PowerAt(peak - 1) >= PowerAt(peak) ||
        PowerAt(peak + 1) > PowerAt(peak)) {
        return std::nullopt;
    }
    return peak;
}

std::optional<Peak> PeakSearch::FindPartial(double fromHz, double toHz, double minSignalToNoise) {
    const int lowest = std::max(2, static_cast<int>(std::ceil(fromHz / binHz_)));
    const int highest = std::min(bins_ - 3, static_cast<int>(std::floor(toHz / binHz_)));
    if (lowest > highest) {
        return std::nullopt;
    }
    const std::optional<int> found = PeakOfItsOwn(lowest, highest);
    if (!found) {
        return std::nullopt;
    }
    const int peak = *found;
    const double noise = NoiseAround(peak);
    if (PowerAt(peak) < minSignalToNoise * noise) {
        return std::nullopt;
    }
    // For a Hann window the three magnitudes around a steady sinusoid's peak
    // give its place exactly: δ = 2 (|X₊| − |X₋|) / (|X₋| + 2 |X₀| + |X₊|).
    const double below = std::sqrt(PowerAt(peak - 1));
    const double top = std::sqrt(PowerAt(peak));
    const double above = std::sqrt(PowerAt(peak + 1));
    const double offset =
        std::clamp(2.0 * (above - below) / (below + 2.0 * top + above), -0.5, 0.5);
    Peak p;
    p.bin = peak;
    p.frequencyHz = (peak + offset) * binHz_;
    p.power = PowerAt(peak);
    p.signalToNoise = noise > 0.0 ? PowerAt(peak) / noise : 1e12;
    return p;
}

double PeakSearch::LogParabolaOffset(int peak) const {
    // Exact for a Gaussian peak, within a few hundredths of a bin for a Hann one.
    const double a = std::log(PowerAt(peak - 1));
    const double b = std::log(PowerAt(peak));
    const double c = std::log(PowerAt(peak + 1));
    const double curvature = a - 2.0 * b + c;
    const double offset = curvature < 0.0 ? 0.5 * (a - c) / curvature : 0.0;
    return std::clamp(offset, -0.5, 0.5);
}

}  // namespace harmolune
