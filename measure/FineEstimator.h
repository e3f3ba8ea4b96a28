#pragma once
// The fine measurement: the pitch a note settles on, to a hundredth of a
// cent, measured beside the measuring cycle on the same blocks.
//
// Why it works. A partial of a string is, once the attack is over, a slowly
// decaying sinusoid. Over half a second of consecutive blocks, a Hann window
// keeps its spectral peak narrow and its leakage small, so the peak of the
// windowed spectrum near the note lies at the partial's frequency, whatever its
// phase, its decay or where it starts. The FFT finds that peak to a bin
// (2 Hz), a parabola through the logarithms of the three top bins brings it to
// a few hundredths of a bin, and Newton steps on the logarithm of the windowed
// spectrum, evaluated directly at any frequency, bring it to where its slope
// is zero. One such estimate is made for every block once the attack is left
// behind; the result is their median weighted by the partial's power, which
// follows the loud, audible part of the note and sets aside the estimates of
// fragments (a window holding a gap, the note's end) and of the quiet tail.
//
// Standard library and FFTW only. The FFTW plan is made once, in the
// constructor; Push allocates nothing. Called on one thread at a time (the UI
// thread in the window).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Block.h"
#include "core/Pitch.h"

namespace harmolune {

struct FineReading {
    double frequencyHz = 0.0;       // the settled frequency
    double cents = 0.0;             // against the note's equal-tempered frequency
    double uncertaintyCents = 0.0;  // the spread of the estimates it combines
    double seconds = 0.0;           // the span of sound it used
    bool final = false;             // false while the note is still being followed
};

class FineEstimator {
  public:
    // Consecutive blocks in one window: 0.5 s, 16384 samples (half of that
    // for the notes from C5 up).
    static constexpr int kWindowBlocks = 4;
    static constexpr int kWindowLength = kWindowBlocks * kFrameLength;
    // Blocks left out after the block where the sound starts, before the
    // first window may begin: the attack of a struck or plucked string.
    static constexpr int kSettleBlocks = 3;
    // Estimates kept: 64 s of sound.
    static constexpr int kMaxEstimates = 512;

    FineEstimator();
    ~FineEstimator();
    FineEstimator(const FineEstimator&) = delete;
    FineEstimator& operator=(const FineEstimator&) = delete;

    // A note begins: the count has just started on this block, which the
    // next Push brings. midiNote 0 to 127 sets the band (0.9 to 1.1 times its
    // frequency) and the cents' reference. Whatever was followed before is
    // dropped.
    void Start(int midiNote);

    // The next block of the note, consecutive with the one before unless Gap
    // was called in between. Does nothing when no note is followed.
    void Push(const Block& samples);

    // A block was lost: no window will span the gap.
    void Gap();

    // The note ends here (another note was chosen): the reading so far, if
    // any, becomes final.
    void Finish();

    // Nothing to say any more: a new measurement, or the measurement dropped.
    void Clear();

    // True while blocks are being taken.
    bool Following() const { return following_; }

    // Once there are three estimates: provisional while following, then final.
    std::optional<FineReading> Reading() const;

  private:
    struct Estimate {
        double frequencyHz;
        double power;         // of the partial's top bin
        double centreBlocks;  // the window's centre, in blocks since the start
    };

    bool EstimateWindow(Estimate& out);
    double Refine(double omega) const;
    void End();

    // FFTW buffers (fftw_malloc) and plan.
    double* windowed_ = nullptr;  // kWindowLength samples, Hann-weighted
    void* spectrum_ = nullptr;    // fftw_complex[kWindowLength / 2 + 1]
    void* longPlan_ = nullptr;    // fftw_plan over kWindowLength samples
    void* shortPlan_ = nullptr;   // and over half as many
    std::array<double, kWindowLength> longHann_{};
    std::array<double, kWindowLength / 2> shortHann_{};
    int windowBlocks_ = kWindowBlocks;             // of the note followed
    int length_ = kWindowLength;                   // samples in its window
    std::array<double, kWindowLength> history_{};  // the last four blocks, a ring of blocks
    std::array<double, kWindowLength / 2 + 1> power_{};
    std::array<double, kWindowLength / 2 + 1> scratch_{};

    std::array<Estimate, kMaxEstimates> estimates_{};
    mutable std::array<Estimate, kMaxEstimates> sorted_{};
    int count_ = 0;

    bool following_ = false;
    double referenceHz_ = 0.0;
    long long blocks_ = 0;      // blocks since the start, lost ones included
    int contiguous_ = 0;        // blocks in history_ with no gap between them
    long long firstUsed_ = -1;  // first block of the first estimate's window
    long long lastUsed_ = -1;   // last block of the last estimate's window
    double strongest_ = 0.0;    // the partial's greatest power so far
    int loudest_ = 0;           // the loudest block's peak level so far
    int weakInARow_ = 0;        // consecutive windows where the partial was lost
};

// The tooltip text of the measured display, e.g. "Mesure fine : 82,537 Hz,
// +2,7 cents par rapport à Mi 2 (± 0,1 cent, 2,5 s de son)"; noteName is the
// note and its octave as shown ("Mi 2").
std::string FineReadingText(const FineReading& reading, std::string_view noteName,
                            std::string_view decimalSeparator);

}  // namespace harmolune
