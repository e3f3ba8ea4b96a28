#pragma once
// One window's estimate of a note's frequency, for the fine measurement: the
// window transformed, the strongest peak of its own within ±10 % of the note
// placed between its bins and refined on the window's transform itself. A
// piano key's partials 2 to 16 are found first, where a stiff string puts
// them (n·f0·√(1 + B·n²)): they say where the fundamental lies, and place it
// when it stays in the noise. Standard library and FFTW only; the buffers are
// made once. One thread at a time.

#include <array>

#include "measure/Partials.h"
#include "measure/PeakSearch.h"
#include "measure/WindowedSpectrum.h"

namespace harmolune {

// How far a real piano's fundamental strays from where an ideal stiff string
// with its partials 2 to 16 would put it (wound strings, the soundboard):
// 0.3 to 4 cents.
inline constexpr double kModelCents = 2.0;

// The strings of a piano's unison beat more slowly than a note lasts: the
// pitch heard then lies up to a few tenths of a cent from their mean, and no
// spread over the note shows it.
inline constexpr double kUnisonCents = 0.15;

struct WindowEstimate {
    double frequencyHz = 0.0;
    double power = 0.0;         // of the partial's top bin
    double centreBlocks = 0.0;  // the window's centre, in blocks since the start
    double noiseCents = 0.0;    // the standard deviation the window's noise allows
    bool fromPartials = false;  // placed by the partials, the fundamental unseen
};

class WindowEstimator {
  public:
    WindowEstimator();

    // The note: the band and the reference, whether it is a piano key, its
    // windows' length in blocks, and the rough B its partials are first
    // looked for with.
    void SetNote(double referenceHz, bool pianoKey, int windowBlocks, double priorB);

    // Transforms the window over blocks firstBlock ... of history and
    // estimates it. False when the window shows no usable peak. followed is
    // the power of the partial the note's end is judged by; strongest the
    // greatest power the note's partial has had so far (not a piano key: a
    // peak 40 dB below it is not the note).
    bool Estimate(const BlockHistory& history, long long firstBlock, WindowEstimate& out,
                  double& followed, double strongest);

    // The partials of the last window estimated, lowest first: number,
    // frequency, and amplitude.
    int FoundCount() const { return foundCount_; }
    const Partial& Found(int i) const { return found_[static_cast<std::size_t>(i)]; }
    double FoundAmplitude(int i) const { return foundAmplitude_[static_cast<std::size_t>(i)]; }

    int WindowBlocks() const { return windowBlocks_; }

  private:
    // A piano's partials, and its fundamental where the partials say where
    // to look, need only stand 20 dB above the noise: the search is a few
    // bins wide.
    static constexpr double kMinPartialToNoise = 100.0;
    // Over a window of seconds (the bass) the fundamental, where its
    // partials say it is, is measured from 15 dB above the noise: its own
    // place is better than the model's, which real bass strings stray from
    // by a few cents.
    static constexpr double kMinLongFundamentalToNoise = 31.6;
    static constexpr int kLongWindowBlocks = 16;
    // A fundamental this much stronger than its loudest partial (20 dB) is
    // kept even where the partials would place it elsewhere.
    static constexpr double kDominantFundamental = 100.0;

    bool EstimatePiano(WindowEstimate& out, double& followed, int lowest, int highest);
    bool EstimateOther(WindowEstimate& out, double& followed, double strongest, int lowest,
                       int highest);
    int MeasurePartials(double& fittedF1);
    bool KeepStiffString();

    WindowedSpectrum spectrum_;
    PeakSearch peaks_;
    double referenceHz_ = 0.0;
    bool piano_ = false;
    int windowBlocks_ = kDefaultWindowBlocks;
    double priorB_ = 0.0;
    int noiseReach_ = 32;

    // This window's partials: number, frequency, weight of the fit.
    std::array<Partial, kMaxPartials + 1> found_{};
    std::array<double, kMaxPartials + 1> foundAmplitude_{};
    int foundCount_ = 0;
};

}  // namespace harmolune
