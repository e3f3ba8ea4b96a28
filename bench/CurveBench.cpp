// The tuning curve on stiff-string pianos of known B: how well a few
// measured keys agree with the whole keyboard measured, and how long the
// solve takes.
//
// For each piano, each seed "measures" its keys with noise on f1, on each
// partial and string to string on B (testing/SyntheticPiano.h), then the
// "Standard" curve is computed from all 88 keys, from the eight A's and C1,
// and from four keys over three octaves (A2 to A5). Printed: the agreement of
// each with the curve of all 88 keys (RMS and worst over A1–C7 and over
// A0–C8, the median over the seeds and the worst seed), the all-key curve's
// distance from the curve of the noise-free B, and on the measured grand its
// distance from the professional tuning (RMS over the tuned keys, from A4).
// Then the time of one ComputeCurve from 88 keys, the median of many.
//
//   harmolune-curve-bench [SEEDS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/SyntheticPiano.h"
#include "tuning/Curve.h"

namespace {

using harmolune::tuning::ComputeCurve;
using harmolune::tuning::Curve;
using harmolune::tuning::MeasuredKey;
using harmolune::tuning::Style;

struct Agreement {
    double rmsMiddle = 0.0;  // A1–C7
    double worstMiddle = 0.0;
    double worstWhole = 0.0;  // A0–C8
};

Agreement Compare(const Curve& a, const Curve& b) {
    Agreement out;
    double sum = 0.0;
    int count = 0;
    for (int k = 21; k <= 108; ++k) {
        const double d = std::abs(a.Key(k).targetCents - b.Key(k).targetCents);
        out.worstWhole = std::max(out.worstWhole, d);
        if (k >= 33 && k <= 96) {
            sum += d * d;
            ++count;
            out.worstMiddle = std::max(out.worstMiddle, d);
        }
    }
    out.rmsMiddle = std::sqrt(sum / count);
    return out;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

struct Figures {
    std::vector<double> rms, worstMiddle, worstWhole;

    void Add(const Agreement& a) {
        rms.push_back(a.rmsMiddle);
        worstMiddle.push_back(a.worstMiddle);
        worstWhole.push_back(a.worstWhole);
    }
    void Print(const char* what) const {
        std::printf(
            "  %-26s RMS A1-C7 %5.2f c (worst seed %5.2f)   worst A1-C7 %5.2f c (%5.2f)"
            "   worst A0-C8 %5.2f c (%5.2f)\n",
            what, Median(rms), Max(rms), Median(worstMiddle), Max(worstMiddle), Median(worstWhole),
            Max(worstWhole));
    }
};

// RMS of the curve against the tuned keys, both counted from A4.
double AgainstTuning(const Curve& curve) {
    const auto& tuned = harmolune::testing::MeasuredGrandTuning();
    double sum = 0.0;
    for (const auto& key : tuned) {
        const double d = curve.Key(key.midiNote).targetCents - key.cents;
        sum += d * d;
    }
    return std::sqrt(sum / tuned.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const Style& standard = harmolune::tuning::Styles().front();
    const harmolune::testing::KeyNoise noise;
    std::printf(
        "Style \"%s\", %d seeds; noise: B %.0f %% string to string, partials %.1f c, "
        "f1 %.1f c; no B above F6\n",
        standard.name.c_str(), seeds, 100.0 * noise.stringScatter, noise.partialCents,
        noise.f1Cents);
    for (const auto& piano : harmolune::testing::SyntheticPianos()) {
        Figures eight;
        Figures four;
        Figures truth;
        std::vector<double> tuning;
        // The curve of the B curve itself, every key, no noise.
        harmolune::testing::KeyNoise none;
        none.stringScatter = 0.0;
        none.partialCents = 0.0;
        none.f1Cents = 0.0;
        const Curve exact =
            ComputeCurve(harmolune::testing::MeasureSyntheticPiano(harmolune::testing::EveryKey(),
                                                                   piano.inharmonicity, none, 1),
                         standard);
        for (int seed = 1; seed <= seeds; ++seed) {
            const std::vector<MeasuredKey> all = harmolune::testing::MeasureSyntheticPiano(
                harmolune::testing::EveryKey(), piano.inharmonicity, noise, seed);
            // The few keys are the same readings as in the whole keyboard.
            std::vector<MeasuredKey> as;
            std::vector<MeasuredKey> fewest;
            for (const MeasuredKey& key : all) {
                const std::vector<int> a = harmolune::testing::EightAsAndC1();
                const std::vector<int> f = harmolune::testing::FourKeysOverThreeOctaves();
                if (std::find(a.begin(), a.end(), key.midiNote) != a.end()) {
                    as.push_back(key);
                }
                if (std::find(f.begin(), f.end(), key.midiNote) != f.end()) {
                    fewest.push_back(key);
                }
            }
            const Curve whole = ComputeCurve(all, standard);
            eight.Add(Compare(ComputeCurve(as, standard), whole));
            four.Add(Compare(ComputeCurve(fewest, standard), whole));
            truth.Add(Compare(whole, exact));
            tuning.push_back(AgainstTuning(whole));
        }
        std::printf("%s: B from %.1e (A0) to %.1e (A4) and %.1e (C8); noise-free break at %d\n",
                    piano.name.c_str(), piano.inharmonicity(21), piano.inharmonicity(69),
                    piano.inharmonicity(108), exact.fit.breakKey);
        eight.Print("eight A's + C1 vs all 88");
        four.Print("A2 A3 A4 A5 vs all 88");
        truth.Print("all 88 vs noise-free B");
        if (piano.inharmonicity == &harmolune::testing::MeasuredGrandInharmonicity) {
            std::printf(
                "  all 88 vs the professional tuning: RMS %.2f c (median; worst seed "
                "%.2f), noise-free %.2f c\n",
                Median(tuning), Max(tuning), AgainstTuning(exact));
        }
    }

    const std::vector<MeasuredKey> all = harmolune::testing::MeasureSyntheticPiano(
        harmolune::testing::EveryKey(), &harmolune::testing::TypicalInharmonicity, noise, 1);
    std::vector<double> ms;
    double sink = 0.0;
    for (int i = 0; i < 2000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const Curve curve = ComputeCurve(all, standard);
        const auto stop = std::chrono::steady_clock::now();
        sink += curve.Key(108).targetCents;
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::printf(
        "ComputeCurve, 88 keys: median %.3f ms, slowest %.3f ms over %zu runs "
        "(C8 at %+.2f c)\n",
        Median(ms), Max(ms), ms.size(), sink / ms.size());
    return 0;
}
