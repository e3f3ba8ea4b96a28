// The tuning curve: targets where the style's partials meet, checked against
// the stiff-string formula f_n = n·f1·√((1 + B·n²)/(1 + B)) computed here,
// against the professional tuning of a real grand (NOTES.md), and against
// the curve of the whole keyboard when only a few keys are measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "testing/SyntheticPiano.h"
#include "tuning/Curve.h"

namespace harmolune::tuning {
namespace {

using testing::EightAsAndC1;
using testing::EveryKey;
using testing::KeyNoise;
using testing::MeasureSyntheticPiano;

const Style& Named(const std::string& name) {
    const Style* style = FindStyle(name);
    EXPECT_NE(style, nullptr) << name;
    return style != nullptr ? *style : Styles().front();
}

KeyNoise NoNoise() {
    KeyNoise none;
    none.stringScatter = 0.0;
    none.partialCents = 0.0;
    none.f1Cents = 0.0;
    return none;
}

double gConstantB = 0.0;
double TheConstantB(int) { return gConstantB; }

std::vector<MeasuredKey> Measured(const std::vector<int>& keys, double (*B)(int),
                                  const KeyNoise& noise = NoNoise(), unsigned seed = 1) {
    return MeasureSyntheticPiano(keys, B, noise, seed);
}

// Partial n of the key's target, in cents above A4's equal-tempered
// fundamental, for the B the curve took there.
double PartialCents(const KeyTarget& key, int n) {
    const double B = key.inharmonicity;
    const double hz = n * key.targetHz * std::sqrt((1.0 + B * n * n) / (1.0 + B));
    return 1200.0 * std::log2(hz / 440.0);
}

// RMS over lower keys [from, to] of how far partial m of key + interval lies
// from partial n of key, in cents.
double Mismatch(const Curve& curve, int interval, int n, int m, int from, int to) {
    double sum = 0.0;
    int count = 0;
    for (int k = from; k <= to; ++k) {
        const double d = PartialCents(curve.Key(k + interval), m) - PartialCents(curve.Key(k), n);
        sum += d * d;
        ++count;
    }
    return std::sqrt(sum / count);
}

struct OctaveCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    const char* style;
    int lower, upper;  // the partials that meet
    double B;
};

class ConstantInharmonicity : public ::testing::TestWithParam<OctaveCase> {};

// With the same B on every string, every octave can be made to beat
// nowhere: each is stretched by 600·log2((1 + n²B)/(1 + m²B)) cents, and
// the targets climb by that much per octave from A4.
TEST_P(ConstantInharmonicity, StretchesEveryOctaveBySoMuch) {
    const OctaveCase& c = GetParam();
    gConstantB = c.B;
    const Curve curve = ComputeCurve(Measured({21, 40, 57, 69, 89}, &TheConstantB), Named(c.style));
    ASSERT_TRUE(curve.fitted);
    const double n2 = double(c.lower) * c.lower;
    const double m2 = double(c.upper) * c.upper;
    const double perOctave = 600.0 * std::log2((1.0 + n2 * c.B) / (1.0 + m2 * c.B));
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        EXPECT_NEAR(curve.Key(k).targetCents, perOctave * (k - 69) / 12.0, 1e-6) << k;
        EXPECT_NEAR(curve.Key(k).targetHz,
                    440.0 * std::exp2((k - 69) / 12.0 + perOctave * (k - 69) / 12.0 / 1200.0),
                    1e-9 * curve.Key(k).targetHz);
        EXPECT_NEAR(curve.Key(k).inharmonicity, c.B, 1e-12 * c.B);
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, ConstantInharmonicity,
                         ::testing::Values(OctaveCase{"FourTwoNearlyIdeal", "Octaves 4:2", 4, 2,
                                                      1e-5},
                                           OctaveCase{"FourTwoGrand", "Octaves 4:2", 4, 2, 5e-4},
                                           OctaveCase{"FourTwoSpinet", "Octaves 4:2", 4, 2, 3e-3},
                                           OctaveCase{"SixThreeGrand", "Octaves 6:3", 6, 3, 5e-4},
                                           OctaveCase{"SixThreeSpinet", "Octaves 6:3", 6, 3, 3e-3}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each style makes its own partials meet better than the others do.
TEST(Styles, EachMakesItsOwnPartialsMeetBest) {
    const std::vector<MeasuredKey> grand =
        Measured(EveryKey(), &testing::MeasuredGrandInharmonicity);
    struct Family {
        const char* style;
        int interval, n, m, from, to;
    };
    const std::vector<Family> families = {
        {"Octaves 4:2", 12, 4, 2, 36, 84},
        {"Octaves 6:3", 12, 6, 3, 36, 84},
        {"Douzièmes pures", 19, 3, 1, 40, 84},
    };
    for (const Family& f : families) {
        const double own =
            Mismatch(ComputeCurve(grand, Named(f.style)), f.interval, f.n, f.m, f.from, f.to);
        EXPECT_LT(own, 0.5) << f.style;
        for (const Style& other : Styles()) {
            if (other.name == f.style) {
                continue;
            }
            EXPECT_GT(Mismatch(ComputeCurve(grand, other), f.interval, f.n, f.m, f.from, f.to),
                      own + 0.2)
                << f.style << " against " << other.name;
        }
    }
    // "Standard": 4:2 octaves from A3 up, 6:3 in the bass, and in the low
    // bass octaves wider than 6:3, towards 8:4 and 10:5.
    const Curve standard = ComputeCurve(grand, Named("Standard"));
    EXPECT_LT(Mismatch(standard, 12, 4, 2, 62, 90), 0.5);
    EXPECT_LT(Mismatch(standard, 12, 6, 3, 42, 50), 1.0);
    for (int k = 21; k <= 31; ++k) {
        const KeyTarget& lower = standard.Key(k);
        const KeyTarget& upper = standard.Key(k + 12);
        EXPECT_GT(PartialCents(upper, 3), PartialCents(lower, 6)) << k;
        EXPECT_LT(PartialCents(upper, 5), PartialCents(lower, 10)) << k;
    }
}

TEST(Styles, StandardComesFirstThenPureTwelfths) {
    ASSERT_GE(Styles().size(), 2U);
    EXPECT_EQ(Styles()[0].name, "Standard");
    EXPECT_EQ(Styles()[1].name, "Douzièmes pures");
    EXPECT_EQ(FindStyle("standard"), nullptr);
}

double StepInharmonicity(int k) { return k <= 40 ? 5e-5 : 1e-3; }

// No key's target lies below the key under it, whatever the piano and the
// style: even where a steep rise of B at the end of the wound strings makes
// the octaves across it want to shrink.
TEST(Curve, NoStepRunsBackwards) {
    std::vector<testing::SyntheticPiano> pianos = testing::SyntheticPianos();
    pianos.push_back({"steep step at F2", &StepInharmonicity});
    for (const auto& piano : pianos) {
        for (const Style& style : Styles()) {
            for (const auto& keys : {EveryKey(), EightAsAndC1()}) {
                const Curve curve = ComputeCurve(Measured(keys, piano.inharmonicity), style);
                for (int k = kLowestKey; k < kHighestKey; ++k) {
                    ASSERT_GE(curve.Key(k + 1).targetCents, curve.Key(k).targetCents)
                        << piano.name << ", " << style.name << ", key " << k;
                }
            }
        }
    }
}

// The grand of NOTES.md, every key measured: the "Standard" curve lies
// within 5 cents RMS of the tuning a professional gave it, both counted
// from A4.
TEST(Curve, StandardIsCloseToAProfessionalTuningOfTheGrand) {
    const Curve curve =
        ComputeCurve(Measured(EveryKey(), &testing::MeasuredGrandInharmonicity), Styles()[0]);
    double sum = 0.0;
    for (const auto& key : testing::MeasuredGrandTuning()) {
        const double d = curve.Key(key.midiNote).targetCents - key.cents;
        sum += d * d;
    }
    EXPECT_LT(std::sqrt(sum / testing::MeasuredGrandTuning().size()), 5.0);
    // And stretched the right way at both ends.
    EXPECT_LT(curve.Key(21).targetCents, -15.0);
    EXPECT_GT(curve.Key(105).targetCents, 25.0);
}

struct FewKeysCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    double (*inharmonicity)(int);
};

class FewKeys : public ::testing::TestWithParam<FewKeysCase> {};

// The eight A's and C1 give the curve of the whole keyboard, within 0.5 c
// RMS and 1.5 c at worst from A1 to C7, 3 c at worst over all 88 keys.
TEST_P(FewKeys, TheEightAsAndC1AgreeWithTheWholeKeyboard) {
    const FewKeysCase& c = GetParam();
    const auto B = c.inharmonicity;
    const Curve few = ComputeCurve(Measured(EightAsAndC1(), B), Styles()[0]);
    const Curve all = ComputeCurve(Measured(EveryKey(), B), Styles()[0]);
    ASSERT_TRUE(few.fitted);
    double sum = 0.0;
    double worstMiddle = 0.0;
    double worst = 0.0;
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        const double d = std::abs(few.Key(k).targetCents - all.Key(k).targetCents);
        worst = std::max(worst, d);
        if (k >= 33 && k <= 96) {
            sum += d * d;
            worstMiddle = std::max(worstMiddle, d);
        }
    }
    EXPECT_LT(std::sqrt(sum / 64), 0.5);
    EXPECT_LT(worstMiddle, 1.5);
    EXPECT_LT(worst, 3.0);
}

INSTANTIATE_TEST_SUITE_P(
    Pianos, FewKeys,
    ::testing::Values(FewKeysCase{"TypicalGrand", &testing::TypicalInharmonicity},
                      FewKeysCase{"MeasuredGrand", &testing::MeasuredGrandInharmonicity}),
    [](const auto& info) { return std::string(info.param.name); });

// The same keys, in any order, give the same curve to the last bit; the
// keys' present pitch plays no part in where they should be.
TEST(Curve, DependsOnTheKeysBOnlyAndOnNothingElse) {
    KeyNoise noise;
    std::vector<MeasuredKey> keys =
        Measured(EightAsAndC1(), &testing::TypicalInharmonicity, noise, 9);
    const Curve first = ComputeCurve(keys, Styles()[0]);
    std::mt19937 rng(2);
    std::shuffle(keys.begin(), keys.end(), rng);
    for (MeasuredKey& key : keys) {
        key.f1Hz *= 1.01;
    }
    const Curve again = ComputeCurve(keys, Styles()[0]);
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        EXPECT_EQ(first.Key(k).targetCents, again.Key(k).targetCents) << k;
        EXPECT_EQ(first.Key(k).uncertaintyCents, again.Key(k).uncertaintyCents) << k;
    }
}

