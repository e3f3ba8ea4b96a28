#pragma once
// Notes whose pitch moves in a known way, and the truth a reading of them is
// judged by, for the tests of the stated uncertainty.
//
// The truth comes from the synthesis itself: the fundamental partial kept as
// an analytic signal z, its instantaneous frequency d(arg z)/dt sample by
// sample, weighted by its amplitude |z|. The amplitude, not the power: the ear
// weighs the parts of a note about as their loudness, which grows as the
// amplitude to the power 0.6, so a part 20 dB down still counts for a third of
// the loud part; weighted by power it would count for a hundredth, and the
// first tenths of a second would decide alone.
//
// What one window hears: the instantaneous frequency over the window, weighted
// by the amplitude times the window's Hann taper, and its RMS spread about
// that. What a reading over a span of sound stands for: the same for each
// window of a given length that fits in the span, one every block; the span's
// pitch is their mean, weighted by each window's amplitude, and its spread the
// RMS of their pitches about it. A pitch that moves within one window (a
// vibrato faster than the window) is heard by no window of that length as a
// movement, only as its centre; a pitch that moves from window to window (a
// drift, a slow wobble, beating strings, a jump) is.
//
// The bound is the Cramér–Rao bound on the standard deviation of a frequency
// estimate of the fundamental over the span, in the capture's white noise
// (its Gaussian noise and the 8-bit rounding): no estimator of that partial's
// frequency does better, so no honest uncertainty says less. Standard library
// only.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace harmolune::testing {

inline constexpr double kPitchTruthRate = 32768.0;
inline constexpr std::size_t kPitchTruthBlock = 4096;

// A tone whose pitch follows a curve: harmonics n·f(t) at 1/n (partial 1
// only by default), starting at full amplitude after a silence, steady or
// decaying, then 0.5 s of silence; 8-bit, 32768 Hz, with Gaussian noise.
struct MovingTone {
    double hz = 440.0;         // the pitch the curve is counted from
    double leadSeconds = 0.5;  // silence before the onset
    double seconds = 3.0;      // of sound
    double peak = 60.0;        // the fundamental's amplitude at the onset, in 8-bit steps
    double tau = 0.0;          // the amplitude's decay time constant in seconds; 0: steady
    double noiseLsb = 0.3;     // standard deviation of the capture's noise
    int partials = 1;
    // The pitch's offset from hz at t seconds after the onset, in cents.
    std::function<double(double)> cents = [](double) { return 0.0; };
    unsigned seed = 1;
};

struct PitchedSound {
    std::vector<std::uint8_t> samples;
    // The fundamental as an analytic signal, in 8-bit steps, sample by sample
    // beside `samples`.
    std::vector<std::complex<double>> fundamental;
    double onsetSeconds = 0.0;
};

inline PitchedSound SynthesiseMovingTone(const MovingTone& tone) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    std::mt19937 rng(tone.seed);
    std::normal_distribution<double> noise(0.0, tone.noiseLsb);
    const auto onset = static_cast<std::size_t>(std::lround(tone.leadSeconds * kPitchTruthRate));
    const auto length = static_cast<std::size_t>(std::lround(tone.seconds * kPitchTruthRate));
    const std::size_t total = onset + length + static_cast<std::size_t>(0.5 * kPitchTruthRate);
    PitchedSound out;
    out.onsetSeconds = static_cast<double>(onset) / kPitchTruthRate;
    out.samples.resize(total);
    out.fundamental.resize(total);
    double phase = 0.7;
    for (std::size_t i = 0; i < total; ++i) {
        double x = 0.0;
        if (i >= onset && i < onset + length) {
            const double t = static_cast<double>(i - onset) / kPitchTruthRate;
            const double a = tone.peak * (tone.tau > 0.0 ? std::exp(-t / tone.tau) : 1.0);
            for (int n = 1; n <= tone.partials; ++n) {
                x += a / n * std::sin(n * phase);
            }
            out.fundamental[i] = std::polar(a, phase);
            phase += kTwoPi * tone.hz * std::exp2(tone.cents(t) / 1200.0) / kPitchTruthRate;
        }
        const double v = 128.0 + x + (tone.noiseLsb > 0.0 ? noise(rng) : 0.0);
        out.samples[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return out;
}

struct PitchTruth {
    double hz = 0.0;           // the pitch
    double spreadCents = 0.0;  // how far it moves, RMS
    double boundCents = 0.0;   // the Cramér–Rao bound on a frequency estimate's deviation
    double amplitude = 0.0;    // the fundamental's, averaged as the pitch is
};

namespace detail {

inline constexpr double kCentsPerRatio = 1200.0 / std::numbers::ln2;

// var(ω) ≥ 2σ² / Σ a_n² (n − n̄)² for a real sinusoid of amplitude a_n, its
// phase unknown, in white noise of variance σ²; n̄ weighted by a_n².
inline double BoundCents(const std::vector<std::complex<double>>& z, std::size_t from,
                         std::size_t to, double omega, double noiseLsb) {
    double power = 0.0;
    double moment = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        power += std::norm(z[i]);
        moment += std::norm(z[i]) * static_cast<double>(i - from);
    }
    if (!(power > 0.0) || !(omega > 0.0)) {
        return 0.0;
    }
    const double centre = moment / power;
    double information = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double d = static_cast<double>(i - from) - centre;
        information += std::norm(z[i]) * d * d;
    }
    const double variance = noiseLsb * noiseLsb + 1.0 / 12.0;
    return kCentsPerRatio * std::sqrt(2.0 * variance / information) / omega;
}

}  // namespace detail

