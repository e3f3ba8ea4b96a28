#pragma once
// The tuning display's reading: the chosen note followed on every block
// whether a measurement was asked for or not. Each strike of the note starts
// a new reading within one block, also while the strike before still rings;
// the reading is refined on every block, from one-block windows just after
// the strike to the note's long windows, each estimate with the uncertainty
// of its own window, so that it follows the pitch while the pin turns. Once
// the note ends, the fine measurement of the whole strike (FineEstimator)
// gives the final reading, kept until the next strike or note. The window's
// own reference tone starts nothing.
//
// Standard library and FFTW only; the buffers are made once and Push
// allocates nothing. Called on one thread at a time (the UI thread).

#include <array>
#include <optional>

#include "core/Block.h"
#include "measure/FineEstimator.h"
#include "measure/LiveReading.h"
#include "measure/StrikeDetector.h"
#include "measure/WindowEstimator.h"

namespace harmolune {

class LiveTuner {
  public:
    // Blocks after a reference tone is played in which no strike starts: the
    // tone reaches the microphone a block or two after the click.
    static constexpr int kToneBlocks = 5;

    LiveTuner() = default;
    LiveTuner(const LiveTuner&) = delete;
    LiveTuner& operator=(const LiveTuner&) = delete;

    // The note the display follows from now on, 0 to 127, a key of the
    // keyboard or a guitar string. Drops the reading.
    void Choose(int midiNote, bool pianoKey);

    // The window has just played its reference tone.
    void ToneStarted();

    // The next captured block, consecutive with the one before unless Gap
    // was called in between. Does nothing until a note is chosen.
    void Push(const Block& samples);

    // A captured block was lost: no window spans the gap.
    void Gap();

    // The reading of the last strike; none before the first.
    const std::optional<LiveReading>& Reading() const { return reading_; }

    // True when the last Push or Gap changed the reading or its state.
    bool Changed() const { return changed_; }

    // True while a strike is being followed.
    bool Following() const { return fine_.Following(); }

  private:
    // The displayed readings of the last half second, to tell when it is stable.
    static constexpr int kStableBlocks = 5;

    void Strike(const Block& samples);
    void Refine();
    std::optional<FineReading> Quick();
    void Show(const FineReading& reading, LiveState state);

    StrikeDetector strikes_;
    FineEstimator fine_;      // the strike's fine measurement, from its block on
    WindowEstimator window_;  // the short windows before it has a reading

    bool chosen_ = false;
    bool piano_ = false;
    int midiNote_ = 69;
    double referenceHz_ = 440.0;
    double priorB_ = 0.0;
    int longestBlocks_ = kDefaultWindowBlocks;  // the note's own windows

    bool followingStrike_ = false;
    bool quickSeen_ = false;  // the strike has given a short window's estimate
    double quickStrongest_ = 0.0;
    std::array<double, 2> quickCents_{};  // the last two short windows' cents
    int quickCount_ = 0;
    long long nextWindowEnd_ = 0;  // in blocks since the strike
    std::optional<FineReading> lastQuick_;

    std::optional<LiveReading> reading_;
    std::array<double, kStableBlocks> shownCents_{};
    int shown_ = 0;  // readings shown since the strike
    bool changed_ = false;
};

}  // namespace harmolune