TEST(Curve, KeysOutsideThePianoAreLeftOutAndTheLastReadingOfAKeyCounts) {
    std::vector<MeasuredKey> keys = Measured(EightAsAndC1(), &testing::TypicalInharmonicity);
    const Curve plain = ComputeCurve(keys, Styles()[0]);
    MeasuredKey outside = keys.front();
    outside.midiNote = 20;
    outside.inharmonicity = 0.05;
    keys.push_back(outside);
    outside.midiNote = 109;
    keys.push_back(outside);
    MeasuredKey again = keys[5];  // A4
    again.f1Hz = 441.0;
    keys.push_back(again);
    const Curve curve = ComputeCurve(keys, Styles()[0]);
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        EXPECT_EQ(curve.Key(k).targetCents, plain.Key(k).targetCents) << k;
    }
    ASSERT_TRUE(curve.Key(69).measuredHz);
    EXPECT_EQ(*curve.Key(69).measuredHz, 441.0);
    EXPECT_FALSE(curve.Key(70).measuredHz);
    EXPECT_NEAR(DeviationCents(curve.Key(69), 441.0), 1200.0 * std::log2(441.0 / 440.0), 1e-9);
}

// With nothing known the targets are equal temperament, with a ± as wide
// as a grand's stretch would be there; with one B, 4:2 octaves of that B.
TEST(Curve, TooFewKeysFallBack) {
    const Curve none = ComputeCurve({}, Styles()[0]);
    EXPECT_FALSE(none.fitted);
    EXPECT_FALSE(none.fit.valid);
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        EXPECT_EQ(none.Key(k).targetCents, 0.0);
        EXPECT_DOUBLE_EQ(none.Key(k).targetHz, 440.0 * std::exp2((k - 69) / 12.0));
        EXPECT_EQ(none.Key(k).inharmonicity, 0.0);
    }
    EXPECT_EQ(none.Key(69).uncertaintyCents, 0.0);
    EXPECT_GT(none.Key(21).uncertaintyCents, 5.0);
    EXPECT_GT(none.Key(108).uncertaintyCents, 20.0);
    EXPECT_FALSE(none.advice.empty());

    gConstantB = 4e-4;
    const Curve one = ComputeCurve(Measured({57}, &TheConstantB), Styles()[0]);
    EXPECT_FALSE(one.fitted);
    const double perOctave = 600.0 * std::log2((1.0 + 16.0 * 4e-4) / (1.0 + 4.0 * 4e-4));
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        EXPECT_NEAR(one.Key(k).targetCents, perOctave * (k - 69) / 12.0, 1e-6) << k;
    }
    EXPECT_GT(one.Key(108).uncertaintyCents, one.Key(81).uncertaintyCents);
}

