#pragma once
// B across the keyboard, from the keys that were measured.
//
// A piano's inharmonicity falls from the lowest wound strings to where the
// wound strings end, then rises again through the plain strings to the top:
// ln B against the key number is close to two straight lines, with a break
// between the two kinds of string. The fit finds the break from the data and
// gives each line's covariance, so that the targets can say how sure they
// are. Standard library and Eigen only.

#include <array>
#include <optional>
#include <vector>

#include "tuning/Keys.h"

namespace harmolune::tuning {

// B of one measured key: ln B and its standard deviation.
struct KeyInharmonicity {
    int midiNote = 0;
    double lnB = 0.0;
    double sigmaLnB = 0.0;
};

// The key's B, with its uncertainty taken from the stiff-string fit over its
// partials: the larger of the scatter of the partials about the fitted string
// and the reading's own uncertainty in cents applied to each partial, never
// below kMinSigmaLnB. nullopt when the key has no B, or a B that is not a
// positive number.
std::optional<KeyInharmonicity> KeyB(const MeasuredKey& key);

// A real string's B is never known better than this (relative), whatever its
// partials say.
inline constexpr double kMinSigmaLnB = 0.02;
// A key's B with fewer than three partials to check it against.
inline constexpr double kUncheckedSigmaLnB = 0.3;
// How far real strings stray from the two lines, in ln B: string to string,
// a piano's B varies by about a tenth.
inline constexpr double kStringScatterLnB = 0.1;

// One straight line ln B = intercept + slope·key, key the MIDI key number,
// with the covariance of (intercept, slope).
struct BLine {
    double intercept = 0.0;
    double slope = 0.0;
    std::array<double, 3> covariance{};  // var(intercept), cov, var(slope)
    int keys = 0;                        // measured keys it was fitted to

    double LnB(int midiNote) const { return intercept + slope * midiNote; }
    double VarianceLnB(int midiNote) const {
        return covariance[0] + 2.0 * midiNote * covariance[1] +
               static_cast<double>(midiNote) * midiNote * covariance[2];
    }
};

struct BFit {
    bool valid = false;  // at least one key with B
    // The lowest key on the plain strings' line; 0 when one line covers the
    // whole keyboard.
    int breakKey = 0;
    BLine bass;    // keys below breakKey (the whole keyboard when breakKey is 0)
    BLine treble;  // keys from breakKey up; equal to bass when breakKey is 0
    // The lowest and highest keys with a B that the lines were fitted to,
    // and the two measured keys either side of the break (0 without one).
    int lowestKey = 0;
    int highestKey = 0;
    int lastBassKey = 0;
    int firstTrebleKey = 0;

    const BLine& LineOf(int midiNote) const {
        return breakKey != 0 && midiNote >= breakKey ? treble : bass;
    }
    // The key whose value on its line midiNote takes. Below the lowest key
    // measured, one line that falls towards the bass is a plain string's
    // line, and nothing says where the wound strings begin to rise again: B
    // is held there, not carried down.
    int HeldKey(int midiNote) const {
        const bool plainDownwards = breakKey == 0 && bass.slope > 0.0;
        return plainDownwards && midiNote < lowestKey ? lowestKey : midiNote;
    }
    // ln B at the key, within kLowestLnB and kHighestLnB.
    double LnB(int midiNote) const;
};

// Beyond the keys measured, the lines say less and less: ln B there may
// bend away from them by this much per key, one standard deviation, below
// the lowest key (where the wound strings may start anywhere) and above the
// highest (where B is only extrapolated).
inline constexpr double kBassBendPerKey = 0.08;
inline constexpr double kTrebleBendPerKey = 0.015;

// ln B is kept within these, whatever a line extrapolates to.
inline constexpr double kLowestLnB = -13.815510557964274;   // ln 1e-6
inline constexpr double kHighestLnB = -2.3025850929940455;  // ln 0.1

// The two-line fit over the keys' B, each weighted by 1 / (σ² + scatter²).
// Every break between two measured keys is tried, each side holding at least
// kMinKeysPerLine keys, the bass side ending at or below kHighestBassKey and
// its line less steep than the treble's; the break kept is the one of least
// weighted residual, unless one line over all the keys leaves no more than
// kSecondLineCost above it. The keys between the two lines' last and first
// measured keys go to the line that crosses the other there, or are split
// halfway. One key gives a flat line through its B; none, an invalid fit.
// Deterministic: the same keys, in any order, give the same fit.
BFit FitInharmonicity(const std::vector<KeyInharmonicity>& keys);

inline constexpr int kHighestBassKey = 64;  // E4: wound strings never reach higher
// Two keys always lie on a line: a line of its own needs three.
inline constexpr int kMinKeysPerLine = 3;
// How much less weighted residual two lines must leave than one.
inline constexpr double kSecondLineCost = 10.0;

// One flat line through the keys' mean ln B, weighted as above: the B of a
// keyboard known at a few keys only.
BFit FitFlatInharmonicity(const std::vector<KeyInharmonicity>& keys);

}  // namespace harmolune::tuning
