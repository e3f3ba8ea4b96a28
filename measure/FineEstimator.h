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
// is zero (WindowEstimator). One such estimate is made for every block once
// the attack is left behind; the result is their mean weighted as one window
// over the whole span would weigh them, after setting aside the estimates far
// from their power-weighted median: fragments (a window holding a gap, the
// note's end).
//
// A piano key gets a window scaled to the note (PianoPlan), from 4 s in the
// low bass (where the fundamental is 20 to 40 dB weaker than partial 2 and the
// mains hum lies in its band) to one block in the top octave (whose sound
// falls 30 dB within a third of a second). Its partials 2 to 16 are found
// where a stiff string puts them, n·f0·√(1 + B·n²); they say where the
// fundamental lies, place it when it stays in the noise, and give B.
//
// This file and FineEstimator.cpp follow the note and decide where it ends;
// FineCombination.cpp turns its windows' estimates into the reading.
// Standard library and FFTW only. The FFTW plans and buffers are made once, in
// the constructor; Push allocates nothing. Called on one thread at a time (the
// UI thread in the window).

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/Block.h"
#include "core/Pitch.h"
#include "measure/Partials.h"
#include "measure/PianoPlan.h"
#include "measure/WindowEstimator.h"
#include "measure/WindowedSpectrum.h"

namespace harmolune {

struct FineReading {
    double frequencyHz = 0.0;  // the settled frequency
    double cents = 0.0;        // against the note's equal-tempered frequency
    // How far the pitch strays from the reading over the span, as the ear
    // weighs it or as the reading does, whichever is more; the noise; a
    // piano key's allowances. In cents.
    double uncertaintyCents = 0.0;
    double seconds = 0.0;  // the span of sound it used
    bool final = false;    // false while the note is still being followed
    // A piano key whose fundamental stayed in the noise: the frequency is
    // where the partials 2 to 16 put it, and the uncertainty carries how far
    // a real string strays from the ideal stiff string.
    bool fromPartials = false;
    // The partials measured (piano keys only), lowest first, and the
    // inharmonicity B they fit, n·f0·√(1 + B·n²), once there are three.
    int partialCount = 0;
    std::array<Partial, kMaxPartials> partials{};
    std::optional<double> inharmonicity;
};

class FineEstimator {
  public:
    // Estimates kept: 64 s of sound.
    static constexpr int kMaxEstimates = 512;

    FineEstimator() = default;
    FineEstimator(const FineEstimator&) = delete;
    FineEstimator& operator=(const FineEstimator&) = delete;

    // A note begins: the count has just started on this block, which the
    // next Push brings. midiNote 0 to 127 sets the band (0.9 to 1.1 times its
    // frequency) and the cents' reference. A piano key gets a window scaled
    // to the note (2 s in the low bass, one block in the top octave) and its
    // partials measured. Whatever was followed before is dropped.
    void Start(int midiNote, bool pianoKey = false);

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

    // True once the note's own windows give the reading, not the half-second
    // ones that a bass key keeps beside its long ones.
    bool OwnWindowsRead() const { return main_.count >= 3; }

    // The blocks since Start, for other windows over the same note.
    const BlockHistory& History() const { return history_; }

  private:
    // An estimate this far from the one before, or from the weighted median,
    // is a fragment, not the note.
    static constexpr double kOutlierCents = 20.0;

    // The windows of one length taken over the note, and what they found.
    struct Track {
        WindowPlan plan;
        long long nextWindowEnd = 0;
        std::array<WindowEstimate, kMaxEstimates> estimates{};
        int count = 0;
        // Per partial 1 to 16 over the windows: Σ amplitude·frequency and Σ amplitude.
        std::array<double, kMaxPartials + 1> partialSum{};
        std::array<double, kMaxPartials + 1> partialWeight{};
        long long firstUsed = -1;     // first block of the first estimate's window
        long long lastUsed = -1;      // last block of the last estimate's window
        double strongest = 0.0;       // the partial's greatest power so far
        double loudestPartial = 0.0;  // the strongest partial's greatest power (piano)
        int weakInARow = 0;           // consecutive windows where the partial was lost

        void Clear();
    };
    enum class Take { None, Estimate, Weak };

    void End();
    Take TakeWindow(Track& track);
    bool Usable(Track& track, const WindowEstimate& e, double followed);
    std::optional<FineReading> Combine(const Track& track) const;

    BlockHistory history_;
    WindowEstimator window_;

    bool piano_ = false;
    double referenceHz_ = 0.0;
    double priorB_ = 0.0;
    // The note's own windows. A piano key whose windows last seconds also
    // keeps half-second ones, which give its reading when the note stops
    // before three long windows are in.
    Track main_;
    Track short_;
    bool shortToo_ = false;
    mutable std::array<WindowEstimate, kMaxEstimates> sorted_{};
    mutable std::array<WindowEstimate, kMaxEstimates> chosen_{};

    bool following_ = false;
    int loudest_ = 0;  // the loudest block's peak level so far
    // The peak levels of the blocks before this one, by block number.
    static constexpr int kRecentBlocks = 4;
    std::array<int, kRecentBlocks> recentLevels_{};
};

// The tooltip text of the measured display, e.g. "Mesure fine : 82,537 Hz,
// +2,7 cents par rapport à Mi 2 (± 0,1 cent, 2,5 s de son)", followed for a
// piano key by ", inharmonicité 3,0 × 10⁻⁴"; noteName is the note and its
// octave as shown ("Mi 2").
std::string FineReadingText(const FineReading& reading, std::string_view noteName,
                            std::string_view decimalSeparator);

// B as a musician reads it, "3,0 × 10⁻⁴": one decimal, a power of ten in
// superscript digits. b is positive.
std::string InharmonicityText(double b, std::string_view decimalSeparator);

}  // namespace harmolune
