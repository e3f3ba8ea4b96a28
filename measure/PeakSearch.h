#pragma once
// The fine measurement's search for a peak in the power spectrum of a window:
// the strongest bin of a band if it is a peak of its own, the noise around it
// from the bins beside its main lobe, and its place between the bins.
// Standard library only; its buffers are made once. One thread at a time.

#include <memory>
#include <optional>

namespace harmolune {

// A peak of a window's spectrum.
struct Peak {
    double frequencyHz = 0.0;  // placed between its bins
    double power = 0.0;        // of its top bin
    double signalToNoise = 0.0;
    int bin = 0;
};

class PeakSearch {
  public:
    // Room for the spectrum of the longest window.
    explicit PeakSearch(int mostBins);

    // The window searched next: `bins` bins of binHz hertz; the noise of a
    // partial is taken noiseReach bins each side of it, leaving out the
    // peakHalfWidth bins each side that belong to the peak.
    void SetWindow(int bins, double binHz, int noiseReach, int peakHalfWidth = kPeakHalfWidth);

    // Bins each side of a peak that belong to it in a window of half a second
    // or more: the Hann main lobe is 2 bins wide each side, and a decaying
    // note widens it.
    static constexpr int kPeakHalfWidth = 6;

    // |X|² by bin, for the window's transform to fill.
    double* Power() { return power_.get(); }
    double PowerAt(int bin) const { return power_[static_cast<std::size_t>(bin)]; }

    // The strongest bin from lowest to highest, if it is a peak of its own
    // (not the slope of something outside the band); the first of equals.
    std::optional<int> PeakOfItsOwn(int lowest, int highest) const;

    // The median power of the bins within the noise reach of peak, leaving
    // out its main lobe; 0 when there are none.
    double NoiseAround(int peak);

    // The same, within `reach` bins of peak and only among bins from ... to,
    // whose power is known.
    double NoiseWithin(int peak, int reach, int from, int to);

    // The strongest bin from fromHz to toHz, if it is a peak of its own
    // standing minSignalToNoise above the noise around it, placed between its
    // bins by their magnitudes as a Hann window's peak.
    std::optional<Peak> FindPartial(double fromHz, double toHz, double minSignalToNoise);

    // The place of peak between its bins, -0.5 to 0.5, from a parabola
    // through the logarithms of its three top bins.
    double LogParabolaOffset(int peak) const;

  private:
    double MedianOf(int count);

    // Left unwritten until a window needs them: a note's short windows
    // touch only the first pages of buffers sized for the longest.
    std::unique_ptr<double[]> power_;
    std::unique_ptr<double[]> scratch_;
    int bins_ = 0;
    double binHz_ = 1.0;
    int noiseReach_ = 32;
    int peakHalfWidth_ = kPeakHalfWidth;
};

}  // namespace harmolune
