#pragma once
// The piano's own tuning curve: a target for each of the 88 keys, A0 to C8,
// with A4 at 440 Hz, computed from the keys measured so far.
//
// A target lies c_k cents from the key's equal-tempered frequency. Once B is
// known at every key, partial n of key k lies at c_k + 1200·log2 n +
// 600·log2((1 + B_k·n²) / (1 + B_k)) cents above that frequency, so that the
// mismatch of two partials a tuner listens to is linear in the targets. The
// style's terms become a weighted least-squares problem on those mismatches,
// with a little smoothness, solved once with Eigen's LDLT: the same keys
// always give the same curve. Each target's ± comes from the covariance of
// the B fit, carried through the solve by its Jacobian.
//
// Standard library, Eigen and core/ only. ComputeCurve takes well under a
// millisecond and may be called on any thread.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tuning/Inharmonicity.h"
#include "tuning/Keys.h"
#include "tuning/Styles.h"

namespace harmolune::tuning {

struct KeyTarget {
    int midiNote = 0;
    double targetHz = 0.0;
    double targetCents = 0.0;          // against equal temperament on A4 = 440 Hz
    double uncertaintyCents = 0.0;     // one standard deviation
    double inharmonicity = 0.0;        // B the curve took for this key; 0 when none is known
    std::optional<double> measuredHz;  // the key's f1, when measured
};

struct Curve {
    std::string style;
    std::array<KeyTarget, kKeyCount> keys{};  // A0 first
    // False with too few keys: the targets are then equal temperament plus
    // the 4:2 stretch of the B that is known, or equal temperament.
    bool fitted = false;
    // One French line saying which keys to measure next; "" when none.
    std::string advice;
    std::vector<int> adviceKeys;  // the keys it names, in its order
    BFit fit;                     // the B the curve took

    const KeyTarget& Key(int midiNote) const { return keys[midiNote - kLowestKey]; }
};

// Measured keys with B needed for a fitted curve, and the span they must
// cover in semitones.
inline constexpr int kMinFittedKeys = 4;
inline constexpr int kMinFittedSpan = 36;

// Keys outside A0 to C8 are left out; a key given twice counts once (the
// last given).
Curve ComputeCurve(const std::vector<MeasuredKey>& measured, const Style& style);

// How far a measured f1 lies from the key's target, in cents.
double DeviationCents(const KeyTarget& key, double measuredHz);

}  // namespace harmolune::tuning
