#pragma once
// Synthetic piano notes with a known truth, for the tests and the benchmark:
// one to three stiff strings struck by a hammer, captured as the window hears
// them (8-bit, 32768 Hz, blocks of 4096).
//
// Partial n of a string lies at n·f0·√(1 + B·n²), up to 15 kHz. The model
// follows what is measured on real grand pianos: B from about 3 × 10⁻⁴ at A0
// down to 1 × 10⁻⁴ at C3, then rising to 2 × 10⁻² at C8; in the low bass the
// fundamental 35 to 20 dB below partial 2; a decay in two stages (a prompt
// sound, then an aftersound 14 to 30 dB down), faster for higher partials, so
// that the top octave falls 30 dB within about 0.3 s; an attack that starts
// 10 cents sharp and settles within tens of milliseconds (0.2 s in the bass);
// a short burst of hammer noise; and a stretched tuning. A test may also set
// the strings' detune, move the aftersound's pitch away from the prompt
// sound's, and keep the fundamental partial as an analytic signal, to judge a
// reading against the pitch the note really had. Standard library only.

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace harmolune::testing {

inline constexpr double kStiffStringRate = 32768.0;
inline constexpr double kHighestPartialHz = 15000.0;

// B of a real grand piano's strings, on a smooth curve through the measured
// values: about 3 × 10⁻⁴ at A0, 1 × 10⁻⁴ at C3, 6 × 10⁻⁴ at A4, 2 × 10⁻² at C8.
inline double TypicalInharmonicity(int midiNote) {
    const double key = std::clamp(midiNote, 21, 108);
    const double log10B =
        key <= 48 ? -3.52 + (-4.0 + 3.52) * (key - 21.0) / 27.0 : -4.0 + 2.3 * (key - 48.0) / 60.0;
    return std::pow(10.0, log10B);
}

// The stretch of a good tuning, in cents from equal temperament: −25 c at
// A0, 0 at A4, +40 c at C8.
inline double TypicalStretchCents(int midiNote) {
    const double key = midiNote;
    if (key < 69.0) {
        const double x = (69.0 - key) / 48.0;
        return -25.0 * x * x;
    }
    const double x = (key - 69.0) / 39.0;
    return 40.0 * x * x;
}

struct StiffStringTone {
    int midiNote = 69;
    double fundamentalHz = 0.0;      // of the first string; 0: equal temperament plus the stretch
    double inharmonicity = -1.0;     // B; below 0: TypicalInharmonicity
    int strings = 1;                 // 1, 2 or 3
    double unisonSpreadCents = 0.5;  // the other strings lie within ± this of the first
    double blockPeak = 90.0;         // the loudest block's peak, in 8-bit steps from 128
    double noiseLsb = 0.3;           // Gaussian capture noise, standard deviation
    double humLsb = 0.0;             // 50 Hz hum (with its 2nd and 3rd harmonics), amplitude
    double leadSeconds = -1.0;       // silence before the strike; below 0: random, 0.3 to 0.8 s
    double seconds = 0.0;            // sound after the strike; 0: as long as the note lasts
    // Scales both decay stages' time constants; above 1 a note that rings
    // longer, below 1 a short one.
    double decayScale = 1.0;
    // dB of the aftersound below the prompt sound; 0: by the note.
    double aftersoundDb = 0.0;
    // dB of the fundamental against partial 2; NaN: by the note.
    double fundamentalDb = std::numeric_limits<double>::quiet_NaN();
    // How far the fundamental partial alone lies from where the stiff-string
    // model puts it, in cents. A real string's ends are not rigid, and its
    // first partial strays from n·f0·√(1 + B·n²) by a few cents in the bass.
    double fundamentalCents = 0.0;
    // The second and third strings' detune from the first, in cents; NaN:
    // drawn within ± unisonSpreadCents.
    std::array<double, 2> detuneCents{std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::quiet_NaN()};
    // How far the aftersound rings above the prompt sound, in cents. On a real
    // piano the two stages are different motions of the strings (across and
    // along the soundboard, coupled through the bridge), and the pitch moves
    // as one gives way to the other.
    double aftersoundCents = 0.0;
    // Keep the fundamental partial, summed over the strings, in `fundamental`.
    bool keepFundamental = false;
    unsigned seed = 1;
};

struct StiffStringSound {
    std::vector<std::uint8_t> samples;
    double truthHz = 0.0;  // the fundamental partial, amplitude-weighted over the strings
    double inharmonicity = 0.0;
    double strikeSeconds = 0.0;  // where the strike lies in samples
    // With keepFundamental: the fundamental partial as an analytic signal, in
    // 8-bit steps, sample by sample beside `samples`: its magnitude is the
    // partial's amplitude and its phase runs with the partial's.
    std::vector<std::complex<double>> fundamental;
};

inline StiffStringSound SynthesiseStiffString(const StiffStringTone& tone) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    std::mt19937 rng(tone.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int key = std::clamp(tone.midiNote, 21, 108);
    const double B = tone.inharmonicity >= 0.0 ? tone.inharmonicity : TypicalInharmonicity(key);
    const double f1 =
        tone.fundamentalHz > 0.0
            ? tone.fundamentalHz
            : 440.0 * std::exp2((tone.midiNote - 69) / 12.0 + TypicalStretchCents(key) / 1200.0);

    // Where the key lies from A0 (0) to C8 (1).
    const double place = (key - 21.0) / 87.0;
    // The fundamental against partial 2: 35 dB below at A0, 20 dB below at
    // B1, level with 1/n from C3 up.
    double fundamentalDb = tone.fundamentalDb;
    if (std::isnan(fundamentalDb)) {
        fundamentalDb = key <= 35  ? -35.0 + 15.0 * (key - 21.0) / 14.0
                        : key < 48 ? -20.0 + 26.0 * (key - 35.0) / 13.0
                                   : 6.0;
    }
    const double aftersoundDb = tone.aftersoundDb > 0.0 ? tone.aftersoundDb : 14.0 + 16.0 * place;
    const double aftersound = std::pow(10.0, -aftersoundDb / 20.0);
    // The attack's pitch glide: 10 cents sharp, settling with this time
    // constant (40 ms in the bass, 8 ms at the top).
    const double glide = std::exp2(10.0 / 1200.0) - 1.0;
    const double glideTau = 0.04 * std::pow(0.2, place);
    // Prompt decay of a partial at f hertz; the aftersound lasts ten times longer.
    const auto promptTau = [&](double f) {
        return tone.decayScale * 0.6 * std::pow(100.0 / f, 0.6);
    };

    const double lead = tone.leadSeconds >= 0.0 ? tone.leadSeconds : 0.3 + 0.5 * unit(rng);
    const double lowestTau = promptTau(f1) * 10.0;
    const double seconds =
        tone.seconds > 0.0 ? tone.seconds : std::clamp(4.0 * lowestTau, 1.5, 12.0);
    const auto strike = static_cast<std::size_t>(lead * kStiffStringRate);
    const auto length = static_cast<std::size_t>(seconds * kStiffStringRate);
    const std::size_t total = strike + length + static_cast<std::size_t>(0.3 * kStiffStringRate);
    std::vector<double> x(total, 0.0);
    std::vector<std::complex<double>> z(tone.keepFundamental ? total : 0);
    const bool split = tone.aftersoundCents != 0.0;

    StiffStringSound out;
    out.inharmonicity = B;
    out.strikeSeconds = static_cast<double>(strike) / kStiffStringRate;

    const int strings = std::clamp(tone.strings, 1, 3);
    double weightSum = 0.0;
    double truthSum = 0.0;
    const double f0First = f1 / std::sqrt(1.0 + B);
    for (int s = 0; s < strings; ++s) {
        double detune = s == 0 ? 0.0 : tone.unisonSpreadCents * (2.0 * unit(rng) - 1.0);
        if (s > 0 && !std::isnan(tone.detuneCents[static_cast<std::size_t>(s - 1)])) {
            detune = tone.detuneCents[static_cast<std::size_t>(s - 1)];
        }
        const double stringGain = s == 0 ? 1.0 : 0.7 + 0.3 * unit(rng);
        const double f0 = f0First * std::exp2(detune / 1200.0);
        weightSum += stringGain;
        truthSum +=
            stringGain * f0 * std::sqrt(1.0 + B) * std::exp2(tone.fundamentalCents / 1200.0);
        for (int n = 1;; ++n) {
            const double fn = n * f0 * std::sqrt(1.0 + B * n * n) *
                              (n == 1 ? std::exp2(tone.fundamentalCents / 1200.0) : 1.0);
            if (fn > kHighestPartialHz) {
                break;
            }
            // 1/n, rolled off above 3 kHz by the hammer's felt.
            double amplitude = stringGain / n / (1.0 + (fn / 3000.0) * (fn / 3000.0));
            if (n == 1) {
                amplitude *= 0.5 * std::pow(10.0, fundamentalDb / 20.0);
            }
            const double tau1 = promptTau(fn);
            const double tau2 = std::min(15.0 * tone.decayScale, 10.0 * tau1);
            const double phase0 = kTwoPi * unit(rng);
            // Stop once the partial is 100 dB down.
            const double stop = std::min(static_cast<double>(length),
                                         kStiffStringRate * tau2 * std::log(aftersound * 1e5));
            const auto last = static_cast<std::size_t>(std::max(stop, 0.0));
            const double w = kTwoPi * fn / kStiffStringRate;
            const double wAfter = w * std::exp2(tone.aftersoundCents / 1200.0);
            // Exact every 1024 samples, by recurrence in between.
            const std::complex<double> turn = std::polar(1.0, w);
            const std::complex<double> turnAfter = std::polar(1.0, wAfter);
            const double fall1 = std::exp(-1.0 / (tau1 * kStiffStringRate));
            const double fall2 = std::exp(-1.0 / (tau2 * kStiffStringRate));
            std::complex<double> phasor;
            std::complex<double> after;  // the aftersound's, when it rings at a pitch of its own
            double e1 = 0.0;
            double e2 = 0.0;
            for (std::size_t i = 0; i < last; ++i) {
                const double t = static_cast<double>(i) / kStiffStringRate;
                if (i % 1024 == 0 || t < 12.0 * glideTau) {
                    const double bend =
                        glide * glideTau * kStiffStringRate * (1.0 - std::exp(-t / glideTau));
                    phasor = std::polar(1.0, phase0 + w * (static_cast<double>(i) + bend));
                    if (split) {
                        after = std::polar(1.0, phase0 + wAfter * (static_cast<double>(i) + bend));
                    }
                    e1 = (1.0 - aftersound) * std::exp(-t / tau1);
                    e2 = aftersound * std::exp(-t / tau2);
                }
                if (split) {
                    x[strike + i] += amplitude * (e1 * phasor + e2 * after).imag();
                } else {
                    x[strike + i] += amplitude * (e1 + e2) * phasor.imag();
                }
                if (n == 1 && !z.empty()) {
                    z[strike + i] += amplitude * (e1 * phasor + e2 * (split ? after : phasor));
                }
                phasor *= turn;
                if (split) {
                    after *= turnAfter;
                }
                e1 *= fall1;
                e2 *= fall2;
            }
        }
    }
    out.truthHz = truthSum / weightSum;

    // The hammer's knock: 4 ms of noise, a third of the note's first peak.
    double first = 0.0;
    for (std::size_t i = strike; i < std::min(total, strike + 2048); ++i) {
        first = std::max(first, std::abs(x[i]));
    }
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.02 * kStiffStringRate); ++i) {
        const double t = static_cast<double>(i) / kStiffStringRate;
        x[strike + i] += first / 3.0 * std::exp(-t / 0.004) * gauss(rng);
    }

    double loudest = 0.0;
    for (const double v : x) {
        loudest = std::max(loudest, std::abs(v));
    }
    const double scale = loudest > 0.0 ? tone.blockPeak / loudest : 0.0;
    std::normal_distribution<double> noise(0.0, tone.noiseLsb);
    const double humPhase = kTwoPi * unit(rng);
    out.samples.resize(total);
    for (std::complex<double>& v : z) {
        v *= scale;
    }
    out.fundamental = std::move(z);
    for (std::size_t i = 0; i < total; ++i) {
        const double t = static_cast<double>(i) / kStiffStringRate;
        double v = x[i] * scale + (tone.noiseLsb > 0.0 ? noise(rng) : 0.0);
        if (tone.humLsb > 0.0) {
            const double a = kTwoPi * 50.0 * t + humPhase;
            v += tone.humLsb * (std::sin(a) + 0.4 * std::sin(2.0 * a) + 0.25 * std::sin(3.0 * a));
        }
        out.samples[i] = static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + v), 0L, 255L));
    }
    return out;
}

}  // namespace harmolune::testing
