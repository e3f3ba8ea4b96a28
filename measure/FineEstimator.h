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
// behind; the result is their mean weighted as one window over the whole span
// would weigh them, after setting aside the estimates far from their
// power-weighted median: fragments (a window holding a gap, the note's end).
//
// A piano key gets a window scaled to the note, from 4 s in the low bass (where
// the fundamental is 20 to 40 dB weaker than partial 2 and the mains hum lies
// in its band) to one block in the top octave (whose sound falls 30 dB within
// a third of a second). Its partials 2 to 16 are found where a stiff string
// puts them, n·f0·√(1 + B·n²); they say where the fundamental lies, place it
// when it stays in the noise, and give B.
//
// Standard library and FFTW only. The FFTW plans and buffers are made once, in
// the constructor; Push allocates nothing. Called on one thread at a time (the
// UI thread in the window).

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Block.h"
#include "core/Pitch.h"

namespace harmolune {

// Partial n of a piano string and its frequency in hertz.
struct Partial {
    int number = 0;
    double frequencyHz = 0.0;
};

inline constexpr int kMaxPartials = 16;
// Partials are looked for up to here: above it an 8-bit capture at 32768 Hz
// holds little but noise and the hammer.
inline constexpr double kHighestPartialHz = 15000.0;

struct FineReading {
    double frequencyHz = 0.0;       // the settled frequency
    double cents = 0.0;             // against the note's equal-tempered frequency
    double uncertaintyCents = 0.0;  // the spread of the estimates it combines
    double seconds = 0.0;           // the span of sound it used
    bool final = false;             // false while the note is still being followed
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
    // The longest window: 4 s, 131072 samples, for the lowest piano keys.
    static constexpr int kMaxWindowBlocks = 32;
    static constexpr int kMaxWindowLength = kMaxWindowBlocks * kFrameLength;
    // Window of a guitar string or of a note not known to be a piano key:
    // 0.5 s (half of that from C5 up).
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

  private:
    // A piano's partials, and its fundamental where the partials say where to
    // look, need only stand 20 dB above the noise: the search is a few bins
    // wide.
    static constexpr double kMinPartialToNoise = 100.0;

    struct Estimate {
        double frequencyHz;
        double power;         // of the partial's top bin
        double centreBlocks;  // the window's centre, in blocks since the start
        double noiseCents;    // the standard deviation the window's noise allows
        bool fromPartials;    // placed by the partials, the fundamental unseen
    };
    struct Peak {
        double frequencyHz = 0.0;
        double power = 0.0;
        double signalToNoise = 0.0;
        int bin = 0;
    };

    int PlanIndex() const;
    bool EstimateWindow(Estimate& out, double& loudest);
    std::optional<Peak> FindPartial(double fromHz, double toHz, double minSignalToNoise);
    double NoiseAround(int peak);
    std::optional<int> PeakOfItsOwn(int lowest, int highest) const;
    int MeasurePartials(double& fittedF1);
    bool KeepStiffString();
    double Refine(double omega) const;
    void End();
    void MakeHann(int plan);

    // FFTW buffers (fftw_malloc) and plans, one per window length.
    double* windowed_ = nullptr;    // kMaxWindowLength samples, Hann-weighted
    void* spectrum_ = nullptr;      // fftw_complex[kMaxWindowLength / 2 + 1]
    std::array<void*, 6> plans_{};  // fftw_plan over 1, 2, 4, 8 and 16 blocks
    // One Hann window per length, allocated once and computed for the first
    // note that needs it: the long ones serve only the lowest keys, and
    // pages never written take no memory.
    std::array<std::unique_ptr<double[]>, 6> hann_;
    std::array<bool, 6> hannMade_{};
    // The last kMaxWindowBlocks blocks, a ring of blocks; a slot is read only
    // once a block was written to it.
    std::unique_ptr<double[]> history_;
    std::vector<double> power_;  // |X|², bins 0 to kMaxWindowLength / 2
    std::vector<double> scratch_;

    // The note followed: window, hop between windows and settling, in blocks.
    bool piano_ = false;
    int windowBlocks_ = kWindowBlocks;
    int hopBlocks_ = 1;
    int settleBlocks_ = kSettleBlocks;
    int length_ = kWindowLength;  // samples in its window
    double binHz_ = 2.0;
    int noiseReach_ = 32;  // bins each side of a partial where its noise is taken

    std::array<Estimate, kMaxEstimates> estimates_{};
    mutable std::array<Estimate, kMaxEstimates> sorted_{};
    mutable std::array<Estimate, kMaxEstimates> chosen_{};
    int count_ = 0;

    // Per partial 1 to 16 over the windows: Σ amplitude·frequency and Σ amplitude.
    std::array<double, kMaxPartials + 1> partialSum_{};
    std::array<double, kMaxPartials + 1> partialWeight_{};
    // This window's partials: number, frequency, weight of the fit.
    std::array<Partial, kMaxPartials + 1> found_{};
    std::array<double, kMaxPartials + 1> foundAmplitude_{};
    int foundCount_ = 0;

    bool following_ = false;
    double referenceHz_ = 0.0;
    double priorB_ = 0.0;
    long long blocks_ = 0;  // blocks since the start, lost ones included
    int contiguous_ = 0;    // blocks in history_ with no gap between them
    long long nextWindowEnd_ = 0;
    long long firstUsed_ = -1;     // first block of the first estimate's window
    long long lastUsed_ = -1;      // last block of the last estimate's window
    double strongest_ = 0.0;       // the partial's greatest power so far
    double loudestPartial_ = 0.0;  // the strongest partial's greatest power (piano)
    int loudest_ = 0;              // the loudest block's peak level so far
    int weakInARow_ = 0;           // consecutive windows where the partial was lost
};

// The fit of partials to n·f0·√(1 + B·n²): least squares on (f_n / n)² =
// f0² + f0²·B·n², each partial weighted by n² (their frequencies are known to
// about the same number of hertz). Returns f0² and f0²·B, or nullopt with
// fewer than two distinct partials.
struct StiffStringFit {
    double f0Squared = 0.0;
    double f0SquaredB = 0.0;
};
std::optional<StiffStringFit> FitStiffString(const Partial* partials, int count);

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