// What one window over samples from ... to (not included) of z hears; noiseLsb:
// the capture's Gaussian noise, to which the 8-bit rounding's 1/12 LSB² is added.
inline PitchTruth WindowTruth(const std::vector<std::complex<double>>& z, std::size_t from,
                              std::size_t to, double noiseLsb) {
    PitchTruth truth;
    to = std::min(to, z.size() - 1);
    if (from >= to) {
        return truth;
    }
    const double length = static_cast<double>(to - from);
    double weightSum = 0.0;
    double taperSum = 0.0;
    double omegaSum = 0.0;
    double squareSum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double s =
            std::sin(std::numbers::pi * (static_cast<double>(i - from) + 0.5) / length);
        // Where the sound starts or stops, one of the two is silence.
        const double w = s * s * std::min(std::abs(z[i]), std::abs(z[i + 1]));
        const double omega = std::arg(z[i + 1] * std::conj(z[i]));
        weightSum += w;
        taperSum += s * s;
        omegaSum += w * omega;
        squareSum += w * omega * omega;
    }
    if (!(weightSum > 0.0)) {
        return truth;
    }
    const double mean = omegaSum / weightSum;
    const double variance = std::max(0.0, squareSum / weightSum - mean * mean);
    truth.hz = mean * kPitchTruthRate / (2.0 * std::numbers::pi);
    truth.spreadCents = detail::kCentsPerRatio * std::sqrt(variance) / mean;
    truth.boundCents = detail::BoundCents(z, from, to, mean, noiseLsb);
    truth.amplitude = weightSum / taperSum;
    return truth;
}

// What a reading over samples from ... to stands for, heard by windows of
// windowSamples, one every block.
inline PitchTruth SpanTruth(const std::vector<std::complex<double>>& z, std::size_t from,
                            std::size_t to, std::size_t windowSamples, double noiseLsb) {
    PitchTruth truth;
    std::vector<PitchTruth> windows;
    for (std::size_t start = from; start + windowSamples <= to; start += kPitchTruthBlock) {
        const PitchTruth w = WindowTruth(z, start, start + windowSamples, noiseLsb);
        if (w.amplitude > 0.0) {
            windows.push_back(w);
        }
    }
    double weightSum = 0.0;
    double hzSum = 0.0;
    for (const PitchTruth& w : windows) {
        weightSum += w.amplitude;
        hzSum += w.amplitude * w.hz;
    }
    if (!(weightSum > 0.0)) {
        return truth;
    }
    truth.hz = hzSum / weightSum;
    double squares = 0.0;
    for (const PitchTruth& w : windows) {
        const double c = detail::kCentsPerRatio * std::log(w.hz / truth.hz);
        squares += w.amplitude * c * c;
    }
    truth.spreadCents = std::sqrt(squares / weightSum);
    truth.amplitude = weightSum / static_cast<double>(windows.size());
    const double omega = 2.0 * std::numbers::pi * truth.hz / kPitchTruthRate;
    truth.boundCents = detail::BoundCents(z, from, std::min(to, z.size()), omega, noiseLsb);
    return truth;
}

}  // namespace harmolune::testing
