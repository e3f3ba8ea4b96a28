#pragma once
// A piano's measured keys, as the tuning curve takes them: one final fine
// reading per key, reduced to standard types. Standard library only.

#include <optional>
#include <string>
#include <vector>

namespace harmolune::tuning {

inline constexpr int kLowestKey = 21;    // A0, MIDI key number
inline constexpr int kHighestKey = 108;  // C8
inline constexpr int kKeyCount = kHighestKey - kLowestKey + 1;

// Partial n of a string and its frequency in hertz.
struct PartialHz {
    int number = 0;
    double frequencyHz = 0.0;
};

struct MeasuredKey {
    int midiNote = 0;                     // 21 (A0) to 108 (C8)
    double f1Hz = 0.0;                    // the fundamental partial, in hertz
    double uncertaintyCents = 0.0;        // of f1
    std::optional<double> inharmonicity;  // B of n·f0·√(1 + B·n²), when measured
    std::vector<PartialHz> partials;      // partials 2 and up, lowest first
    double seconds = 0.0;                 // of sound the reading used
    std::string measuredAt;               // ISO 8601 UTC, e.g. "2026-12-09T14:03:27Z"
};

}  // namespace harmolune::tuning