struct EnoughCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    std::vector<int> keys;
    bool fitted;
};

class Enough : public ::testing::TestWithParam<EnoughCase> {};

// Four keys with B over at least three octaves; keys above F6 have no B.
TEST_P(Enough, FourKeysWithBOverThreeOctaves) {
    const EnoughCase& c = GetParam();
    const Curve curve = ComputeCurve(Measured(c.keys, &testing::TypicalInharmonicity), Styles()[0]);
    EXPECT_EQ(curve.fitted, c.fitted);
}

INSTANTIATE_TEST_SUITE_P(Keys, Enough,
                         ::testing::Values(EnoughCase{"FourOverThirtySix", {45, 57, 69, 81}, true},
                                           EnoughCase{
                                               "FourOverThirtyFive", {45, 57, 69, 80}, false},
                                           EnoughCase{"ThreeOverSixty", {21, 57, 81}, false},
                                           EnoughCase{"FourButOneAboveF6", {45, 57, 69, 93}, false},
                                           EnoughCase{"EightAsAndC1", EightAsAndC1(), true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The ± says how far the targets move when the keys are measured again:
// 0 at A4, about the spread of the targets inside the keys measured, and
// no less than it where B is extrapolated.
TEST(Curve, TheUncertaintyIsTheSpreadOfTheTargets) {
    KeyNoise noise;
    noise.stringScatter = kStringScatterLnB;
    constexpr int kSeeds = 300;
    std::vector<std::vector<double>> targets(kKeyCount);
    std::vector<double> stated(kKeyCount, 0.0);
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        const Curve curve = ComputeCurve(
            Measured(EightAsAndC1(), &testing::TypicalInharmonicity, noise, seed), Styles()[0]);
        EXPECT_EQ(curve.Key(69).uncertaintyCents, 0.0);
        for (int i = 0; i < kKeyCount; ++i) {
            targets[i].push_back(curve.keys[i].targetCents);
            stated[i] += curve.keys[i].uncertaintyCents / kSeeds;
        }
    }
    const auto spread = [&](int k) {
        const std::vector<double>& v = targets[k - kLowestKey];
        double mean = 0.0;
        for (const double x : v) {
            mean += x / v.size();
        }
        double var = 0.0;
        for (const double x : v) {
            var += (x - mean) * (x - mean) / (v.size() - 1);
        }
        return std::sqrt(var);
    };
    for (const int k : {57, 62, 74, 81}) {
        EXPECT_GT(stated[k - kLowestKey], 0.7 * spread(k)) << k;
        EXPECT_LT(stated[k - kLowestKey], 1.6 * spread(k)) << k;
    }
    for (const int k : {21, 100, 108}) {
        EXPECT_GT(stated[k - kLowestKey], 0.9 * spread(k)) << k;
    }
    EXPECT_GT(stated[108 - kLowestKey], stated[81 - kLowestKey]);
}

}  // namespace
}  // namespace harmolune::tuning
