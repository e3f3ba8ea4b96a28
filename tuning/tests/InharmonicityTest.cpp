// B of one key from its partials, and the two-line fit of ln B across the
// keyboard. Expected values come from the stiff-string formula
// f_n = n·f0·√(1 + B·n²) and from lines chosen by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tuning/Inharmonicity.h"

namespace harmolune::tuning {
namespace {

// A key whose partials 2 to last lie on a stiff string of this B, each
// strayed by `cents` (a table, cycled) when given.
MeasuredKey StiffKey(int midiNote, double B, int last = 10, double uncertaintyCents = 0.0,
                     const std::vector<double>& cents = {}) {
    MeasuredKey key;
    key.midiNote = midiNote;
    key.f1Hz = 440.0 * std::exp2((midiNote - 69) / 12.0);
    key.inharmonicity = B;
    key.uncertaintyCents = uncertaintyCents;
    const double f0 = key.f1Hz / std::sqrt(1.0 + B);
    for (int n = 2; n <= last; ++n) {
        const double stray = cents.empty() ? 0.0 : cents[(n - 2) % cents.size()];
        key.partials.push_back(
            {n, n * f0 * std::sqrt(1.0 + B * n * n) * std::exp2(stray / 1200.0)});
    }
    return key;
}

struct ExactCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    int midiNote;
    double B;
};

class ExactPartials : public ::testing::TestWithParam<ExactCase> {};

// Partials exactly on the string: ln B is the key's own, and its σ the
// floor, since nothing scatters and the reading claims no uncertainty.
TEST_P(ExactPartials, GiveTheKeysBAndTheFloorOfItsUncertainty) {
    const ExactCase& c = GetParam();
    const std::optional<KeyInharmonicity> b = KeyB(StiffKey(c.midiNote, c.B));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->midiNote, c.midiNote);
    EXPECT_NEAR(b->lnB, std::log(c.B), 1e-12);
    EXPECT_NEAR(b->sigmaLnB, kMinSigmaLnB, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Keys, ExactPartials,
                         ::testing::Values(ExactCase{"A0", 21, 3e-4}, ExactCase{"C2", 36, 7e-5},
                                           ExactCase{"A4", 69, 6e-4}, ExactCase{"F6", 89, 4e-3}),
                         [](const auto& info) { return std::string(info.param.name); });

struct NoBCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    std::optional<double> B;
};

class NoB : public ::testing::TestWithParam<NoBCase> {};

TEST_P(NoB, GivesNothing) {
    MeasuredKey key = StiffKey(60, 3e-4);
    key.inharmonicity = GetParam().B;
    EXPECT_FALSE(KeyB(key));
}

