#pragma once
// A piano string's partials and the stiff string they fit: partial n of a
// string of fundamental f0 and inharmonicity B lies at n·f0·√(1 + B·n²).
// Standard library only.

#include <optional>

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

// The fit of partials to n·f0·√(1 + B·n²): least squares on (f_n / n)² =
// f0² + f0²·B·n², each partial weighted by n² (their frequencies are known to
// about the same number of hertz). Returns f0² and f0²·B, or nullopt with
// fewer than two distinct partials.
struct StiffStringFit {
    double f0Squared = 0.0;
    double f0SquaredB = 0.0;
};
std::optional<StiffStringFit> FitStiffString(const Partial* partials, int count);

}  // namespace harmolune
