#pragma once
// Pianos of known inharmonicity for the tuning curve's tests and benchmark,
// and their keys "measured" as the fine measurement would give them: the
// partials of a stiff string, each strayed by a little noise, B fitted to
// them, and no B above F6, where the fine measurement gives none.

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "testing/StiffString.h"
#include "tuning/Keys.h"

namespace harmolune::testing {

// B of the concert grand in NOTES.md: about 3 × 10⁻⁴ at A0, 7 × 10⁻⁵ from A1
// to C2 where the wound strings end, 6 × 10⁻⁴ at A4; above A4 it doubles
// every 8.4 keys, to 1.5 × 10⁻² at C8.
inline double MeasuredGrandInharmonicity(int midiNote) {
    const double k = midiNote;
    const double log10B = k < 36   ? -3.523 + (-4.155 + 3.523) * (k - 21.0) / 13.5
                          : k < 69 ? -4.155 + (-3.222 + 4.155) * (k - 36.0) / 33.0
                                   : -3.222 + 0.0358 * (k - 69.0);
    return std::pow(10.0, log10B);
}

// That grand's professional tuning, in cents from equal temperament:
// (MIDI key, cents).
struct TunedKey {
    int midiNote;
    double cents;
};
inline const std::vector<TunedKey>& MeasuredGrandTuning() {
    static const std::vector<TunedKey> tuning = {{21, -25.0}, {24, -25.0}, {33, -11.0}, {36, -11.0},
                                                 {69, 0.0},   {93, 14.0},  {105, 39.0}};
    return tuning;
}

// A small upright: short strings, B four times a grand's in the bass, the
// wound strings ending at F2 with a jump up to the first plain string.
inline double UprightInharmonicity(int midiNote) {
    const double k = midiNote;
    const double log10B =
        k <= 41 ? -2.9 + (-3.5 + 2.9) * (k - 21.0) / 20.0 : -3.3 + (-1.3 + 3.3) * (k - 42.0) / 66.0;
    return std::pow(10.0, log10B);
}

struct SyntheticPiano {
    std::string name;
    double (*inharmonicity)(int midiNote);
};

inline std::vector<SyntheticPiano> SyntheticPianos() {
    return {{"typical grand (StiffString.h)", &TypicalInharmonicity},
            {"measured grand (NOTES.md)", &MeasuredGrandInharmonicity},
            {"small upright", &UprightInharmonicity}};
}

// How a measured key strays from the piano's B curve.
struct KeyNoise {
    double stringScatter = 0.05;  // ln B, string to string, about the curve
    double partialCents = 0.5;    // each partial off the ideal stiff string
    double f1Cents = 0.3;
};

// Key k measured: f1 on its equal-tempered frequency (the tuning does not
// matter to the curve), partials 2 to 16 up to 15 kHz strayed by
// noise.partialCents, and their B by the same least squares as the fine
// measurement; from F#6 up, no B and no partials.
inline tuning::MeasuredKey MeasureSyntheticKey(int midiNote, double (*inharmonicity)(int),
                                               const KeyNoise& noise, std::mt19937& rng) {
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double B = inharmonicity(midiNote) * std::exp(noise.stringScatter * gauss(rng));
    tuning::MeasuredKey key;
    key.midiNote = midiNote;
    key.f1Hz = 440.0 * std::exp2((midiNote - 69) / 12.0 + noise.f1Cents * gauss(rng) / 1200.0);
    key.uncertaintyCents = noise.f1Cents;
    key.seconds = 2.0;
    key.measuredAt = "2026-12-09T10:00:00Z";
    if (midiNote > 89) {
        return key;
    }
    const double f0 = key.f1Hz / std::sqrt(1.0 + B);
    double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (int n = 2; n <= 16; ++n) {
        const double fn = n * f0 * std::sqrt(1.0 + B * n * n) *
                          std::exp2(noise.partialCents * gauss(rng) / 1200.0);
        if (fn > 15000.0) {
            break;
        }
        key.partials.push_back({n, fn});
        const double x = static_cast<double>(n) * n;
        const double y = (fn / n) * (fn / n);
        sw += x;
        sx += x * x;
        sy += x * y;
        sxx += x * x * x;
        sxy += x * x * y;
    }
    if (key.partials.size() >= 3) {
        const double slope = (sw * sxy - sx * sy) / (sw * sxx - sx * sx);
        const double intercept = (sy - slope * sx) / sw;
        if (slope > 0.0 && intercept > 0.0) {
            key.inharmonicity = slope / intercept;
        }
    }
    return key;
}

// The keys given, measured on that piano.
inline std::vector<tuning::MeasuredKey> MeasureSyntheticPiano(const std::vector<int>& keys,
                                                              double (*inharmonicity)(int),
                                                              const KeyNoise& noise,
                                                              unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<tuning::MeasuredKey> measured;
    for (const int k : keys) {
        measured.push_back(MeasureSyntheticKey(k, inharmonicity, noise, rng));
    }
    return measured;
}

// The eight A's and C1; four keys over three octaves; the whole keyboard.
inline std::vector<int> EightAsAndC1() { return {21, 24, 33, 45, 57, 69, 81, 93, 105}; }
inline std::vector<int> FourKeysOverThreeOctaves() { return {45, 57, 69, 81}; }
inline std::vector<int> EveryKey() {
    std::vector<int> keys;
    for (int k = 21; k <= 108; ++k) {
        keys.push_back(k);
    }
    return keys;
}

}  // namespace harmolune::testing