INSTANTIATE_TEST_SUITE_P(Keys, NoB,
                         ::testing::Values(NoBCase{"None", std::nullopt}, NoBCase{"Zero", 0.0},
                                           NoBCase{"Negative", -1e-4},
                                           NoBCase{"NotANumber", std::nan("")},
                                           NoBCase{"Infinite", INFINITY}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyB, FewerThanThreePartialsLeaveBUnchecked) {
    MeasuredKey key = StiffKey(60, 3e-4, 3);
    ASSERT_EQ(key.partials.size(), 2U);
    const std::optional<KeyInharmonicity> b = KeyB(key);
    ASSERT_TRUE(b);
    EXPECT_DOUBLE_EQ(b->sigmaLnB, kUncheckedSigmaLnB);
}

// The σ the key reports is the σ its B really has: over many keys whose
// partials stray at random by 2 cents, the spread of the fitted ln B matches
// the mean σ reported (the partials' own scatter), and likewise when the
// partials lie exactly on the string but the reading says each is known to
// 2 cents only.
TEST(KeyB, ReportsTheSpreadItsPartialsGiveIt) {
    constexpr double B = 2e-4;
    constexpr int kKeys = 4000;
    std::mt19937 rng(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> lnB;
    double sigmaSum = 0.0;
    for (int i = 0; i < kKeys; ++i) {
        std::vector<double> cents;
        for (int n = 2; n <= 12; ++n) {
            cents.push_back(2.0 * gauss(rng));
        }
        MeasuredKey key = StiffKey(45, B, 12, 0.0, cents);
        // What the fine measurement would have fitted to these partials:
        // the same least squares, weighted by n².
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const PartialHz& p : key.partials) {
            const double x = double(p.number) * p.number;
            const double y = std::pow(p.frequencyHz / p.number, 2);
            sw += x, sx += x * x, sy += x * y, sxx += x * x * x, sxy += x * x * y;
        }
        const double slope = (sw * sxy - sx * sy) / (sw * sxx - sx * sx);
        key.inharmonicity = slope / ((sy - slope * sx) / sw);
        const auto b = KeyB(key);
        ASSERT_TRUE(b);
        lnB.push_back(b->lnB);
        sigmaSum += b->sigmaLnB;
    }
    double mean = 0.0;
    for (const double v : lnB) {
        mean += v / kKeys;
    }
    double variance = 0.0;
    for (const double v : lnB) {
        variance += (v - mean) * (v - mean) / (kKeys - 1);
    }
    const double spread = std::sqrt(variance);
    EXPECT_GT(spread, 3.0 * kMinSigmaLnB) << "the test must measure more than the floor";
    EXPECT_NEAR(sigmaSum / kKeys, spread, 0.15 * spread);

    // The reading's own uncertainty: 2 cents on each partial, none seen.
    const auto stated = KeyB(StiffKey(45, B, 12, 2.0));
    ASSERT_TRUE(stated);
    EXPECT_NEAR(stated->sigmaLnB, spread, 0.15 * spread);
}

// ln B on two lines chosen by hand, keys every few semitones.
struct TwoLines {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    double bassAt21, bassSlope;      // ln B at A0, and per key
    double trebleAt69, trebleSlope;  // ln B at A4, and per key
    int breakKey;                    // the first key on the treble line
    int lowestBreak, highestBreak;   // where the fit may put it
};

class TwoLineFit : public ::testing::TestWithParam<TwoLines> {};

std::vector<KeyInharmonicity> OnLines(const TwoLines& c, int step) {
    std::vector<KeyInharmonicity> keys;
    for (int k = 21; k <= 89; k += step) {
        const double lnB = k < c.breakKey ? c.bassAt21 + c.bassSlope * (k - 21)
                                          : c.trebleAt69 + c.trebleSlope * (k - 69);
        keys.push_back({k, lnB, 0.05});
    }
    return keys;
}

TEST_P(TwoLineFit, FindsBothLinesAndTheBreakBetweenTheKeysEitherSide) {
    const TwoLines& c = GetParam();
    const BFit fit = FitInharmonicity(OnLines(c, 3));
    ASSERT_TRUE(fit.valid);
    EXPECT_GE(fit.breakKey, c.lowestBreak);
    EXPECT_LE(fit.breakKey, c.highestBreak);
    EXPECT_NEAR(fit.bass.slope, c.bassSlope, 1e-9);
    EXPECT_NEAR(fit.bass.LnB(21), c.bassAt21, 1e-9);
    EXPECT_NEAR(fit.treble.slope, c.trebleSlope, 1e-9);
    EXPECT_NEAR(fit.treble.LnB(69), c.trebleAt69, 1e-9);
    EXPECT_EQ(fit.lowestKey, 21);
    EXPECT_EQ(fit.highestKey, 87);
    EXPECT_LT(fit.lastBassKey, fit.breakKey);
    EXPECT_GE(fit.firstTrebleKey, fit.breakKey);
    EXPECT_LE(fit.lastBassKey, c.breakKey);
    EXPECT_GE(fit.firstTrebleKey, c.breakKey);
}

// Keys 21, 24, ..., 87. A V whose lines cross at 48 puts the break at the
// crossing (48 lies on both lines); a jump at 42 between keys 39 and 42
// puts it halfway, at 41.
INSTANTIATE_TEST_SUITE_P(
    Pianos, TwoLineFit,
    ::testing::Values(
        TwoLines{"VCrossingAtC3", std::log(3e-4), std::log(1e-4 / 3e-4) / 27.0,
                 std::log(1e-4) + std::log(6.4) * 21.0 / 21.0, std::log(6.4) / 21.0, 48, 48, 49},
        TwoLines{"JumpUpAtFSharp2", std::log(1.3e-3), -0.069, std::log(3.3e-3), 0.0698, 42, 40, 42},
        TwoLines{"BreakLowAtC2", std::log(3e-4), -0.108, std::log(6e-4), 0.065, 36, 34, 36}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FitInharmonicity, OneLineIsKeptWhenTheKeysLieOnOne) {
    std::vector<KeyInharmonicity> keys;
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(0.0, 0.05);
    for (int k = 24; k <= 89; k += 5) {
        keys.push_back({k, std::log(1e-4) + 0.04 * (k - 24) + gauss(rng), 0.05});
    }
    const BFit fit = FitInharmonicity(keys);
    EXPECT_EQ(fit.breakKey, 0);
    EXPECT_NEAR(fit.bass.slope, 0.04, 0.005);
    EXPECT_EQ(fit.bass.slope, fit.treble.slope);
}

TEST(FitInharmonicity, TheOrderOfTheKeysDoesNotMatter) {
    TwoLines c{"", std::log(3e-4), -0.1, std::log(6e-4), 0.065, 37, 0, 0};
    std::vector<KeyInharmonicity> keys = OnLines(c, 4);
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, 0.1);
    for (KeyInharmonicity& k : keys) {
        k.lnB += gauss(rng);
    }
    const BFit sorted = FitInharmonicity(keys);
    std::reverse(keys.begin(), keys.end());
    std::shuffle(keys.begin(), keys.end(), rng);
    const BFit shuffled = FitInharmonicity(keys);
    EXPECT_EQ(sorted.breakKey, shuffled.breakKey);
    EXPECT_EQ(sorted.bass.slope, shuffled.bass.slope);
    EXPECT_EQ(sorted.treble.intercept, shuffled.treble.intercept);
}

// The wound strings never reach past E4: a bend in the treble is not taken
// for the break.
TEST(FitInharmonicity, NoBreakAboveTheHighestBassKey) {
    std::vector<KeyInharmonicity> keys;
    for (int k = 50; k <= 89; k += 3) {
        keys.push_back({k, k < 70 ? -9.0 + 0.02 * (k - 50) : -8.6 + 0.09 * (k - 70), 0.05});
    }
    const BFit fit = FitInharmonicity(keys);
    EXPECT_LE(fit.breakKey, kHighestBassKey + 3);
}

// The line's covariance is the spread its slope really has: keys with ln B
// strayed by the scatter the fit assumes, fitted many times over.
TEST(FitInharmonicity, TheSlopesVarianceIsItsSpread) {
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss(0.0, kStringScatterLnB);
    constexpr int kFits = 3000;
    std::vector<double> slopes;
    double variance = 0.0;
    for (int i = 0; i < kFits; ++i) {
        std::vector<KeyInharmonicity> keys;
        for (const int k : {45, 51, 57, 63, 69, 75, 81}) {
            keys.push_back({k, -8.0 + 0.07 * (k - 69) + gauss(rng), 0.0});
        }
        const BFit fit = FitInharmonicity(keys);
        if (fit.breakKey != 0) {
            continue;  // a chance bend, rarely taken for a break
        }
        slopes.push_back(fit.bass.slope);
        variance += fit.bass.covariance[2];
    }
    EXPECT_GT(slopes.size(), kFits * 97 / 100);
    variance /= slopes.size();
    double spread = 0.0;
    for (const double s : slopes) {
        spread += (s - 0.07) * (s - 0.07) / slopes.size();
    }
    // Scaled up by χ² only: a little above the true spread, never below.
    EXPECT_GT(variance, 0.95 * spread);
    EXPECT_LT(variance, 1.6 * spread);
}

TEST(FitInharmonicity, OneKeyGivesAFlatLineAndNoneAnInvalidFit) {
    EXPECT_FALSE(FitInharmonicity({}).valid);
    const BFit one = FitInharmonicity({{57, std::log(2e-4), 0.05}});
    ASSERT_TRUE(one.valid);
    EXPECT_EQ(one.breakKey, 0);
    EXPECT_DOUBLE_EQ(one.bass.slope, 0.0);
    EXPECT_NEAR(one.LnB(21), std::log(2e-4), 1e-12);
    EXPECT_NEAR(one.LnB(108), std::log(2e-4), 1e-12);
}

// One falling line through plain strings only: below the lowest key it is
// held, not carried down into the wound strings.
TEST(FitInharmonicity, APlainStringsLineIsHeldBelowTheLowestKey) {
    std::vector<KeyInharmonicity> keys;
    for (const int k : {45, 57, 69, 81}) {
        keys.push_back({k, -8.0 + 0.07 * (k - 69), 0.05});
    }
    const BFit fit = FitInharmonicity(keys);
    EXPECT_NEAR(fit.LnB(21), fit.LnB(45), 1e-12);
    EXPECT_NEAR(fit.LnB(45), -8.0 - 0.07 * 24, 1e-9);
    EXPECT_NEAR(fit.LnB(108), -8.0 + 0.07 * 39, 1e-9);
}

}  // namespace
}  // namespace harmolune::tuning
